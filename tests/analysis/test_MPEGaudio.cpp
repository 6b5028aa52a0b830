// TMPEGaudio and the frame-header functions, on streams built byte by byte
// (frame headers with silent payloads) and on files made by lame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/MPEGaudio.h"
#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using bytebuild::Append;
using bytebuild::Bytes;
using bytebuild::Id3v2PaddingTag;
using bytebuild::MpegFrame;
using bytebuild::MpegFrames;
using bytebuild::MpegHeader;
using bytebuild::MpegHeaderBytes;
using bytebuild::PutText;
using bytebuild::SetBE;
using namespace bytebuild::mpeg;

// A first frame carrying a Xing header at the given offset from its header.
Bytes XingFrame(const MpegHeader& h, size_t offset, uint32_t frames, uint32_t bytes)
{
    Bytes frame = MpegFrame(h);
    bytebuild::SetXingHeader(frame, offset, frames, bytes);
    frame[offset + 119] = 57;
    return frame;
}

// A header frame followed by frames up to the byte count it gives, so that
// the file bears the header out.
Bytes CountedStream(const Bytes& headerFrame, const MpegHeader& h, uint32_t bytes)
{
    Bytes stream = headerFrame;
    const Bytes frame = MpegFrame(h);
    while (stream.size() < bytes)
        Append(stream, frame);
    stream.resize(bytes);
    return stream;
}

Bytes VbriFrame(const MpegHeader& h, size_t offset, uint32_t frames, uint32_t bytes)
{
    Bytes frame = MpegFrame(h);
    bytebuild::SetVbriHeader(frame, offset, frames, bytes);
    return frame;
}

Bytes Id3v1Tag(const std::string& title)
{
    return bytebuild::Id3v1Block({title, "", "", "", "", 0, 12});
}

// Bytes that hold no frame header anywhere.
Bytes Junk(size_t size)
{
    return Bytes(size, 0x55);
}

class MPEGaudioFile : public ::testing::Test {
protected:
    std::string Write(const Bytes& bytes)
    {
        const std::string path = dir.File("stream" + std::to_string(++count) + ".mp3");
        WriteBytes(path, bytes);
        return path;
    }

    TempDir dir;
    TMPEGaudio mpeg;
    int count = 0;
};

} // namespace

TEST(FrameHeader, AcceptsOnlyHeadersPassingAllSixRules)
{
    MpegHeader good;
    EXPECT_TRUE(IsFrameHeader(MpegHeaderBytes(good).data()));

    auto rejects = [](std::array<uint8_t, 4> bytes) { return !IsFrameHeader(bytes.data()); };
    auto sync = MpegHeaderBytes(good);
    sync[1] &= 0xDF;
    EXPECT_TRUE(rejects(sync)) << "11 sync bits";
    sync = MpegHeaderBytes(good);
    sync[0] = 0xFE;
    EXPECT_TRUE(rejects(sync));
    MpegHeader h = good;
    h.version = 1;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "reserved version";
    h = good;
    h.layer = 0;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "reserved layer";
    h = good;
    h.bitRateIndex = 15;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "bad bit rate";
    h.bitRateIndex = 0;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "free format";
    h = good;
    h.sampleRateIndex = 3;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "reserved sample rate";
    h = good;
    h.emphasis = 2;
    EXPECT_TRUE(rejects(MpegHeaderBytes(h))) << "reserved emphasis";

    // Nothing else matters: protection, private, mode extension, emphasis 1 and 3.
    auto other = MpegHeaderBytes(good);
    other[1] &= 0xFE;
    other[2] |= 0x01;
    other[3] |= 0x30 | 0x0C | 3;
    EXPECT_TRUE(IsFrameHeader(other.data()));
}

