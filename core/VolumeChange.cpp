#include "VolumeChange.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/Errors.h"
#include "core/AudioFrames.h"
#include "core/GlobalGain.h"
#include "core/VolumeRecord.h"
#include "files/BinaryFile.h"
#include "files/FileRewrite.h"
#include "files/InPlaceWrite.h"

namespace {

constexpr int64_t kSamplesPerGranule = 576;
// Room left behind a record that made the tag grow, so that the next few
// changes fit without moving the audio again.
constexpr int64_t kRecordRoom = 512;

// FNV-1a, over the header and side information of every frame: all a
// volume change writes, so enough to tell the frames it left from others.
class SideInfoHash {
public:
    void Add(const uint8_t* bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            value_ = (value_ ^ bytes[i]) * 0x100000001b3ULL;
    }
    uint64_t Value() const { return value_; }

private:
    uint64_t value_ = 0xcbf29ce484222325ULL;
};

// The steps of each entry, looked up in increasing order.
class RunCursor {
public:
    RunCursor(const std::vector<GainRun>& runs, int sign) : runs_(runs), sign_(sign) {}
    int StepsOf(int64_t entry)
    {
        while (at_ < runs_.size() && runs_[at_].First + runs_[at_].Count <= entry)
            ++at_;
        return at_ < runs_.size() && runs_[at_].First <= entry ? sign_ * runs_[at_].Steps : 0;
    }

private:
    const std::vector<GainRun>& runs_;
    int sign_;
    size_t at_ = 0;
};

// A file opened for a change: its tag, its audio and what it was.
struct OpenedFile {
    BinaryFile File;
    int64_t Size = 0;
    RecordTag Tag;
    AudioSpan Span;
    FileIdentity Identity;
};

bool Open(const std::string& path, OpenedFile& opened, std::string& error)
{
    // A tag write cut off in place must be completed or dropped first: the
    // rewrite would copy its half-written bytes, and its journal would no
    // longer match the file.
    std::string reason;
    if (!RecoverInPlaceWrite(path, &reason)) {
        error = reason.empty() ? path + ": an interrupted tag write cannot be completed." : reason;
        return false;
    }
    if (!opened.File.Open(path, BinaryFile::Mode::Read)) {
        error = "Cannot open " + path + ": " + opened.File.LastError();
        return false;
    }
    opened.Size = opened.File.Size();
    const std::optional<FileIdentity> identity = IdentityOfDescriptor(opened.File.Descriptor());
    if (opened.Size < 0 || !identity) {
        error = "Cannot read " + path + ": " + opened.File.LastError();
        return false;
    }
    opened.Identity = *identity;
    std::vector<uint8_t> header(10);
    int64_t tagBytes = 0;
    if (opened.Size >= 10 && opened.File.Seek(0) && opened.File.ReadExact(header.data(), header.size()))
        tagBytes = LeadingTagBytes(header);
    if (tagBytes > opened.Size) {
        error = path + ": its ID3v2 tag claims more bytes than the file holds";
        return false;
    }
    std::vector<uint8_t> tag(static_cast<size_t>(tagBytes));
    if (tagBytes > 0 && !(opened.File.Seek(0) && opened.File.ReadExact(tag.data(), tag.size()))) {
        error = "Cannot read " + path + ": " + opened.File.LastError();
        return false;
    }
    std::optional<RecordTag> read = ReadRecordTag(std::move(tag), reason);
    if (!read) {
        error = path + ": the volume cannot be changed, as " + reason + ".";
        return false;
    }
    opened.Tag = std::move(*read);
    std::optional<AudioSpan> span = LocateAudio(opened.File, opened.Size);
    if (!span) {
        error = path + ": no MPEG audio found.";
        return false;
    }
    opened.Span = *span;
    TFrameWalker walker(opened.File, opened.Span);
    if (!walker.FirstHeader() || !walker.FirstHeader()->IsLayer3()) {
        error = path + ": the volume of MPEG audio other than Layer III cannot be changed this way.";
        return false;
    }
    return true;
}

// Calls visit(frame bytes, frame header) for every Layer III frame whose
// side information is there, in order.
template <typename Visit>
void WalkGranules(OpenedFile& opened, Visit&& visit)
{
    TFrameWalker walker(opened.File, opened.Span);
    for (int64_t index = 0;; ++index) {
        const int64_t start = walker.AdvanceToFrame(index);
        if (start >= opened.Span.AudioEnd)
            return;
        size_t available = 0;
        const uint8_t* bytes = walker.Bytes(start, 64, available);
        available = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(available), opened.Span.AudioEnd - start));
        const std::optional<FrameHeader> header = available < 4 ? std::nullopt : FrameHeader::Parse(bytes);
        if (header && header->IsLayer3() && available >= GainBytesOf(*header))
            visit(bytes, *header);
    }
}

