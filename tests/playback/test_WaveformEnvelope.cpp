// The waveform envelope decoded through the real audio library: a generated
// file of silence, a tone and silence again shows the tone in its columns
// and nothing elsewhere, in each of the four kinds the player plays as a
// stream (encoded by sox, lame, oggenc and ffmpeg), long enough to be
// decoded in two halves; a file the library cannot decode gives no
// envelope; an abandoned scan delivers nothing. The levels behind it: the
// outline of an MP3's side information against its decoded levels, the
// pyramid's columns at two zooms and the columns decoded on demand against
// the samples themselves, and side information that is cut off or not there.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cmath>
#include <cstring>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "PlayerTestSupport.h"
#include "playback/BASSPlayer.h"
#include "core/GranuleGain.h"
#include "core/GainOutline.h"
#include "playback/WaveformEnvelope.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Quote;

class WaveformEnvelopeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        playertest::EnsureApplication();
        player_ = std::make_unique<TBASSPlayer>(nullptr, &prompter_, testsupport::BinFolder());
    }
    static void TearDownTestSuite() { player_.reset(); }

    // 16 s of silence, 8 s of a 440 Hz tone at half scale, 16 s of silence.
    std::string MakeSilenceToneSilence(const std::string& extension)
    {
        std::vector<std::string> commands = {"sox -n -r 44100 -c 2 silence.wav trim 0 16",
                                             "sox -n -r 44100 -c 2 tone.wav synth 8 sine 440 vol 0.5",
                                             "sox silence.wav tone.wav silence.wav -b 16 source.wav"};
        std::string made = "source.wav";
        if (extension != "wav") {
            made = "made." + extension;
            if (extension == "mp3")
                commands.push_back("lame --quiet -b 192 source.wav " + made);
            else if (extension == "ogg")
                commands.push_back("oggenc -Q -q 5 -o " + made + " source.wav");
            else
                commands.push_back("ffmpeg -v error -y -i source.wav -c:a wmav2 -b:a 128k " + made);
        }
        testsupport::CopyFixtures(testsupport::CachedFixtures(commands, {made}), {made}, dir_.Path().string());
        return dir_.File(made);
    }

    // Made by sox (and lame for mp3) in the test's folder, once per run.
    std::string MakeFixture(const std::vector<std::string>& commands, const std::string& made)
    {
        testsupport::CopyFixtures(testsupport::CachedFixtures(commands, {made}), {made}, dir_.Path().string());
        return dir_.File(made);
    }

    static inline playertest::RecordingPrompter prompter_;
    static inline std::unique_ptr<TBASSPlayer> player_;
    testsupport::TempDir dir_;
};

TEST_F(WaveformEnvelopeTest, ToneShowsInItsColumnsInEveryKind)
{
    ASSERT_TRUE(player_->PlayerReady());
    for (const std::string extension : {"wav", "mp3", "ogg", "wma"}) {
        SCOPED_TRACE(extension);
        const std::string file = MakeSilenceToneSilence(extension);
        // As in the window, the player has opened the file (which binds the
        // WMA add-on when a WMA file needs it) before it is scanned.
        ASSERT_TRUE(player_->Open(file));
        // 60 columns of 2/3 s: the tone fills columns 24 to 35, across the
        // middle where the two halves meet. Encoders add a few milliseconds
        // of delay and smear the edges, so the column on either side of
        // each edge is left out.
        std::vector<int> reported;
        const std::vector<float> peaks = ScanEnvelope(file, 60, std::stop_token(),
                                                      [&](const std::vector<float>&, int filled) {
                                                          reported.push_back(filled);
                                                      });
        ASSERT_EQ(peaks.size(), 60u);
        for (int column = 0; column < 60; ++column) {
            SCOPED_TRACE(column);
            if (column >= 25 && column <= 34) {
                EXPECT_GT(peaks[column], 0.4f);
                EXPECT_LT(peaks[column], 0.65f);
            } else if (column <= 22 || column >= 37) {
                EXPECT_LT(peaks[column], 0.02f);
            }
        }
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back(), 60);
    }
}

