#include "ID3v2.h"

#include "ByteReader.h"
#include "ID3v1.h"
#include "ID3v2Frames.h"
#include "TextCodec.h"
#include "files/BinaryFile.h"
#include "files/FileIdentity.h"
#include "files/FileRewrite.h"
#include "files/InPlaceWrite.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <utility>

using id3v2::Bytes;

namespace {

constexpr size_t kHeaderSize = 10;
constexpr size_t kFooterSize = 10;
// Counted in characters, not bytes, so that a text reads back whole
// whatever encoding it is written in: a UTF-16 text takes twice the bytes
// of the same text in ISO-8859-1.
constexpr size_t kTextChars = TID3v2::kMaxTextLength;
// The bytes of a frame looked at for its text: those characters at four
// bytes each (UTF-8, or a UTF-16 surrogate pair) with room for the
// encoding byte, language, a description, byte order marks and terminators.
constexpr size_t kTextBytes = 4 * kTextChars + 1024;
// The largest tag size a synchsafe field can hold.
constexpr size_t kMaxTagBody = 0x0FFFFFFF;
constexpr size_t kCopyChunk = 1 << 20;
// A tag's frames are walked up to this many: a body of millions of empty
// frames is cut off there.
constexpr size_t kMaxFrames = 50000;
// A hostile tag may hold thousands of frames that cannot be carried: the
// refusal names the first ones (one more is noted to tell there are more).
constexpr size_t kNamed = 10;
// Tags right behind the first one are taken up to this many, and only
// while they end within the bytes a tag's body is read to at most.
constexpr size_t kMaxFollowingTags = 4;
// The most of a tag's body that is read into memory, whatever its size
// field claims; pictures of several megabytes fit easily.
constexpr size_t kMaxTagRead = size_t(16) << 20;
// The first read of a body; most tags without a picture fit in it.
constexpr size_t kFirstRead = size_t(64) << 10;
// Padding given to a tag when the file is rewritten anyway.
constexpr int64_t kBasePadding = 1024;
constexpr int64_t kMaxPadding = int64_t(1) << 20;

// Header flags.
constexpr uint8_t kUnsynchronised = 0x80;
constexpr uint8_t kExtendedHeader = 0x40;  // v2.2: compressed tag
constexpr uint8_t kFooterPresent = 0x10;

// The seven frames, in writing order.
enum Field { kTitle, kArtist, kAlbum, kTrack, kYear, kGenre, kComment, kFieldCount };
constexpr std::array<std::string_view, kFieldCount> kFieldIds = {"TIT2", "TPE1", "TALB", "TRCK",
                                                                  "TYER", "TCON", "COMM"};

std::optional<Field> FieldOf(std::string_view id)
{
    for (size_t i = 0; i < kFieldIds.size(); ++i)
        if (kFieldIds[i] == id)
            return static_cast<Field>(i);
    return std::nullopt;
}

struct TagHeader {
    bool isTag = false;
    uint8_t version = 0;
    uint8_t flags = 0;
    int64_t at = 0;        // where the header stands in the file
    int64_t size = 0;      // with the header, footer not counted; 0 = none or larger than the file
    int64_t claimed = 0;   // the size its size field gives
    int64_t fileSize = 0;
};

// The four size bytes are taken as they are (bit 7 included), as the
// measurement of an existing tag always has been.
bool ReadHeaderAt(BinaryFile& file, int64_t at, TagHeader& header)
{
    std::array<uint8_t, kHeaderSize> bytes{};
    header.fileSize = file.Size();
    header.at = at;
    if (header.fileSize < 0 || !file.Seek(at) || !file.ReadExact(bytes.data(), bytes.size()))
        return false;
    header.isTag = bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
    if (!header.isTag)
        return true;
    header.version = bytes[3];
    header.flags = bytes[5];
    header.claimed = ID3v2TagLength(bytes.data() + 6);
    header.size = at + header.claimed > header.fileSize ? 0 : header.claimed;
    return true;
}

bool ReadHeader(BinaryFile& file, TagHeader& header)
{
    return ReadHeaderAt(file, 0, header);
}

// One frame as found, with its identifier in v2.3 form.
struct FoundFrame {
    std::string id;
    uint8_t version = 0;  // of the tag it was found in
    // The first bytes of the frame's content, as many as its texts are read
    // from (kTextBytes); empty when compressed or encrypted (not readable
    // here). A picture's megabytes are not copied for that.
    std::optional<Bytes> content;
    // The whole frame in v2.3 form, empty when it cannot be carried over.
    std::optional<Bytes> kept;
    // The name of a whole frame that v2.3 has no place for.
    std::string uncarried;
};

Bytes TextHead(std::span<const uint8_t> content)
{
    return Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), kTextBytes)));
}