TEST(FrameHeader, DecodesEveryField)
{
    MpegHeader h{kMpeg2, kLayer2, 5, 1, true, kMono, 1};
    const MPEGFrame frame = DecodeFrameHeader(MpegHeaderBytes(h).data());
    EXPECT_FALSE(frame.Found);
    EXPECT_EQ(frame.VersionIndex, kMpeg2);
    EXPECT_EQ(frame.LayerIndex, kLayer2);
    EXPECT_EQ(frame.BitRateIndex, 5);
    EXPECT_EQ(frame.SampleRateIndex, 1);
    EXPECT_TRUE(frame.Padding);
    EXPECT_EQ(frame.ModeIndex, kMono);
    EXPECT_EQ(FrameSampleRate(frame), 24000u);
    EXPECT_EQ(FrameBitRate(frame), 40);
    EXPECT_EQ(frame.Size, 144 * 40000 / 24000 + 1);
}

TEST(FrameHeader, TablesForEveryVersionAndLayer)
{
    auto decode = [](MpegHeader h) { return DecodeFrameHeader(MpegHeaderBytes(h).data()); };
    EXPECT_EQ(FrameBitRate(decode({kMpeg1, kLayer1, 14})), 448);
    EXPECT_EQ(FrameBitRate(decode({kMpeg1, kLayer2, 14})), 384);
    EXPECT_EQ(FrameBitRate(decode({kMpeg1, kLayer3, 14})), 320);
    EXPECT_EQ(FrameBitRate(decode({kMpeg2, kLayer1, 14})), 256);
    EXPECT_EQ(FrameBitRate(decode({kMpeg2, kLayer2, 14})), 160);
    EXPECT_EQ(FrameBitRate(decode({kMpeg25, kLayer3, 1})), 8);
    EXPECT_EQ(FrameSampleRate(decode({kMpeg1, kLayer3, 9, 2})), 32000u);
    EXPECT_EQ(FrameSampleRate(decode({kMpeg25, kLayer3, 9, 0})), 11025u);
    EXPECT_EQ(FrameSampleRate(decode({kMpeg25, kLayer3, 9, 2})), 8000u);
    EXPECT_EQ(SamplesPerFrame(decode({kMpeg1, kLayer3})), 1152);
    EXPECT_EQ(SamplesPerFrame(decode({kMpeg2, kLayer3})), 576);
    EXPECT_EQ(SamplesPerFrame(decode({kMpeg25, kLayer2})), 1152);
    EXPECT_EQ(SamplesPerFrame(decode({kMpeg2, kLayer1})), 384);

    // A reset frame describes nothing.
    const MPEGFrame reset;
    EXPECT_EQ(FrameSampleRate(reset), 0u);
    EXPECT_EQ(FrameBitRate(reset), 0);
    EXPECT_EQ(FrameLength(reset), 0);
}

TEST(FrameHeader, LengthFormulasTruncateAndPad)
{
    auto length = [](MpegHeader h) { return FrameLength(DecodeFrameHeader(MpegHeaderBytes(h).data())); };
    // The worked example: Trunc(144 * 128000 / 44100) = Trunc(417.96).
    EXPECT_EQ(length({kMpeg1, kLayer3, 9, 0, false}), 417);
    EXPECT_EQ(length({kMpeg1, kLayer3, 9, 0, true}), 418);
    // MPEG 2 Layer III uses the coefficient 72: 72 * 64000 / 24000 = 192.
    EXPECT_EQ(length({kMpeg2, kLayer3, 8, 1, false}), 192);
    // MPEG 2.5 at 8 kbit/s and 8000 Hz: 72 bytes, the smallest frame.
    EXPECT_EQ(length({kMpeg25, kLayer3, 1, 2, false}), 72);
    // Layer I counts whole 4-byte slots; its padding is one slot.
    EXPECT_EQ(length({kMpeg1, kLayer1, 14, 0, false}), 4 * 121);  // Trunc(12 * 448000 / 44100) = 121
    EXPECT_EQ(length({kMpeg1, kLayer1, 14, 0, true}), 4 * 122);
    // The largest MPEG 1 frame: Layer II, 384 kbit/s at 32000 Hz with padding.
    EXPECT_EQ(length({kMpeg1, kLayer2, 14, 2, true}), 1729);
}

