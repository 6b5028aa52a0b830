#include "SectionCutter.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analysis/ByteReader.h"
#include "analysis/Errors.h"
#include "core/AudioFrames.h"
#include "core/FrameIndex.h"
#include "core/TimeText.h"
#include "files/BinaryFile.h"
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

} // namespace

// What a cut learns before it reads the source: its times, and the
// stream's length and bit rate as the player measured them.
struct TSectionCutter::Measured {
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    bool ToAudioEnd = false;
    std::optional<FileIdentity> File;  // the file the player measured
    int64_t LengthMs = 0;
    int64_t BitRate = 0;
};

// A part's frames as planned, before the walk finds where they lie.
struct TSectionCutter::PlannedPart {
    FrameHeader First;  // the stream's first frame
    SourceTiming Timing;
    PartPlan Plan;
    // The header of the part's header frame; none for a constant rate too
    // low for one (see HeaderFrameHeader).
    std::optional<FrameHeader> HeaderFrame;
    bool Gapless = false;
};

// Where the walk found a part's frames, and the frames put in front of them.
struct TSectionCutter::WalkedPart {
    int64_t StartByte = 0;
    int64_t EndByte = 0;
    int64_t AudioFrames = 0;
    std::vector<uint8_t> Leading;  // the reservoir frame, or silence
    int64_t LeadingFrames = 0;
    std::optional<TocSamples> Toc;  // found on the way, when it could be
};

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

std::optional<TSectionCutter::Measured> TSectionCutter::Measure(const CutRequest& request)
{
    std::error_code error;
    if (!fs::is_regular_file(request.Source, error))
        return std::nullopt;
    // Replacing the source would destroy it while it is being read, and
    // removing an open file succeeds here: compare identities, not texts.
    if (IsSameFile(request.Source, request.Target))
        return std::nullopt;

    Measured cut;
    int64_t offsetMs = std::clamp<int64_t>(request.OffsetMs, -kMaxOffsetMs, kMaxOffsetMs);
    cut.StartMs = SaturatingAdd(TimeTextToMilliseconds(request.StartText), offsetMs);
    cut.EndMs = SaturatingAdd(TimeTextToMilliseconds(request.EndText), offsetMs);
    if (!(cut.StartMs < cut.EndMs)) {
        lastCutEmpty_ = true;
        return std::nullopt;
    }

    if (!player_.PlayerReady())
        return std::nullopt;
    // The player measures a source once: the next parts of a split ask
    // again only when the file has changed meanwhile.
    if (struct stat status {}; ::stat(request.Source.c_str(), &status) == 0)
        cut.File = IdentityOfStatus(status);
    bool opened = false;
    if (memo_ && cut.File && memo_->File == *cut.File && memo_->LengthMs) {
        opened = true;
        cut.LengthMs = *memo_->LengthMs;
        cut.BitRate = memo_->BitRate;
    } else {
        opened = player_.Open(request.Source);
        cut.LengthMs = opened ? static_cast<int64_t>(player_.PlayLength()) : 0;
        cut.BitRate = opened ? static_cast<int64_t>(player_.StreamInfo().BitRate) : 0;
    }
    player_.Close();
    if (!opened || cut.BitRate <= 0)
        return std::nullopt;
    if (!(cut.StartMs < cut.LengthMs)) {
        lastCutEmpty_ = true;
        return std::nullopt;
    }
    // The stream's length itself is not shifted: an end at or past it is the audio end.
    cut.ToAudioEnd = request.ToAudioEnd || cut.EndMs >= cut.LengthMs;
    cut.StartMs = std::max<int64_t>(cut.StartMs, 0);
    return cut;
}

std::optional<TSectionCutter::WalkMemo> TSectionCutter::MemoFor(BinaryFile& source,
                                                                const std::optional<FileIdentity>& identity,
                                                                const Measured& cut)
{
    // The identity is taken from the open file, so a memo of another file,
    // or of this one before it changed, is never used for what is read.
    std::optional<WalkMemo> memo;
    if (memo_ && identity && memo_->File == *identity)
        memo = *memo_;
    else
        memo = Locate(source, identity.value_or(FileIdentity{}));
    if (!memo)
        return std::nullopt;
    // What the player said holds for the file as it was measured.
    if (cut.File && identity && *cut.File == *identity) {
        memo->LengthMs = cut.LengthMs;
        memo->BitRate = cut.BitRate;
    } else {
        memo->LengthMs.reset();
    }
    memo_.reset();
    return memo;
}