// Copies count bytes at position of source to out, through crc when given.
void CopyRaw(BinaryFile& source, int64_t position, int64_t count, std::vector<uint8_t>& out, uint16_t* crcOld,
             uint16_t* crcNew)
{
    if (count <= 0)
        return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(count));
    if (!source.Seek(position) || !source.ReadExact(out.data() + at, static_cast<size_t>(count)))
        throw StreamReadError();
    if (crcOld) {
        *crcOld = LameTagCrc(out.data() + at, static_cast<size_t>(count), *crcOld);
        *crcNew = LameTagCrc(out.data() + at, static_cast<size_t>(count), *crcNew);
    }
}

// Output gathered in memory and written a megabyte at a time.
class BufferedOutput {
public:
    explicit BufferedOutput(BinaryFile& file) : file_(file) { bytes_.reserve(kFlushAt + 8192); }
    std::vector<uint8_t>& Bytes() { return bytes_; }
    // Writes what is gathered once there is enough of it (always: anyway).
    bool Flush(bool always)
    {
        if (!always && bytes_.size() < kFlushAt)
            return true;
        const bool written = file_.Write(bytes_.data(), bytes_.size());
        bytes_.clear();
        return written;
    }

private:
    static constexpr size_t kFlushAt = size_t{1} << 20;
    BinaryFile& file_;
    std::vector<uint8_t> bytes_;
};

// The music CRC of the audio as it was and as it is written.
struct MusicCrcs {
    uint16_t Old = 0;
    uint16_t New = 0;
};

// Copies the audio [span.TimeZero, span.AudioEnd) of source to out, every
// entry moved by cursor's steps; false when a write failed.
bool CopyAudioChanged(BinaryFile& source, const AudioSpan& span, RunCursor& cursor, BufferedOutput& out,
                      MusicCrcs& crcs)
{
    int64_t copied = span.TimeZero;
    TFrameWalker walker(source, span);
    int64_t entry = 0;
    for (int64_t index = 0;; ++index) {
        const int64_t start = walker.AdvanceToFrame(index);
        if (start >= span.AudioEnd)
            break;
        size_t headerBytes = 0;
        const std::optional<FrameHeader> header = FrameHeader::Parse(walker.Bytes(start, 4, headerBytes));
        const int64_t length = std::min<int64_t>(static_cast<int64_t>(header->Length()), span.AudioEnd - start);
        CopyRaw(source, copied, start - copied, out.Bytes(), &crcs.Old, &crcs.New);
        size_t available = 0;
        const uint8_t* bytes = walker.Bytes(start, static_cast<size_t>(length), available);
        if (available < static_cast<size_t>(length))
            throw StreamReadError();
        std::vector<uint8_t>& buffer = out.Bytes();
        const size_t at = buffer.size();
        buffer.insert(buffer.end(), bytes, bytes + length);
        crcs.Old = LameTagCrc(bytes, static_cast<size_t>(length), crcs.Old);
        entry += ChangeGlobalGains(buffer.data() + at, static_cast<size_t>(length), [&](int e, uint8_t old) {
            return static_cast<uint8_t>(old + cursor.StepsOf(entry + e));
        });
        crcs.New = LameTagCrc(buffer.data() + at, static_cast<size_t>(length), crcs.New);
        copied = start + length;
        if (!out.Flush(false))
            return false;
    }
    CopyRaw(source, copied, span.AudioEnd - copied, out.Bytes(), &crcs.Old, &crcs.New);
    return out.Flush(true);
}

