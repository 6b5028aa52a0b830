#include "SectionCutter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <numeric>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "analysis/ByteReader.h"
#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/AudioFrames.h"
#include "core/FrameIndex.h"
#include "core/TimeText.h"
#include "files/BinaryFile.h"
#include "files/StagedFile.h"
#include "playback/BASSChannel.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMaxOffsetMs = 5000;
// A walk from time 0 to a cut's end reads much of the file in order.
constexpr size_t kWholeWalkWindow = 1024 * 1024;

int64_t SaturatingAdd(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

// The new content of a target, unseen until it is complete (see
// StagedFile); nothing of it is left behind unless it was committed.
class PendingFile {
public:
    explicit PendingFile(const std::string& target) : target_(target)
    {
        // A new file's usual permissions: 0666 less the umask.
        if (!staged_.Create(target, 0666, false))
            throw CorvellaError(staged_.LastError());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    BinaryFile& File() { return staged_.File(); }

    // Places the blocks of a file of size bytes before anything is
    // written: the file system then maps each written page to a block it
    // already holds instead of reserving one page by page, which made a
    // split into ten files a tenth slower than one copy of the source. Only
    // a hint: where the file system cannot do it, writing places the blocks.
    void Reserve(int64_t size)
    {
        if (size > 0)
            (void)::fallocate(staged_.File().Descriptor(), FALLOC_FL_KEEP_SIZE, 0, size);
    }

    void Write(const void* bytes, size_t count)
    {
        if (count > 0 && !staged_.File().Write(bytes, count))
            throw ::StreamWriteError(target_, staged_.File().LastError());
    }

    // Overwrites bytes written before (the header frame, once the part's
    // frames are known), leaving the write position where it is.
    void WriteAt(int64_t position, const void* bytes, size_t count)
    {
        const auto* data = static_cast<const uint8_t*>(bytes);
        while (count > 0) {
            ssize_t written = ::pwrite(staged_.File().Descriptor(), data, count, position);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throw ::StreamWriteError(target_, SystemErrorText(written < 0 ? errno : ENOSPC));
            data += written;
            position += written;
            count -= static_cast<size_t>(written);
        }
    }

    // Puts the content in place of target. False (and nothing changed) when
    // target exists and may not be replaced.
    bool CommitAs(const std::string& target, bool replace)
    {
        // The last look before the name changes: a device or a pipe that
        // took the name meanwhile is refused, never replaced.
        bool notRegular = false;
        auto outcome = staged_.Commit(target, replace, [&] {
            notRegular = IsExistingNonRegularFile(target);
            return !notRegular;
        });
        switch (outcome) {
        case StagedFile::Outcome::Done: return true;
        case StagedFile::Outcome::NameTaken: return false;
        case StagedFile::Outcome::Failed: break;
        }
        if (notRegular)
            throw FileCreateError(target, kNotARegularFile);
        throw CorvellaError(staged_.LastError());
    }

private:
    std::string target_;
    StagedFile staged_;
};

// Copies count bytes from position of source to the end of target (named
// targetName in messages). The kernel copies without passing the bytes through this process where it
// can; otherwise a plain read and write loop does it.
void CopyRange(BinaryFile& source, BinaryFile& target, const std::string& targetName, int64_t position,
               int64_t count)
{
    loff_t from = position;
    int64_t left = count;
    while (left > 0) {
        ssize_t copied = ::copy_file_range(source.Descriptor(), &from, target.Descriptor(), nullptr,
                                           static_cast<size_t>(std::min<int64_t>(left, int64_t(1) << 30)), 0);
        if (copied > 0) {
            left -= copied;
            continue;
        }
        if (copied == 0)
            throw StreamReadError();
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)
            break;
        if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT)
            throw ::StreamWriteError(targetName, SystemErrorText(errno));
        throw StreamReadError();
    }
    if (left == 0)
        return;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)));
    if (!source.Seek(from))
        throw StreamReadError();
    while (left > 0) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!source.ReadExact(buffer.data(), chunk))
            throw StreamReadError();
        if (!target.Write(buffer.data(), chunk))
            throw ::StreamWriteError(targetName, target.LastError());
        left -= static_cast<int64_t>(chunk);
    }
}

