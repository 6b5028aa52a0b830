// The WMA add-on: a file ffmpeg encodes with wmav2 is refused by the main
// library, plays through the add-on with its sync, and seeks.

#include "basswma.h"
#include "EngineFixture.h"

#include <atomic>

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