TEST(FrameHeader, VbrOrInfoHeaderForTheCutter)
{
    MpegHeader stereo;
    Bytes frame = MpegFrame(stereo);
    const MPEGFrame decoded = DecodeFrameHeader(frame.data());
    EXPECT_FALSE(FrameHasVbrOrInfoHeader(frame.data(), frame.size(), decoded));
    for (const char* id : {"Xing", "Info", "VBRI"}) {
        Bytes marked = frame;
        PutText(marked, 36, id);
        EXPECT_TRUE(FrameHasVbrOrInfoHeader(marked.data(), marked.size(), decoded)) << id;
    }
    // An MPEG 2 stereo frame: Xing and Info at 21, and VBRI at 36 where encoders put it.
    MpegHeader mpeg2{kMpeg2, kLayer3, 8, 1};
    Bytes frame2 = MpegFrame(mpeg2);
    const MPEGFrame decoded2 = DecodeFrameHeader(frame2.data());
    Bytes info = frame2;
    PutText(info, 21, "Info");
    EXPECT_TRUE(FrameHasVbrOrInfoHeader(info.data(), info.size(), decoded2));
    Bytes vbri = frame2;
    PutText(vbri, 36, "VBRI");
    EXPECT_TRUE(FrameHasVbrOrInfoHeader(vbri.data(), vbri.size(), decoded2));
    EXPECT_FALSE(ReadVbrHeader(vbri.data(), vbri.size(), decoded2).Found);
    // Too few bytes to hold the identifier.
    EXPECT_FALSE(FrameHasVbrOrInfoHeader(info.data(), 24, decoded2));
}

TEST_F(MPEGaudioFile, ResetValuesDescribeNothing)
{
    EXPECT_EQ(mpeg.SampleRate(), 0);
    EXPECT_EQ(mpeg.BitRate(), 0);
    EXPECT_EQ(mpeg.ChannelMode(), "Unknown");
    EXPECT_EQ(mpeg.Duration(), 0);
    EXPECT_FALSE(mpeg.Valid());
    EXPECT_EQ(mpeg.Frame().VersionIndex, 1);
    EXPECT_EQ(mpeg.Frame().SampleRateIndex, 3);
    EXPECT_EQ(mpeg.Frame().ModeIndex, 4);
}

TEST_F(MPEGaudioFile, XingWorkedExample)
{
    MpegHeader h;
    Bytes stream = CountedStream(XingFrame(h, 36, 10000, 4180000), h, 4180000);
    ASSERT_TRUE(mpeg.Analyze(Write(stream)));
    ASSERT_TRUE(mpeg.Frame().Found);
    EXPECT_EQ(mpeg.Frame().Position, 0);
    EXPECT_EQ(mpeg.Frame().Size, 417);
    EXPECT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.VBR().ID, "Xing");
    EXPECT_EQ(mpeg.VBR().Frames, 10000);
    EXPECT_EQ(mpeg.VBR().Bytes, 4180000);
    EXPECT_EQ(mpeg.VBR().Scale, 57);
    EXPECT_EQ(mpeg.VBR().VendorID, "LAME3.99");
    EXPECT_EQ(mpeg.BitRate(), 128);  // Round(128.0125)
    EXPECT_NEAR(mpeg.Duration(), 261.2245, 0.0001);
    EXPECT_EQ(mpeg.SampleRate(), 44100);
    EXPECT_EQ(mpeg.ChannelMode(), "Joint Stereo");
    EXPECT_TRUE(mpeg.Valid());
    // No tail block is read when a VBR header was found.
    EXPECT_EQ(mpeg.EncoderText(), "");
}

