#include "MPEGstream.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "ByteReader.h"

namespace {

constexpr size_t kChunkBytes = 64 * 1024;
constexpr size_t kLookBytes = 4 * 1024;
constexpr size_t kID3v1Bytes = 128;
constexpr size_t kApeFooterBytes = 32;
constexpr size_t kID3v2HeaderBytes = 10;
// Where a tag appended behind the audio without a footer is looked for:
// its start can only be found by looking.
constexpr int64_t kAppendedTagSearchBytes = 64 * 1024;
// Joined pieces and the tags between them are hopped over one at a time; a
// file of more of them than this is garbage, not a stream.
constexpr int kMostHops = 100000;

// Bytes of a file read forward in chunks, so that frames are stepped over
// without one read each.
class ChunkedBytes {
public:
    ChunkedBytes(BinaryFile& file, int64_t end) : file_(file), end_(end) {}

    // The bytes from position to the end of the chunk (at least need of
    // them, or all that are left before the end); empty on a read error.
    ByteReader At(int64_t position, size_t need)
    {
        if (position < 0 || position >= end_)
            return ByteReader(nullptr, 0);
        const int64_t left = end_ - position;
        const auto wanted = static_cast<size_t>(std::min<int64_t>(need, left));
        const int64_t bufferEnd = start_ + int64_t(buffer_.size());
        if (!(position >= start_ && position + int64_t(wanted) <= bufferEnd)) {
            // Stepping on from the bytes at hand reads ahead; a hop (to the
            // end of a joined piece) reads only what one look needs.
            const bool stepping = position >= start_ && position <= bufferEnd;
            const size_t chunk = std::max(stepping ? kChunkBytes : kLookBytes, need);
            buffer_.resize(static_cast<size_t>(std::min<int64_t>(int64_t(chunk), left)));
            start_ = position;
            if (!file_.Seek(position)) {
                buffer_.clear();
            } else {
                buffer_.resize(file_.Read(buffer_.data(), buffer_.size()));
            }
        }
        const int64_t offset = position - start_;
        if (offset < 0 || offset >= int64_t(buffer_.size()))
            return ByteReader(nullptr, 0);
        return ByteReader(buffer_.data() + offset, buffer_.size() - static_cast<size_t>(offset));
    }

