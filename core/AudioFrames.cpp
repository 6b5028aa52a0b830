#include "AudioFrames.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

#include "analysis/Errors.h"
#include "analysis/ID3v2TagBounds.h"
#include "files/BinaryFile.h"

namespace {

// Room for a frame header, the longest frame the header tables allow
// (MPEG 2.5 Layer II at 160 kbit/s and 8 kHz: 2881 bytes) and the header
// after it.
constexpr size_t kLookAhead = 4096;
// How far ahead of the walk its bytes are touched (see FileWindow::TouchAhead).
constexpr int64_t kTouchDistance = 8192;

// A mapped file that another program truncates makes every later access
// to the lost pages a bus error. The windows of this process are listed
// here; a bus error inside one of them puts a zero page in place of the
// lost one and marks the window, whose next access then throws a read
// error, as a shrinking file gives with plain reads.
struct Mapping {
    std::atomic<uint8_t*> Start{nullptr};
    std::atomic<size_t> Length{0};
    std::atomic<bool> Damaged{false};
};
// Each split walks a file through up to three windows at once (the cut
// and the two walks of its frame index), and corvella-cli runs up to 256
// splits side by side: a window left out of the table would turn a
// truncated file into a crash.
constexpr size_t kMappings = 1024;
Mapping g_mappings[kMappings];
struct sigaction g_previousBusHandler {};

void OnBusError(int signal, siginfo_t* info, void* context)
{
    auto* address = static_cast<uint8_t*>(info->si_addr);
    for (Mapping& mapping : g_mappings) {
        uint8_t* start = mapping.Start.load();
        if (start == nullptr || address < start || address >= start + mapping.Length.load())
            continue;
        long page = ::sysconf(_SC_PAGESIZE);
        auto* pageStart = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(address) & ~uintptr_t(page - 1));
        if (::mmap(pageStart, static_cast<size_t>(page), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0)
            != MAP_FAILED) {
            mapping.Damaged.store(true);
            return;
        }
    }
    // Not ours: what the program did before this guard was installed.
    if (g_previousBusHandler.sa_flags & SA_SIGINFO) {
        g_previousBusHandler.sa_sigaction(signal, info, context);
        return;
    }
    ::signal(SIGBUS, g_previousBusHandler.sa_handler == SIG_IGN ? SIG_DFL : g_previousBusHandler.sa_handler);
    ::raise(SIGBUS);
}

void InstallBusErrorGuard()
{
    static bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &g_previousBusHandler) == 0;
    }();
    (void)installed;
}

// False when every place in the list is taken.
bool RememberMapping(uint8_t* start, size_t length)
{
    for (Mapping& mapping : g_mappings) {
        uint8_t* expected = nullptr;
        if (mapping.Start.compare_exchange_strong(expected, start)) {
            mapping.Damaged.store(false);
            mapping.Length.store(length);
            return true;
        }
    }
    return false;
}

void ForgetMapping(uint8_t* start)
{
    for (Mapping& mapping : g_mappings) {
        uint8_t* expected = start;
        if (mapping.Start.compare_exchange_strong(expected, nullptr))
            return;
    }
}

bool MappingDamaged(uint8_t* start)
{
    for (Mapping& mapping : g_mappings)
        if (mapping.Start.load() == start)
            return mapping.Damaged.load();
    return false;
}

} // namespace

FileWindow::FileWindow(BinaryFile& file, int64_t limit, size_t windowSize)
    : file_(file), limit_(limit), windowSize_(std::max(windowSize, 2 * kLookAhead))
{
    InstallBusErrorGuard();
}

FileWindow::~FileWindow()
{
    Unmap();
}

void FileWindow::Unmap()
{
    if (map_ == nullptr)
        return;
    if (map_ == copy_.data()) {
        map_ = nullptr;
        bufferCount_ = 0;
        return;
    }
    ForgetMapping(map_);
    ::munmap(map_, mapLength_);
    map_ = nullptr;
    mapLength_ = 0;
    bufferCount_ = 0;
}

void FileWindow::MapWindow(int64_t position, int64_t wanted)
{
    int64_t page = ::sysconf(_SC_PAGESIZE);
    int64_t mapStart = position - position % page;
    // A file that shrank since the walk began ends it with a read error
    // rather than a cut at a position that no longer exists.
    int64_t size = file_.Size();
    if (size < position + wanted)
        throw StreamReadError();
    size_t length = static_cast<size_t>(position + wanted - mapStart);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, file_.Descriptor(), mapStart);
    if (map == MAP_FAILED)
        throw StreamReadError();
    if (!RememberMapping(static_cast<uint8_t*>(map), length)) {
        // A bus error in a window the list does not know would end the
        // process: with the list full, the window is read instead.
        ::munmap(map, length);
        ReadWindow(position, wanted);
        return;
    }
    map_ = static_cast<uint8_t*>(map);
    mapLength_ = length;
    mapStart_ = mapStart;
    ::madvise(map_, mapLength_, MADV_SEQUENTIAL);
}

