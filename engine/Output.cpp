#include "Output.h"

#include "LoadedLibrary.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr int64_t kFifoFrames = 1 << 17;  // about 3 s at 44.1 kHz
constexpr int kDeviceBufferFrames = 1024;

using Clock = std::chrono::steady_clock;

// The few SDL functions the device output uses, bound when a device output
// is first opened; null when SDL is not installed.
struct SdlFunctions {
    decltype(&SDL_InitSubSystem) InitSubSystem;
    decltype(&SDL_QuitSubSystem) QuitSubSystem;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
    decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver;
};

const SdlFunctions* Sdl() {
    static const LoadedLibrary library("libSDL2-2.0.so.0");
    static const SdlFunctions functions{
        ENGINE_BIND(library, SDL_InitSubSystem),     ENGINE_BIND(library, SDL_QuitSubSystem),
        ENGINE_BIND(library, SDL_OpenAudioDevice),   ENGINE_BIND(library, SDL_CloseAudioDevice),
        ENGINE_BIND(library, SDL_PauseAudioDevice),  ENGINE_BIND(library, SDL_GetCurrentAudioDriver),
    };
    const bool complete = functions.InitSubSystem && functions.QuitSubSystem && functions.OpenAudioDevice &&
                          functions.CloseAudioDevice && functions.PauseAudioDevice && functions.GetCurrentAudioDriver;
    return complete ? &functions : nullptr;
}

int64_t FramesIn(Clock::duration elapsed, int rate) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() * rate / 1000000000;
}

Clock::duration DurationOf(int64_t frames, int rate) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(frames * 1000000000 / rate));
}

// Consumes frames at the wall-clock pace. When the FIFO runs dry the clock
// waits for the next push instead of running ahead of the audio.
class SilentOutput final : public Output {
public:
    explicit SilentOutput(int rate) : Output(rate, kFifoFrames), clockBase_(Clock::now()) {}

    int64_t PlayedFrames() override {
        std::lock_guard lock(mutex_);
        AdvanceLocked();
        return taken_;
    }
    int LatencyMs() const override { return 0; }
    std::string Description() const override { return "No sound (silent output)"; }

protected:
    // The ring needs no draining: advancing taken_ frees its slots.
    void AdvanceLocked() override {
        const Clock::time_point now = Clock::now();
        const int64_t due = FramesIn(now - clockBase_, Rate());
        const int64_t queued = pushed_ - taken_;
        if (due >= queued) {
            taken_ = pushed_;
            clockBase_ = now;
        } else if (due > 0) {
            taken_ += due;
            clockBase_ += DurationOf(due, Rate());
        }
    }

private:
    Clock::time_point clockBase_;
};

// On a machine without a sound card ALSA prints a screenful of errors to
// stderr while SDL probes it, although the library then just falls back to
// its silent output. While SDL probes, ALSA's error printer is replaced by
// a silent one (in the same libasound SDL loads, if it is installed).
class QuietAlsa {
public:
    QuietAlsa() : library_(dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL)) {
        if (library_)
            setHandler_ = reinterpret_cast<SetHandler>(dlsym(library_, "snd_lib_error_set_handler"));
        if (setHandler_)
            setHandler_(&Discard);
    }
    ~QuietAlsa() {
        if (setHandler_)
            setHandler_(nullptr);  // ALSA's own printer again
        if (library_)
            dlclose(library_);
    }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;

private:
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    static void Discard(const char*, int, const char*, int, const char*, ...) {}

    void* library_;
    SetHandler setHandler_ = nullptr;
};

