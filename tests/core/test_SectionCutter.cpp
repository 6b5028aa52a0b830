// The section cutter on files made by lame: where cuts begin and end, the
// clamps and the offset limits, what is refused, and that the source and
// existing targets are safe.
#include "core/SectionCutter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "core/FrameModel.h"
#include "core/SplitCommands.h"
#include "core/TimeText.h"
#include "playback/BASSPlayer.h"
#include "SplitTestSupport.h"

using namespace testsupport;
using namespace splittest;
namespace fs = std::filesystem;

namespace {

class SectionCutterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApplication();
        fixtures_ = std::make_unique<TempDir>();
        if (!HaveTool("lame") || !HaveTool("sox"))
            return;
        auto commands = Mp3Commands("cbr.mp3", 30, 44100, 2, "-b 128 --tt Title --ta Artist --tg Rock");
        commands.push_back("sox -n -r 44100 -c 2 -b 16 tone.wav synth 3 sine 440");
        const std::vector<std::string> files = {"cbr.mp3", "tone.wav"};
        CopyFixtures(CachedFixtures(commands, files), files, fixtures_->Path().string());
        WriteText(fixtures_->File("notes.txt"), "not audio at all");
    }
    static void TearDownTestSuite() { fixtures_.reset(); }

    void SetUp() override
    {
        REQUIRE_TOOL("lame");
        player_ = std::make_unique<TBASSPlayer>(nullptr, &ui_, BinFolder());
        if (!player_->PlayerReady())
            GTEST_SKIP() << "the audio library is not in " << BinFolder();
        cutter_ = std::make_unique<TSectionCutter>(*player_);
        source_ = Fixture("cbr.mp3");
        sourceBytes_ = ReadBytes(source_);
        auto audio = AudioOf(sourceBytes_);
        timeZero_ = Id3v2Length(sourceBytes_) + MpegFrameLength(audio.data());
        audioEnd_ = sourceBytes_.size() - 128;
        for (size_t start : MpegFrameStarts(audio))
            frameStarts_.push_back(Id3v2Length(sourceBytes_) + start);
        skip_ = LameDelay(audio) + 529;
    }

    // The frame a time lands on: its sample, moved into a decoder's raw
    // output by the samples a decoder drops before the source's first one,
    // to the nearest frame boundary, leaning half of the 529 samples a
    // decoder drops at a part's start.
    size_t FrameOfMs(int64_t ms) const
    {
        if (ms <= 0)
            return 0;
        int64_t lean = ms * 44100 / 1000 + skip_ - 264 + 576;
        return lean <= 0 ? 0 : static_cast<size_t>(lean / 1152);
    }
    // Start of audio frame index (after the source's Info frame).
    size_t StartOfFrame(size_t index) const
    {
        return index + 1 < frameStarts_.size() ? frameStarts_[index + 1] : audioEnd_;
    }
    // The source frames a cut from startMs to endMs (the audio end without one) holds.
    std::vector<uint8_t> Expected(int64_t startMs, std::optional<int64_t> endMs) const
    {
        return SourceRange(StartOfFrame(FrameOfMs(startMs)), endMs ? StartOfFrame(FrameOfMs(*endMs)) : audioEnd_);
    }

    static std::string Fixture(const std::string& name) { return fixtures_->File(name); }

    // The first frame start at or after offset, by the independent walk.
    size_t FrameStartFrom(size_t offset) const
    {
        for (size_t start : frameStarts_)
            if (start >= offset && start >= timeZero_)
                return start;
        return audioEnd_;
    }

    std::vector<uint8_t> SourceRange(size_t begin, size_t end) const
    {
        return std::vector<uint8_t>(sourceBytes_.begin() + static_cast<std::ptrdiff_t>(begin),
                                    sourceBytes_.begin() + static_cast<std::ptrdiff_t>(end));
    }

    bool Cut(const std::string& target, const std::string& start, const std::string& end, bool overwrite = true,
             int64_t offset = -150)
    {
        return cutter_->CutSection(source_, target, start, end, overwrite, offset);
    }

    static std::unique_ptr<TempDir> fixtures_;
    ScriptedUi ui_;
    std::unique_ptr<TBASSPlayer> player_;
    std::unique_ptr<TSectionCutter> cutter_;
    std::string source_;
    std::vector<uint8_t> sourceBytes_;
    std::vector<size_t> frameStarts_;
    size_t timeZero_ = 0;
    size_t audioEnd_ = 0;
    int64_t skip_ = 0;
    TempDir out_;
};

std::unique_ptr<TempDir> SectionCutterTest::fixtures_;

} // namespace