TEST_F(WaveformEnvelopeTest, UndecodableFilesAndStoppedScansGiveNoEnvelope)
{
    testsupport::WriteText(dir_.File("notes.mp3"), std::string(4096, 'x'));
    EXPECT_TRUE(ScanEnvelope(dir_.File("notes.mp3"), 60, std::stop_token()).empty());
    EXPECT_TRUE(ScanEnvelope(dir_.File("missing.mp3"), 60, std::stop_token()).empty());

    const std::string file = MakeSilenceToneSilence("wav");
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_TRUE(ScanEnvelope(file, 60, stopped.get_token()).empty());

    // The threaded scan: a scan abandoned by a newer one reports nothing;
    // the newer one reports its whole envelope and its end.
    WaveformEnvelope envelope;
    std::vector<int> sizes;
    std::vector<bool> finished;
    QObject::connect(&envelope, &WaveformEnvelope::envelopeChanged,
                     [&](const QList<float>& peaks, int) { sizes.push_back(static_cast<int>(peaks.size())); });
    QObject::connect(&envelope, &WaveformEnvelope::envelopeFinished, [&](bool decoded) { finished.push_back(decoded); });
    envelope.Start(file, 30);
    envelope.Start(file, 45);
    ASSERT_TRUE(playertest::WaitFor([&] { return !finished.empty(); }));
    playertest::DeliverPostedEvents();
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_FALSE(sizes.empty());
    for (int size : sizes)
        EXPECT_EQ(size, 45);
    EXPECT_FALSE(envelope.Running());

    envelope.Start(dir_.File("notes.mp3"), 30);
    ASSERT_TRUE(playertest::WaitFor([&] { return finished.size() == 2; }));
    EXPECT_FALSE(finished.back());
}

double Db(double amplitude) { return 20.0 * std::log10(amplitude); }

TEST_F(WaveformEnvelopeTest, OutlineOfSideInformationTellsTheDecodedLevels)
{
    ASSERT_TRUE(player_->PlayerReady());
    // Four seconds each: a tone at -6 dB RMS, silence, a tone at -40 dB,
    // silence, pink noise.
    const std::string file = MakeFixture(
        {"sox -n -r 44100 -c 2 -b 16 loud.wav synth 4 sine 1000 gain -3",
         "sox -n -r 44100 -c 2 -b 16 quiet.wav synth 4 sine 1000 gain -37",
         "sox -R -n -r 44100 -c 2 -b 16 noise.wav synth 4 pinknoise gain -10",
         "sox -n -r 44100 -c 2 -b 16 silence.wav trim 0 4",
         "sox loud.wav silence.wav quiet.wav silence.wav noise.wav levels.wav",
         "lame --quiet -b 128 levels.wav levels.mp3"},
        "levels.mp3");
    const std::shared_ptr<LevelPyramid> outline = LevelsFor(file);
    const std::shared_ptr<LevelPyramid> decoded = LevelsFor(file);
    ASSERT_TRUE(outline && decoded);
    ASSERT_TRUE(FillGainOutline(file, *outline));
    ASSERT_TRUE(DecodeLevels(file, *decoded, std::stop_token()));

    // One column a second; the seconds at each stretch's edges are left out.
    const std::vector<Level> estimated = outline->Columns(0, 20, 44100);
    const std::vector<Level> heard = decoded->Columns(0, 20, 44100);
    for (int stretch = 0; stretch < 5; ++stretch) {
        for (int column = stretch * 4 + 1; column <= stretch * 4 + 2; ++column) {
            SCOPED_TRACE(column);
            ASSERT_TRUE(estimated[column].Known());
            const Level& truth = heard[column];
            if (stretch % 2 == 1) {
                // lame's silence decodes to the last bit's noise.
                EXPECT_LT(Db(truth.Rms), -80.0);
                EXPECT_LT(Db(estimated[column].Rms), -80.0);
                continue;
            }
            EXPECT_NEAR(Db(estimated[column].Rms), Db(truth.Rms), 6.0);
        }
    }
    EXPECT_NEAR(Db(heard[9].Rms), -40.0, 1.0);
}