// What is left of a part once its frames are known and its front is
// written: the audio, the ID3v1 tag behind it and the header frame, whose
// music CRC goes on from LeadingCrc (that of the frames written in front of
// the source's) over the audio.
struct PartCopy {
    std::string Target;
    int64_t StartByte = 0;
    int64_t EndByte = 0;
    std::vector<uint8_t> ID3v1;
    int64_t HeaderAt = 0;
    std::vector<uint8_t> HeaderFrame;
    uint16_t LeadingCrc = 0;
};

// The LAME CRC-16 of count bytes of source from position on, going on from crc.
uint16_t CrcOfRange(BinaryFile& source, int64_t position, int64_t count, uint16_t crc)
{
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(count, 0, 1 << 20)));
    if (count > 0 && !source.Seek(position))
        throw StreamReadError();
    for (int64_t left = count; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!source.ReadExact(buffer.data(), chunk))
            throw StreamReadError();
        crc = LameTagCrc(buffer.data(), chunk, crc);
        left -= static_cast<int64_t>(chunk);
    }
    return crc;
}

// Writes the rest of a part and puts it in place when mayCommit, asked
// last, agrees. False when it does not, or when the target exists and may
// not be replaced.
bool CopyAndCommit(PendingFile& part, BinaryFile& source, const PartCopy& copy, bool replace,
                   const std::function<bool()>& mayCommit = {})
{
    CopyRange(source, part.File(), copy.Target, copy.StartByte, copy.EndByte - copy.StartByte);
    part.Write(copy.ID3v1.data(), copy.ID3v1.size());
    if (!copy.HeaderFrame.empty()) {
        std::vector<uint8_t> headerFrame = copy.HeaderFrame;
        PutMusicCrc(headerFrame, CrcOfRange(source, copy.StartByte, copy.EndByte - copy.StartByte, copy.LeadingCrc));
        part.WriteAt(copy.HeaderAt, headerFrame.data(), headerFrame.size());
    }
    if (mayCommit && !mayCommit())
        return false;
    return part.CommitAs(copy.Target, replace);
}

// How many parts of a split are copied at once: the kernel copies a file on
// the thread that asks, so each processor can copy one.
size_t PartsCopiedAtOnce()
{
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
}

// Bytes of a leading ID3v2 tag with its header (a footer not counted), as
// the tag reader gives them; 0 without a tag or when its size field claims
// more than the file holds. Only the tag's header is read.
int64_t LeadingTagSize(BinaryFile& file, int64_t fileSize)
{
    uint8_t header[10] = {};
    if (fileSize < 10 || !file.Seek(0) || !file.ReadExact(header, sizeof header))
        return 0;
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return 0;
    int64_t size = ID3v2TagLength(header + 6);
    return size <= fileSize ? size : 0;
}

bool EndsWithId3v1(BinaryFile& file, int64_t fileSize)
{
    uint8_t id[3] = {};
    return fileSize >= 128 && file.Seek(fileSize - 128) && file.ReadExact(id, sizeof id) && id[0] == 'T'
        && id[1] == 'A' && id[2] == 'G';
}

// How the source's samples sit in a decoder's raw output (every frame's
// samples, from the first frame after the header frame on): a decoder
// that honours the source's LAME extension drops Skip samples at the start
// and keeps up to Padding - 529 samples before the end.
struct SourceTiming {
    bool HasLame = false;
    int64_t Skip = 0;
    int64_t Padding = 0;
};

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

int64_t MillisecondsToSamples(int64_t ms, uint32_t sampleRate)
{
    __int128 samples = static_cast<__int128>(ms) * sampleRate / 1000;
    return static_cast<int64_t>(std::clamp<__int128>(samples, 0, INT64_MAX / 4));
}

