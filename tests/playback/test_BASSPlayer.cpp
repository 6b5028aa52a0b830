// The player on the real audio library (silent output): describing and
// opening every kind of file, lengths against the readers, and the
// transport with the end of a stream arriving from the library's thread.
#include "playback/BASSPlayer.h"

#include "analysis/MPEGaudio.h"
#include "analysis/OggVorbis.h"
#include "analysis/WAVfile.h"

#include "PlayerTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

using namespace playertest;
using testsupport::BinFolder;
using testsupport::Quote;
using testsupport::TempDir;

namespace {

// One MPEG-1 Layer III frame at 44.1 kHz.
constexpr uint32_t kFrameMs = 27;

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        player = std::make_unique<TBASSPlayer>(nullptr, &prompter, BinFolder());
        ASSERT_TRUE(player->PlayerReady()) << "the audio library beside the test did not start";
    }
    void TearDown() override { player.reset(); }

    std::string Tone(const std::string& name, double seconds, const std::string& format = "")
    {
        const std::string path = files.File(name);
        auto made = testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + format + Quote(path) + " synth " + std::to_string(seconds) +
                        " sine 440 vol 0.5");
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return path;
    }
    std::string Ogg(const std::string& name, double seconds, const std::string& options)
    {
        const std::string wav = Tone(name + ".source.wav", seconds);
        const std::string path = files.File(name);
        auto made = testsupport::Run("oggenc -Q " + options + " -o " + Quote(path) + " " + Quote(wav));
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return path;
    }
    std::string Wma(const std::string& name, const std::string& metadata = "")
    {
        const std::string path = files.File(name);
        auto made = testsupport::Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=3:sample_rate=44100 -ac 2 "
                        "-c:a wmav2 -b:a 128k " + metadata + " " + Quote(path));
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return path;
    }
    std::string Mp3(const std::string& name, double seconds, const std::string& lameOptions = "-b 128")
    {
        const std::string path = files.File(name);
        testsupport::MakeMp3(path, seconds, 44100, 2, lameOptions);
        return path;
    }
    std::vector<std::string> ShownTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& message : prompter.shown)
            texts.push_back(message.text);
        return texts;
    }

    TempDir files;
    RecordingPrompter prompter;
    std::unique_ptr<TBASSPlayer> player;
};

} // namespace

