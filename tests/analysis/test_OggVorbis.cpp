// TOggVorbis on Ogg files assembled page by page in the test, and on files
// made by oggenc.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/Errors.h"
#include "analysis/ID3v2.h"
#include "analysis/OggVorbis.h"
#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using Bytes = std::vector<uint8_t>;

void PutLE32(Bytes& out, uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        out.push_back(uint8_t(value >> (8 * k)));
}

void PutText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

Bytes Page(const Bytes& packet, int64_t granule, uint8_t headerType = 0)
{
    return bytebuild::OggPage(packet, uint64_t(granule), headerType, 0x1234);
}

Bytes IdentificationPacket(uint8_t channels, uint32_t sampleRate, int32_t nominal)
{
    Bytes packet{0x01};
    PutText(packet, "vorbis");
    PutLE32(packet, 0);
    packet.push_back(channels);
    PutLE32(packet, sampleRate);
    PutLE32(packet, 0);
    PutLE32(packet, uint32_t(nominal));
    PutLE32(packet, 0);
    packet.push_back(0xB8);
    packet.push_back(1);
    return packet;
}

Bytes CommentPacket(const std::string& vendor, const std::vector<std::string>& items, uint32_t count)
{
    Bytes packet{0x03};
    PutText(packet, "vorbis");
    PutLE32(packet, uint32_t(vendor.size()));
    PutText(packet, vendor);
    PutLE32(packet, count);
    for (const std::string& item : items) {
        PutLE32(packet, uint32_t(item.size()));
        PutText(packet, item);
    }
    packet.push_back(1);
    return packet;
}

struct OggLayout {
    uint8_t channels = 2;
    uint32_t sampleRate = 44100;
    int32_t nominal = 128000;
    std::string vendor = "Xiph.Org libVorbis I 20200704 (Reference libVorbis)";
    std::vector<std::string> comments;
    int64_t samples = 441000;
    size_t audioBytes = 20000;   // payload of the audio pages, "OggS" nowhere inside
    bool lastPage = true;
};

Bytes OggFile(const OggLayout& layout)
{
    Bytes file = Page(IdentificationPacket(layout.channels, layout.sampleRate, layout.nominal), 0, 2);
    const Bytes comments = Page(CommentPacket(layout.vendor, layout.comments, uint32_t(layout.comments.size())), 0);
    file.insert(file.end(), comments.begin(), comments.end());
    file.resize(file.size() + layout.audioBytes, 0x41);
    if (layout.lastPage) {
        const Bytes last = Page(Bytes(100, 0x42), layout.samples, 4);
        file.insert(file.end(), last.begin(), last.end());
    }
    return file;
}

Bytes Id3v2Prefix(size_t bodySize, bool footer)
{
    Bytes tag = bytebuild::Id3v2Tag(4, footer ? 0x10 : 0, {}, bodySize);
    tag.resize(tag.size() + (footer ? 10 : 0), 0);  // the footer's place
    return tag;
}

class OggVorbisFile : public ::testing::Test {
protected:
    std::string Write(const Bytes& bytes)
    {
        const std::string path = dir.File("stream" + std::to_string(++count) + ".ogg");
        WriteBytes(path, bytes);
        return path;
    }

    TempDir dir;
    TOggVorbis ogg;
    int count = 0;
};

} // namespace

