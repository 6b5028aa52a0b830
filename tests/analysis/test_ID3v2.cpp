#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"

#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>
#include <span>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using Bytes = std::vector<uint8_t>;

namespace {

using bytebuild::BigEndian;
using bytebuild::Cat;
using bytebuild::Id3v2Comment;
using bytebuild::Id3v2Frame22;
using bytebuild::Id3v2Frame23;
using bytebuild::Id3v2Frame24;
using bytebuild::Id3v2Tag;
using bytebuild::Id3v2Text;
using bytebuild::Id3v2Unsynchronise;
using bytebuild::Str;
using bytebuild::Synchsafe;
using bytebuild::Utf16WithBom;

Bytes Audio(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 13 + 1);
    if (size >= 2) {
        bytes[0] = 0xFF;  // looks like a frame sync, as real audio does
        bytes[1] = 0xFB;
    }
    return bytes;
}

bool Contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TID3v2 Read(const std::string& path)
{
    TID3v2 tag;
    EXPECT_TRUE(tag.ReadTag(path));
    return tag;
}

std::vector<std::string> FolderEntries(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What a rewrite puts in front of the audio: the tag with 1 KiB plus 0.1%
// of the file's size as padding.
Bytes Rewritten(const TID3v2& tag, size_t fileSize)
{
    return tag.RenderTag(std::min<size_t>(1 << 20, 1024 + fileSize / 1000));
}

// What a write in place leaves in the old tag's region: the new tag, zero
// padding, and a header claiming the whole region.
Bytes InPlace(const TID3v2& tag, size_t region)
{
    Bytes bytes = tag.RenderTag();
    bytes.resize(region, 0);
    Bytes size = Synchsafe(uint32_t(region - 10));
    std::copy(size.begin(), size.end(), bytes.begin() + 6);
    return bytes;
}

// A v2.3 tag with all seven texts in Latin-1.
Bytes SevenFrames()
{
    return Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "Title")), Id3v2Frame23("TPE1", Id3v2Text(0, "Artist")),
                Id3v2Frame23("TALB", Id3v2Text(0, "Album")), Id3v2Frame23("TRCK", Id3v2Text(0, "4/12")),
                Id3v2Frame23("TYER", Id3v2Text(0, "1999")), Id3v2Frame23("TCON", Id3v2Text(0, "(17)Rock")),
                Id3v2Frame23("COMM", Id3v2Comment(0, "", "Comment"))});
}

} // namespace

TEST(ID3v2Read, FilesWithoutTag)
{
    TempDir dir;
    WriteBytes(dir.File("plain.mp3"), Audio(100));
    TID3v2 tag = Read(dir.File("plain.mp3"));
    EXPECT_FALSE(tag.Exists());
    EXPECT_EQ(tag.Size(), 0);
    EXPECT_EQ(tag.VersionID(), 0);

    WriteBytes(dir.File("short.mp3"), Str("ID3\3\0\0\0"));
    EXPECT_FALSE(tag.ReadTag(dir.File("short.mp3")));
    EXPECT_FALSE(tag.ReadTag(dir.File("missing.mp3")));
    EXPECT_FALSE(tag.Exists());
}

TEST(ID3v2Read, Version23Latin1Fields)
{
    TempDir dir;
    Bytes tag = Id3v2Tag(3, 0, SevenFrames(), 64);
    WriteBytes(dir.File("a.mp3"), Cat({tag, Audio(1000)}));
    TID3v2 read = Read(dir.File("a.mp3"));
    EXPECT_TRUE(read.Exists());
    EXPECT_EQ(read.VersionID(), 3);
    EXPECT_EQ(read.Size(), int64_t(tag.size()));
    EXPECT_EQ(read.Title(), "Title");
    EXPECT_EQ(read.Artist(), "Artist");
    EXPECT_EQ(read.Album(), "Album");
    EXPECT_EQ(read.Track(), 4);
    EXPECT_EQ(read.Year(), "1999");
    EXPECT_EQ(read.Genre(), "Rock");
    EXPECT_EQ(read.Comment(), "Comment");
}

TEST(ID3v2Read, SizeLargerThanTheFileMeansNoTagBody)
{
    TempDir dir;
    Bytes tag = Id3v2Tag(3, 0, SevenFrames());
    tag[8] = 0x7F;  // claims far more than the file holds
    WriteBytes(dir.File("a.mp3"), Cat({tag, Audio(100)}));
    TID3v2 read = Read(dir.File("a.mp3"));
    EXPECT_TRUE(read.Exists());
    EXPECT_EQ(read.Size(), 0);
    EXPECT_EQ(read.Title(), "");
}

TEST(ID3v2Read, FilesBeyond4GiB)
{
    TempDir dir;
    const std::string path = dir.File("big.mp3");
    Bytes tag = Id3v2Tag(3, 0, SevenFrames(), 100);
    WriteBytes(path, Cat({tag, Audio(100)}));
    std::error_code error;
    fs::resize_file(path, (uintmax_t(5) << 30) + 3, error);  // sparse
    if (error)
        GTEST_SKIP() << "cannot make a sparse file here: " << error.message();
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Size(), int64_t(tag.size()));
    EXPECT_EQ(read.Title(), "Title");
}

