// The library's C entry points. Each one runs its body through Guarded(),
// so no exception crosses the C ABI and every call sets the error code.
// Entry points without an implementation below are generated from the list
// in bass.h as "not available" stubs.

#include "bass.h"

#include "BassAddon.h"
#include "Engine.h"
#include "EngineError.h"
#include "ModuleDecoder.h"
#include "StreamOpener.h"

#include <cmath>
#include <limits>
#include <string>

using engine::ChannelKind;
using engine::Engine;
using engine::Fail;
using engine::Guarded;
using engine::GuardedVoid;

namespace {

constexpr DWORD kDeviceCount = 2;  // 0: no sound, 1: default output

std::string RequirePath(BOOL mem, const void* file, DWORD offset, DWORD length) {
    if (!file)
        Fail(BASS_ERROR_ILLPARAM);
    // Memory images and file sections are not offered; the program always
    // passes a whole file by name.
    if (mem)
        Fail(BASS_ERROR_NOTAVAIL);
    if (offset != 0 || length != 0)
        Fail(BASS_ERROR_ILLPARAM);
    return static_cast<const char*>(file);
}

int64_t FramesOfBytes(const engine::Channel& channel, QWORD bytes) {
    return static_cast<int64_t>(bytes / static_cast<QWORD>(channel.BytesPerFrame()));
}

QWORD BytesOfFrames(const engine::Channel& channel, int64_t frames) {
    return static_cast<QWORD>(frames) * static_cast<QWORD>(channel.BytesPerFrame());
}

// Adapts an add-on's callback table to the library's decoder interface.
class AddonDecoder final : public engine::Decoder {
public:
    explicit AddonDecoder(const BASS_ADDON_DECODER& table) : table_(table) {}
    ~AddonDecoder() override {
        if (table_.close)
            table_.close(table_.state);
    }
    int SampleRate() const override { return static_cast<int>(table_.rate); }
    int Channels() const override { return static_cast<int>(table_.channels); }
    int64_t LengthFrames() const override {
        return table_.frames == static_cast<QWORD>(-1) ? -1 : static_cast<int64_t>(table_.frames);
    }
    int64_t Read(int16_t* out, int64_t frames) override {
        return static_cast<int64_t>(table_.read(table_.state, out, static_cast<QWORD>(frames)));
    }
    void Seek(int64_t frame) override {
        if (!table_.seek(table_.state, static_cast<QWORD>(frame)))
            Fail(BASS_ERROR_POSITION);
    }

private:
    BASS_ADDON_DECODER table_;
};

} // namespace

// Names implemented below; every other name of the list becomes a stub.
#define ENGINE_IMPLEMENTED_BASS_GetVersion ~, 1
#define ENGINE_IMPLEMENTED_BASS_GetDeviceDescription ~, 1
#define ENGINE_IMPLEMENTED_BASS_SetBufferLength ~, 1
#define ENGINE_IMPLEMENTED_BASS_SetGlobalVolumes ~, 1
#define ENGINE_IMPLEMENTED_BASS_GetGlobalVolumes ~, 1
#define ENGINE_IMPLEMENTED_BASS_ErrorGetCode ~, 1
#define ENGINE_IMPLEMENTED_BASS_Init ~, 1
#define ENGINE_IMPLEMENTED_BASS_Free ~, 1
#define ENGINE_IMPLEMENTED_BASS_GetInfo ~, 1
#define ENGINE_IMPLEMENTED_BASS_Start ~, 1
#define ENGINE_IMPLEMENTED_BASS_MusicLoad ~, 1
#define ENGINE_IMPLEMENTED_BASS_MusicFree ~, 1
#define ENGINE_IMPLEMENTED_BASS_MusicGetName ~, 1
#define ENGINE_IMPLEMENTED_BASS_MusicGetLength ~, 1
#define ENGINE_IMPLEMENTED_BASS_MusicPlay ~, 1
#define ENGINE_IMPLEMENTED_BASS_StreamCreateFile ~, 1
#define ENGINE_IMPLEMENTED_BASS_StreamFree ~, 1
#define ENGINE_IMPLEMENTED_BASS_StreamGetLength ~, 1
#define ENGINE_IMPLEMENTED_BASS_StreamPlay ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelGetFlags ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelStop ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelPause ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelResume ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelSetPosition ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelGetPosition ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelSetSync ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelGetData ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelRemoveSync ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelIsActive ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelBytes2Seconds ~, 1
#define ENGINE_IMPLEMENTED_BASS_ChannelSeconds2Bytes ~, 1