// Where equal part index of count starts, in samples of a stream of total.
int64_t PartBound(int64_t total, int64_t index, int64_t count)
{
    return static_cast<int64_t>(static_cast<__int128>(total) * index / count);
}

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

PartPlan PlanPart(const SourceTiming& timing, const FrameHeader& first, int64_t startSample, int64_t endSample,
                  bool toAudioEnd, bool gapless)
{
    const int64_t samplesPerFrame = first.Samples();
    const int64_t rawStart = startSample + timing.Skip;
    const int64_t rawEnd = endSample + timing.Skip;
    PartPlan plan;
    if (startSample == 0 && !(gapless && rawStart < kDecoderDelay)) {
        plan.Delay = timing.Skip - kDecoderDelay;
    } else if (!gapless) {
        plan.FirstFrame = NearestBoundary(rawStart, samplesPerFrame);
        plan.Delay = plan.FirstFrame == 0 ? timing.Skip - kDecoderDelay : 0;
    } else {
        // The frame whose output holds the first sample, behind the frames
        // whose output it overlaps with; the delay drops what comes before
        // that sample.
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

// A frame holding, at the end of its main data area, the bytes that frame
// index (at start) takes from the frames before it through the bit
// reservoir; empty when it needs none or they are not to be had.
std::vector<uint8_t> ReservoirFrameBefore(TFrameWalker& walker, int64_t index, int64_t start, const FrameHeader& like)
{
    size_t available = 0;
    const uint8_t* bytes = walker.Bytes(start, 8, available);
    auto header = bytes && available >= 4 ? FrameHeader::Parse(bytes) : std::nullopt;
    if (!header)
        return {};
    size_t need = static_cast<size_t>(MainDataBegin(bytes, available, *header));
    std::vector<uint8_t> reservoir;
    int64_t frameEnd = start;
    for (int64_t earlier = index - 1; reservoir.size() < need; --earlier) {
        auto frameStart = walker.RecentFrameStart(earlier);
        if (!frameStart)
            return {};
        const uint8_t* frame = walker.Bytes(*frameStart, static_cast<size_t>(frameEnd - *frameStart), available);
        auto earlierHeader = frame && available >= 4 ? FrameHeader::Parse(frame) : std::nullopt;
        if (!earlierHeader || available < static_cast<size_t>(frameEnd - *frameStart))
            return {};
        int64_t dataStart = *frameStart + static_cast<int64_t>(earlierHeader->DataOffset());
        int64_t take = std::min<int64_t>(static_cast<int64_t>(need - reservoir.size()), frameEnd - dataStart);
        if (take > 0)
            reservoir.insert(reservoir.begin(), frame + (frameEnd - take - *frameStart), frame + (frameEnd - *frameStart));
        frameEnd = *frameStart;
    }
    return RenderReservoirFrame(like, reservoir);
}

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

// Moves walker to the frame of the given index and returns its start (the
// audio end when the stream has fewer frames). With an index, the walk
// starts from the closest start it knows when that is nearer, or when the
// frame lies behind the walker.
int64_t SeekFrame(TFrameWalker& walker, TFrameIndex* index, int64_t frame)
{
    if (index != nullptr) {
        auto [start, known] = index->StartAtOrBefore(frame);
        if (known > walker.FrameIndex() || walker.FrameIndex() > frame)
            walker.ResumeAt(start, known);
    }
    return walker.AdvanceToFrame(frame);
}

// Walks to the frames at each hundredth of a part of frames frames (the
// leading frames put in front, if any, counted first) that starts at firstFrame.
TocSamples SampleToc(TFrameWalker& walker, TFrameIndex* index, int64_t firstFrame, int64_t frames, int64_t leading)
{
    TocSamples samples;
    for (size_t i = 0; i < 100; ++i) {
        int64_t q = static_cast<int64_t>(static_cast<__int128>(i) * frames / 100);
        if (q < leading) {
            samples.Positions[i] = -1;
            samples.LeadingIndex[i] = q;
            continue;
        }
        int64_t position = SeekFrame(walker, index, firstFrame + q - leading);
        size_t available = 0;
        const uint8_t* header = walker.Bytes(position, 4, available);
        samples.Positions[i] = position;
        samples.Rates[i] = header && available >= 4 ? header[2] >> 4 : 0;
    }
    return samples;
}

// The header frame of a part: its frame and byte counts, and the TOC. The
// rates at the TOC's frames tell a variable bit rate where the source has
// no header frame to say so.
HeaderFrameFields HeaderFieldsFor(const AudioSpan& span, const PartLayout& layout, const TocSamples& toc)
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
    return fields;
}

} // namespace