TEST(ID3v2Read, LongFramesAreReadWholeAndTheNextFrameIsFound)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    std::string longTitle(400, 't');
    const std::u16string longArtist(400, u'\u0436');
    const Bytes hostile = Id3v2Frame23("COMM", Id3v2Comment(0, "", std::string(TID3v2::kMaxTextLength + 5000, 'c')));
    Bytes body = Cat(
        {Id3v2Frame23("TIT2", Id3v2Text(0, longTitle)), Id3v2Frame23("TPE1", Cat({{1}, Utf16WithBom(longArtist)})),
            hostile, Id3v2Frame23("TALB", Id3v2Text(0, "After"))});
    WriteBytes(path, Cat({Id3v2Tag(3, 0, body), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Title(), longTitle);
    std::string zhe;
    for (int i = 0; i < 400; ++i)
        zhe += "\xD0\xB6";
    EXPECT_EQ(read.Artist(), zhe);  // the same count in UTF-16
    EXPECT_EQ(read.Comment(), std::string(TID3v2::kMaxTextLength, 'c'));  // a hostile size is cut for showing
    EXPECT_EQ(read.Album(), "After");

    // Saved with another field edited, each is written back whole.
    read.SetAlbum("Edited");
    ASSERT_TRUE(read.WriteTag(path));
    TID3v2 back = Read(path);
    EXPECT_EQ(back.Title(), longTitle);
    EXPECT_EQ(back.Artist(), zhe);
    EXPECT_TRUE(Contains(ReadBytes(path), hostile));
}

TEST(ID3v2Read, TrackAndGenreTexts)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const std::pair<const char*, uint8_t> tracks[] = {{"7", 7}, {"07/12", 7}, {"x", 0}, {"", 0}, {"/5", 0}};
    for (const auto& [text, track] : tracks) {
        WriteBytes(path, Cat({Id3v2Tag(3, 0, Id3v2Frame23("TRCK", Id3v2Text(0, text))), Audio(10)}));
        EXPECT_EQ(Read(path).Track(), track) << text;
    }
    const std::pair<const char*, const char*> genres[] = {
        {"Rock", "Rock"},
        {"(17)Rock", "Rock"},
        {"(17)", "Rock"},  // a number alone names the genre
        {"(9)(138)", "Metal"},
        {"(255)", ""},
        {"Rock (live)", "Rock (live)"},  // a text with brackets is a text
        {"((Live)", "(Live)"},
        {"(RX)", ""},
    };
    for (const auto& [text, genre] : genres) {
        WriteBytes(path, Cat({Id3v2Tag(3, 0, Id3v2Frame23("TCON", Id3v2Text(0, text))), Audio(10)}));
        EXPECT_EQ(Read(path).Genre(), genre) << text;
    }
}

// "3/12": the number is the track, the total is kept and written back with
// whatever number the track gets; a total of its own can be set or cleared.
TEST(ID3v2Write, TrackTotalsSurviveEveryWrite)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path,
        Cat({Id3v2Tag(
                 3, 0, Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "T")), Id3v2Frame23("TRCK", Id3v2Text(0, " 3 / 12 "))})),
            Audio(100)}));
    TID3v2 tag = Read(path);
    EXPECT_EQ(tag.Track(), 3);
    EXPECT_EQ(tag.TrackTotal(), "12");
    tag.SetTitle("Renamed");
    ASSERT_TRUE(tag.WriteTag(path));
    EXPECT_TRUE(Contains(ReadBytes(path), Id3v2Frame23("TRCK", Id3v2Text(0, " 3 / 12 "))));  // not edited: as it was
    tag.SetTrack(7);
    tag.SetTrackTotal("9");
    EXPECT_TRUE(Contains(tag.RenderTag(), Id3v2Frame23("TRCK", Id3v2Text(0, "7/9"))));
    tag.SetTrackTotal("");
    EXPECT_TRUE(Contains(tag.RenderTag(), Id3v2Frame23("TRCK", Id3v2Text(0, "7"))));
    tag.SetTrack(0);  // no number: no frame, whatever the total
    tag.SetTrackTotal("9");
    EXPECT_FALSE(Contains(tag.RenderTag(), Str("TRCK")));
}

// A writer bug: the extended-header flag set, the frames right behind the
// header. They are read, and a write carries them over.
TEST(ID3v2Read, ExtendedHeaderFlagWithoutAnExtendedHeader)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes kept = Id3v2Frame23("TXXX", Cat({{0}, Str("Mood"), {0}, Str("Calm")}));
    for (uint8_t version : {3, 4}) {
        SCOPED_TRACE(int(version));
        Bytes frames = version == 3 ? Cat({SevenFrames(), kept})
                                    : Cat({Id3v2Frame24("TIT2", Id3v2Text(0, "Title")),
                                        Id3v2Frame24("TXXX", Cat({{0}, Str("Mood"), {0}, Str("Calm")}))});
        WriteBytes(path, Cat({Id3v2Tag(version, 0x40, frames, 100), Audio(1000)}));
        TID3v2 tag = Read(path);
        EXPECT_EQ(tag.Title(), "Title");
        tag.SetArtist("Written");
        ASSERT_TRUE(tag.WriteTag(path));
        EXPECT_TRUE(Contains(ReadBytes(path), kept));
        EXPECT_EQ(Read(path).Title(), "Title");
    }
}