    int64_t End() const { return end_; }
    // One hop (over a tag or a counted piece) of the measurement's budget;
    // false once it is spent.
    bool SpendHop() { return hopsLeft_-- > 0; }
    // Bytes of the tags the measurement went past.
    int64_t TagBytes() const { return tagBytes_; }
    void CountTags(int64_t bytes) { tagBytes_ += bytes; }

private:
    BinaryFile& file_;
    int64_t end_;
    int hopsLeft_ = kMostHops;
    int64_t tagBytes_ = 0;
    std::vector<uint8_t> buffer_;
    int64_t start_ = 0;
};

// An ID3v2 tag's bytes, footer included, from its 10-byte header; 0 when
// the bytes are no such header.
int64_t ID3v2BytesAt(const ByteReader& bytes, size_t at)
{
    if (!bytes.Matches(at, "ID3") || !bytes.Has(at, kID3v2HeaderBytes))
        return 0;
    const uint8_t version = bytes.U8(at + 3);
    if (version < 2 || version > 4)
        return 0;
    const bool footer = (bytes.U8(at + 5) & 0x10) != 0;
    return ID3v2TagLength(bytes.Data() + at + 6) + (footer ? int64_t(kID3v2HeaderBytes) : 0);
}

// Where the tags between two files joined end to end (the first one's
// ID3v1 tag, the next one's ID3v2 tag) end, and their bytes.
struct PastTags {
    int64_t Position;
    int64_t TagBytes;
};

PastTags SkipTags(ChunkedBytes& bytes, int64_t position)
{
    PastTags past{position, 0};
    while (past.Position < bytes.End()) {
        const ByteReader at = bytes.At(past.Position, kID3v1Bytes);
        const int64_t tag = at.Matches(0, "TAG") && at.Has(0, kID3v1Bytes) ? int64_t(kID3v1Bytes) : ID3v2BytesAt(at, 0);
        if (tag == 0 || !bytes.SpendHop())
            break;
        const int64_t end = std::min(past.Position + tag, bytes.End());
        past.TagBytes += end - past.Position;
        past.Position = end;
    }
    return past;
}

bool SameStream(const MPEGFrame& frame, const MPEGFrame& like)
{
    return frame.Size > 0 && frame.VersionIndex == like.VersionIndex && frame.LayerIndex == like.LayerIndex
        && frame.SampleRateIndex == like.SampleRateIndex;
}

// The frame at position when it is one of the stream's and lies whole
// before the end.
std::optional<MPEGFrame> FrameAt(ChunkedBytes& bytes, int64_t position, const MPEGFrame& like)
{
    const ByteReader at = bytes.At(position, 4);
    if (!at.Has(0, 4) || !IsFrameHeader(at.Data()))
        return std::nullopt;
    const MPEGFrame frame = DecodeFrameHeader(at.Data());
    if (!SameStream(frame, like) || position + frame.Size > bytes.End())
        return std::nullopt;
    return frame;
}

// A frame at position followed by another header, or by the end: the test
// the first-frame search applies, so that a stray sync pattern does not
// pass for the start of more audio.
bool FramesStartAt(ChunkedBytes& bytes, int64_t position, const MPEGFrame& like)
{
    const std::optional<MPEGFrame> frame = FrameAt(bytes, position, like);
    if (!frame)
        return false;
    const int64_t next = position + frame->Size;
    return next == bytes.End() || FrameAt(bytes, next, like).has_value();
}

// A hop over a piece whose header frame counts it: its counts, and where
// the tags behind it end.
struct Hop {
    VBRData Counts;
    PastTags Landing;
};

// The hop the header frame at position allows: its counts cover at least
// the frame itself and lie inside the audio, and more frames or the end
// follow them.
std::optional<Hop> HopOver(ChunkedBytes& bytes, int64_t position, const MPEGFrame& frame)
{
    const ByteReader at = bytes.At(position, frame.Size);
    const VBRData counts = ReadHeaderFrameCounts(at.Data(), at.Size(), frame);
    if (!counts.Found || counts.Frames <= 0 || counts.Bytes <= frame.Size || counts.Bytes > bytes.End() - position)
        return std::nullopt;
    const PastTags landing = SkipTags(bytes, position + counts.Bytes);
    if (landing.Position < bytes.End() && !FramesStartAt(bytes, landing.Position, frame))
        return std::nullopt;
    return Hop{counts, landing};
}

// Frames from position to the end: hops over pieces whose header frame
// counts them, steps over other frames, and estimates what lies beyond
// kWalkBytes of stepping at meanFrameBytes (or, when 0, at the mean of the
// frames stepped over). Junk ends the stream, as it ends decoding.
int64_t CountFrames(ChunkedBytes& bytes, int64_t position, const MPEGFrame& like, double meanFrameBytes)
{
    int64_t frames = 0;
    int64_t steppedFrames = 0;
    int64_t steppedBytes = 0;
    while (position < bytes.End()) {
        const PastTags past = SkipTags(bytes, position);
        if (past.Position != position) {
            bytes.CountTags(past.TagBytes);
            position = past.Position;
            continue;
        }
        const std::optional<MPEGFrame> frame = FrameAt(bytes, position, like);
        if (!frame)
            break;
        if (const std::optional<Hop> hop = HopOver(bytes, position, *frame)) {
            if (!bytes.SpendHop())
                break;
            // A decoder plays the header frame of a piece that is not the
            // first one: it is a frame of silence in the middle.
            frames += int64_t(hop->Counts.Frames) + 1;
            bytes.CountTags(hop->Landing.TagBytes);
            position = hop->Landing.Position;
            continue;
        }
        if (steppedBytes >= kWalkBytes) {
            const double mean = meanFrameBytes > 0 ? meanFrameBytes : double(steppedBytes) / double(steppedFrames);
            return frames + std::llround(double(bytes.End() - position) / mean);
        }
        ++frames;
        ++steppedFrames;
        steppedBytes += frame->Size;
        position += frame->Size;
    }
    return frames;
}

} // namespace

