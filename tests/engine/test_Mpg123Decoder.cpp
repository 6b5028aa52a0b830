// The MPEG decoder on its own, checked against mpg123's own decoding of the
// same frames: seeks are sample-exact, in ordinary files and far into a long
// file without an Info tag (where nothing but the headers says where a
// frame is).

#include "EngineFixture.h"
#include "Mpg123Decoder.h"
#include "analysis/MPEGaudio.h"
#include "support/ByteBuilders.h"

#include <cmath>
#include <fstream>
#include <optional>

using enginetest::Sh;
using testsupport::Quote;

namespace {

constexpr int64_t kFrameSamples = 1152;

std::vector<int16_t> RawSamples(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

// The shift s (|s| <= maxShift) for which got[i] matches reference[at + i + s]
// to within decoding noise, if any.
std::optional<int64_t> MatchingShift(const std::vector<int16_t>& got, const std::vector<int16_t>& reference,
                                     int64_t at, int64_t maxShift) {
    for (int64_t shift = -maxShift; shift <= maxShift; ++shift) {
        if (at + shift < 0 || at + shift + static_cast<int64_t>(got.size()) > static_cast<int64_t>(reference.size()))
            continue;
        double error = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const double d = got[i] - reference[static_cast<size_t>(at + shift) + i];
            error += d * d;
        }
        if (std::sqrt(error / static_cast<double>(got.size())) < 50.0)
            return shift;
    }
    return std::nullopt;
}

class Sweep {
public:
    // A 30 s mono sweep, CBR without an Info tag, and its mpg123 decoding.
    explicit Sweep(const testsupport::TempDir& dir) : mp3(dir.File("block.mp3")) {
        const std::vector<std::string> files = {"block.mp3", "block.raw"};
        testsupport::CopyFixtures(testsupport::CachedFixtures({"sox -n -r 44100 -c 1 -b 16 sweep.wav synth 30 sine 100-3000 vol 0.5",
                                                               "lame --quiet -b 64 -t sweep.wav block.mp3",
                                                               "mpg123 -q -s block.mp3 > block.raw"},
                                                              files),
                                  files, dir.Path().string());
        reference = RawSamples(dir.File("block.raw"));
    }
    std::string mp3;
    std::vector<int16_t> reference;
};

} // namespace

TEST(EngineMpg123Decoder, SeeksInAnOrdinaryFileAreSampleExact) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("mpg123");
    testsupport::TempDir dir;
    const Sweep sweep(dir);
    engine::Mpg123Decoder decoder(sweep.mp3);
    EXPECT_EQ(decoder.LengthFrames(), static_cast<int64_t>(sweep.reference.size()));
    std::vector<int16_t> got(2000);
    for (int64_t target : {int64_t{25} * 44100 + 7, int64_t{3} * 44100 + 1, int64_t{1152}, int64_t{0}}) {
        SCOPED_TRACE(target);
        decoder.Seek(target);
        ASSERT_EQ(decoder.Read(got.data(), static_cast<int64_t>(got.size())), static_cast<int64_t>(got.size()));
        EXPECT_EQ(MatchingShift(got, sweep.reference, target, 3 * kFrameSamples), std::optional<int64_t>(0));
    }
}

TEST(EngineMpg123Decoder, FarSeekInALongFileIsSampleExact) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("mpg123");
    testsupport::TempDir dir;
    const Sweep sweep(dir);
    // 140 copies: 70 minutes, 33 MB.
    const std::vector<uint8_t> block = testsupport::ReadBytes(sweep.mp3);
    const std::string longFile = dir.File("long.mp3");
    {
        std::ofstream out(longFile, std::ios::binary);
        for (int i = 0; i < 140; ++i)
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    const auto blockSamples = static_cast<int64_t>(sweep.reference.size());
    engine::Mpg123Decoder decoder(longFile);
    EXPECT_EQ(decoder.LengthFrames(), 140 * blockSamples);

    const int64_t inBlock = 12 * 44100 + 321;
    decoder.Seek(120 * blockSamples + inBlock);
    std::vector<int16_t> got(2000);
    ASSERT_EQ(decoder.Read(got.data(), static_cast<int64_t>(got.size())), static_cast<int64_t>(got.size()));
    const auto shift = MatchingShift(got, sweep.reference, inBlock, 3 * kFrameSamples);
    EXPECT_EQ(shift, std::optional<int64_t>(0));
}

using bytebuild::Bytes;
using bytebuild::Cat;

// Files whose header frame or tags tell another length than their frames
// hold: the decoder's length and the reader's are what mpg123 decodes.
TEST(EngineMpg123Decoder, LengthIsWhatTheFramesHoldWhereTheHeaderContradictsTheFile) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("mpg123");
    testsupport::TempDir dir;
    testsupport::MakeMp3(dir.File("vbr.mp3"), 8, 44100, 2, "-V 4");
    testsupport::MakeMp3(dir.File("tagged.mp3"), 5, 44100, 2, "-V 4 --add-id3v2 --tt Piece");
    testsupport::MakeMp3(dir.File("plain.mp3"), 8, 44100, 2, "-b 128 -t");
    const Bytes vbr = testsupport::ReadBytes(dir.File("vbr.mp3"));
    const Bytes tagged = testsupport::ReadBytes(dir.File("tagged.mp3"));
    const Bytes plain = testsupport::ReadBytes(dir.File("plain.mp3"));
    ASSERT_TRUE(vbr.size() > 60 && vbr[36] == 'X' && vbr[43] == 0x0F) << "a Xing header with all fields";

    Bytes noFrameCount = vbr;
    std::fill(noFrameCount.begin() + 44, noFrameCount.begin() + 48, 0);
    const Bytes truncated(vbr.begin(), vbr.begin() + static_cast<std::ptrdiff_t>(vbr.size() * 8 / 10));
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"joined, with the tags of both between them", Cat({tagged, tagged, tagged})},
        {"Xing frame count of 0", noFrameCount},
        {"Xing counts of a truncated file", truncated},
        {"an ID3v1 tag and an ID3v2 tag behind it", Cat({plain, bytebuild::Id3v1Block({}), bytebuild::Id3v2PaddingTag(6000)})},
    };
    const double frameSeconds = double(kFrameSamples) / 44100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("case.mp3");
        testsupport::WriteBytes(path, c.bytes);
        ASSERT_EQ(Sh("mpg123 -q -s " + Quote(path) + " > " + Quote(dir.File("case.raw"))).exitCode, 0);
        // Stereo samples, two bytes each.
        const auto decoded = static_cast<int64_t>(testsupport::ReadBytes(dir.File("case.raw")).size() / 4);
        EXPECT_NEAR(engine::Mpg123Decoder(path).LengthFrames(), decoded, kFrameSamples);
        // The reader counts the encoder's delay and padding in, as frames.
        TMPEGaudio reader;
        reader.Analyze(path);
        EXPECT_NEAR(reader.Duration(), double(decoded) / 44100 + frameSeconds, 1.5 * frameSeconds);
    }
}