TEST(ID3v2Read, CommentIsTheOneWithoutDescription)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes player = Id3v2Frame23("COMM", Id3v2Comment(0, "iTunNORM", " 00000A 00000B"));
    Bytes plain = Id3v2Frame23("COMM", Id3v2Comment(0, "", "Real comment"));
    Bytes other = Id3v2Frame23("COMM", Id3v2Comment(0, "Other", "Second"));
    WriteBytes(path, Cat({Id3v2Tag(3, 0, Cat({player, plain, other})), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Comment(), "Real comment");

    // The comments not shown travel along as they were.
    Bytes rendered = read.RenderTag();
    EXPECT_TRUE(Contains(rendered, player));
    EXPECT_TRUE(Contains(rendered, other));
    Bytes commentText = Str("Real comment");
    auto first = std::search(rendered.begin(), rendered.end(), commentText.begin(), commentText.end());
    EXPECT_EQ(std::search(first + 1, rendered.end(), commentText.begin(), commentText.end()), rendered.end());

    read.SetComment("");
    ASSERT_TRUE(read.WriteTag(path));
    TID3v2 cleared = Read(path);
    EXPECT_EQ(cleared.Comment(), "");
    EXPECT_TRUE(Contains(cleared.RenderTag(), player));

    WriteBytes(path, Cat({Id3v2Tag(3, 0, Cat({player, other})), Audio(10)}));
    EXPECT_EQ(Read(path).Comment(), "");  // player data is no comment
}

TEST(ID3v2Read, TheFirstOfRepeatedFramesIsShownAndEveryOneKept)
{
    TempDir dir;
    Bytes body = Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "First")), Id3v2Frame23("TIT2", Id3v2Text(0, "Second"))});
    WriteBytes(dir.File("a.mp3"), Cat({Id3v2Tag(3, 0, body), Audio(10)}));
    TID3v2 read = Read(dir.File("a.mp3"));
    EXPECT_EQ(read.Title(), "First");
    read.SetTitle("Edited");
    EXPECT_EQ(read.RenderTag(),
        Id3v2Tag(
            3, 0, Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "Edited")), Id3v2Frame23("TIT2", Id3v2Text(0, "Second"))})));
}

TEST(ID3v2Read, Utf16AndUtf8Encodings)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    // "Дельфин" in UTF-16 with either byte order, "日本" in UTF-8 and UTF-16BE.
    const std::u16string dolphin = u"\u0414\u0435\u043B\u044C\u0444\u0438\u043D";
    Bytes v23 = Cat({Id3v2Frame23("TIT2", Cat({{1}, Utf16WithBom(dolphin)})),
        Id3v2Frame23("TPE1", Cat({{1}, Utf16WithBom(dolphin, true)})),
        Id3v2Frame23("COMM", Cat({{1}, Str("eng"), Utf16WithBom(u""), {0, 0}, Utf16WithBom(u"M\u00F6t")}))});
    WriteBytes(path, Cat({Id3v2Tag(3, 0, v23), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Title(), "\u0414\u0435\u043B\u044C\u0444\u0438\u043D");
    EXPECT_EQ(read.Artist(), "\u0414\u0435\u043B\u044C\u0444\u0438\u043D");
    EXPECT_EQ(read.Comment(), "M\u00F6t");

    Bytes v24 = Cat({Id3v2Frame24("TIT2", Id3v2Text(3, "\u65E5\u672C")),
        Id3v2Frame24("TPE1", Bytes {2, 0x65, 0xE5, 0x67, 0x2C}), Id3v2Frame24("TALB", Id3v2Text(0, "Mot\xF6rhead"))});
    WriteBytes(path, Cat({Id3v2Tag(4, 0, v24), Audio(10)}));
    read = Read(path);
    EXPECT_EQ(read.VersionID(), 4);
    EXPECT_EQ(read.Title(), "\u65E5\u672C");
    EXPECT_EQ(read.Artist(), "\u65E5\u672C");
    EXPECT_EQ(read.Album(), "Mot\u00F6rhead");
}

TEST(ID3v2Read, Version24SizesDatesAndMultipleValues)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    std::string longTitle(200, 'L');  // synchsafe and plain sizes differ above 127
    Bytes body = Cat(
        {Id3v2Frame24("TIT2", Id3v2Text(3, longTitle)), Id3v2Frame24("TPE1", Id3v2Text(3, std::string("A\0B", 3))),
            Id3v2Frame24("TDRC", Id3v2Text(0, "2004-05-12")), Id3v2Frame24("TCON", Id3v2Text(0, "17"))});
    WriteBytes(path, Cat({Id3v2Tag(4, 0, body, 20), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Title(), longTitle);
    EXPECT_EQ(read.Artist(), "A/B");
    EXPECT_EQ(read.Year(), "2004");
    EXPECT_EQ(read.Genre(), "Rock");
    // The year not edited, the date stays whole.
    EXPECT_TRUE(Contains(read.RenderTag(), Str("2004-05-12")));

    // Plain sizes in a v2.4 tag, as some writers produce them.
    std::string title255(255, 'P');
    body = Cat(
        {Id3v2Frame24("TIT2", Id3v2Text(0, title255), 0, true), Id3v2Frame24("TPE1", Id3v2Text(0, "Next"), 0, true)});
    WriteBytes(path, Cat({Id3v2Tag(4, 0, body), Audio(10)}));
    read = Read(path);
    EXPECT_EQ(read.Title(), title255);
    EXPECT_EQ(read.Artist(), "Next");
}

// A reader takes the year from the date frame when no TYER gives one, so
// the date frame and the year must agree on what the next read shows.
TEST(ID3v2Read, YearAndDateFrameReadBackAsShown)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path,
        Cat({Id3v2Tag(
                 3, 0, Cat({Id3v2Frame23("TYER", Id3v2Text(0, "")), Id3v2Frame23("TDRC", Id3v2Text(0, "2004-05-12"))})),
            Audio(10)}));
    EXPECT_EQ(Read(path).Year(), "2004");  // an empty TYER does not hide the date

    WriteBytes(path,
        Cat({Id3v2Tag(3, 0,
                 Cat({Id3v2Frame23("TYER", Id3v2Text(0, "2001")), Id3v2Frame23("TDRC", Id3v2Text(0, "2001-05-03")),
                     Id3v2Frame23("TDRC", Id3v2Text(0, ""))})),
            Audio(10)}));
    TID3v2 read = Read(path);
    ASSERT_EQ(read.Year(), "2001");
    read.SetYear("");
    ASSERT_TRUE(read.WriteTag(path));
    TID3v2 cleared = Read(path);
    EXPECT_EQ(cleared.Year(), "");  // not taken back from the date kept
    EXPECT_TRUE(Contains(cleared.RenderTag(), Str("TDRC")));  // the date without a year stays
}

