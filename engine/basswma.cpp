// The WMA add-on's C entry points. Streams are decoded here and handed to
// the main library (BASS_Internal_AddStream), which plays them like its
// own; every error code is set in the main library so BASS_ErrorGetCode
// reports it.

#include "basswma.h"

#include "BassAddon.h"
#include "WmaDecoder.h"

#include <memory>
#include <new>
#include <string>

namespace {

QWORD ReadFrames(void* state, int16_t* out, QWORD frames) {
    try {
        return static_cast<QWORD>(static_cast<engine::WmaDecoder*>(state)->Read(out, static_cast<int64_t>(frames)));
    } catch (...) {
        return 0;
    }
}

BOOL SeekFrame(void* state, QWORD frame) {
    try {
        return static_cast<engine::WmaDecoder*>(state)->Seek(static_cast<int64_t>(frame)) ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}

void CloseDecoder(void* state) { delete static_cast<engine::WmaDecoder*>(state); }

template <typename Result>
Result NotAvailable(Result failure) {
    BASS_Internal_SetError(BASS_ERROR_NOTAVAIL);
    return failure;
}
template <typename Result>
    requires std::is_void_v<Result>
void NotAvailable() {
    BASS_Internal_SetError(BASS_ERROR_NOTAVAIL);
}

} // namespace

#define WMA_IMPLEMENTED_BASS_WMA_StreamCreateFile ~, 1
#define WMA_IMPLEMENTED_BASS_WMA_ChannelSetSync ~, 1

extern "C" {

HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags) {
    try {
        if (!file || offset != 0 || length != 0) {
            BASS_Internal_SetError(BASS_ERROR_ILLPARAM);
            return 0;
        }
        if (mem) {
            BASS_Internal_SetError(BASS_ERROR_NOTAVAIL);
            return 0;
        }
        auto decoder = std::make_unique<engine::WmaDecoder>(std::string(static_cast<const char*>(file)));
        BASS_ADDON_DECODER table{};
        table.rate = static_cast<DWORD>(decoder->SampleRate());
        table.channels = static_cast<DWORD>(decoder->Channels());
        table.frames = decoder->LengthFrames() < 0 ? static_cast<QWORD>(-1) : static_cast<QWORD>(decoder->LengthFrames());
        table.read = &ReadFrames;
        table.seek = &SeekFrame;
        table.close = &CloseDecoder;
        table.flags = flags;
        // From here the main library owns the decoder (it closes it on failure too).
        table.state = decoder.release();
        return BASS_Internal_AddStream(&table);
    } catch (const engine::WmaDecoder::OpenError& error) {
        BASS_Internal_SetError(error.fileMissing ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM);
    } catch (const std::bad_alloc&) {
        BASS_Internal_SetError(BASS_ERROR_MEM);
    } catch (...) {
        BASS_Internal_SetError(BASS_ERROR_UNKNOWN);
    }
    return 0;
}

HSYNC BASS_WMA_ChannelSetSync(HSTREAM handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
    // WMA streams are channels of the main library; it keeps their syncs.
    return BASS_ChannelSetSync(handle, type, param, proc, user);
}

} // extern "C"

#define WMA_SECOND(a, b, ...) b
#define WMA_SECOND_EXPANDED(...) WMA_SECOND(__VA_ARGS__)
#define WMA_IS_IMPLEMENTED(name) WMA_SECOND_EXPANDED(WMA_IMPLEMENTED_##name, 0, ~)
#define WMA_CAT(a, b) WMA_CAT_EXPANDED(a, b)
#define WMA_CAT_EXPANDED(a, b) a##b
#define WMA_STUB_1(ret, name, params, fail)
#define WMA_STUB_0(ret, name, params, fail) \
    extern "C" ret BASSDEF name params { return NotAvailable<ret>(fail); }
#define WMA_DEFINE_STUB(ret, name, params, fail) WMA_CAT(WMA_STUB_, WMA_IS_IMPLEMENTED(name))(ret, name, params, fail)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
BASSWMA_ENTRY_POINTS(WMA_DEFINE_STUB)
#pragma GCC diagnostic pop