// A part copied on a thread of its own (see CutRequest::MayFinishLater).
struct TSectionCutter::PendingPart {
    std::unique_ptr<PendingFile> Part;
    std::unique_ptr<BinaryFile> Source;
    PartCopy Copy;
    int32_t Index = 0;                // CutRequest::PartLast
    std::shared_future<bool> Before;  // the part before it went into place
    std::promise<bool> Placed;
    std::shared_future<bool> PlacedFuture = Placed.get_future().share();
    std::exception_ptr Error;
    std::jthread Thread;  // last: joined before the rest goes
};

PartTags RenderPartTags(const TID3v1& id3v1, const TID3v2& id3v2)
{
    // The parts get the source's tag as a v2.3 tag: a frame it has no place
    // for would be lost on every part.
    if (const std::string uncarried = id3v2.UncarriedFrames(); !uncarried.empty())
        throw CorvellaError("The ID3v2 tag of the source holds frames that an ID3v2.3 tag has no place for ("
                            + uncarried + "). The parts would lose them, so none is written.");
    PartTags tags;
    tags.ID3v2 = id3v2.RenderTag();
    // Decoders count an ID3v1 tag they do not expect as stream bytes, and
    // then mistrust a short part's frame count: a source without one gives
    // parts without one.
    if (id3v1.Exists()) {
        auto id3v1Bytes = id3v1.RenderTag();
        tags.ID3v1.assign(id3v1Bytes.begin(), id3v1Bytes.end());
    }
    return tags;
}

TSectionCutter::TSectionCutter(TBASSChannel& player) : player_(player) {}

bool TSectionCutter::CutSection(const std::string& source, const std::string& target, const std::string& startText,
                                const std::string& endText, bool overwrite, int64_t offsetMs)
{
    CutRequest request;
    request.Source = source;
    request.Target = target;
    request.StartText = startText;
    request.EndText = endText;
    request.Overwrite = overwrite;
    request.OffsetMs = offsetMs;
    return Cut(request);
}

TSectionCutter::~TSectionCutter() = default;

std::optional<TSectionCutter::WalkMemo> TSectionCutter::Locate(BinaryFile& source, const FileIdentity& identity)
{
    int64_t fileSize = source.Size();
    if (fileSize < 0)
        throw StreamReadError();
    auto span = LocateAudio(source, fileSize, LeadingTagSize(source, fileSize), EndsWithId3v1(source, fileSize));
    if (!span)
        return std::nullopt;
    WalkMemo memo;
    memo.File = identity;
    memo.Span = *span;
    memo.FrameStart = span->TimeZero;
    // The frame count of the source's header frame when its byte count says
    // it describes this very stream; else a walk counts them.
    const auto& header = span->SourceHeader;
    if (header && header->HasFrames && header->HasBytes && header->Fields.Frames > 0
        && header->Fields.Bytes == span->AudioEnd - span->SourceHeaderStart)
        memo.Frames = header->Fields.Frames;
    return memo;
}

std::shared_ptr<TFrameIndex> TSectionCutter::IndexFor(const BinaryFile& source, const WalkMemo& memo)
{
    // The parts of a split share one index of the stream's frames, walked
    // while the parts before are written. A second walk helps only while
    // nothing can be written before the count is known: otherwise it takes
    // the processor from the writing.
    return std::make_shared<TFrameIndex>(source, memo.Span,
                                         memo.Frames ? TFrameIndex::kOneWalk : TFrameIndex::kTwoWalksFrom);
}

