// Output and transport on the silent real-time output: initialisation,
// play/pause/resume/stop/seek as the player relies on them, end syncs and
// the global volumes.

#include "Channel.h"
#include "EngineFixture.h"

#include <atomic>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <thread>

using enginetest::BytesPerSecond;
using enginetest::EngineTest;
using enginetest::Sh;
using enginetest::WaitUntil;
using testsupport::Quote;

namespace {

std::string MakeWav(const testsupport::TempDir& dir, const std::string& name, double seconds, int rate = 44100,
                    int channels = 2) {
    const std::string path = dir.File(name);
    const auto made = Sh("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " +
                         Quote(path) + " synth " + std::to_string(seconds) + " sine 440");
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return path;
}

struct EndRecorder {
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::thread::id thread;
    DWORD channel = 0;
    void* user = nullptr;

    static void Callback(HSYNC, DWORD channel, DWORD, void* user) {
        auto* self = static_cast<EndRecorder*>(user);
        {
            std::lock_guard lock(self->mutex);
            self->thread = std::this_thread::get_id();
            self->channel = channel;
            self->user = user;
        }
        ++self->calls;
    }
};

} // namespace

TEST(EngineLifecycle, InitFreeAndInfo) {
    setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
    EXPECT_EQ(BASS_GetVersion(), 0x00080001u);
    EXPECT_FALSE(BASS_Start());
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_INIT});
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "/nonexistent.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_INIT});

    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_ALREADY});
    EXPECT_TRUE(BASS_Start());

    BASS_INFO info{};
    info.size = sizeof(info);
    static_assert(sizeof(BASS_INFO) == 56);
    BASS_GetInfo(&info);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    const auto* words = reinterpret_cast<const DWORD*>(&info);
    EXPECT_GE(words[10], 8u) << "DirectSound version at byte offset 40";
    EXPECT_EQ(info.speakers, 2u);

    BASS_Free();
    BASS_Free();  // harmless when repeated
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr)) << "can be initialised again";
    BASS_Free();
}

TEST_F(EngineTest, FreeReleasesEveryChannel) {
    const std::string wav = MakeWav(dir_, "a.wav", 1.0);
    const HSTREAM handle = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_TRUE(BASS_StreamPlay(handle, FALSE, 0));
    BASS_Free();
    EXPECT_EQ(BASS_ChannelGetFlags(handle), static_cast<DWORD>(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_HANDLE});
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
}

TEST_F(EngineTest, TheMixingThreadStartsWithTheFirstPlayAndEndsWithFree) {
    // A program that only measures streams (the command line) runs no
    // thread of the library's.
    const auto threads = [] {
        const std::filesystem::directory_iterator tasks("/proc/self/task");
        return std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks));
    };
    const auto before = threads();
    const std::string wav = MakeWav(dir_, "a.wav", 1.0);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_StreamGetLength(h), BytesPerSecond(h));
    EXPECT_EQ(threads(), before);

    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_EQ(threads(), before + 1);
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) > 0; }));
    BASS_Free();
    EXPECT_EQ(threads(), before);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
}

TEST_F(EngineTest, PlayPauseResumeStopAndSeekMoveThePositionAsExpected) {
    const std::string wav = MakeWav(dir_, "long.wav", 20.0);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    const QWORD second = BytesPerSecond(h);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_STOPPED});

    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_PLAYING});
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) >= second / 4; }));

    // Pause keeps the position.
    ASSERT_TRUE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_PAUSED});
    const QWORD paused = BASS_ChannelGetPosition(h);
    EXPECT_EQ(paused % 4, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(BASS_ChannelGetPosition(h), paused);

    // Resume continues from it and never goes back.
    ASSERT_TRUE(BASS_ChannelResume(h));
    EXPECT_GE(BASS_ChannelGetPosition(h), paused);
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) >= paused + second / 4; }));

    // Stop halts without rewinding; play with flush 0 continues from there.
    ASSERT_TRUE(BASS_ChannelStop(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_STOPPED});
    const QWORD stopped = BASS_ChannelGetPosition(h);
    EXPECT_GE(stopped, paused + second / 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(BASS_ChannelGetPosition(h), stopped);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    const QWORD continued = BASS_ChannelGetPosition(h);
    EXPECT_GE(continued, stopped);
    EXPECT_LT(continued, stopped + second);

    // A seek while playing jumps there at once and plays on from it.
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 10 * second));
    EXPECT_GE(BASS_ChannelGetPosition(h), 10 * second);
    EXPECT_LT(BASS_ChannelGetPosition(h), 11 * second);
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) >= 10 * second + second / 4; }));

    // A seek while stopped is where the next play starts.
    ASSERT_TRUE(BASS_ChannelStop(h));
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 3 * second));
    EXPECT_EQ(BASS_ChannelGetPosition(h), 3 * second);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_GE(BASS_ChannelGetPosition(h), 3 * second);
    EXPECT_LT(BASS_ChannelGetPosition(h), 4 * second);

    // Flush rewinds.
    ASSERT_TRUE(BASS_StreamPlay(h, TRUE, 0));
    EXPECT_LT(BASS_ChannelGetPosition(h), second);
}

