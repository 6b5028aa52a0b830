// What actually comes out of the sound device around pause, resume, seek,
// stop and free, captured by SDL's disk audio driver (a real-time device
// that writes each buffer it plays to a file). The source counts its frames
// in its samples, so every captured frame says which source frame it is.
// The checks compare content and the capture's length at each call, never
// wall-clock timings.

#include "EngineFixture.h"
#include "support/ByteBuilders.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <thread>

using enginetest::WaitUntil;

namespace {

constexpr int kRate = 44100;
// Silence must begin within 30 ms of the call that ends the audio.
constexpr int64_t kLateLimitFrames = kRate * 30 / 1000;

// Frame f of the source carries the number f + 1 in two 14-bit halves, so
// no source frame is silent and the 16-bit path passes it unchanged.
std::vector<uint8_t> CountingWav(int64_t frames) {
    std::vector<uint8_t> bytes = bytebuild::PcmWav(2, kRate, 16, static_cast<uint32_t>(frames * 4));
    bytes.resize(44);  // the header; the samples follow
    for (int64_t f = 0; f < frames; ++f) {
        bytebuild::PutLE(bytes, static_cast<uint64_t>((f + 1) & 0x3FFF), 2);
        bytebuild::PutLE(bytes, static_cast<uint64_t>((f + 1) >> 14), 2);
    }
    return bytes;
}

class HeardOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv(BASS_SILENT_OUTPUT_ENV);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", Capture().c_str(), 1);
        ASSERT_TRUE(BASS_Init(-1, kRate, 0, nullptr)) << "error " << BASS_ErrorGetCode();
        ASSERT_TRUE(std::filesystem::exists(Capture())) << "SDL's disk audio driver did not open";
    }
    void TearDown() override {
        BASS_Free();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
    }

    std::string Capture() const { return dir_.File("heard.raw"); }
    // Frames the device has played so far.
    int64_t Captured() const { return static_cast<int64_t>(std::filesystem::file_size(Capture()) / 4); }

    testsupport::TempDir dir_;
};

// Source frame numbers (f + 1) of the capture, 0 where it was silent.
std::vector<int64_t> HeardFrames(const std::vector<uint8_t>& raw) {
    std::vector<int64_t> heard(raw.size() / 4);
    for (size_t i = 0; i < heard.size(); ++i) {
        const auto half = [&](size_t at) { return static_cast<int64_t>(raw[at] | raw[at + 1] << 8); };
        heard[i] = half(i * 4) | half(i * 4 + 2) << 14;
    }
    return heard;
}

int64_t OffsetOf(const std::vector<int64_t>& heard, int64_t number) {
    const auto found = std::find(heard.begin(), heard.end(), number);
    return found == heard.end() ? -1 : found - heard.begin();
}

// How long after `from` the device still played frames numbered up to
// `last`, looking no further than `until`.
int64_t HeardLate(const std::vector<int64_t>& heard, int64_t from, int64_t until, int64_t last) {
    int64_t end = from;
    for (int64_t i = from; i < std::min<int64_t>(until, static_cast<int64_t>(heard.size())); ++i)
        if (heard[static_cast<size_t>(i)] != 0 && heard[static_cast<size_t>(i)] <= last)
            end = i + 1;
    return end - from;
}

int64_t PositionFrames(HSTREAM stream) { return static_cast<int64_t>(BASS_ChannelGetPosition(stream) / 4); }

} // namespace

TEST_F(HeardOutputTest, PauseStopSeekAndFreeFallSilentAtOnceAndResumeFollowsOnExactly) {
    const std::string wav = dir_.File("counting.wav");
    testsupport::WriteBytes(wav, CountingWav(5 * kRate));
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, 0);
    ASSERT_NE(stream, 0u) << BASS_ErrorGetCode();
    const auto playedAtLeast = [&](int64_t frames) {
        return WaitUntil([&] { return PositionFrames(stream) >= frames; });
    };

    ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
    ASSERT_TRUE(playedAtLeast(kRate * 3 / 10));
    ASSERT_TRUE(BASS_ChannelPause(stream));
    const int64_t afterPause = Captured();
    const int64_t pausedAt = PositionFrames(stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t beforeResume = Captured();
    ASSERT_TRUE(BASS_ChannelResume(stream));
    ASSERT_TRUE(playedAtLeast(pausedAt + kRate * 3 / 10));

    const int64_t seekTo = 2 * kRate;
    ASSERT_TRUE(BASS_ChannelSetPosition(stream, static_cast<QWORD>(seekTo) * 4));
    const int64_t afterSeek = Captured();
    ASSERT_TRUE(playedAtLeast(seekTo + kRate * 3 / 10));

    ASSERT_TRUE(BASS_ChannelStop(stream));
    const int64_t afterStop = Captured();
    const int64_t stoppedAt = PositionFrames(stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t beforeReplay = Captured();
    ASSERT_TRUE(BASS_StreamPlay(stream, FALSE, 0));
    ASSERT_TRUE(playedAtLeast(stoppedAt + kRate * 3 / 10));

    BASS_StreamFree(stream);
    ASSERT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    const int64_t afterFree = Captured();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    BASS_Free();  // closes the capture

    const std::vector<int64_t> heard = HeardFrames(testsupport::ReadBytes(Capture()));
    // Nothing repeated, nothing skipped: every heard frame follows the one
    // heard before it, except once, where the seek lands exactly.
    int64_t previous = 0;
    std::vector<std::pair<int64_t, int64_t>> jumps;
    for (const int64_t number : heard) {
        if (number == 0)
            continue;
        if (number != previous + 1)
            jumps.emplace_back(previous, number);
        previous = number;
    }
    ASSERT_FALSE(jumps.empty()) << "the seek was not heard";
    EXPECT_EQ(jumps.size(), 1u) << "first jump: " << jumps.front().first << " -> " << jumps.front().second;
    EXPECT_EQ(jumps.front().second, seekTo + 1);

    // The position at a pause or stop is the last frame heard before it, and
    // playing on starts with the next one, after the call.
    EXPECT_LT(OffsetOf(heard, pausedAt), beforeResume);
    EXPECT_GE(OffsetOf(heard, pausedAt + 1), beforeResume);
    EXPECT_LT(OffsetOf(heard, stoppedAt), beforeReplay);
    EXPECT_GE(OffsetOf(heard, stoppedAt + 1), beforeReplay);

    // Anything heard between a pause or stop and the next start came late.
    constexpr int64_t kAny = INT64_MAX;
    const int64_t late[] = {HeardLate(heard, afterPause, beforeResume, kAny),
                            HeardLate(heard, afterSeek, kAny, jumps.front().first),
                            HeardLate(heard, afterStop, beforeReplay, kAny), HeardLate(heard, afterFree, kAny, kAny)};
    const char* const names[] = {"pause", "seek", "stop", "free"};
    for (int i = 0; i < 4; ++i) {
        std::cout << "heard after " << names[i] << ": " << late[i] << " frames (" << late[i] * 1000.0 / kRate
                  << " ms)\n";
        EXPECT_LE(late[i], kLateLimitFrames) << names[i];
    }
}