std::string Decode(const Bytes& content, bool joinValues)
{
    if (content.empty())
        return {};
    size_t size = std::min(content.size(), kTextBytes);
    auto strings = id3v2::DecodeStrings(content[0], content.data() + 1, size - 1);
    while (!strings.empty() && strings.back().empty())
        strings.pop_back();
    std::string text;
    for (size_t i = 0; i < strings.size() && (joinValues || i == 0); ++i)
        text += (i ? "/" : "") + strings[i];
    return TrimControl(Utf8Left(text, kTextChars));
}

// The three bytes of a comment frame's language, as they are.
std::string CommentLanguage(const Bytes& content)
{
    return content.size() >= 4 ? std::string(content.begin() + 1, content.begin() + 4) : std::string("eng");
}

// The comment's description and text, from the first bytes of a COMM frame.
struct CommentParts {
    std::string description;
    std::string text;
};

CommentParts DecodeComment(const Bytes& content)
{
    CommentParts parts;
    size_t size = std::min(content.size(), kTextBytes);
    if (size < 4)
        return parts;
    uint8_t encoding = content[0];
    size_t descriptionEnd = 0;
    size_t textStart = id3v2::SkipString(encoding, content.data(), size, 4, &descriptionEnd);
    auto description = id3v2::DecodeStrings(encoding, content.data() + 4, descriptionEnd - 4);
    parts.description = description.empty() ? std::string() : TrimControl(description.front());
    auto text = id3v2::DecodeStrings(encoding, content.data() + textStart, size - textStart);
    parts.text = text.empty() ? std::string() : TrimControl(Utf8Left(text.front(), kTextChars));
    return parts;
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

// The year a date frame gives when no TYER is there: its first four characters.
std::string YearOfDate(const Bytes& content)
{
    return Utf8Left(Decode(content, false), 4);
}

// The year of a kept frame (v2.3 form), when it is a date frame that a reader
// can take a year from.
std::optional<std::string> YearOfKeptDate(const Bytes& frame)
{
    if (frame.size() < kHeaderSize || !std::equal(frame.begin(), frame.begin() + 4, "TDRC"))
        return std::nullopt;
    const auto flags = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
    FoundFrame date = TakeV23Frame("TDRC", flags, frame.data() + kHeaderSize, frame.size() - kHeaderSize, false);
    if (!date.content)
        return std::nullopt;
    return YearOfDate(*date.content);
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

bool Readable(const TagHeader& header)
{
    // v2.2's compression flag names no known scheme.
    return header.version >= 2 && header.version <= 4 && !(header.version == 2 && (header.flags & kExtendedHeader));
}

bool WholeTagUnsynchronised(const TagHeader& header)
{
    return header.version < 4 && (header.flags & kUnsynchronised);
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

// What a tag's frames take of its body, in stored bytes (the zero bytes of
// a whole-tag unsynchronisation counted), and whether the walk stopped at
// the frame cap. Knows only the bytes given.
struct Extent {
    size_t contentEnd = 0;
    bool capped = false;
};

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

// Reads as much of the tag's body as its frames take (at most kMaxTagRead
// bytes), not what its size field claims: a size of hundreds of megabytes
// in front of a small tag costs a small read. `whole` tells whether every
// frame the walk found lies inside the bytes read.
bool ReadBody(BinaryFile& file, const TagHeader& header, Bytes& body, bool* whole = nullptr)
{
    // The size has been checked against the file's size.
    const size_t claimed = static_cast<size_t>(header.size) - kHeaderSize;
    const size_t limit = std::min(claimed, kMaxTagRead);
    size_t want = WholeTagUnsynchronised(header) ? limit : std::min(limit, kFirstRead);
    body.clear();
    for (;;) {
        const size_t have = body.size();
        body.resize(want);
        if (!file.Seek(header.at + static_cast<int64_t>(kHeaderSize + have))
            || !file.ReadExact(body.data() + have, want - have))
            return false;
        Extent extent = FramesExtent(header, body);
        const bool fits = extent.contentEnd + kHeaderSize <= body.size() || extent.capped;
        if (fits || body.size() == limit) {
            if (whole)
                *whole = !extent.capped && (extent.contentEnd <= body.size() || claimed <= body.size());
            return true;
        }
        want = std::min(limit, std::max(extent.contentEnd + kFirstRead, 2 * body.size()));
    }
}

// "(n)" refinements in front of a genre text give way to the text; alone,
// the first one names the genre. "((" starts a text that begins with "(".
std::string GenreFromText(const std::string& text, bool bareNumbers)
{
    auto genreName = [](std::string_view digits) -> std::optional<std::string> {
        unsigned value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()
            || value >= GenreNames.size())
            return std::nullopt;
        return std::string(GenreNames[value]);
    };
    if (bareNumbers) {  // v2.4 may name a genre by its number alone
        if (auto name = genreName(text))
            return *name;
    }
    std::optional<std::string> firstReference;
    size_t at = 0;
    while (at < text.size() && text[at] == '(' && !(at + 1 < text.size() && text[at + 1] == '(')) {
        size_t close = text.find(')', at);
        if (close == std::string::npos)
            break;
        std::string_view inside(text.data() + at + 1, close - at - 1);
        bool number = !inside.empty() && std::all_of(inside.begin(), inside.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (!number && inside != "RX" && inside != "CR")
            break;
        if (!firstReference)
            firstReference = genreName(inside);
        at = close + 1;
    }
    if (at == 0)
        return text.rfind("((", 0) == 0 ? text.substr(1) : text;
    std::string rest = TrimControl(text.substr(at));
    if (rest.rfind("((", 0) == 0)
        rest.erase(0, 1);
    if (!rest.empty())
        return rest;
    return firstReference.value_or(std::string());
}

uint8_t TrackFromText(const std::string& text)
{
    std::string number = TrimControl(text.substr(0, text.find('/')));
    uint64_t value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size())
        return 0;
    return static_cast<uint8_t>(value & 0xFF);
}

std::string TrackTotalFromText(const std::string& text)
{
    size_t slash = text.find('/');
    return slash == std::string::npos ? std::string() : TrimControl(text.substr(slash + 1));
}

// What a frame gives the field it is read into, in the form fields are
// compared in (the comment with its description in front).
std::string FieldReading(Field field, const FoundFrame& frame)
{
    const Bytes& content = *frame.content;
    const bool v24 = frame.version == 4;
    switch (field) {
    case kGenre: return GenreFromText(Decode(content, v24), v24);
    case kComment: {
        CommentParts parts = DecodeComment(content);
        return parts.description + '\0' + parts.text;
    }
    case kYear: return frame.id == "TDRC" ? YearOfDate(content) : Decode(content, v24);
    default: return Decode(content, v24);
    }
}

// True when the v2.3 form of a frame a field was read from gives the field
// what the frame as found gave it: a v2.4 frame of several values, or a
// genre by its bare number, would not.
bool ReadsBackTheSame(Field field, const FoundFrame& found, const Bytes& kept)
{
    if (kept.size() < kHeaderSize)
        return false;
    const auto flags = static_cast<uint16_t>(kept[8] << 8 | kept[9]);
    FoundFrame v23 = TakeV23Frame(found.id, flags, kept.data() + kHeaderSize, kept.size() - kHeaderSize, false);
    return v23.content && FieldReading(field, v23) == FieldReading(field, found);
}

// The whole frame for one of the seven texts.
Bytes TextFrame(std::string_view id, const std::string& text)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding};
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame(id, 0, data);
}

