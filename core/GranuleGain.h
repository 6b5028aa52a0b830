// GranuleGain: the loudness an MPEG Layer III frame announces before any
// decoding. The side information of every granule and channel holds
// part2_3_length (the bits of its scale factors and Huffman data) and
// global_gain (the quantiser's step, 1.5 dB a step); a loud granule needs a
// coarse step, a silent one has no bits at all. That is enough to draw an
// outline of a whole file from its frame headers while the decoder is
// still busy.
//
// Pure functions over the bytes of one frame; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct GranuleGain {
    uint16_t Part23Length = 0;  // bits; 0: the granule decodes to silence
    uint16_t BigValues = 0;     // pairs of coefficients coded by the tables below
    uint8_t GlobalGain = 0;     // quantiser step, 210 is the unit step
    // The largest magnitude the Huffman tables chosen for the big values
    // can code (for tables with linbits, three quarters of it): encoders
    // pick the cheapest table that holds the largest value, so it tells
    // that value within a factor of two.
    double LargestQuantity = 0;
};

// The granules of one frame: MPEG 1 has two, MPEG 2 and 2.5 one, each with
// one entry per channel, granule by granule.
struct FrameGains {
    int Granules = 0;                  // 0: not a Layer III frame, or its side information is cut off
    int Channels = 0;                  // 1 or 2
    int SamplesPerGranule = 0;         // 576
    std::array<GranuleGain, 4> Entries{};  // [granule * Channels + channel]

    const GranuleGain& At(int granule, int channel) const
    {
        return Entries[static_cast<size_t>(granule * Channels + channel)];
    }
};

// The side information of the frame whose header starts frameBytes, which
// holds available bytes; a CRC behind the header is stepped over. Granules
// stays 0 for anything but a Layer III header whose side information lies
// wholly inside available bytes.
FrameGains ReadFrameGains(const uint8_t* frameBytes, size_t available);

// Below this a level counts as silence.
constexpr double kSilenceDb = -120.0;

// The RMS level, in dB of full scale, that a granule stands for: its
// largest coefficient dequantised with the global gain (1.5 dB a step),
// less an offset measured on lame's encodings of sine tones and noise;
// kSilenceDb for a granule without bits. An estimate: the global gain
// alone follows the masking threshold more than the level (a sine at 0 and
// at -60 dB differ by five steps), the largest coefficient carries the rest.
// Averaged as power over a few granules it lands within about 2 dB of the
// decoded RMS for noise and between 2 dB under and 7 dB over it for pure
// tones.
double EstimatedGranuleDb(const GranuleGain& granule);
