#include "WMAfile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <vector>

#include "TextCodec.h"
#include "files/BinaryFile.h"

namespace {

using Guid = std::array<uint8_t, 16>;

// GUIDs in the byte order in which they are stored.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                        0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamPropertiesObject = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                          0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentDescriptionObject = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kExtendedContentDescriptionObject = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                    0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

// GUID and low 32 bits of the size; the smallest an object can be.
constexpr int64_t kObjectHeaderSize = 24;

// Header objects walked at most; real files have a dozen or two, and a
// header claiming millions of empty ones is not read to its end.
constexpr uint32_t kMaxHeaderObjects = 4096;

// Longest field string kept, in UTF-16 code units; longer ones are skipped past.
constexpr size_t kMaxFieldChars = 250;

enum TagIndex { kTitle = 1, kAuthor, kAlbum, kTrack, kYear, kGenre, kDescription, kTagCount };

constexpr std::array<const char*, kTagCount> kExtendedNames = {
    "", "WM/TITLE", "WM/AUTHOR", "WM/ALBUMTITLE", "WM/TRACK", "WM/YEAR", "WM/GENRE", "WM/DESCRIPTION"};

struct FileData {
    int64_t FileSize = 0;
    uint32_t MaxBitRate = 0;   // bit/s
    uint16_t ChannelCount = 0;
    uint32_t SampleRate = 0;   // Hz
    uint32_t ByteRate = 0;     // average bytes per second
    std::array<std::string, kTagCount> TagData;  // UTF-8, untrimmed; index 0 unused
};

// Sequential little-endian reads from the file, through a window of bytes
// so that runs of small objects cost no system call each. A short read sets
// a sticky failure after which every read yields zeros, so parsing loops
// only need to check Failed() to stop.
class Cursor {
public:
    explicit Cursor(BinaryFile& file) : file_(file) {}

    bool Failed() const { return failed_; }
    int64_t Position() const { return position_; }
    void MoveTo(int64_t position) { position_ = position; }
    void Skip(int64_t count) { position_ += count; }

    bool Read(void* buffer, size_t count)
    {
        if (!failed_ && Fill(count)) {
            std::memcpy(buffer, window_.data() + (position_ - windowStart_), count);
            position_ += static_cast<int64_t>(count);
            return true;
        }
        failed_ = true;
        std::memset(buffer, 0, count);
        return false;
    }

    uint16_t U16()
    {
        uint8_t b[2];
        Read(b, sizeof b);
        return static_cast<uint16_t>(b[0] | b[1] << 8);
    }

    uint32_t U32()
    {
        uint8_t b[4];
        Read(b, sizeof b);
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }

    Guid ReadGuid()
    {
        Guid guid{};
        Read(guid.data(), guid.size());
        return guid;
    }

    // A string of byteLength bytes: at most 250 UTF-16 code units are kept,
    // the rest of the bytes are skipped.
    std::string FieldString(uint16_t byteLength)
    {
        const size_t units = byteLength < 2 * kMaxFieldChars + 2 ? byteLength / 2u : kMaxFieldChars;
        std::array<uint8_t, 2 * kMaxFieldChars> bytes{};
        Read(bytes.data(), units * 2);
        Skip(int64_t(byteLength) - int64_t(units * 2));
        return Utf16LEToUtf8(bytes.data(), units * 2);
    }

private:
    static constexpr size_t kWindowSize = 64 * 1024;

    // Makes the window hold count bytes at the position; false when the
    // file ends first or cannot be read.
    bool Fill(size_t count)
    {
        if (position_ < 0)
            return false;
        if (position_ >= windowStart_ && position_ + int64_t(count) <= windowStart_ + int64_t(window_.size()))
            return true;
        window_.resize(std::max(count, kWindowSize));
        windowStart_ = position_;
        const size_t got = file_.Seek(position_) ? file_.Read(window_.data(), window_.size()) : 0;
        window_.resize(got);
        return got >= count;
    }

    BinaryFile& file_;
    int64_t position_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> window_;
    int64_t windowStart_ = 0;
};

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A whole decimal number with an optional sign; 0 for anything else.
int32_t DecimalOrZero(const std::string& text)
{
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty())
        return 0;
    return value;
}

// Positioned 20 bytes into each object, right after its size.
void ReadFileProperties(Cursor& in, FileData& data)
{
    in.Skip(80);
    data.MaxBitRate = in.U32();
}