class SdlOutput final : public Output {
public:
    SdlOutput(int rate, const SdlFunctions& sdl) : Output(rate, kFifoFrames), sdl_(sdl) {}
    ~SdlOutput() override {
        if (device_ != 0)
            sdl_.CloseAudioDevice(device_);
        if (subsystemStarted_)
            sdl_.QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool Open() {
        const QuietAlsa quiet;
        if (sdl_.InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        subsystemStarted_ = true;
        SDL_AudioSpec want{};
        want.freq = Rate();
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = kDeviceBufferFrames;
        want.callback = &SdlOutput::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        device_ = sdl_.OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0)
            return false;
        deviceFrames_ = have.samples;
        const char* driver = sdl_.GetCurrentAudioDriver();
        description_ = std::string("Default output (SDL ") + (driver ? driver : "audio") + ")";
        lastCallback_ = Clock::now();
        sdl_.PauseAudioDevice(device_, 0);
        return true;
    }

    int64_t PlayedFrames() override {
        std::lock_guard lock(mutex_);
        // The last callback's frames are still in the device buffer; they
        // drain at the output rate until the next callback.
        const int64_t draining = std::min<int64_t>(deviceFrames_, FramesIn(Clock::now() - lastCallback_, Rate()));
        const int64_t estimate = std::clamp<int64_t>(taken_ - deviceFrames_ + draining, 0, taken_);
        played_ = std::max(played_, estimate);
        return played_;
    }
    int LatencyMs() const override { return static_cast<int>(deviceFrames_ * 1000 / Rate()); }
    std::string Description() const override { return description_; }

private:
    static void SDLCALL Callback(void* userdata, Uint8* stream, int length) {
        auto* self = static_cast<SdlOutput*>(userdata);
        const int64_t frames = length / 4;
        std::lock_guard lock(self->mutex_);
        const int64_t got = self->TakeLocked(reinterpret_cast<int16_t*>(stream), frames);
        if (got < frames)
            std::memset(stream + got * 4, 0, static_cast<size_t>((frames - got) * 4));
        self->lastCallback_ = Clock::now();
    }

    const SdlFunctions& sdl_;
    SDL_AudioDeviceID device_ = 0;
    bool subsystemStarted_ = false;
    int64_t deviceFrames_ = kDeviceBufferFrames;
    Clock::time_point lastCallback_;
    int64_t played_ = 0;
    std::string description_;
};

} // namespace

Output::Output(int rate, int64_t capacityFrames) : rate_(rate), capacity_(capacityFrames) {}

int64_t Output::Push(const int16_t* samples, int64_t frames) {
    std::lock_guard lock(mutex_);
    // Half a megabyte, made when something first plays: a program that
    // only measures streams never touches it.
    if (ring_.empty())
        ring_.resize(static_cast<size_t>(capacity_) * 2);
    AdvanceLocked();
    const int64_t room = capacity_ - (pushed_ - taken_);
    const int64_t count = std::clamp<int64_t>(frames, 0, room);
    for (int64_t i = 0; i < count; ++i) {
        const size_t slot = static_cast<size_t>((pushed_ + i) % capacity_) * 2;
        ring_[slot] = samples[i * 2];
        ring_[slot + 1] = samples[i * 2 + 1];
    }
    pushed_ += count;
    return count;
}

int64_t Output::PushedFrames() {
    std::lock_guard lock(mutex_);
    return pushed_;
}

int64_t Output::QueuedFrames() {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    return pushed_ - taken_;
}

int64_t Output::DropQueued() {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    pushed_ = taken_;
    return pushed_;
}

int64_t Output::TakeLocked(int16_t* dest, int64_t frames) {
    const int64_t count = std::min(frames, pushed_ - taken_);
    for (int64_t i = 0; i < count; ++i) {
        const size_t slot = static_cast<size_t>((taken_ + i) % capacity_) * 2;
        dest[i * 2] = ring_[slot];
        dest[i * 2 + 1] = ring_[slot + 1];
    }
    taken_ += count;
    return count;
}

std::unique_ptr<Output> OpenDeviceOutput(int rate) {
    const SdlFunctions* sdl = Sdl();
    if (!sdl)
        return nullptr;
    auto output = std::make_unique<SdlOutput>(rate, *sdl);
    if (!output->Open())
        return nullptr;
    return output;
}

std::unique_ptr<Output> OpenSilentOutput(int rate) { return std::make_unique<SilentOutput>(rate); }

} // namespace engine

