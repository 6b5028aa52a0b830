#include "ID3v2FrameWalk.h"

#include "ByteReader.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

namespace id3v2 {

namespace {

// A tag's frames are walked up to this many: a body of millions of empty
// frames is cut off there.
constexpr size_t kMaxFrames = 50000;

// Header flags.
constexpr uint8_t kUnsynchronised = 0x80;
constexpr uint8_t kExtendedHeader = 0x40;  // v2.2: compressed tag
constexpr uint8_t kFooterPresent = 0x10;

Bytes TextHead(std::span<const uint8_t> content)
{
    return Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), kTextBytes)));
}

// v2.4 frame: its status flags move to the v2.3 places; unsynchronisation
// and the data length indicator are undone; compressed frames keep their
// zlib data with the length moved into the v2.3 decompressed-size field;
// encrypted frames cannot be carried over and are dropped.
FoundFrame TakeV24Frame(std::string id, uint8_t status, uint8_t format, bool tagUnsynchronised, const uint8_t* data,
                        size_t size, bool complete)
{
    FoundFrame frame{std::move(id), 4, std::nullopt, std::nullopt, {}};
    const bool grouped = format & 0x40;
    const bool compressed = format & 0x08;
    const bool encrypted = format & 0x04;
    const bool unsynchronised = (format & 0x02) || tagUnsynchronised;
    const bool lengthIndicator = format & 0x01;

    // Only an unsynchronised frame needs bytes of its own; the others are
    // read where they lie in the tag's body.
    Bytes plain;
    std::span<const uint8_t> raw(data, size);
    if (unsynchronised) {
        plain = id3v2::RemoveUnsynchronisation(data, size);
        raw = plain;
    }
    ByteReader reader(raw.data(), raw.size());
    size_t at = 0;
    std::optional<uint8_t> group;
    if (grouped) {
        if (!reader.Has(at, 1))
            return frame;
        group = raw[at++];
    }
    if (encrypted)
        return frame;
    std::optional<uint32_t> dataLength;
    if (lengthIndicator) {
        if (!reader.Has(at, 4))
            return frame;
        dataLength = reader.Synchsafe32(at);
        at += 4;
    }
    std::span<const uint8_t> body = raw.subspan(std::min(at, raw.size()));
    if (!compressed)
        frame.content = TextHead(body);
    if (!complete)
        return frame;

    uint16_t flags = uint16_t((status << 1) & 0xE0) << 8;
    Bytes lead;
    std::optional<Bytes> reencoded;
    if (compressed) {
        if (!dataLength)
            return frame;
        flags |= 0x0080;
        PutBE32(lead, *dataLength);
    } else if (id3v2::NeedsReencodingForV23(frame.id, body)) {
        reencoded = id3v2::ReencodeForV23(frame.id, Bytes(body.begin(), body.end()));
        if (!reencoded)
            return frame;
        body = *reencoded;
    }
    if (group) {
        flags |= 0x0020;
        lead.push_back(*group);
    }
    // Nothing but a length indicator: a frame without data, which no
    // reader takes (this one included), is not written.
    if (lead.empty() && body.empty())
        return frame;
    frame.kept = id3v2::RenderFrame(frame.id, flags, lead, body);
    return frame;
}

// v2.2 frame: three-letter identifier and 24-bit size. Frames with a v2.3
// counterpart are renamed and their data converted; the others are named
// as frames that cannot be carried.
FoundFrame TakeV22Frame(std::string_view id22, const uint8_t* data, size_t size, bool complete)
{
    const std::span<const uint8_t> content(data, size);
    FoundFrame frame{std::string(id3v2::V23IdFor(id22)), 2, TextHead(content), std::nullopt, {}};
    if (!complete)
        return frame;
    if (auto converted = id3v2::DataFromV22(id22, content))
        frame.kept = id3v2::RenderFrame(frame.id, 0, *converted);
    else
        frame.uncarried = std::string(id22);
    return frame;
}

