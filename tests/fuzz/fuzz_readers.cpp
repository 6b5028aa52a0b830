// Mutation test of every reader: well-formed original files built here (MPEG
// with Xing, Info and VBRI headers and both tags, ID3v2.2/2.3/2.4 tags with
// unsynchronisation, Ogg Vorbis, ASF, WAV) are truncated, bit-flipped,
// overwritten with boundary values, spliced and cut, and each mutant is fed
// to TMPEGaudio, TOggVorbis, TWMAfile, TWAVfile, TID3v1 and TID3v2. The
// generator starts from constants, so every run sees the same files.
//
// What is checked: no crash or undefined behaviour (the target is built with
// the address and undefined-behaviour sanitizers where the compiler links
// them, and allocations above 64 MiB abort under them), no hang (ctest's
// time-out), the texts are UTF-8, and results that claim validity obey the
// readers' own bounds.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "analysis/OggVorbis.h"
#include "analysis/WAVfile.h"
#include "analysis/WMAfile.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- originals

void Put(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void PutBE(Bytes& out, uint64_t value, int width)
{
    for (int k = width - 1; k >= 0; --k)
        out.push_back(uint8_t(value >> (8 * k)));
}

void PutLE(Bytes& out, uint64_t value, int width)
{
    for (int k = 0; k < width; ++k)
        out.push_back(uint8_t(value >> (8 * k)));
}

void PutSynchsafe(Bytes& out, uint32_t value)
{
    for (int shift : {21, 14, 7, 0})
        out.push_back(uint8_t(value >> shift & 0x7F));
}

Bytes Frames(std::array<uint8_t, 4> header, int count)
{
    const uint16_t size = FrameLength(DecodeFrameHeader(header.data()));
    Bytes out;
    for (int k = 0; k < count; ++k) {
        out.insert(out.end(), header.begin(), header.end());
        out.resize(out.size() + size - 4, uint8_t(k));
    }
    return out;
}

Bytes Id3v1Tag()
{
    Bytes tag(128, 0);
    std::memcpy(tag.data(), "TAGTitle", 8);
    std::memcpy(tag.data() + 33, "Artist", 6);
    std::memcpy(tag.data() + 93, "1999", 4);
    tag[126] = 3;
    tag[127] = 17;
    return tag;
}

Bytes TextFrame23(const std::string& id, uint8_t encoding, const Bytes& text)
{
    Bytes frame;
    Put(frame, id);
    PutBE(frame, text.size() + 1, 4);
    frame.push_back(0);
    frame.push_back(0);
    frame.push_back(encoding);
    frame.insert(frame.end(), text.begin(), text.end());
    return frame;
}

Bytes Id3v2Tag(uint8_t version, uint8_t flags, const Bytes& frames, size_t padding)
{
    Bytes tag;
    Put(tag, "ID3");
    tag.push_back(version);
    tag.push_back(0);
    tag.push_back(flags);
    PutSynchsafe(tag, uint32_t(frames.size() + padding));
    tag.insert(tag.end(), frames.begin(), frames.end());
    tag.resize(tag.size() + padding, 0);
    return tag;
}

Bytes Id3v23()
{
    Bytes frames = TextFrame23("TIT2", 0, {'S', 'o', 'n', 'g'});
    const Bytes utf16 = {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE};  // with a surrogate pair
    const Bytes artist = TextFrame23("TPE1", 1, utf16);
    frames.insert(frames.end(), artist.begin(), artist.end());
    const Bytes comment = TextFrame23("COMM", 0, {'e', 'n', 'g', 'd', 0, 'T', 'e', 'x', 't'});
    frames.insert(frames.end(), comment.begin(), comment.end());
    const Bytes track = TextFrame23("TRCK", 0, {'3', '/', '9'});
    frames.insert(frames.end(), track.begin(), track.end());
    const Bytes picture = TextFrame23("APIC", 0, Bytes(200, 0xFF));
    frames.insert(frames.end(), picture.begin(), picture.end());
    return Id3v2Tag(3, 0x80, frames, 64);  // flagged as unsynchronised
}

Bytes Id3v24()
{
    Bytes frames;
    for (auto [id, text] : {std::pair{"TIT2", "Vier"}, {"TALB", "Album \xC3\xA9"}, {"TDRC", "2004-05-06"}}) {
        Put(frames, id);
        PutSynchsafe(frames, uint32_t(std::strlen(text) + 1));
        frames.push_back(0);
        frames.push_back(0);
        frames.push_back(3);  // UTF-8
        Put(frames, text);
    }
    return Id3v2Tag(4, 0x10, frames, 0);  // with a footer flag
}

Bytes Id3v22()
{
    Bytes frames;
    for (auto [id, text] : {std::pair{"TT2", "Zwei"}, {"TP1", "Old"}, {"TCO", "(13)"}}) {
        Put(frames, id);
        PutBE(frames, std::strlen(text) + 1, 3);
        frames.push_back(0);
        Put(frames, text);
    }
    return Id3v2Tag(2, 0, frames, 16);
}

Bytes XingMp3()
{
    Bytes file = Id3v23();
    Bytes stream = Frames({0xFF, 0xFB, 0x90, 0x44}, 12);  // MPEG 1 Layer III, 128 kbit/s, joint stereo
    std::memcpy(stream.data() + 36, "Xing", 4);
    stream[43] = 0x0F;
    std::memcpy(stream.data() + 44, "\x00\x00\x27\x10\x00\x3F\xC8\x20", 8);
    std::memcpy(stream.data() + 36 + 120, "LAME3.99", 8);
    file.insert(file.end(), stream.begin(), stream.end());
    const Bytes tag = Id3v1Tag();
    file.insert(file.end(), tag.begin(), tag.end());
    return file;
}

Bytes InfoMp3()
{
    Bytes file = Id3v24();
    Bytes stream = Frames({0xFF, 0xF3, 0x84, 0xC4}, 40);  // MPEG 2 Layer III, mono
    std::memcpy(stream.data() + 13, "Info", 4);
    std::memcpy(stream.data() + stream.size() - 300, "LAME3.100", 9);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

Bytes VbriMp3()
{
    Bytes file = Id3v22();
    Bytes stream = Frames({0xFF, 0xFB, 0xA2, 0x00}, 10);  // MPEG 1, 160 kbit/s, padded, stereo
    std::memcpy(stream.data() + 36, "VBRI\x00\x01\x00\x4B\x00\x01\x00\x00\x00\x00\x10\x00", 16);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

Bytes LayerIandII()
{
    Bytes file = Frames({0xFF, 0xFF, 0xE4, 0x00}, 8);       // MPEG 1 Layer I
    const Bytes layer2 = Frames({0xFF, 0xF5, 0x88, 0x40}, 8);  // MPEG 2 Layer II
    file.insert(file.end(), layer2.begin(), layer2.end());
    return file;
}

Bytes OggPage(const Bytes& packet, uint64_t granule, uint8_t type)
{
    Bytes page;
    Put(page, "OggS");
    page.push_back(0);
    page.push_back(type);
    PutLE(page, granule, 8);
    PutLE(page, 7, 4);
    PutLE(page, 0, 4);
    PutLE(page, 0, 4);
    Bytes lacing(packet.size() / 255, 255);
    lacing.push_back(uint8_t(packet.size() % 255));
    page.push_back(uint8_t(lacing.size()));
    page.insert(page.end(), lacing.begin(), lacing.end());
    page.insert(page.end(), packet.begin(), packet.end());
    return page;
}

Bytes OggVorbis()
{
    Bytes id{1};
    Put(id, "vorbis");
    PutLE(id, 0, 4);
    id.push_back(2);
    PutLE(id, 44100, 4);
    PutLE(id, 0, 4);
    PutLE(id, 128000, 4);
    PutLE(id, 0, 4);
    id.push_back(0xB8);
    id.push_back(1);
    Bytes comments{3};
    Put(comments, "vorbis");
    const std::string vendor = "Xiph.Org libVorbis I";
    PutLE(comments, vendor.size(), 4);
    Put(comments, vendor);
    const std::vector<std::string> items = {"TITLE=Ogg", "artist=Caf\xC3\xA9", "TRACKNUMBER=4/7",
                                            "DESCRIPTION=" + std::string(300, 'd'), "DATE=2001"};
    PutLE(comments, items.size(), 4);
    for (const std::string& item : items) {
        PutLE(comments, item.size(), 4);
        Put(comments, item);
    }
    comments.push_back(1);
    Bytes file = Id3v2Tag(3, 0, {}, 20);
    for (const Bytes& page : {OggPage(id, 0, 2), OggPage(comments, 0, 0), OggPage(Bytes(600, 0x33), 88200, 4)})
        file.insert(file.end(), page.begin(), page.end());
    return file;
}

Bytes AsfObject(const std::array<uint8_t, 16>& guid, const Bytes& body)
{
    Bytes object(guid.begin(), guid.end());
    PutLE(object, 24 + body.size(), 8);
    object.insert(object.end(), body.begin(), body.end());
    return object;
}

Bytes Utf16(const std::string& ascii)
{
    Bytes out;
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes Wma()
{
    const std::array<uint8_t, 16> header = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::array<uint8_t, 16> fileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const std::array<uint8_t, 16> streamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const std::array<uint8_t, 16> content = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::array<uint8_t, 16> extended = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
    Bytes fp(76, 0);
    PutLE(fp, 128000, 4);
    Bytes sp(54, 0);
    PutLE(sp, 0x161, 2);
    PutLE(sp, 2, 2);
    PutLE(sp, 44100, 4);
    PutLE(sp, 16000, 4);
    PutLE(sp, 0, 6);
    Bytes cd;
    const Bytes title = Utf16("Title"), author = Utf16("Author"), description = Utf16(std::string(260, 'x'));
    for (size_t length : {title.size(), author.size(), size_t(0), description.size(), size_t(0)})
        PutLE(cd, length, 2);
    for (const Bytes* s : {&title, &author, &description})
        cd.insert(cd.end(), s->begin(), s->end());
    Bytes ecd;
    PutLE(ecd, 3, 2);
    auto descriptor = [&](const std::string& name, uint16_t type, const Bytes& value) {
        const Bytes n = Utf16(name);
        PutLE(ecd, n.size(), 2);
        ecd.insert(ecd.end(), n.begin(), n.end());
        PutLE(ecd, type, 2);
        PutLE(ecd, value.size(), 2);
        ecd.insert(ecd.end(), value.begin(), value.end());
    };
    descriptor("WM/TrackNumber", 3, {5, 0, 0, 0});
    descriptor("WM/AlbumTitle", 0, Utf16("Album"));
    descriptor("WM/Track", 0, Utf16("5"));

    Bytes objects;
    for (const Bytes& o : {AsfObject(fileProperties, fp), AsfObject(streamProperties, sp), AsfObject(content, cd),
                           AsfObject(extended, ecd)})
        objects.insert(objects.end(), o.begin(), o.end());
    Bytes file(header.begin(), header.end());
    PutLE(file, 30 + objects.size(), 8);
    PutLE(file, 4, 4);
    PutLE(file, 0x0201, 2);
    file.insert(file.end(), objects.begin(), objects.end());
    file.resize(file.size() + 500, 0x77);
    return file;
}

Bytes Wav()
{
    Bytes file;
    Put(file, "RIFF");
    PutLE(file, 36 + 2000, 4);
    Put(file, "WAVEfmt ");
    PutLE(file, 16, 4);
    PutLE(file, 1, 2);
    PutLE(file, 2, 2);
    PutLE(file, 22050, 4);
    PutLE(file, 88200, 4);
    PutLE(file, 4, 2);
    PutLE(file, 16, 2);
    Put(file, "data");
    PutLE(file, 2000, 4);
    file.resize(file.size() + 2000, 0);
    return file;
}

std::vector<Bytes> Originals()
{
    return {XingMp3(), InfoMp3(), VbriMp3(), LayerIandII(), OggVorbis(), Wma(), Wav()};
}

// ---------------------------------------------------------------- mutations

class Mutator {
public:
    explicit Mutator(uint32_t start) : random_(start) {}

    size_t Below(size_t bound) { return bound == 0 ? 0 : size_t(random_() % bound); }

    // Most parsers look at the first few hundred bytes and the last few;
    // aim there more often than not.
    size_t Position(const Bytes& data)
    {
        if (data.empty())
            return 0;
        switch (Below(4)) {
        case 0: return Below(std::min<size_t>(data.size(), 512));
        case 1: return data.size() - 1 - Below(std::min<size_t>(data.size(), 256));
        default: return Below(data.size());
        }
    }

    Bytes Mutate(Bytes data, const std::vector<Bytes>& originals)
    {
        const size_t steps = 1 + Below(4);
        for (size_t step = 0; step < steps; ++step)
            MutateOnce(data, originals);
        return data;
    }

private:
    void MutateOnce(Bytes& data, const std::vector<Bytes>& originals)
    {
        static constexpr std::array<uint32_t, 10> kWords = {0,          1,          0x7F,       0x80,
                                                            0xFF,       0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                                            0x0FFFFFFF, 0xFFFFFFF0};
        if (data.empty()) {
            data.push_back(uint8_t(random_()));
            return;
        }
        switch (Below(7)) {
        case 0: {  // flip bits
            for (size_t k = 0, n = 1 + Below(8); k < n; ++k)
                data[Position(data)] ^= uint8_t(1u << Below(8));
            break;
        }
        case 1: {  // random bytes
            for (size_t k = 0, n = 1 + Below(6); k < n; ++k)
                data[Position(data)] = uint8_t(random_());
            break;
        }
        case 2: {  // a boundary value as a 1-, 2- or 4-byte field in either byte order
            const uint32_t word = kWords[Below(kWords.size())];
            const size_t width = size_t(1) << Below(3);
            const size_t at = Position(data);
            const bool bigEndian = Below(2) == 0;
            for (size_t k = 0; k < width && at + k < data.size(); ++k)
                data[at + k] = uint8_t(word >> (8 * (bigEndian ? width - 1 - k : k)));
            break;
        }
        case 3:  // truncate
            data.resize(Below(data.size() + 1));
            break;
        case 4: {  // cut out a run
            const size_t at = Position(data);
            const size_t count = std::min(data.size() - at, 1 + Below(64));
            data.erase(data.begin() + long(at), data.begin() + long(at + count));
            break;
        }
        case 5: {  // repeat a run
            const size_t at = Position(data);
            const size_t count = std::min(data.size() - at, 1 + Below(300));
            Bytes run(data.begin() + long(at), data.begin() + long(at + count));
            data.insert(data.begin() + long(Position(data)), run.begin(), run.end());
            break;
        }
        default: {  // splice in a piece of another original
            const Bytes& other = originals[Below(originals.size())];
            const size_t from = Below(other.size());
            const size_t count = std::min(other.size() - from, 1 + Below(200));
            const size_t at = Position(data);
            for (size_t k = 0; k < count && at + k < data.size(); ++k)
                data[at + k] = other[from + k];
            break;
        }
        }
    }

    std::mt19937 random_;
};

// ---------------------------------------------------------------- checks

bool IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = uint8_t(text[i]);
        size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((uint8_t(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}

#define EXPECT_UTF8(text) EXPECT_TRUE(IsUtf8(text)) << #text

void CheckTagTexts(const TID3v1& v1, const TID3v2& v2)
{
    for (const std::string* text : {&v1.Title(), &v1.Artist(), &v1.Album(), &v1.Year(), &v1.Comment()})
        EXPECT_UTF8(*text);
    for (const std::string* text : {&v2.Title(), &v2.Artist(), &v2.Album(), &v2.Year(), &v2.Genre(), &v2.Comment()})
        EXPECT_UTF8(*text);
    EXPECT_GE(v2.Size(), 0);
}

// Runs every reader on the file and checks what each reports. Returns how
// many of the stream readers found a valid stream in it.
int ReadWithEveryReader(const std::string& path, int64_t fileSize)
{
    TMPEGaudio mpeg;
    mpeg.Analyze(path);
    if (mpeg.Valid()) {
        EXPECT_TRUE(mpeg.Frame().Found);
        EXPECT_GE(mpeg.BitRate(), 8);
        EXPECT_LE(mpeg.BitRate(), 448);
        EXPECT_GE(mpeg.Duration(), 0.1);
    }
    if (mpeg.Frame().Found) {
        EXPECT_GE(mpeg.Frame().Position, 0);
        EXPECT_LT(mpeg.Frame().Position, TMPEGaudio::kSearchPositions);
        EXPECT_EQ(mpeg.FileLength(), fileSize);
        EXPECT_GT(mpeg.SampleRate(), 0);
    } else {
        EXPECT_EQ(mpeg.FileLength(), 0);
        EXPECT_FALSE(mpeg.ID3v1().Exists());
        EXPECT_FALSE(mpeg.ID3v2().Exists());
    }
    EXPECT_UTF8(mpeg.EncoderText());
    EXPECT_UTF8(mpeg.VBR().VendorID);
    CheckTagTexts(mpeg.ID3v1(), mpeg.ID3v2());

    TOggVorbis ogg;
    try {
        if (ogg.Analyze(path)) {
            EXPECT_EQ(ogg.FileSize(), fileSize);
            EXPECT_GE(ogg.ID3v2Size(), 0);
            EXPECT_LE(ogg.ID3v2Size(), fileSize);
        }
    } catch (const CorvellaError& error) {
        ADD_FAILURE() << "open error on an existing file: " << error.what();
    }
    if (ogg.Valid()) {
        EXPECT_TRUE(ogg.Channels() == 1 || ogg.Channels() == 2);
        EXPECT_GT(ogg.Duration(), 0.1);
    }
    for (const std::string* text : {&ogg.Title(), &ogg.Artist(), &ogg.Album(), &ogg.Date(), &ogg.Genre(), &ogg.Comment()}) {
        EXPECT_UTF8(*text);
        EXPECT_LE(text->size(), 3 * 250u);
    }

    TWMAfile wma;
    wma.Analyze(path);
    if (wma.Valid()) {
        EXPECT_TRUE(wma.Channels() == 1 || wma.Channels() == 2);
        EXPECT_GE(wma.SampleRate(), 8000);
        EXPECT_LE(wma.SampleRate(), 96000);
        EXPECT_GT(wma.Duration(), 0);
    }
    for (const std::string* text : {&wma.Title(), &wma.Artist(), &wma.Album(), &wma.Year(), &wma.Genre(), &wma.Comment()}) {
        EXPECT_UTF8(*text);
        EXPECT_LE(text->size(), 3 * 250u);
    }

    TWAVfile wav;
    wav.Analyze(path);
    EXPECT_GE(wav.Duration(), 0);

    TID3v1 v1;
    TID3v2 v2;
    v1.ReadTag(path);
    v2.ReadTag(path);
    CheckTagTexts(v1, v2);

    return int(mpeg.Valid()) + int(ogg.Valid()) + int(wma.Valid()) + int(wav.Valid());
}

class ReaderFuzz : public ::testing::Test {
protected:
    int Feed(const Bytes& bytes)
    {
        testsupport::WriteBytes(path, bytes);
        return ReadWithEveryReader(path, int64_t(bytes.size()));
    }

    testsupport::TempDir dir;
    std::string path = dir.File("mutant.bin");
};

} // namespace

TEST_F(ReaderFuzz, OriginalsAreReadAsIntended)
{
    const std::vector<Bytes> originals = Originals();
    testsupport::WriteBytes(path, originals[0]);
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.Analyze(path));
    EXPECT_TRUE(mpeg.VBR().Found);
    EXPECT_TRUE(mpeg.ID3v2().Exists());
    testsupport::WriteBytes(path, originals[4]);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.Analyze(path));
    EXPECT_TRUE(ogg.Valid());
    testsupport::WriteBytes(path, originals[5]);
    TWMAfile wma;
    ASSERT_TRUE(wma.Analyze(path));
    EXPECT_TRUE(wma.Valid());
    testsupport::WriteBytes(path, originals[6]);
    TWAVfile wav;
    ASSERT_TRUE(wav.Analyze(path));
    EXPECT_TRUE(wav.Valid());
}

TEST_F(ReaderFuzz, EveryTruncationOfTheHeaders)
{
    for (const Bytes& original : Originals()) {
        const size_t longest = std::min<size_t>(original.size(), 700);
        for (size_t length = 0; length <= longest; length += 1 + length / 64)
            Feed(Bytes(original.begin(), original.begin() + long(length)));
        if (HasFailure())
            return;
    }
}

TEST_F(ReaderFuzz, MutatedOriginals)
{
    const std::vector<Bytes> originals = Originals();
    Mutator mutator(20061207u);
    constexpr int kRounds = 250;
    int stillValid = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (size_t s = 0; s < originals.size(); ++s) {
            stillValid += Feed(mutator.Mutate(originals[s], originals)) > 0;
            if (HasFailure()) {
                ADD_FAILURE() << "original " << s << ", round " << round;
                return;
            }
        }
    }
    // Mutants that still describe a stream reach the deeper parsing paths;
    // a mutator that wrecked every file would test only the first checks.
    EXPECT_GT(stillValid, kRounds * int(originals.size()) / 5);
}

TEST_F(ReaderFuzz, RandomBytesBehindRealMarkers)
{
    static const std::vector<std::string> markers = {"", "ID3\x03\x00\x00", "ID3\x04\x00\x50", "ID3\x02\x00\x40",
                                                     "OggS", "RIFF", "\x30\x26\xB2\x75\x8E\x66\xCF\x11", "\xFF\xFB",
                                                     "TAG"};
    Mutator random(4242u);
    for (int round = 0; round < 300; ++round) {
        const std::string& marker = markers[random.Below(markers.size())];
        Bytes data(marker.begin(), marker.end());
        const size_t size = random.Below(round % 3 == 0 ? 8000 : 600);
        for (size_t k = 0; k < size; ++k)
            data.push_back(uint8_t(random.Below(256)));
        if (random.Below(2) == 0 && data.size() > 128)
            std::memcpy(data.data() + data.size() - 128, "TAG", 3);
        Feed(data);
        if (HasFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
}