TEST_F(PlayerTest, ReportsTheLibraryItBound)
{
    EXPECT_EQ(player->BASSDLLVer(), "1.8");
    EXPECT_TRUE(player->WMAReady());
    EXPECT_TRUE(player->DX8EffectReady());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(PlayerTest, Mp3WithBothTagsTakesEveryTextFromId3v1)
{
    REQUIRE_TOOL("lame");
    const std::string path = Mp3("both tags.mp3", 2,
                                 "-b 128 --id3v2-only --tt \"Two Title\" --ta \"Two Artist\" --tl \"Two Album\" "
                                 "--ty 1999 --tc \"Two Comment\" --tn 9 --tg Jazz");
    auto bytes = testsupport::ReadBytes(path);
    const auto tag = Id3v1Tag("One Title", "One Artist", "One Album", "2001", "One Comment", 5, 17);
    bytes.insert(bytes.end(), tag.begin(), tag.end());
    testsupport::WriteBytes(path, bytes);

    ASSERT_TRUE(player->Open(path)) << (prompter.shown.empty() ? "" : prompter.shown[0].text);
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_EQ(info.FileName, path);
    EXPECT_EQ(info.FileSize, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.BitRate, 128);
    EXPECT_EQ(info.Channels, 2u);
    EXPECT_EQ(info.Title, "One Title");
    EXPECT_EQ(info.Artist, "One Artist");
    EXPECT_EQ(info.Album, "One Album");
    EXPECT_EQ(info.Year, "2001");
    EXPECT_EQ(info.Comment, "One Comment");
    EXPECT_EQ(info.Track, 5u);
    EXPECT_EQ(info.GenreID, 17u);
    EXPECT_EQ(info.Genre, "Rock");
    EXPECT_EQ(player->ChannelType(), ctStream);
    EXPECT_EQ(player->Mode(), plmReady);
}

TEST_F(PlayerTest, Mp3WithOnlyId3v2OrNoTag)
{
    REQUIRE_TOOL("lame");
    TStreamInfo info;
    ASSERT_TRUE(player->GetStreamInfo(
        Mp3("v2.mp3", 1, "-b 128 --id3v2-only --tt \"Two Title\" --ta \"Two Artist\" --tn 9"), info));
    EXPECT_EQ(info.Title, "Two Title");
    EXPECT_EQ(info.Artist, "Two Artist");
    EXPECT_EQ(info.Track, 9u);
    EXPECT_EQ(info.GenreID, 0u);

    const std::string bare = Mp3("bare.mp3", 1, "-b 96 -m m");
    ASSERT_TRUE(player->GetStreamInfo(bare, info));
    EXPECT_EQ(info.FileName, bare);
    EXPECT_EQ(info.BitRate, 96);
    EXPECT_EQ(info.Channels, 1u);
    EXPECT_EQ(info.Title, "");
    EXPECT_EQ(info.Artist, "");
    EXPECT_EQ(info.Album, "");
    EXPECT_EQ(info.Year, "");
    EXPECT_EQ(info.Genre, "");
    EXPECT_EQ(info.Comment, "");
    EXPECT_EQ(info.GenreID, 0u);
    EXPECT_EQ(info.Track, 0u);
}

TEST_F(PlayerTest, ExtensionIsComparedInUpperCase)
{
    REQUIRE_TOOL("lame");
    const std::string lower = Mp3("song.mp3", 1);
    for (const char* name : {"SONG.MP3", "Song.Mp3"}) {
        const std::string other = files.File(name);
        std::filesystem::copy_file(lower, other);
        TStreamInfo info;
        EXPECT_TRUE(player->GetStreamInfo(other, info)) << name;
        EXPECT_EQ(info.BitRate, 128) << name;
    }
    const std::string backup = files.File("song.mp3.bak");
    std::filesystem::copy_file(lower, backup);
    TStreamInfo info;
    info.Title = "stale";
    EXPECT_FALSE(player->GetStreamInfo(backup, info));
    EXPECT_EQ(info.FileName, backup);
    EXPECT_EQ(info.Title, "");
    EXPECT_EQ(info.Duration, 0u);
}

TEST_F(PlayerTest, RefusedFileLeavesThePreviousOneOpen)
{
    REQUIRE_TOOL("lame");
    const std::string song = Mp3("song.mp3", 1);
    ASSERT_TRUE(player->Open(song));
    const TStreamInfo before = player->StreamInfo();
    const std::string backup = files.File("song.mp3.bak");
    std::filesystem::copy_file(song, backup);

    EXPECT_FALSE(player->Open(backup));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);
    EXPECT_EQ(prompter.shown[0].text.rfind("Invalid stream file(" + backup + ") !\r\n(error code: ", 0), 0u);
    EXPECT_EQ(player->Mode(), plmReady);
    EXPECT_EQ(player->StreamName(), song);
    EXPECT_EQ(player->StreamInfo().Duration, before.Duration);
    EXPECT_EQ(player->ChannelType(), ctStream);
    EXPECT_GT(player->PlayLength(), 0u); // the channel is still there
}

// A file that cannot be read at all is refused with the system's reason;
// one that is readable but holds no known stream gets no reason line.
TEST_F(PlayerTest, UnreadableFileIsRefusedWithTheSystemsReason)
{
    const std::string missing = files.File("gone.mp3");
    const std::string folder = files.File("folder.mp3");
    std::filesystem::create_directory(folder);
    for (const auto& [name, reason] : {std::pair{missing, std::strerror(ENOENT)}, {folder, std::strerror(EISDIR)}}) {
        prompter.shown.clear();
        EXPECT_FALSE(player->Open(name));
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].text.rfind("Invalid stream file(" + name + ") !\r\n" + reason + "\r\n(error code: ", 0),
                  0u) << prompter.shown[0].text;
    }
}

