// VorbisDecoder: Ogg Vorbis through libvorbisfile. The length is the PCM
// total of the file's last granule position (vorbisfile finds it by
// bisection, not by decoding), unless the file is too short to hold it.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

struct OggVorbis_File;

namespace engine {

class VorbisDecoder final : public OpenedDecoder {
public:
    // Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
    explicit VorbisDecoder(const std::string& path);
    ~VorbisDecoder() override;

    int64_t Read(int16_t* out, int64_t frames) override;
    void Seek(int64_t frame) override;

private:
    std::unique_ptr<OggVorbis_File> file_;
    bool open_ = false;
};

} // namespace engine