int64_t MpegAudioEnd(BinaryFile& file, int64_t fileSize)
{
    if (fileSize < 0)
        return -1;
    int64_t end = fileSize;
    std::vector<uint8_t> tail(static_cast<size_t>(std::min(fileSize, kAppendedTagSearchBytes)));
    const int64_t tailStart = fileSize - int64_t(tail.size());
    if (!file.Seek(tailStart) || !file.ReadExact(tail.data(), tail.size()))
        return -1;
    const ByteReader bytes(tail);
    // A tag appended behind everything else: found by a header whose size
    // reaches exactly to the end of the file, or by its footer.
    for (size_t at = 0; at + kID3v2HeaderBytes <= tail.size(); ++at) {
        if (ID3v2BytesAt(bytes, at) == fileSize - tailStart - int64_t(at)) {
            end = tailStart + int64_t(at);
            break;
        }
    }
    const size_t footer = tail.size() >= kID3v2HeaderBytes ? tail.size() - kID3v2HeaderBytes : 0;
    if (end == fileSize && bytes.Matches(footer, "3DI") && bytes.Has(footer, kID3v2HeaderBytes)) {
        const int64_t tag = ID3v2TagLength(tail.data() + footer + 6) + int64_t(kID3v2HeaderBytes);
        if (tag <= fileSize)
            end = fileSize - tag;
    }
    auto inTail = [&](int64_t position) { return static_cast<size_t>(position - tailStart); };
    if (end - tailStart >= int64_t(kID3v1Bytes) && bytes.Matches(inTail(end - kID3v1Bytes), "TAG"))
        end -= kID3v1Bytes;
    if (end - tailStart >= int64_t(kApeFooterBytes)) {
        const size_t footer = inTail(end - kApeFooterBytes);
        if (bytes.Matches(footer, "APETAGEX")) {
            const bool hasHeader = (bytes.U8(footer + 23) & 0x80) != 0;
            const int64_t apeBytes = int64_t(bytes.LE32(footer + 12)) + (hasHeader ? 32 : 0);
            if (apeBytes > 0 && apeBytes <= end)
                end -= apeBytes;
        }
    }
    return end;
}

VBRData ReadHeaderFrameCounts(const uint8_t* frameBytes, size_t available, const MPEGFrame& frame)
{
    VBRData counts;
    const ByteReader bytes(frameBytes, available);
    const auto at = static_cast<size_t>(VbrHeaderOffset(frame));
    if (bytes.Matches(at, "Xing") || bytes.Matches(at, "Info")) {
        // The flags say which fields follow; absent ones take no room.
        const uint32_t flags = bytes.BE32(at + 4);
        size_t field = at + 8;
        counts.Found = true;
        counts.ID = bytes.Matches(at, "Xing") ? "Xing" : "Info";
        if (flags & 1) {
            counts.Frames = static_cast<int32_t>(bytes.BE32(field));
            field += 4;
        }
        if (flags & 2)
            counts.Bytes = static_cast<int32_t>(bytes.BE32(field));
    } else if (bytes.Matches(36, "VBRI")) {
        counts.Found = true;
        counts.ID = "VBRI";
        counts.Bytes = static_cast<int32_t>(bytes.BE32(36 + 10));
        counts.Frames = static_cast<int32_t>(bytes.BE32(36 + 14));
    }
    return counts;
}

std::optional<MeasuredStream> MeasureBehindHeader(BinaryFile& file, int64_t headerAt, const MPEGFrame& frame,
                                                  const VBRData& header, int64_t audioEnd)
{
    if (!header.Found || frame.Size == 0 || headerAt < 0 || headerAt + frame.Size > audioEnd)
        return std::nullopt;
    ChunkedBytes bytes(file, audioEnd);
    const int64_t afterHeader = headerAt + frame.Size;
    auto measured = [&](int64_t frames) { return MeasuredStream{frames, bytes.TagBytes()}; };
    if (header.Frames <= 0)
        return measured(CountFrames(bytes, afterHeader, frame, 0));
    if (header.Bytes <= 0)
        return std::nullopt;
    if (header.Bytes > audioEnd - headerAt) {
        // Cut short: what is there is counted, at the header's own mean
        // frame size beyond what is walked.
        return measured(CountFrames(bytes, afterHeader, frame, double(header.Bytes) / header.Frames));
    }
    const PastTags next = SkipTags(bytes, headerAt + header.Bytes);
    if (next.Position >= audioEnd || !FramesStartAt(bytes, next.Position, frame))
        return std::nullopt;
    bytes.CountTags(next.TagBytes);
    return measured(int64_t(header.Frames) + CountFrames(bytes, next.Position, frame, 0));
}

StreamStart FindStreamStart(BinaryFile& file)
{
    StreamStart start;
    std::vector<uint8_t> block(static_cast<size_t>(TMPEGaudio::kBlockSize));
    if (!file.Seek(0))
        return start;
    block.resize(file.Read(block.data(), block.size()));
    const int64_t tag = ID3v2BytesAt(ByteReader(block), 0);
    if (tag > 0) {
        block.resize(static_cast<size_t>(TMPEGaudio::kBlockSize));
        if (!file.Seek(tag))
            return start;
        block.resize(file.Read(block.data(), block.size()));
    }
    const MPEGFrame frame = FindFirstFrame(block.data(), block.size());
    if (!frame.Found)
        return start;
    const auto p = static_cast<size_t>(frame.Position);
    start.At = tag + frame.Position;
    start.Frame = frame;
    start.Counts = ReadHeaderFrameCounts(block.data() + p, block.size() - p, frame);
    return start;
}
