#include "ID3v2.h"

#include "BinaryFile.h"
#include "ByteReader.h"
#include "FileRewrite.h"
#include "ID3v1.h"
#include "ID3v2Frames.h"
#include "TextCodec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

using id3v2::Bytes;

namespace {

constexpr size_t kHeaderSize = 10;
constexpr size_t kFooterSize = 10;
// Text frames are read through a buffer of this many bytes; longer frames
// give their first 250 bytes.
constexpr size_t kFrameBuffer = 250;
// The largest tag size a synchsafe field can hold.
constexpr size_t kMaxTagBody = 0x0FFFFFFF;
constexpr size_t kCopyChunk = 1 << 20;

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
    int64_t size = 0;      // with the header, footer not counted; 0 = none or larger than the file
    int64_t fileSize = 0;
};

// The four size bytes are taken as they are (bit 7 included), as the
// measurement of an existing tag always has been.
bool ReadHeader(BinaryFile& file, TagHeader& header)
{
    std::array<uint8_t, kHeaderSize> bytes{};
    header.fileSize = file.Size();
    if (header.fileSize < 0 || !file.Seek(0) || !file.ReadExact(bytes.data(), bytes.size()))
        return false;
    header.isTag = bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3';
    if (!header.isTag)
        return true;
    header.version = bytes[3];
    header.flags = bytes[5];
    int64_t size = int64_t(bytes[6]) << 21 | int64_t(bytes[7]) << 14 | int64_t(bytes[8]) << 7 | int64_t(bytes[9]);
    size += static_cast<int64_t>(kHeaderSize);
    header.size = size > header.fileSize ? 0 : size;
    return true;
}

// One frame as found, with its identifier in v2.3 form.
struct FoundFrame {
    std::string id;
    // The bytes the frame's content is read from; empty when compressed or
    // encrypted (not readable here).
    std::optional<Bytes> content;
    // The whole frame in v2.3 form, empty when it cannot be carried over.
    std::optional<Bytes> kept;
};

std::string Decode(const Bytes& content, size_t limit, bool joinValues)
{
    if (content.empty())
        return {};
    size_t size = std::min(content.size(), limit);
    auto strings = id3v2::DecodeStrings(content[0], content.data() + 1, size - 1);
    while (!strings.empty() && strings.back().empty())
        strings.pop_back();
    std::string text;
    for (size_t i = 0; i < strings.size() && (joinValues || i == 0); ++i)
        text += (i ? "/" : "") + strings[i];
    return TrimControl(text);
}

// The comment's description and text, from the first bytes of a COMM frame.
struct CommentParts {
    std::string description;
    std::string text;
};

CommentParts DecodeComment(const Bytes& content)
{
    CommentParts parts;
    size_t size = std::min(content.size(), kFrameBuffer);
    if (size < 4)
        return parts;
    uint8_t encoding = content[0];
    size_t descriptionEnd = 0;
    size_t textStart = id3v2::SkipString(encoding, content.data(), size, 4, &descriptionEnd);
    auto description = id3v2::DecodeStrings(encoding, content.data() + 4, descriptionEnd - 4);
    parts.description = description.empty() ? std::string() : TrimControl(description.front());
    auto text = id3v2::DecodeStrings(encoding, content.data() + textStart, size - textStart);
    parts.text = text.empty() ? std::string() : TrimControl(text.front());
    return parts;
}

// v2.3 frame: 10-byte header with plain size and two flag bytes.
FoundFrame TakeV23Frame(std::string id, uint16_t flags, const uint8_t* data, size_t size, bool complete)
{
    FoundFrame frame{std::move(id), std::nullopt, std::nullopt};
    Bytes raw(data, data + size);
    if (!(flags & 0x00C0)) {  // neither compressed nor encrypted
        size_t skip = (flags & 0x0020) ? 1 : 0;  // group identifier
        frame.content = Bytes(raw.begin() + std::min(skip, raw.size()), raw.end());
    }
    if (complete)
        frame.kept = id3v2::RenderFrame(frame.id, flags, raw);
    return frame;
}

