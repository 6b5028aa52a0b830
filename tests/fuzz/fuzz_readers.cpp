// Mutation test of every reader: the well-formed originals (Originals.h: MPEG
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
#include "fuzz/FuzzSupport.h"
#include "fuzz/Originals.h"

namespace {

using Bytes = std::vector<uint8_t>;
using originals::Originals;

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

#define EXPECT_UTF8(text) EXPECT_TRUE(::fuzz::IsUtf8(text)) << #text

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