// Three characters A-Z or 0-9.
bool IsValidV22FrameId(std::string_view id)
{
    return id.size() == 3 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// v2.4 sizes are synchsafe, but some writers put plain ones there. The
// frames are walked both ways; the plain reading is taken for the whole tag
// when it finds more frames, or as many while only it ends cleanly (at the
// end of the tag or in the padding).
struct Walk {
    size_t frames = 0;
    bool clean = false;
};

Walk WalkV24Frames(const ByteReader& body, size_t at, bool synchsafe)
{
    Walk walk;
    while (body.Has(at, kHeaderSize)) {
        if (!id3v2::IsValidFrameId(std::string_view(reinterpret_cast<const char*>(body.Data() + at), 4))) {
            walk.clean = body.U8(at) == 0;
            return walk;
        }
        ++walk.frames;
        at += kHeaderSize + (synchsafe ? body.Synchsafe32(at + 4) : body.BE32(at + 4));
    }
    walk.clean = at == body.Size() || (at < body.Size() && body.U8(at) == 0);
    return walk;
}

bool V24SizesArePlain(const ByteReader& body, size_t at)
{
    Walk synchsafe = WalkV24Frames(body, at, true);
    Walk plain = WalkV24Frames(body, at, false);
    return plain.frames > synchsafe.frames || (plain.frames == synchsafe.frames && plain.clean && !synchsafe.clean);
}


// Where the frames of a tag's body start: behind the extended header when
// there is a plausible one. Some writers set the flag without writing the
// header; a size that no extended header can have means the frames start
// right away, as other readers take it.
size_t FirstFrameOffset(const TagHeader& header, const ByteReader& reader)
{
    if (header.version < 3 || !(header.flags & kExtendedHeader))
        return 0;
    if (header.version == 3) {
        // Its size counts neither its own four bytes nor the padding it names.
        uint32_t size = reader.BE32(0);
        return (size == 6 || size == 10) && reader.Has(0, size_t(size) + 4) ? size_t(size) + 4 : 0;
    }
    uint32_t size = reader.Synchsafe32(0);  // v2.4 counts the whole header
    return size >= 6 && reader.U8(4) == 1 && reader.Has(0, size) ? size_t(size) : 0;
}

// The walk over a body's frames: `at` is where it stopped, which lies past
// the bytes held when the last frame claims more than them.
struct WalkEnd {
    size_t at = 0;
    bool capped = false;  // stopped after kMaxFrames frames
};

struct FrameAt {
    size_t at;        // frame header
    size_t dataAt;
    size_t dataSize;  // as claimed
};

// Calls `visit` for each frame header found in the body, in order.
template <typename Visit>
WalkEnd WalkFrames(const TagHeader& header, const Bytes& body, Visit&& visit)
{
    WalkEnd end;
    const uint8_t version = header.version;
    ByteReader reader(body);
    size_t at = FirstFrameOffset(header, reader);
    const size_t frameHeader = version == 2 ? 6 : kHeaderSize;
    const bool plainV24Sizes = version == 4 && V24SizesArePlain(reader, at);
    size_t count = 0;
    // Every pass moves `at` forward by at least a frame header.
    while (reader.Has(at, frameHeader)) {
        uint8_t first = body[at];
        if (first < 'A' || first > 'Z')
            break;
        if (count++ == kMaxFrames) {
            end.capped = true;
            break;
        }
        size_t dataSize = version == 2   ? size_t(reader.BE32(at + 2) & 0x00FFFFFF)
                          : version == 3 ? size_t(reader.BE32(at + 4))
                          : plainV24Sizes ? size_t(reader.BE32(at + 4))
                                          : size_t(reader.Synchsafe32(at + 4));
        visit(FrameAt{at, at + frameHeader, dataSize});
        at += frameHeader + dataSize;
    }
    end.at = at;
    return end;
}

} // namespace

bool Readable(const TagHeader& header)
{
    // v2.2's compression flag names no known scheme.
    return header.version >= 2 && header.version <= 4 && !(header.version == 2 && (header.flags & kExtendedHeader));
}

bool WholeTagUnsynchronised(const TagHeader& header)
{
    return header.version < 4 && (header.flags & kUnsynchronised);
}

bool HasFooter(const TagHeader& header)
{
    return header.version >= 4 && (header.flags & kFooterPresent);
}