TEST_F(PlayerTest, OggAndWavAreDescribedAndOpened)
{
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("sox");
    const std::string ogg = Ogg("song.ogg", 3,
                                "-q 4 -t Title -a Artist -l Album -d 2003 -G Blues -N 4 -c COMMENT=Nice");
    ASSERT_TRUE(player->Open(ogg)) << ShownTexts().size();
    const TStreamInfo& info = player->StreamInfo();
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.Channels, 2u);
    EXPECT_GT(info.BitRate, 0);
    EXPECT_EQ(info.Title, "Title");
    EXPECT_EQ(info.Artist, "Artist");
    EXPECT_EQ(info.Album, "Album");
    EXPECT_EQ(info.Year, "2003");
    EXPECT_EQ(info.Genre, "Blues");
    EXPECT_EQ(info.Track, 4u);
    EXPECT_EQ(info.Comment, "Nice");
    EXPECT_EQ(info.Duration, 3000u);
    EXPECT_EQ(player->ChannelType(), ctStream);
    EXPECT_NEAR(player->PlayLength(), 3000.0, 1.0);

    const std::string wav = Tone("song.wav", 1.5);
    ASSERT_TRUE(player->Open(wav));
    EXPECT_EQ(player->StreamInfo().Duration, 1500u);
    EXPECT_EQ(player->StreamInfo().SampleRate, 44100u);
    EXPECT_EQ(player->StreamInfo().Channels, 2u);
    EXPECT_EQ(player->StreamInfo().BitRate, 0);
    EXPECT_EQ(player->StreamInfo().FileSize, static_cast<int64_t>(std::filesystem::file_size(wav)));
    EXPECT_EQ(player->PlayLength(), 1500u);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(PlayerTest, WmaPlaysThroughTheAddOn)
{
    REQUIRE_TOOL("ffmpeg");
    const std::string wma = Wma("song.wma", "-metadata title=Wtitle -metadata artist=Wartist");
    ASSERT_TRUE(player->Open(wma)) << (prompter.shown.empty() ? "" : prompter.shown[0].text);
    EXPECT_EQ(player->ChannelType(), ctWMA);
    EXPECT_EQ(player->StreamInfo().Title, "Wtitle");
    EXPECT_EQ(player->StreamInfo().Artist, "Wartist");
    EXPECT_EQ(player->StreamInfo().SampleRate, 44100u);
    EXPECT_NEAR(player->PlayLength(), 3000.0, 50.0);
    player->Play();
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_TRUE(WaitFor([&] { return player->Position() > 0; }));
    // The add-on's own end sync brings the player to a stop.
    player->SetPosition(2500);
    EXPECT_GE(player->Position(), 2400u);
    EXPECT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
}

TEST_F(PlayerTest, WmaWithoutTheAddOnCannotBePlayed)
{
    REQUIRE_TOOL("ffmpeg");
    const std::string wma = Wma("song.wma");
    player.reset();
    TempDir folder;
    std::filesystem::create_symlink(BinFolder() + "libbass.so", folder.Path() / "libbass.so");
    player = std::make_unique<TBASSPlayer>(nullptr, &prompter, folder.Path().string());
    ASSERT_TRUE(player->PlayerReady());
    EXPECT_FALSE(player->WMAReady());
    EXPECT_TRUE(prompter.shown.empty()); // a missing add-on is silent

    TStreamInfo info;
    EXPECT_TRUE(player->GetStreamInfo(wma, info));
    EXPECT_FALSE(player->Open(wma));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(prompter.shown[0].text.rfind("Can't play the file\r\n(error code: ", 0), 0u);
    EXPECT_EQ(player->ChannelType(), ctUnknown);
    EXPECT_EQ(player->Mode(), plmStandby);
}