TSectionCutter::PlannedPart TSectionCutter::PlanFrames(const CutRequest& request, const Measured& cut,
                                                       WalkMemo& memo, TFrameWalker& walker, TFrameIndex* index)
{
    PlannedPart part{*walker.FirstHeader(), {}, {}, {}, false};
    const int64_t samplesPerFrame = part.First.Samples();
    part.Timing = TimingOf(memo.Span, part.First);
    auto streamSamples = [&] {
        if (!memo.Frames && index != nullptr)
            memo.Frames = index->FrameCount();
        if (!memo.Frames) {
            walker.ResumeAt(memo.FrameStart, memo.FrameIndex);
            walker.AdvanceTo(memo.Span.AudioEnd);
            memo.Frames = walker.FrameIndex();
        }
        return KeptSamples(part.Timing, *memo.Frames, samplesPerFrame);
    };
    // A section's bounds are its times; a part's are its split point's.
    const SplitPoint section{SplitPoint::Unit::Milliseconds, cut.StartMs, cut.EndMs, cut.ToAudioEnd, {}, {}, {}};
    const SplitPoint& point = request.Part ? *request.Part : section;
    const SampleRange samples = SamplesOf(point, part.First.SampleRate(), streamSamples);
    const bool toAudioEnd = request.Part ? request.ToAudioEnd : cut.ToAudioEnd;

    bool sourceVariable = memo.Span.SourceHeader && memo.Span.SourceHeader->Fields.VariableBitRate;
    part.HeaderFrame = HeaderFrameHeader(part.First, !sourceVariable);
    // Decoders honour a LAME delay and padding on Layer III only, and only
    // from a header frame: other parts are cut on frame boundaries.
    part.Gapless = request.Gapless && part.First.IsLayer3() && part.HeaderFrame.has_value();
    part.Plan = PlanPart(part.Timing, part.First, samples, toAudioEnd, part.Gapless);
    // Fewer than two frames left behind a part of a split would make a
    // last part too short to write and lose them: they go into this part.
    if (request.Part && part.Plan.EndFrame >= 0 && memo.Frames && *memo.Frames - part.Plan.EndFrame < 2)
        part.Plan = PlanPart(part.Timing, part.First, samples, true, part.Gapless);
    return part;
}

TSectionCutter::WalkedPart TSectionCutter::WalkPart(const PlannedPart& part, WalkMemo& memo, TFrameWalker& walker,
                                                    TFrameIndex* index)
{
    const PartPlan& plan = part.Plan;
    // Walk to the part's first frame from the furthest point known to lie
    // far enough before it for the frames a reservoir frame needs.
    const int64_t walkFrom = std::max<int64_t>(plan.FirstFrame - TFrameWalker::kRecentFrames / 2, 0);
    if (memo.FrameIndex <= walkFrom)
        walker.ResumeAt(memo.FrameStart, memo.FrameIndex);
    else
        walker.ResumeAt(memo.Span.TimeZero, 0);
    SeekFrame(walker, index, walkFrom);
    WalkedPart walked;
    walked.StartByte = walker.AdvanceToFrame(plan.FirstFrame);
    // The frames in front of the source's: the reservoir frame, or silence.
    if (walker.FrameIndex() == plan.FirstFrame && plan.WantReservoir)
        walked.Leading = ReservoirFrameBefore(walker, plan.FirstFrame, walked.StartByte, part.First);
    if (plan.WantReservoir && walked.Leading.empty())
        walked.Leading = RenderReservoirFrame(part.First, {});  // keeps the delay's count of frames
    if (plan.WantReservoir)
        walked.LeadingFrames = 1;
    for (; walked.LeadingFrames < plan.SilentFrames; ++walked.LeadingFrames) {
        auto silence = RenderReservoirFrame(part.First, {});
        walked.Leading.insert(walked.Leading.end(), silence.begin(), silence.end());
    }
    // Where the part will end is mostly known before the walk gets there,
    // and then the TOC's frames are found on the way.
    std::optional<int64_t> plannedEnd = plan.EndFrame >= 0 ? std::optional<int64_t>(plan.EndFrame) : memo.Frames;
    if (plannedEnd && *plannedEnd > plan.FirstFrame && walker.FrameIndex() == plan.FirstFrame)
        walked.Toc = SampleToc(walker, index, plan.FirstFrame, *plannedEnd - plan.FirstFrame + walked.LeadingFrames,
                               walked.LeadingFrames);
    if (plan.EndFrame < 0 && index != nullptr)
        SeekFrame(walker, index, index->FrameCount());
    walked.EndByte =
        plan.EndFrame < 0 ? walker.AdvanceTo(memo.Span.AudioEnd) : SeekFrame(walker, index, plan.EndFrame);
    walked.AudioFrames = walker.FrameIndex() - plan.FirstFrame;
    if (walked.Toc && (!plannedEnd || *plannedEnd - plan.FirstFrame != walked.AudioFrames))
        walked.Toc.reset();
    int64_t checkpointIndex = std::max<int64_t>(walker.FrameIndex() - (TFrameWalker::kRecentFrames - 1), 0);
    if (auto checkpoint = walker.RecentFrameStart(checkpointIndex); checkpoint && checkpointIndex >= memo.FrameIndex) {
        memo.FrameIndex = checkpointIndex;
        memo.FrameStart = *checkpoint;
    }
    return walked;
}