// v2.3 frame: 10-byte header with plain size and two flag bytes.
FoundFrame TakeV23Frame(std::string id, uint16_t flags, const uint8_t* data, size_t size, bool complete)
{
    FoundFrame frame{std::move(id), 3, std::nullopt, std::nullopt, {}};
    const std::span<const uint8_t> raw(data, size);
    if (!(flags & 0x00C0)) {  // neither compressed nor encrypted
        size_t skip = (flags & 0x0020) ? 1 : 0;  // group identifier
        frame.content = TextHead(raw.subspan(std::min(skip, raw.size())));
    }
    if (complete)
        frame.kept = id3v2::RenderFrame(frame.id, flags, raw);
    return frame;
}

std::optional<Bytes> ContentOfKept(const Bytes& frame, std::string_view id)
{
    if (frame.size() < kHeaderSize || !std::equal(id.begin(), id.end(), frame.begin()))
        return std::nullopt;
    const auto flags = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
    return TakeV23Frame(std::string(id), flags, frame.data() + kHeaderSize, frame.size() - kHeaderSize, false).content;
}

std::vector<FoundFrame> ParseFrames(const TagHeader& header, Bytes body)
{
    std::vector<FoundFrame> frames;
    if (!Readable(header))
        return frames;
    if (WholeTagUnsynchronised(header))
        body = id3v2::RemoveUnsynchronisation(body.data(), body.size());
    const uint8_t version = header.version;
    ByteReader reader(body);
    WalkFrames(header, body, [&](const FrameAt& frame) {
        const size_t available = std::min(frame.dataSize, body.size() - std::min(frame.dataAt, body.size()));
        const bool complete = available == frame.dataSize && frame.dataSize > 0;
        const uint8_t* data = body.data() + std::min(frame.dataAt, body.size());
        std::string_view id(reinterpret_cast<const char*>(body.data() + frame.at), version == 2 ? 3 : 4);
        if (version == 2) {
            if (IsValidV22FrameId(id))  // else garbage with a plausible first letter
                frames.push_back(TakeV22Frame(id, data, available, complete));
        } else if (!id3v2::IsValidFrameId(id)) {
            // garbage with a plausible first letter: neither read nor kept
        } else if (version == 3) {
            frames.push_back(TakeV23Frame(std::string(id), reader.BE16(frame.at + 8), data, available, complete));
        } else {
            frames.push_back(TakeV24Frame(std::string(id), reader.U8(frame.at + 8), reader.U8(frame.at + 9),
                                          header.flags & kUnsynchronised, data, available, complete));
        }
    });
    return frames;
}

std::vector<FoundFrame> FramesOfTags(std::vector<TagBody> tags)
{
    std::vector<FoundFrame> frames;
    for (TagBody& tag : tags) {
        std::vector<FoundFrame> found = ParseFrames(tag.header, std::move(tag.body));
        const auto kindOf = [](const FoundFrame& frame) { return frame.id.empty() ? frame.uncarried : frame.id; };
        std::set<std::string> kinds;
        for (const FoundFrame& frame : frames)
            kinds.insert(kindOf(frame));
        for (FoundFrame& frame : found)
            if (!kinds.contains(kindOf(frame)))
                frames.push_back(std::move(frame));
    }
    return frames;
}

Extent FramesExtent(const TagHeader& header, const Bytes& body)
{
    Extent extent;
    if (!Readable(header))
        return extent;
    if (!WholeTagUnsynchronised(header)) {
        WalkEnd end = WalkFrames(header, body, [](const FrameAt&) {});
        return {end.at, end.capped};
    }
    Bytes plain = id3v2::RemoveUnsynchronisation(body.data(), body.size());
    WalkEnd end = WalkFrames(header, plain, [](const FrameAt&) {});
    // Back to stored bytes: each removed zero followed a 0xFF.
    size_t stored = 0;
    for (size_t kept = 0; kept < end.at && stored < body.size(); ++kept, ++stored)
        if (body[stored] == 0xFF && stored + 1 < body.size() && body[stored + 1] == 0x00)
            ++stored;
    return {end.at > plain.size() ? body.size() + (end.at - plain.size()) : stored, end.capped};
}

} // namespace id3v2
