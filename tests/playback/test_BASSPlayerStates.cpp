// The player's construction, opening, messages and state machine, driven
// through a test double of the audio library (bin/variants/) whose calls are
// logged and whose failures are switched on by FAKEBASS_* variables. The
// files are described by the real readers.
#include "playback/BASSPlayer.h"
#include "playback/RT_bass.h"
#include "playback/SharedLibrary.h"

#include "analysis/Errors.h"

#include "PlayerTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace playertest;
using testsupport::BinFolder;
using testsupport::TempDir;

namespace {

const char* const kKnobs[] = {"FAKEBASS_INIT_FAILS", "FAKEBASS_START_FAILS", "FAKEBASS_PLAY_FAILS",
                              "FAKEBASS_STREAM_FAILS", "FAKEBASS_MUSIC", "FAKEBASS_DSVER",
                              "FAKEBASS_FLAGS", "FAKEBASS_LENGTH", "FAKEBASS_MUSIC_LENGTH",
                              "FAKEBASS_ERROR", "FAKEBASS_WMA"};

std::string Variant(const std::string& name)
{
    return BinFolder() + "variants/" + name + "/";
}

class PlayerStatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        for (const char* knob : kKnobs)
            unsetenv(knob);
        setenv("FAKEBASS_LOG", LogPath().c_str(), 1);
        testsupport::WriteBytes(Wav(), SilentWav(44100, 2, 2 * 44100)); // 2.000 s
        testsupport::WriteBytes(OtherWav(), SilentWav(22050, 1, 22050)); // 1.000 s
    }
    void TearDown() override
    {
        player.reset();
        unsetenv("FAKEBASS_LOG");
    }

    void MakePlayer(const std::string& variant = "full")
    {
        // Kept loaded for the whole test, so that its hooks can be reached
        // even after the player has released it.
        pin = SharedLibrary(Variant(variant) + "libbass.so");
        player = std::make_unique<TBASSPlayer>(nullptr, &prompter, Variant(variant));
        ClearLog();
    }
    std::string LogPath() const { return files.File("calls.log"); }
    std::string Wav() const { return files.File("two seconds.wav"); }
    std::string OtherWav() const { return files.File("one second.WAV"); }
    std::string Calls() const
    {
        return std::filesystem::exists(LogPath()) ? testsupport::ReadText(LogPath()) : std::string();
    }
    void ClearLog() const { std::filesystem::remove(LogPath()); }
    bool Logged(const std::string& line) const { return Calls().find(line + "\n") != std::string::npos; }
    // Runs the end sync on a thread of the library double, as its mixer would.
    void FireEnd() const
    {
        auto fire = reinterpret_cast<void (*)()>(pin.Symbol("FakeBASS_FireEnd"));
        ASSERT_NE(fire, nullptr);
        fire();
    }

    TempDir files;
    SharedLibrary pin;
    RecordingPrompter prompter;
    std::unique_ptr<TBASSPlayer> player;
};

} // namespace

TEST_F(PlayerStatesTest, MissingLibraryLeavesAPlayerThatOnlySaysItIsNotReady)
{
    TempDir empty;
    player = std::make_unique<TBASSPlayer>(nullptr, &prompter, empty.Path().string());
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_FALSE(player->PlayerReady());
    EXPECT_FALSE(player->WMAReady());
    EXPECT_EQ(player->BASSDLLVer(), "");
    EXPECT_EQ(player->Version(), "1.2");
    EXPECT_EQ(player->Mode(), plmStandby);

    const ShownMessage notReady{"Confirm", "Player is not ready !", MessageIcon::Confirmation};
    EXPECT_FALSE(player->Open(Wav()));
    EXPECT_FALSE(player->Open(files.File("anything.xyz")));
    EXPECT_EQ(prompter.shown, (std::vector<ShownMessage>{notReady, notReady}));
    EXPECT_EQ(player->Mode(), plmStandby);
    EXPECT_EQ(player->ChannelType(), ctUnknown);

    // Nothing else reaches the missing library.
    player->Play();
    player->SetVolume(150);
    EXPECT_EQ(player->Volume(), 100);
    EXPECT_EQ(player->Position(), 0u);
    EXPECT_EQ(player->PlayLength(), 0u);
    player->Close();
    EXPECT_EQ(prompter.shown.size(), 2u);

    // Describing a file needs no library.
    TStreamInfo info;
    EXPECT_TRUE(player->GetStreamInfo(Wav(), info));
    EXPECT_EQ(info.Duration, 2000u);
}

