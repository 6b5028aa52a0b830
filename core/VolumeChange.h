// VolumeChange: the level of an MP3 file, or of stretches of it, changed in
// steps of 1.5 dB by moving the global gain of its granules (GlobalGain.h),
// the coded audio untouched, and taken back again byte for byte.
//
// Every change is recorded in the file's ID3v2 tag (VolumeRecord.h) in the
// same write as the audio: the file is rewritten through a staged copy
// renamed over it (FileRewrite.h), so that a crash leaves it wholly before
// or wholly after the change. Frames with a CRC that was right get it
// renewed; a LAME header's music CRC (and the header's own CRC) is renewed
// when it was right.
//
// Granules are counted from the first audio frame, 576 samples each, and
// placed in time as decoders place them: less the encoder delay a LAME
// header announces and the decoder's own 529 samples.
//
// Reads and writes files; one call at a time per file, any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The steps of global gain the granule with this index (from the first
// audio frame) is to move by.
using GainCurve = std::function<int(int64_t granule)>;

struct VolumeOutcome {
    bool Done = false;
    std::string Error;       // why not, when !Done
    int64_t Entries = 0;     // granule/channel pairs changed
    int64_t Clamped = 0;     // of them, pairs held at 0 or 255 short of the steps asked for
    int Undoable = 0;        // changes the file's record holds afterwards
};

// Where the granules of a file lie in its decoded time.
struct GranuleTiming {
    uint32_t SampleRate = 0;  // Hz
    int64_t LeadSamples = 0;  // samples before the first decoded one: delay + 529, or 529
    int64_t Granules = 0;     // in the whole stream

    // The granule whose middle lies at or after decoded time ms.
    int64_t GranuleAt(int64_t ms) const;
    // Decoded milliseconds at the middle of granule.
    double MiddleMs(int64_t granule) const;
};

// nullopt when the file holds no Layer III audio.
std::optional<GranuleTiming> ReadGranuleTiming(const std::string& path, std::string& error);

// The granules [First, End) of the decoded times [StartMs, EndMs) of a
// stream; the whole stream when no start or end is given.
struct GranuleRange {
    GranuleTiming Timing;
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    int64_t First = 0;
    int64_t End = 0;
};
GranuleRange RangeOfTimes(const GranuleTiming& timing, std::optional<int64_t> startMs, std::optional<int64_t> endMs,
                          int64_t lengthMs);

// A peak (of full scale 1) after a change of steps of 1.5 dB.
double PeakAfterSteps(double peak, int steps);

// Moves every granule by curve(granule) steps (clamped to 0..255); a curve
// that moves nothing is refused.
VolumeOutcome ApplyVolumeChange(const std::string& path, const GainCurve& curve);
// Takes the last recorded change back.
VolumeOutcome UndoVolumeChange(const std::string& path);

// Curves. The range [firstGranule, endGranule) of a stream.
GainCurve ConstantGain(int steps, int64_t firstGranule, int64_t endGranule);

enum class FadeShape { Decibels, Cosine };
// The steps (<= 0) of a fade at position 0..1 of its span, 0 the silent
// end at floorDb, 1 full level: linear in dB, or a raised cosine in
// amplitude mapped to the nearest step, never below the floor.
int FadeSteps(double position, double floorDb, FadeShape shape);
// Fades in over the granules [firstGranule, firstGranule + inGranules) and
// out over the last outGranules before endGranule.
GainCurve Fade(int64_t firstGranule, int64_t endGranule, int64_t inGranules, int64_t outGranules, double floorDb,
               FadeShape shape);

// Puts TXXX frames of these descriptions into the file's tag, in place of
// those it holds (RenderUserTexts), the audio as it was.
VolumeOutcome WriteUserTexts(const std::string& path, const std::vector<std::pair<std::string, std::string>>& texts);