TEST_F(SectionCutterTest, WorkedExampleLandsWithinAFrameOfTheByteOffsetOfAConstantBitRate)
{
    // 128 kbit/s, "00:10.000"-"00:20.000" shifted by -150 ms: 157600 and
    // 317600 bytes from time 0 at the average bit rate.
    std::string target = out_.File("a.mp3");
    ASSERT_TRUE(Cut(target, "00:10.000", "00:20.000"));
    auto audio = AudioAfterHeaderFrame(ReadBytes(target));
    EXPECT_TRUE(audio == Expected(9850, 19850)) << "a cut is the header frame and the bare frames";
    size_t begin = StartOfFrame(FrameOfMs(9850));
    size_t byBitRate = FrameStartFrom(timeZero_ + 157600);
    EXPECT_LE(std::max(begin, byBitRate) - std::min(begin, byBitRate), 418u);
    EXPECT_EQ(player_->Mode(), plmStandby);
}

TEST_F(SectionCutterTest, StartAtZeroBeginsAtTimeZeroBehindTheVbrHeaderFrame)
{
    std::string target = out_.File("b.mp3");
    ASSERT_TRUE(Cut(target, "00:00.000", "00:10.000"));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(target)) == SourceRange(timeZero_, StartOfFrame(FrameOfMs(9850))));
}

TEST_F(SectionCutterTest, EndBeyondTheStreamReachesTheAudioEnd)
{
    std::string target = out_.File("c.mp3");
    ASSERT_TRUE(Cut(target, "00:20.000", "99:00.000"));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(target)) == Expected(19850, std::nullopt));
}