TEST(ID3v2Read, Version24FrameFlagsAreUndone)
{
    TempDir dir;
    // Data length indicator, and per-frame unsynchronisation of a 0xFF byte.
    Bytes title = Cat({Synchsafe(6), Id3v2Text(0, "Title")});
    Bytes artist = Id3v2Unsynchronise(Id3v2Text(0, "\xFF\xE0x"));
    Bytes body = Cat({Id3v2Frame24("TIT2", title, 0x01), Id3v2Frame24("TPE1", artist, 0x02)});
    WriteBytes(dir.File("a.mp3"), Cat({Id3v2Tag(4, 0, body), Audio(10)}));
    TID3v2 read = Read(dir.File("a.mp3"));
    EXPECT_EQ(read.Title(), "Title");
    EXPECT_EQ(read.Artist(), "\u00FF\u00E0x");
}

TEST(ID3v2Read, Version22Tag)
{
    TempDir dir;
    Bytes body = Cat({Id3v2Frame22("TT2", Id3v2Text(0, "Title")), Id3v2Frame22("TP1", Id3v2Text(0, "Artist")),
                      Id3v2Frame22("TAL", Id3v2Text(0, "Album")), Id3v2Frame22("TRK", Id3v2Text(0, "3")),
                      Id3v2Frame22("TYE", Id3v2Text(0, "1987")), Id3v2Frame22("TCO", Id3v2Text(0, "(8)")),
                      Id3v2Frame22("COM", Id3v2Comment(0, "", "Old")), Id3v2Frame22("CNT", Bytes{0, 0, 0, 9})});
    WriteBytes(dir.File("a.mp3"), Cat({Id3v2Tag(2, 0, body), Audio(10)}));
    TID3v2 read = Read(dir.File("a.mp3"));
    EXPECT_EQ(read.VersionID(), 2);
    EXPECT_EQ(read.Title(), "Title");
    EXPECT_EQ(read.Artist(), "Artist");
    EXPECT_EQ(read.Album(), "Album");
    EXPECT_EQ(read.Track(), 3);
    EXPECT_EQ(read.Year(), "1987");
    EXPECT_EQ(read.Genre(), "Jazz");
    EXPECT_EQ(read.Comment(), "Old");
}

TEST(ID3v2Read, ExtendedHeadersAreSkipped)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes ext23 = Cat({BigEndian(6, 4), {0, 0}, BigEndian(0, 4)});
    WriteBytes(path, Cat({Id3v2Tag(3, 0x40, Cat({ext23, SevenFrames()})), Audio(10)}));
    EXPECT_EQ(Read(path).Title(), "Title");

    Bytes ext24 = Cat({Synchsafe(6), {1, 0}});
    WriteBytes(path, Cat({Id3v2Tag(4, 0x40, Cat({ext24, Id3v2Frame24("TIT2", Id3v2Text(3, "V4"))})), Audio(10)}));
    EXPECT_EQ(Read(path).Title(), "V4");
}

TEST(ID3v2Read, UnsynchronisedTags)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes body = Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "\xFF\xFF\xE0")), Id3v2Frame23("TPE1", Id3v2Text(0, "After"))});
    WriteBytes(path, Cat({Id3v2Tag(3, 0x80, Id3v2Unsynchronise(body)), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Title(), "\u00FF\u00FF\u00E0");
    EXPECT_EQ(read.Artist(), "After");

    // v2.4 applies the tag's flag to each frame, sizes counting the stored bytes.
    Bytes title = Id3v2Unsynchronise(Id3v2Text(0, "\xFF\xE0y"));
    WriteBytes(path,
        Cat({Id3v2Tag(4, 0x80, Cat({Id3v2Frame24("TIT2", title), Id3v2Frame24("TPE1", Id3v2Text(0, "Z"))})),
            Audio(10)}));
    read = Read(path);
    EXPECT_EQ(read.Title(), "\u00FF\u00E0y");
    EXPECT_EQ(read.Artist(), "Z");
}

TEST(ID3v2Read, HostileTagsStayInsideTheFile)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    // A frame claiming 4 GiB, an extended header claiming more than the tag,
    // and frames of size zero: none may read beyond the bytes or loop.
    Bytes huge = Cat({Str("TIT2"), BigEndian(0xFFFFFFF0, 4), {0, 0}, Id3v2Text(0, "Cut short")});
    WriteBytes(path, Cat({Id3v2Tag(3, 0, huge), Audio(10)}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Title(), "Cut short");
    EXPECT_EQ(read.RenderTag().size(), 10u + 11u + 9u);  // the cut frame is not carried

    WriteBytes(path, Cat({Id3v2Tag(3, 0x40, Cat({BigEndian(0x7FFFFFF0, 4), SevenFrames()})), Audio(10)}));
    EXPECT_EQ(Read(path).Title(), "");

    Bytes empties;
    for (int i = 0; i < 100; ++i)
        empties = Cat({empties, Id3v2Frame23("TXXX", {})});
    WriteBytes(path, Cat({Id3v2Tag(3, 0, Cat({empties, Id3v2Frame23("TIT2", Id3v2Text(0, "End"))})), Audio(10)}));
    EXPECT_EQ(Read(path).Title(), "End");

    // Deterministic mutations of valid tags of each version.
    const Bytes samples[] = {
        Id3v2Tag(3, 0, Cat({SevenFrames(), Id3v2Frame23("APIC", Cat({{0}, Str("image/png"), {0, 3, 0}, Audio(300)}))})),
        Id3v2Tag(4, 0,
            Cat({Id3v2Frame24("TIT2", Id3v2Text(3, "x"), 0x03),
                Id3v2Frame24("TXXX", Id3v2Text(2, std::string("\0a\0\0\0b", 6)))})),
        Id3v2Tag(2, 0,
            Cat({Id3v2Frame22("TT2",
                     Id3v2Text(1,
                         "\xFF\xFE"
                         "a\0")),
                Id3v2Frame22("PIC", Cat({{0}, Str("JPG"), {3, 0}}))})),
    };
    std::mt19937 random(12345);
    for (const Bytes& sample : samples) {
        for (int round = 0; round < 300; ++round) {
            Bytes mutated = sample;
            for (int flips = 0; flips < 4; ++flips)
                mutated[3 + random() % (mutated.size() - 3)] = uint8_t(random());
            mutated.resize(random() % (mutated.size() + 1));
            WriteBytes(path, mutated);
            TID3v2 tag;
            tag.ReadTag(path);
            Bytes rendered = tag.RenderTag();
            ASSERT_GE(rendered.size(), 10u);
            ASSERT_LE(rendered.size(), 10u + 4 * mutated.size() + 64);
        }
    }
}

TEST(ID3v2Render, EmptyFieldsGiveAnEmptyTag)
{
    TID3v2 tag;
    EXPECT_EQ(tag.RenderTag(), (Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}));
}

