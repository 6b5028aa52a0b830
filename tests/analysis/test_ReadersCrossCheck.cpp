// The four readers against independent tools on real files: ffprobe for
// durations, sample rates and channel counts, the encoders' own arguments
// for the tag texts.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "analysis/MPEGaudio.h"
#include "analysis/OggVorbis.h"
#include "analysis/WAVfile.h"
#include "analysis/WMAfile.h"
#include "support/TestSupport.h"

using testsupport::Quote;
using testsupport::TempDir;

namespace {

struct Probe {
    double duration = -1;   // ffprobe's estimate, for MPEG audio trimmed of encoder delay or taken from the size
    uint32_t sampleRate = 0;
    int channels = 0;
    int64_t packets = -1;   // audio frames ffprobe read, the VBR/Info frame not counted
};

Probe ProbeFile(const std::string& path)
{
    const auto result = testsupport::Run("ffprobe -v error -count_packets -select_streams a:0 -show_entries "
                            "stream=sample_rate,channels,nb_read_packets:format=duration -of default=noprint_wrappers=1 "
                            + Quote(path));
    std::map<std::string, std::string> values;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    Probe probe;
    if (values.count("duration"))
        probe.duration = std::stod(values["duration"]);
    if (values.count("sample_rate"))
        probe.sampleRate = uint32_t(std::stoul(values["sample_rate"]));
    if (values.count("channels"))
        probe.channels = std::stoi(values["channels"]);
    if (values.count("nb_read_packets"))
        probe.packets = std::stoll(values["nb_read_packets"]);
    return probe;
}

void MakeTone(const std::string& wav, double seconds, int rate, int channels)
{
    const auto made = testsupport::Run("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 "
                          + Quote(wav) + " synth " + std::to_string(seconds) + " sine 440 sine 554");
    ASSERT_EQ(made.exitCode, 0) << made.output;
}

class ReadersCrossCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"ffprobe", "sox", "lame"})
            if (!testsupport::HaveTool(tool))
                GTEST_SKIP() << "missing tool: " << tool;
    }

    TempDir dir;
};

// The play time of the frames ffprobe read: ffprobe's own duration of an MPEG
// file is an estimate (trimmed of the encoder delay, or from the file size
// with the ID3v1 tag counted), its frame count is exact.
double FramesDuration(const Probe& probe, const TMPEGaudio& mpeg)
{
    return double(probe.packets) * SamplesPerFrame(mpeg.Frame()) / mpeg.SampleRate();
}

} // namespace

TEST_F(ReadersCrossCheck, CbrMp3DurationsWithinAFrame)
{
    struct Case {
        int rate;
        int channels;
        int kbps;
        double seconds;
    };
    const Case cases[] = {
        {44100, 2, 128, 7.3}, {48000, 2, 320, 5.2}, {32000, 1, 48, 4.1},
        {22050, 1, 64, 6.7},  {16000, 2, 32, 3.3},  {11025, 1, 16, 5.5}, {8000, 1, 8, 9.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << c.kbps << " kbit/s");
        const std::string wav = dir.File("tone.wav");
        const std::string mp3 = dir.File("cbr" + std::to_string(c.rate) + ".mp3");
        MakeTone(wav, c.seconds, c.rate, c.channels);
        const std::string mode = c.channels == 1 ? "-m m" : "-m j";
        ASSERT_EQ(testsupport::Run("lame --quiet --cbr -b " + std::to_string(c.kbps) + " " + mode + " --tt Tone --add-id3v2 "
                      + Quote(wav) + " " + Quote(mp3)).exitCode, 0);

        TMPEGaudio mpeg;
        ASSERT_TRUE(mpeg.Analyze(mp3));
        ASSERT_TRUE(mpeg.Valid());
        const Probe probe = ProbeFile(mp3);
        EXPECT_EQ(mpeg.SampleRate(), probe.sampleRate);
        EXPECT_EQ(mpeg.ChannelMode() == "Mono" ? 1 : 2, probe.channels);
        EXPECT_EQ(mpeg.BitRate(), c.kbps);
        // The size-based time also counts lame's Info frame: one frame more.
        const double frame = double(SamplesPerFrame(mpeg.Frame())) / mpeg.SampleRate();
        EXPECT_NEAR(mpeg.Duration(), FramesDuration(probe, mpeg), frame + 0.001);
    }
}

TEST_F(ReadersCrossCheck, VbrMp3DurationFromTheXingHeader)
{
    for (int rate : {44100, 24000}) {
        const std::string wav = dir.File("tone.wav");
        const std::string mp3 = dir.File("vbr.mp3");
        MakeTone(wav, 8.0, rate, 2);
        ASSERT_EQ(testsupport::Run("lame --quiet -V 3 " + Quote(wav) + " " + Quote(mp3)).exitCode, 0);
        TMPEGaudio mpeg;
        ASSERT_TRUE(mpeg.Analyze(mp3));
        ASSERT_TRUE(mpeg.VBR().Found);
        ASSERT_TRUE(mpeg.Valid());
        const Probe probe = ProbeFile(mp3);
        EXPECT_EQ(mpeg.SampleRate(), probe.sampleRate);
        const double frame = double(SamplesPerFrame(mpeg.Frame())) / mpeg.SampleRate();
        EXPECT_NEAR(mpeg.Duration(), FramesDuration(probe, mpeg), frame + 0.001) << rate;
        // The average rate implied by the header matches the file's bytes and time.
        const double fileRate = testsupport::ReadBytes(mp3).size() * 8 / probe.duration / 1000;
        EXPECT_NEAR(mpeg.BitRate(), fileRate, fileRate * 0.03) << rate;
    }
}