TEST_F(SectionCutterTest, StartAtOrAfterTheEndOfTheStreamWritesNothing)
{
    std::string target = out_.File("d.mp3");
    EXPECT_FALSE(Cut(target, "00:30.150", "00:40.000"));
    EXPECT_FALSE(Cut(target, "01:00.000", "02:00.000"));
    EXPECT_FALSE(Cut(target, "00:10.000", "00:05.000"));
    EXPECT_FALSE(Cut(target, "00:10.000", "00:10.000"));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(SectionCutterTest, OffsetIsLimitedToFiveSecondsEitherWay)
{
    auto cutWith = [&](int64_t offset) {
        std::string target = out_.File("offset" + std::to_string(offset) + ".mp3");
        EXPECT_TRUE(Cut(target, "00:10.000", "00:15.000", true, offset));
        return ReadBytes(target);
    };
    EXPECT_TRUE(cutWith(-9000) == cutWith(-5000));
    EXPECT_TRUE(cutWith(7000) == cutWith(5000));
    EXPECT_FALSE(cutWith(-5000) == cutWith(5000));
    EXPECT_TRUE(AudioAfterHeaderFrame(cutWith(-5000)) == Expected(5000, 10000));
}

TEST_F(SectionCutterTest, TooShortARangeWritesNothingAndSaysWhy)
{
    // 60 ms is a frame or two: a file no reader opens, refused with its reason.
    std::string target = out_.File("e.mp3");
    for (const char* end : {"00:10.001", "00:10.060"}) {
        try {
            Cut(target, "00:10.000", end);
            ADD_FAILURE() << end << ": no reason given";
        } catch (const CorvellaError& error) {
            EXPECT_STREQ(error.what(), kSectionTooShort) << end;
        }
        EXPECT_FALSE(fs::exists(target)) << end;
    }
}

TEST_F(SectionCutterTest, NonNumericTimeIsAConversionErrorAndWritesNothing)
{
    std::string target = out_.File("f.mp3");
    try {
        Cut(target, "00:xx.000", "00:10.000");
        FAIL() << "no error";
    } catch (const CorvellaError& error) {
        EXPECT_STREQ(error.what(), "'xx' is not a valid integer value");
    }
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(SectionCutterTest, ExistingReadOnlyTargetIsReplacedOnlyWithOverwrite)
{
    std::string target = out_.File("existing.mp3");
    WriteText(target, "keep me");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_FALSE(Cut(target, "00:01.000", "00:02.000", false));
    EXPECT_EQ(ReadText(target), "keep me");
    EXPECT_TRUE(Cut(target, "00:01.000", "00:02.000", true));
    EXPECT_TRUE(StartsWithFrameSync(ReadBytes(target)));
    // Nothing of the writing is left beside the target.
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out_.Path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST_F(SectionCutterTest, TheSourceItselfIsNeverATarget)
{
    std::string link = out_.File("hardlink.mp3");
    ASSERT_EQ(::link(source_.c_str(), link.c_str()), 0);
    std::string symlink = out_.File("symlink.mp3");
    fs::create_symlink(source_, symlink);
    std::string relative = fs::relative(source_, fs::current_path()).string();
    for (const std::string& same : {source_, relative, link, symlink, fs::path(source_).parent_path().string() + "/./cbr.mp3"})
        EXPECT_FALSE(Cut(same, "00:01.000", "00:05.000")) << same;
    EXPECT_TRUE(ReadBytes(source_) == sourceBytes_);
}

TEST_F(SectionCutterTest, FilesThePlayerCannotMeasureAreRefused)
{
    std::string target = out_.File("g.mp3");
    // A WAV file has no bit rate; a text file does not open.
    EXPECT_FALSE(cutter_->CutSection(Fixture("tone.wav"), target, "00:00.000", "00:02.000", true, -150));
    EXPECT_FALSE(cutter_->CutSection(Fixture("notes.txt"), target, "00:00.000", "00:02.000", true, -150));
    EXPECT_FALSE(cutter_->CutSection(out_.File("missing.mp3"), target, "00:00.000", "00:02.000", true, -150));
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(SectionCutterTest, TagsGivenAreWrittenInOnePassAsWriteTagWouldWriteThem)
{
    TID3v1 id3v1;
    TID3v2 id3v2;
    ASSERT_TRUE(id3v1.ReadTag(source_));
    ASSERT_TRUE(id3v2.ReadTag(source_));
    std::string bare = out_.File("bare.mp3");
    ASSERT_TRUE(Cut(bare, "00:03.000", "00:07.000"));
    ASSERT_TRUE(id3v1.WriteTag(bare));
    ASSERT_TRUE(id3v2.WriteTag(bare));

    CutRequest request;
    request.Source = source_;
    request.Target = out_.File("onepass.mp3");
    request.StartText = "00:03.000";
    request.EndText = "00:07.000";
    request.Overwrite = true;
    request.OffsetMs = -150;
    PartTags tags = RenderPartTags(id3v1, id3v2);
    request.Tags = &tags;
    ASSERT_TRUE(cutter_->Cut(request));
    // A rewrite pads its tag for later edits; a part carries the tag as rendered.
    TID3v2 padded;
    ASSERT_TRUE(padded.ReadTag(bare));
    const auto bareBytes = ReadBytes(bare);
    auto expected = id3v2.RenderTag();
    expected.insert(expected.end(), bareBytes.begin() + padded.Size(), bareBytes.end());
    EXPECT_TRUE(ReadBytes(request.Target) == expected);
}

TEST_F(SectionCutterTest, CutsLongerThanTheReadWindowHoldExactlyTheirFrames)
{
    // Each of these spans several of the walk's read windows, from which the
    // part is written; one cutter does them all, as a split does, and the
    // later ones start behind, inside and past the earlier ones.
    const std::vector<std::pair<std::string, std::string>> ranges = {
        {"00:00.000", "00:25.000"}, {"00:25.000", "00:29.500"}, {"00:01.234", "00:28.000"},
        {"00:17.000", "00:29.900"}, {"00:02.500", "00:19.750"}, {"00:19.750", "00:29.000"}};
    int index = 0;
    for (const auto& [start, end] : ranges) {
        std::string target = out_.File("long" + std::to_string(index++) + ".mp3");
        ASSERT_TRUE(Cut(target, start, end)) << start << "-" << end;
        int64_t startMs = std::max<int64_t>(TimeTextToMilliseconds(start) - 150, 0);
        int64_t endMs = TimeTextToMilliseconds(end) - 150;
        EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(target)) == Expected(startMs, endMs)) << start << "-" << end;
    }
}

TEST_F(SectionCutterTest, APartCarriedIntoTheNextHoldsTheFramesOfBoth)
{
    // A split hands a part too short to write on to the next one as one cut
    // of both; it must hold exactly what the two would have held.
    auto part = [&](int32_t first, int32_t last) {
        CutRequest request;
        request.Source = source_;
        request.Target = out_.File("carried" + std::to_string(first) + std::to_string(last) + ".mp3");
        request.StartText = "00:00.000";
        request.EndText = "00:30.000";
        request.Overwrite = true;
        request.Part = SplitPoint{};
        request.Part->Equal = SplitPoint::Shares{7, first, last};
        request.PartIndex = last;
        EXPECT_TRUE(cutter_->Cut(request)) << first << "-" << last;
        return AudioAfterHeaderFrame(ReadBytes(request.Target));
    };
    auto expected = part(2, 2);
    auto third = part(3, 3);
    expected.insert(expected.end(), third.begin(), third.end());
    ASSERT_FALSE(third.empty());
    EXPECT_TRUE(part(2, 3) == expected);
}

TEST_F(SectionCutterTest, ATagSizeByteWithItsTopBitSetCountsAsTheReadersCountIt)
{
    // Size bytes 00 00 83 00: 16768 bytes as the readers take them, 384 with
    // bit 7 masked off, where two frame headers in the tag's padding would
    // then pass for the audio's start.
    std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x83, 0};
    tagged.resize(10 + 16768, 0);
    for (size_t at : {394, 394 + 417, 394 + 2 * 417})
        std::copy_n(std::array<uint8_t, 4>{0xFF, 0xFB, 0x90, 0x44}.begin(), 4, tagged.begin() + static_cast<std::ptrdiff_t>(at));
    tagged.insert(tagged.end(), sourceBytes_.begin() + static_cast<std::ptrdiff_t>(Id3v2Length(sourceBytes_)),
                  sourceBytes_.end());
    std::string source = out_.File("oddtag.mp3");
    WriteBytes(source, tagged);
    std::string target = out_.File("oddtag-part.mp3");
    ASSERT_TRUE(cutter_->CutSection(source, target, "00:01.000", "00:03.000", true, -150));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(target)) == Expected(850, 2850));
}

