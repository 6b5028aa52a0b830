// Time 0, the audio end and the frame walk on streams built byte by byte:
// MPEG 1 Layer III, 128 kbit/s, 44100 Hz, 417-byte frames.
#include "core/AudioFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "analysis/Errors.h"
#include "files/BinaryFile.h"
#include "support/TestSupport.h"

using namespace testsupport;

namespace {

constexpr size_t kFrame = 417;
const std::vector<uint8_t> kHeader = {0xFF, 0xFB, 0x90, 0x64};

struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<int64_t> frameStarts;

    void Frame(const std::vector<std::pair<size_t, std::vector<uint8_t>>>& inserts = {})
    {
        frameStarts.push_back(static_cast<int64_t>(bytes.size()));
        std::vector<uint8_t> frame(kFrame, 0x55);
        std::copy(kHeader.begin(), kHeader.end(), frame.begin());
        for (const auto& [offset, data] : inserts)
            std::copy(data.begin(), data.end(), frame.begin() + static_cast<std::ptrdiff_t>(offset));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    void Raw(const std::vector<uint8_t>& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    void Id3v2(size_t bodySize)
    {
        Raw({'I', 'D', '3', 3, 0, 0, 0, 0, uint8_t(bodySize >> 7), uint8_t(bodySize & 0x7F)});
        Raw(std::vector<uint8_t>(bodySize, 0));
    }
    void Id3v1()
    {
        std::vector<uint8_t> tag(128, 0);
        tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
        Raw(tag);
    }
};

class AudioFramesTest : public ::testing::Test {
protected:
    BinaryFile& Open(const Stream& stream)
    {
        WriteBytes(dir_.File("stream.mp3"), stream.bytes);
        EXPECT_TRUE(file_.Open(dir_.File("stream.mp3"), BinaryFile::Mode::Read));
        return file_;
    }

    TempDir dir_;
    BinaryFile file_;
};

} // namespace

TEST_F(AudioFramesTest, TimeZeroIsTheFirstFrameBehindTheTagAndTheAudioEndsBeforeId3v1)
{
    Stream stream;
    stream.Id3v2(300);
    for (int i = 0; i < 5; ++i)
        stream.Frame();
    stream.Id3v1();
    auto span = LocateAudio(Open(stream), static_cast<int64_t>(stream.bytes.size()), 310, true);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->TimeZero, 310);
    EXPECT_EQ(span->AudioEnd, static_cast<int64_t>(stream.bytes.size()) - 128);
}

TEST_F(AudioFramesTest, AVbrHeaderFrameIsNotAudio)
{
    for (const char* id : {"Xing", "Info", "VBRI"}) {
        Stream stream;
        std::vector<uint8_t> text(id, id + 4);
        stream.Frame({{36, text}});
        stream.Frame();
        stream.Frame();
        auto span = LocateAudio(Open(stream), static_cast<int64_t>(stream.bytes.size()), 0, false);
        ASSERT_TRUE(span) << id;
        EXPECT_EQ(span->TimeZero, static_cast<int64_t>(kFrame)) << id;
    }
}

TEST_F(AudioFramesTest, APaddingRunBeforeTheFirstFrameIsSkippedAndNoStreamIsNoSpan)
{
    Stream stream;
    stream.Raw(std::vector<uint8_t>(5000, 0));  // longer than the analysis's first block
    stream.Raw(kHeader);                        // a lone header: no second one behind it
    stream.Raw(std::vector<uint8_t>(500, 0));
    int64_t first = static_cast<int64_t>(stream.bytes.size());
    stream.Frame();
    stream.Frame();
    auto span = LocateAudio(Open(stream), static_cast<int64_t>(stream.bytes.size()), 0, false);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->TimeZero, first);

    Stream silence;
    silence.Raw(std::vector<uint8_t>(20000, 0xFF));
    EXPECT_FALSE(LocateAudio(Open(silence), 20000, 0, false));
}

TEST_F(AudioFramesTest, ASyncPatternInsideAudioDataIsNeverAFrameStart)
{
    Stream stream;
    stream.Frame();
    // A false header 200 bytes into the second frame, followed by another
    // false header at its computed length: it would pass the search's test.
    stream.Frame({{200, kHeader}});
    stream.Frame({{200, kHeader}});
    stream.Frame();
    stream.Frame();
    BinaryFile& file = Open(stream);
    AudioSpan span{0, static_cast<int64_t>(stream.bytes.size())};
    TFrameWalker walker(file, span);
    EXPECT_EQ(walker.AdvanceTo(kFrame + 150), stream.frameStarts[2]);
    EXPECT_EQ(walker.AdvanceTo(stream.frameStarts[2] + 201), stream.frameStarts[3]);
    EXPECT_EQ(walker.AdvanceTo(stream.frameStarts[3]), stream.frameStarts[3]);
    // Offsets behind the walk do not move it back.
    EXPECT_EQ(walker.AdvanceTo(10), stream.frameStarts[3]);
}

