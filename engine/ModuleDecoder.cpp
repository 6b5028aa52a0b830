#include "ModuleDecoder.h"

#include "EngineError.h"
#include "LoadedLibrary.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

namespace engine {

namespace {

// Larger than any real module; a bigger file is refused before reading.
constexpr std::streamoff kMaxModuleBytes = 256LL * 1024 * 1024;

std::vector<char> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(BASS_ERROR_FILEOPEN);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxModuleBytes)
        Fail(BASS_ERROR_FILEFORM);
    in.seekg(0, std::ios::beg);
    std::vector<char> bytes(static_cast<size_t>(size));
    if (!in.read(bytes.data(), size))
        Fail(BASS_ERROR_FILEOPEN);
    return bytes;
}

// libopenmpt, bound when the first module is loaded.
struct OpenmptFunctions {
    decltype(&openmpt_module_create_from_memory2) create;
    decltype(&openmpt_module_destroy) destroy;
    decltype(&openmpt_log_func_silent) logSilent;
    decltype(&openmpt_error_func_ignore) errorIgnore;
    decltype(&openmpt_module_set_repeat_count) setRepeatCount;
    decltype(&openmpt_module_get_duration_seconds) durationSeconds;
    decltype(&openmpt_module_get_num_orders) orderCount;
    decltype(&openmpt_module_get_metadata) metadata;
    decltype(&openmpt_free_string) freeString;
    decltype(&openmpt_module_read_interleaved_stereo) readStereo;
    decltype(&openmpt_module_set_position_seconds) setPositionSeconds;
};

const OpenmptFunctions& Openmpt() {
    static const LoadedLibrary library("libopenmpt.so.0");
    static const OpenmptFunctions functions{
        ENGINE_BIND(library, openmpt_module_create_from_memory2),
        ENGINE_BIND(library, openmpt_module_destroy),
        ENGINE_BIND(library, openmpt_log_func_silent),
        ENGINE_BIND(library, openmpt_error_func_ignore),
        ENGINE_BIND(library, openmpt_module_set_repeat_count),
        ENGINE_BIND(library, openmpt_module_get_duration_seconds),
        ENGINE_BIND(library, openmpt_module_get_num_orders),
        ENGINE_BIND(library, openmpt_module_get_metadata),
        ENGINE_BIND(library, openmpt_free_string),
        ENGINE_BIND(library, openmpt_module_read_interleaved_stereo),
        ENGINE_BIND(library, openmpt_module_set_position_seconds),
    };
    const auto& f = functions;
    if (!f.create || !f.destroy || !f.logSilent || !f.errorIgnore || !f.setRepeatCount || !f.durationSeconds ||
        !f.orderCount || !f.metadata || !f.freeString || !f.readStereo || !f.setPositionSeconds)
        Fail(BASS_ERROR_NOTAVAIL);
    return functions;
}

} // namespace

void ModuleDecoder::ModuleDeleter::operator()(openmpt_module* module) const {
    Openmpt().destroy(module);
}

ModuleDecoder::ModuleDecoder(const std::string& path) {
    const std::vector<char> bytes = ReadWholeFile(path);
    Load(bytes.data(), bytes.size());
}

ModuleDecoder::ModuleDecoder(const void* data, size_t size) {
    if (!data || size == 0)
        Fail(BASS_ERROR_ILLPARAM);
    Load(data, size);
}

void ModuleDecoder::Load(const void* data, size_t size) {
    const OpenmptFunctions& openmpt = Openmpt();
    int error = 0;
    module_.reset(openmpt.create(data, size, openmpt.logSilent, nullptr, openmpt.errorIgnore, nullptr, &error,
                                 nullptr, nullptr));
    if (!module_)
        Fail(error == OPENMPT_ERROR_OUT_OF_MEMORY ? BASS_ERROR_MEM : BASS_ERROR_FILEFORM);
    // One pass through the song: the player shows a finite length and
    // expects the end sync.
    openmpt.setRepeatCount(module_.get(), 0);
    const double seconds = openmpt.durationSeconds(module_.get());
    lengthFrames_ = seconds > 0 ? static_cast<int64_t>(std::llround(seconds * kRenderRate)) : 0;
    orders_ = openmpt.orderCount(module_.get());
    if (const char* title = openmpt.metadata(module_.get(), "title")) {
        title_ = title;
        openmpt.freeString(title);
    }
}

int64_t ModuleDecoder::Read(int16_t* out, int64_t frames) {
    // libopenmpt renders a little past the duration it computes (the last
    // row's ticks); the song ends where its reported length says.
    frames = std::min(frames, lengthFrames_ - position_);
    int64_t filled = 0;
    while (filled < frames) {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(frames - filled, 4096));
        const size_t got =
            Openmpt().readStereo(module_.get(), kRenderRate, chunk, out + filled * 2);
        if (got == 0)
            break;
        filled += static_cast<int64_t>(got);
    }
    position_ += filled;
    return filled;
}

void ModuleDecoder::Seek(int64_t frame) {
    Openmpt().setPositionSeconds(module_.get(), static_cast<double>(frame) / kRenderRate);
    position_ = std::min(frame, lengthFrames_);
}

} // namespace engine