void FileWindow::ReadWindow(int64_t position, int64_t wanted)
{
    copy_.resize(windowSize_);
    size_t got = 0;
    while (got < static_cast<size_t>(wanted)) {
        ssize_t count = ::pread(file_.Descriptor(), copy_.data() + got, static_cast<size_t>(wanted) - got,
                                position + static_cast<int64_t>(got));
        if (count < 0 && errno == EINTR)
            continue;
        // A file that shrank since the walk began ends it with a read error.
        if (count <= 0)
            throw StreamReadError();
        got += static_cast<size_t>(count);
    }
    map_ = copy_.data();
    mapStart_ = position;
}

const uint8_t* FileWindow::At(int64_t position, size_t need, size_t& available)
{
    available = 0;
    if (map_ != nullptr && map_ != copy_.data() && MappingDamaged(map_))
        throw StreamReadError();
    if (position < 0 || position >= limit_)
        return nullptr;
    int64_t bufferEnd = bufferStart_ + static_cast<int64_t>(bufferCount_);
    bool inside = position >= bufferStart_ && position < bufferEnd;
    bool enough = inside && (bufferEnd - position >= static_cast<int64_t>(need) || bufferEnd >= limit_);
    if (!enough) {
        Unmap();
        int64_t wanted = std::min<int64_t>(static_cast<int64_t>(windowSize_), limit_ - position);
        if (windowSize_ <= kCopiedWindowSize)
            ReadWindow(position, wanted);
        else
            MapWindow(position, wanted);
        bufferStart_ = position;
        bufferCount_ = static_cast<size_t>(wanted);
        bufferEnd = bufferStart_ + static_cast<int64_t>(bufferCount_);
    }
    available = static_cast<size_t>(bufferEnd - position);
    return map_ + (position - mapStart_);
}

std::optional<AudioSpan> LocateAudio(BinaryFile& file, int64_t fileSize)
{
    id3v2::FileTagSource source(file);
    id3v2::TagHeader header;
    const int64_t id3v2Size = id3v2::ReadHeader(source, header) && header.isTag ? header.size : 0;
    uint8_t id[3] = {};
    const bool hasId3v1 = fileSize >= 128 && file.Seek(fileSize - 128) && file.ReadExact(id, sizeof id)
        && id[0] == 'T' && id[1] == 'A' && id[2] == 'G';
    return LocateAudio(file, fileSize, id3v2Size, hasId3v1);
}

std::optional<AudioSpan> LocateAudio(BinaryFile& file, int64_t fileSize, int64_t id3v2Size, bool hasId3v1)
{
    int64_t audioEnd = fileSize - (hasId3v1 ? 128 : 0);
    int64_t start = id3v2Size > 0 && id3v2Size < audioEnd ? id3v2Size : 0;
    if (audioEnd <= start)
        return std::nullopt;
    // The first frame lies close to the tags' end: a small window.
    FileWindow window(file, audioEnd, 64 * 1024);
    // The search of the MPEG analysis, not limited to its first block: a
    // frame it finds in that block is found here at the same position, and
    // a stream behind a longer run of padding is still found at its start.
    for (int64_t p = start; p + 4 <= audioEnd; ++p) {
        size_t available = 0;
        const uint8_t* bytes = window.At(p, kLookAhead, available);
        if (available < 4 || !IsFrameHeader(bytes))
            continue;
        MPEGFrame frame = DecodeFrameHeader(bytes);
        size_t length = FrameLength(frame);
        if (length == 0 || length + 4 > available || !IsFrameHeader(bytes + length))
            continue;
        AudioSpan span(p, audioEnd);
        if (FrameHasVbrOrInfoHeader(bytes, std::min(available, length), frame)) {
            span.TimeZero = p + static_cast<int64_t>(length);
            span.SourceHeader = ReadHeaderFrame(bytes, std::min(available, length));
            span.SourceHeaderStart = p;
        }
        return span;
    }
    return std::nullopt;
}

TFrameWalker::TFrameWalker(BinaryFile& file, const AudioSpan& span, size_t windowSize)
    : span_(span), window_(file, span.AudioEnd, windowSize), position_(span.TimeZero), previous_(span.TimeZero)
{
    // Only the first header is read here: a walk resumed far from time 0
    // would otherwise fill a whole window it never looks at.
    uint8_t header[4] = {};
    bool haveHeader = span_.TimeZero >= 0 && span_.AudioEnd - span_.TimeZero >= 4;
    if (haveHeader && (!file.Seek(span_.TimeZero) || !file.ReadExact(header, sizeof header)))
        throw StreamReadError();
    if (haveHeader && IsFrameHeader(header)) {
        MPEGFrame frame = DecodeFrameHeader(header);
        signature_ = {frame.VersionIndex, frame.LayerIndex, frame.SampleRateIndex};
        firstHeader_ = FrameHeader::Parse(header);
    } else {
        // Only a VBR-header frame and nothing behind it: there is no audio.
        position_ = span_.AudioEnd;
    }
    previous_ = position_;
    recent_.fill(-1);
    Remember();
}