TEST_F(PlayerTest, PlayLengthAgreesWithTheReaders)
{
    REQUIRE_TOOL("lame");
    // Without lame's Info frame every frame is audio to both sides. With it
    // the library trims the encoder's delay and padding (as mpg123 does),
    // while the reader counts whole frames: up to three frames apart then.
    struct Case {
        const char* options;
        double tolerance;
    };
    for (const Case& c : {Case{"-b 128 -t", kFrameMs}, Case{"-b 64 -m m -t", kFrameMs}, Case{"-b 320 -t", kFrameMs},
                          Case{"-b 128", 3.0 * kFrameMs}}) {
        SCOPED_TRACE(c.options);
        const std::string path = Mp3("cbr.mp3", 10, c.options);
        TMPEGaudio reader;
        ASSERT_TRUE(reader.Analyze(path));
        ASSERT_TRUE(player->Open(path));
        EXPECT_NEAR(player->PlayLength(), reader.Duration() * 1000, c.tolerance);
        EXPECT_EQ(player->StreamInfo().Duration, static_cast<uint32_t>(std::nearbyint(reader.Duration() * 1000)));
        player->Close();
        std::filesystem::remove(path);
    }
    const std::string ogg = Ogg("length.ogg", 4.25, "-q 2");
    TOggVorbis oggReader;
    ASSERT_TRUE(oggReader.Analyze(ogg));
    ASSERT_TRUE(player->Open(ogg));
    EXPECT_EQ(player->PlayLength(), static_cast<uint32_t>(std::nearbyint(oggReader.Duration() * 1000)));

    const std::string wav = Tone("exact.wav", 2.5);
    TWAVfile wavReader;
    ASSERT_TRUE(wavReader.Analyze(wav));
    ASSERT_TRUE(player->Open(wav));
    EXPECT_EQ(player->PlayLength(), static_cast<uint32_t>(std::nearbyint(wavReader.Duration() * 1000)));
}

TEST_F(PlayerTest, EightBitWavOpensPlaysAndReportsItsLength)
{
    REQUIRE_TOOL("sox");
    // The library decodes 8-bit samples to 16 bits, so the channel it gives
    // the player is a 16-bit one and must not be refused as 8-bit.
    for (const char* encoding : {"unsigned-integer", "signed-integer"}) {
        SCOPED_TRACE(encoding);
        const std::string path = files.File(std::string(encoding) + ".wav");
        auto made = testsupport::Run(std::string("sox -n -r 22050 -c 1 -b 8 -e ") + encoding + " " + Quote(path) +
                                     " synth 0.6 sine 440 vol 0.5");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        ASSERT_TRUE(player->Open(path)) << (ShownTexts().empty() ? "" : ShownTexts().front());
        EXPECT_EQ(player->ChannelType(), ctStream);
        EXPECT_EQ(player->StreamInfo().Channels, 1u);
        EXPECT_EQ(player->PlayLength(), 600u);
        player->Play();
        ASSERT_EQ(player->Mode(), plmPlaying);
        ASSERT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
        EXPECT_GE(player->Position(), 590u);
    }
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(PlayerTest, EndOfStreamStopsAndTheNextPlayStartsFromTheBeginning)
{
    REQUIRE_TOOL("lame");
    ASSERT_TRUE(player->Open(Mp3("short.mp3", 1)));
    std::vector<TPlayerMode> changes;
    QObject::connect(player.get(), &TBASSPlayer::modeChanged, [&](TPlayerMode mode) { changes.push_back(mode); });
    player->Play();
    ASSERT_EQ(player->Mode(), plmPlaying);
    ASSERT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
    EXPECT_EQ(changes, (std::vector<TPlayerMode>{plmPlaying, plmStopped}));
    EXPECT_GT(player->Position(), 900u);

    player->Play();
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_LT(player->Position(), 500u);
    // And it reaches the end once more.
    ASSERT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
}

TEST_F(PlayerTest, PlayerMayGoWhileItsStreamIsEnding)
{
    REQUIRE_TOOL("lame");
    // Whether the library's end arrives before, during or after the player
    // goes, nothing may reach the destroyed player.
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(player->Open(Mp3("ending.mp3", 0.5)));
        player->Play();
        ASSERT_TRUE(WaitFor([&] { return player->Position() >= 400 || player->Mode() == plmStopped; }));
        player.reset();
        DeliverPostedEvents();
        player = std::make_unique<TBASSPlayer>(nullptr, &prompter, BinFolder());
        ASSERT_TRUE(player->PlayerReady());
    }
}

TEST_F(PlayerTest, PositionMovesWithPlaybackAndSeeks)
{
    REQUIRE_TOOL("lame");
    ASSERT_TRUE(player->Open(Mp3("long.mp3", 20)));
    EXPECT_EQ(player->Position(), 0u);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->Position() >= 200; }));

    player->PausePlay();
    const uint32_t paused = player->Position();
    player->Stop(); // nothing while paused
    EXPECT_EQ(player->Mode(), plmPaused);
    EXPECT_EQ(player->Position(), paused);
    player->Play();
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_GE(player->Position(), paused);

    player->SetPosition(15000);
    EXPECT_GE(player->Position(), 15000u);
    EXPECT_LT(player->Position(), 17000u);
    player->SetPosition(player->StreamInfo().Duration + 1); // beyond the reader's duration
    EXPECT_LT(player->Position(), 17000u);

    player->Stop();
    const uint32_t stopped = player->Position();
    EXPECT_GE(stopped, 15000u); // a stop does not rewind
    player->Play();
    EXPECT_LT(player->Position(), 1000u);
}

