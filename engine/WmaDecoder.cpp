#include "WmaDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace engine {

namespace {

constexpr int64_t kLowestBitsPerSecond = 4000;

bool IsWindowsMediaAudio(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_WMAPRO:
    case AV_CODEC_ID_WMALOSSLESS:
    case AV_CODEC_ID_WMAVOICE:
        return true;
    default:
        return false;
    }
}

} // namespace

void WmaDecoder::Deleters::operator()(AVFormatContext* context) const { avformat_close_input(&context); }
void WmaDecoder::Deleters::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void WmaDecoder::Deleters::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void WmaDecoder::Deleters::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void WmaDecoder::Deleters::operator()(SwrContext* context) const { swr_free(&context); }

WmaDecoder::WmaDecoder(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw OpenError{true};
    av_log_set_level(AV_LOG_QUIET);
    const AVInputFormat* asf = av_find_input_format("asf");
    AVFormatContext* format = nullptr;
    if (!asf || avformat_open_input(&format, path.c_str(), asf, nullptr) < 0)
        throw OpenError{false};
    format_.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0)
        throw OpenError{false};
    const AVCodec* codec = nullptr;
    streamIndex_ = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex_ < 0 || !codec)
        throw OpenError{false};
    AVStream* stream = format->streams[streamIndex_];
    if (!IsWindowsMediaAudio(stream->codecpar->codec_id))
        throw OpenError{false};
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0 ||
        avcodec_open2(codec_.get(), codec, nullptr) < 0)
        throw OpenError{false};
    rate_ = codec_->sample_rate;
    channels_ = codec_->ch_layout.nb_channels;
    if (rate_ <= 0 || channels_ <= 0)
        throw OpenError{false};

    SwrContext* resampler = nullptr;
    if (swr_alloc_set_opts2(&resampler, &codec_->ch_layout, AV_SAMPLE_FMT_S16, rate_, &codec_->ch_layout,
                            codec_->sample_fmt, rate_, 0, nullptr) < 0)
        throw OpenError{false};
    resampler_.reset(resampler);
    if (swr_init(resampler) < 0)
        throw OpenError{false};
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!packet_ || !frame_)
        throw std::bad_alloc();

    if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
        lengthFrames_ = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate_});
    else if (format->duration > 0)
        lengthFrames_ = av_rescale(format->duration, rate_, AV_TIME_BASE);
    // The duration is the header's play duration: it is believed only as far
    // as the file's size allows at the lowest bit rate a WMA stream uses.
    const auto fileBytes = static_cast<int64_t>(std::filesystem::file_size(path, error));
    if (error || lengthFrames_ > (fileBytes * 8 / kLowestBitsPerSecond + 1) * rate_)
        lengthFrames_ = -1;
}

WmaDecoder::~WmaDecoder() = default;

bool WmaDecoder::DecodeMore() {
    while (!finished_) {
        const int received = avcodec_receive_frame(codec_.get(), frame_.get());
        if (received == 0) {
            AVStream* stream = format_->streams[streamIndex_];
            int64_t first = nextFrame_;
            if (frame_->pts != AV_NOPTS_VALUE)
                first = av_rescale_q(frame_->pts, stream->time_base, AVRational{1, rate_}) -
                        av_rescale_q(stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                                     stream->time_base, AVRational{1, rate_});
            const int count = frame_->nb_samples;
            std::vector<int16_t> converted(static_cast<size_t>(count) * channels_);
            uint8_t* dest[1] = {reinterpret_cast<uint8_t*>(converted.data())};
            const int done = swr_convert(resampler_.get(), dest, count,
                                         const_cast<const uint8_t**>(frame_->extended_data), count);
            av_frame_unref(frame_.get());
            if (done <= 0)
                continue;
            int64_t drop = 0;
            if (skipFrames_ > 0) {
                // After a seek: drop what lies before the wanted frame.
                drop = std::clamp<int64_t>(skipFrames_ - first, 0, done);
                if (first + done <= skipFrames_)
                    continue;
                skipFrames_ = 0;
            }
            pending_.assign(converted.begin() + drop * channels_, converted.begin() + static_cast<int64_t>(done) * channels_);
            pendingOffset_ = 0;
            nextFrame_ = first + done;
            return true;
        }
        if (received == AVERROR_EOF) {
            finished_ = true;
            return false;
        }
        if (received != AVERROR(EAGAIN)) {
            finished_ = true;
            return false;
        }
        if (flushing_) {
            finished_ = true;
            return false;
        }
        const int read = av_read_frame(format_.get(), packet_.get());
        if (read < 0) {
            flushing_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == streamIndex_)
            avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
    }
    return false;
}

int64_t WmaDecoder::Read(int16_t* out, int64_t frames) {
    int64_t filled = 0;
    while (filled < frames) {
        if (pendingOffset_ >= pending_.size() && !DecodeMore())
            break;
        const int64_t available = static_cast<int64_t>(pending_.size() - pendingOffset_) / channels_;
        const int64_t take = std::min(available, frames - filled);
        std::memcpy(out + filled * channels_, pending_.data() + pendingOffset_,
                    static_cast<size_t>(take * channels_) * sizeof(int16_t));
        pendingOffset_ += static_cast<size_t>(take * channels_);
        filled += take;
    }
    return filled;
}

bool WmaDecoder::Seek(int64_t frame) {
    AVStream* stream = format_->streams[streamIndex_];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const int64_t timestamp = start + av_rescale_q(frame, AVRational{1, rate_}, stream->time_base);
    if (av_seek_frame(format_.get(), streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format_.get(), streamIndex_, start, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(codec_.get());
    pending_.clear();
    pendingOffset_ = 0;
    skipFrames_ = frame;
    nextFrame_ = 0;
    flushing_ = false;
    finished_ = false;
    return true;
}

} // namespace engine