// Puts the new music CRC into the source's LAME header, at headerAt in
// replacement, when the old one was right.
bool RenewMusicCrc(BinaryFile& source, const AudioSpan& span, const MusicCrcs& crcs, BinaryFile& replacement,
                   int64_t headerAt)
{
    const std::optional<HeaderFrameInfo>& lame = span.SourceHeader;
    if (!lame || !lame->HasLame || lame->Fields.MusicCrc != crcs.Old || crcs.Old == crcs.New)
        return true;
    uint8_t four[4];
    if (!source.Seek(span.SourceHeaderStart) || !source.ReadExact(four, 4))
        return false;
    const std::optional<FrameHeader> header = FrameHeader::Parse(four);
    if (!header)
        return false;
    std::vector<uint8_t> frame(header->Length());
    if (!source.Seek(span.SourceHeaderStart) || !source.ReadExact(frame.data(), frame.size()))
        return false;
    return !PutMusicCrc(frame, crcs.New) || replacement.WriteAt(headerAt, frame.data(), frame.size());
}

// Rewrites the file with newTag in place of its tag and every entry moved
// by cursor's steps.
bool Rewrite(const std::string& path, OpenedFile& opened, const std::vector<uint8_t>& newTag, RunCursor cursor,
             std::string& error)
{
    const int64_t oldTagBytes = opened.Tag.Exists ? static_cast<int64_t>(opened.Tag.Bytes.size()) : 0;
    const AudioSpan span = opened.Span;
    const int64_t fileSize = opened.Size;
    const auto writeContent = [&](BinaryFile& replacement, const std::string& original) {
        BinaryFile source;
        if (!source.Open(original, BinaryFile::Mode::Read))
            return false;
        BufferedOutput out(replacement);
        out.Bytes() = newTag;
        CopyRaw(source, oldTagBytes, span.TimeZero - oldTagBytes, out.Bytes(), nullptr, nullptr);
        MusicCrcs crcs;
        if (!CopyAudioChanged(source, span, cursor, out, crcs))
            return false;
        for (int64_t at = span.AudioEnd; at < fileSize; at += 1 << 20) {
            CopyRaw(source, at, std::min<int64_t>(1 << 20, fileSize - at), out.Bytes(), nullptr, nullptr);
            if (!out.Flush(true))
                return false;
        }
        const int64_t headerAt = span.SourceHeaderStart - oldTagBytes + static_cast<int64_t>(newTag.size());
        return RenewMusicCrc(source, span, crcs, replacement, headerAt);
    };
    std::string reason;
    try {
        if (RewriteFile(path, writeContent, &reason, opened.Identity))
            return true;
    } catch (const CorvellaError& failure) {
        reason = failure.what();
    }
    error = reason.empty() ? "Cannot write " + path + "." : reason;
    return false;
}

} // namespace

int64_t GranuleTiming::GranuleAt(int64_t ms) const
{
    const double sample = static_cast<double>(ms) * SampleRate / 1000.0 + static_cast<double>(LeadSamples);
    return std::clamp<int64_t>(static_cast<int64_t>(std::ceil(sample / kSamplesPerGranule - 0.5)), 0, Granules);
}

double GranuleTiming::MiddleMs(int64_t granule) const
{
    return (static_cast<double>(granule * kSamplesPerGranule + kSamplesPerGranule / 2 - LeadSamples)) * 1000.0 /
           SampleRate;
}

std::optional<GranuleTiming> ReadGranuleTiming(const std::string& path, std::string& error)
{
    OpenedFile opened;
    try {
        if (!Open(path, opened, error))
            return std::nullopt;
        GranuleTiming timing;
        TFrameWalker walker(opened.File, opened.Span);
        timing.SampleRate = walker.FirstHeader()->SampleRate();
        const std::optional<HeaderFrameInfo>& lame = opened.Span.SourceHeader;
        timing.LeadSamples = kDecoderDelay + (lame && lame->HasLame ? lame->Fields.Delay : 0);
        WalkGranules(opened, [&](const uint8_t*, const FrameHeader& header) {
            timing.Granules += header.IsMpeg1() ? 2 : 1;
        });
        return timing;
    } catch (const CorvellaError& failure) {
        error = path + ": " + failure.what();
        return std::nullopt;
    }
}