TEST_F(SectionCutterTest, AChangedSourceIsNeverCutWithWhatTheCutterKnewOfItBefore)
{
    std::string source = out_.File("changing.mp3");
    WriteBytes(source, sourceBytes_);
    std::string first = out_.File("before.mp3");
    ASSERT_TRUE(cutter_->CutSection(source, first, "00:10.000", "00:20.000", true, -150));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(first)) == Expected(9850, 19850));

    // The same audio behind 1000 more bytes of ID3v2 padding: every frame
    // moves, and the file keeps its path.
    size_t tagLength = Id3v2Length(sourceBytes_);
    ASSERT_GT(tagLength, 10u);
    size_t body = tagLength - 10 + 1000;
    std::vector<uint8_t> moved(sourceBytes_.begin(), sourceBytes_.begin() + static_cast<std::ptrdiff_t>(tagLength));
    moved[6] = uint8_t(body >> 21 & 0x7F);
    moved[7] = uint8_t(body >> 14 & 0x7F);
    moved[8] = uint8_t(body >> 7 & 0x7F);
    moved[9] = uint8_t(body & 0x7F);
    moved.insert(moved.end(), 1000, 0);
    moved.insert(moved.end(), sourceBytes_.begin() + static_cast<std::ptrdiff_t>(tagLength), sourceBytes_.end());
    WriteBytes(source, moved);

    std::string second = out_.File("after.mp3");
    ASSERT_TRUE(cutter_->CutSection(source, second, "00:10.000", "00:20.000", true, -150));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(second)) == Expected(9850, 19850))
        << "the same frames, found at their new places";
    // And a cut that starts before where the first one ended.
    std::string third = out_.File("again.mp3");
    ASSERT_TRUE(cutter_->CutSection(source, third, "00:05.000", "00:12.000", true, -150));
    EXPECT_TRUE(AudioAfterHeaderFrame(ReadBytes(third)) == Expected(4850, 11850));
}