TEST_F(OggVorbisFile, StreamParametersAndComments)
{
    OggLayout layout;
    layout.comments = {"TITLE=Song", "ARTIST=Band", "ALBUM=Record", "TRACKNUMBER=7", "DATE=2004",
                     "GENRE=Rock", "COMMENT=Fine", "OTHER=ignored"};
    const Bytes file = OggFile(layout);
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.FileSize(), int64_t(file.size()));
    EXPECT_EQ(ogg.Channels(), 2);
    EXPECT_EQ(ogg.SampleRate(), 44100u);
    EXPECT_EQ(ogg.BitRateNominal(), 128);
    EXPECT_EQ(ogg.Samples(), 441000);
    EXPECT_EQ(ogg.ID3v2Size(), 0);
    EXPECT_EQ(ogg.Vendor(), layout.vendor);
    EXPECT_EQ(ogg.Title(), "Song");
    EXPECT_EQ(ogg.Artist(), "Band");
    EXPECT_EQ(ogg.Album(), "Record");
    EXPECT_EQ(ogg.Track(), 7);
    EXPECT_EQ(ogg.Date(), "2004");
    EXPECT_EQ(ogg.Genre(), "Rock");
    EXPECT_EQ(ogg.Comment(), "Fine");
    EXPECT_DOUBLE_EQ(ogg.Duration(), 10.0);
    // The average over the whole file, headers included: Round(bytes / 10 s / 125).
    EXPECT_EQ(ogg.BitRate(), uint16_t(std::nearbyint(file.size() / 10.0 / 125)));
    EXPECT_TRUE(ogg.Valid());
}

TEST_F(OggVorbisFile, NominalBitRateRoundsHalvesToEven)
{
    OggLayout layout;
    for (auto [nominal, expected] : {std::pair{127500, 128}, {128500, 128}, {129500, 130}, {499, 0},
                                     {-1, 0}}) {
        layout.nominal = nominal;
        ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
        EXPECT_EQ(ogg.BitRateNominal(), expected) << nominal;
    }
}

TEST_F(OggVorbisFile, ReadFromBehindALeadingId3v2Tag)
{
    OggLayout layout;
    layout.comments = {"TITLE=Behind the tag"};
    for (bool footer : {false, true}) {
        Bytes file = Id3v2Prefix(300, footer);
        const Bytes ogg1 = OggFile(layout);
        file.insert(file.end(), ogg1.begin(), ogg1.end());
        ASSERT_TRUE(ogg.Analyze(Write(file))) << footer;
        EXPECT_EQ(ogg.ID3v2Size(), footer ? 320 : 310);
        EXPECT_EQ(ogg.Title(), "Behind the tag");
        EXPECT_EQ(ogg.BitRate(), uint16_t(std::nearbyint((file.size() - ogg.ID3v2Size()) / 10.0 / 125)));
    }
    // A tag size beyond the end of the file counts as no tag, so no page is found.
    Bytes huge{'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    const Bytes ogg2 = OggFile(layout);
    huge.insert(huge.end(), ogg2.begin(), ogg2.end());
    EXPECT_FALSE(ogg.Analyze(Write(huge)));
    EXPECT_EQ(ogg.ID3v2Size(), 0);
}

// Size bytes with bit 7 set: 00 00 01 80 is 1 x 128 + 128, 266 with the
// header, for the Ogg reader and the tag reader alike.
TEST_F(OggVorbisFile, TagSizeBytesAreSummedAsBothTagReadersDo)
{
    OggLayout layout;
    layout.comments = {"TITLE=After 266 bytes"};
    Bytes file{'I', 'D', '3', 3, 0, 0, 0x00, 0x00, 0x01, 0x80};
    file.resize(266, 0);
    const Bytes stream = OggFile(layout);
    file.insert(file.end(), stream.begin(), stream.end());
    const std::string path = Write(file);
    ASSERT_TRUE(ogg.Analyze(path));
    EXPECT_EQ(ogg.ID3v2Size(), 266);
    EXPECT_EQ(ogg.Title(), "After 266 bytes");
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadTag(path));
    EXPECT_EQ(tag.Size(), 266);
}

TEST_F(OggVorbisFile, PerformerAndDescriptionStandIn)
{
    OggLayout layout;
    layout.comments = {"PERFORMER=Soloist", "DESCRIPTION=Long notes"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Artist(), "Soloist");
    EXPECT_EQ(ogg.Comment(), "Long notes");

    layout.comments = {"PERFORMER=Soloist", "ARTIST=Band", "DESCRIPTION=Long notes", "COMMENT=Short"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Artist(), "Band");
    EXPECT_EQ(ogg.Comment(), "Short");

    // An ARTIST that trims to nothing counts as empty.
    layout.comments = {"ARTIST=  ", "PERFORMER=Soloist"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Artist(), "Soloist");
}

