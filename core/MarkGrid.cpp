#include "MarkGrid.h"

#include <algorithm>
#include <cmath>

#include "analysis/Errors.h"
#include "core/AudioFrames.h"
#include "files/BinaryFile.h"

MarkGrid MarkGrid::ForFile(const std::string& fileName, int64_t lengthMs, bool gapless, int64_t cutOffsetMs)
{
    MarkGrid grid;
    grid.lengthMs_ = std::max<int64_t>(lengthMs, 0);
    grid.cutOffsetMs_ = cutOffsetMs;
    try {
        BinaryFile file;
        if (!file.Open(fileName, BinaryFile::Mode::Read))
            return grid;
        const int64_t fileSize = file.Size();
        const auto span = fileSize > 0 ? LocateAudio(file, fileSize) : std::nullopt;
        if (!span)
            return grid;
        TFrameWalker walker(file, *span);
        const auto& first = walker.FirstHeader();
        if (!first || first->SampleRate() == 0)
            return grid;
        grid.sampleRate_ = first->SampleRate();
        grid.samplesPerFrame_ = first->Samples();
        grid.first_ = *first;
        grid.timing_ = TimingOf(*span, *first);
        grid.snaps_ = !gapless;
    } catch (const CorvellaError&) {
        return MarkGrid{};
    }
    return grid;
}

int64_t MarkGrid::Clamp(int64_t ms) const { return std::clamp<int64_t>(ms, 0, lengthMs_); }

int64_t MarkGrid::SampleOf(int64_t ms) const { return MillisecondsToSamples(ms, sampleRate_); }

int64_t MarkGrid::MsOf(int64_t sample) const
{
    // Rounded up, so that the millisecond turned back into samples (which
    // rounds down) lands on this sample or just after it, never before.
    return (sample * 1000 + sampleRate_ - 1) / sampleRate_;
}

int64_t MarkGrid::Snap(int64_t ms) const
{
    ms = Clamp(ms);
    if (!snaps_ || ms == lengthMs_)
        return ms;
    const int64_t cutMs = ms + cutOffsetMs_;
    if (cutMs <= 0)
        return ms;
    const int64_t sample = SampleOf(cutMs);
    const int64_t frame = PlanPart(timing_, first_, {sample, sample}, false, false).FirstFrame;
    // A part beginning with frame f > 0 decodes from sample f x frame + 529
    // of the source's raw output, which the time line shifts by the skip;
    // one beginning with the first frame starts at time 0.
    const int64_t onTimeLine = frame == 0 ? 0 : frame * samplesPerFrame_ + kDecoderDelay - timing_.Skip;
    return Clamp(MsOf(std::max<int64_t>(onTimeLine, 0)) - cutOffsetMs_);
}

int64_t MarkGrid::StepFrames(int64_t ms, int64_t frames) const
{
    const int64_t from = Snap(ms);
    int64_t to = Clamp(MsOf(std::max<int64_t>(SampleOf(from) + frames * samplesPerFrame_, 0)));
    return Snap(to);
}

int64_t MarkGrid::MoveByFrames(int64_t ms, int64_t frames) const
{
    return Clamp(MsOf(std::max<int64_t>(SampleOf(ms) + frames * samplesPerFrame_, 0)));
}