// v2.4 frame: its status flags move to the v2.3 places; unsynchronisation
// and the data length indicator are undone; compressed frames keep their
// zlib data with the length moved into the v2.3 decompressed-size field;
// encrypted frames cannot be carried over and are dropped.
FoundFrame TakeV24Frame(std::string id, uint8_t status, uint8_t format, bool tagUnsynchronised, const uint8_t* data,
                        size_t size, bool complete)
{
    FoundFrame frame{std::move(id), std::nullopt, std::nullopt};
    const bool grouped = format & 0x40;
    const bool compressed = format & 0x08;
    const bool encrypted = format & 0x04;
    const bool unsynchronised = (format & 0x02) || tagUnsynchronised;
    const bool lengthIndicator = format & 0x01;

    Bytes raw = unsynchronised ? id3v2::RemoveUnsynchronisation(data, size) : Bytes(data, data + size);
    ByteReader reader(raw);
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
    Bytes body(raw.begin() + std::min(at, raw.size()), raw.end());
    if (!compressed)
        frame.content = body;
    if (!complete)
        return frame;

    uint16_t flags = uint16_t((status << 1) & 0xE0) << 8;
    Bytes out;
    if (compressed) {
        if (!dataLength)
            return frame;
        flags |= 0x0080;
        PutBE32(out, *dataLength);
    } else {
        auto reencoded = id3v2::ReencodeForV23(frame.id, body);
        if (!reencoded)
            return frame;
        body = std::move(*reencoded);
    }
    if (group) {
        flags |= 0x0020;
        out.push_back(*group);
    }
    out.insert(out.end(), body.begin(), body.end());
    frame.kept = id3v2::RenderFrame(frame.id, flags, out);
    return frame;
}

// v2.2 frame: three-letter identifier and 24-bit size. Frames with a v2.3
// counterpart are renamed (pictures converted); the rest are not carried.
FoundFrame TakeV22Frame(std::string_view id22, const uint8_t* data, size_t size, bool complete)
{
    FoundFrame frame{std::string(id3v2::V23IdFor(id22)), Bytes(data, data + size), std::nullopt};
    if (frame.id.empty() || !complete)
        return frame;
    if (frame.id == "APIC") {
        if (auto picture = id3v2::PictureFromV22(*frame.content))
            frame.kept = id3v2::RenderFrame(frame.id, 0, *picture);
    } else {
        frame.kept = id3v2::RenderFrame(frame.id, 0, *frame.content);
    }
    return frame;
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

std::vector<FoundFrame> ParseFrames(const TagHeader& header, Bytes body)
{
    std::vector<FoundFrame> frames;
    const uint8_t version = header.version;
    if (version < 2 || version > 4)
        return frames;
    if (version == 2 && (header.flags & kExtendedHeader))  // v2.2 compression: no known scheme
        return frames;
    if (version < 4 && (header.flags & kUnsynchronised))
        body = id3v2::RemoveUnsynchronisation(body.data(), body.size());

    ByteReader reader(body);
    size_t at = 0;
    if (version > 2 && (header.flags & kExtendedHeader)) {
        // v2.3 counts the size without its own four bytes, v2.4 with them.
        at = version == 3 ? size_t(reader.BE32(0)) + 4 : size_t(reader.Synchsafe32(0));
        if (!reader.Has(at, 0))
            return frames;
    }
    const size_t frameHeader = version == 2 ? 6 : kHeaderSize;
    const bool plainV24Sizes = version == 4 && V24SizesArePlain(reader, at);
    // Every pass moves `at` forward by at least a frame header, so the loop
    // ends after at most body.size() / 6 passes.
    while (reader.Has(at, frameHeader)) {
        uint8_t first = body[at];
        if (first < 'A' || first > 'Z')
            break;
        std::string_view id(reinterpret_cast<const char*>(body.data() + at), version == 2 ? 3 : 4);
        size_t dataSize = version == 2   ? size_t(reader.BE32(at + 2) & 0x00FFFFFF)
                          : version == 3 ? size_t(reader.BE32(at + 4))
                          : plainV24Sizes ? size_t(reader.BE32(at + 4))
                                          : size_t(reader.Synchsafe32(at + 4));
        const size_t dataAt = at + frameHeader;
        const size_t available = std::min(dataSize, body.size() - dataAt);
        const bool complete = available == dataSize && dataSize > 0;
        const uint8_t* data = body.data() + dataAt;
        if (version == 2) {
            frames.push_back(TakeV22Frame(id, data, available, complete));
        } else if (!id3v2::IsValidFrameId(id)) {
            // garbage with a plausible first letter: neither read nor kept
        } else if (version == 3) {
            frames.push_back(TakeV23Frame(std::string(id), reader.BE16(at + 8), data, available, complete));
        } else {
            frames.push_back(TakeV24Frame(std::string(id), reader.U8(at + 8), reader.U8(at + 9),
                                          header.flags & kUnsynchronised, data, available, complete));
        }
        at = dataAt + dataSize;
    }
    return frames;
}

bool ReadBody(BinaryFile& file, const TagHeader& header, Bytes& body)
{
    // The size has been checked against the file's size, so this never
    // allocates more than the file holds.
    body.resize(static_cast<size_t>(header.size) - kHeaderSize);
    return file.Seek(static_cast<int64_t>(kHeaderSize)) && file.ReadExact(body.data(), body.size());
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

// The whole frame for one of the seven texts.
Bytes TextFrame(std::string_view id, const std::string& text)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding};
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame(id, 0, data);
}

