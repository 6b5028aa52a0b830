// DecodedSamples: the 16-bit samples of a whole file as the bound audio
// library decodes it, handed over a block at a time, for measures that need
// every sample (peaks, loudness). No Qt. The library must be bound (a
// TBASSChannel alive); one stream per call, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct SampleFormat {
    int Channels = 0;
    uint32_t SampleRate = 0;  // Hz
};

// count interleaved samples (count / channels frames), the first of them
// the frame `first` of the stream.
using SampleSink = std::function<void(const int16_t* samples, size_t count, int64_t first)>;

// Decodes fileName to its end; format is set before the first block. False
// when the library cannot decode it (the sink then has seen nothing).
bool DecodeSamples(const std::string& fileName, SampleFormat& format, const SampleSink& sink);