void ReadStreamProperties(Cursor& in, FileData& data)
{
    in.Skip(60);
    data.ChannelCount = in.U16();
    data.SampleRate = in.U32();
    data.ByteRate = in.U32();
}

void ReadContentDescription(Cursor& in, FileData& data)
{
    in.Skip(4);
    std::array<uint16_t, 5> lengths{};
    for (auto& length : lengths)
        length = in.U16();
    // Title, author, (copyright), description, (rating).
    constexpr std::array<int, 5> targets = {kTitle, kAuthor, 0, kDescription, 0};
    for (size_t k = 0; k < lengths.size() && !in.Failed(); ++k) {
        if (lengths[k] == 0)
            continue;
        std::string text = in.FieldString(lengths[k]);
        if (targets[k] != 0)
            data.TagData[targets[k]] = std::move(text);
    }
}

void ReadExtendedContentDescription(Cursor& in, FileData& data)
{
    in.Skip(4);
    const uint16_t count = in.U16();
    for (uint16_t k = 0; k < count && !in.Failed(); ++k) {
        const std::string name = UpperAscii(TrimControl(in.FieldString(in.U16())));
        const uint16_t valueType = in.U16();
        const uint16_t valueLength = in.U16();
        if (valueType != 0) {
            in.Skip(valueLength);
            continue;
        }
        std::string value = in.FieldString(valueLength);
        if (in.Failed())
            break;
        for (int index = kTitle; index < kTagCount; ++index)
            if (name == kExtendedNames[index])
                data.TagData[index] = std::move(value);
    }
}

// False when the file is truncated inside an object or an object claims a
// size smaller than its own header (which would never move the walk on).
bool ReadHeaderObjects(BinaryFile& file, FileData& data)
{
    Cursor in(file);
    if (in.ReadGuid() != kHeaderObject)
        return !in.Failed();
    in.Skip(8);
    const uint32_t objectCount = in.U32();
    in.Skip(2);
    for (uint32_t k = 0; k < std::min(objectCount, kMaxHeaderObjects) && !in.Failed(); ++k) {
        const int64_t start = in.Position();
        const Guid guid = in.ReadGuid();
        const uint32_t size = in.U32();
        if (in.Failed() || size < kObjectHeaderSize)
            return false;
        if (guid == kFilePropertiesObject)
            ReadFileProperties(in, data);
        else if (guid == kStreamPropertiesObject)
            ReadStreamProperties(in, data);
        else if (guid == kContentDescriptionObject)
            ReadContentDescription(in, data);
        else if (guid == kExtendedContentDescriptionObject)
            ReadExtendedContentDescription(in, data);
        in.MoveTo(start + size);
    }
    return !in.Failed();
}

bool Plausible(const FileData& data)
{
    return data.MaxBitRate > 0 && data.MaxBitRate < 320000
        && (data.ChannelCount == 1 || data.ChannelCount == 2)
        && data.SampleRate >= 8000 && data.SampleRate <= 96000
        && data.ByteRate > 0 && data.ByteRate < 40000;
}

} // namespace

TWMAfile::TWMAfile()
{
    Reset();
}

void TWMAfile::Reset()
{
    valid_ = false;
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    duration_ = 0;
    bitRate_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    year_.clear();
    genre_.clear();
    comment_.clear();
    track_ = 0;
}

bool TWMAfile::Analyze(const std::string& fileName)
{
    Reset();
    FileData data;
    try {
        BinaryFile file;
        if (!file.Open(fileName, BinaryFile::Mode::Read))
            return false;
        data.FileSize = file.Size();
        if (data.FileSize < 0 || !ReadHeaderObjects(file, data))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    if (!Plausible(data))
        return true;

    valid_ = true;
    fileSize_ = data.FileSize;
    channels_ = static_cast<uint8_t>(data.ChannelCount & 0xFF);
    sampleRate_ = static_cast<int32_t>(data.SampleRate);
    duration_ = double(data.FileSize) * 8 / data.MaxBitRate;
    bitRate_ = static_cast<int32_t>(data.ByteRate * 8 / 1000);
    title_ = TrimControl(data.TagData[kTitle]);
    artist_ = TrimControl(data.TagData[kAuthor]);
    album_ = TrimControl(data.TagData[kAlbum]);
    year_ = TrimControl(data.TagData[kYear]);
    genre_ = TrimControl(data.TagData[kGenre]);
    comment_ = TrimControl(data.TagData[kDescription]);
    track_ = DecimalOrZero(TrimControl(data.TagData[kTrack]));
    return true;
}
