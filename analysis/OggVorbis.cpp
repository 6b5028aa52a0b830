#include "OggVorbis.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ByteReader.h"
#include "TextCodec.h"
#include "files/BinaryFile.h"

namespace {

// A page header (27 bytes) with room for the largest segment table (255).
constexpr size_t kPageRoom = 282;
constexpr size_t kPageHeaderSize = 27;
constexpr size_t kSegmentCountOffset = 26;
constexpr size_t kGranuleOffset = 6;
constexpr size_t kIdentificationSize = 30;
constexpr size_t kCommentBufferSize = 250;

// The last-page search: 50 blocks of 251 bytes stepping back by 241.
constexpr int kSearchBlocks = 50;
constexpr int64_t kSearchStep = 241;
constexpr int64_t kSearchOverlap = 10;
constexpr size_t kSearchBlockSize = 251;

enum CommentIndex { kVendor, kTitle, kArtist, kAlbum, kTrack, kDate, kGenre, kComment, kPerformer,
                    kDescription, kCommentCount };

constexpr std::array<const char*, kCommentCount> kCommentNames = {
    "", "TITLE", "ARTIST", "ALBUM", "TRACKNUMBER", "DATE", "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};

// Reads from the file through a window of bytes so that long runs of small
// items do not cost one system call each. Bytes beyond the end of the file
// are not delivered.
class WindowedReader {
public:
    explicit WindowedReader(BinaryFile& file) : file_(file) {}

    // Copies up to count bytes at position into out; returns how many.
    size_t Read(int64_t position, uint8_t* out, size_t count)
    {
        if (position < 0)
            return 0;
        if (position < windowStart_ || position + int64_t(count) > windowStart_ + int64_t(window_.size())) {
            window_.assign(std::max(count, kWindowSize), 0);
            windowStart_ = position;
            const size_t got = file_.Seek(position) ? file_.Read(window_.data(), window_.size()) : 0;
            window_.resize(got);
        }
        const auto offset = static_cast<size_t>(position - windowStart_);
        if (offset >= window_.size())
            return 0;
        const size_t available = std::min(count, window_.size() - offset);
        std::memcpy(out, window_.data() + offset, available);
        return available;
    }

private:
    static constexpr size_t kWindowSize = 64 * 1024;
    BinaryFile& file_;
    std::vector<uint8_t> window_;
    int64_t windowStart_ = 0;
};

// Reads up to count bytes at position; the buffer is cleared first, so bytes
// the file does not have read as zero.
template <size_t N>
size_t ReadAt(BinaryFile& file, int64_t position, std::array<uint8_t, N>& buffer)
{
    buffer.fill(0);
    if (position < 0 || !file.Seek(position))
        return 0;
    return file.Read(buffer.data(), buffer.size());
}

int64_t LeadingID3v2Size(BinaryFile& file, int64_t fileSize)
{
    std::array<uint8_t, 10> header{};
    ReadAt(file, 0, header);
    const ByteReader bytes(header.data(), header.size());
    if (!bytes.Matches(0, "ID3"))
        return 0;
    int64_t size = ID3v2TagLength(header.data() + 6);
    if (header[5] & 0x10)
        size += 10;  // footer
    return size > fileSize ? 0 : size;
}

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

void ApplyCommentItem(const std::string& item, std::array<std::string, kCommentCount>& texts)
{
    const size_t equals = item.find('=');
    if (equals == std::string::npos) {
        if (texts[kVendor].empty())
            texts[kVendor] = item;
        return;
    }
    const std::string name = UpperAscii(std::string_view(item).substr(0, equals));
    for (int index = kTitle; index < kCommentCount; ++index)
        if (name == kCommentNames[index])
            texts[index] = DecodeVorbisCommentText(TrimControl(std::string_view(item).substr(equals + 1)));
}

// Walks the vendor string and the comments that follow the 7-byte packet
// identifier at start. Every item is a 32-bit length and that many bytes, of
// which the first 250 are kept. The walk ends after the count the header
// gives or at the end of the file, whichever comes first; claimedCount is
// that count.
void ReadComments(BinaryFile& file, int64_t start, std::array<std::string, kCommentCount>& texts,
                  uint32_t& claimedCount)
{
    WindowedReader in(file);
    int64_t position = start;
    for (uint64_t i = 0;; ++i) {
        uint8_t lengthBytes[4];
        if (in.Read(position, lengthBytes, 4) != 4)
            return;
        const uint32_t length = ByteReader(lengthBytes, 4).LE32(0);
        position += 4;

        std::array<uint8_t, kCommentBufferSize> buffer{};
        in.Read(position, buffer.data(), std::min<size_t>(length, buffer.size()));
        ApplyCommentItem(TrimControl(std::string_view(reinterpret_cast<const char*>(buffer.data()), buffer.size())),
                         texts);
        position += length;

        if (i == 0) {
            uint8_t countBytes[4];
            if (in.Read(position, countBytes, 4) != 4)
                return;
            claimedCount = ByteReader(countBytes, 4).LE32(0);
            position += 4;
        }
        if (i >= claimedCount)
            return;
    }
}

// The bytes of the packet that starts with the first segment of the page at
// pageStart, by the lacing values of its pages (a packet goes on over the
// next page while its segments are 255 bytes long); once it passes limit,
// limit + 1. A page that cannot be read ends the packet.
int64_t PacketBytes(BinaryFile& file, int64_t pageStart, int64_t limit)
{
    int64_t bytes = 0;
    for (;;) {
        std::array<uint8_t, kPageRoom> page{};
        const size_t got = ReadAt(file, pageStart, page);
        const ByteReader header(page.data(), got);
        const size_t segments = header.U8(kSegmentCountOffset);
        if (!header.Matches(0, "OggS") || !header.Has(kPageHeaderSize, segments))
            return bytes;
        int64_t pageBody = 0;
        for (size_t k = 0; k < segments; ++k) {
            const uint8_t lacing = page[kPageHeaderSize + k];
            pageBody += lacing;
            if (lacing < 255)
                return std::min(bytes + pageBody, limit + 1);
        }
        bytes += pageBody;
        if (bytes > limit)
            return limit + 1;
        pageStart += int64_t(kPageHeaderSize + segments) + pageBody;
    }
}

// The granule position of the last page header found near the end of the
// file; 0 when there is none. Never reads before the start of the file.
int64_t LastGranulePosition(BinaryFile& file, int64_t fileSize)
{
    for (int k = 1; k <= kSearchBlocks; ++k) {
        int64_t start = fileSize - kSearchStep * k - kSearchOverlap;
        const bool lastBlock = start <= 0;
        start = std::max<int64_t>(start, 0);
        std::array<uint8_t, kSearchBlockSize> block{};
        const size_t got = ReadAt(file, start, block);
        const ByteReader bytes(block.data(), got);
        if (got >= 4) {
            for (int64_t j = std::min<int64_t>(kSearchStep, int64_t(got) - 4); j >= 0; --j) {
                if (bytes.Matches(size_t(j), "OggS")) {
                    std::array<uint8_t, kPageHeaderSize> header{};
                    ReadAt(file, start + j, header);
                    return static_cast<int64_t>(ByteReader(header.data(), header.size()).LE64(kGranuleOffset));
                }
            }
        }
        if (lastBlock)
            break;
    }
    return 0;
}

// The text before the first "/" (or all of it) as a number; 0 when it is none.
uint16_t TrackNumber(const std::string& text)
{
    std::string number = TrimControl(std::string_view(text).substr(0, text.find('/')));
    std::string_view digits = number;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    uint16_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return 0;
    return value;
}

// Round halves to even, held in 16 bits (values beyond are held at the bound).
uint16_t RoundTo16Bits(double value)
{
    const double rounded = std::nearbyint(value);
    if (!(rounded > 0))
        return 0;
    return rounded > std::numeric_limits<uint16_t>::max() ? std::numeric_limits<uint16_t>::max()
                                                          : static_cast<uint16_t>(rounded);
}

void AppendUtf8(std::string& out, uint16_t ch)
{
    uint32_t cp = ch;
    if (cp >= 0xD800 && cp <= 0xDFFF)
        cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::string DecodeVorbisCommentText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    auto continuation = [&](size_t k) { return k < text.size() && (byte(k) & 0xC0) == 0x80; };
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = byte(i);
        if (lead < 0x80) {
            out.push_back(char(lead));
            ++i;
        } else if (lead & 0x20) {
            if (!continuation(i + 1) || !continuation(i + 2))
                break;
            AppendUtf8(out, static_cast<uint16_t>((lead & 0x1F) << 12 | (byte(i + 1) & 0x3F) << 6
                                                  | (byte(i + 2) & 0x3F)));
            i += 3;
        } else {
            if (!continuation(i + 1))
                break;
            AppendUtf8(out, static_cast<uint16_t>((lead & 0x3F) << 6 | (byte(i + 1) & 0x3F)));
            i += 2;
        }
    }
    return out;
}

TOggVorbis::TOggVorbis()
{
    Reset();
}

void TOggVorbis::Reset()
{
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    bitRateNominal_ = 0;
    samples_ = 0;
    id3v2Size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    date_.clear();
    genre_.clear();
    comment_.clear();
    track_ = 0;
    vendor_.clear();
    comments_ = CommentExtent{};
}

bool TOggVorbis::Analyze(const std::string& fileName)
{
    Reset();
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::Mode::Read))
        return false;
    const int64_t fileSize = file.Size();
    if (fileSize < 0)
        return false;
    const int64_t id3v2Size = LeadingID3v2Size(file, fileSize);

    std::array<uint8_t, kPageRoom> page{};
    ReadAt(file, id3v2Size, page);
    if (!ByteReader(page.data(), page.size()).Matches(0, "OggS"))
        return false;

    std::array<uint8_t, kIdentificationSize> identification{};
    const int64_t identificationStart = id3v2Size + int64_t(kPageHeaderSize) + page[kSegmentCountOffset];
    ReadAt(file, identificationStart, identification);
    const ByteReader id(identification.data(), identification.size());
    if (id.U8(0) != 0x01 || !id.Matches(1, "vorbis"))
        return false;

    // The comment header is looked for on the page that directly follows the
    // identification packet.
    std::array<std::string, kCommentCount> texts;
    const int64_t secondPageStart = identificationStart + int64_t(kIdentificationSize);
    ReadAt(file, secondPageStart, page);
    std::array<uint8_t, 7> packetType{};
    const int64_t commentStart = secondPageStart + int64_t(kPageHeaderSize) + page[kSegmentCountOffset];
    ReadAt(file, commentStart, packetType);
    const ByteReader type(packetType.data(), packetType.size());
    CommentExtent extent;
    if (type.U8(0) == 0x03 && type.Matches(1, "vorbis")) {
        uint32_t claimedCount = 0;
        ReadComments(file, commentStart + int64_t(packetType.size()), texts, claimedCount);
        extent.Bytes = PacketBytes(file, secondPageStart, kMostCommentHeaderBytes);
        extent.Count = claimedCount;
    }

    const int64_t samples = LastGranulePosition(file, fileSize);

    fileSize_ = fileSize;
    channels_ = id.U8(11);
    sampleRate_ = id.LE32(12);
    const auto nominal = static_cast<int32_t>(id.LE32(20));
    bitRateNominal_ = RoundTo16Bits(nominal / 1000.0);
    samples_ = samples;
    id3v2Size_ = id3v2Size;
    title_ = texts[kTitle];
    artist_ = texts[kArtist].empty() ? texts[kPerformer] : texts[kArtist];
    album_ = texts[kAlbum];
    track_ = TrackNumber(texts[kTrack]);
    date_ = texts[kDate];
    genre_ = texts[kGenre];
    comment_ = texts[kComment].empty() ? texts[kDescription] : texts[kComment];
    vendor_ = texts[kVendor];
    comments_ = extent;
    return true;
}

bool TOggVorbis::CommentHeaderWithinBounds() const
{
    return comments_.Bytes <= kMostCommentHeaderBytes && comments_.Count <= kMostComments;
}

double TOggVorbis::Duration() const
{
    if (samples_ > 0)
        return sampleRate_ > 0 ? double(samples_) / sampleRate_ : 0;
    if (bitRateNominal_ > 0 && channels_ > 0)
        return double(fileSize_ - id3v2Size_) / bitRateNominal_ / channels_ / 125 * 2;
    return 0;
}

uint16_t TOggVorbis::BitRate() const
{
    const double duration = Duration();
    if (!(duration > 0))
        return 0;
    return RoundTo16Bits(double(fileSize_ - id3v2Size_) / duration / 125);
}

bool TOggVorbis::Valid() const
{
    return (channels_ == 1 || channels_ == 2) && sampleRate_ > 0 && Duration() > 0.1 && BitRate() > 0;
}
