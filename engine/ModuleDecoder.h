// ModuleDecoder: tracker music (MOD, S3M, XM, IT, MTM and the other formats
// libopenmpt reads), rendered as 44.1 kHz stereo. The whole file is read
// into memory once; the play length is libopenmpt's computed duration of
// one pass through the song.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

struct openmpt_module;

namespace engine {

class ModuleDecoder final : public Decoder {
public:
    static constexpr int kRenderRate = 44100;

    // Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
    explicit ModuleDecoder(const std::string& path);
    ModuleDecoder(const void* data, size_t size);

    int SampleRate() const override { return kRenderRate; }
    int Channels() const override { return 2; }
    int64_t LengthFrames() const override { return lengthFrames_; }
    int64_t Read(int16_t* out, int64_t frames) override;
    void Seek(int64_t frame) override;

    const std::string& Title() const { return title_; }
    int OrderCount() const { return orders_; }

private:
    void Load(const void* data, size_t size);

    struct ModuleDeleter {
        void operator()(openmpt_module* module) const;
    };
    std::unique_ptr<openmpt_module, ModuleDeleter> module_;
    int64_t lengthFrames_ = 0;
    int64_t position_ = 0;  // frames rendered since the start or the last seek
    std::string title_;
    int orders_ = 0;
};

} // namespace engine