TEST_F(MPEGaudioFile, CbrWorkedExampleWithBothTags)
{
    MpegHeader h;
    Bytes file = Id3v2PaddingTag(1000);
    Append(file, MpegFrames(h, 30));
    file.resize(5000000 - 128, 0);
    Append(file, Id3v1Tag("Example"));
    ASSERT_EQ(file.size(), 5000000u);
    ASSERT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_EQ(mpeg.FileLength(), 5000000);
    EXPECT_EQ(mpeg.ID3v2().Size(), 1000);
    EXPECT_TRUE(mpeg.ID3v1().Exists());
    EXPECT_EQ(mpeg.ID3v1().Title(), "Example");
    EXPECT_EQ(mpeg.Frame().Position, 0);
    EXPECT_FALSE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.BitRate(), 128);
    EXPECT_NEAR(mpeg.Duration(), 312.4295, 0.0001);
    EXPECT_TRUE(mpeg.Valid());
}

TEST_F(MPEGaudioFile, BitRateRoundsHalvesToEven)
{
    // MPEG 1 Layer III at 48000 Hz: BitRate = average frame / 3.
    MpegHeader h{kMpeg1, kLayer3, 9, 1};
    auto bitRateFor = [&](uint32_t frames, uint32_t bytes) {
        Bytes stream = XingFrame(h, 36, frames, bytes);
        Append(stream, MpegFrames(h, 10));
        EXPECT_TRUE(mpeg.Analyze(Write(stream)));
        return mpeg.BitRate();
    };
    EXPECT_EQ(bitRateFor(2, 771), 128);  // 128.5
    EXPECT_EQ(bitRateFor(2, 777), 130);  // 129.5
    EXPECT_EQ(bitRateFor(2, 779), 130);  // 129.83

    // The first frame's padding byte comes off the average frame.
    MpegHeader padded = h;
    padded.padding = true;
    Bytes stream = XingFrame(padded, 36, 2, 773);  // (386.5 - 1) / 3 = 128.5, not 128.83
    Append(stream, MpegFrames(h, 10));
    ASSERT_TRUE(mpeg.Analyze(Write(stream)));
    EXPECT_EQ(mpeg.BitRate(), 128);
}

TEST_F(MPEGaudioFile, XingAtTheSideInformationOffsets)
{
    struct Case {
        MpegHeader header;
        size_t offset;
        size_t wrongOffset;
    };
    const Case cases[] = {
        {{kMpeg1, kLayer3, 9, 0, false, kStereo}, 36, 21},
        {{kMpeg1, kLayer3, 9, 0, false, kMono}, 21, 36},
        {{kMpeg2, kLayer3, 8, 0, false, kJoint}, 21, 13},
        {{kMpeg2, kLayer3, 8, 0, false, kMono}, 13, 21},
        {{kMpeg25, kLayer3, 8, 0, false, kStereo}, 21, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << int(c.header.version) << " mode " << int(c.header.mode));
        Bytes stream = CountedStream(XingFrame(c.header, c.offset, 1000, 200000), c.header, 200000);
        ASSERT_TRUE(mpeg.Analyze(Write(stream)));
        EXPECT_TRUE(mpeg.VBR().Found);
        const double samples = c.header.version == kMpeg1 ? 1152 : 576;
        EXPECT_DOUBLE_EQ(mpeg.Duration(), 1000 * samples / mpeg.SampleRate());

        Bytes misplaced = XingFrame(c.header, c.wrongOffset, 1000, 200000);
        Append(misplaced, MpegFrames(c.header, 30));
        mpeg.Analyze(Write(misplaced));
        EXPECT_TRUE(mpeg.Frame().Found);
        EXPECT_FALSE(mpeg.VBR().Found);
    }
}

