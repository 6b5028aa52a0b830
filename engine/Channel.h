// Channel: one decoded source (a file stream or a module music) with its
// transport state, its end syncs and its resampler.
//
// Units: positions and lengths here are source frames (the decoder's own
// sample rate); `outFrame` values count frames of the output (see Output).
// Threads: transport calls come from any API thread, MixInto/TakeEndSyncs
// only from the mixing thread. Two locks keep API calls from waiting on the
// decoder: stateMutex_ guards the transport state and is only held briefly;
// decodeMutex_ guards the decoder and is held by the mixer while it decodes.
// A seek is therefore recorded by the API call and carried out by the mixer.
#pragma once

#include "Decoder.h"
#include "bass.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace engine {

enum class ChannelKind { Stream, Music };

struct SyncCall {
    HSYNC sync;
    DWORD channel;
    SYNCPROC* proc;
    void* user;
};

class Channel {
public:
    // A decodeOnly channel never plays; ReadDecoded takes its PCM instead.
    Channel(DWORD handle, ChannelKind kind, std::unique_ptr<Decoder> decoder, bool decodeOnly = false);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    DWORD Handle() const { return handle_; }
    ChannelKind Kind() const { return kind_; }
    int SampleRate() const { return rate_; }
    int Channels() const { return channels_; }
    int64_t BytesPerFrame() const { return static_cast<int64_t>(channels_) * 2; }
    // BASS_SAMPLE_MONO for a mono source. Never BASS_SAMPLE_8BITS: 8-bit
    // sources are decoded to 16-bit samples like every other.
    DWORD Flags() const { return flags_; }
    // -1 when the decoder cannot tell.
    int64_t LengthFrames() const { return lengthFrames_; }
    Decoder& DecoderForInfo() { return *decoder_; }
    bool DecodeOnly() const { return decodeOnly_; }

    // Decoding channels: reads up to `frames` frames of the source's own PCM
    // from the position on (applying a pending seek first) and moves the
    // position on; 0 at the end.
    int64_t ReadDecoded(int16_t* out, int64_t frames);

    // Starts or continues from the current position; true if it was not
    // already playing.
    bool Play();
    // Throws BASS_ERROR_NOPLAY when not playing. `heardEnd` is the output
    // frame from which nothing of the channel will be heard any more.
    void Pause(int64_t heardEnd);
    // Throws BASS_ERROR_NOPAUSE when not paused.
    void Resume();
    // Halts without rewinding (heardEnd as for Pause).
    void Stop(int64_t heardEnd);
    // Throws BASS_ERROR_POSITION beyond the known length.
    void SetPosition(int64_t frame);
    int64_t Position(int64_t playedOut) const;
    DWORD Activity() const;

    // After this no end sync of the channel is handed out any more, and it
    // is mixed no more.
    void MarkFreed();
    // The output dropped every frame from output frame `cut` on: what this
    // channel had rendered there is forgotten and rendered again.
    void CutAt(int64_t cut);

    void AddSync(HSYNC sync, SYNCPROC* proc, void* user);
    bool RemoveSync(HSYNC sync);

    // Mixing thread, before MixInto: carries out a recorded seek, which may
    // take long, while API calls are free to change the channel.
    void PrepareForMix();
    // Mixing thread: renders `frames` output frames at `outRate` into `mix`
    // (stereo float, added with `gain`), the first of which will be output
    // frame `outStart`.
    void MixInto(float* mix, int64_t frames, int outRate, int64_t outStart, float gain);
    // Mixing thread: when the channel's last frame has been heard, stops it
    // and returns the end syncs to call (without any lock held).
    std::vector<SyncCall> TakeEndSyncs(int64_t playedOut);
    // Mixing thread: forgets position marks that lie wholly in the past.
    void ForgetPlayed(int64_t playedOut);

private:
    enum class State { Stopped, Playing, Paused };
    // What was rendered into output frames [outStart, outEnd): source
    // frames [srcStart, srcEnd).
    struct Mark {
        int64_t outStart, outEnd, srcStart, srcEnd;
    };
    struct Sync {
        HSYNC sync;
        SYNCPROC* proc;
        void* user;
    };

    int64_t PositionLocked(int64_t playedOut) const;
    void HaltLocked(int64_t heardEnd, State next);
    // Decode-side helpers (decodeMutex_ held).
    void SeekDecoderLocked(int64_t frame);
    bool FillSourceLocked();
    int64_t RenderLocked(int64_t frames, int outRate);

    const DWORD handle_;
    const ChannelKind kind_;
    const bool decodeOnly_;
    int rate_;
    int channels_;
    DWORD flags_;
    int64_t lengthFrames_;

    mutable std::mutex stateMutex_;
    State state_ = State::Stopped;
    int64_t held_ = 0;  // position while no mark applies
    std::optional<int64_t> pendingSeek_;
    uint64_t generation_ = 0;  // bumped by every change that voids rendered audio
    std::deque<Mark> marks_;
    bool ending_ = false;  // the decoder is exhausted; ends at endOut_
    int64_t endOut_ = 0;
    std::vector<Sync> syncs_;
    bool freed_ = false;

    std::mutex decodeMutex_;
    std::unique_ptr<Decoder> decoder_;
    std::vector<int16_t> source_;  // decoded frames not yet consumed
    int64_t sourceFrames_ = 0;
    int64_t sourceIndex_ = 0;
    bool decoderDone_ = false;
    double phase_ = 0.0;
    int64_t sourcePosition_ = 0;  // source frame at sourceIndex_
    std::vector<float> rendered_;  // stereo output of the last render
};

} // namespace engine
