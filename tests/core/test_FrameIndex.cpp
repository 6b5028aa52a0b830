// The frame index of a split must give exactly the frame starts and the
// count of one plain walk, whether its second walk joins the first or
// started on a false sync and never does. Streams long enough for two
// walks: 11,000 frames of MPEG 1 Layer III (417 bytes each), and lame's.
#include "core/FrameIndex.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "files/BinaryFile.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

constexpr size_t kFrame = 417;
constexpr int kFrames = 11000;
const std::vector<uint8_t> kHeader = {0xFF, 0xFB, 0x90, 0x64};

// With falseSyncs, every frame carries a header 200 bytes in: those make a
// chain of their own, 417 bytes apart, that a search from inside a frame's
// first 200 bytes takes for the stream. The stream is then padded with
// zeros so that its middle, where a second walk starts searching, lies
// 100 bytes into a frame.
std::vector<uint8_t> MakeStream(bool falseSyncs)
{
    std::vector<uint8_t> bytes;
    std::vector<size_t> starts;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> frame(kFrame, static_cast<uint8_t>(0x11 + i % 64));
        std::copy(kHeader.begin(), kHeader.end(), frame.begin());
        starts.push_back(bytes.size());
        if (falseSyncs)
            std::copy(kHeader.begin(), kHeader.end(), frame.begin() + 200);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        // Junk between frames here and there, and (where it would not
        // break the false chain) one run near the middle.
        if (i % 997 == 0 || (!falseSyncs && i == kFrames / 2))
            bytes.insert(bytes.end(), 37, 0x22);
    }
    auto middleInFrame = [&] {
        size_t middle = bytes.size() / 2;
        auto after = std::upper_bound(starts.begin(), starts.end(), middle);
        return middle - *(after - 1);
    };
    while (falseSyncs && middleInFrame() != 100)
        bytes.push_back(0);
    return bytes;
}

void ExpectTheIndexOfOneWalk(const std::string& path)
{
    BinaryFile file;
    ASSERT_TRUE(file.Open(path, BinaryFile::Mode::Read));
    AudioSpan span{0, file.Size()};
    std::vector<int64_t> starts;
    TFrameWalker walker(file, span);
    for (int64_t start = walker.AdvanceToFrame(0); start < span.AudioEnd;
         start = walker.AdvanceToFrame(walker.FrameIndex() + 1))
        starts.push_back(start);
    const auto frames = static_cast<int64_t>(starts.size());

    for (bool twoWalks : {false, true}) {
        TFrameIndex index(file, span, twoWalks ? TFrameIndex::kTwoWalksFrom : TFrameIndex::kOneWalk);
        EXPECT_EQ(index.FrameCount(), frames) << twoWalks;
        int far = 0;
        for (int64_t i = 0; i < frames; ++i) {
            auto [start, known] = index.StartAtOrBefore(i);
            ASSERT_LE(known, i);
            ASSERT_EQ(start, starts[static_cast<size_t>(known)]) << "frame " << i << ", two walks " << twoWalks;
            far = std::max(far, static_cast<int>(i - known));
        }
        // Look-ups stay short: within a stride, or the join's few frames.
        EXPECT_LT(far, 2 * TFrameIndex::kStride + 2100);
        auto [last, lastIndex] = index.StartAtOrBefore(frames + 50);
        EXPECT_EQ(last, starts[static_cast<size_t>(lastIndex)]);
    }
}

} // namespace

TEST(FrameIndex, TwoWalksThatJoinGiveTheStartsAndCountOfOne)
{
    TempDir dir;
    auto stream = MakeStream(false);
    WriteBytes(dir.File("plain.mp3"), stream);
    ExpectTheIndexOfOneWalk(dir.File("plain.mp3"));
    REQUIRE_TOOL("lame");
    // Twenty lame -V0 encodings one after the other: frames of every size,
    // and a Xing frame where each encoding begins.
    MakeMp3(dir.File("short.mp3"), 12, 44100, 2, "-V0 --noreplaygain");
    auto encoding = ReadBytes(dir.File("short.mp3"));
    std::vector<uint8_t> joined;
    for (int i = 0; i < 20; ++i)
        joined.insert(joined.end(), encoding.begin(), encoding.end());
    ASSERT_GT(joined.size(), size_t(4) << 20);
    WriteBytes(dir.File("joined.mp3"), joined);
    ExpectTheIndexOfOneWalk(dir.File("joined.mp3"));
}

TEST(FrameIndex, ASecondWalkOnAFalseChainIsLeftAndTheFirstWalksOn)
{
    TempDir dir;
    WriteBytes(dir.File("false.mp3"), MakeStream(true));
    ExpectTheIndexOfOneWalk(dir.File("false.mp3"));
}