TEST_F(MPEGaudioFile, VbriOnlyAtTheLookUpOffset)
{
    MpegHeader mpeg1{kMpeg1, kLayer3, 9, 0, false, kStereo};
    Bytes stream = CountedStream(VbriFrame(mpeg1, 36, 5000, 2000000), mpeg1, 2000000);
    ASSERT_TRUE(mpeg.Analyze(Write(stream)));
    EXPECT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.VBR().ID, "VBRI");
    EXPECT_EQ(mpeg.VBR().Frames, 5000);
    EXPECT_EQ(mpeg.VBR().Bytes, 2000000);
    EXPECT_EQ(mpeg.VBR().Scale, 75);
    EXPECT_EQ(mpeg.VBR().VendorID, "");
    EXPECT_NEAR(mpeg.Duration(), 5000 * 1152 / 44100.0, 1e-9);

    // MPEG 2 stereo looks at 21, so a VBRI header at 36 gives no VBR information.
    MpegHeader mpeg2{kMpeg2, kLayer3, 8, 0, false, kStereo};
    Bytes stream2 = CountedStream(VbriFrame(mpeg2, 36, 5000, 2000000), mpeg2, 2000000);
    ASSERT_TRUE(mpeg.Analyze(Write(stream2)));
    EXPECT_TRUE(mpeg.Frame().Found);
    EXPECT_FALSE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.BitRate(), 64);
}

// Files joined end to end, each with a large tag in front: all their frames
// are counted, and the tags between them are no part of the bit rate.
TEST_F(MPEGaudioFile, JoinedPiecesWithTagsBetweenThem)
{
    MpegHeader h;
    constexpr uint32_t kFrames = 100;
    const Bytes piece = CountedStream(XingFrame(h, 36, kFrames, (kFrames + 1) * 417), h, (kFrames + 1) * 417);
    Bytes file = piece;
    Append(file, Id3v2PaddingTag(200000));
    Append(file, piece);
    ASSERT_TRUE(mpeg.Analyze(Write(file)));
    // The second piece's header frame is played as a frame.
    EXPECT_DOUBLE_EQ(mpeg.Duration(), (2 * kFrames + 1) * 1152 / 44100.0);
    EXPECT_EQ(mpeg.BitRate(), 128);
    EXPECT_TRUE(mpeg.Valid());
}

// A VBRI header of a file cut short claims more than the frames behind it
// hold; the length is theirs, whether or not the look-up takes the header
// (MPEG 2 looks at 21, the encoder put it at 36).
TEST_F(MPEGaudioFile, TruncatedVbriFileIsMeasuredFromItsFrames)
{
    for (const MpegHeader& header : {MpegHeader{kMpeg1, kLayer3, 14, 0, false, kStereo},
                                     MpegHeader{kMpeg2, kLayer3, 14, 0, false, kStereo}}) {
        SCOPED_TRACE(int(header.version));
        MpegHeader audio = header;
        audio.bitRateIndex = 2;
        Bytes stream = VbriFrame(header, 36, 5000, 2000000);
        Append(stream, MpegFrames(audio, 100));
        ASSERT_TRUE(mpeg.Analyze(Write(stream)));
        EXPECT_DOUBLE_EQ(mpeg.Duration(), 100.0 * SamplesPerFrame(mpeg.Frame()) / mpeg.SampleRate());
    }
}

TEST_F(MPEGaudioFile, InfoHeaderCountsAsNoneAndTheTailScanFindsTheEncoder)
{
    MpegHeader h;
    Bytes stream = MpegFrame(h);
    PutText(stream, 36, "Info");
    SetBE(stream, 44, 10, 4);  // a frame count that must not be used
    Append(stream, MpegFrames(h, 40));
    Bytes withLame = stream;
    // Within 5 frame lengths of the end: "LAME" and the 4 characters behind it.
    PutText(withLame, withLame.size() - 1000, "LAME3.99r");
    ASSERT_TRUE(mpeg.Analyze(Write(withLame)));
    EXPECT_FALSE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.EncoderText(), "LAME3.99");
    EXPECT_NEAR(mpeg.Duration(), withLame.size() / 128.0 / 1000 * 8, 1e-9);

    // The scan starts from the end: the last occurrence wins.
    Bytes twice = withLame;
    PutText(twice, twice.size() - 20, "GOGO");
    ASSERT_TRUE(mpeg.Analyze(Write(twice)));
    EXPECT_EQ(mpeg.EncoderText(), "GOGO");

    // Further back than 5 frames (5 * 417 bytes) it is not looked for.
    Bytes farBack = stream;
    PutText(farBack, farBack.size() - 8 - 5 * 417 - 1, "LAME3.99");
    ASSERT_TRUE(mpeg.Analyze(Write(farBack)));
    EXPECT_EQ(mpeg.EncoderText(), "");
    Bytes justInside = stream;
    PutText(justInside, justInside.size() - 8 - 5 * 417, "LAME3.98");
    ASSERT_TRUE(mpeg.Analyze(Write(justInside)));
    EXPECT_EQ(mpeg.EncoderText(), "LAME3.98");
}