GranuleRange RangeOfTimes(const GranuleTiming& timing, std::optional<int64_t> startMs, std::optional<int64_t> endMs,
                          int64_t lengthMs)
{
    GranuleRange range;
    range.Timing = timing;
    range.StartMs = startMs.value_or(0);
    range.EndMs = endMs.value_or(lengthMs);
    range.First = startMs ? timing.GranuleAt(*startMs) : 0;
    range.End = endMs ? timing.GranuleAt(*endMs) : timing.Granules;
    return range;
}

double PeakAfterSteps(double peak, int steps) { return peak * std::pow(2.0, steps / 4.0); }

VolumeOutcome ApplyVolumeChange(const std::string& path, const GainCurve& curve)
{
    VolumeOutcome outcome;
    OpenedFile opened;
    try {
        if (!Open(path, opened, outcome.Error))
            return outcome;
        VolumeStep step;
        SideInfoHash hash;
        int64_t granule = 0;
        std::vector<uint8_t> frame;
        // A damaged frame keeps its wrong CRC through the change; should the
        // changed bytes happen to match it, undo would take it for right and
        // renew it, and the file would not come back byte for byte.
        bool wrongCrcComesRight = false;
        const auto crcIsRight = [](const std::vector<uint8_t>& bytes, const FrameHeader& header) {
            return header.Protected && FrameCrc(bytes.data(), header) == static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
        };
        WalkGranules(opened, [&](const uint8_t* bytes, const FrameHeader& header) {
            frame.assign(bytes, bytes + GainBytesOf(header));
            const bool crcWasRight = crcIsRight(frame, header);
            const int channels = header.IsMono() ? 1 : 2;
            ChangeGlobalGains(frame.data(), frame.size(), [&](int e, uint8_t old) {
                const int wanted = curve(granule + e / channels);
                const int now = std::clamp(old + wanted, 0, 255);
                AppendGainSteps(step.Runs, now - old);
                outcome.Entries += now != old;
                outcome.Clamped += now != old + wanted;
                return static_cast<uint8_t>(now);
            });
            wrongCrcComesRight = wrongCrcComesRight || (!crcWasRight && crcIsRight(frame, header));
            hash.Add(frame.data(), frame.size());
            granule += header.IsMpeg1() ? 2 : 1;
        });
        std::erase_if(step.Runs, [](const GainRun& run) { return run.Steps == 0; });
        if (wrongCrcComesRight) {
            outcome.Error = path + ": a damaged frame's CRC would match the changed frame, so the change could not be "
                                   "taken back exactly; nothing was changed.";
            return outcome;
        }
        if (step.Runs.empty()) {
            outcome.Error = path + ": nothing to change (no granule moves, or every one is held at its limit).";
            return outcome;
        }
        step.SideInfoHash = hash.Value();
        VolumeRecord record = opened.Tag.Record.value_or(VolumeRecord{!opened.Tag.Exists, {}});
        record.Steps.push_back(step);
        for (int64_t growth = GrowthToHold(opened.Tag, record); growth > record.Steps.back().TagGrowth;
             growth = GrowthToHold(opened.Tag, record))
            record.Steps.back().TagGrowth = growth + kRecordRoom;
        const std::optional<std::vector<uint8_t>> tag = RenderRecordTag(opened.Tag, record, record.Steps.back().TagGrowth);
        if (!tag) {
            outcome.Error = path + ": the record of the change does not fit into the tag.";
            return outcome;
        }
        if (!Rewrite(path, opened, *tag, RunCursor(step.Runs, 1), outcome.Error))
            return outcome;
        outcome.Done = true;
        outcome.Undoable = static_cast<int>(record.Steps.size());
    } catch (const CorvellaError& failure) {
        outcome.Error = path + ": " + failure.what();
    }
    return outcome;
}