TEST(ID3v2Render, FramesInOrderWithTheirEncodings)
{
    TID3v2 tag;
    tag.SetComment("Note");
    tag.SetGenre("Rock");
    tag.SetYear("2001");
    tag.SetTrack(12);
    tag.SetAlbum("\u65E5\u672C");
    tag.SetArtist("Mot\u00F6rhead  ");
    tag.SetTitle("Title");
    Bytes expected
        = Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "Title")), Id3v2Frame23("TPE1", Id3v2Text(0, "Mot\xF6rhead")),
            Id3v2Frame23("TALB", Cat({{1}, Utf16WithBom(u"\u65E5\u672C")})), Id3v2Frame23("TRCK", Id3v2Text(0, "12")),
            Id3v2Frame23("TYER", Id3v2Text(0, "2001")), Id3v2Frame23("TCON", Id3v2Text(0, "Rock")),
            Id3v2Frame23("COMM", Id3v2Comment(0, "", "Note"))});
    EXPECT_EQ(tag.RenderTag(), Id3v2Tag(3, 0, expected));

    tag.Reset();
    tag.SetComment("\u0414");
    EXPECT_EQ(tag.RenderTag(),
        Id3v2Tag(
            3, 0, Id3v2Frame23("COMM", Cat({{1}, Str("eng"), Utf16WithBom(u""), {0, 0}, Utf16WithBom(u"\u0414")}))));
}

TEST(ID3v2Render, SynchsafeSizeAbove16384Bytes)
{
    TID3v2 tag;
    tag.SetComment(std::string(20000, 'c'));
    Bytes rendered = tag.RenderTag();
    const uint32_t size = 20000 + 5 + 10;  // comment, encoding + "eng" + NUL, frame header
    ASSERT_EQ(rendered.size(), size + 10);
    EXPECT_EQ(Bytes(rendered.begin() + 6, rendered.begin() + 10), Synchsafe(size));
    EXPECT_EQ(rendered[8], (size >> 7) & 0x7F);
    EXPECT_NE(rendered[7], 0);
}

TEST(ID3v2Write, ReplacesTheTagAndKeepsAudioAndID3v1)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes audio = Audio(50000);
    TID3v1 v1;
    v1.SetTitle("Version one");
    auto v1Bytes = v1.RenderTag();
    Bytes v1Tag(v1Bytes.begin(), v1Bytes.end());
    const Bytes old = Id3v2Tag(4, 0, Id3v2Frame24("TIT2", Id3v2Text(3, "Old")), 500);
    WriteBytes(path, Cat({old, audio, v1Tag}));

    TID3v2 tag;
    ASSERT_TRUE(tag.ReadTag(path));
    tag.SetTitle("New title");
    tag.SetArtist("\u0414\u0435\u043B\u044C\u0444\u0438\u043D");
    ASSERT_TRUE(tag.WriteTag(path));

    Bytes written = ReadBytes(path);
    EXPECT_EQ(written, Cat({InPlace(tag, old.size()), audio, v1Tag}));
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"a.mp3"});
    TID3v2 back = Read(path);
    EXPECT_EQ(back.VersionID(), 3);
    EXPECT_EQ(back.Title(), "New title");
    EXPECT_EQ(back.Artist(), "\u0414\u0435\u043B\u044C\u0444\u0438\u043D");
    TID3v1 v1Back;
    ASSERT_TRUE(v1Back.ReadTag(path));
    EXPECT_EQ(v1Back.Title(), "Version one");
}