Bytes CommentFrame(const std::string& text)
{
    uint8_t encoding = id3v2::EncodingFor(text);
    Bytes data{encoding, 'e', 'n', 'g'};
    // The empty description: a BOM of its own for UTF-16, as each string has one.
    auto description = id3v2::EncodeString("", encoding);
    auto terminator = id3v2::Terminator(encoding);
    auto encoded = id3v2::EncodeString(text, encoding);
    data.insert(data.end(), description.begin(), description.end());
    data.insert(data.end(), terminator.begin(), terminator.end());
    data.insert(data.end(), encoded.begin(), encoded.end());
    return id3v2::RenderFrame("COMM", 0, data);
}

// Where the audio starts in a file about to be rewritten: after its tag
// and, for a v2.4 tag, after its footer too.
int64_t AudioStart(BinaryFile& file, const TagHeader& header)
{
    if (!header.isTag || header.size == 0)
        return 0;
    int64_t start = header.size;
    if (header.version >= 4 && (header.flags & kFooterPresent)
        && start + static_cast<int64_t>(kFooterSize) <= header.fileSize) {
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
    std::vector<uint8_t> buffer(kCopyChunk);
    for (int64_t left = end - start; left > 0;) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        if (!from.ReadExact(buffer.data(), chunk) || !to.Write(buffer.data(), chunk))
            return false;
        left -= static_cast<int64_t>(chunk);
    }
    return true;
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
    year_.clear();
    genre_.clear();
    comment_.clear();
    keptFrames_.clear();
}

bool TID3v2::ReadTag(const std::string& fileName)
{
    Reset();
    BinaryFile file;
    TagHeader header;
    if (!file.Open(fileName, BinaryFile::Mode::Read) || !ReadHeader(file, header))
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
    TakeFrames(header.version, header.flags, std::move(body));
    return true;
}