void TFrameWalker::ResumeAt(int64_t frameStart, int64_t frameIndex)
{
    position_ = std::clamp(frameStart, span_.TimeZero, span_.AudioEnd);
    previous_ = position_;
    index_ = std::max<int64_t>(frameIndex, 0);
    recent_.fill(-1);
    Remember();
}

int64_t TFrameWalker::SynchroniseAt(int64_t offset)
{
    ResumeAt(firstHeader_ ? Resynchronise(std::clamp(offset, span_.TimeZero, span_.AudioEnd)) : span_.AudioEnd, 0);
    return position_;
}

void TFrameWalker::Remember()
{
    recent_[static_cast<size_t>(index_ % kRecentFrames)] = position_;
}

std::optional<int64_t> TFrameWalker::RecentFrameStart(int64_t index) const
{
    if (index < 0 || index > index_ || index <= index_ - kRecentFrames)
        return std::nullopt;
    int64_t start = recent_[static_cast<size_t>(index % kRecentFrames)];
    return start < 0 ? std::nullopt : std::optional<int64_t>(start);
}

int64_t TFrameWalker::AdvanceToFrame(int64_t index)
{
    return Advance(span_.AudioEnd, index);
}

size_t TFrameWalker::FrameAt(int64_t position)
{
    size_t available = 0;
    const uint8_t* bytes = window_.At(position, kLookAhead, available);
    // Bytes 0 and 3 take part in the header test only through the sync
    // byte and the emphasis, checked here; the rest is cached.
    if (available < 4 || bytes[0] != 0xFF || (bytes[3] & 3) == 2)
        return 0;
    KnownHeader& known = knownHeaders_[bytes[2]];
    if (known.LengthPlusOne == 0 || known.Byte1 != bytes[1]) {
        MPEGFrame frame = DecodeFrameHeader(bytes);
        bool ours = IsFrameHeader(bytes) && signature_.Matches(frame);
        known = {bytes[1], static_cast<uint16_t>(ours ? frame.Size + 1 : 1)};
    }
    return known.LengthPlusOne - 1u;
}

int64_t TFrameWalker::Resynchronise(int64_t from)
{
    for (int64_t q = from; q + 4 <= span_.AudioEnd; ++q) {
        // Only a sync byte can begin a frame: junk between frames is
        // skipped a window at a time rather than tried byte by byte.
        size_t available = 0;
        const uint8_t* bytes = window_.At(q, kLookAhead, available);
        if (available == 0)
            break;
        if (bytes[0] != 0xFF) {
            const void* sync = std::memchr(bytes, 0xFF, available);
            q += (sync ? static_cast<const uint8_t*>(sync) - bytes : static_cast<std::ptrdiff_t>(available)) - 1;
            continue;
        }
        size_t length = FrameAt(q);
        if (length == 0)
            continue;
        int64_t next = q + static_cast<int64_t>(length);
        if (next == span_.AudioEnd || (next < span_.AudioEnd && FrameAt(next) != 0))
            return q;
    }
    return span_.AudioEnd;
}

int64_t TFrameWalker::AdvanceTo(int64_t offset)
{
    return Advance(offset, INT64_MAX);
}

int64_t TFrameWalker::Advance(int64_t offset, int64_t frameIndex)
{
    offset = std::min(offset, span_.AudioEnd);
    // position_ is always a frame start (or the audio end); each header is
    // examined once, as the frame after the last one and then as the
    // frame to step over.
    size_t length = position_ < offset && index_ < frameIndex ? FrameAt(position_) : 0;
    while (position_ < offset && index_ < frameIndex) {
        previous_ = position_;
        int64_t next = position_ + static_cast<int64_t>(length);
        if (length != 0)
            ++index_;
        if (length != 0 && next >= span_.AudioEnd) {
            // A truncated last frame still ends at the audio end.
            position_ = span_.AudioEnd;
            break;
        }
        size_t nextLength = length == 0 ? 0 : FrameAt(next);
        if (nextLength != 0) {
            window_.TouchAhead(next + kTouchDistance, nextLength);
            position_ = next;
            length = nextLength;
        } else {
            position_ = Resynchronise(length == 0 ? position_ + 1 : next + 1);
            length = FrameAt(position_);
        }
        Remember();
    }
    return position_;
}

int64_t TFrameWalker::FrameAfter(int64_t frameStart)
{
    int64_t savedPosition = position_;
    int64_t savedPrevious = previous_;
    int64_t savedIndex = index_;
    auto savedRecent = recent_;
    position_ = std::clamp(frameStart, span_.TimeZero, span_.AudioEnd);
    int64_t next = AdvanceTo(position_ + 1);
    position_ = savedPosition;
    previous_ = savedPrevious;
    index_ = savedIndex;
    recent_ = savedRecent;
    return next;
}