TEST_F(MPEGaudioFile, Id3v1TagIsLeftOutOfDurationAndTailScan)
{
    MpegHeader h;
    Bytes stream = MpegFrames(h, 40);
    PutText(stream, stream.size() - 100, "LAME3.97");
    const size_t audio = stream.size();
    Bytes tagged = stream;
    Bytes tag = Id3v1Tag("LAME3.00 in the tag");
    Append(tagged, tag);
    ASSERT_TRUE(mpeg.Analyze(Write(tagged)));
    EXPECT_TRUE(mpeg.ID3v1().Exists());
    EXPECT_EQ(mpeg.EncoderText(), "LAME3.97");
    EXPECT_NEAR(mpeg.Duration(), audio / 128.0 / 1000 * 8, 1e-9);
}

TEST_F(MPEGaudioFile, FrameFoundBehindJunkInTheFirstBlock)
{
    MpegHeader h;
    Bytes file = Id3v2PaddingTag(300);
    Append(file, Junk(1729));
    Append(file, MpegFrames(h, 20));
    ASSERT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_TRUE(mpeg.Frame().Found);
    EXPECT_EQ(mpeg.Frame().Position, 1729);
    EXPECT_NEAR(mpeg.Duration(), (file.size() - 300 - 1729) / 128.0 / 1000 * 8, 1e-9);
}

TEST_F(MPEGaudioFile, StreamBeyondTheFirstBlockIsFoundInTheMiddle)
{
    MpegHeader h;
    Bytes file = Id3v2PaddingTag(200);
    Append(file, Junk(1730));  // the last search position is 1729
    Append(file, MpegFrames(h, 60));
    ASSERT_TRUE(mpeg.Analyze(Write(file)));
    ASSERT_TRUE(mpeg.Frame().Found);
    // The second block starts at (FileLength - ID3v2.Size) div 2, absolute.
    const int64_t middle = (int64_t(file.size()) - 200) / 2;
    const int64_t firstFrameAfterMiddle = 200 + 1730 + ((middle - 200 - 1730 + 416) / 417) * 417;
    EXPECT_EQ(mpeg.Frame().Position, firstFrameAfterMiddle - middle);
    EXPECT_TRUE(mpeg.Valid());
}

TEST_F(MPEGaudioFile, NoSecondLookWhenTheFirstReadWasShort)
{
    MpegHeader h;
    Bytes file = Junk(1800);
    Append(file, MpegFrames(h, 3));  // 3051 bytes: fewer than a block
    EXPECT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_FALSE(mpeg.Frame().Found);
}

TEST_F(MPEGaudioFile, LoneFalseSyncIsSkipped)
{
    MpegHeader h;
    Bytes file = Junk(600);
    const auto fake = MpegHeaderBytes(h);
    std::memcpy(file.data() + 10, fake.data(), 4);  // followed by junk at +417
    Append(file, MpegFrames(h, 20));
    ASSERT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_EQ(mpeg.Frame().Position, 600);

    // The second header only has to pass the test; it need not match the first.
    Bytes mixed = Junk(100);
    Append(mixed, MpegFrame(h));
    Append(mixed, MpegFrames(MpegHeader{kMpeg2, kLayer2, 3, 1, false, kMono}, 40));
    ASSERT_TRUE(mpeg.Analyze(Write(mixed)));
    EXPECT_EQ(mpeg.Frame().Position, 100);
    EXPECT_EQ(mpeg.Frame().VersionIndex, kMpeg1);
}