TEST_F(OggVorbisFile, TrackNumberForms)
{
    OggLayout layout;
    for (auto [text, expected] : {std::pair{"5", 5}, {"5/12", 5}, {"A", 0}, {"/12", 0}, {"12a", 0},
                                  {"70000", 0}, {"-3", 0}}) {
        layout.comments = {std::string("TRACKNUMBER=") + text};
        ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
        EXPECT_EQ(ogg.Track(), expected) << text;
    }
}

TEST_F(OggVorbisFile, NamesMatchWhateverTheirCaseAndLaterItemsWin)
{
    OggLayout layout;
    layout.comments = {"title=first", "Album=Mixed Case", "TiTlE=second", "=no name", "Genre==Equals"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Title(), "second");
    EXPECT_EQ(ogg.Album(), "Mixed Case");
    EXPECT_EQ(ogg.Genre(), "=Equals");
}

TEST_F(OggVorbisFile, ValuesAreTrimmedAndDecodedFromUtf8)
{
    OggLayout layout;
    layout.comments = {"TITLE= \tCaf\xC3\xA9 \xE2\x82\xAC  ", "ARTIST=Bj\xC3\xB6rk\xC3(cut)"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Title(), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(ogg.Artist(), "Bj\xC3\xB6rk");  // decoding stops at the bad continuation byte
}

TEST(VorbisCommentText, DecodingRule)
{
    EXPECT_EQ(DecodeVorbisCommentText("plain"), "plain");
    EXPECT_EQ(DecodeVorbisCommentText("\xC3\xA9\xE2\x82\xAC"), "\xC3\xA9\xE2\x82\xAC");
    // A sequence cut off by the end of the text ends the value.
    EXPECT_EQ(DecodeVorbisCommentText("ab\xE2\x82"), "ab");
    EXPECT_EQ(DecodeVorbisCommentText("ab\xC3"), "ab");
    // Continuation bytes out of range end it too.
    EXPECT_EQ(DecodeVorbisCommentText("x\xC3\x41y"), "x");
    // Any lead with bit 5 set starts three bytes; the character keeps 16 bits.
    // F0 9F 8E -> (0x10 << 12 | 0x1F << 6 | 0x0E) & 0xFFFF = U+07CE, then B5 starts
    // a sequence that the end of the text cuts off.
    EXPECT_EQ(DecodeVorbisCommentText("\xF0\x9F\x8E\xB5"), "\xDF\x8E");
    // Surrogate values are no characters.
    EXPECT_EQ(DecodeVorbisCommentText("\xED\xA0\x80z"), "\xEF\xBF\xBDz");
}

TEST_F(OggVorbisFile, ValuesLongerThan250BytesKeepTheirStart)
{
    OggLayout layout;
    const std::string longTitle = "TITLE=" + std::string(300, 'x');
    // "COMMENT=" (8 bytes) + 241 'y' leaves one byte: the first of a two-byte sequence.
    const std::string cutComment = "COMMENT=" + std::string(241, 'y') + "\xC3\xA9" + "tail";
    layout.comments = {longTitle, cutComment, "ALBUM=After the long ones"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Title(), std::string(244, 'x'));
    EXPECT_EQ(ogg.Comment(), std::string(241, 'y'));
    EXPECT_EQ(ogg.Album(), "After the long ones");
}

TEST_F(OggVorbisFile, ItemsBeyondTheCountAreNotRead)
{
    Bytes file = Page(IdentificationPacket(2, 44100, 128000), 0, 2);
    const Bytes page = Page(CommentPacket("vendor", {"TITLE=counted", "TITLE=beyond the count"}, 1), 0);
    file.insert(file.end(), page.begin(), page.end());
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.Title(), "counted");
}