TEST(ID3v2Write, PutsATagInFrontOfAFileWithoutOne)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes audio = Audio(3000);
    WriteBytes(path, audio);
    TID3v2 tag;
    tag.SetTitle("T");
    ASSERT_TRUE(tag.WriteTag(path));
    const Bytes first = Rewritten(tag, audio.size());
    EXPECT_EQ(ReadBytes(path), Cat({first, audio}));

    // An all-empty tag still replaces the old one, in its bytes.
    tag.Reset();
    ASSERT_TRUE(tag.WriteTag(path));
    EXPECT_EQ(ReadBytes(path), Cat({InPlace(tag, first.size()), audio}));
    EXPECT_EQ(Read(path).Title(), "");
}

TEST(ID3v2Write, V24FooterIsRemovedWithTheTag)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes audio = Audio(2000);
    Bytes body = Id3v2Frame24("TIT2", Id3v2Text(0, "F"));
    Bytes tag = Id3v2Tag(4, 0x10, body);
    Bytes footer = Cat({Str("3DI"), {4, 0, 0x10}, Synchsafe(uint32_t(body.size()))});
    WriteBytes(path, Cat({tag, footer, audio}));
    TID3v2 read = Read(path);
    EXPECT_EQ(read.Size(), int64_t(tag.size()));  // the footer is not counted
    ASSERT_TRUE(read.WriteTag(path));
    EXPECT_EQ(ReadBytes(path), Cat({InPlace(read, tag.size() + footer.size()), audio}));
}

TEST(ID3v2Write, OtherFramesAreKeptInOrder)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes picture = Id3v2Frame23("APIC", Cat({{0}, Str("image/jpeg"), {0, 3, 0}, Audio(70000)}));
    Bytes privateFrame = Id3v2Frame23("PRIV", Cat({Str("owner"), {0, 1, 2, 3}}));
    Bytes lyrics = Id3v2Frame23("USLT", Cat({{1}, Str("eng"), Utf16WithBom(u""), {0, 0}, Utf16WithBom(u"La la")}));
    const Bytes old = Id3v2Tag(3, 0, Cat({picture, SevenFrames(), privateFrame, lyrics}), 1000);
    WriteBytes(path, Cat({old, Audio(500)}));

    TID3v2 tag = Read(path);
    tag.SetTitle("Edited");
    ASSERT_TRUE(tag.WriteTag(path));
    Bytes written = ReadBytes(path);
    Bytes expected
        = Cat({picture, Id3v2Frame23("TIT2", Id3v2Text(0, "Edited")), Id3v2Frame23("TPE1", Id3v2Text(0, "Artist")),
            Id3v2Frame23("TALB", Id3v2Text(0, "Album")), Id3v2Frame23("TRCK", Id3v2Text(0, "4/12")),
            Id3v2Frame23("TYER", Id3v2Text(0, "1999")), Id3v2Frame23("TCON", Id3v2Text(0, "(17)Rock")),
            Id3v2Frame23("COMM", Id3v2Comment(0, "", "Comment")), privateFrame, lyrics});
    Bytes region = Id3v2Tag(3, 0, expected);
    region.resize(old.size(), 0);
    Bytes size = Synchsafe(uint32_t(old.size() - 10));
    std::copy(size.begin(), size.end(), region.begin() + 6);
    EXPECT_EQ(written, Cat({region, Audio(500)}));

    // A tag copied onto another file takes its picture along; Reset forgets it.
    WriteBytes(dir.File("part.mp3"), Audio(100));
    ASSERT_TRUE(tag.WriteTag(dir.File("part.mp3")));
    EXPECT_TRUE(Contains(ReadBytes(dir.File("part.mp3")), picture));
    tag.Reset();
    EXPECT_EQ(tag.RenderTag().size(), 10u);
}

TEST(ID3v2Write, FramesOfTheWholeAudioCanBeDroppedForASection)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes picture = Id3v2Frame23("APIC", Cat({{0}, Str("image/jpeg"), {0, 3, 0}, Audio(500)}));
    Bytes length = Id3v2Frame23("TLEN", Id3v2Text(0, "261224"));
    Bytes lookup = Id3v2Frame23("MLLT", Audio(40));
    Bytes marked = Id3v2Frame23("TXXX", Cat({{0}, Str("replaygain"), {0}, Str("-3 dB")}), 0x4000);
    Bytes encoder = Id3v2Frame23("TSSE", Id3v2Text(0, "LAME"));
    WriteBytes(path, Cat({Id3v2Tag(3, 0, Cat({length, picture, lookup, marked, encoder})), Audio(300)}));

    TID3v2 tag = Read(path);
    EXPECT_TRUE(Contains(tag.RenderTag(), length));
    tag.DropFramesOfTheWholeAudio();
    Bytes rendered = tag.RenderTag();
    EXPECT_EQ(rendered, Id3v2Tag(3, 0, Cat({picture, encoder})));
}

TEST(ID3v2Write, Version24FramesBecomeVersion23Frames)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes userText = Id3v2Text(3, std::string("Desc\0\u65E5", 8));
    Bytes picture = Cat({{3}, Str("image/png"), {0, 3}, Str("Caf\xC3\xA9"), {0}, Audio(300)});
    Bytes body
        = Cat({Id3v2Frame24("TXXX", Cat({Synchsafe(uint32_t(userText.size())), Id3v2Unsynchronise(userText)}), 0x03),
            Id3v2Frame24("APIC", picture), Id3v2Frame24("PRIV", Str("x\0y")),
            Id3v2Frame24("TENC", Id3v2Text(0, "enc"), 0x04)}); // encrypted: cannot be carried
    WriteBytes(path, Cat({Id3v2Tag(4, 0, body), Audio(100)}));
    TID3v2 tag = Read(path);
    Bytes rendered = tag.RenderTag();
    Bytes expectedText = Cat({{1}, Utf16WithBom(u"Desc"), {0, 0}, Utf16WithBom(u"\u65E5")});
    Bytes expectedPicture = Cat({{1}, Str("image/png"), {0, 3}, Utf16WithBom(u"Caf\u00E9"), {0, 0}, Audio(300)});
    EXPECT_EQ(rendered, Id3v2Tag(3, 0, Cat({Id3v2Frame23("TXXX", expectedText), Id3v2Frame23("APIC", expectedPicture),
                                    Id3v2Frame23("PRIV", Str("x\0y"))})));
}