TEST_F(MPEGaudioFile, SecondHeaderMustLieInsideTheBytesRead)
{
    MpegHeader h;
    Bytes file = Junk(50);
    Append(file, MpegFrame(h));
    const auto next = MpegHeaderBytes(h);
    file.insert(file.end(), next.begin(), next.begin() + 3);  // a cut-off second header
    EXPECT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_FALSE(mpeg.Frame().Found);
}

TEST_F(MPEGaudioFile, FreeFormatIsNeverAccepted)
{
    MpegHeader freeFormat;
    freeFormat.bitRateIndex = 0;
    Bytes file;
    for (int k = 0; k < 40; ++k) {
        auto header = MpegHeaderBytes(freeFormat);
        file.insert(file.end(), header.begin(), header.end());
        file.resize(file.size() + 413, 0);
    }
    Append(file, Id3v1Tag("Free"));
    EXPECT_TRUE(mpeg.Analyze(Write(file)));
    EXPECT_FALSE(mpeg.Frame().Found);
    EXPECT_FALSE(mpeg.Valid());
    // With no frame everything is reset, the tags included.
    EXPECT_FALSE(mpeg.ID3v1().Exists());
    EXPECT_EQ(mpeg.FileLength(), 0);
    EXPECT_EQ(mpeg.ChannelMode(), "Unknown");
}

TEST_F(MPEGaudioFile, ShortCbrFileKeepsTheFrameButReportsFailure)
{
    // 32 kbit/s: 104-byte frames, 28 of them (2912 bytes, 0.73 s).
    MpegHeader h{kMpeg1, kLayer3, 1, 0};
    const Bytes file = MpegFrames(h, 28);
    ASSERT_LT(file.size(), 3458u);
    EXPECT_FALSE(mpeg.Analyze(Write(file)));
    EXPECT_TRUE(mpeg.Frame().Found);
    EXPECT_EQ(mpeg.BitRate(), 32);
    EXPECT_TRUE(mpeg.Valid());

    // With an ID3v1 tag the tail block needs 3586 bytes: 3400 + 128 is not enough.
    Bytes tagged = MpegFrames(h, 34);
    tagged.resize(3400, 0);
    Append(tagged, Id3v1Tag("x"));
    EXPECT_FALSE(mpeg.Analyze(Write(tagged)));
    EXPECT_TRUE(mpeg.Frame().Found);

    Bytes longEnough = MpegFrames(h, 34);
    longEnough.resize(3458, 0);
    Append(longEnough, Id3v1Tag("x"));
    EXPECT_TRUE(mpeg.Analyze(Write(longEnough)));
}

TEST_F(MPEGaudioFile, ValidBounds)
{
    MpegHeader h;
    auto analyseXing = [&](uint32_t frames, uint32_t bytes) {
        mpeg.Analyze(Write(CountedStream(XingFrame(h, 36, frames, bytes), h, bytes)));
    };
    analyseXing(1000, 1000 * 1464);  // Round(1464 * 44100 / 144000) = 448
    EXPECT_EQ(mpeg.BitRate(), 448);
    EXPECT_TRUE(mpeg.Valid());
    analyseXing(1000, 1000 * 1468);  // 449.6
    EXPECT_EQ(mpeg.BitRate(), 450);
    EXPECT_FALSE(mpeg.Valid());
    analyseXing(1000, 1000 * 27);  // 8.27
    EXPECT_EQ(mpeg.BitRate(), 8);
    EXPECT_TRUE(mpeg.Valid());
    analyseXing(1000, 1000 * 24);  // 7.35
    EXPECT_FALSE(mpeg.Valid());
    analyseXing(3, 3 * 417);       // 0.078 s
    EXPECT_LT(mpeg.Duration(), 0.1);
    EXPECT_FALSE(mpeg.Valid());
    analyseXing(4, 4 * 417);       // 0.104 s
    EXPECT_TRUE(mpeg.Valid());
    // A byte count far beyond 16 bits of kbit/s is held at the bound, never wrapped
    // back into the plausible range.
    analyseXing(1, 300000);
    EXPECT_EQ(mpeg.BitRate(), 65535);
    EXPECT_FALSE(mpeg.Valid());
}

