// Mpg123Decoder: MPEG-1/2/2.5 audio, layers I-III, through libmpg123. The
// length comes from headers (Xing/Info/LAME with gapless trimming, or the
// file size for constant bit rates), checked against the file as the
// analyser checks them (analysis/MPEGstream.h): opening never scans a file
// whose header holds.
// Seeks are sample-exact; a jump far past the part already read costs
// about a second per 50 MB of frames to scan.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

struct mpg123_handle_struct;

namespace engine {

class Mpg123Decoder final : public OpenedDecoder {
public:
    // Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
    explicit Mpg123Decoder(const std::string& path);

    int64_t Read(int16_t* out, int64_t frames) override;
    void Seek(int64_t frame) override;

private:
    struct HandleDeleter {
        void operator()(mpg123_handle_struct* handle) const;
    };
    std::unique_ptr<mpg123_handle_struct, HandleDeleter> handle_;
    bool finished_ = false;
};

} // namespace engine
