// TWAVfile on canonical headers built in the test and on files made by sox.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/WAVfile.h"
#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using bytebuild::Bytes;
using bytebuild::SetLE;

class WAVfileTest : public ::testing::Test {
protected:
    std::string Write(const Bytes& bytes)
    {
        const std::string path = dir.File("file" + std::to_string(++count) + ".wav");
        WriteBytes(path, bytes);
        return path;
    }

    TempDir dir;
    TWAVfile wav;
    int count = 0;
};

} // namespace

TEST_F(WAVfileTest, CanonicalHeader)
{
    ASSERT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 44100, 16, 441000))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Channels(), 2);
    EXPECT_EQ(wav.SampleRate(), 44100u);
    EXPECT_EQ(wav.BitsPerSample(), 16);
    EXPECT_EQ(wav.FileSize(), 441044);
    EXPECT_DOUBLE_EQ(wav.Duration(), 441000 * 8.0 / 44100 / 16 / 2);
}

TEST_F(WAVfileTest, FileSizeComesFromTheRiffChunk)
{
    Bytes file = bytebuild::PcmWav(1, 8000, 8, 8000);
    SetLE(file, 4, 36 + 4000, 4);  // a header that claims half the data
    ASSERT_TRUE(wav.Analyze(Write(file)));
    EXPECT_EQ(wav.FileSize(), 4044);
    EXPECT_DOUBLE_EQ(wav.Duration(), 0.5);

    // A RIFF size past 2 GiB stays positive.
    SetLE(file, 4, 0xFFFFFFF0, 4);
    ASSERT_TRUE(wav.Analyze(Write(file)));
    EXPECT_EQ(wav.FileSize(), int64_t(0xFFFFFFF0) + 8);
    EXPECT_GT(wav.Duration(), 0);
}

TEST_F(WAVfileTest, ExtraChunksBeforeTheDataAreAcceptedAndCountedAsAudio)
{
    Bytes file = bytebuild::PcmWav(2, 22050, 16, 88200);
    // A 26-byte LIST chunk where "data" was: the data chunk moves behind it.
    Bytes list = {'L', 'I', 'S', 'T', 18, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 6, 0, 0, 0,
                  'T', 'i', 't', 'l', 'e', 0};
    file.insert(file.begin() + 36, list.begin(), list.end());
    SetLE(file, 4, uint32_t(file.size() - 8), 4);
    ASSERT_TRUE(wav.Analyze(Write(file)));
    EXPECT_TRUE(wav.Valid());
    EXPECT_DOUBLE_EQ(wav.Duration(), (88200 + 26) * 8.0 / 22050 / 16 / 2);
}

TEST_F(WAVfileTest, HeaderTest)
{
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(3, 44100, 16, 1000))));
    EXPECT_FALSE(wav.Valid()) << "three channels";
    EXPECT_EQ(wav.Channels(), 0);
    EXPECT_EQ(wav.Duration(), 0);
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(0, 44100, 16, 1000))));
    EXPECT_FALSE(wav.Valid());
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(1, 44100, 16, 1000))));
    EXPECT_TRUE(wav.Valid());

    for (size_t at : {0, 8, 12}) {
        Bytes file = bytebuild::PcmWav(2, 44100, 16, 1000);
        file[at + 1] ^= 0x20;
        EXPECT_TRUE(wav.Analyze(Write(file)));
        EXPECT_FALSE(wav.Valid()) << "identifier at " << at;
    }
    // Neither the format tag nor the data identifier is tested.
    Bytes loose = bytebuild::PcmWav(2, 44100, 16, 1000);
    SetLE(loose, 20, 0xFFFE, 2);
    std::memcpy(loose.data() + 36, "junk", 4);
    EXPECT_TRUE(wav.Analyze(Write(loose)));
    EXPECT_TRUE(wav.Valid());
}

TEST_F(WAVfileTest, ShortOrMissingFile)
{
    Bytes file = bytebuild::PcmWav(2, 44100, 16, 0);
    file.pop_back();
    EXPECT_FALSE(wav.Analyze(Write(file)));
    EXPECT_FALSE(wav.Valid());
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 44100, 16, 0))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    EXPECT_FALSE(wav.Analyze(dir.File("missing.wav")));
    EXPECT_FALSE(wav.Valid());
}

TEST_F(WAVfileTest, UnusableValuesGiveNoDuration)
{
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 0, 16, 1000))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 0x10000, 16, 1000))));
    EXPECT_EQ(wav.Duration(), 0);
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 44100, 0, 1000))));
    EXPECT_EQ(wav.Duration(), 0);
    // Bits per sample keep their low byte: 256 bits read as 0.
    EXPECT_TRUE(wav.Analyze(Write(bytebuild::PcmWav(2, 44100, 256, 1000))));
    EXPECT_EQ(wav.BitsPerSample(), 0);
    EXPECT_EQ(wav.Duration(), 0);
    // A RIFF size smaller than the header gives no negative time.
    Bytes file = bytebuild::PcmWav(2, 44100, 16, 1000);
    SetLE(file, 4, 10, 4);
    EXPECT_TRUE(wav.Analyze(Write(file)));
    EXPECT_EQ(wav.Duration(), 0);
}

TEST_F(WAVfileTest, SoxFiles)
{
    REQUIRE_TOOL("sox");
    struct Case {
        int rate;
        int channels;
        int bits;
    };
    for (const Case& c : {Case{8000, 1, 8}, Case{48000, 2, 24}, Case{96000, 2, 16}}) {
        const std::string path = dir.File("sox" + std::to_string(c.rate) + ".wav");
        const auto made = testsupport::Run("sox -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels)
                                           + " -b " + std::to_string(c.bits) + " " + testsupport::Quote(path)
                                           + " synth 2.5 sine 300");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        ASSERT_TRUE(wav.Analyze(path));
        EXPECT_TRUE(wav.Valid());
        EXPECT_EQ(wav.SampleRate(), uint32_t(c.rate));
        EXPECT_EQ(wav.Channels(), c.channels);
        EXPECT_EQ(wav.BitsPerSample(), c.bits);
        // sox writes the extensible format chunk for 24 bits; its extra bytes count as audio.
        EXPECT_NEAR(wav.Duration(), 2.5, c.bits == 24 ? 0.001 : 1e-9) << c.rate;
    }
}