TEST_F(MPEGaudioFile, TagReadFailureResetsEverything)
{
    EXPECT_FALSE(mpeg.Analyze(dir.File("missing.mp3")));
    EXPECT_FALSE(mpeg.Frame().Found);

    // Shorter than the 128 bytes of an ID3v1 tag.
    MpegHeader h{kMpeg25, kLayer3, 1, 2};
    Bytes tiny = MpegFrames(h, 1);
    EXPECT_FALSE(mpeg.Analyze(Write(tiny)));
    EXPECT_FALSE(mpeg.Frame().Found);
    EXPECT_EQ(mpeg.FileLength(), 0);
}

TEST_F(MPEGaudioFile, EachAnalysisStartsFromReset)
{
    MpegHeader h;
    Bytes vbr = XingFrame(h, 36, 10000, 4180000);
    Append(vbr, MpegFrames(h, 20));
    Append(vbr, Id3v1Tag("First"));
    ASSERT_TRUE(mpeg.Analyze(Write(vbr)));
    EXPECT_TRUE(mpeg.VBR().Found);

    Bytes cbr = MpegFrames(h, 20);
    PutText(cbr, cbr.size() - 50, "GOGO");
    ASSERT_TRUE(mpeg.Analyze(Write(cbr)));
    EXPECT_FALSE(mpeg.VBR().Found);
    EXPECT_FALSE(mpeg.ID3v1().Exists());
    EXPECT_EQ(mpeg.EncoderText(), "GOGO");

    EXPECT_TRUE(mpeg.Analyze(Write(Junk(5000))));
    EXPECT_EQ(mpeg.EncoderText(), "");
    EXPECT_FALSE(mpeg.Frame().Found);
}

TEST_F(MPEGaudioFile, LameCbrFile)
{
    REQUIRE_TOOL("lame");
    const std::string path = dir.File("cbr.mp3");
    testsupport::MakeMp3(path, 5.0, 44100, 2, "-b 128");
    ASSERT_TRUE(mpeg.Analyze(path));
    EXPECT_TRUE(mpeg.Valid());
    EXPECT_FALSE(mpeg.VBR().Found) << "lame's Info header counts as none";
    EXPECT_EQ(mpeg.BitRate(), 128);
    EXPECT_EQ(mpeg.SampleRate(), 44100);
    EXPECT_EQ(mpeg.Frame().VersionIndex, kMpeg1);
    EXPECT_EQ(mpeg.Frame().LayerIndex, kLayer3);
    EXPECT_EQ(mpeg.EncoderText().rfind("LAME", 0), 0u) << mpeg.EncoderText();
    EXPECT_NEAR(mpeg.Duration(), 5.0, 0.1);
}

TEST_F(MPEGaudioFile, LameVbrFile)
{
    REQUIRE_TOOL("lame");
    const std::string path = dir.File("vbr.mp3");
    testsupport::MakeMp3(path, 6.0, 22050, 1, "-V 4");
    ASSERT_TRUE(mpeg.Analyze(path));
    EXPECT_TRUE(mpeg.Valid());
    ASSERT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.VBR().ID, "Xing");
    EXPECT_EQ(mpeg.VBR().VendorID.rfind("LAME", 0), 0u);
    EXPECT_EQ(mpeg.Frame().VersionIndex, kMpeg2);
    EXPECT_EQ(mpeg.ChannelMode(), "Mono");
    EXPECT_EQ(mpeg.SampleRate(), 22050);
    // lame counts the frames it wrote, its own header frame excluded.
    EXPECT_NEAR(mpeg.Duration(), 6.0, 2 * 576 / 22050.0 + 0.06);
    EXPECT_EQ(mpeg.EncoderText(), "");
}