Bytes CommentFrame(const std::string& text, const std::string& language)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding};
    data.insert(data.end(), language.begin(), language.end());
    data.resize(4, ' ');
    // The empty description: a BOM of its own for UTF-16, as each string has one.
    auto description = id3v2::EncodeString("", encoding);
    auto terminator = id3v2::Terminator(encoding);
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), description.begin(), description.end());
    data.insert(data.end(), terminator.begin(), terminator.end());
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame("COMM", 0, data);
}

bool HasFooter(const TagHeader& header)
{
    return header.version >= 4 && (header.flags & kFooterPresent);
}

// Where a tag found in its file ends: after its size and, for a v2.4 tag,
// after its footer too.
int64_t TagEnd(BinaryFile& file, const TagHeader& header)
{
    int64_t start = header.at + header.size;
    if (HasFooter(header) && start + static_cast<int64_t>(kFooterSize) <= header.fileSize) {
        std::array<uint8_t, 3> mark{};
        if (file.Seek(start) && file.ReadExact(mark.data(), mark.size()) && mark[0] == '3' && mark[1] == 'D'
            && mark[2] == 'I')
            start += static_cast<int64_t>(kFooterSize);
    }
    return start;
}

bool CopyRest(BinaryFile& from, int64_t start, int64_t end, BinaryFile& to)
{
    if (!from.Seek(start))
        return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(end - start, 0, static_cast<int64_t>(kCopyChunk))));
    for (int64_t left = end - start; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!from.ReadExact(buffer.data(), chunk) || !to.Write(buffer.data(), chunk))
            return false;
        left -= static_cast<int64_t>(chunk);
    }
    return true;
}