void TSectionCutter::PrepareParts(const std::string& sourceName)
{
    BinaryFile source;
    if (!source.Open(sourceName, BinaryFile::Mode::Read))
        return;
    auto identity = IdentityOfDescriptor(source.Descriptor());
    if (!identity || (memo_ && memo_->File == *identity && memo_->Index))
        return;
    try {
        auto memo = Locate(source, *identity);
        if (!memo)
            return;
        memo->Index = IndexFor(source, *memo);
        memo_ = std::move(*memo);
    } catch (const CorvellaError&) {
        // The cut meets the same error and reports it.
    }
}

bool TSectionCutter::Cut(const CutRequest& request)
{
    failedPart_.reset();
    try {
        return CutOrHandOver(request);
    } catch (...) {
        // Parts still being copied finish first; an error of one of them is
        // the earlier one, and the one reported.
        FinishPendingParts();
        throw;
    }
}

bool TSectionCutter::CutOrHandOver(const CutRequest& request)
{
    lastCutEmpty_ = false;
    std::error_code error;
    if (!fs::is_regular_file(request.Source, error))
        return false;
    // Replacing the source would destroy it while it is being read, and
    // removing an open file succeeds here: compare identities, not texts.
    if (IsSameFile(request.Source, request.Target))
        return false;

    int64_t offsetMs = std::clamp<int64_t>(request.OffsetMs, -kMaxOffsetMs, kMaxOffsetMs);
    int64_t startMs = SaturatingAdd(TimeTextToMilliseconds(request.StartText), offsetMs);
    int64_t endMs = SaturatingAdd(TimeTextToMilliseconds(request.EndText), offsetMs);
    if (!(startMs < endMs)) {
        lastCutEmpty_ = true;
        return false;
    }

    if (!player_.PlayerReady())
        return false;
    // The player measures a source once: the next parts of a split ask
    // again only when the file has changed meanwhile.
    std::optional<FileIdentity> measured;
    if (struct stat status {}; ::stat(request.Source.c_str(), &status) == 0)
        measured = IdentityOfStatus(status);
    bool opened = false;
    int64_t lengthMs = 0;
    int64_t bitRate = 0;
    if (memo_ && measured && memo_->File == *measured && memo_->LengthMs) {
        opened = true;
        lengthMs = *memo_->LengthMs;
        bitRate = memo_->BitRate;
    } else {
        opened = player_.Open(request.Source);
        lengthMs = opened ? static_cast<int64_t>(player_.PlayLength()) : 0;
        bitRate = opened ? static_cast<int64_t>(player_.StreamInfo().BitRate) : 0;
    }
    player_.Close();
    if (!opened || bitRate <= 0)
        return false;
    if (!(startMs < lengthMs)) {
        lastCutEmpty_ = true;
        return false;
    }
    // The stream's length itself is not shifted: an end at or past it is the audio end.
    bool toAudioEnd = request.ToAudioEnd || endMs >= lengthMs;
    startMs = std::max<int64_t>(startMs, 0);

    BinaryFile source;
    if (!source.Open(request.Source, BinaryFile::Mode::Read))
        throw FileOpenError(request.Source, source.LastError());
    // The identity is taken from the open file, so a memo of another file,
    // or of this one before it changed, is never used for what is read.
    auto identity = IdentityOfDescriptor(source.Descriptor());
    bool known = memo_ && identity && memo_->File == *identity;
    WalkMemo memo;
    if (known) {
        memo = *memo_;
    } else if (auto located = Locate(source, identity.value_or(FileIdentity{}))) {
        memo = std::move(*located);
    } else {
        return false;
    }
    // What the player said holds for the file as it was measured.
    if (measured && identity && *measured == *identity) {
        memo.LengthMs = lengthMs;
        memo.BitRate = bitRate;
    } else {
        memo.LengthMs.reset();
    }
    memo_.reset();
    auto remember = [&] {
        if (identity)
            memo_ = memo;
    };
    const AudioSpan& span = memo.Span;
    if (request.PartCount > 0 && !memo.Index)
        memo.Index = IndexFor(source, memo);
    TFrameIndex* index = request.PartCount > 0 ? memo.Index.get() : nullptr;
    // With the index, this walk only hops a few frames from known starts:
    // a small copied window reads no more of the file than those frames.
    TFrameWalker walker(source, span, index != nullptr ? 8 * 1024 : kWholeWalkWindow);
    if (!walker.FirstHeader()) {
        remember();
        return false;
    }
    const FrameHeader& first = *walker.FirstHeader();
    const int64_t samplesPerFrame = first.Samples();
    SourceTiming timing = TimingOf(span, first);

    // The part's bounds as samples of the source's time line.
    int64_t startSample = 0;
    int64_t endSample = 0;
    if (request.PartCount > 0) {
        if (!memo.Frames && index != nullptr)
            memo.Frames = index->FrameCount();
        if (!memo.Frames) {
            walker.ResumeAt(memo.FrameStart, memo.FrameIndex);
            walker.AdvanceTo(span.AudioEnd);
            memo.Frames = walker.FrameIndex();
        }
        int64_t keptEnd = *memo.Frames * samplesPerFrame - (timing.HasLame ? timing.Padding - kDecoderDelay : 0);
        int64_t total = std::max<int64_t>(keptEnd - timing.Skip, 0);
        startSample = PartBound(total, request.PartFirst, request.PartCount);
        endSample = PartBound(total, request.PartLast + 1, request.PartCount);
        toAudioEnd = request.ToAudioEnd;
    } else {
        startSample = MillisecondsToSamples(startMs, first.SampleRate());
        endSample = MillisecondsToSamples(endMs, first.SampleRate());
    }
    bool sourceVariable = span.SourceHeader && span.SourceHeader->Fields.VariableBitRate;
    std::optional<FrameHeader> headerFrameHeader = HeaderFrameHeader(first, !sourceVariable);
    // Decoders honour a LAME delay and padding on Layer III only, and only
    // from a header frame: other parts are cut on frame boundaries.
    const bool gapless = request.Gapless && first.IsLayer3() && headerFrameHeader.has_value();
    PartPlan plan = PlanPart(timing, first, startSample, endSample, toAudioEnd, gapless);
    // Fewer than two frames left behind an equal part would make a last
    // part too short to write and lose them: they go into this part.
    if (request.PartCount > 0 && plan.EndFrame >= 0 && memo.Frames && *memo.Frames - plan.EndFrame < 2) {
        plan = PlanPart(timing, first, startSample, endSample, true, gapless);
    }

    // Walk to the part's first frame from the furthest point known to lie
    // far enough before it for the frames a reservoir frame needs.
    const int64_t walkFrom = std::max<int64_t>(plan.FirstFrame - TFrameWalker::kRecentFrames / 2, 0);
    if (memo.FrameIndex <= walkFrom)
        walker.ResumeAt(memo.FrameStart, memo.FrameIndex);
    else
        walker.ResumeAt(span.TimeZero, 0);
    SeekFrame(walker, index, walkFrom);
    int64_t startByte = walker.AdvanceToFrame(plan.FirstFrame);
    // The frames in front of the source's: the reservoir frame, or silence.
    std::vector<uint8_t> leading;
    int64_t leadingFrames = 0;
    if (walker.FrameIndex() == plan.FirstFrame && plan.WantReservoir)
        leading = ReservoirFrameBefore(walker, plan.FirstFrame, startByte, first);
    if (plan.WantReservoir && leading.empty())
        leading = RenderReservoirFrame(first, {});  // keeps the delay's count of frames
    if (plan.WantReservoir)
        leadingFrames = 1;
    for (; leadingFrames < plan.SilentFrames; ++leadingFrames) {
        auto silence = RenderReservoirFrame(first, {});
        leading.insert(leading.end(), silence.begin(), silence.end());
    }
    // Where the part will end is mostly known before the walk gets there,
    // and then the TOC's frames are found on the way.
    std::optional<int64_t> plannedEnd = plan.EndFrame >= 0 ? std::optional<int64_t>(plan.EndFrame) : memo.Frames;
    std::optional<TocSamples> toc;
    if (plannedEnd && *plannedEnd > plan.FirstFrame && walker.FrameIndex() == plan.FirstFrame)
        toc = SampleToc(walker, index, plan.FirstFrame, *plannedEnd - plan.FirstFrame + leadingFrames, leadingFrames);
    if (plan.EndFrame < 0 && index != nullptr)
        SeekFrame(walker, index, index->FrameCount());
    int64_t endByte = plan.EndFrame < 0 ? walker.AdvanceTo(span.AudioEnd) : SeekFrame(walker, index, plan.EndFrame);
    int64_t audioFrames = walker.FrameIndex() - plan.FirstFrame;
    if (toc && (!plannedEnd || *plannedEnd - plan.FirstFrame != audioFrames))
        toc.reset();
    if (endByte >= span.AudioEnd && plan.EndFrame >= 0 && gapless)
        plan.Padding = timing.HasLame ? timing.Padding : 0;  // the part ends with the source
    int64_t checkpointIndex = std::max<int64_t>(walker.FrameIndex() - (TFrameWalker::kRecentFrames - 1), 0);
    if (auto checkpoint = walker.RecentFrameStart(checkpointIndex); checkpoint && checkpointIndex >= memo.FrameIndex) {
        memo.FrameIndex = checkpointIndex;
        memo.FrameStart = *checkpoint;
    }
    remember();
    // A file of less than 0.1 s of frames does not open, here or in the
    // window; a section that short says so instead of being written.
    if (request.PartCount == 0 && (audioFrames + leadingFrames) * samplesPerFrame * 10 < first.SampleRate())
        throw CorvellaError(kSectionTooShort);
    // One lone frame is no playable file: decoders look for a second header
    // behind the first before they accept a stream.
    if (audioFrames < 2) {
        lastCutEmpty_ = true;
        return false;
    }
    if (fs::exists(request.Target, error) && !request.Overwrite)
        return false;

    int64_t delay = plan.Delay;
    int64_t headerLength = headerFrameHeader ? static_cast<int64_t>(headerFrameHeader->Length()) : 0;

    auto part = std::make_unique<PendingFile>(request.Target);
    const int64_t tagBytes =
        request.Tags ? static_cast<int64_t>(request.Tags->ID3v2.size() + request.Tags->ID3v1.size()) : 0;
    part->Reserve(tagBytes + headerLength + static_cast<int64_t>(leading.size()) + endByte - startByte);
    if (request.Tags)
        part->Write(request.Tags->ID3v2.data(), request.Tags->ID3v2.size());
    int64_t headerAt = part->File().Position();
    if (headerAt < 0)
        throw StreamReadError();
    // The header frame's place, filled in once the part is written.
    std::vector<uint8_t> placeholder(static_cast<size_t>(headerLength), 0);
    part->Write(placeholder.data(), placeholder.size());
    part->Write(leading.data(), leading.size());

    // The header frame describes the part's frames, all known by now.
    std::vector<uint8_t> headerFrame;
    if (headerFrameHeader) {
        PartLayout layout;
        layout.HeaderLength = headerLength;
        layout.LeadingLength = static_cast<int64_t>(leading.size());
        layout.LeadingFrames = leadingFrames;
        layout.LeadingRateDiffers = !leading.empty() && (leading[2] >> 4) != first.BitRateIndex;
        layout.FirstFrame = plan.FirstFrame;
        layout.AudioFrames = audioFrames;
        layout.StartByte = startByte;
        layout.EndByte = endByte;
        if (!toc) {
            walker.ResumeAt(startByte, plan.FirstFrame);
            toc = SampleToc(walker, index, plan.FirstFrame, audioFrames + leadingFrames, leadingFrames);
        }
        HeaderFrameFields fields = HeaderFieldsFor(span, layout, *toc);
        fields.Delay = static_cast<uint16_t>(std::clamp<int64_t>(delay, 0, kMaxDelayOrPadding));
        fields.Padding = static_cast<uint16_t>(std::clamp<int64_t>(plan.Padding, 0, kMaxDelayOrPadding));
        headerFrame = RenderHeaderFrame(*headerFrameHeader, fields);
    }

    // What is left is copying: the audio, the ID3v1 tag, the header frame.
    PartCopy copy;
    copy.Target = request.Target;
    copy.StartByte = startByte;
    copy.EndByte = endByte;
    if (request.Tags)
        copy.ID3v1 = request.Tags->ID3v1;
    copy.HeaderAt = headerAt;
    copy.HeaderFrame = std::move(headerFrame);
    copy.LeadingCrc = LameTagCrc(leading.data(), leading.size());
    if (request.MayFinishLater && request.Overwrite) {
        if (pending_.size() >= PartsCopiedAtOnce())
            FinishOldestPendingPart();
        // This part is copied on a thread of its own while the next ones
        // are cut. A descriptor of its own keeps the copies' file positions
        // apart.
        auto job = std::make_unique<PendingPart>();
        job->Source = std::make_unique<BinaryFile>();
        if (!job->Source->OpenSameFileAs(source))
            throw FileOpenError(request.Source, job->Source->LastError());
        source.Close();
        job->Copy = std::move(copy);
        job->Part = std::move(part);
        job->Index = request.PartLast;
        if (!pending_.empty())
            job->Before = pending_.back()->PlacedFuture;
        PendingPart* running = job.get();
        job->Thread = std::jthread([running] {
            bool placed = false;
            try {
                // Parts go into place in order, and none after one that failed.
                placed = CopyAndCommit(*running->Part, *running->Source, running->Copy, true,
                                       [running] { return !running->Before.valid() || running->Before.get(); });
            } catch (...) {
                running->Error = std::current_exception();
            }
            running->Source->Close();
            running->Placed.set_value(placed);
        });
        pending_.push_back(std::move(job));
        return true;
    }
    // Parts before this one, copied meanwhile, go into place first: an
    // error of one of them ends the run before this part is put in place.
    bool written = CopyAndCommit(*part, source, copy, request.Overwrite, [this] {
        FinishPendingParts();
        return true;
    });
    source.Close();
    return written;
}