TEST_F(EngineTest, TransportRefusalsLeaveTheChannelAlone) {
    const std::string wav = MakeWav(dir_, "a.wav", 2.0);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    const QWORD length = BASS_StreamGetLength(h);
    EXPECT_FALSE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_NOPLAY});
    EXPECT_FALSE(BASS_ChannelResume(h));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_NOPAUSE});
    EXPECT_FALSE(BASS_ChannelSetPosition(h, length + 4));
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_POSITION});
    EXPECT_EQ(BASS_ChannelGetPosition(h), 0u);
    EXPECT_TRUE(BASS_ChannelSetPosition(h, length));
    // A position inside a frame is taken to the frame's start.
    EXPECT_TRUE(BASS_ChannelSetPosition(h, 4002));
    EXPECT_EQ(BASS_ChannelGetPosition(h), 4000u);
}

TEST_F(EngineTest, EndSyncFiresOnceOnTheLibraryThreadAndAgainAfterReplay) {
    const std::string wav = MakeWav(dir_, "short.wav", 0.4, 22050, 1);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    EndRecorder recorder;
    const HSYNC sync = BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndRecorder::Callback, &recorder);
    ASSERT_NE(sync, 0u);
    EXPECT_EQ(BASS_ChannelSetSync(h, 7, 0, &EndRecorder::Callback, &recorder), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_ILLTYPE});

    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls.load() >= 1; }));
    {
        std::lock_guard lock(recorder.mutex);
        EXPECT_NE(recorder.thread, std::this_thread::get_id());
        EXPECT_EQ(recorder.channel, h);
        EXPECT_EQ(recorder.user, &recorder) << "the user value is pointer-sized";
    }
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_STOPPED});
    EXPECT_EQ(BASS_ChannelGetPosition(h), BASS_StreamGetLength(h));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.calls.load(), 1);

    // The player rewinds and plays again: the same sync fires again.
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls.load() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(recorder.calls.load(), 2);

    // Removed, it stays silent.
    ASSERT_TRUE(BASS_ChannelRemoveSync(h, sync));
    ASSERT_TRUE(BASS_StreamPlay(h, TRUE, 0));
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(recorder.calls.load(), 2);
}

TEST_F(EngineTest, PausedOrStoppedChannelsDoNotEnd) {
    const std::string wav = MakeWav(dir_, "short.wav", 0.5);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    EndRecorder recorder;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndRecorder::Callback, &recorder), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(BASS_ChannelPause(h));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(recorder.calls.load(), 0);
    ASSERT_TRUE(BASS_ChannelResume(h));
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls.load() == 1; }));
}

TEST_F(EngineTest, FreeingAPlayingStreamNeverCallsItsSync) {
    const std::string wav = MakeWav(dir_, "short.wav", 0.3);
    EndRecorder recorder;
    for (int round = 0; round < 20; ++round) {
        const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndRecorder::Callback, &recorder), 0u);
        ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
        ASSERT_TRUE(BASS_ChannelSetPosition(h, BASS_StreamGetLength(h) / 2));
        BASS_StreamFree(h);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(recorder.calls.load(), 0);
}

TEST_F(EngineTest, ResampledAndMonoSourcesKeepTheirOwnByteClock) {
    // 22.05 kHz mono: 44100 bytes per second of the channel's own PCM,
    // whatever the output rate.
    const std::string wav = MakeWav(dir_, "mono.wav", 5.0, 22050, 1);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_EQ(BytesPerSecond(h), 44100u);
    EndRecorder recorder;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndRecorder::Callback, &recorder), 0u);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 4 * 44100));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls.load() == 1; }));
    // One second of audio cannot be heard in less than one second.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(950));
    EXPECT_EQ(BASS_ChannelGetPosition(h), 5u * 44100);
}

namespace {

// A silent source at any rate, for driving a channel's mixing by hand.
class SilenceAt final : public engine::Decoder {
public:
    explicit SilenceAt(int rate) : rate_(rate) {}
    int SampleRate() const override { return rate_; }
    int Channels() const override { return 1; }
    int64_t LengthFrames() const override { return 10 * int64_t(rate_); }
    int64_t Read(int16_t* out, int64_t frames) override {
        std::fill(out, out + frames, int16_t{0});
        return frames;
    }
    void Seek(int64_t) override {}

private:
    int rate_;
};

} // namespace