TEST(ID3v2Write, Version22PicturesAndTextsAreCarried)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes body = Cat({Id3v2Frame22("TT2", Id3v2Text(0, "T")), Id3v2Frame22("TCM", Id3v2Text(0, "Composer")),
                      Id3v2Frame22("PIC", Cat({{0}, Str("JPG"), {3}, Str("front"), {0}, Audio(200)})),
                      Id3v2Frame22("CNT", Bytes{0, 0, 0, 1})});
    WriteBytes(path, Cat({Id3v2Tag(2, 0, body), Audio(100)}));
    TID3v2 tag = Read(path);
    EXPECT_EQ(tag.RenderTag(),
        Id3v2Tag(3, 0,
            Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "T")), Id3v2Frame23("TCOM", Id3v2Text(0, "Composer")),
                Id3v2Frame23("APIC", Cat({{0}, Str("image/jpeg"), {0, 3}, Str("front"), {0}, Audio(200)})),
                Id3v2Frame23("PCNT", Bytes {0, 0, 0, 1})})));
}

// A v2.2 frame that a v2.3 tag has no place for is not dropped: the write
// is refused, naming it, and the file stays as it was.
TEST(ID3v2Write, Version22FramesWithoutCounterpartRefuseTheWrite)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes file = Cat({Id3v2Tag(2, 0,
                                Cat({Id3v2Frame22("TT2", Id3v2Text(0, "T")),
                                    Id3v2Frame22("CRM", Cat({Str("owner"), {0}, Str("x"), {0}, Str("data")})),
                                    Id3v2Frame22("XYZ", Str("experimental"))})),
        Audio(300)});
    WriteBytes(path, file);
    TID3v2 tag = Read(path);
    tag.SetTitle("New");
    EXPECT_FALSE(tag.WriteTag(path));
    EXPECT_NE(tag.WriteError().find("CRM, XYZ"), std::string::npos) << tag.WriteError();
    EXPECT_EQ(ReadBytes(path), file);
}

// Some taggers put a new tag in front of the one there was. Both are read,
// the first one's frames first, and the audio is found behind them; a
// write makes them one tag, keeping the second one's frames of kinds the
// first has none of.
TEST(ID3v2Write, TwoTagsInARowBecomeOne)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes userText = Id3v2Frame23("TXXX", Cat({{0}, Str("Mood"), {0}, Str("Calm")}));
    const Bytes picture = Id3v2Frame23("APIC", Cat({{0}, Str("image/png"), {0, 3, 0}, Audio(70000)}));
    const Bytes first = Id3v2Tag(3, 0, Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "First")), userText}), 20);
    const Bytes second = Id3v2Tag(4, 0,
        Cat({Id3v2Frame24("TIT2", Id3v2Text(0, "Second")), Id3v2Frame24("TPE1", Id3v2Text(0, "Artist")),
            Id3v2Frame24("APIC", Cat({{0}, Str("image/png"), {0, 3, 0}, Audio(70000)}))}),
        30);
    Bytes audio;
    for (int i = 0; i < 40; ++i)  // 128 kbit/s at 44.1 kHz: 417 bytes a frame
        audio = Cat({audio, bytebuild::MpegFrame(std::array<uint8_t, 4>{0xFF, 0xFB, 0x90, 0x64})});
    WriteBytes(path, Cat({first, second, audio}));
    TID3v2 tag = Read(path);
    EXPECT_EQ(tag.Size(), int64_t(first.size() + second.size()));
    EXPECT_EQ(tag.Title(), "First");
    EXPECT_EQ(tag.Artist(), "Artist");
    TMPEGaudio stream;
    EXPECT_TRUE(stream.Analyze(path) && stream.Valid());
    EXPECT_NEAR(stream.Duration(), 40 * 1152 / 44100.0, 0.01);

    tag.SetAlbum("Album");
    ASSERT_TRUE(tag.WriteTag(path)) << tag.WriteError();
    const Bytes written = ReadBytes(path);
    TID3v2 back = Read(path);
    EXPECT_EQ(Bytes(written.begin() + back.Size(), written.end()), audio);
    EXPECT_EQ(back.Title(), "First");
    EXPECT_EQ(back.Artist(), "Artist");
    EXPECT_EQ(back.Album(), "Album");
    const Bytes rendered = back.RenderTag();
    EXPECT_TRUE(Contains(rendered, userText));
    EXPECT_TRUE(Contains(rendered, picture));
    EXPECT_FALSE(Contains(rendered, Str("Second")));
}

