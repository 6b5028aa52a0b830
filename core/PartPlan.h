// The part plan: what a part of a cut holds, worked out from where it lies
// on the source's time line, without reading or writing a file.
//
// A part is asked for as a SplitPoint (from the section command's times,
// an equal share of the stream, or any other source of split points); the
// plan turns it into samples of the source's time line, then into the
// frames that hold them (PlanPart) with the delay and padding a gapless
// decoder needs, and at last into the fields of the part's header frame
// (PartHeaderFields). See SectionCutter.h for the time line and the rules
// of whole-frame and gapless parts. Pure functions; any thread.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/AudioFrames.h"
#include "core/FrameModel.h"

// One part asked for: its range of the source's time line and, where its
// source names it, the file it goes into.
struct SplitPoint {
    enum class Unit { Milliseconds, Samples };
    Unit In = Unit::Milliseconds;
    int64_t Start = 0;
    int64_t End = 0;
    // The part ends at the audio end whatever End says (the last part,
    // which must not lose the stream's last milliseconds).
    bool ToAudioEnd = false;
    // Parts First to Last (0-based) of Count equal parts of the stream's
    // samples. The exact sample count is only known once the frames are
    // counted, so these bounds are taken then, in place of Start and End.
    struct Shares {
        int32_t Count = 0;
        int32_t First = 0;
        int32_t Last = 0;
    };
    std::optional<Shares> Equal;
    // The part's file name; empty: the one its command gives by default.
    std::string Name;
    // What the part's own tags say over the source's (see PartTagTexts):
    // its title and performer where its source gives them, and its place
    // Number of Count. Nothing: the part carries the source's tags as they
    // are, as equal parts always have.
    struct OwnTags {
        std::string Title;
        std::string Performer;
        int64_t Number = 0;
        int64_t Count = 0;
    };
    std::optional<OwnTags> Tags;
};

// How the source's samples sit in a decoder's raw output (every frame's
// samples, from the first frame after the header frame on): a decoder
// that honours the source's LAME extension drops Skip samples at the start
// and keeps up to Padding - 529 samples before the end.
struct SourceTiming {
    bool HasLame = false;
    int64_t Skip = 0;
    int64_t Padding = 0;
};
SourceTiming TimingOf(const AudioSpan& span, const FrameHeader& first);

// The samples a decoder keeps of a stream of frames frames.
int64_t KeptSamples(const SourceTiming& timing, int64_t frames, int64_t samplesPerFrame);

// A part's bounds in samples of the source's time line.
struct SampleRange {
    int64_t Start = 0;
    int64_t End = 0;
};
// The samples of point at sampleRate; streamSamples (KeptSamples) is only
// asked for a point of equal shares.
template <class StreamSamples>
SampleRange SamplesOf(const SplitPoint& point, uint32_t sampleRate, StreamSamples&& streamSamples);
// Bounds past this lie beyond any stream, and leave room to add to them.
inline constexpr int64_t kLatestSample = INT64_MAX / 4;
int64_t MillisecondsToSamples(int64_t ms, uint32_t sampleRate);
// Where equal part index of count starts, in samples of a stream of total.
int64_t PartBound(int64_t total, int64_t index, int64_t count);

// Which frames a part holds, and what a gapless decoder drops of them.
struct PartPlan {
    int64_t FirstFrame = 0;
    int64_t EndFrame = -1;       // first frame after the part; -1: the audio end
    bool WantReservoir = false;  // a reservoir frame goes before FirstFrame
    // Frames of silence in front of the stream's first frame, for a start
    // too close to it for the delay to reach back to (a source without a
    // LAME extension, whose decoders drop nothing).
    int64_t SilentFrames = 0;
    int64_t Delay = 0;           // LAME delay, counted from FirstFrame
    int64_t Padding = 0;
};
PartPlan PlanPart(const SourceTiming& timing, const FrameHeader& first, SampleRange samples, bool toAudioEnd,
                  bool gapless);

// Where a part's bytes lie: its header frame, the frames put in front of
// the source's (a reservoir frame, or silence), and the source's frames
// [StartByte, EndByte), the frames FirstFrame on.
struct PartLayout {
    int64_t HeaderLength = 0;
    int64_t LeadingLength = 0;
    int64_t LeadingFrames = 0;
    bool LeadingRateDiffers = false;  // the frames in front have a rate of their own
    int64_t FirstFrame = 0;
    int64_t AudioFrames = 0;
    int64_t StartByte = 0;
    int64_t EndByte = 0;
};

// Where the frames at each hundredth of a part lie, and their rate
// indices; -1 for the frames put in front of the source's, which are
// LeadingIndex frames into them.
struct TocSamples {
    std::array<int64_t, 100> Positions{};
    std::array<uint8_t, 100> Rates{};
    std::array<int64_t, 100> LeadingIndex{};
};

// The header frame of a part: its frame and byte counts, the TOC, and the
// plan's delay and padding. The rates at the TOC's frames tell a variable
// bit rate where the source has no header frame to say so. The music CRC
// is left for the copy of the part's frames to fill in.
HeaderFrameFields PartHeaderFields(const AudioSpan& span, const PartLayout& layout, const TocSamples& toc,
                                   const PartPlan& plan);

template <class StreamSamples>
SampleRange SamplesOf(const SplitPoint& point, uint32_t sampleRate, StreamSamples&& streamSamples)
{
    if (point.Equal) {
        const int64_t total = streamSamples();
        return {PartBound(total, point.Equal->First, point.Equal->Count),
                PartBound(total, int64_t(point.Equal->Last) + 1, point.Equal->Count)};
    }
    if (point.In == SplitPoint::Unit::Samples)
        return {std::clamp<int64_t>(point.Start, 0, kLatestSample), std::clamp<int64_t>(point.End, 0, kLatestSample)};
    return {MillisecondsToSamples(point.Start, sampleRate), MillisecondsToSamples(point.End, sampleRate)};
}