TEST_F(OggVorbisFile, AnItemWithoutEqualsIsTheVendorOnlyWhenThereIsNone)
{
    OggLayout layout;
    layout.vendor = "Encoder 1.0";
    layout.comments = {"no equals sign", "TITLE=t"};
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Vendor(), "Encoder 1.0");
    layout.vendor = "";
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Vendor(), "no equals sign");
    EXPECT_EQ(ogg.Title(), "t");
}

TEST_F(OggVorbisFile, CommentCountBeyondTheFileEndsAtTheEnd)
{
    OggLayout layout;
    layout.lastPage = false;
    layout.audioBytes = 0;
    Bytes file = Page(IdentificationPacket(2, 44100, 128000), 0, 2);
    Bytes comments = CommentPacket("vendor", {"TITLE=Only one"}, 0xFFFFFFFF);
    comments.pop_back();  // no framing bit: the file ends after the item
    const Bytes page = Page(comments, 0);
    file.insert(file.end(), page.begin(), page.end());
    // An item length far beyond the end of the file as well.
    file.insert(file.end(), {0xF0, 0xFF, 0xFF, 0x7F, 'A', 'L', 'B', 'U', 'M', '=', 'z'});
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.Title(), "Only one");
    EXPECT_EQ(ogg.Album(), "z");
}

TEST_F(OggVorbisFile, NotVorbis)
{
    OggLayout layout;
    Bytes notOgg = OggFile(layout);
    notOgg[0] = 'X';
    EXPECT_FALSE(ogg.Analyze(Write(notOgg)));
    EXPECT_EQ(ogg.FileSize(), 0);

    Bytes otherCodec = OggFile(layout);
    std::memcpy(otherCodec.data() + 28, "OPUSxx", 6);
    EXPECT_FALSE(ogg.Analyze(Write(otherCodec)));
    EXPECT_EQ(ogg.Channels(), 0);

    EXPECT_FALSE(ogg.Analyze(Write(Bytes{'O', 'g', 'g'})));
    EXPECT_FALSE(ogg.Analyze(Write(Bytes{})));
}

TEST_F(OggVorbisFile, CommentHeaderNotDirectlyAfterTheIdentification)
{
    OggLayout layout;
    layout.comments = {"TITLE=Lost"};
    Bytes file = OggFile(layout);
    // Something between the first page and the comment page.
    file.insert(file.begin() + 28 + 30, 5, 0);
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.Title(), "");
    EXPECT_EQ(ogg.Vendor(), "");
    EXPECT_EQ(ogg.SampleRate(), 44100u);
    EXPECT_EQ(ogg.Samples(), 441000);
}

TEST_F(OggVorbisFile, NoLastPageFallsBackToTheNominalBitRate)
{
    OggLayout layout;
    layout.lastPage = false;
    layout.audioBytes = 12100;  // no "OggS" in the last 12060 bytes
    for (uint8_t channels : {2, 1}) {
        layout.channels = channels;
        const Bytes file = OggFile(layout);
        ASSERT_TRUE(ogg.Analyze(Write(file)));
        EXPECT_EQ(ogg.Samples(), 0);
        const double stereo = file.size() / 128.0 / 2 / 125 * 2;
        // One channel doubles the duration: the formula divides by the channels.
        EXPECT_DOUBLE_EQ(ogg.Duration(), channels == 2 ? stereo : 2 * stereo);
    }
    // Without a nominal rate there is no duration at all.
    layout.nominal = 0;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Duration(), 0);
    EXPECT_EQ(ogg.BitRate(), 0);
    EXPECT_FALSE(ogg.Valid());
}

TEST_F(OggVorbisFile, LastPageFoundNearTheEndOnly)
{
    OggLayout layout;
    layout.lastPage = false;
    layout.audioBytes = 11000;
    Bytes file = OggFile(layout);
    // A page well inside the last 12060 bytes, then payload.
    const Bytes page = Page(Bytes(20, 0x42), 123456, 0);
    file.insert(file.end() - 9000, page.begin(), page.end());
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.Samples(), 123456);

    // A granule of -1 (no packet ends on the page) gives no sample count.
    layout.lastPage = true;
    layout.samples = -1;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Samples(), -1);
    EXPECT_DOUBLE_EQ(ogg.Duration(), ogg.FileSize() / 128.0 / 2 / 125 * 2);
}