bool AllZero(BinaryFile& file, int64_t from, int64_t to)
{
    std::vector<uint8_t> buffer(kFirstRead);
    if (!file.Seek(from))
        return false;
    for (int64_t left = to - from; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!file.ReadExact(buffer.data(), chunk))
            return false;
        if (std::any_of(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(chunk), [](uint8_t b) { return b; }))
            return false;
        left -= static_cast<int64_t>(chunk);
    }
    return true;
}

// A tag is replaced from its first byte to the end its size field claims.
// That is only safe when everything past its frames is zero padding: a
// size field grown by a faulty writer or by damage would otherwise take
// audio with it.
bool PresentTagMayBeReplaced(BinaryFile& file, const TagHeader& header, const std::string& fileName,
                             std::string& reason)
{
    if (!header.isTag || header.size == 0 || !Readable(header))
        return true;
    Bytes body;
    bool whole = false;
    if (!ReadBody(file, header, body, &whole)) {
        reason = "Cannot read file \"" + fileName + "\". " + file.LastError();
        return false;
    }
    const Extent extent = FramesExtent(header, body);
    if (!whole) {
        reason = "The ID3v2 tag of \"" + fileName + "\" holds more frames than can be read; it is left as it is.";
        return false;
    }
    const int64_t contentEnd = int64_t(kHeaderSize + extent.contentEnd);
    if (contentEnd < header.size && !AllZero(file, header.at + contentEnd, header.at + header.size)) {
        reason = "The ID3v2 tag of \"" + fileName + "\" claims " + std::to_string(header.size)
            + " bytes, but its frames end at byte " + std::to_string(contentEnd)
            + " and what follows is not padding. Writing a new tag would lose that data, so the file is left as it is.";
        return false;
    }
    return true;
}

// Further tags right behind the first one (and its footer), as some
// taggers leave them (a new tag put in front of the one there was). Only
// tags without footers are chained, and only those whose size is backed by
// frames and zero padding: a write replaces them with the first, so that
// bytes behind their frames would be lost. What follows the first tag
// decides, not the first tag's own kind: a write puts a tag of another
// kind in its place, and a read after it must find what this one found.
std::vector<TagHeader> FollowingTags(BinaryFile& file, const TagHeader& first)
{
    std::vector<TagHeader> tags;
    if (!first.isTag || first.size == 0)
        return tags;
    int64_t at = TagEnd(file, first);
    while (tags.size() < kMaxFollowingTags) {
        TagHeader next;
        std::string reason;
        if (!ReadHeaderAt(file, at, next) || !next.isTag || next.size == 0 || !Readable(next) || HasFooter(next)
            || next.at + next.size > int64_t(kMaxTagRead) || !PresentTagMayBeReplaced(file, next, std::string(), reason))
            break;
        tags.push_back(next);
        at = next.at + next.size;
    }
    return tags;
}

// Where the audio starts in a file about to be rewritten: behind its tag
// and the tags that follow it right away.
int64_t AudioStart(BinaryFile& file, const TagHeader& header)
{
    if (!header.isTag || header.size == 0)
        return 0;
    const std::vector<TagHeader> following = FollowingTags(file, header);
    return TagEnd(file, following.empty() ? header : following.back());
}

// The new tag over the old one's bytes (frames, padding and a v2.4 footer):
// the rest becomes zero padding, and the header claims the whole region so
// that the audio stays where it is.
bool WriteTagInPlace(const std::string& path, BinaryFile& source, BinaryFile& writable, const Bytes& tag,
                     size_t region, const FileIdentity& identity, std::string& reason)
{
    InPlaceChange change;
    change.Identity = identity;
    change.Old.resize(region);
    if (!source.Seek(0) || !source.ReadExact(change.Old.data(), region)) {
        reason = "Cannot read file \"" + path + "\". " + source.LastError();
        return false;
    }
    change.New = tag;
    change.New.resize(region, 0);
    Bytes size;
    PutSynchsafe32(size, static_cast<uint32_t>(region - kHeaderSize));
    std::copy(size.begin(), size.end(), change.New.begin() + 6);
    if (change.New == change.Old)
        return true;
    return OverwriteInPlace(path, writable, change, &reason);
}

// The tag last parsed, with the identity its file had when it was read.
struct ParsedTag {
    FileIdentity identity;
    TID3v2 tag;
};

std::mutex parsedTagMutex;
std::optional<ParsedTag> lastParsedTag;