TEST_F(PlayerStatesTest, LibraryOfAnotherVersionIsRefused)
{
    for (const char* variant : {"v17", "v20"}) {
        SCOPED_TRACE(variant);
        prompter.shown.clear();
        MakePlayer(variant);
        EXPECT_FALSE(player->PlayerReady());
        EXPECT_EQ(player->BASSDLLVer(), "");
        EXPECT_EQ(prompter.shown, (std::vector<ShownMessage>{{"Error",
                                                               "BASS version is not 1.8 or higher\r\n(error code: 0)",
                                                               MessageIcon::Error}}));
        EXPECT_FALSE(player->Open(Wav()));
        EXPECT_EQ(prompter.shown.back().text, "Player is not ready !");
        player.reset();
        // The refused library is still released, its device freed twice as usual.
        EXPECT_EQ(Calls(), "Free\nFree\n");
    }
}

TEST_F(PlayerStatesTest, DeviceThatCannotStartLeavesThePlayerNotReady)
{
    setenv("FAKEBASS_INIT_FAILS", "1", 1);
    MakePlayer();
    EXPECT_FALSE(player->PlayerReady());
    EXPECT_EQ(prompter.shown, (std::vector<ShownMessage>{{"Error", "Can't initialize device\r\n(error code: 3)",
                                                           MessageIcon::Error}}));
    player.reset();
    unsetenv("FAKEBASS_INIT_FAILS");

    prompter.shown.clear();
    setenv("FAKEBASS_START_FAILS", "1", 1);
    MakePlayer();
    EXPECT_FALSE(player->PlayerReady());
    EXPECT_TRUE(prompter.shown.empty()); // a failing start is silent
}

TEST_F(PlayerStatesTest, ReadyPlayerTakesTheLibrarysVolumesAndVersion)
{
    setenv("FAKEBASS_LOG", LogPath().c_str(), 1);
    player = std::make_unique<TBASSPlayer>(nullptr, &prompter, Variant("full"));
    EXPECT_EQ(Calls(), "Init(-1,44100,0)\nStart\n");
    EXPECT_TRUE(player->PlayerReady());
    EXPECT_TRUE(player->WMAReady());
    EXPECT_TRUE(player->DX8EffectReady());
    EXPECT_EQ(player->BASSDLLVer(), "1.8");
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_EQ(player->Volume(), 80); // the library's stream volume

    ClearLog();
    player.reset();
    EXPECT_EQ(Calls(), "Free\nFree\n");
}

TEST_F(PlayerStatesTest, AddOnIsBoundOnlyWhenAFileNeedsItAndTheSilentOutputIsAsked)
{
    TBASSPlayer::SetOutputOfNewPlayers(PlayerOutput::Silent);
    player = std::make_unique<TBASSPlayer>(nullptr, &prompter, Variant("full"));
    TBASSPlayer::SetOutputOfNewPlayers(PlayerOutput::SoundDevice);
    EXPECT_EQ(Calls(), "Init(0,44100,0)\nStart\n");
    ASSERT_TRUE(player->Open(Wav()));
    EXPECT_FALSE(Logged("AddOnLoaded")) << "the library's own stream took the file";

    setenv("FAKEBASS_STREAM_FAILS", "1", 1);
    setenv("FAKEBASS_WMA", "1", 1);
    ASSERT_TRUE(player->Open(Wav()));
    EXPECT_TRUE(Logged("AddOnLoaded"));
    EXPECT_EQ(player->ChannelType(), ctWMA);
    EXPECT_TRUE(player->WMAReady());
}

TEST_F(PlayerStatesTest, OldDirectSoundOnlyWarns)
{
    setenv("FAKEBASS_DSVER", "7", 1);
    MakePlayer();
    EXPECT_TRUE(player->PlayerReady());
    EXPECT_FALSE(player->DX8EffectReady());
    EXPECT_EQ(prompter.shown,
              (std::vector<ShownMessage>{{"Warning",
                                          "DirectX Ver 8 are not installed.\r\nSound effects except flanger are disabled.",
                                          MessageIcon::Warning}}));
}