extern "C" {

DWORD BASS_GetVersion(void) {
    engine::SetLastErrorCode(BASS_OK);
    return BASSVERSION;
}

const char* BASS_GetDeviceDescription(DWORD devnum) {
    return Guarded<const char*>(nullptr, [&]() -> const char* {
        if (devnum >= kDeviceCount)
            Fail(BASS_ERROR_DEVICE);
        return devnum == 0 ? "No sound" : "Default output";
    });
}

float BASS_SetBufferLength(float length) {
    return Guarded(0.0f, [&] { return Engine::Instance().SetBufferSeconds(length); });
}

void BASS_SetGlobalVolumes(int musvol, int samvol, int strvol) {
    GuardedVoid([&] { Engine::Instance().SetVolumes(musvol, samvol, strvol); });
}

void BASS_GetGlobalVolumes(DWORD* musvol, DWORD* samvol, DWORD* strvol) {
    GuardedVoid([&] { Engine::Instance().GetVolumes(musvol, samvol, strvol); });
}

DWORD BASS_ErrorGetCode(void) { return engine::LastErrorCode(); }

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win) {
    (void)win;  // no window is needed: the output does not belong to one
    return Guarded<BOOL>(FALSE, [&] {
        Engine::Instance().Init(device, freq, flags);
        return TRUE;
    });
}

void BASS_Free(void) {
    GuardedVoid([] { Engine::Instance().Free(); });
}

void BASS_GetInfo(BASS_INFO* info) {
    GuardedVoid([&] {
        if (!info || info->size < sizeof(BASS_INFO))
            Fail(BASS_ERROR_ILLPARAM);
        Engine& engine = Engine::Instance();
        engine.RequireInit();
        const BASS_INFO filled{
            .size = sizeof(BASS_INFO),
            .flags = 0,
            .hwsize = 0,
            .hwfree = 0,
            .freesam = 0,
            .free3d = 0,
            .minrate = 1000,
            .maxrate = 192000,  // any source rate is resampled to the output's
            .eax = 0,
            .minbuf = 10,
            .dsver = 9,  // no effects are used, so nothing depends on the version
            .latency = static_cast<DWORD>(engine.OutputLatencyMs()),
            .initflags = engine.InitFlags(),
            .speakers = 2,
        };
        *info = filled;
    });
}

BOOL BASS_Start(void) {
    return Guarded<BOOL>(FALSE, [] {
        Engine::Instance().RequireInit();
        return TRUE;
    });
}

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags) {
    (void)flags;  // the play length is always computed; it costs little
    return Guarded<HMUSIC>(0, [&] {
        Engine& engine = Engine::Instance();
        engine.RequireInit();
        std::unique_ptr<engine::Decoder> decoder;
        if (mem) {
            if (!file || length == 0)
                Fail(BASS_ERROR_ILLPARAM);
            decoder = std::make_unique<engine::ModuleDecoder>(static_cast<const char*>(file) + offset, length);
        } else {
            decoder = std::make_unique<engine::ModuleDecoder>(RequirePath(FALSE, file, offset, length));
        }
        return engine.AddChannel(ChannelKind::Music, std::move(decoder));
    });
}

void BASS_MusicFree(HMUSIC handle) {
    GuardedVoid([&] { Engine::Instance().Remove(handle, ChannelKind::Music); });
}

const char* BASS_MusicGetName(HMUSIC handle) {
    return Guarded<const char*>(nullptr, [&] {
        auto channel = Engine::Instance().Find(handle, ChannelKind::Music);
        // The title lives as long as the music (the decoder is never replaced).
        return static_cast<engine::ModuleDecoder&>(channel->DecoderForInfo()).Title().c_str();
    });
}