// Bytes in memory parse as the file they come from reads: a tag right
// behind the first one counted in, and bytes that end inside the tag taken
// as a file that ends there.
TEST(ID3v2Read, BytesParseAsTheirFileReads)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes first = Id3v2Tag(
        3, 0, Cat({Id3v2Frame23("TIT2", Id3v2Text(0, "First")), Id3v2Frame23("TXXX", Id3v2Text(0, "x"))}), 20);
    const Bytes second = Id3v2Tag(
        4, 0, Cat({Id3v2Frame24("TIT2", Id3v2Text(0, "Second")), Id3v2Frame24("TPE1", Id3v2Text(0, "Artist"))}), 30);
    const Bytes file = Cat({first, second, Audio(500)});
    WriteBytes(path, file);
    const TID3v2 read = Read(path);
    TID3v2 parsed;
    ASSERT_TRUE(parsed.Parse(file));
    EXPECT_EQ(parsed.Size(), int64_t(first.size() + second.size()));
    EXPECT_EQ(parsed.Artist(), "Artist");
    EXPECT_EQ(parsed.RenderTag(), read.RenderTag());

    ASSERT_TRUE(parsed.Parse(std::span(file).first(first.size() - 1)));
    EXPECT_TRUE(parsed.Exists());
    EXPECT_EQ(parsed.Size(), 0);
    EXPECT_EQ(parsed.Title(), "");
    EXPECT_FALSE(parsed.Parse(std::span(file).first(9)));
}

// A tag whose size runs past the end of the file is read as empty; writing
// a new tag in front of it would leave the old one behind as audio.
TEST(ID3v2Write, ATagClaimingMoreThanTheFileIsNotWrittenOver)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    Bytes tag = Id3v2Tag(3, 0, SevenFrames());
    tag[7] = 0x7F;
    const Bytes file = Cat({tag, Audio(500)});
    WriteBytes(path, file);
    TID3v2 read = Read(path);
    read.SetTitle("New");
    EXPECT_FALSE(read.WriteTag(path));
    EXPECT_NE(read.WriteError().find("claims"), std::string::npos) << read.WriteError();
    EXPECT_EQ(ReadBytes(path), file);
}

TEST(ID3v2Rewrite, ReadOnlyFileKeepsItsModeWithOwnerWrite)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path, Audio(1000));
    ASSERT_EQ(::chmod(path.c_str(), 0440), 0);
    TID3v2 tag;
    tag.SetTitle("x");
    ASSERT_TRUE(tag.WriteTag(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (::geteuid() == 0) {  // only root can give a file away
        ASSERT_EQ(::chown(path.c_str(), 4321, 4322), 0);
        ASSERT_TRUE(tag.WriteTag(path));
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

TEST(ID3v2Rewrite, SymbolicLinkStaysALink)
{
    TempDir dir;
    const std::string target = dir.File("real.mp3");
    const std::string link = dir.File("link.mp3");
    WriteBytes(target, Audio(1000));
    fs::create_symlink("real.mp3", link);
    TID3v2 tag;
    tag.SetTitle("Through the link");
    ASSERT_TRUE(tag.WriteTag(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), Cat({Rewritten(tag, 1000), Audio(1000)}));
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"link.mp3", "real.mp3"}));
}

TEST(ID3v2Rewrite, TakenTemporaryNamesAreLeftAlone)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path, Audio(1000));
    fs::create_directory(dir.File("a.mp3~"));
    WriteBytes(dir.File("victim"), Str("do not touch"));
    fs::create_symlink(dir.File("victim"), dir.File("a.mp3~1"));
    TID3v2 tag;
    tag.SetTitle("x");
    ASSERT_TRUE(tag.WriteTag(path));
    EXPECT_EQ(ReadBytes(path), Cat({Rewritten(tag, 1000), Audio(1000)}));
    EXPECT_TRUE(fs::is_directory(dir.File("a.mp3~")));
    EXPECT_TRUE(fs::is_symlink(dir.File("a.mp3~1")));
    EXPECT_EQ(ReadBytes(dir.File("victim")), Str("do not touch"));
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"a.mp3", "a.mp3~", "a.mp3~1", "victim"}));
}

TEST(ID3v2Rewrite, FailureLeavesTheOriginalIntact)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes original = Cat({Id3v2Tag(3, 0, SevenFrames()), Audio(300000)});
    WriteBytes(path, original);
    TID3v2 tag;
    tag.SetTitle("Never written, too long for the old tag's bytes " + std::string(300, 'x'));

    // A file-size limit makes the copy fail half-way.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool written = tag.WriteTag(path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FolderEntries(dir), std::vector<std::string>{"a.mp3"});

    // A path that is not a regular file, and one that does not exist.
    fs::create_directory(dir.File("folder.mp3"));
    EXPECT_FALSE(tag.WriteTag(dir.File("folder.mp3")));
    EXPECT_FALSE(tag.WriteTag(dir.File("missing.mp3")));
    EXPECT_FALSE(fs::exists(dir.File("missing.mp3")));
    EXPECT_EQ(FolderEntries(dir), (std::vector<std::string>{"a.mp3", "folder.mp3"}));
}

// A write in place that keeps the file's size shows in the next read.
TEST(ID3v2Read, ATagReadAgainFollowsTheFile)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    const Bytes picture = Id3v2Frame23("APIC", Cat({{0}, Str("image/jpeg"), {0, 3, 0}, Audio(70000)}));
    WriteBytes(path,
        Cat({Id3v2Tag(3, 0, Cat({SevenFrames(), Id3v2Frame23("TLEN", Id3v2Text(0, "60000")), picture}), 1000),
            Audio(500)}));
    const auto fileSize = fs::file_size(path);
    TID3v2 second = Read(path);
    second.SetTitle("Eltit");
    ASSERT_TRUE(second.WriteTag(path));
    ASSERT_EQ(fs::file_size(path), fileSize);
    const TID3v2 third = Read(path);
    EXPECT_EQ(third.Title(), "Eltit");
    EXPECT_TRUE(Contains(third.RenderTag(), picture));
}
