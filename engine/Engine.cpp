#include "Engine.h"

#include "EngineError.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace engine {

namespace {

constexpr int64_t kBlockFrames = 1024;

bool SilentOutputForced() {
    const char* value = std::getenv(BASS_SILENT_OUTPUT_ENV);
    return value && *value && std::strcmp(value, "0") != 0;
}

int16_t ToSample(float value) {
    const float scaled = std::round(value * 32767.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

Engine& Engine::Instance() {
    static Engine engine;
    return engine;
}

Engine::~Engine() { Free(); }

void Engine::Init(int device, DWORD freq, DWORD flags) {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (CurrentOutput())
        Fail(BASS_ERROR_ALREADY);
    if (device < -1 || device > 1)
        Fail(BASS_ERROR_DEVICE);
    const int rate = freq >= 8000 && freq <= 192000 ? static_cast<int>(freq) : 44100;
    std::unique_ptr<Output> output;
    if (device != 0 && !SilentOutputForced())
        output = OpenDeviceOutput(rate);
    // A machine without a usable sound device still gets a working player:
    // the silent output keeps time like a real one.
    if (!output)
        output = OpenSilentOutput(rate);
    {
        std::lock_guard lock(tableMutex_);
        output_ = std::move(output);
        initFlags_ = flags;
    }
}

void Engine::Free() {
    std::lock_guard lifecycle(lifecycleMutex_);
    if (mixer_.joinable()) {
        mixer_.request_stop();
        Wake();
        mixer_.join();
    }
    mixerStarted_ = false;
    std::map<DWORD, std::shared_ptr<Channel>> released;
    std::shared_ptr<Output> output;
    {
        std::lock_guard lock(tableMutex_);
        released.swap(channels_);
        output.swap(output_);
    }
    // Decoders and the device close here, outside the table lock.
}

bool Engine::Initialised() { return CurrentOutput() != nullptr; }

void Engine::RequireInit() {
    if (!Initialised())
        Fail(BASS_ERROR_INIT);
}

std::string Engine::OutputDescription() {
    const auto output = CurrentOutput();
    return output ? output->Description() : std::string();
}

int Engine::OutputRate() {
    const auto output = CurrentOutput();
    return output ? output->Rate() : 0;
}

int Engine::OutputLatencyMs() {
    const auto output = CurrentOutput();
    return output ? output->LatencyMs() : 0;
}

DWORD Engine::InitFlags() {
    std::lock_guard lock(tableMutex_);
    return initFlags_;
}

int64_t Engine::PlayedFrames() {
    const auto output = CurrentOutput();
    return output ? output->PlayedFrames() : 0;
}

void Engine::CutOutput(const std::function<void(int64_t cut)>& change) {
    std::lock_guard mix(mixMutex_);
    const auto output = CurrentOutput();
    const int64_t cut = output ? output->DropQueued() : 0;
    if (output) {
        for (const auto& channel : Snapshot())
            channel->CutAt(cut);
    }
    change(cut);
    Wake();  // refills at once what the others still play
}

DWORD Engine::AddChannel(ChannelKind kind, std::unique_ptr<Decoder> decoder, bool decodeOnly) {
    // The byte clock and the resampler need a real rate and layout.
    const int rate = decoder->SampleRate();
    if (rate <= 0 || rate > kHighestSampleRate || decoder->Channels() <= 0 || decoder->Channels() > 64)
        Fail(BASS_ERROR_FILEFORM);
    std::lock_guard lock(tableMutex_);
    if (!output_)
        Fail(BASS_ERROR_INIT);
    DWORD handle = 0;
    do {
        handle = ++nextHandle_;
    } while (handle == 0 || channels_.count(handle) != 0);
    channels_.emplace(handle, std::make_shared<Channel>(handle, kind, std::move(decoder), decodeOnly));
    return handle;
}

std::shared_ptr<Channel> Engine::Find(DWORD handle) {
    std::lock_guard lock(tableMutex_);
    const auto found = channels_.find(handle);
    if (found == channels_.end())
        Fail(BASS_ERROR_HANDLE);
    return found->second;
}

std::shared_ptr<Channel> Engine::Find(DWORD handle, ChannelKind kind) {
    auto channel = Find(handle);
    if (channel->Kind() != kind)
        Fail(BASS_ERROR_HANDLE);
    return channel;
}

void Engine::Remove(DWORD handle, ChannelKind kind) {
    std::shared_ptr<Channel> released;
    CutOutput([&](int64_t) {
        std::lock_guard lock(tableMutex_);
        const auto found = channels_.find(handle);
        if (found == channels_.end() || found->second->Kind() != kind)
            Fail(BASS_ERROR_HANDLE);
        released = std::move(found->second);
        channels_.erase(found);
        // Under the mixer's hold, so no block mixed from an earlier list of
        // channels brings it back to the output.
        released->MarkFreed();
    });
    // A program that frees a stream must not hear of its end afterwards (the
    // player would stop the next file). An end sync already taken out may
    // still be running: wait for it, unless this is that sync calling.
    if (std::this_thread::get_id() != mixerThread_.load()) {
        std::lock_guard waitForRunningSyncs(syncMutex_);
    }
    // If the mixer still holds the channel it is destroyed when it lets go.
}

HSYNC Engine::NewSyncHandle() {
    HSYNC handle = 0;
    while (handle == 0)
        handle = ++nextSync_;
    return handle;
}

void Engine::Wake() {
    {
        std::lock_guard lock(wakeMutex_);
        wakeRequested_ = true;
    }
    wake_.notify_all();
}

void Engine::WakeToPlay() {
    // Once started (and always on the mixing thread itself, whose end syncs
    // may start other channels) this takes no lock: Free holds the lifecycle
    // lock while it waits for the mixer.
    if (!mixerStarted_.load()) {
        std::lock_guard lifecycle(lifecycleMutex_);
        if (!mixer_.joinable() && CurrentOutput()) {
            mixer_ = std::jthread([this](std::stop_token stop) { MixLoop(stop); });
            mixerStarted_ = true;
        }
    }
    Wake();
}

void Engine::SetVolumes(int music, int sample, int stream) {
    const auto apply = [](std::atomic<int>& target, int value) {
        if (value >= 0)
            target = std::min(value, 100);
    };
    apply(musicVolume_, music);
    apply(sampleVolume_, sample);
    apply(streamVolume_, stream);
}

void Engine::GetVolumes(DWORD* music, DWORD* sample, DWORD* stream) const {
    if (music)
        *music = static_cast<DWORD>(musicVolume_.load());
    if (sample)
        *sample = static_cast<DWORD>(sampleVolume_.load());
    if (stream)
        *stream = static_cast<DWORD>(streamVolume_.load());
}

float Engine::SetBufferSeconds(float seconds) {
    const float clamped = std::clamp(std::isfinite(seconds) ? seconds : 0.1f, 0.01f, 2.0f);
    bufferSeconds_ = clamped;
    return clamped;
}

std::vector<std::shared_ptr<Channel>> Engine::Snapshot() {
    std::lock_guard lock(tableMutex_);
    std::vector<std::shared_ptr<Channel>> channels;
    channels.reserve(channels_.size());
    for (const auto& entry : channels_)
        channels.push_back(entry.second);
    return channels;
}

std::shared_ptr<Output> Engine::CurrentOutput() {
    std::lock_guard lock(tableMutex_);
    return output_;
}

void Engine::FireEndSyncs(int64_t played, const std::vector<std::shared_ptr<Channel>>& channels) {
    std::lock_guard syncs(syncMutex_);
    for (const auto& channel : channels) {
        for (const SyncCall& call : channel->TakeEndSyncs(played)) {
            // The callback belongs to the program; nothing it throws may
            // take the mixing thread down.
            try {
                call.proc(call.sync, call.channel, 0, call.user);
            } catch (...) {
            }
        }
        channel->ForgetPlayed(played);
    }
}

void Engine::MixLoop(std::stop_token stop) {
    mixerThread_ = std::this_thread::get_id();
    const std::shared_ptr<Output> output = CurrentOutput();
    const int rate = output->Rate();
    std::vector<float> mix(kBlockFrames * 2);
    std::vector<int16_t> pcm(kBlockFrames * 2);
    while (!stop.stop_requested()) {
        std::vector<std::shared_ptr<Channel>> channels = Snapshot();
        FireEndSyncs(output->PlayedFrames(), channels);

        const bool anyPlaying = std::any_of(channels.begin(), channels.end(), [](const auto& channel) {
            return channel->Activity() == BASS_ACTIVE_PLAYING;
        });
        const int64_t target = std::min<int64_t>(output->CapacityFrames() - kBlockFrames,
                                                 static_cast<int64_t>(bufferSeconds_.load() * rate));
        if (anyPlaying && output->QueuedFrames() < target) {
            for (const auto& channel : channels)
                channel->PrepareForMix();
            std::lock_guard mixing(mixMutex_);
            std::fill(mix.begin(), mix.end(), 0.0f);
            // Only this thread pushes, and no cut happens while it mixes, so
            // the block starts at the pushed count.
            const int64_t outStart = output->PushedFrames();
            for (const auto& channel : channels) {
                const int volume = channel->Kind() == ChannelKind::Music ? musicVolume_.load() : streamVolume_.load();
                channel->MixInto(mix.data(), kBlockFrames, rate, outStart, volume / 100.0f);
            }
            std::transform(mix.begin(), mix.end(), pcm.begin(), ToSample);
            output->Push(pcm.data(), kBlockFrames);
            continue;
        }
        // While something plays the FIFO is topped up and ends are watched
        // every few milliseconds; idle, only a start (Wake) needs an answer.
        const auto pause = anyPlaying ? std::chrono::milliseconds(5) : std::chrono::milliseconds(100);
        std::unique_lock lock(wakeMutex_);
        wake_.wait_for(lock, stop, pause, [this] { return wakeRequested_; });
        wakeRequested_ = false;
    }
}

} // namespace engine