DWORD BASS_MusicGetLength(HMUSIC handle, DWORD playlen) {
    return Guarded<DWORD>(static_cast<DWORD>(-1), [&] {
        auto channel = Engine::Instance().Find(handle, ChannelKind::Music);
        if (!playlen)
            return static_cast<DWORD>(static_cast<engine::ModuleDecoder&>(channel->DecoderForInfo()).OrderCount());
        const QWORD bytes = BytesOfFrames(*channel, channel->LengthFrames());
        // (DWORD)-1 is the failure value; a longer song reports just below it.
        return static_cast<DWORD>(std::min<QWORD>(bytes, 0xFFFFFFFEu));
    });
}

BOOL BASS_MusicPlay(HMUSIC handle) {
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        engine.Find(handle, ChannelKind::Music)->Play();
        engine.WakeToPlay();
        return TRUE;
    });
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags) {
    // Output is always 16-bit at the source's own rate; only the decoding flag counts.
    return Guarded<HSTREAM>(0, [&] {
        Engine& engine = Engine::Instance();
        engine.RequireInit();
        return engine.AddChannel(ChannelKind::Stream, engine::OpenStreamDecoder(RequirePath(mem, file, offset, length)),
                                 (flags & BASS_STREAM_DECODE) != 0);
    });
}

void BASS_StreamFree(HSTREAM handle) {
    GuardedVoid([&] { Engine::Instance().Remove(handle, ChannelKind::Stream); });
}

QWORD BASS_StreamGetLength(HSTREAM handle) {
    return Guarded<QWORD>(static_cast<QWORD>(-1), [&] {
        auto channel = Engine::Instance().Find(handle, ChannelKind::Stream);
        if (channel->LengthFrames() < 0)
            Fail(BASS_ERROR_NOTAVAIL);
        return BytesOfFrames(*channel, channel->LengthFrames());
    });
}

BOOL BASS_StreamPlay(HSTREAM handle, BOOL flush, DWORD flags) {
    (void)flags;
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle, ChannelKind::Stream);
        if (channel->DecodeOnly())
            Fail(BASS_ERROR_DECODE);
        if (flush)
            engine.CutOutput([&](int64_t) { channel->SetPosition(0); });
        channel->Play();
        engine.WakeToPlay();
        return TRUE;
    });
}

DWORD BASS_ChannelGetFlags(DWORD handle) {
    return Guarded<DWORD>(static_cast<DWORD>(-1), [&] { return Engine::Instance().Find(handle)->Flags(); });
}

BOOL BASS_ChannelStop(DWORD handle) {
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle);
        engine.CutOutput([&](int64_t cut) { channel->Stop(cut); });
        return TRUE;
    });
}

BOOL BASS_ChannelPause(DWORD handle) {
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle);
        engine.CutOutput([&](int64_t cut) { channel->Pause(cut); });
        return TRUE;
    });
}

BOOL BASS_ChannelResume(DWORD handle) {
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        engine.Find(handle)->Resume();
        engine.WakeToPlay();
        return TRUE;
    });
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    return Guarded<BOOL>(FALSE, [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle);
        if (pos > static_cast<QWORD>(std::numeric_limits<int64_t>::max()))
            Fail(BASS_ERROR_POSITION);
        engine.CutOutput([&](int64_t) { channel->SetPosition(FramesOfBytes(*channel, pos)); });
        return TRUE;
    });
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    return Guarded<QWORD>(static_cast<QWORD>(-1), [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle);
        return BytesOfFrames(*channel, channel->Position(engine.PlayedFrames()));
    });
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    return Guarded<DWORD>(static_cast<DWORD>(-1), [&] {
        auto channel = Engine::Instance().Find(handle);
        if (!channel->DecodeOnly())
            Fail(BASS_ERROR_NOTDECODE);
        if (!buffer && length > 0)
            Fail(BASS_ERROR_ILLPARAM);
        const int64_t frames = static_cast<int64_t>(length) / channel->BytesPerFrame();
        if (frames == 0)
            return DWORD{0};
        const int64_t got = channel->ReadDecoded(static_cast<int16_t*>(buffer), frames);
        if (got == 0)
            Fail(BASS_ERROR_ENDED);
        return static_cast<DWORD>(BytesOfFrames(*channel, got));
    });
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
    (void)param;  // the end sync takes no parameter
    return Guarded<HSYNC>(0, [&] {
        Engine& engine = Engine::Instance();
        auto channel = engine.Find(handle);
        if (type != BASS_SYNC_END)
            Fail(BASS_ERROR_ILLTYPE);
        if (!proc)
            Fail(BASS_ERROR_ILLPARAM);
        const HSYNC sync = engine.NewSyncHandle();
        channel->AddSync(sync, proc, user);
        return sync;
    });
}

BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    return Guarded<BOOL>(FALSE, [&] {
        if (!Engine::Instance().Find(handle)->RemoveSync(sync))
            Fail(BASS_ERROR_HANDLE);
        return TRUE;
    });
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    return Guarded<DWORD>(BASS_ACTIVE_STOPPED, [&] { return Engine::Instance().Find(handle)->Activity(); });
}

float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    return Guarded(-1.0f, [&] {
        auto channel = Engine::Instance().Find(handle);
        const double bytesPerSecond = static_cast<double>(channel->BytesPerFrame()) * channel->SampleRate();
        return static_cast<float>(static_cast<double>(pos) / bytesPerSecond);
    });
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, float pos) {
    return Guarded<QWORD>(static_cast<QWORD>(-1), [&] {
        auto channel = Engine::Instance().Find(handle);
        if (!std::isfinite(pos) || pos < 0.0f)
            Fail(BASS_ERROR_ILLPARAM);
        // Times arrive as single-precision values (ms / 1000); rounding to
        // the nearest frame keeps 0.7 s from landing one frame short.
        const int64_t frames = std::llround(static_cast<double>(pos) * channel->SampleRate());
        return BytesOfFrames(*channel, frames);
    });
}

HSTREAM BASS_Internal_AddStream(const BASS_ADDON_DECODER* table) {
    return Guarded<HSTREAM>(0, [&] {
        if (!table)
            Fail(BASS_ERROR_ILLPARAM);
        // The decoder closes the add-on's state whatever happens next.
        auto decoder = std::make_unique<AddonDecoder>(*table);
        if (!table->read || !table->seek || table->rate == 0 || table->channels == 0)
            Fail(BASS_ERROR_ILLPARAM);
        Engine& engine = Engine::Instance();
        engine.RequireInit();
        return engine.AddChannel(ChannelKind::Stream, std::move(decoder), (table->flags & BASS_STREAM_DECODE) != 0);
    });
}

void BASS_Internal_SetError(DWORD code) { engine::SetLastErrorCode(code); }

} // extern "C"

// "Not available" stubs for every listed name not implemented above.
#define ENGINE_SECOND(a, b, ...) b
#define ENGINE_SECOND_EXPANDED(...) ENGINE_SECOND(__VA_ARGS__)
#define ENGINE_IS_IMPLEMENTED(name) ENGINE_SECOND_EXPANDED(ENGINE_IMPLEMENTED_##name, 0, ~)
#define ENGINE_CAT(a, b) ENGINE_CAT_EXPANDED(a, b)
#define ENGINE_CAT_EXPANDED(a, b) a##b
#define ENGINE_STUB_1(ret, name, params, fail)
#define ENGINE_STUB_0(ret, name, params, fail) \
    extern "C" ret BASSDEF name params { return engine::NotAvailable<ret>(fail); }
#define ENGINE_DEFINE_STUB(ret, name, params, fail) \
    ENGINE_CAT(ENGINE_STUB_, ENGINE_IS_IMPLEMENTED(name))(ret, name, params, fail)

namespace engine {
template <typename Result>
Result NotAvailable(Result failure) {
    SetLastErrorCode(BASS_ERROR_NOTAVAIL);
    return failure;
}
template <typename Result>
    requires std::is_void_v<Result>
void NotAvailable() {
    SetLastErrorCode(BASS_ERROR_NOTAVAIL);
}
} // namespace engine

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
BASS_ENTRY_POINTS(ENGINE_DEFINE_STUB)
#pragma GCC diagnostic pop