TEST_F(PlayerStatesTest, OpenTakesTheFirstDecoderThatAcceptsTheFile)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    EXPECT_EQ(Calls(), "StreamCreateFile(0," + Wav() + ",0,0,0)\n");
    EXPECT_EQ(player->ChannelType(), ctStream);
    EXPECT_EQ(player->Mode(), plmReady);
    EXPECT_EQ(player->StreamName(), Wav());
    EXPECT_EQ(player->StreamInfo().FileName, Wav());
    EXPECT_EQ(player->StreamInfo().Duration, 2000u);
    EXPECT_EQ(player->PlayLength(), 10000u); // the double's 10 s, not the reader's 2 s

    ClearLog();
    setenv("FAKEBASS_STREAM_FAILS", "1", 1);
    setenv("FAKEBASS_MUSIC", "1", 1);
    ASSERT_TRUE(player->Open(OtherWav()));
    // The add-on is bound when the library's own stream first refuses a file.
    EXPECT_EQ(Calls(), "StreamFree(1)\nStreamCreateFile(0," + OtherWav() + ",0,0,0)\nAddOnLoaded\nWMA_StreamCreateFile(" +
                           OtherWav() + ")\nMusicLoad(0," + OtherWav() + ",0,0,8192)\n");
    EXPECT_EQ(player->ChannelType(), ctMusic);
    EXPECT_TRUE(prompter.shown.empty());

    ClearLog();
    player->Close();
    EXPECT_EQ(Calls(), "MusicFree(3)\n");
}

TEST_F(PlayerStatesTest, NoDecoderReleasesThePreviousChannelAndKeepsTheMode)
{
    setenv("FAKEBASS_ERROR", "41", 1);
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    const TStreamInfo before = player->StreamInfo();
    setenv("FAKEBASS_STREAM_FAILS", "1", 1);
    ClearLog();
    EXPECT_FALSE(player->Open(OtherWav()));
    EXPECT_EQ(prompter.shown, (std::vector<ShownMessage>{{"Error", "Can't play the file\r\n(error code: 41)",
                                                           MessageIcon::Error}}));
    EXPECT_TRUE(Logged("StreamFree(1)"));
    EXPECT_EQ(player->ChannelType(), ctUnknown);
    EXPECT_EQ(player->Mode(), plmReady);
    EXPECT_EQ(player->StreamInfo().FileName, before.FileName);
    EXPECT_EQ(player->PlayLength(), 0u);
    // With no channel left, the transport does nothing.
    player->Play();
    EXPECT_EQ(player->Mode(), plmReady);
}

TEST_F(PlayerStatesTest, EightBitChannelIsReleasedAndRefused)
{
    setenv("FAKEBASS_FLAGS", "1", 1);
    MakePlayer();
    EXPECT_FALSE(player->Open(Wav()));
    EXPECT_EQ(Calls(), "StreamCreateFile(0," + Wav() + ",0,0,0)\nMusicFree(1)\nStreamFree(1)\n");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].caption, "Error");
    EXPECT_EQ(prompter.shown[0].text.substr(0, 58),
              "Sound card does not support 16-bit sources.\r\n(error code: ");
    EXPECT_EQ(player->ChannelType(), ctUnknown);
    EXPECT_EQ(player->Mode(), plmStandby);
    // The released handle is never used again.
    ClearLog();
    player->Play();
    player->Close();
    EXPECT_EQ(Calls(), "");

    setenv("FAKEBASS_FLAGS", "2", 1); // mono is fine
    EXPECT_TRUE(player->Open(Wav()));
}

TEST_F(PlayerStatesTest, UnknownExtensionIsRefusedBeforeAnythingIsReleased)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    ASSERT_EQ(player->Mode(), plmPlaying);
    const std::string backup = files.File("song.wav.bak");
    std::filesystem::copy_file(Wav(), backup);
    const std::string unknown = files.File("song.xyz");
    std::filesystem::copy_file(Wav(), unknown);
    const std::string bare = files.File("no extension");
    std::filesystem::copy_file(Wav(), bare);
    ClearLog();

    for (const std::string& name : {backup, unknown, bare}) {
        prompter.shown.clear();
        EXPECT_FALSE(player->Open(name));
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].caption, "Error");
        EXPECT_EQ(prompter.shown[0].text.substr(0, name.size() + 38),
                  "Invalid stream file(" + name + ") !\r\n(error code: ");
    }
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_EQ(player->ChannelType(), ctStream);
    EXPECT_EQ(player->StreamName(), Wav());
    EXPECT_EQ(player->StreamInfo().FileName, Wav());
    EXPECT_EQ(player->StreamInfo().Duration, 2000u);
}

