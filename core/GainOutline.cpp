#include "GainOutline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "analysis/ByteReader.h"
#include "analysis/Errors.h"
#include "core/GranuleGain.h"
#include "core/AudioFrames.h"
#include "files/BinaryFile.h"
#include "playback/LevelPyramid.h"

namespace {

// The header, a CRC and the longest side information (MPEG 1 stereo).
constexpr size_t kSideInfoReach = 4 + 2 + 32;
constexpr int64_t kFramesBetweenStopChecks = 4096;
constexpr double kSineCrestDb = 3.0;

// Granule estimates gathered for the block under way, set as one.
class BlockGatherer {
public:
    explicit BlockGatherer(LevelPyramid& levels) : levels_(levels) {}
    ~BlockGatherer() { Flush(); }
    BlockGatherer(const BlockGatherer&) = delete;
    BlockGatherer& operator=(const BlockGatherer&) = delete;

    void Add(int64_t firstSample, double power)
    {
        const int64_t block = firstSample / levels_.BlockSamples();
        if (block != block_)
            Flush();
        block_ = block;
        power_ += power;
        loudest_ = std::max(loudest_, power);
        ++granules_;
    }

private:
    void Flush()
    {
        if (granules_ > 0) {
            const double peak = std::sqrt(loudest_) * std::pow(10.0, kSineCrestDb / 20.0);
            levels_.SetBlock(block_, static_cast<float>(std::min(peak, 1.0)),
                             static_cast<float>(std::min(power_ / granules_, 1.0)));
        }
        power_ = loudest_ = 0;
        granules_ = 0;
    }

    LevelPyramid& levels_;
    int64_t block_ = -1;
    double power_ = 0;
    double loudest_ = 0;
    int64_t granules_ = 0;
};

// The power a granule's entries stand for, all channels together (mid and
// side carry the power of left and right between them as well).
double GranulePower(const FrameGains& gains, int granule)
{
    double power = 0;
    for (int channel = 0; channel < gains.Channels; ++channel) {
        const double db = EstimatedGranuleDb(gains.At(granule, channel));
        if (db > kSilenceDb)
            power += std::pow(10.0, db / 10.0);
    }
    return power / gains.Channels;
}

bool WalkGains(BinaryFile& file, LevelPyramid& levels, const std::stop_token& stop)
{
    const int64_t fileSize = file.Size();
    if (fileSize < 0)
        return false;
    const auto span = LocateAudio(file, fileSize);
    if (!span)
        return false;
    TFrameWalker walker(file, *span);
    if (!walker.FirstHeader() || !walker.FirstHeader()->IsLayer3())
        return false;
    BlockGatherer gatherer(levels);
    // A decoder that honours the source's LAME extension drops its delay
    // and its own 529 samples at the start: the granules are placed on the
    // decoded timeline, where the levels are.
    int64_t sample = 0;
    if (span->SourceHeader && span->SourceHeader->HasLame)
        sample = -(span->SourceHeader->Fields.Delay + kDecoderDelay);
    for (int64_t position = walker.Position(); position < span->AudioEnd;) {
        if (walker.FrameIndex() % kFramesBetweenStopChecks == 0 && stop.stop_requested())
            return false;
        // The side information is copied out before the walk moves its
        // window on to the next frame.
        std::array<uint8_t, kSideInfoReach> head{};
        size_t available = 0;
        const uint8_t* bytes = walker.Bytes(position, head.size(), available);
        std::memcpy(head.data(), bytes, std::min(available, head.size()));
        const int64_t next = walker.AdvanceToFrame(walker.FrameIndex() + 1);
        // A frame cut short by the next one (or by the audio end) has no
        // trustworthy side information; its samples still pass.
        const size_t frameBytes = static_cast<size_t>(std::min<int64_t>(next - position, kSideInfoReach));
        const FrameGains gains = ReadFrameGains(head.data(), std::min(available, frameBytes));
        for (int granule = 0; granule < gains.Granules; ++granule) {
            const int64_t granuleEnd = sample + (granule + 1) * gains.SamplesPerGranule;
            if (granuleEnd > 0)
                gatherer.Add(std::max<int64_t>(granuleEnd - gains.SamplesPerGranule, 0), GranulePower(gains, granule));
        }
        sample += walker.FirstHeader()->Samples();
        position = next;
    }
    return true;
}

} // namespace

bool FillGainOutline(const std::string& fileName, LevelPyramid& levels, std::stop_token stop)
{
    try {
        BinaryFile file;
        return file.Open(fileName, BinaryFile::Mode::Read) && WalkGains(file, levels, stop);
    } catch (const CorvellaError&) {
        return false;
    }
}