void TID3v2::TakeFrames(uint8_t version, uint8_t flags, std::vector<uint8_t> body)
{
    TagHeader header;
    header.version = version;
    header.flags = flags;
    std::vector<FoundFrame> frames = ParseFrames(header, std::move(body));

    std::array<std::optional<std::string>, kFieldCount> texts;
    constexpr size_t kNone = SIZE_MAX;
    size_t chosenComment = kNone;  // indexes into frames
    size_t dateFrame = kNone;
    auto hasDescription = [&](size_t i) { return !DecodeComment(*frames[i].content).description.empty(); };
    for (size_t i = 0; i < frames.size(); ++i) {
        const FoundFrame& frame = frames[i];
        auto field = FieldOf(frame.id);
        if (field == kComment) {
            if (frame.content && (chosenComment == kNone || (hasDescription(chosenComment) && !hasDescription(i))))
                chosenComment = i;
        } else if (field) {
            if (frame.content)
                texts[*field] = Decode(*frame.content, kFrameBuffer, version == 4);
        } else if (frame.id == "TDRC" && frame.content && dateFrame == kNone) {
            // v2.4's date; some writers put it into v2.3 tags as well
            dateFrame = i;
        }
    }
    if (!texts[kYear] && dateFrame != kNone)
        texts[kYear] = Utf8Left(Decode(*frames[dateFrame].content, kFrameBuffer, false), 4);
    else
        dateFrame = kNone;  // the year came from TYER: the full date is kept

    title_ = texts[kTitle].value_or("");
    artist_ = texts[kArtist].value_or("");
    album_ = texts[kAlbum].value_or("");
    year_ = texts[kYear].value_or("");
    track_ = TrackFromText(texts[kTrack].value_or(""));
    genre_ = GenreFromText(texts[kGenre].value_or(""), version == 4);
    if (chosenComment != kNone)
        comment_ = DecodeComment(*frames[chosenComment].content).text;

    // Comments other than the one shown (player data, other languages) are
    // carried like any other frame; of the other six only the text survives.
    for (size_t i = 0; i < frames.size(); ++i) {
        auto field = FieldOf(frames[i].id);
        bool consumed = (field && field != kComment) || i == chosenComment || i == dateFrame;
        if (!consumed && frames[i].kept)
            keptFrames_.push_back(std::move(*frames[i].kept));
    }
}

std::vector<uint8_t> TID3v2::RenderTag() const
{
    std::array<std::string, kFieldCount> texts = {
        title_, artist_, album_, track_ > 0 ? std::to_string(track_) : std::string(), year_, genre_, comment_};
    Bytes frames;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty())
            continue;
        Bytes frame = i == kComment ? CommentFrame(texts[i]) : TextFrame(kFieldIds[i], texts[i]);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    for (const auto& frame : keptFrames_) {
        if (frames.size() + frame.size() > kMaxTagBody)
            continue;  // beyond what the tag's size field can express
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    Bytes tag{'I', 'D', '3', 3, 0, 0};
    tag.reserve(kHeaderSize + frames.size());
    PutSynchsafe32(tag, static_cast<uint32_t>(frames.size()));
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

void TID3v2::DropFramesOfTheWholeAudio()
{
    static constexpr std::array<std::string_view, 7> kWholeAudioFrames = {"TLEN", "TSIZ", "MLLT", "ETCO",
                                                                          "SYLT", "SYTC", "POSS"};
    constexpr uint8_t kFileAlterPreservation = 0x40;  // first flags byte of a v2.3 frame header
    std::erase_if(keptFrames_, [&](const std::vector<uint8_t>& frame) {
        if (frame.size() < kHeaderSize)
            return false;
        std::string_view id(reinterpret_cast<const char*>(frame.data()), 4);
        return (frame[8] & kFileAlterPreservation) != 0
            || std::find(kWholeAudioFrames.begin(), kWholeAudioFrames.end(), id) != kWholeAudioFrames.end();
    });
}

bool TID3v2::WriteTag(const std::string& fileName)
{
    {
        BinaryFile file;
        TagHeader header;
        if (!file.Open(fileName, BinaryFile::Mode::Read) || !ReadHeader(file, header))
            return false;
    }
    const Bytes tag = RenderTag();
    return RewriteFile(fileName, [&](BinaryFile& replacement, const std::string& original) {
        BinaryFile source;
        TagHeader header;
        if (!source.Open(original, BinaryFile::Mode::Read) || !ReadHeader(source, header))
            return false;
        int64_t audioStart = AudioStart(source, header);
        return replacement.Write(tag.data(), tag.size()) && CopyRest(source, audioStart, header.fileSize, replacement);
    });
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
