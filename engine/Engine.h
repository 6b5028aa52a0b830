// Engine: the library's one process-wide state: the output, the mixing
// thread (started when a channel first plays), the table of channels by handle, the global volumes and sync
// handles. Every entry point goes through Engine::Instance().
//
// Threads: every member may be called from any thread. The table lock is
// held only to look handles up; channels are shared_ptr so a channel freed
// by an API call while the mixer renders it lives until the mixer lets go.
// Sync callbacks are called by the mixing thread with no lock held.
#pragma once

#include "Channel.h"
#include "Output.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace engine {

class Engine {
public:
    static Engine& Instance();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // device -1 (default) or 1 opens the sound device, falling back to the
    // silent output; device 0 opens the silent output. Throws
    // BASS_ERROR_ALREADY when initialised, BASS_ERROR_DEVICE for others.
    void Init(int device, DWORD freq, DWORD flags);
    // Stops the mixer, frees every channel and the output; harmless twice.
    void Free();
    bool Initialised();
    // Throws BASS_ERROR_INIT when not initialised.
    void RequireInit();

    // Description of the open output (empty when not initialised).
    std::string OutputDescription();
    int OutputRate();
    int OutputLatencyMs();
    DWORD InitFlags();

    // Output frames heard so far (0 when not initialised).
    int64_t PlayedFrames();
    // For a change that voids audio already mixed (pause, stop, seek, free):
    // holds the mixer still, drops what the output has not yet handed to the
    // device, rewinds every channel to what it had rendered up to there, and
    // calls change(cut) with the output frame from which nothing mixed so
    // far will be heard. So a pause falls silent at once and its resume
    // follows on from exactly what was heard.
    void CutOutput(const std::function<void(int64_t cut)>& change);

    // Takes the decoder and returns the new channel's handle.
    DWORD AddChannel(ChannelKind kind, std::unique_ptr<Decoder> decoder, bool decodeOnly = false);
    // Throws BASS_ERROR_HANDLE when the handle is unknown.
    std::shared_ptr<Channel> Find(DWORD handle);
    // Throws BASS_ERROR_HANDLE when the handle is unknown or of another kind.
    std::shared_ptr<Channel> Find(DWORD handle, ChannelKind kind);
    // Throws BASS_ERROR_HANDLE when unknown or of another kind. Once it
    // returns, no end sync of the channel is called any more (an end sync
    // already running is waited for, unless the caller is that sync).
    void Remove(DWORD handle, ChannelKind kind);

    HSYNC NewSyncHandle();
    // Wakes the mixer after a channel started, so it begins without delay.
    void Wake();
    // For a channel that starts playing: starts the mixing thread when it is
    // not running yet, then wakes it. Until something plays there is nothing
    // to mix, so a program that only asks for lengths runs no thread (and
    // gets no memory arena of its own).
    void WakeToPlay();

    // 0..100; a negative value leaves that volume unchanged.
    void SetVolumes(int music, int sample, int stream);
    void GetVolumes(DWORD* music, DWORD* sample, DWORD* stream) const;
    // Target fill of the output FIFO, in seconds (clamped to 0.01..2).
    float SetBufferSeconds(float seconds);

private:
    Engine() = default;
    void MixLoop(std::stop_token stop);
    void FireEndSyncs(int64_t played, const std::vector<std::shared_ptr<Channel>>& channels);
    std::vector<std::shared_ptr<Channel>> Snapshot();
    std::shared_ptr<Output> CurrentOutput();

    std::mutex lifecycleMutex_;  // Init/Free
    std::mutex tableMutex_;      // channels_, output_, handles
    std::map<DWORD, std::shared_ptr<Channel>> channels_;
    std::shared_ptr<Output> output_;
    DWORD initFlags_ = 0;
    DWORD nextHandle_ = 0;
    std::atomic<HSYNC> nextSync_{0};
    std::jthread mixer_;
    std::atomic<bool> mixerStarted_{false};
    std::atomic<std::thread::id> mixerThread_{};
    std::mutex syncMutex_;  // held by the mixer while it calls end syncs
    std::mutex mixMutex_;   // held by the mixer from rendering a block to pushing it
    std::mutex wakeMutex_;
    std::condition_variable_any wake_;
    bool wakeRequested_ = false;

    std::atomic<int> musicVolume_{100};
    std::atomic<int> sampleVolume_{100};
    std::atomic<int> streamVolume_{100};
    std::atomic<float> bufferSeconds_{0.1f};
};

} // namespace engine