TEST_F(PlayerStatesTest, TransportFollowsTheStateTable)
{
    MakePlayer();
    std::vector<TPlayerMode> changes;
    QObject::connect(player.get(), &TBASSPlayer::modeChanged, [&](TPlayerMode mode) { changes.push_back(mode); });

    player->Play(); // nothing open
    player->PausePlay();
    player->ResumePlay();
    player->Stop();
    EXPECT_EQ(player->Mode(), plmStandby);
    ASSERT_TRUE(player->Open(Wav()));
    ClearLog();

    player->Stop();        // only from playing
    player->PausePlay();   // only from playing
    player->ResumePlay();  // only from paused
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(player->Mode(), plmReady);

    player->Play();
    EXPECT_EQ(Calls(), "StreamPlay(1,0,0)\nChannelSetSync(1,2,0)\n");
    EXPECT_EQ(player->Mode(), plmPlaying);
    ClearLog();
    player->Play(); // already playing
    player->ResumePlay();
    EXPECT_EQ(Calls(), "");

    player->SetPaused(true);
    EXPECT_EQ(player->Mode(), plmPaused);
    player->Stop(); // does nothing while paused
    player->PausePlay();
    EXPECT_EQ(player->Mode(), plmPaused);
    player->Play(); // resumes
    EXPECT_EQ(player->Mode(), plmPlaying);
    player->PausePlay();
    player->SetPaused(false);
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_EQ(Calls(), "ChannelPause(1)\nChannelResume(1)\nChannelPause(1)\nChannelResume(1)\n");

    ClearLog();
    player->SetPosition(1500);
    player->Stop();
    EXPECT_EQ(player->Mode(), plmStopped);
    EXPECT_EQ(player->Position(), 1500u); // a stop does not rewind
    player->Stop();
    player->Play(); // rewinds and starts again, keeping the first sync
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_EQ(Calls(), "ChannelSetPosition(1,264600)\nChannelStop(1)\nChannelSetPosition(1,0)\nStreamPlay(1,0,0)\n");

    player->Close();
    EXPECT_EQ(player->Mode(), plmStandby);
    EXPECT_EQ(changes, (std::vector<TPlayerMode>{plmReady, plmPlaying, plmPaused, plmPlaying, plmPaused, plmPlaying,
                                                 plmStopped, plmPlaying, plmStandby}));
}

TEST_F(PlayerStatesTest, RefusedStartChangesNothing)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    setenv("FAKEBASS_PLAY_FAILS", "1", 1);
    ClearLog();
    player->Play();
    EXPECT_EQ(player->Mode(), plmReady);
    EXPECT_EQ(Calls(), "StreamPlay(1,0,0)\n"); // no sync for a channel that did not start
    EXPECT_TRUE(prompter.shown.empty());

    unsetenv("FAKEBASS_PLAY_FAILS");
    player->Play();
    player->Stop();
    setenv("FAKEBASS_PLAY_FAILS", "1", 1);
    player->Play();
    EXPECT_EQ(player->Mode(), plmStopped);
}

TEST_F(PlayerStatesTest, EndOfChannelArrivesAsAPostedEvent)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    FireEnd();
    // The callback only posted: nothing changes until the main thread runs.
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));

    // An end that raced a pause still stops.
    player->Play();
    player->PausePlay();
    FireEnd();
    EXPECT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
}

TEST_F(PlayerStatesTest, EndOfAReleasedChannelIsIgnored)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    FireEnd();
    player->Close(); // the end was posted for a channel that is gone now
    DeliverPostedEvents();
    EXPECT_EQ(player->Mode(), plmStandby);

    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    player.reset();
    FireEnd(); // after the player is gone: must not reach freed memory
    DeliverPostedEvents();
}

TEST_F(PlayerStatesTest, EndOfThePreviousFileDoesNotStopTheNextOne)
{
    // The library may give the next file the handle the previous one had
    // (this double always does): the queued end of A must not stop B.
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    FireEnd();
    ASSERT_TRUE(player->Open(OtherWav()));
    player->Play();
    DeliverPostedEvents();
    EXPECT_EQ(player->Mode(), plmPlaying);

    // B's own end still stops it.
    FireEnd();
    EXPECT_TRUE(WaitFor([&] { return player->Mode() == plmStopped; }));
}

TEST_F(PlayerStatesTest, DestroyingAPlayingPlayerStopsFirst)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    player->Play();
    ClearLog();
    player.reset();
    EXPECT_EQ(Calls(), "ChannelStop(1)\nFree\nFree\n");
}

