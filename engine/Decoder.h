// Decoder: the interface every format decoder of the library implements.
// A decoder owns its file for its whole life and turns it into interleaved
// signed 16-bit PCM at its own sample rate and channel count. Frames are
// sample frames (one sample per channel). A decoder is used by one thread at
// a time; the channel that owns it serialises access.
#pragma once

#include <cstdint>

namespace engine {

// The highest sample rate a channel is made for; a header that claims more
// is not taken at its word.
constexpr int kHighestSampleRate = 768000;

class Decoder {
public:
    virtual ~Decoder() = default;
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    virtual int SampleRate() const = 0;  // Hz, > 0
    virtual int Channels() const = 0;    // >= 1
    // Total length in frames, from headers only; -1 when it is not known.
    virtual int64_t LengthFrames() const = 0;
    // Reads up to `frames` frames into `out` (room for frames * Channels()
    // samples). Returns the number read; 0 only at the end of the stream.
    virtual int64_t Read(int16_t* out, int64_t frames) = 0;
    // Moves to an absolute frame. Throws EngineError(BASS_ERROR_POSITION)
    // when the decoder cannot go there.
    virtual void Seek(int64_t frame) = 0;
};

// A decoder whose rate, channel count and length are found once, when it
// opens its file, and kept as they are.
class OpenedDecoder : public Decoder {
public:
    int SampleRate() const override { return rate_; }
    int Channels() const override { return channels_; }
    int64_t LengthFrames() const override { return lengthFrames_; }

protected:
    int rate_ = 0;
    int channels_ = 0;
    int64_t lengthFrames_ = -1;
};

} // namespace engine
