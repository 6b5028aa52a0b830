// MarkGrid: where a mark of the split page may lie in an MP3 file, so that
// what the user hears at a mark is what the cut part begins or ends with.
//
// A section cut on whole frames starts and ends at the frame boundary the
// part plan picks for its time (PlanPart), the time being the mark moved
// by the cut's offset (the section command cuts a little before its
// marks); a mark is moved to where that boundary's first decoded sample
// lies, less the offset, which the plan maps back to the same frame. A
// gapless cut is sample-exact, so a mark is left where it is (to the
// millisecond the time fields hold). Files that are not MP3 (or not
// readable) have no frames to snap to and behave as gapless. Marks so
// early that the offset takes the cut before time 0 cut from the start
// and are left as they are.
//
// Times are milliseconds of the stream's time line (the cutter's: time 0 is
// the first sample a decoder keeps). Pure after construction; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "core/FrameModel.h"
#include "core/PartPlan.h"

class MarkGrid {
public:
    // Without frames: nothing snaps, a frame counts 1152 samples at 44.1 kHz.
    MarkGrid() = default;
    // Reads fileName's first frame and its LAME delay; lengthMs bounds the
    // marks; cutOffsetMs is what the cut adds to both marks.
    static MarkGrid ForFile(const std::string& fileName, int64_t lengthMs, bool gapless, int64_t cutOffsetMs);

    bool Snaps() const { return snaps_; }
    uint32_t SampleRate() const { return sampleRate_; }
    int64_t SamplesPerFrame() const { return samplesPerFrame_; }

    // The mark the cutter honours for a wish of ms, within 0 .. lengthMs.
    int64_t Snap(int64_t ms) const;
    // The mark `frames` frames (negative: earlier) from the one at ms.
    int64_t StepFrames(int64_t ms, int64_t frames) const;
    // A position `frames` frames from ms, not snapped (the play position).
    int64_t MoveByFrames(int64_t ms, int64_t frames) const;

private:
    int64_t Clamp(int64_t ms) const;
    int64_t SampleOf(int64_t ms) const;
    int64_t MsOf(int64_t sample) const;

    bool snaps_ = false;
    uint32_t sampleRate_ = 44100;
    int64_t samplesPerFrame_ = 1152;
    FrameHeader first_{};
    SourceTiming timing_{};
    int64_t lengthMs_ = INT64_MAX / 4;
    int64_t cutOffsetMs_ = 0;
};