VolumeOutcome UndoVolumeChange(const std::string& path)
{
    VolumeOutcome outcome;
    OpenedFile opened;
    try {
        if (!Open(path, opened, outcome.Error))
            return outcome;
        if (!opened.Tag.Record || opened.Tag.Record->Steps.empty()) {
            outcome.Error = path + ": no volume change is recorded in the file.";
            return outcome;
        }
        VolumeRecord record = *opened.Tag.Record;
        const VolumeStep last = record.Steps.back();
        record.Steps.pop_back();
        SideInfoHash hash;
        WalkGranules(opened, [&](const uint8_t* bytes, const FrameHeader& header) {
            hash.Add(bytes, GainBytesOf(header));
        });
        if (hash.Value() != last.SideInfoHash) {
            outcome.Error = path + ": the audio has changed since its last volume change, which therefore cannot be "
                                   "taken back.";
            return outcome;
        }
        std::optional<VolumeRecord> kept;
        if (!record.Steps.empty())
            kept = record;
        std::optional<std::vector<uint8_t>> tag = RenderRecordTag(opened.Tag, kept, -last.TagGrowth);
        if (!tag)  // frames written into the padding since: the tag keeps its size
            tag = RenderRecordTag(opened.Tag, kept, 0);
        if (!tag) {
            outcome.Error = path + ": the tag cannot be written back.";
            return outcome;
        }
        if (!Rewrite(path, opened, *tag, RunCursor(last.Runs, -1), outcome.Error))
            return outcome;
        for (const GainRun& run : last.Runs)
            outcome.Entries += run.Count;
        outcome.Done = true;
        outcome.Undoable = static_cast<int>(record.Steps.size());
    } catch (const CorvellaError& failure) {
        outcome.Error = path + ": " + failure.what();
    }
    return outcome;
}

GainCurve ConstantGain(int steps, int64_t firstGranule, int64_t endGranule)
{
    return [=](int64_t granule) { return granule >= firstGranule && granule < endGranule ? steps : 0; };
}

int FadeSteps(double position, double floorDb, FadeShape shape)
{
    position = std::clamp(position, 0.0, 1.0);
    double db = 0;
    if (shape == FadeShape::Decibels) {
        db = floorDb * (1.0 - position);
    } else {
        const double amplitude = 0.5 * (1.0 - std::cos(std::numbers::pi * position));
        db = amplitude > 0 ? std::max(floorDb, 20.0 * std::log10(amplitude)) : floorDb;
    }
    return static_cast<int>(std::lround(db / kDbPerGainStep));
}

GainCurve Fade(int64_t firstGranule, int64_t endGranule, int64_t inGranules, int64_t outGranules, double floorDb,
               FadeShape shape)
{
    return [=](int64_t granule) {
        if (granule < firstGranule || granule >= endGranule)
            return 0;
        int steps = 0;
        // The middle of the granule's place in the span: the first granule
        // of a fade in is not silenced wholly, nor the last of a fade out.
        if (inGranules > 0 && granule < firstGranule + inGranules)
            steps = FadeSteps((static_cast<double>(granule - firstGranule) + 0.5) / static_cast<double>(inGranules),
                              floorDb, shape);
        if (outGranules > 0 && granule >= endGranule - outGranules)
            steps = std::min(steps, FadeSteps((static_cast<double>(endGranule - granule) - 0.5) /
                                                  static_cast<double>(outGranules),
                                              floorDb, shape));
        return steps;
    };
}

VolumeOutcome WriteUserTexts(const std::string& path, const std::vector<std::pair<std::string, std::string>>& texts)
{
    VolumeOutcome outcome;
    OpenedFile opened;
    try {
        if (!Open(path, opened, outcome.Error))
            return outcome;
        const std::vector<GainRun> none;
        if (!Rewrite(path, opened, RenderUserTexts(opened.Tag, texts), RunCursor(none, 1), outcome.Error))
            return outcome;
        outcome.Done = true;
        outcome.Undoable = opened.Tag.Record ? static_cast<int>(opened.Tag.Record->Steps.size()) : 0;
    } catch (const CorvellaError& failure) {
        outcome.Error = path + ": " + failure.what();
    }
    return outcome;
}
