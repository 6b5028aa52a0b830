// Chooses the decoder for a file stream by the file's first bytes: Ogg
// Vorbis, the RIFF/AIFF/AU family through libsndfile, otherwise MPEG audio.
// Windows Media (ASF) files are refused here; only the WMA add-on plays them.
#pragma once

#include "Decoder.h"

#include <memory>
#include <string>

namespace engine {

// Throws EngineError(BASS_ERROR_FILEOPEN / BASS_ERROR_FILEFORM).
std::unique_ptr<Decoder> OpenStreamDecoder(const std::string& path);

} // namespace engine
