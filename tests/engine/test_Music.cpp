// Module music: a minimal 4-channel ProTracker file built byte by byte,
// loaded with the play-length flag, measured, played to its end.

#include "EngineFixture.h"

#include <array>
#include <atomic>

using enginetest::EngineTest;
using enginetest::WaitUntil;

namespace {

constexpr int kRows = 16;          // the pattern breaks after row 15
constexpr double kRowSeconds = 0.12;  // speed 6 ticks at 125 BPM: 6 * 20 ms

// "M.K." module: title, 31 sample headers, order list, one pattern of 64
// rows x 4 channels, then the sample data.
std::vector<uint8_t> MakeProTrackerModule() {
    std::vector<uint8_t> bytes;
    const auto put = [&](std::initializer_list<uint8_t> values) { bytes.insert(bytes.end(), values); };
    const auto putText = [&](const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i)
            bytes.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
    };
    putText("corvella test tune", 20);
    constexpr uint16_t kSampleWords = 32;
    for (int sample = 1; sample <= 31; ++sample) {
        putText(sample == 1 ? "square" : "", 22);
        const uint16_t words = sample == 1 ? kSampleWords : 0;
        put({static_cast<uint8_t>(words >> 8), static_cast<uint8_t>(words)});  // length in words
        put({0, static_cast<uint8_t>(sample == 1 ? 64 : 0)});                   // finetune, volume
        put({0, 0, 0, 1});                                                      // loop start 0, length 1: none
    }
    put({1, 127});  // song length 1 order, restart byte
    for (int order = 0; order < 128; ++order)
        bytes.push_back(0);
    putText("M.K.", 4);

    const auto note = [](int sampleNumber, int period, int effect, int parameter) {
        return std::array<uint8_t, 4>{
            static_cast<uint8_t>((sampleNumber & 0xF0) | (period >> 8)), static_cast<uint8_t>(period & 0xFF),
            static_cast<uint8_t>(((sampleNumber & 0x0F) << 4) | effect), static_cast<uint8_t>(parameter)};
    };
    for (int row = 0; row < 64; ++row) {
        for (int channel = 0; channel < 4; ++channel) {
            std::array<uint8_t, 4> cell{};
            if (channel == 0 && row % 4 == 0)
                cell = note(1, row % 8 == 0 ? 428 : 320, 0, 0);
            if (channel == 1 && row == kRows - 1)
                cell = note(0, 0, 0xD, 0);  // pattern break: the song ends here
            bytes.insert(bytes.end(), cell.begin(), cell.end());
        }
    }
    // A looping square wave would be more musical; one cycle is enough here.
    for (int i = 0; i < kSampleWords * 2; ++i)
        bytes.push_back(static_cast<uint8_t>(i < kSampleWords ? 0x60 : 0xA0));
    return bytes;
}

} // namespace

TEST_F(EngineTest, ModuleLoadsReportsItsLengthAndPlaysToTheEnd) {
    const std::string path = dir_.File("tune.mod");
    testsupport::WriteBytes(path, MakeProTrackerModule());

    // The player tries a file stream first: a module is not one.
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0), 0u);

    const HMUSIC music = BASS_MusicLoad(FALSE, path.c_str(), 0, 0, BASS_MUSIC_CALCLEN);
    ASSERT_NE(music, 0u) << "error " << BASS_ErrorGetCode();
    EXPECT_STREQ(BASS_MusicGetName(music), "corvella test tune");
    EXPECT_EQ(BASS_ChannelGetFlags(music), 0u) << "rendered as 16-bit stereo";

    const DWORD length = BASS_MusicGetLength(music, static_cast<DWORD>(-1));
    ASSERT_NE(length, static_cast<DWORD>(-1));
    EXPECT_EQ(length % 4, 0u);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(music, length), kRows * kRowSeconds, 0.05);
    EXPECT_EQ(BASS_MusicGetLength(music, 0), 1u) << "orders without the play-length request";

    struct Counter {
        std::atomic<int> calls{0};
        static void Callback(HSYNC, DWORD, DWORD, void* user) { ++static_cast<Counter*>(user)->calls; }
    } ends;
    ASSERT_NE(BASS_ChannelSetSync(music, BASS_SYNC_END, 0, &Counter::Callback, &ends), 0u);
    ASSERT_TRUE(BASS_MusicPlay(music));
    EXPECT_EQ(BASS_ChannelIsActive(music), DWORD{BASS_ACTIVE_PLAYING});
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(music) > 0; }));
    ASSERT_TRUE(WaitUntil([&] { return ends.calls.load() == 1; }));
    EXPECT_EQ(BASS_ChannelIsActive(music), DWORD{BASS_ACTIVE_STOPPED});
    EXPECT_NEAR(static_cast<double>(BASS_ChannelGetPosition(music)), static_cast<double>(length), 44100.0 * 4 * 0.05);

    BASS_StreamFree(music);  // the wrong kind: refused harmlessly
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_HANDLE});
    EXPECT_EQ(BASS_MusicGetLength(music, static_cast<DWORD>(-1)), length);
    BASS_MusicFree(music);
    EXPECT_EQ(BASS_MusicGetLength(music, static_cast<DWORD>(-1)), static_cast<DWORD>(-1));
}

TEST_F(EngineTest, ModuleFromMemoryAndRefusedNonModules) {
    const std::vector<uint8_t> module = MakeProTrackerModule();
    const HMUSIC music = BASS_MusicLoad(TRUE, module.data(), 0, static_cast<DWORD>(module.size()), BASS_MUSIC_CALCLEN);
    ASSERT_NE(music, 0u) << "error " << BASS_ErrorGetCode();
    BASS_MusicFree(music);

    const std::string text = dir_.File("text.mod");
    testsupport::WriteText(text, "not a module at all");
    EXPECT_EQ(BASS_MusicLoad(FALSE, text.c_str(), 0, 0, BASS_MUSIC_CALCLEN), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});
    EXPECT_EQ(BASS_MusicLoad(FALSE, dir_.File("missing.mod").c_str(), 0, 0, BASS_MUSIC_CALCLEN), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEOPEN});
}
