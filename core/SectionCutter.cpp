#include "SectionCutter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analysis/BinaryFile.h"
#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/StagedFile.h"
#include "core/AudioFrames.h"
#include "core/TimeText.h"
#include "playback/BASSPlayer.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMaxOffsetMs = 5000;

CorvellaError StreamWriteError()
{
    return CorvellaError("Stream write error");
}

int64_t SaturatingAdd(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

// time 0 + bit rate (kbit/s) x ms / 8, never past the audio end. 128-bit so
// that no bit rate a player could report overflows.
int64_t ByteOffset(const AudioSpan& span, int64_t bitRate, int64_t ms)
{
    __int128 offset = static_cast<__int128>(span.TimeZero) + static_cast<__int128>(bitRate) * ms / 8;
    return static_cast<int64_t>(std::min<__int128>(offset, span.AudioEnd));
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

    void Write(const void* bytes, size_t count)
    {
        if (count > 0 && !staged_.File().Write(bytes, count))
            throw ::StreamWriteError(target_, staged_.File().LastError());
    }

    // Puts the content in place of target. False (and nothing changed) when
    // target exists and may not be replaced.
    bool CommitAs(const std::string& target, bool replace)
    {
        switch (staged_.Commit(target, replace)) {
        case StagedFile::Outcome::Done: return true;
        case StagedFile::Outcome::NameTaken: return false;
        case StagedFile::Outcome::Failed: break;
        }
        throw CorvellaError(staged_.LastError());
    }

private:
    std::string target_;
    StagedFile staged_;
};

// Copies count bytes from position of source to the end of target. The
// kernel copies without passing the bytes through this process where it
// can; otherwise a plain read and write loop does it.
void CopyRange(BinaryFile& source, BinaryFile& target, int64_t position, int64_t count)
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
            throw StreamWriteError();
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
            throw StreamWriteError();
        left -= static_cast<int64_t>(chunk);
    }
}

} // namespace

PartTags RenderPartTags(const TID3v1& id3v1, const TID3v2& id3v2)
{
    PartTags tags;
    tags.ID3v2 = id3v2.RenderTag();
    auto id3v1Bytes = id3v1.RenderTag();
    tags.ID3v1.assign(id3v1Bytes.begin(), id3v1Bytes.end());
    return tags;
}

TSectionCutter::TSectionCutter(TBASSPlayer& player) : player_(player) {}

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

std::optional<TSectionCutter::FileIdentity> TSectionCutter::IdentityOf(int descriptor)
{
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        return std::nullopt;
    FileIdentity identity;
    identity.Device = status.st_dev;
    identity.Inode = status.st_ino;
    identity.Size = status.st_size;
    identity.ModifiedNs = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    identity.ChangedNs = int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return identity;
}