TEST_F(PlayerTest, VolumeReadsBackWhatWasSet)
{
    player->SetVolume(35);
    EXPECT_EQ(player->Volume(), 35);
    player.reset();
    player = std::make_unique<TBASSPlayer>(nullptr, &prompter, BinFolder());
    // A new player starts from the library's own volumes.
    EXPECT_GE(player->Volume(), 0);
    EXPECT_LE(player->Volume(), 100);
}

// The decoding libraries read a whole comment header into memory (one
// allocation per item): a huge one, or one of very many items, is refused
// before any of them sees the file.
TEST_F(PlayerTest, OggWithAHugeCommentHeaderIsRefusedBeforeDecoding)
{
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("vorbiscomment");
    const std::string ogg = Ogg("plain.ogg", 1, "-q 0");
    const struct {
        const char* name;
        std::string comments;
    } cases[] = {
        {"60000 empty comments", [] {
             std::string lines;
             for (int i = 0; i < 60000; ++i)
                 lines += "A=\n";
             return lines;
         }()},
        {"one comment of 17 MiB", "A=" + std::string(17u << 20, 'x') + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::WriteText(files.File("comments.txt"), c.comments);
        const std::string hostile = files.File("hostile.ogg");
        ASSERT_EQ(testsupport::Run("vorbiscomment -w -c " + Quote(files.File("comments.txt")) + " " + Quote(ogg)
                                   + " " + Quote(hostile))
                      .exitCode,
                  0);
        prompter.shown.clear();
        EXPECT_FALSE(player->Open(hostile));
        EXPECT_EQ(player->ChannelType(), ctUnknown);
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_NE(prompter.shown[0].text.find("comment header"), std::string::npos) << prompter.shown[0].text;
    }
    // An ordinary file opens as before.
    EXPECT_TRUE(player->Open(ogg));
}

// libopenmpt knows a module by its bytes; the player must let it through
// by the four extensions module files carry.
TEST_F(PlayerTest, ModuleFilesOpenByTheirExtensions)
{
    for (const char* name : {"tune.mod", "tune.XM", "tune.s3m", "tune.It"}) {
        SCOPED_TRACE(name);
        const std::string path = files.File(name);
        testsupport::WriteBytes(path, ModuleDressedAsWav());
        ASSERT_TRUE(player->Open(path)) << (prompter.shown.empty() ? "" : prompter.shown.back().text);
        EXPECT_EQ(player->ChannelType(), ctMusic);
        EXPECT_GT(player->PlayLength(), 0u);
        EXPECT_EQ(player->StreamInfo().Duration, player->PlayLength());
        EXPECT_EQ(player->StreamInfo().FileName, path);
        EXPECT_GT(player->StreamInfo().SampleRate, 0u);
    }
}

TEST_F(PlayerTest, ModuleMusicPlaysAndAlwaysReportsPositionZero)
{
    const std::string path = files.File("module.wav");
    testsupport::WriteBytes(path, ModuleDressedAsWav());
    ASSERT_TRUE(player->Open(path)) << (prompter.shown.empty() ? "" : prompter.shown[0].text);
    EXPECT_EQ(player->ChannelType(), ctMusic);
    EXPECT_NEAR(player->PlayLength(), 1920.0, 30.0);
    player->SetVolume(40);
    EXPECT_EQ(player->Volume(), 40);

    player->Play();
    EXPECT_EQ(player->Mode(), plmPlaying);
    player->SetPosition(100);
    EXPECT_EQ(player->Position(), 0u);
    ASSERT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
    EXPECT_EQ(player->Position(), 0u);
    player->Play();
    EXPECT_EQ(player->Mode(), plmPlaying);
    player->Close();
    EXPECT_EQ(player->ChannelType(), ctUnknown);
}
