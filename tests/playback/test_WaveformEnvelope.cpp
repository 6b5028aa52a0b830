// The waveform envelope decoded through the real audio library: a generated
// file of silence, a tone and silence again shows the tone in its columns
// and nothing elsewhere, in each of the four kinds the player plays as a
// stream (encoded by sox, lame, oggenc and ffmpeg), long enough to be
// decoded in two halves; a file the library cannot decode gives no
// envelope; an abandoned scan delivers nothing.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "PlayerTestSupport.h"
#include "playback/BASSPlayer.h"
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

} // namespace
