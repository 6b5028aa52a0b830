// SndfileDecoder: WAV (RIFF, RIFX, WAVE_FORMAT_EXTENSIBLE, RF64, Wave64)
// and the other uncompressed containers libsndfile reads (AIFF, AU),
// through libsndfile. The length is the header's frame count.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

struct sf_private_tag;

namespace engine {

class SndfileDecoder final : public OpenedDecoder {
public:
    // Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
    explicit SndfileDecoder(const std::string& path);

    int64_t Read(int16_t* out, int64_t frames) override;
    void Seek(int64_t frame) override;

private:
    struct FileCloser {
        void operator()(sf_private_tag* file) const;
    };
    std::unique_ptr<sf_private_tag, FileCloser> file_;
};

} // namespace engine