// A change made within this span before a read may share the read's
// timestamps (coarse clocks, file systems with two-second times), and a
// later change in the same tick would not show in the identity.
constexpr int64_t kSettledNs = int64_t(3) * 1000000000;

bool Settled(const FileIdentity& identity)
{
    timespec now {};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return false;
    const int64_t nowNs = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    return identity.ModifiedNs < nowNs - kSettledNs && identity.ChangedNs < nowNs - kSettledNs;
}

std::optional<TID3v2> RecallParsedTag(const FileIdentity& identity)
{
    std::lock_guard lock(parsedTagMutex);
    if (lastParsedTag && lastParsedTag->identity == identity)
        return lastParsedTag->tag;
    return std::nullopt;
}

void RememberParsedTag(const FileIdentity& identity, const TID3v2& tag)
{
    if (!Settled(identity))
        return;
    std::lock_guard lock(parsedTagMutex);
    lastParsedTag = ParsedTag{identity, tag};
}

} // namespace

TID3v2::TID3v2()
{
    Reset();
}

void TID3v2::Reset()
{
    exists_ = false;
    versionID_ = 0;
    size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    track_ = 0;
    trackTotal_.clear();
    year_.clear();
    genre_.clear();
    comment_.clear();
    keptFrames_.clear();
    commentLanguage_ = "eng";
    uncarriedFrames_.clear();
    readFields_ = FieldTexts();
}

bool TID3v2::ReadTag(const std::string& fileName)
{
    Reset();
    origin_.reset();
    // Reading never writes: a journal an in-place write left (see
    // InPlaceWrite.h) is dealt with by the next write, and only when it is
    // the user's own; a file in a shared folder must not take orders from
    // whoever could leave a file beside it.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(fileName.c_str(), nullptr), &std::free);
    BinaryFile file;
    TagHeader header;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        return false;
    const std::optional<FileIdentity> identity = IdentityOfDescriptor(file.Descriptor());
    if (identity) {
        const std::optional<ReadOrigin> origin =
            resolved ? std::optional<ReadOrigin>(ReadOrigin{resolved.get(), *identity}) : std::nullopt;
        // The remembered tag may have been read through another name of
        // the file; the write-back compares with this reading.
        if (std::optional<TID3v2> parsed = RecallParsedTag(*identity)) {
            std::string writeError = std::move(writeError_);
            const bool changed = changedSinceRead_;
            *this = std::move(*parsed);
            writeError_ = std::move(writeError);
            changedSinceRead_ = changed;
            origin_ = origin;
            return true;
        }
        origin_ = origin;
    }
    if (!ReadHeader(file, header))
        return false;
    if (!header.isTag)
        return true;
    exists_ = true;
    versionID_ = header.version;
    size_ = header.size;
    if (size_ == 0)
        return true;

    Bytes body;
    if (!ReadBody(file, header, body))
        return true;  // a tag that cannot be read leaves its texts empty
    std::vector<TagBody> tags;
    tags.push_back({header.version, header.flags, std::move(body)});
    for (const TagHeader& next : FollowingTags(file, header)) {
        if (!ReadBody(file, next, body))
            break;
        tags.push_back({next.version, next.flags, std::move(body)});
        size_ = next.at + next.size;
    }
    TakeFrames(std::move(tags));
    if (identity)
        RememberParsedTag(*identity, *this);
    return true;
}