// Within what one mix rendered, the heard position moves at the source's
// rate, not the output's: it never runs ahead and then jumps back.
TEST(EngineChannel, ResampledPositionFollowsTheOutputAtTheRateRatio) {
    constexpr int kOutRate = 44100;
    constexpr int64_t kMixFrames = 4410;
    for (int sourceRate : {22050, 48000}) {
        SCOPED_TRACE(sourceRate);
        engine::Channel channel(1, engine::ChannelKind::Stream, std::make_unique<SilenceAt>(sourceRate));
        channel.Play();
        std::vector<float> mix(2 * kMixFrames);
        for (int64_t start = 0; start < 3 * kMixFrames; start += kMixFrames)
            channel.MixInto(mix.data(), kMixFrames, kOutRate, start, 1.0f);
        for (int64_t played = 0; played <= 3 * kMixFrames; played += 105)
            EXPECT_NEAR(channel.Position(played), double(played) * sourceRate / kOutRate, 2.0) << played;
    }
}

TEST_F(EngineTest, GlobalVolumesReadBackAndMinusOneLeavesThemAlone) {
    DWORD music = 0, sample = 0, stream = 0;
    BASS_GetGlobalVolumes(&music, &sample, &stream);
    EXPECT_EQ(music, 100u);
    EXPECT_EQ(stream, 100u);
    BASS_SetGlobalVolumes(40, -1, 70);
    BASS_GetGlobalVolumes(&music, &sample, &stream);
    EXPECT_EQ(music, 40u);
    EXPECT_EQ(sample, 100u);
    EXPECT_EQ(stream, 70u);
    BASS_SetGlobalVolumes(-1, 0, -1);
    BASS_SetGlobalVolumes(150, -1, 0);
    BASS_GetGlobalVolumes(&music, &sample, &stream);
    EXPECT_EQ(music, 100u);
    EXPECT_EQ(sample, 0u);
    EXPECT_EQ(stream, 0u);
    BASS_GetGlobalVolumes(nullptr, nullptr, &stream);  // any pointer may be left out
    EXPECT_EQ(stream, 0u);
}

TEST_F(EngineTest, CallsFromManyThreadsWhileTheMixerRuns) {
    const std::string wav = MakeWav(dir_, "a.wav", 3.0);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    const QWORD length = BASS_StreamGetLength(h);
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                switch ((i + t) % 5) {
                case 0:
                    BASS_ChannelPause(h);
                    break;
                case 1:
                    BASS_ChannelResume(h);
                    BASS_StreamPlay(h, FALSE, 0);
                    break;
                case 2:
                    BASS_ChannelSetPosition(h, (length / 300 * i) & ~QWORD{3});
                    break;
                case 3:
                    BASS_SetGlobalVolumes(i % 100, -1, i % 100);
                    break;
                default:
                    if (BASS_ChannelGetPosition(h) > length)
                        bad = true;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_FALSE(bad.load());
    BASS_StreamFree(h);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
}

// SDL's dummy driver stands in for a sound card: it pulls audio at the
// device's pace, so the device path (callback, device buffer accounting)
// runs without one. The environment variable still forces the silent output.
TEST(EngineLifecycle, DeviceOutputKeepsTimeAndTheSilentSwitchOverridesIt) {
    testsupport::TempDir dir;
    const std::string wav = MakeWav(dir, "short.wav", 0.6);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    unsetenv(BASS_SILENT_OUTPUT_ENV);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_INFO info{};
    info.size = sizeof(info);
    BASS_GetInfo(&info);
    EXPECT_GT(info.latency, 0u) << "a device buffer is reported";

    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    EndRecorder recorder;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &EndRecorder::Callback, &recorder), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) > 0; }));
    ASSERT_TRUE(WaitUntil([&] { return recorder.calls.load() == 1; }));
    EXPECT_EQ(BASS_ChannelGetPosition(h), BASS_StreamGetLength(h));
    BASS_Free();

    setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr));
    BASS_GetInfo(&info);
    EXPECT_EQ(info.latency, 0u) << "the silent output has no device buffer";
    BASS_Free();
    unsetenv("SDL_AUDIODRIVER");
}

namespace {

// An end sync that takes its time and records that it has returned.
struct SlowSync {
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> freeItself{false};
    HSTREAM stream = 0;

    static void Callback(HSYNC, DWORD channel, DWORD, void* user) {
        auto* self = static_cast<SlowSync*>(user);
        self->entered = true;
        if (self->freeItself)
            BASS_StreamFree(channel);  // from the library's own thread
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        self->returned = true;
    }
};

} // namespace

TEST_F(EngineTest, NoEndSyncRunsAfterTheStreamWasFreed) {
    const std::string wav = MakeWav(dir_, "short.wav", 0.2);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    SlowSync sync;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &SlowSync::Callback, &sync), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return sync.entered.load(); }));
    BASS_StreamFree(h);
    // Freeing waited for the running sync, however slow it is.
    EXPECT_TRUE(sync.returned.load());
}

TEST_F(EngineTest, AnEndSyncMayFreeItsOwnStream) {
    const std::string wav = MakeWav(dir_, "short.wav", 0.2);
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    SlowSync sync;
    sync.freeItself = true;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, &SlowSync::Callback, &sync), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return sync.returned.load(); }));
    EXPECT_EQ(BASS_ChannelGetFlags(h), static_cast<DWORD>(-1)) << "freed by its own sync";
}