bool TSectionCutter::WritePart(const CutRequest& request, BinaryFile& source, const PlannedPart& part,
                               WalkedPart& walked, const AudioSpan& span, TFrameWalker& walker, TFrameIndex* index)
{
    PartPlan plan = part.Plan;
    if (walked.EndByte >= span.AudioEnd && plan.EndFrame >= 0 && part.Gapless)
        plan.Padding = part.Timing.HasLame ? part.Timing.Padding : 0;  // the part ends with the source
    const int64_t headerLength = part.HeaderFrame ? static_cast<int64_t>(part.HeaderFrame->Length()) : 0;
    auto file = std::make_unique<PendingFile>(request.Target);
    const int64_t tagBytes =
        request.Tags ? static_cast<int64_t>(request.Tags->ID3v2.size() + request.Tags->ID3v1.size()) : 0;
    file->Reserve(tagBytes + headerLength + static_cast<int64_t>(walked.Leading.size()) + walked.EndByte
                  - walked.StartByte);
    PartCopy copy;
    copy.HeaderAt = file->WriteFront(request.Tags, headerLength, walked.Leading);
    // The header frame describes the part's frames, all known by now.
    if (part.HeaderFrame) {
        PartLayout layout;
        layout.HeaderLength = headerLength;
        layout.LeadingLength = static_cast<int64_t>(walked.Leading.size());
        layout.LeadingFrames = walked.LeadingFrames;
        layout.LeadingRateDiffers = !walked.Leading.empty() && (walked.Leading[2] >> 4) != part.First.BitRateIndex;
        layout.FirstFrame = plan.FirstFrame;
        layout.AudioFrames = walked.AudioFrames;
        layout.StartByte = walked.StartByte;
        layout.EndByte = walked.EndByte;
        if (!walked.Toc) {
            walker.ResumeAt(walked.StartByte, plan.FirstFrame);
            walked.Toc = SampleToc(walker, index, plan.FirstFrame, walked.AudioFrames + walked.LeadingFrames,
                                   walked.LeadingFrames);
        }
        copy.HeaderFrame = RenderHeaderFrame(*part.HeaderFrame, PartHeaderFields(span, layout, *walked.Toc, plan));
    }
    // What is left is copying: the audio, the ID3v1 tag, the header frame.
    copy.StartByte = walked.StartByte;
    copy.EndByte = walked.EndByte;
    if (request.Tags)
        copy.ID3v1 = request.Tags->ID3v1;
    copy.LeadingCrc = LameTagCrc(walked.Leading.data(), walked.Leading.size());
    if (request.MayFinishLater && request.Overwrite) {
        // This part is copied on a thread of its own while the next ones are cut.
        writer_.HandOver(std::move(file), source, request.Source, std::move(copy), request.PartIndex);
        return true;
    }
    return writer_.WriteNow(std::move(file), source, copy, request.Overwrite);
}

bool TSectionCutter::CutOrHandOver(const CutRequest& request)
{
    lastCutEmpty_ = false;
    auto cut = Measure(request);
    if (!cut)
        return false;
    BinaryFile source;
    if (!source.Open(request.Source, BinaryFile::Mode::Read))
        throw FileOpenError(request.Source, source.LastError());
    const auto identity = IdentityOfDescriptor(source.Descriptor());
    auto memo = MemoFor(source, identity, *cut);
    if (!memo)
        return false;
    // What the walk learns is kept for the next cut of the same file.
    auto remember = [&] {
        if (identity)
            memo_ = memo;
    };
    if (request.Part && !memo->Index)
        memo->Index = IndexFor(source, *memo);
    TFrameIndex* index = request.Part ? memo->Index.get() : nullptr;
    // With the index, this walk only hops a few frames from known starts:
    // a small copied window reads no more of the file than those frames.
    TFrameWalker walker(source, memo->Span, index != nullptr ? 8 * 1024 : kWholeWalkWindow);
    if (!walker.FirstHeader()) {
        remember();
        return false;
    }
    const PlannedPart part = PlanFrames(request, *cut, *memo, walker, index);
    WalkedPart walked = WalkPart(part, *memo, walker, index);
    remember();
    // A file of less than 0.1 s of frames does not open, here or in the
    // window; a section that short says so instead of being written.
    const int64_t frames = walked.AudioFrames + walked.LeadingFrames;
    if (!request.Part && frames * part.First.Samples() * 10 < part.First.SampleRate())
        throw CorvellaError(kSectionTooShort);
    // One lone frame is no playable file: decoders look for a second header
    // behind the first before they accept a stream.
    if (walked.AudioFrames < 2) {
        lastCutEmpty_ = true;
        return false;
    }
    std::error_code error;
    if (fs::exists(request.Target, error) && !request.Overwrite)
        return false;
    return WritePart(request, source, part, walked, memo->Span, walker, index);
}

TSectionCutter::~TSectionCutter() = default;

std::optional<TSectionCutter::WalkMemo> TSectionCutter::Locate(BinaryFile& source, const FileIdentity& identity)
{
    int64_t fileSize = source.Size();
    if (fileSize < 0)
        throw StreamReadError();
    auto span = LocateAudio(source, fileSize);
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
    writer_.ForgetFailedPart();
    try {
        return CutOrHandOver(request);
    } catch (...) {
        // Parts still being copied finish first; an error of one of them is
        // the earlier one, and the one reported.
        FinishPendingParts();
        throw;
    }
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
        return LocateAudio(file, fileSize).has_value();
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