void TID3v2::TakeFrames(std::vector<TagBody> tags)
{
    // A further tag adds the kinds of frames the tags before it lack.
    std::vector<FoundFrame> frames;
    for (TagBody& tag : tags) {
        TagHeader header;
        header.version = tag.Version;
        header.flags = tag.Flags;
        std::vector<FoundFrame> found = ParseFrames(header, std::move(tag.Body));
        const auto kindOf = [](const FoundFrame& frame) { return frame.id.empty() ? frame.uncarried : frame.id; };
        std::set<std::string> kinds;
        for (const FoundFrame& frame : frames)
            kinds.insert(kindOf(frame));
        for (FoundFrame& frame : found)
            if (!kinds.contains(kindOf(frame)))
                frames.push_back(std::move(frame));
    }

    // Each field is read from the first frame of its kind with readable
    // text; the comment from the first without a description (others hold
    // player data such as iTunNORM, or texts of their own). Repeated frames
    // are kept like any other frame.
    constexpr size_t kNone = SIZE_MAX;
    std::array<size_t, kFieldCount> source;
    source.fill(kNone);
    size_t dateFrame = kNone;
    for (size_t i = 0; i < frames.size(); ++i) {
        const FoundFrame& frame = frames[i];
        if (!frame.uncarried.empty() && uncarriedFrames_.size() <= kNamed
            && std::find(uncarriedFrames_.begin(), uncarriedFrames_.end(), frame.uncarried) == uncarriedFrames_.end())
            uncarriedFrames_.push_back(frame.uncarried);
        if (!frame.content)
            continue;
        const auto field = FieldOf(frame.id);
        if (field == kComment) {
            if (source[kComment] == kNone && DecodeComment(*frame.content).description.empty())
                source[kComment] = i;
        } else if (field) {
            if (source[*field] == kNone)
                source[*field] = i;
        } else if (frame.id == "TDRC" && dateFrame == kNone) {
            // v2.4's date; some writers put it into v2.3 tags as well
            dateFrame = i;
        }
    }
    const auto text = [&](Field field) {
        return source[field] == kNone ? std::string() : FieldReading(field, frames[source[field]]);
    };
    year_ = text(kYear);
    // An empty TYER does not hide the date's year. The date frame then is
    // the year's frame: kept as it is while the year is, replaced by a
    // TYER when the year is edited.
    if (year_.empty() && dateFrame != kNone)
        year_ = FieldReading(kYear, frames[dateFrame]);
    if (year_.empty())
        dateFrame = kNone;

    title_ = text(kTitle);
    artist_ = text(kArtist);
    album_ = text(kAlbum);
    const std::string track = text(kTrack);
    track_ = TrackFromText(track);
    trackTotal_ = TrackTotalFromText(track);
    genre_ = text(kGenre);
    if (source[kComment] != kNone) {
        const Bytes& content = *frames[source[kComment]].content;
        comment_ = DecodeComment(content).text;
        commentLanguage_ = CommentLanguage(content);
    }

    for (size_t i = 0; i < frames.size(); ++i) {
        FoundFrame& frame = frames[i];
        int field = i == dateFrame ? int(kYear) : -1;
        for (size_t f = 0; f < kFieldCount; ++f)
            if (source[f] == i)
                field = int(f);
        if (field < 0 && !frame.kept)
            continue;
        KeptFrame kept;
        kept.Field = field;
        if (frame.kept && (field < 0 || ReadsBackTheSame(Field(field), frame, *frame.kept)))
            kept.Bytes = std::make_shared<const Bytes>(std::move(*frame.kept));
        keptFrames_.push_back(std::move(kept));
    }
    readFields_ = FieldTexts();
}

std::vector<std::string> TID3v2::FieldTexts() const
{
    return {title_, artist_, album_, std::to_string(track_) + '/' + trackTotal_, year_, genre_, comment_};
}

std::string TID3v2::UncarriedFrames() const
{
    std::string names;
    for (size_t i = 0; i < std::min(kNamed, uncarriedFrames_.size()); ++i)
        names += (i ? ", " : "") + uncarriedFrames_[i];
    if (uncarriedFrames_.size() > kNamed)
        names += ", ...";
    return names;
}