TEST(ForceDeleteFile, DeletesReadOnlyFilesAndReportsMissingOnes)
{
    TempDir dir;
    std::string file = dir.File("locked.mp3");
    WriteText(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_TRUE(ForceDeleteFile(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(ForceDeleteFile(file));
    EXPECT_FALSE(ForceDeleteFile(dir.Path().string()));
}

TEST(IsSameFile, ComparesIdentityNotText)
{
    TempDir dir;
    std::string file = dir.File("a.mp3");
    WriteText(file, "x");
    WriteText(dir.File("b.mp3"), "x");
    EXPECT_TRUE(IsSameFile(file, dir.Path().string() + "/../" + dir.Path().filename().string() + "/a.mp3"));
    EXPECT_FALSE(IsSameFile(file, dir.File("b.mp3")));
    EXPECT_FALSE(IsSameFile(file, dir.File("c.mp3")));
}

// Parts of real encoder output, decoded by ffmpeg and mpg123 and compared
// with the decoded source: where cuts land, what each part's header frame
// says, and that gapless parts join to the source sample for sample.
namespace {

class DecodedPartsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApplication();
        fixtures_ = std::make_unique<TempDir>();
        if (HaveTool("lame") && HaveTool("sox") && HaveTool("ffmpeg") && HaveTool("mpg123"))
            MakeEncodedFixtures(*fixtures_);
    }
    static void TearDownTestSuite() { fixtures_.reset(); }

    void SetUp() override
    {
        for (const char* tool : {"lame", "sox", "ffmpeg", "ffprobe", "mpg123"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        player_ = std::make_unique<TBASSPlayer>(nullptr, &ui_, BinFolder());
        if (!player_->PlayerReady())
            GTEST_SKIP() << "the audio library is not in " << BinFolder();
        commands_ = std::make_unique<TSplitCommands>(*player_, id3v1_, id3v2_, ui_);
    }

    static std::string Fixture(const std::string& name) { return fixtures_->File(name); }

    // The parts of an equal split, in order.
    std::vector<std::string> Split(const EncodedFixture& fixture, int count, bool gapless, const TempDir& out)
    {
        ui_.FolderAnswer = out.Path().string();
        commands_->SetGapless(gapless);
        SplitRequest request;
        request.FileText = Fixture(fixture.Name);
        request.SectionMode = false;
        request.PartText = std::to_string(count);
        EXPECT_TRUE(player_->Open(request.FileText));
        request.LengthMs = static_cast<int32_t>(player_->PlayLength());
        player_->Close();
        commands_->Split(request);
        std::vector<std::string> parts;
        std::string base = fs::path(fixture.Name).stem().string();
        for (int k = 1; k <= count; ++k)
            if (fs::exists(out.File(base + "_chunk_" + std::to_string(k) + ".mp3")))
                parts.push_back(out.File(base + "_chunk_" + std::to_string(k) + ".mp3"));
        EXPECT_EQ(parts.size(), static_cast<size_t>(count)) << fixture.Name;
        return parts;
    }

    std::string Section(const EncodedFixture& fixture, const std::string& start, const std::string& end, bool gapless,
                        const TempDir& out)
    {
        std::string target = out.File(fixture.Name);
        commands_->SetGapless(gapless);
        ui_.SaveAnswer = target;
        SplitRequest request;
        request.FileText = Fixture(fixture.Name);
        request.SectionMode = true;
        request.StartText = start;
        request.EndText = end;
        commands_->Split(request);
        EXPECT_TRUE(fs::exists(target)) << fixture.Name;
        return target;
    }

    static std::unique_ptr<TempDir> fixtures_;
    ScriptedUi ui_;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
    std::unique_ptr<TBASSPlayer> player_;
    std::unique_ptr<TSplitCommands> commands_;
};

std::unique_ptr<TempDir> DecodedPartsTest::fixtures_;

// Where a decoded part lies in the decoded source, by cross-correlation:
// the offset (in samples per channel) within reach of expected at which a
// stretch from the part's middle differs least from the source; -1 when
// even that stretch is not the source's (a mean difference above 1% of
// full scale).
int64_t FindInSource(const std::vector<int16_t>& source, const std::vector<int16_t>& part, int channels,
                     int64_t expected, int64_t reach)
{
    const int64_t middle = static_cast<int64_t>(part.size()) / 2 / channels;
    const int64_t length = std::min<int64_t>(2048, static_cast<int64_t>(part.size()) / channels - middle);
    double best = 1e300;
    int64_t bestAt = -1;
    for (int64_t at = std::max<int64_t>(expected - reach, 0); at <= expected + reach; ++at) {
        if ((at + middle + length) * channels > static_cast<int64_t>(source.size()))
            break;
        double difference = 0;
        for (int64_t i = 0; i < length * channels; ++i)
            difference += std::abs(part[static_cast<size_t>(middle * channels + i)]
                                   - source[static_cast<size_t>((at + middle) * channels + i)]);
        if (difference < best) {
            best = difference;
            bestAt = at;
        }
    }
    return best / static_cast<double>(length * channels) < 327 ? bestAt : -1;
}

} // namespace

TEST_F(DecodedPartsTest, GaplessPartsJoinToTheDecodedSourceSampleForSample)
{
    for (const EncodedFixture& fixture : EncodedFixtures()) {
        if (!fixture.Layer3)
            continue;  // decoders honour a delay and padding on Layer III only
        TempDir out;
        auto parts = Split(fixture, 3, true, out);
        // mpg123 decodes only the last four frames before the first sample
        // it keeps; at 576 samples a frame the part's reservoir and overlap
        // frames can lie further back, so it is told to decode them all.
        std::string mpg123 = fixture.SamplesPerFrame == 576 ? "mpg123 --preframes 8" : "mpg123";
        for (const std::string& decoder : {std::string("ffmpeg"), mpg123}) {
            auto source = DecodeWith(decoder, Fixture(fixture.Name));
            std::vector<int16_t> joined;
            std::vector<size_t> lengths;
            for (const auto& part : parts) {
                auto samples = DecodeWith(decoder, part);
                lengths.push_back(samples.size() / static_cast<size_t>(fixture.Channels));
                joined.insert(joined.end(), samples.begin(), samples.end());
            }
            ASSERT_GT(source.size(), 0u) << fixture.Name;
            EXPECT_EQ(joined.size(), source.size()) << fixture.Name << " by " << decoder;
            EXPECT_TRUE(joined == source) << fixture.Name << " by " << decoder;
            // Equal parts to the sample.
            auto [shortest, longest] = std::minmax_element(lengths.begin(), lengths.end());
            EXPECT_LE(*longest - *shortest, 1u) << fixture.Name << " by " << decoder;
        }
    }
}

TEST_F(DecodedPartsTest, EveryPartsHeaderFrameDescribesThePartAndPlayersReportItsTrueLength)
{
    for (const EncodedFixture& fixture : EncodedFixtures()) {
        for (bool gapless : {false, true}) {
            TempDir out;
            auto parts = Split(fixture, 3, gapless, out);
            std::vector<double> decodedLengths;
            for (const auto& part : parts) {
                std::string name = part + (gapless ? " (gapless)" : "");
                auto audio = AudioOf(ReadBytes(part));
                PartHeaderFrame header = ReadPartHeaderFrame(audio);
                EXPECT_TRUE(header.CrcRight) << name;
                auto starts = MpegFrameStarts(audio);
                ASSERT_GE(starts.size(), 3u) << name;
                // "Xing" when the part's frames differ in rate (a gapless
                // part's reservoir frame may), else "Info".
                bool variable = std::any_of(starts.begin() + 1, starts.end(),
                                            [&](size_t at) { return audio[at + 2] >> 4 != audio[starts[1] + 2] >> 4; });
                EXPECT_EQ(header.Id, variable ? "Xing" : "Info") << name;
                EXPECT_TRUE(variable || !fixture.Variable) << name;
                EXPECT_EQ(header.Frames, starts.size() - 1) << name;
                EXPECT_EQ(header.Bytes, audio.size()) << name;
                EXPECT_EQ(header.MusicCrc, ReflectedCrc16(&audio[starts[1]], audio.size() - starts[1])) << name;
                ASSERT_EQ(header.Toc.size(), 100u);
                for (size_t i = 0; i < 100; ++i) {
                    size_t frame = 1 + i * header.Frames / 100;
                    EXPECT_EQ(header.Toc[i], std::min<size_t>(255, 256 * starts[frame] / audio.size())) << name << " TOC " << i;
                }

                // What players report: within one frame of the part's
                // frames, which decode to its samples and the delay and
                // padding that decoders drop (529 of them at least).
                auto decoded = static_cast<double>(DecodeWith("ffmpeg", part).size() / static_cast<size_t>(fixture.Channels));
                double dropped = fixture.Layer3 ? header.Delay + std::max(header.Padding, 529) : 0;
                double frame = fixture.SamplesPerFrame;
                auto probed = testsupport::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(part));
                decodedLengths.push_back(decoded);
                EXPECT_NEAR(std::stod(probed.output) * fixture.SampleRate, decoded + dropped, frame) << name;
                TMPEGaudio analysis;
                ASSERT_TRUE(analysis.Analyze(part));
                EXPECT_NEAR(analysis.Duration() * fixture.SampleRate, decoded + dropped, frame) << name;
                EXPECT_TRUE(player_->Open(part));
                double played = player_->PlayLength() / 1000.0 * fixture.SampleRate;
                player_->Close();
                EXPECT_TRUE(std::abs(played - decoded) <= frame || std::abs(played - decoded - dropped) <= frame)
                    << name << ": the player says " << played << " samples, " << decoded << " decode";
            }
            auto [shortest, longest] = std::minmax_element(decodedLengths.begin(), decodedLengths.end());
            EXPECT_LE(*longest - *shortest, fixture.SamplesPerFrame) << fixture.Name << ": equal parts within a frame";
        }
    }
}

TEST_F(DecodedPartsTest, LowRateAndProtectedSourcesGivePartsThatMeasureTheirLengthAndJoinToTheSource)
{
    if (!HaveTool("mediainfo"))
        GTEST_SKIP() << "mediainfo is not installed";
    struct Source {
        std::string Name;
        std::string LameOptions;  // empty: the cbr fixture, twice in a row
        int SampleRate;
        int Channels;
        int SamplesPerFrame;
        int Parts = 4;
    };
    // Rates too low for lame's own header frame, and a CRC-protected file
    // whose header frame lies where an unprotected one has it.
    const std::vector<Source> sources = {
        {"mpeg1-stereo-32.mp3", "--resample 32 -b 32", 32000, 2, 1152},
        {"mpeg1-mono-48.mp3", "--resample 44.1 -m m -b 48", 44100, 1, 1152},
        {"mpeg2-mono-48.mp3", "--resample 22.05 -m m -b 48", 22050, 1, 576},
        {"mpeg2-stereo-32.mp3", "--resample 22.05 -b 32", 22050, 2, 576},
        // Too low a rate for any header frame: parts of whole frames, gapless
        // or not (in 2, as the MPEG analysis reads no file under 3458 bytes
        // without one).
        {"mpeg2-mono-16.mp3", "--resample 22.05 -m m -b 16", 22050, 1, 576, 2},
        {"protected.mp3", "-p -b 128", 44100, 2, 1152},
        // In 3, so that no part starts with the second file's header frame.
        {"joined.mp3", "", 44100, 2, 1152, 3},
    };
    for (const Source& source : sources) {
        const std::string file = Fixture(source.Name);
        if (source.LameOptions.empty()) {
            // Two files joined: the first one's header frame counts only its own frames.
            auto bytes = ReadBytes(Fixture("cbr.mp3"));
            bytes.insert(bytes.end(), bytes.begin(), bytes.end());
            WriteBytes(file, bytes);
        } else {
            ASSERT_EQ(testsupport::Run("lame --quiet " + source.LameOptions + " " + Quote(Fixture("mix.wav")) + " "
                                       + Quote(file)).exitCode, 0);
        }
        EncodedFixture fixture{source.Name, source.SampleRate, source.Channels, source.SamplesPerFrame, true, false};
        for (bool gapless : {false, true}) {
            TempDir out;
            auto parts = Split(fixture, source.Parts, gapless, out);
            std::vector<std::vector<int16_t>> decoded;
            for (const auto& part : parts) {
                std::string name = part + (gapless ? " (gapless)" : "");
                auto audio = AudioOf(ReadBytes(part));
                EXPECT_FALSE(HasId3v1(ReadBytes(part))) << name;
                PartHeaderFrame header = ReadPartHeaderFrame(audio);
                const bool withHeader = source.Name != "mpeg2-mono-16.mp3";
                ASSERT_EQ(header.Id.empty(), !withHeader) << name;
                EXPECT_EQ(header.CrcRight, withHeader) << name;
                size_t headerLength = MpegFrameLength(audio.data());
                if (withHeader) {
                    EXPECT_EQ(header.MusicCrc, ReflectedCrc16(&audio[headerLength], audio.size() - headerLength)) << name;
                }
                decoded.push_back(DecodeWith("ffmpeg", part));
                // Every reader's length lies within a frame of the part's
                // decoded samples and the delay and padding dropped of them.
                double samples = static_cast<double>(decoded.back().size() / static_cast<size_t>(source.Channels))
                    + (withHeader ? header.Delay + std::max(header.Padding, 529) : 0);
                double frame = source.SamplesPerFrame;
                auto probed = testsupport::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(part));
                EXPECT_NEAR(std::stod(probed.output) * source.SampleRate, samples, frame) << name << " by ffprobe";
                auto described = testsupport::Run("mediainfo --Inform='Audio;%Duration%' " + Quote(part));
                ASSERT_FALSE(described.output.empty() || described.output[0] == '\n') << name << " by mediainfo";
                EXPECT_NEAR(std::stod(described.output) / 1000 * source.SampleRate, samples, frame + source.SampleRate / 1000)
                    << name << " by mediainfo";
                TMPEGaudio analysis;
                ASSERT_TRUE(analysis.Analyze(part)) << name;
                EXPECT_NEAR(analysis.Duration() * source.SampleRate, samples, frame) << name << " by Corvella";
            }
            ASSERT_EQ(decoded.size(), static_cast<size_t>(source.Parts)) << source.Name;
            auto [shortest, longest] = std::minmax_element(decoded.begin(), decoded.end(),
                                                           [](const auto& a, const auto& b) { return a.size() < b.size(); });
            EXPECT_LE(longest->size() - shortest->size(), static_cast<size_t>(source.SamplesPerFrame * source.Channels))
                << source.Name << (gapless ? " (gapless)" : "") << ": equal parts within a frame";
            if (!gapless || source.LameOptions.empty())
                continue;
            // mpg123 decodes the reservoir and overlap frames of a 576-sample
            // part only when told to decode more than four frames ahead.
            for (const std::string& decoder : {std::string("ffmpeg"), std::string("mpg123 --preframes 8")}) {
                std::vector<int16_t> joined;
                for (const auto& part : parts) {
                    auto samples = decoder == "ffmpeg" ? decoded[&part - parts.data()] : DecodeWith(decoder, part);
                    joined.insert(joined.end(), samples.begin(), samples.end());
                }
                auto whole = DecodeWith(decoder, file);
                ASSERT_FALSE(whole.empty()) << source.Name;
                EXPECT_EQ(joined.size(), whole.size()) << source.Name << " by " << decoder;
                // Whole frames lose their reservoir at the joins.
                if (source.Name != "mpeg2-mono-16.mp3") {
                    EXPECT_TRUE(joined == whole) << source.Name << " by " << decoder;
                }
            }
        }
    }
}

TEST_F(DecodedPartsTest, SectionsLandAtTheAskedTime)
{
    // Less the cutter's 150 ms: the quiet-to-loud change lies inside the
    // first; the second starts in the stream's third frame, whose main data
    // may begin in the second.
    struct Range {
        const char* StartText;
        const char* EndText;
        int64_t StartMs;
        int64_t EndMs;
    };
    for (const EncodedFixture& fixture : EncodedFixtures()) {
        auto source = DecodeWith("ffmpeg", Fixture(fixture.Name));
        for (const Range& range : {Range{"00:01.300", "00:03.100", 1150, 2950}, Range{"00:00.190", "00:01.000", 40, 850}}) {
            const int64_t start = range.StartMs * fixture.SampleRate / 1000;
            const int64_t end = range.EndMs * fixture.SampleRate / 1000;
            for (bool gapless : {false, true}) {
                TempDir out;
                std::string name = fixture.Name + " from " + range.StartText + (gapless ? " (gapless)" : "");
                auto part = DecodeWith("ffmpeg", Section(fixture, range.StartText, range.EndText, gapless, out));
                ASSERT_FALSE(part.empty()) << name;
                int64_t length = static_cast<int64_t>(part.size()) / fixture.Channels;
                int64_t at = FindInSource(source, part, fixture.Channels, start, 3 * fixture.SamplesPerFrame);
                ASSERT_GE(at, 0) << name << ": the part is not in the source";
                if (gapless && fixture.Layer3) {
                    EXPECT_EQ(at, start) << name;
                    EXPECT_EQ(length, end - start) << name;
                    EXPECT_TRUE(std::equal(part.begin(), part.end(), source.begin() + start * fixture.Channels)) << name;
                } else {
                    // Layer II decoders play the header frame as a frame of silence.
                    at += fixture.Layer3 ? 0 : fixture.SamplesPerFrame;
                    length -= fixture.Layer3 ? 0 : fixture.SamplesPerFrame;
                    EXPECT_NEAR(at, start, fixture.SamplesPerFrame) << name;
                    EXPECT_NEAR(at + length, end, fixture.SamplesPerFrame) << name;
                }
            }
        }
    }
}

TEST(LameExtension, OurCrcIsTheOneLameWrites)
{
    REQUIRE_TOOL("lame");
    TempDir dir;
    for (const char* options : {"-b 128", "-V2", "-m m -b 48", "--resample 22.05 -b 64"}) {
        std::string file = dir.File("lame.mp3");
        MakeMp3(file, 1, 44100, 2, options);
        auto audio = AudioOf(ReadBytes(file));
        auto info = ReadHeaderFrame(audio.data(), audio.size());
        ASSERT_TRUE(info) << options;
        EXPECT_TRUE(info->HasLame) << options;
        EXPECT_EQ(info->Fields.Delay, 576) << options;
        auto header = FrameHeader::Parse(audio.data());
        ASSERT_TRUE(header);
        // The music CRC: lame's CRC-16 over every byte behind its header frame.
        EXPECT_EQ(info->Fields.MusicCrc, LameTagCrc(&audio[header->Length()], audio.size() - header->Length())) << options;
        // And a frame rendered from what was read carries lame's own CRC.
        std::vector<uint8_t> original(audio.begin(), audio.begin() + static_cast<std::ptrdiff_t>(header->Length()));
        EXPECT_TRUE(ReadPartHeaderFrame(original).CrcRight) << options;
        auto rendered = RenderHeaderFrame(*header, info->Fields);
        EXPECT_TRUE(ReadPartHeaderFrame(rendered).CrcRight) << options;
    }
}

TEST(LameExtension, WhatIsWrittenReadsBackWithAndWithoutTheToc)
{
    // 128 and 32 kbit/s at 48 kHz: a frame that holds the TOC and one that
    // does not; every bit of the delay and padding counts.
    for (uint8_t rate : {0x90, 0x10}) {
        const uint8_t bytes[4] = {0xFF, 0xFB, static_cast<uint8_t>(rate | 0x04), 0x44};
        auto header = FrameHeader::Parse(bytes);
        ASSERT_TRUE(header);
        HeaderFrameFields fields;
        fields.Frames = 1234;
        fields.Bytes = 56789;
        fields.Delay = 0x4D3;
        fields.Padding = 0x5A7;
        fields.MusicCrc = 0xBEEF;
        auto frame = RenderHeaderFrame(*header, fields);
        ASSERT_EQ(frame.size(), header->Length());
        auto read = ReadHeaderFrame(frame.data(), frame.size());
        ASSERT_TRUE(read && read->HasLame) << int(rate);
        EXPECT_EQ(read->HasToc, rate == 0x90);
        EXPECT_EQ(read->Fields.Frames, 1234u);
        EXPECT_EQ(read->Fields.Bytes, 56789u);
        EXPECT_EQ(read->Fields.Delay, 0x4D3);
        EXPECT_EQ(read->Fields.Padding, 0x5A7);
        EXPECT_EQ(read->Fields.MusicCrc, 0xBEEF);
        auto independent = ReadPartHeaderFrame(frame);
        EXPECT_TRUE(independent.CrcRight);
        EXPECT_EQ(independent.Delay, 0x4D3);
        EXPECT_EQ(independent.Padding, 0x5A7);
    }
}
