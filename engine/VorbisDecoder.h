// VorbisDecoder: Ogg Vorbis through libvorbisfile. The length is the PCM
// total of the file's last granule position (vorbisfile finds it by
// bisection, not by decoding), unless the file is too short to hold it.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

struct OggVorbis_File;

namespace engine {

class VorbisDecoder final : public Decoder {
public:
    // Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
    explicit VorbisDecoder(const std::string& path);
    ~VorbisDecoder() override;

    int SampleRate() const override { return rate_; }
    int Channels() const override { return channels_; }
    int64_t LengthFrames() const override { return lengthFrames_; }
    int64_t Read(int16_t* out, int64_t frames) override;
    void Seek(int64_t frame) override;

private:
    std::unique_ptr<OggVorbis_File> file_;
    bool open_ = false;
    int rate_ = 0;
    int channels_ = 0;
    int64_t lengthFrames_ = -1;
};

} // namespace engine
