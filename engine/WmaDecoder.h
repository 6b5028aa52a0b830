// WmaDecoder: Windows Media Audio (WMA 1/2, Pro, Lossless, Voice) in ASF
// files, decoded with FFmpeg and converted to interleaved signed 16-bit at
// the source's own rate and channel count. The length comes from the ASF
// header's play duration; seeks are exact (coarse seek, then decoded frames
// are skipped up to the wanted one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace engine {

class WmaDecoder {
public:
    // Throws OpenError when the file is missing or not WMA, std::bad_alloc.
    explicit WmaDecoder(const std::string& path);
    ~WmaDecoder();
    WmaDecoder(const WmaDecoder&) = delete;
    WmaDecoder& operator=(const WmaDecoder&) = delete;

    int SampleRate() const { return rate_; }
    int Channels() const { return channels_; }
    int64_t LengthFrames() const { return lengthFrames_; }
    int64_t Read(int16_t* out, int64_t frames);
    bool Seek(int64_t frame);

    // Why the constructor failed: true when the file could not be opened at
    // all, false when it is not a WMA file.
    struct OpenError {
        bool fileMissing;
    };

private:
    // Decodes the next frame into pending_; false at the end.
    bool DecodeMore();

    struct Deleters {
        void operator()(AVFormatContext* context) const;
        void operator()(AVCodecContext* context) const;
        void operator()(AVPacket* packet) const;
        void operator()(AVFrame* frame) const;
        void operator()(SwrContext* context) const;
    };
    std::unique_ptr<AVFormatContext, Deleters> format_;
    std::unique_ptr<AVCodecContext, Deleters> codec_;
    std::unique_ptr<AVPacket, Deleters> packet_;
    std::unique_ptr<AVFrame, Deleters> frame_;
    std::unique_ptr<SwrContext, Deleters> resampler_;
    int streamIndex_ = -1;
    int rate_ = 0;
    int channels_ = 0;
    int64_t lengthFrames_ = -1;
    std::vector<int16_t> pending_;  // converted frames not yet read
    size_t pendingOffset_ = 0;      // in samples
    int64_t skipFrames_ = 0;        // frames to drop after a seek
    int64_t nextFrame_ = 0;         // source frame number of the next pending frame
    bool flushing_ = false;
    bool finished_ = false;
};

} // namespace engine