TEST_F(OggVorbisFile, SmallFileIsSearchedFromItsStart)
{
    OggLayout layout;
    layout.audioBytes = 0;
    layout.vendor = "v";
    layout.samples = 44100;
    const Bytes file = OggFile(layout);
    ASSERT_LT(file.size(), 251u);
    ASSERT_TRUE(ogg.Analyze(Write(file)));
    EXPECT_EQ(ogg.Samples(), 44100);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 1.0);
}

TEST_F(OggVorbisFile, LongStreamsCountSamplesBeyond32Bits)
{
    OggLayout layout;
    layout.samples = int64_t(44100) * 3600 * 20;  // 20 hours
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.Samples(), layout.samples);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 72000.0);
}

TEST_F(OggVorbisFile, ValidBounds)
{
    OggLayout layout;
    layout.samples = 4410;  // exactly 0.1 s: not enough
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_DOUBLE_EQ(ogg.Duration(), 0.1);
    EXPECT_FALSE(ogg.Valid());
    layout.samples = 4411;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_TRUE(ogg.Valid());

    layout.channels = 3;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_FALSE(ogg.Valid());
    layout.channels = 0;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_FALSE(ogg.Valid());

    layout.channels = 1;
    layout.sampleRate = 96000;  // rates above 16 bits are kept whole
    layout.samples = 960000;
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(layout))));
    EXPECT_EQ(ogg.SampleRate(), 96000u);
    EXPECT_DOUBLE_EQ(ogg.Duration(), 10.0);
    EXPECT_TRUE(ogg.Valid());
}

TEST_F(OggVorbisFile, MissingFileIsAFalseResultLikeTheOtherReaders)
{
    ASSERT_TRUE(ogg.Analyze(Write(OggFile(OggLayout{}))));
    EXPECT_FALSE(ogg.Analyze(dir.File("missing.ogg")));
    EXPECT_EQ(ogg.FileSize(), 0);
    EXPECT_FALSE(ogg.Valid());
}

TEST_F(OggVorbisFile, OggencFile)
{
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    const std::string wav = dir.File("tone.wav");
    const std::string path = dir.File("tone.ogg");
    ASSERT_EQ(testsupport::Run("sox -n -r 32000 -c 1 -b 16 " + testsupport::Quote(wav) + " synth 3 sine 440").exitCode, 0);
    const auto made = testsupport::Run("oggenc -Q -b 96 -t 'Caf\xC3\xA9 T\xC3\xAAte' -a Artiste -l 'Long Album' "
                                       "-N 4 -d 1999 -G Jazz -c 'COMMENT=note' -o "
                                       + testsupport::Quote(path) + " " + testsupport::Quote(wav));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    ASSERT_TRUE(ogg.Analyze(path));
    EXPECT_EQ(ogg.Channels(), 1);
    EXPECT_EQ(ogg.SampleRate(), 32000u);
    EXPECT_EQ(ogg.BitRateNominal(), 96);
    EXPECT_EQ(ogg.Samples(), 96000);  // 3 s at 32000 Hz, exactly
    EXPECT_DOUBLE_EQ(ogg.Duration(), 3.0);
    EXPECT_EQ(ogg.Title(), "Caf\xC3\xA9 T\xC3\xAAte");
    EXPECT_EQ(ogg.Artist(), "Artiste");
    EXPECT_EQ(ogg.Album(), "Long Album");
    EXPECT_EQ(ogg.Track(), 4);
    EXPECT_EQ(ogg.Date(), "1999");
    EXPECT_EQ(ogg.Genre(), "Jazz");
    EXPECT_EQ(ogg.Comment(), "note");
    EXPECT_EQ(ogg.Vendor().rfind("Xiph.Org libVorbis", 0), 0u) << ogg.Vendor();
    EXPECT_TRUE(ogg.Valid());
}
