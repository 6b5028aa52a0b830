#include "PartPlan.h"

#include <numeric>

SourceTiming TimingOf(const AudioSpan& span, const FrameHeader& first)
{
    SourceTiming timing;
    if (span.SourceHeader && span.SourceHeader->HasLame && first.IsLayer3()) {
        timing.HasLame = true;
        timing.Skip = span.SourceHeader->Fields.Delay + kDecoderDelay;
        timing.Padding = span.SourceHeader->Fields.Padding;
    }
    return timing;
}

int64_t KeptSamples(const SourceTiming& timing, int64_t frames, int64_t samplesPerFrame)
{
    int64_t keptEnd = frames * samplesPerFrame - (timing.HasLame ? timing.Padding - kDecoderDelay : 0);
    return std::max<int64_t>(keptEnd - timing.Skip, 0);
}

int64_t MillisecondsToSamples(int64_t ms, uint32_t sampleRate)
{
    __int128 samples = static_cast<__int128>(ms) * sampleRate / 1000;
    return static_cast<int64_t>(std::clamp<__int128>(samples, 0, kLatestSample));
}

int64_t PartBound(int64_t total, int64_t index, int64_t count)
{
    return static_cast<int64_t>(static_cast<__int128>(total) * index / count);
}

namespace {

// The frame boundary nearest to a raw output position, for parts made of
// whole frames. A decoder drops 529 samples at the start of every part,
// so the boundary leans that much earlier at a part's start than at its
// end; halving it keeps both within a frame and one rule for both, so
// that part k ends exactly where part k + 1 begins.
int64_t NearestBoundary(int64_t raw, int64_t samplesPerFrame)
{
    int64_t leaning = raw - kDecoderDelay / 2 + samplesPerFrame / 2;
    return leaning <= 0 ? 0 : leaning / samplesPerFrame;
}

// The first frame of a gapless part that starts after time 0: the frame
// whose output holds the first sample, behind the frames whose output it
// overlaps with; the delay drops what comes before that sample.
void PlanGaplessStart(PartPlan& plan, const FrameHeader& first, int64_t rawStart)
{
    const int64_t samplesPerFrame = first.Samples();
    int64_t holding = rawStart / samplesPerFrame;
    int64_t needed = std::max<int64_t>(holding - first.OverlapFrames(), 0);
    // mpg123's synthesis filter turns its buffer one step per 32
    // samples and rounds a little differently at each turn of eight;
    // the same samples come out to the bit only when the part reaches
    // them at the same turn as the source does. So the part starts a
    // frame or a few earlier when that lines the turns up and the delay
    // still fits its 12 bits, preferably where mpg123 still decodes the
    // part from its first frame (by default it skips all but the last
    // kDecodedBefore frames before the first sample it keeps).
    constexpr int64_t kDecodedBefore = 4;
    const int64_t period = 8 / std::gcd<int64_t>(samplesPerFrame / 32, 8);
    const int64_t preferredDelay = (kDecodedBefore + 1) * samplesPerFrame - kDecoderDelay - 1;
    auto aligned = [&](int64_t maxDelay) -> std::optional<int64_t> {
        for (int64_t candidate = needed; candidate >= 0; --candidate) {
            int64_t outputStart = candidate - (candidate > 0 && first.IsLayer3() ? 1 : 0);
            if (rawStart - kDecoderDelay - outputStart * samplesPerFrame > maxDelay)
                break;
            if (outputStart % period == 0)
                return candidate;
        }
        return std::nullopt;
    };
    plan.FirstFrame = aligned(std::min(preferredDelay, kMaxDelayOrPadding))
                          .value_or(aligned(kMaxDelayOrPadding).value_or(needed));
    // Layer III frames take main data from the frames before them: a
    // frame of silence in front carries it (see ReservoirFrameBefore).
    plan.WantReservoir = plan.FirstFrame > 0 && first.IsLayer3();
    int64_t outputStart = plan.FirstFrame - (plan.WantReservoir ? 1 : 0);
    plan.Delay = rawStart - kDecoderDelay - outputStart * samplesPerFrame;
    if (plan.Delay < 0) {
        // Decoders drop 529 samples more than the delay: silence in
        // front gives them those, as many frames as keep mpg123's turns
        // lined up. Silence leaves the decoder as it starts, so the
        // source's frames then decode as they do from its start.
        plan.SilentFrames = period;
        plan.Delay += period * samplesPerFrame;
    }
}

} // namespace

