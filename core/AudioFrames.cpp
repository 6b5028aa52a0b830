#include "AudioFrames.h"

#include <algorithm>
#include <utility>

#include "analysis/BinaryFile.h"
#include "analysis/Errors.h"

namespace {

// Room for a frame header, the longest frame the header tables allow
// (MPEG 2.5 Layer II at 160 kbit/s and 8 kHz: 2881 bytes) and the header
// after it.
constexpr size_t kLookAhead = 4096;

} // namespace

FileWindow::FileWindow(BinaryFile& file, int64_t limit, size_t windowSize)
    : file_(file), limit_(limit), buffer_(std::max(windowSize, kLookAhead))
{
}

const uint8_t* FileWindow::At(int64_t position, size_t need, size_t& available)
{
    available = 0;
    if (position < 0 || position >= limit_)
        return nullptr;
    int64_t bufferEnd = bufferStart_ + static_cast<int64_t>(bufferCount_);
    bool inside = position >= bufferStart_ && position < bufferEnd;
    bool enough = inside && (bufferEnd - position >= static_cast<int64_t>(need) || bufferEnd >= limit_);
    if (!enough) {
        if (onLeave_ && bufferCount_ > 0)
            onLeave_(bufferStart_, buffer_.data(), bufferCount_);
        size_t wanted = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer_.size()), limit_ - position));
        bufferStart_ = position;
        bufferCount_ = 0;
        // A file that shrinks under the walk ends it with a read error
        // rather than a cut at a position that no longer exists.
        if (!file_.Seek(position) || !file_.ReadExact(buffer_.data(), wanted))
            throw StreamReadError();
        bufferCount_ = wanted;
        bufferEnd = bufferStart_ + static_cast<int64_t>(bufferCount_);
    }
    available = static_cast<size_t>(bufferEnd - position);
    return buffer_.data() + (position - bufferStart_);
}

std::optional<AudioSpan> LocateAudio(BinaryFile& file, int64_t fileSize, int64_t id3v2Size, bool hasId3v1)
{
    int64_t audioEnd = fileSize - (hasId3v1 ? 128 : 0);
    int64_t start = id3v2Size > 0 && id3v2Size < audioEnd ? id3v2Size : 0;
    if (audioEnd <= start)
        return std::nullopt;
    FileWindow window(file, audioEnd);
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
        AudioSpan span{p, audioEnd};
        if (FrameHasVbrOrInfoHeader(bytes, std::min(available, length), frame))
            span.TimeZero = p + static_cast<int64_t>(length);
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
    } else {
        // Only a VBR-header frame and nothing behind it: there is no audio.
        position_ = span_.AudioEnd;
    }
    previous_ = position_;
}

void TFrameWalker::ResumeAt(int64_t frameStart)
{
    position_ = std::clamp(frameStart, span_.TimeZero, span_.AudioEnd);
    previous_ = position_;
}

size_t TFrameWalker::FrameAt(int64_t position)
{
    size_t available = 0;
    const uint8_t* bytes = window_.At(position, kLookAhead, available);
    // Bytes 0 and 3 take part in the header test only through the sync
    // byte and the emphasis, checked here; the rest is cached.
    if (available < 4 || bytes[0] != 0xFF || (bytes[3] & 3) == 2)
        return 0;
    uint16_t key = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    for (const KnownHeader& known : knownHeaders_)
        if (known.Used && known.Key == key)
            return known.Length;
    MPEGFrame frame = DecodeFrameHeader(bytes);
    bool ours = IsFrameHeader(bytes) && signature_.Matches(frame);
    KnownHeader& slot = knownHeaders_[nextKnownHeader_];
    nextKnownHeader_ = (nextKnownHeader_ + 1) % knownHeaders_.size();
    slot = {key, ours ? frame.Size : uint16_t(0), true};
    return slot.Length;
}

int64_t TFrameWalker::Resynchronise(int64_t from)
{
    for (int64_t q = from; q + 4 <= span_.AudioEnd; ++q) {
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
    offset = std::min(offset, span_.AudioEnd);
    // position_ is always a frame start (or the audio end); each header is
    // examined once, as the frame after the last one and then as the
    // frame to step over.
    size_t length = position_ < offset ? FrameAt(position_) : 0;
    while (position_ < offset) {
        previous_ = position_;
        int64_t next = position_ + static_cast<int64_t>(length);
        if (length != 0 && next >= span_.AudioEnd) {
            // A truncated last frame still ends at the audio end.
            position_ = span_.AudioEnd;
            break;
        }
        size_t nextLength = length == 0 ? 0 : FrameAt(next);
        if (nextLength != 0) {
            position_ = next;
            length = nextLength;
        } else {
            position_ = Resynchronise(length == 0 ? position_ + 1 : next + 1);
            length = FrameAt(position_);
        }
    }
    return position_;
}

int64_t TFrameWalker::FrameAfter(int64_t frameStart)
{
    int64_t savedPosition = position_;
    int64_t savedPrevious = previous_;
    position_ = std::clamp(frameStart, span_.TimeZero, span_.AudioEnd);
    int64_t next = AdvanceTo(position_ + 1);
    position_ = savedPosition;
    previous_ = savedPrevious;
    return next;
}