// The 16-bit samples of a WAV file's data chunk.
std::vector<int16_t> WavSamples(const std::string& path)
{
    const std::vector<uint8_t> bytes = testsupport::ReadBytes(path);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            std::vector<int16_t> samples(std::min<size_t>(size, bytes.size() - at - 8) / 2);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// Peak and RMS of the stereo samples [first, end) (counted per channel).
Level StereoLevel(const std::vector<int16_t>& samples, int64_t first, int64_t end)
{
    const size_t from = static_cast<size_t>(first * 2);
    const size_t to = std::min(samples.size(), static_cast<size_t>(end * 2));
    int peak = 0;
    double squares = 0;
    for (size_t i = from; i < to; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        squares += static_cast<double>(samples[i]) * samples[i];
    }
    return {static_cast<float>(peak / 32768.0), static_cast<float>(std::sqrt(squares / static_cast<double>(to - from)) / 32768.0)};
}

TEST_F(WaveformEnvelopeTest, PyramidColumnsAgreeWithTheSamplesAtTwoZooms)
{
    ASSERT_TRUE(player_->PlayerReady());
    // Noise swelling and fading, stereo, with a stretch of silence: no two
    // neighbouring stretches alike.
    const std::string file = MakeFixture(
        {"sox -R -n -r 44100 -c 2 -b 16 swell.wav synth 20 pinknoise tremolo 0.35 90 gain -3",
         "sox -n -r 44100 -c 2 -b 16 gap.wav trim 0 3",
         "sox swell.wav gap.wav swell.wav zoom.wav"},
        "zoom.wav");
    const std::vector<int16_t> samples = WavSamples(file);
    ASSERT_FALSE(samples.empty());
    const std::shared_ptr<LevelPyramid> levels = LevelsFor(file);
    ASSERT_TRUE(levels);
    ASSERT_TRUE(DecodeLevels(file, *levels, std::stop_token()));
    ASSERT_EQ(levels->TotalSamples(), static_cast<int64_t>(samples.size() / 2));

    // Columns of 8 blocks (four entries of the level above the blocks)
    // and of 96 (six entries of the level of 16 blocks).
    for (const int64_t blocksPerColumn : {int64_t{8}, int64_t{96}}) {
        SCOPED_TRACE(blocksPerColumn);
        const int64_t samplesPerColumn = blocksPerColumn * levels->BlockSamples();
        const int64_t columns = (levels->TotalSamples() + samplesPerColumn - 1) / samplesPerColumn;
        ASSERT_GE(columns, 8);
        const std::vector<Level> shown = levels->Columns(0, columns, static_cast<double>(samplesPerColumn));
        for (int64_t column = 0; column < columns; ++column) {
            SCOPED_TRACE(column);
            const Level direct = StereoLevel(samples, column * samplesPerColumn, (column + 1) * samplesPerColumn);
            ASSERT_TRUE(shown[column].Known());
            if (direct.Peak == 0) {
                EXPECT_EQ(shown[column].Peak, 0.0f);
                EXPECT_EQ(shown[column].Rms, 0.0f);
                continue;
            }
            // Levels are kept in half-dB steps.
            EXPECT_NEAR(Db(shown[column].Peak), Db(direct.Peak), 0.3);
            EXPECT_NEAR(Db(shown[column].Rms), Db(direct.Rms), 0.6);
        }
    }

    // Finer than a block, decoded on demand: columns of 100 samples, from
    // one stream forward and then back.
    LevelDetail detail(file);
    for (const int64_t firstColumn : {int64_t{5000}, int64_t{1234}}) {
        SCOPED_TRACE(firstColumn);
        const std::vector<Level> fine = detail.Columns(firstColumn, 50, 100);
        ASSERT_EQ(fine.size(), 50u);
        for (int64_t column = 0; column < 50; ++column) {
            const Level direct = StereoLevel(samples, (firstColumn + column) * 100, (firstColumn + column + 1) * 100);
            EXPECT_NEAR(fine[column].Peak, direct.Peak, 1e-6) << column;
            EXPECT_NEAR(fine[column].Rms, direct.Rms, 1e-6) << column;
        }
    }
}

// Bits written most significant first, as the side information holds them.
class BitWriter {
public:
    void Put(unsigned value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i, ++at_) {
            if (at_ / 8 >= bytes_.size())
                bytes_.push_back(0);
            const unsigned bit = i < 32 ? (value >> i) & 1u : 0u;  // runs of zeros may be longer than a word
            bytes_[at_ / 8] |= static_cast<uint8_t>(bit << (7 - at_ % 8));
        }
    }
    std::vector<uint8_t> Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
};