std::vector<uint8_t> TID3v2::RenderTag(size_t padding) const
{
    // A field is written from its value when it was edited, or when its
    // frame cannot be written back as read; otherwise its frames go back
    // as they were read.
    const std::vector<std::string> now = FieldTexts();
    std::array<bool, kFieldCount> remade{};
    std::array<bool, kFieldCount> hasFrame{};
    for (size_t f = 0; f < kFieldCount; ++f)
        remade[f] = now[f] != readFields_[f];
    for (const KeptFrame& kept : keptFrames_) {
        if (kept.Field >= 0) {
            hasFrame[size_t(kept.Field)] = true;
            remade[size_t(kept.Field)] = remade[size_t(kept.Field)] || !kept.Bytes;
        }
    }

    // An empty comment has no frame, unless a comment frame kept in another
    // language has no description either: the reader would show that one
    // in its place, and the next save would write it as the comment.
    const bool emptyCommentFrame = comment_.empty() && std::any_of(keptFrames_.begin(), keptFrames_.end(), [](const KeptFrame& kept) {
        if (kept.Field >= 0)
            return false;
        const Bytes& frame = *kept.Bytes;
        if (frame.size() < kHeaderSize || !std::equal(frame.begin(), frame.begin() + 4, "COMM"))
            return false;
        const auto flags = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
        FoundFrame comment = TakeV23Frame("COMM", flags, frame.data() + kHeaderSize, frame.size() - kHeaderSize, false);
        return comment.content && DecodeComment(*comment.content).description.empty();
    });
    std::string track;
    if (track_ > 0)
        track = std::to_string(track_) + (trackTotal_.empty() ? std::string() : "/" + trackTotal_);
    // A genre text that begins with "(" would read back as a refinement
    // ("(Live)" as no genre at all): it is written with the "((" that
    // marks such a text, which the reader turns back into one "(".
    std::string genre = !genre_.empty() && genre_.front() == '(' ? "(" + genre_ : genre_;
    const std::array<std::string, kFieldCount> texts = {title_, artist_, album_, track, year_, genre, comment_};
    std::array<std::optional<Bytes>, kFieldCount> made;
    for (size_t f = 0; f < kFieldCount; ++f) {
        if (!remade[f] || (texts[f].empty() && !(f == kComment && emptyCommentFrame)))
            continue;
        made[f] = f == kComment ? CommentFrame(texts[f], commentLanguage_) : TextFrame(kFieldIds[f], texts[f]);
    }

    // The frames (a picture of megabytes among them) are copied once,
    // straight into the tag, so their sizes are summed first. Fields that
    // had no frame go in front; the others stay where they were.
    std::vector<const Bytes*> frames;
    size_t framesSize = 0;
    const auto add = [&](const Bytes& frame) {
        if (framesSize + frame.size() > kMaxTagBody)
            return;  // beyond what the tag's size field can express
        frames.push_back(&frame);
        framesSize += frame.size();
    };
    for (size_t f = 0; f < kFieldCount; ++f)
        if (made[f] && !hasFrame[f])
            add(*made[f]);
    // With no TYER written, a reader takes the year from the first date
    // frame: a cleared year must not come back from a kept date.
    bool yearSettled = !year_.empty();
    std::array<bool, kFieldCount> placed{};
    for (const KeptFrame& kept : keptFrames_) {
        if (kept.Field >= 0) {
            const auto f = size_t(kept.Field);
            if (!remade[f])
                add(*kept.Bytes);
            else if (!std::exchange(placed[f], true) && made[f])
                add(*made[f]);
            continue;
        }
        if (!yearSettled) {
            if (std::optional<std::string> year = YearOfKeptDate(*kept.Bytes)) {
                if (!year->empty())
                    continue;
                yearSettled = true;
            }
        }
        add(*kept.Bytes);
    }
    if (framesSize == 0)
        padding = 0;
    padding = std::min(padding, kMaxTagBody - framesSize);
    Bytes tag{'I', 'D', '3', 3, 0, 0};
    tag.reserve(kHeaderSize + framesSize + padding);
    PutSynchsafe32(tag, static_cast<uint32_t>(framesSize + padding));
    for (const Bytes* frame : frames)
        tag.insert(tag.end(), frame->begin(), frame->end());
    tag.resize(tag.size() + padding, 0);
    return tag;
}

void TID3v2::DropFramesOfTheWholeAudio()
{
    static constexpr std::array<std::string_view, 7> kWholeAudioFrames = {"TLEN", "TSIZ", "MLLT", "ETCO",
                                                                          "SYLT", "SYTC", "POSS"};
    constexpr uint8_t kFileAlterPreservation = 0x40;  // first flags byte of a v2.3 frame header
    const auto dropped = [&](const Bytes& frame) {
        if (frame.size() < kHeaderSize)
            return false;
        std::string_view id(reinterpret_cast<const char*>(frame.data()), 4);
        return (frame[8] & kFileAlterPreservation) != 0
            || std::find(kWholeAudioFrames.begin(), kWholeAudioFrames.end(), id) != kWholeAudioFrames.end();
    };
    // A field's frame marked so gives way to one made from the field.
    for (KeptFrame& kept : keptFrames_)
        if (kept.Field >= 0 && kept.Bytes && dropped(*kept.Bytes))
            kept.Bytes.reset();
    std::erase_if(keptFrames_, [&](const KeptFrame& kept) { return kept.Field < 0 && dropped(*kept.Bytes); });
}

void TID3v2::FollowOwnWrite(const ReadOrigin& before, const ReadOrigin& after)
{
    if (origin_ == before)
        origin_ = after;
}