void TSectionCutter::FinishOldestPendingPart()
{
    pending_.front()->Thread.join();
    if (pending_.front()->Error)
        FinishPendingParts();  // the parts after it give up; its error is thrown
    else
        pending_.pop_front();
}

void TSectionCutter::FinishPendingParts()
{
    if (pending_.empty())
        return;
    failedPart_.reset();
    std::exception_ptr error;
    while (!pending_.empty()) {
        std::unique_ptr<PendingPart> job = std::move(pending_.front());
        pending_.pop_front();
        if (job->Thread.joinable())
            job->Thread.join();
        if (job->Error && !error) {
            error = job->Error;
            failedPart_ = job->Index;
        }
    }
    if (error)
        std::rethrow_exception(error);
}

std::optional<bool> HoldsMpegAudio(const std::string& path)
{
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return std::nullopt;
    const int64_t fileSize = file.Size();
    if (fileSize < 0)
        return std::nullopt;
    try {
        return LocateAudio(file, fileSize, LeadingTagSize(file, fileSize), EndsWithId3v1(file, fileSize)).has_value();
    } catch (const CorvellaError&) {
        return std::nullopt;  // the cut meets the same error and reports it
    }
}

bool ForceDeleteFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    if (S_ISREG(status.st_mode))
        ::chmod(path.c_str(), (status.st_mode & 07777 & ~(S_ISUID | S_ISGID)) | S_IWUSR);
    return ::unlink(path.c_str()) == 0;
}

bool IsExistingNonRegularFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    if (::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    std::error_code error;
    fs::path canonicalFirst = fs::weakly_canonical(first, error);
    if (error)
        return false;
    fs::path canonicalSecond = fs::weakly_canonical(second, error);
    return !error && canonicalFirst == canonicalSecond;
}