TEST_F(WaveformEnvelopeTest, SideInformationIsReadWhereEachLayoutPutsItAndNotPastTheBytes)
{
    // MPEG 1 joint stereo at 128 kbit/s with a CRC: two granules of two
    // channels, the second granule's first channel silent, one entry with
    // split windows (two table selects, not three).
    BitWriter mpeg1;
    mpeg1.Put(0, 9);  // main_data_begin
    mpeg1.Put(0, 3);  // private bits
    mpeg1.Put(0, 8);  // scfsi
    const unsigned gains[4] = {170, 181, 150, 199};
    const unsigned lengths[4] = {900, 1200, 0, 77};
    for (int entry = 0; entry < 4; ++entry) {
        mpeg1.Put(lengths[entry], 12);
        mpeg1.Put(200, 9);  // big_values
        mpeg1.Put(gains[entry], 8);
        mpeg1.Put(0, 4);
        const bool split = entry == 1;
        mpeg1.Put(split ? 1 : 0, 1);
        if (split)
            mpeg1.Put(0b10'0'11000'00001'000000000, 22);  // tables 24 and 1
        else
            mpeg1.Put(0b00001'00111'01101'0000'000, 22);  // tables 1, 7 and 13
        mpeg1.Put(0, 3);
    }
    std::vector<uint8_t> frame = {0xFF, 0xFA, 0x90, 0x40, 0xAB, 0xCD};
    const std::vector<uint8_t> side = mpeg1.Bytes();
    ASSERT_EQ(side.size(), 32u);
    frame.insert(frame.end(), side.begin(), side.end());

    const FrameGains read = ReadFrameGains(frame.data(), frame.size());
    ASSERT_EQ(read.Granules, 2);
    ASSERT_EQ(read.Channels, 2);
    for (int entry = 0; entry < 4; ++entry) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(read.Entries[entry].GlobalGain, gains[entry]);
        EXPECT_EQ(read.Entries[entry].Part23Length, lengths[entry]);
    }
    EXPECT_EQ(read.Entries[0].LargestQuantity, 15);  // table 13
    EXPECT_EQ(read.Entries[1].LargestQuantity, 15 + 0.75 * 16);  // table 24: 4 linbits
    EXPECT_EQ(EstimatedGranuleDb(read.Entries[2]), kSilenceDb);
    // Same tables, 29 steps of global gain apart.
    EXPECT_NEAR(EstimatedGranuleDb(read.Entries[3]) - EstimatedGranuleDb(read.Entries[0]), 29 * 1.5, 1e-9);

    // MPEG 2 mono without a CRC: one granule, nine bytes.
    BitWriter mpeg2;
    mpeg2.Put(0, 8 + 1);
    mpeg2.Put(345, 12);
    mpeg2.Put(3, 9);
    mpeg2.Put(160, 8);
    mpeg2.Put(0, 9 + 1 + 22 + 2);
    std::vector<uint8_t> mono = {0xFF, 0xF3, 0x40, 0xC0};
    const std::vector<uint8_t> monoSide = mpeg2.Bytes();
    mono.insert(mono.end(), monoSide.begin(), monoSide.end());
    const FrameGains monoRead = ReadFrameGains(mono.data(), mono.size());
    ASSERT_EQ(monoRead.Granules, 1);
    ASSERT_EQ(monoRead.Channels, 1);
    EXPECT_EQ(monoRead.Entries[0].GlobalGain, 160);
    EXPECT_EQ(monoRead.Entries[0].Part23Length, 345);

    // Cut off by a byte, a Layer II header, no header: nothing is read.
    EXPECT_EQ(ReadFrameGains(frame.data(), frame.size() - 1).Granules, 0);
    EXPECT_EQ(ReadFrameGains(mono.data(), mono.size() - 1).Granules, 0);
    std::vector<uint8_t> layer2 = frame;
    layer2[1] = 0xFC;
    EXPECT_EQ(ReadFrameGains(layer2.data(), layer2.size()).Granules, 0);
    EXPECT_EQ(ReadFrameGains(frame.data() + 1, frame.size() - 1).Granules, 0);
}

TEST_F(WaveformEnvelopeTest, OutlineWalksPastGarbageAndATruncatedEnd)
{
    // Six seconds of tone: a sixth of it overwritten with zeros, the next
    // sixth with bytes that pass for frame headers, and the file cut inside
    // its last frame.
    testsupport::MakeMp3(dir_.File("whole.mp3"), 6.0);
    std::vector<uint8_t> bytes = testsupport::ReadBytes(dir_.File("whole.mp3"));
    const size_t sixth = bytes.size() / 6;
    std::fill(bytes.begin() + 2 * sixth, bytes.begin() + 3 * sixth, 0);
    for (size_t at = 3 * sixth; at < 4 * sixth; at += 3) {
        bytes[at] = 0xFF;
        bytes[at + 1] = 0xFB;
        bytes[at + 2] = static_cast<uint8_t>(at);
    }
    bytes.resize(bytes.size() - 200);
    testsupport::WriteBytes(dir_.File("damaged.mp3"), bytes);

    LevelPyramid levels(6 * 44100, static_cast<int64_t>(bytes.size()));
    ASSERT_TRUE(FillGainOutline(dir_.File("damaged.mp3"), levels));
    // The walk steps over the damage as a decoder does (the timeline
    // closes up behind it); whatever the false headers' side information
    // says is a level between silence and full scale.
    EXPECT_TRUE(levels.Block(0).Known());
    EXPECT_GT(levels.KnownBlocks(), levels.Blocks() / 2);
    for (int64_t block = 0; block < levels.Blocks(); ++block) {
        const Level level = levels.Block(block);
        EXPECT_TRUE(!level.Known() || (level.Peak <= 1.0f && level.Rms >= 0.0f && level.Rms <= 1.0f)) << block;
    }

    EXPECT_FALSE(FillGainOutline(dir_.File("missing.mp3"), levels));
    testsupport::WriteText(dir_.File("text.mp3"), std::string(4096, 'x'));
    EXPECT_FALSE(FillGainOutline(dir_.File("text.mp3"), levels));
}

} // namespace