TEST_F(AudioFramesTest, JunkBetweenFramesIsSkippedToTheNextPairOfFrames)
{
    Stream stream;
    stream.Frame();
    stream.Frame();
    stream.Raw(std::vector<uint8_t>(100, 0x11));
    stream.Raw(kHeader);  // a lone header inside the junk
    stream.Raw(std::vector<uint8_t>(50, 0x22));
    stream.Frame();
    stream.Frame();
    TFrameWalker walker(Open(stream), AudioSpan{0, static_cast<int64_t>(stream.bytes.size())});
    EXPECT_EQ(walker.AdvanceTo(kFrame + 1), stream.frameStarts[2]);
    EXPECT_EQ(walker.FrameAfter(stream.frameStarts[0]), stream.frameStarts[1]);
    EXPECT_EQ(walker.FrameAfter(stream.frameStarts[1]), stream.frameStarts[2]);
    EXPECT_EQ(walker.Position(), stream.frameStarts[2]);

    // Junk over several windows of the walk, sync bytes that start no frame
    // on either side of a window's end among it.
    Stream longJunk;
    longJunk.Frame();
    std::vector<uint8_t> junk(3 * 8192 + 100, 0x11);
    for (size_t at : {size_t{5}, size_t{8191}, size_t{8192}, size_t{2 * 8192 + 3}})
        junk[at] = 0xFF;
    longJunk.Raw(junk);
    longJunk.Frame();
    longJunk.Frame();
    TFrameWalker junkWalker(Open(longJunk), AudioSpan{0, static_cast<int64_t>(longJunk.bytes.size())}, 8192);
    EXPECT_EQ(junkWalker.FrameAfter(longJunk.frameStarts[0]), longJunk.frameStarts[1]);
    EXPECT_EQ(junkWalker.FrameAfter(longJunk.frameStarts[1]), longJunk.frameStarts[2]);
}

TEST_F(AudioFramesTest, AHeaderOfAnotherStreamIsNotAFrameStart)
{
    Stream stream;
    stream.Frame();
    stream.Frame();
    // Where the third frame would start: a header of another sample rate.
    stream.Raw({0xFF, 0xFB, 0x94, 0x64});
    stream.Raw(std::vector<uint8_t>(kFrame - 4, 0x33));
    stream.Frame();
    stream.Frame();
    TFrameWalker walker(Open(stream), AudioSpan{0, static_cast<int64_t>(stream.bytes.size())});
    EXPECT_EQ(walker.AdvanceTo(2 * kFrame), stream.frameStarts[2]);
}

TEST_F(AudioFramesTest, OffsetsPastTheLastFrameStartGiveTheAudioEnd)
{
    Stream stream;
    stream.Frame();
    stream.Frame();
    stream.Frame();
    stream.bytes.resize(stream.bytes.size() - 100);  // the last frame is cut short
    int64_t end = static_cast<int64_t>(stream.bytes.size());
    TFrameWalker walker(Open(stream), AudioSpan{0, end});
    EXPECT_EQ(walker.AdvanceTo(2 * kFrame), stream.frameStarts[2]);
    EXPECT_EQ(walker.AdvanceTo(2 * kFrame + 1), end);
    EXPECT_EQ(walker.AdvanceTo(end + 5000), end);
}

TEST_F(AudioFramesTest, AFileThatShrinksUnderTheWalkIsAReadError)
{
    Stream stream;
    for (int i = 0; i < 4000; ++i)  // more than the walk's read window
        stream.Frame();
    BinaryFile& file = Open(stream);
    AudioSpan span{0, static_cast<int64_t>(stream.bytes.size())};
    TFrameWalker walker(file, span);
    ::truncate(dir_.File("stream.mp3").c_str(), 1000);
    EXPECT_THROW(walker.AdvanceTo(span.AudioEnd - 1), CorvellaError);
}

// With more windows mapped at once than the process keeps track of (many
// splits side by side), a walk reads its window instead of mapping it:
// the truncation then cannot reach the bytes it has.
TEST_F(AudioFramesTest, AFileTruncatedUnderAMappedWindowIsAReadErrorNotABusError)
{
    struct Row {
        size_t OtherWindows;
        bool ReadError;
    };
    for (const Row& row : {Row{0, true}, Row{1100, false}}) {
        Stream stream;
        for (int i = 0; i < 2000; ++i)  // 834 KB: one window holds all of it
            stream.Frame();
        BinaryFile& file = Open(stream);
        AudioSpan span{0, static_cast<int64_t>(stream.bytes.size())};
        std::vector<std::unique_ptr<FileWindow>> others;
        for (size_t i = 0; i < row.OtherWindows; ++i) {
            size_t available = 0;
            others.push_back(std::make_unique<FileWindow>(file, span.AudioEnd));
            ASSERT_NE(others.back()->At(0, 4, available), nullptr);
        }
        TFrameWalker walker(file, span);
        EXPECT_EQ(walker.AdvanceTo(stream.frameStarts[10]), stream.frameStarts[10]);
        EXPECT_EQ(walker.FrameIndex(), 10);
        ::truncate(dir_.File("stream.mp3").c_str(), 4096);
        if (row.ReadError)
            EXPECT_THROW(walker.AdvanceTo(span.AudioEnd), CorvellaError);
        else
            EXPECT_EQ(walker.AdvanceTo(span.AudioEnd), span.AudioEnd) << row.OtherWindows << " other windows";
    }
}