bool TID3v2::WriteTag(const std::string& fileName)
{
    writeError_.clear();
    changedSinceRead_ = false;
    auto fail = [&](std::string reason) {
        writeError_ = std::move(reason);
        return false;
    };
    if (!uncarriedFrames_.empty())
        return fail("The ID3v2 tag of \"" + fileName + "\" holds frames that an ID3v2.3 tag has no place for ("
                    + UncarriedFrames() + "). Writing would drop them, so the file is left as it is.");
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(fileName.c_str(), nullptr), &std::free);
    if (!resolved)
        return fail("Cannot open file \"" + fileName + "\". " + SystemErrorText(errno));
    const std::string path = resolved.get();
    std::string reason;
    const std::optional<FileIdentity> beforeRecovery = IdentityOfPath(path);
    if (!RecoverInPlaceWrite(path, &reason))
        return fail(reason);
    // Completing a write of the user's own that was cut off is no
    // stranger's change: this write, newer, goes ahead over it.
    if (origin_ && origin_->Path == path && beforeRecovery == origin_->Identity) {
        if (const std::optional<FileIdentity> recovered = IdentityOfPath(path))
            origin_->Identity = *recovered;
    }

    BinaryFile file;
    TagHeader header;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return fail("Cannot open file \"" + fileName + "\". " + file.LastError());
    const auto identity = IdentityOfDescriptor(file.Descriptor());
    if (!identity || !ReadHeader(file, header))
        return fail("Cannot read file \"" + fileName + "\". "
                    + (file.LastError().empty() ? "It is shorter than a tag header." : file.LastError()));
    // The tag in hand was read from this file: what another program did to
    // the file since would be undone by writing it back.
    if (origin_ && origin_->Path == path && origin_->Identity != *identity) {
        changedSinceRead_ = true;
        return fail(ChangedSinceReadText(fileName));
    }
    if (header.isTag && header.size == 0)
        return fail("The ID3v2 tag of \"" + fileName + "\" claims " + std::to_string(header.claimed)
                    + " bytes, more than the file's " + std::to_string(header.fileSize)
                    + ". Where it ends is unknown, so a new tag cannot replace it; the file is left as it is.");
    if (!PresentTagMayBeReplaced(file, header, fileName, reason))
        return fail(reason);
    // The next write back compares with the file as this one left it.
    const bool readFromThisFile = origin_ && origin_->Path == path;
    auto written = [&](const std::optional<FileIdentity>& now) {
        if (readFromThisFile)
            origin_ = now ? std::optional<ReadOrigin>(ReadOrigin{path, *now}) : std::nullopt;
        return true;
    };

    const int64_t audioStart = AudioStart(file, header);
    const Bytes tag = RenderTag();
    if (header.isTag && audioStart >= int64_t(tag.size()) && audioStart - int64_t(kHeaderSize) <= int64_t(kMaxTagBody)
        && audioStart <= int64_t(kMaxTagRead)) {
        BinaryFile writable;
        if (writable.Open(path, BinaryFile::Mode::ReadWrite)) {
            if (!WriteTagInPlace(path, file, writable, tag, static_cast<size_t>(audioStart), *identity, reason))
                return fail(reason);
            return written(IdentityOfDescriptor(writable.Descriptor()));
        }
        if (errno != EACCES && errno != EPERM && errno != EROFS)
            return fail("Cannot open file \"" + fileName + "\". " + writable.LastError());
        // A read-only file is rewritten, which the folder may allow.
    }

    const int64_t padding = std::min<int64_t>(kMaxPadding, kBasePadding + header.fileSize / 1000);
    const Bytes padded = RenderTag(static_cast<size_t>(padding));
    bool done = RewriteFile(
        path,
        [&](BinaryFile& replacement, const std::string& original) {
            BinaryFile source;
            TagHeader now;
            if (!source.Open(original, BinaryFile::Mode::Read) || !ReadHeader(source, now)) {
                reason = "Cannot read file \"" + fileName + "\". " + source.LastError();
                return false;
            }
            if (!replacement.Write(padded.data(), padded.size())
                || !CopyRest(source, AudioStart(source, now), now.fileSize, replacement)) {
                reason = "Cannot write file \"" + fileName + "\". "
                    + (replacement.LastError().empty() ? source.LastError() : replacement.LastError());
                return false;
            }
            return true;
        },
        &reason, *identity);
    if (!done) {
        changedSinceRead_ = reason == ChangedSinceReadText(path);
        return fail(changedSinceRead_ ? ChangedSinceReadText(fileName) : reason);
    }
    return written(IdentityOfPath(path));
}

void TID3v2::SetTitle(std::string_view value)
{
    title_ = TrimControlRight(value);
}

void TID3v2::SetArtist(std::string_view value)
{
    artist_ = TrimControlRight(value);
}

void TID3v2::SetAlbum(std::string_view value)
{
    album_ = TrimControlRight(value);
}

void TID3v2::SetYear(std::string_view value)
{
    year_ = TrimControlRight(value);
}

void TID3v2::SetGenre(std::string_view value)
{
    genre_ = TrimControlRight(value);
}

void TID3v2::SetComment(std::string_view value)
{
    comment_ = TrimControlRight(value);
}

void TID3v2::SetTrackTotal(std::string_view value)
{
    trackTotal_ = TrimControl(value);
}
