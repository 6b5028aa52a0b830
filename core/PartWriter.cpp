#include "PartWriter.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <future>
#include <thread>
#include <unistd.h>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/FrameModel.h"
#include "core/SectionCutter.h"
#include "files/BinaryFile.h"

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

PendingFile::PendingFile(const std::string& target) : target_(target)
{
    // A new file's usual permissions: 0666 less the umask.
    if (!staged_.Create(target, 0666, false))
        throw CorvellaError(staged_.LastError());
}

void PendingFile::Reserve(int64_t size)
{
    // The file system then maps each written page to a block it already
    // holds instead of reserving one page by page, which made a split into
    // ten files a tenth slower than one copy of the source. Where the file
    // system cannot do it, writing places the blocks.
    if (size > 0)
        (void)::fallocate(staged_.File().Descriptor(), FALLOC_FL_KEEP_SIZE, 0, size);
}

void PendingFile::Write(const void* bytes, size_t count)
{
    if (count > 0 && !staged_.File().Write(bytes, count))
        throw ::StreamWriteError(target_, staged_.File().LastError());
}

void PendingFile::WriteAt(int64_t position, const void* bytes, size_t count)
{
    if (count > 0 && !staged_.File().WriteAt(position, bytes, count))
        throw ::StreamWriteError(target_, staged_.File().LastError());
}

int64_t PendingFile::WriteFront(const PartTags* tags, int64_t headerLength, const std::vector<uint8_t>& leading)
{
    if (tags)
        Write(tags->ID3v2.data(), tags->ID3v2.size());
    int64_t headerAt = staged_.File().Position();
    if (headerAt < 0)
        throw StreamReadError();
    // The header frame's place, filled in once the part is written.
    std::vector<uint8_t> placeholder(static_cast<size_t>(headerLength), 0);
    Write(placeholder.data(), placeholder.size());
    Write(leading.data(), leading.size());
    return headerAt;
}

bool PendingFile::CommitAs(const std::string& target, bool replace)
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

namespace {

// Copies count bytes from position of source to the end of target. The
// kernel copies without passing the bytes through this process where it
// can; otherwise a plain read and write loop does it.
void CopyRange(BinaryFile& source, PendingFile& target, int64_t position, int64_t count)
{
    loff_t from = position;
    int64_t left = count;
    while (left > 0) {
        ssize_t copied = ::copy_file_range(source.Descriptor(), &from, target.File().Descriptor(), nullptr,
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
            throw ::StreamWriteError(target.Target(), SystemErrorText(errno));
        throw StreamReadError();
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)));
    if (left > 0 && !source.Seek(from))
        throw StreamReadError();
    while (left > 0) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!source.ReadExact(buffer.data(), chunk))
            throw StreamReadError();
        target.Write(buffer.data(), chunk);
        left -= static_cast<int64_t>(chunk);
    }
}

// Copies count bytes from position of source to the end of target and
// returns their LAME CRC-16, going on from crc. The music CRC needs every
// byte of the part's audio in this process, so these bytes come through
// it: a chunk that fits the processor's cache is summed and written while
// it is still there, instead of the kernel copying the range and a second
// pass reading it all again.
uint16_t CopyRangeSummed(BinaryFile& source, PendingFile& target, int64_t position, int64_t count, uint16_t crc)
{
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(count, 0, 256 * 1024)));
    if (count > 0 && !source.Seek(position))
        throw StreamReadError();
    for (int64_t left = count; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!source.ReadExact(buffer.data(), chunk))
            throw StreamReadError();
        crc = LameTagCrc(buffer.data(), chunk, crc);
        target.Write(buffer.data(), chunk);
        left -= static_cast<int64_t>(chunk);
    }
    return crc;
}

// How many parts of a split are copied at once: the kernel copies a file on
// the thread that asks, so each processor can copy one.
size_t PartsCopiedAtOnce()
{
    return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
}

} // namespace

bool CopyAndCommit(PendingFile& part, BinaryFile& source, const PartCopy& copy, bool replace,
                   const std::function<bool()>& mayCommit)
{
    const int64_t count = copy.EndByte - copy.StartByte;
    if (copy.HeaderFrame.empty()) {
        CopyRange(source, part, copy.StartByte, count);
        part.Write(copy.ID3v1.data(), copy.ID3v1.size());
    } else {
        std::vector<uint8_t> headerFrame = copy.HeaderFrame;
        PutMusicCrc(headerFrame, CopyRangeSummed(source, part, copy.StartByte, count, copy.LeadingCrc));
        part.Write(copy.ID3v1.data(), copy.ID3v1.size());
        part.WriteAt(copy.HeaderAt, headerFrame.data(), headerFrame.size());
    }
    if (mayCommit && !mayCommit())
        return false;
    return part.CommitAs(part.Target(), replace);
}

// A part copied on a thread of its own (see TPartWriter::HandOver).
struct TPartWriter::PendingPart {
    std::unique_ptr<PendingFile> Part;
    std::unique_ptr<BinaryFile> Source;
    PartCopy Copy;
    int32_t Index = 0;
    std::shared_future<bool> Before;  // the part before it went into place
    std::promise<bool> Placed;
    std::shared_future<bool> PlacedFuture = Placed.get_future().share();
    std::exception_ptr Error;
    std::jthread Thread;  // last: joined before the rest goes
};

TPartWriter::TPartWriter() = default;
TPartWriter::~TPartWriter() = default;

bool TPartWriter::WriteNow(std::unique_ptr<PendingFile> part, BinaryFile& source, const PartCopy& copy, bool replace)
{
    // Parts before this one, copied meanwhile, go into place first: an
    // error of one of them ends the run before this part is put in place.
    bool written = CopyAndCommit(*part, source, copy, replace, [this] {
        FinishPending();
        return true;
    });
    source.Close();
    return written;
}

void TPartWriter::HandOver(std::unique_ptr<PendingFile> part, BinaryFile& source, const std::string& sourceName,
                           PartCopy copy, int32_t index)
{
    if (pending_.size() >= PartsCopiedAtOnce())
        FinishOldest();
    // A descriptor of its own keeps the copies' file positions apart.
    auto job = std::make_unique<PendingPart>();
    job->Source = std::make_unique<BinaryFile>();
    if (!job->Source->OpenSameFileAs(source))
        throw FileOpenError(sourceName, job->Source->LastError());
    source.Close();
    job->Copy = std::move(copy);
    job->Part = std::move(part);
    job->Index = index;
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
}

void TPartWriter::FinishOldest()
{
    pending_.front()->Thread.join();
    if (pending_.front()->Error)
        FinishPending();  // the parts after it give up; its error is thrown
    else
        pending_.pop_front();
}

void TPartWriter::FinishPending()
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