PartPlan PlanPart(const SourceTiming& timing, const FrameHeader& first, SampleRange samples, bool toAudioEnd,
                  bool gapless)
{
    const int64_t samplesPerFrame = first.Samples();
    const int64_t rawStart = samples.Start + timing.Skip;
    const int64_t rawEnd = samples.End + timing.Skip;
    PartPlan plan;
    if (samples.Start == 0 && !(gapless && rawStart < kDecoderDelay)) {
        plan.Delay = timing.Skip - kDecoderDelay;
    } else if (!gapless) {
        plan.FirstFrame = NearestBoundary(rawStart, samplesPerFrame);
        plan.Delay = plan.FirstFrame == 0 ? timing.Skip - kDecoderDelay : 0;
    } else {
        PlanGaplessStart(plan, first, rawStart);
    }
    if (toAudioEnd) {
        plan.Padding = timing.HasLame ? timing.Padding : 0;
    } else if (!gapless) {
        plan.EndFrame = std::max(NearestBoundary(rawEnd, samplesPerFrame), plan.FirstFrame);
    } else {
        // The output of frame f is final once f is decoded, so the part ends
        // with the frame that holds its last sample.
        plan.EndFrame = std::max((rawEnd + samplesPerFrame - 1) / samplesPerFrame, plan.FirstFrame);
        plan.Padding = plan.EndFrame * samplesPerFrame + kDecoderDelay - rawEnd;
    }
    return plan;
}

HeaderFrameFields PartHeaderFields(const AudioSpan& span, const PartLayout& layout, const TocSamples& toc,
                                   const PartPlan& plan)
{
    HeaderFrameFields fields;
    const auto& source = span.SourceHeader;
    if (source && source->HasLame) {
        fields.Encoder = source->Fields.Encoder;
        fields.RevisionAndMethod = source->Fields.RevisionAndMethod;
        fields.Lowpass = source->Fields.Lowpass;
        fields.FlagsAndAth = source->Fields.FlagsAndAth;
        fields.BitRate = source->Fields.BitRate;
        fields.Misc = source->Fields.Misc;
        fields.Preset = source->Fields.Preset;
    }
    if (source)
        fields.Quality = source->Fields.Quality;
    int64_t frames = layout.AudioFrames + layout.LeadingFrames;
    int64_t bytes = layout.HeaderLength + layout.LeadingLength + layout.EndByte - layout.StartByte;
    fields.Frames = static_cast<uint32_t>(std::min<int64_t>(frames, UINT32_MAX));
    fields.Bytes = static_cast<uint32_t>(std::min<int64_t>(bytes, UINT32_MAX));
    fields.VariableBitRate = (source && source->Fields.VariableBitRate) || layout.LeadingRateDiffers;
    std::optional<uint8_t> firstRate;
    for (size_t i = 0; i < 100; ++i) {
        int64_t offset = layout.HeaderLength;
        if (toc.Positions[i] < 0 && layout.LeadingFrames > 0) {
            offset += layout.LeadingLength * toc.LeadingIndex[i] / layout.LeadingFrames;
        } else {
            offset += layout.LeadingLength + toc.Positions[i] - layout.StartByte;
            if (!source && firstRate && *firstRate != toc.Rates[i])
                fields.VariableBitRate = true;
            firstRate = firstRate.value_or(toc.Rates[i]);
        }
        fields.Toc[i] = static_cast<uint8_t>(std::min<int64_t>(bytes > 0 ? 256 * offset / bytes : 0, 255));
    }
    // A "Xing" frame whose extension names a constant-rate method (1, or 8
    // for two passes) is taken by mediainfo as having no length at all; a
    // part of a constant-rate source whose frames in front have a rate of
    // their own then names none (0, unknown).
    const uint8_t method = fields.RevisionAndMethod & 0x0F;
    if (fields.VariableBitRate && (method == 1 || method == 8))
        fields.RevisionAndMethod &= 0xF0;
    fields.Delay = static_cast<uint16_t>(std::clamp<int64_t>(plan.Delay, 0, kMaxDelayOrPadding));
    fields.Padding = static_cast<uint16_t>(std::clamp<int64_t>(plan.Padding, 0, kMaxDelayOrPadding));
    return fields;
}
