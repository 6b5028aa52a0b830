// The WMA add-on: a file ffmpeg encodes with wmav2 is refused by the main
// library, plays through the add-on with its sync, and seeks.

#include "basswma.h"
#include "EngineFixture.h"

#include <algorithm>
#include <atomic>
#include <vector>

using enginetest::EngineTest;
using enginetest::Sh;
using enginetest::WaitUntil;
using testsupport::Quote;

namespace {

struct Counter {
    std::atomic<int> calls{0};
    static void Callback(HSYNC, DWORD, DWORD, void* user) { ++static_cast<Counter*>(user)->calls; }
};

} // namespace

class EngineWmaTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (!testsupport::HaveTool("ffmpeg"))
            GTEST_SKIP() << "missing tool: ffmpeg";
        wma_ = dir_.File("tone.wma");
        const auto made = Sh("ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=1.5 "
                             "-ac 2 -c:a wmav2 -b:a 128k " +
                             Quote(wma_));
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    std::string wma_;
};

TEST_F(EngineWmaTest, MainLibraryRefusesWmaAndTheAddOnPlaysIt) {
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, wma_.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});

    const HSTREAM h = BASS_WMA_StreamCreateFile(FALSE, wma_.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << "error " << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    EXPECT_EQ(BASS_ChannelGetFlags(h), 0u);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(h, 1.0f), 176400u);
    const QWORD length = BASS_StreamGetLength(h);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, length), 1.5, 0.1);

    Counter ends;
    ASSERT_NE(BASS_WMA_ChannelSetSync(h, BASS_SYNC_END, 0, &Counter::Callback, &ends), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return BASS_ChannelGetPosition(h) > 0; }));
    ASSERT_TRUE(WaitUntil([&] { return ends.calls.load() == 1; }));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD{BASS_ACTIVE_STOPPED});
    // Where decoding ended: within a tenth of a second of the header's length.
    EXPECT_NEAR(static_cast<double>(BASS_ChannelGetPosition(h)), static_cast<double>(length), 17640.0);

    // Rewind and play again, as the player does after an end.
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    ASSERT_TRUE(WaitUntil([&] { return ends.calls.load() == 2; }));

    BASS_StreamFree(h);  // WMA streams are freed by the main library
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_OK});
    EXPECT_EQ(BASS_ChannelGetFlags(h), static_cast<DWORD>(-1));
}

TEST_F(EngineWmaTest, SeekLandsWhereAsked) {
    const HSTREAM h = BASS_WMA_StreamCreateFile(FALSE, wma_.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    const QWORD target = BASS_ChannelSeconds2Bytes(h, 1.0f);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, target));
    Counter ends;
    ASSERT_NE(BASS_WMA_ChannelSetSync(h, BASS_SYNC_END, 0, &Counter::Callback, &ends), 0u);
    ASSERT_TRUE(BASS_StreamPlay(h, FALSE, 0));
    EXPECT_GE(BASS_ChannelGetPosition(h), target);
    ASSERT_TRUE(WaitUntil([&] { return ends.calls.load() == 1; }));
    // Half a second was left after the seek target, not the whole file.
    EXPECT_LT(BASS_ChannelGetPosition(h), target + BASS_ChannelSeconds2Bytes(h, 0.7f));
}

TEST_F(EngineWmaTest, AddOnRefusesWhatIsNotWma) {
    EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, dir_.File("missing.wma").c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEOPEN});
    const std::string mp3 = dir_.File("tone.mp3");
    REQUIRE_TOOL("lame");
    testsupport::MakeMp3(mp3, 0.5);
    EXPECT_EQ(BASS_WMA_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), DWORD{BASS_ERROR_FILEFORM});
}

TEST_F(EngineWmaTest, PlayDurationTheFileCannotHoldIsNotTheLength) {
    // The file properties' play and send durations (100 ns units) claim
    // 164 days for a file of 27 KB.
    std::vector<uint8_t> bytes = testsupport::ReadBytes(wma_);
    static constexpr uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const auto found = std::search(bytes.begin(), bytes.end(), std::begin(kFileProperties), std::end(kFileProperties));
    ASSERT_NE(found, bytes.end());
    const size_t playDuration = static_cast<size_t>(found - bytes.begin()) + 24 + 16 + 8 + 8 + 8;
    for (size_t field : {playDuration, playDuration + 8})
        for (size_t i = 0; i < 8; ++i)
            bytes[field + i] = i < 5 ? 0xFF : i == 5 ? 0x7F : 0;
    const std::string hostile = dir_.File("duration.wma");
    testsupport::WriteBytes(hostile, bytes);
    const HSTREAM h = BASS_WMA_StreamCreateFile(FALSE, hostile.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << "error " << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_StreamGetLength(h), static_cast<QWORD>(-1));
}