bool TSectionCutter::Cut(const CutRequest& request)
{
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
    if (!(startMs < endMs))
        return false;

    if (!player_.PlayerReady())
        return false;
    bool opened = player_.Open(request.Source);
    int64_t lengthMs = opened ? static_cast<int64_t>(player_.PlayLength()) : 0;
    int64_t bitRate = opened ? static_cast<int64_t>(player_.StreamInfo().BitRate) : 0;
    player_.Close();
    if (!opened || bitRate <= 0 || !(startMs < lengthMs))
        return false;
    // The stream's length itself is not shifted: an end at or past it is the audio end.
    bool toAudioEnd = request.ToAudioEnd || endMs >= lengthMs;
    startMs = std::max<int64_t>(startMs, 0);

    BinaryFile source;
    if (!source.Open(request.Source, BinaryFile::Mode::Read))
        throw FileOpenError(request.Source, source.LastError());
    // The identity is taken from the open file, so a memo of another file,
    // or of this one before it changed, is never used for what is read.
    auto identity = IdentityOf(source.Descriptor());
    bool known = memo_ && identity && memo_->File == *identity;
    if (!known)
        memo_.reset();
    std::optional<AudioSpan> span;
    if (known) {
        span = memo_->Span;
    } else {
        TID3v2 sourceId3v2;
        TID3v1 sourceId3v1;
        sourceId3v2.ReadTag(request.Source);
        sourceId3v1.ReadTag(request.Source);
        int64_t fileSize = source.Size();
        if (fileSize < 0)
            throw StreamReadError();
        span = LocateAudio(source, fileSize, sourceId3v2.Size(), sourceId3v1.Exists());
    }
    if (!span)
        return false;

    TFrameWalker walker(source, *span);
    int64_t startOffset = ByteOffset(*span, bitRate, startMs);
    if (known && memo_->FrameStart >= span->TimeZero && memo_->FrameStart <= startOffset)
        walker.ResumeAt(memo_->FrameStart);
    int64_t startByte = walker.AdvanceTo(startOffset);
    // One lone frame is no playable file: decoders look for a second header
    // behind the first before they accept a stream.
    int64_t secondFrame = walker.FrameAfter(startByte);
    if (secondFrame >= span->AudioEnd) {
        if (identity)
            memo_ = WalkMemo{*identity, *span, walker.PreviousFrameStart()};
        return false;
    }
    if (fs::exists(request.Target, error) && !request.Overwrite)
        return false;

    // The walk to the end reads every byte of the part anyway, so the part
    // is written from the walk's own windows instead of being read a second
    // time by a copy. The new file is only created once the walk is past
    // the second frame, when the cut is sure to hold two whole frames; a
    // cut that turns out shorter creates nothing.
    std::optional<PendingFile> part;
    int64_t written = startByte;
    auto openPart = [&] {
        if (part)
            return;
        part.emplace(request.Target);
        if (request.Tags)
            part->Write(request.Tags->ID3v2.data(), request.Tags->ID3v2.size());
    };
    // Writes the part's bytes up to upTo, from bytes when they hold them
    // (bytes cover [bytesStart, bytesStart + count)), else by a copy.
    auto writeUpTo = [&](int64_t upTo, int64_t bytesStart, const uint8_t* bytes, size_t count) {
        if (upTo <= written)
            return;
        openPart();
        int64_t bytesEnd = bytesStart + static_cast<int64_t>(count);
        if (bytes == nullptr || written < bytesStart || written >= bytesEnd) {
            int64_t gapEnd = bytes != nullptr && written < bytesStart ? std::min(upTo, bytesStart) : upTo;
            CopyRange(source, part->File(), written, gapEnd - written);
            written = gapEnd;
        }
        if (bytes != nullptr && written < upTo && written >= bytesStart && written < bytesEnd) {
            int64_t end = std::min(upTo, bytesEnd);
            part->Write(bytes + (written - bytesStart), static_cast<size_t>(end - written));
            written = end;
        }
        if (written < upTo) {
            CopyRange(source, part->File(), written, upTo - written);
            written = upTo;
        }
    };
    int64_t endByte = span->AudioEnd;
    if (!toAudioEnd) {
        // Every byte before the walk's position belongs to the part: the
        // walk only moves on while it is before the end offset.
        walker.OnWindowLeave([&](int64_t start, const uint8_t* bytes, size_t count) {
            if (walker.Position() > secondFrame)
                writeUpTo(walker.Position(), start, bytes, count);
        });
        endByte = walker.AdvanceTo(ByteOffset(*span, bitRate, endMs));
        walker.OnWindowLeave({});
    }
    if (identity)
        memo_ = WalkMemo{*identity, *span, walker.PreviousFrameStart()};
    if (endByte <= secondFrame)
        return false;

    writeUpTo(endByte, 0, nullptr, 0);
    if (request.Tags)
        part->Write(request.Tags->ID3v1.data(), request.Tags->ID3v1.size());
    source.Close();
    return part->CommitAs(request.Target, request.Overwrite);
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