TEST_F(PlayerStatesTest, PositionAndSeekPerChannelType)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav())); // 2000 ms by the reader, 10000 ms by the library
    ClearLog();
    player->SetPosition(2001);
    player->SetPosition(9000);
    EXPECT_EQ(Calls(), ""); // beyond the reader's duration: ignored
    player->SetPosition(2000);
    EXPECT_EQ(Calls(), "ChannelSetPosition(1,352800)\n");
    EXPECT_EQ(player->Position(), 2000u);

    setenv("FAKEBASS_STREAM_FAILS", "1", 1);
    setenv("FAKEBASS_MUSIC", "1", 1);
    ASSERT_TRUE(player->Open(Wav()));
    ClearLog();
    player->SetPosition(1000);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(player->Position(), 0u); // module music always reports 0
    EXPECT_EQ(player->PlayLength(), 5000u);
    EXPECT_TRUE(Logged("MusicGetLength(-1)"));
}

TEST_F(PlayerStatesTest, StreamLengthErrorCountsAsZero)
{
    setenv("FAKEBASS_LENGTH", "-1", 1);
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    EXPECT_EQ(player->PlayLength(), 0u);
    setenv("FAKEBASS_LENGTH", "88201", 1); // 500.0057 ms: rounds to 500
    EXPECT_EQ(player->PlayLength(), 500u);
}

TEST_F(PlayerStatesTest, VolumeIsClampedAndKeptPerChannelType)
{
    MakePlayer();
    player->SetVolume(150);
    EXPECT_EQ(player->Volume(), 100);
    player->SetVolume(-5);
    EXPECT_EQ(player->Volume(), 0);
    player->SetVolume(-1);
    EXPECT_EQ(player->Volume(), -1);
    player->SetVolume(42);
    EXPECT_EQ(Calls(), "SetGlobalVolumes(-1,-1,100)\nSetGlobalVolumes(-1,-1,0)\nSetGlobalVolumes(-1,-1,-1)\n"
                       "SetGlobalVolumes(-1,-1,42)\n");

    setenv("FAKEBASS_STREAM_FAILS", "1", 1);
    setenv("FAKEBASS_MUSIC", "1", 1);
    ASSERT_TRUE(player->Open(Wav()));
    EXPECT_EQ(player->Volume(), 70); // the library's music volume
    ClearLog();
    player->SetVolume(30);
    EXPECT_EQ(Calls(), "SetGlobalVolumes(30,-1,-1)\n");
    EXPECT_EQ(player->Volume(), 30);
    player->Close();
    EXPECT_EQ(player->Volume(), 42);
}

TEST_F(PlayerStatesTest, CloseKeepsTheLastFilesValuesButItsName)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(OtherWav()));
    player->Close();
    EXPECT_EQ(player->Mode(), plmStandby);
    EXPECT_EQ(player->ChannelType(), ctUnknown);
    EXPECT_EQ(player->StreamName(), "");
    EXPECT_EQ(player->StreamInfo().FileName, "");
    EXPECT_EQ(player->StreamInfo().SampleRate, 0u);
    EXPECT_EQ(player->StreamInfo().Duration, 1000u);
    EXPECT_EQ(player->StreamInfo().Channels, 1u);
}

TEST_F(PlayerStatesTest, WithoutAPrompterMessagesGoToStandardError)
{
    pin = SharedLibrary(Variant("v17") + "libbass.so");
    testing::internal::CaptureStderr();
    player = std::make_unique<TBASSPlayer>(nullptr, nullptr, Variant("v17"));
    player->Open(Wav());
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("Error: BASS version is not 1.8 or higher\r\n(error code: 0)"), std::string::npos);
    EXPECT_NE(written.find("Confirm: Player is not ready !"), std::string::npos);

    // A prompter given later takes over.
    player->SetPrompter(&prompter);
    player->Open(Wav());
    EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST_F(PlayerStatesTest, MissingFileOfEachKind)
{
    MakePlayer();
    ASSERT_TRUE(player->Open(Wav()));
    ClearLog();
    for (const char* name : {"gone.mp3", "gone.wav", "gone.wma", "gone.ogg"}) {
        prompter.shown.clear();
        EXPECT_FALSE(player->Open(files.File(name)));
        ASSERT_EQ(prompter.shown.size(), 1u) << name;
        EXPECT_EQ(prompter.shown[0].text.rfind("Invalid stream file(" + files.File(name) + ") !", 0), 0u);
    }
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(player->StreamName(), Wav());
    EXPECT_EQ(player->Mode(), plmReady);
}