TEST_F(ReadersCrossCheck, Mp3TagsAreWhatTheEncoderWrote)
{
    const std::string wav = dir.File("tone.wav");
    const std::string mp3 = dir.File("tagged.mp3");
    MakeTone(wav, 3.0, 44100, 2);
    ASSERT_EQ(testsupport::Run("lame --quiet -b 96 --add-id3v2 --tt 'Caf\xC3\xA9 Song' --ta Artist --tl 'The Album' --ty 2001 "
                  "--tc 'A comment' --tn 5 --tg Rock " + Quote(wav) + " " + Quote(mp3)).exitCode, 0);
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.Analyze(mp3));
    ASSERT_TRUE(mpeg.Valid());
    for (auto title : {mpeg.ID3v1().Title(), mpeg.ID3v2().Title()})
        EXPECT_EQ(title, "Caf\xC3\xA9 Song");
    EXPECT_EQ(mpeg.ID3v1().Artist(), "Artist");
    EXPECT_EQ(mpeg.ID3v2().Artist(), "Artist");
    EXPECT_EQ(mpeg.ID3v1().Album(), "The Album");
    EXPECT_EQ(mpeg.ID3v2().Album(), "The Album");
    EXPECT_EQ(mpeg.ID3v1().Year(), "2001");
    EXPECT_EQ(mpeg.ID3v2().Year(), "2001");
    EXPECT_EQ(mpeg.ID3v1().Comment(), "A comment");
    EXPECT_EQ(mpeg.ID3v1().Track(), 5);
    EXPECT_EQ(mpeg.ID3v2().Track(), 5);
    EXPECT_EQ(mpeg.ID3v1().Genre(), "Rock");
    EXPECT_GT(mpeg.ID3v2().Size(), 0);
    // The tags are left out of the audio, so the time still matches.
    const Probe probe = ProbeFile(mp3);
    const double frame = double(SamplesPerFrame(mpeg.Frame())) / mpeg.SampleRate();
    EXPECT_NEAR(mpeg.Duration(), FramesDuration(probe, mpeg), frame + 0.001);
}

TEST_F(ReadersCrossCheck, OggVorbisAgainstFfprobe)
{
    REQUIRE_TOOL("oggenc");
    for (auto [rate, channels] : {std::pair{44100, 2}, {22050, 1}, {48000, 2}}) {
        const std::string wav = dir.File("tone.wav");
        const std::string ogg = dir.File("tone.ogg");
        MakeTone(wav, 4.4, rate, channels);
        ASSERT_EQ(testsupport::Run("oggenc -Q -q 3 -t 'Ogg Title' -a 'Ogg Artist' -o " + Quote(ogg) + " " + Quote(wav)).exitCode, 0);
        TOggVorbis reader;
        ASSERT_TRUE(reader.Analyze(ogg));
        ASSERT_TRUE(reader.Valid());
        const Probe probe = ProbeFile(ogg);
        EXPECT_EQ(reader.SampleRate(), probe.sampleRate);
        EXPECT_EQ(reader.Channels(), probe.channels);
        EXPECT_NEAR(reader.Duration(), probe.duration, 0.001);
        EXPECT_EQ(reader.Title(), "Ogg Title");
        EXPECT_EQ(reader.Artist(), "Ogg Artist");
    }
}

TEST_F(ReadersCrossCheck, WavAndWmaAgainstFfprobe)
{
    REQUIRE_TOOL("ffmpeg");
    const std::string wav = dir.File("tone.wav");
    MakeTone(wav, 3.7, 22050, 2);
    TWAVfile wave;
    ASSERT_TRUE(wave.Analyze(wav));
    ASSERT_TRUE(wave.Valid());
    Probe probe = ProbeFile(wav);
    EXPECT_EQ(wave.SampleRate(), probe.sampleRate);
    EXPECT_EQ(wave.Channels(), probe.channels);
    EXPECT_NEAR(wave.Duration(), probe.duration, 0.0005);

    const std::string wma = dir.File("tone.wma");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -y -i " + Quote(wav) + " -c:a wmav2 -b:a 64k " + Quote(wma)).exitCode, 0);
    TWMAfile windowsMedia;
    ASSERT_TRUE(windowsMedia.Analyze(wma));
    ASSERT_TRUE(windowsMedia.Valid());
    probe = ProbeFile(wma);
    EXPECT_EQ(uint32_t(windowsMedia.SampleRate()), probe.sampleRate);
    EXPECT_EQ(windowsMedia.Channels(), probe.channels);
    // The duration is the file size over the maximum rate, so headers count as time.
    EXPECT_NEAR(windowsMedia.Duration(), probe.duration, probe.duration * 0.1);
}
