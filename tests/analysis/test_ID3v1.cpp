#include "analysis/ID3v1.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using Block = std::array<uint8_t, 128>;

// A tag block laid out field by field, the way other programs write them.
struct RawTag {
    std::string title{}, artist{}, album{}, year{};
    std::string comment{};  // up to 30 bytes, written as they are
    int zeroByte = -1;    // byte 125 when >= 0
    int trackByte = -1;   // byte 126 when >= 0
    uint8_t genre = 255;
    char padding = '\0';
};

Block Build(const RawTag& raw)
{
    Block block;
    block.fill(static_cast<uint8_t>(raw.padding));
    std::memcpy(block.data(), "TAG", 3);
    auto put = [&](size_t at, const std::string& text, size_t length) {
        std::memcpy(block.data() + at, text.data(), std::min(text.size(), length));
    };
    put(3, raw.title, 30);
    put(33, raw.artist, 30);
    put(63, raw.album, 30);
    put(93, raw.year, 4);
    put(97, raw.comment, 30);
    if (raw.zeroByte >= 0)
        block[125] = static_cast<uint8_t>(raw.zeroByte);
    if (raw.trackByte >= 0)
        block[126] = static_cast<uint8_t>(raw.trackByte);
    block[127] = raw.genre;
    return block;
}

std::vector<uint8_t> Audio(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

std::vector<uint8_t> WithTag(std::vector<uint8_t> audio, const Block& block)
{
    audio.insert(audio.end(), block.begin(), block.end());
    return audio;
}

TID3v1 ReadFrom(const std::string& path)
{
    TID3v1 tag;
    EXPECT_TRUE(tag.ReadTag(path));
    return tag;
}

} // namespace

TEST(ID3v1Genres, TableHasTheDocumentedEntries)
{
    ASSERT_EQ(GenreNames.size(), 148u);
    EXPECT_EQ(GenreNames[0], "Blues");
    EXPECT_EQ(GenreNames[17], "Rock");
    EXPECT_EQ(GenreNames[67], "Psychadelic");
    EXPECT_EQ(GenreNames[92], "Progessive Rock");
    EXPECT_EQ(GenreNames[123], "A capella");
    EXPECT_EQ(GenreNames[133], "Negerpunk");
    EXPECT_EQ(GenreNames[136], "Christian Gangsta Rap");
    EXPECT_EQ(GenreNames[144], "Trash Metal");
    EXPECT_EQ(GenreNames[147], "Synthpop");
    for (auto name : GenreNames)
        EXPECT_FALSE(name.empty());
}

TEST(ID3v1Genres, GenreTextOnlyForKnownNumbers)
{
    TID3v1 tag;
    EXPECT_EQ(tag.GenreID(), 255);
    EXPECT_EQ(tag.Genre(), "");
    tag.SetGenreID(147);
    EXPECT_EQ(tag.Genre(), "Synthpop");
    tag.SetGenreID(148);
    EXPECT_EQ(tag.Genre(), "");
}

TEST(ID3v1Read, FileWithoutTagIsReadAndEmpty)
{
    TempDir dir;
    WriteBytes(dir.File("a.mp3"), Audio(1000));
    TID3v1 tag = ReadFrom(dir.File("a.mp3"));
    EXPECT_FALSE(tag.Exists());
    EXPECT_EQ(tag.VersionID(), 1);
    EXPECT_EQ(tag.GenreID(), 255);
    EXPECT_EQ(tag.Genre(), "");
    EXPECT_EQ(tag.Title(), "");
}

TEST(ID3v1Read, MissingOrShortFilesFailAndLeaveResetValues)
{
    TempDir dir;
    WriteBytes(dir.File("short.mp3"), std::vector<uint8_t>{'T', 'A', 'G', 1, 2, 3});
    TID3v1 tag;
    tag.SetTitle("old");
    tag.SetGenreID(3);
    EXPECT_FALSE(tag.ReadTag(dir.File("short.mp3")));
    EXPECT_EQ(tag.Title(), "");
    EXPECT_EQ(tag.GenreID(), 255);
    EXPECT_FALSE(tag.ReadTag(dir.File("missing.mp3")));
    EXPECT_FALSE(tag.Exists());
}

TEST(ID3v1Read, Version10FieldsAreTrimmedAtTheEndOnly)
{
    TempDir dir;
    RawTag raw{.title = "  Title", .artist = "Artist", .album = "Album", .year = "1999",
               .comment = "A comment that is 30 chars lo!", .genre = 17, .padding = ' '};
    WriteBytes(dir.File("a.mp3"), WithTag(Audio(500), Build(raw)));
    TID3v1 tag = ReadFrom(dir.File("a.mp3"));
    EXPECT_TRUE(tag.Exists());
    EXPECT_EQ(tag.VersionID(), 1);
    EXPECT_EQ(tag.Title(), "  Title");
    EXPECT_EQ(tag.Artist(), "Artist");
    EXPECT_EQ(tag.Album(), "Album");
    EXPECT_EQ(tag.Year(), "1999");
    EXPECT_EQ(tag.Comment(), "A comment that is 30 chars lo!");
    EXPECT_EQ(tag.Track(), 0);
    EXPECT_EQ(tag.GenreID(), 17);
    EXPECT_EQ(tag.Genre(), "Rock");
}

TEST(ID3v1Read, EmbeddedNulBeforeTextStays)
{
    TempDir dir;
    RawTag raw{.title = std::string("A\0B", 3)};
    WriteBytes(dir.File("a.mp3"), WithTag(Audio(10), Build(raw)));
    EXPECT_EQ(ReadFrom(dir.File("a.mp3")).Title(), std::string("A\0B", 3));
}

TEST(ID3v1Read, VersionDetection)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    struct Case {
        const char* what;
        RawTag raw;
        uint8_t version;
        uint8_t track;
        std::string comment;
    };
    const std::string comment28 = "twenty-eight characters here";
    ASSERT_EQ(comment28.size(), 28u);
    const Case cases[] = {
        {"1.1 with a track", {.comment = comment28, .zeroByte = 0, .trackByte = 5}, 2, 5, comment28},
        {"1.1 with track 0 reads as 1.0", {.comment = comment28, .zeroByte = 0, .trackByte = 0}, 1, 0, comment28},
        // A word ending in column 30 after a space in column 29 is taken for a track.
        {"column 30", {.comment = comment28 + " X"}, 2, 'X', comment28},
        {"space padded 1.0", {.comment = "short", .padding = ' '}, 1, 0, "short"},
        {"full 30 characters", {.comment = comment28 + "ab"}, 1, 0, comment28 + "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(path, WithTag(Audio(200), Build(c.raw)));
        TID3v1 tag = ReadFrom(path);
        EXPECT_EQ(tag.VersionID(), c.version);
        EXPECT_EQ(tag.Track(), c.track);
        EXPECT_EQ(tag.Comment(), c.comment);
    }
}

TEST(ID3v1Read, GenreNumbersOutsideTheTableStayAsRead)
{
    TempDir dir;
    WriteBytes(dir.File("a.mp3"), WithTag(Audio(10), Build(RawTag{.genre = 200})));
    TID3v1 tag = ReadFrom(dir.File("a.mp3"));
    EXPECT_EQ(tag.GenreID(), 200);
    EXPECT_EQ(tag.Genre(), "");
}

TEST(ID3v1Read, Latin1BytesBecomeUtf8)
{
    TempDir dir;
    WriteBytes(dir.File("a.mp3"), WithTag(Audio(10), Build(RawTag{.artist = "Mot\xF6rhead"})));
    EXPECT_EQ(ReadFrom(dir.File("a.mp3")).Artist(), "Mot\u00F6rhead");
}

TEST(ID3v1Fields, SettersTrimTheEndAndCutToTheLimitInCharacters)
{
    TID3v1 tag;
    tag.SetTitle("  Title \t\r\n ");
    EXPECT_EQ(tag.Title(), "  Title");
    tag.SetArtist(std::string(40, 'a'));
    EXPECT_EQ(tag.Artist(), std::string(30, 'a'));
    std::string umlauts;
    for (int i = 0; i < 35; ++i)
        umlauts += "\u00F6";
    tag.SetAlbum(umlauts);
    EXPECT_EQ(tag.Album().size(), 60u);  // 30 characters of two UTF-8 bytes each
    tag.SetYear("19999");
    EXPECT_EQ(tag.Year(), "1999");
    tag.SetComment(std::string(29, 'c').append(3, ' '));
    EXPECT_EQ(tag.Comment(), std::string(29, 'c'));
    tag.SetTrack(12);
    tag.SetGenreID(254);
    EXPECT_EQ(tag.Track(), 12);
    EXPECT_EQ(tag.GenreID(), 254);
    tag.Reset();
    EXPECT_EQ(tag.Title(), "");
    EXPECT_EQ(tag.Track(), 0);
    EXPECT_EQ(tag.GenreID(), 255);
    EXPECT_EQ(tag.VersionID(), 1);
}

TEST(ID3v1Render, LayoutWithAndWithoutTrack)
{
    TID3v1 tag;
    tag.SetTitle("T");
    tag.SetArtist("Mot\u00F6rhead");
    tag.SetAlbum("\u0414\u0435\u043B\u044C\u0444\u0438\u043D");  // Cyrillic: not in Latin-1
    tag.SetYear("2001");
    tag.SetComment(std::string(30, 'c'));
    tag.SetGenreID(9);
    Block block = tag.RenderTag();
    EXPECT_EQ(std::string(block.begin(), block.begin() + 3), "TAG");
    EXPECT_EQ(block[3], 'T');
    EXPECT_EQ(block[4], 0);
    EXPECT_EQ(std::string(block.begin() + 33, block.begin() + 42), "Mot\xF6rhead");
    EXPECT_EQ(std::string(block.begin() + 63, block.begin() + 70), "???????");
    EXPECT_EQ(block[70], 0);
    EXPECT_EQ(std::string(block.begin() + 93, block.begin() + 97), "2001");
    EXPECT_EQ(block[126], 'c');  // 1.0: the comment fills all 30 bytes
    EXPECT_EQ(block[127], 9);

    // A track number takes the last two comment bytes.
    tag.SetTrack(7);
    block = tag.RenderTag();
    EXPECT_EQ(block[124], 'c');
    EXPECT_EQ(block[125], 0);
    EXPECT_EQ(block[126], 7);
}

TEST(ID3v1Write, AppendsWhenThereIsNoTag)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    auto audio = Audio(4000);
    WriteBytes(path, audio);
    TID3v1 tag;
    tag.SetTitle("Title");
    tag.SetTrack(3);
    ASSERT_TRUE(tag.WriteTag(path));
    auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), audio.size() + 128);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), bytes.begin()));
    Block rendered = tag.RenderTag();
    EXPECT_TRUE(std::equal(rendered.begin(), rendered.end(), bytes.end() - 128));

    TID3v1 back = ReadFrom(path);
    EXPECT_TRUE(back.Exists());
    EXPECT_EQ(back.VersionID(), 2);
    EXPECT_EQ(back.Title(), "Title");
    EXPECT_EQ(back.Track(), 3);
}

TEST(ID3v1Write, ReplacesAnExistingTagInsteadOfAddingOne)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    auto audio = Audio(3000);
    WriteBytes(path, WithTag(audio, Build(RawTag{.title = "Old title", .genre = 1})));
    TID3v1 tag;
    tag.SetTitle("New");
    ASSERT_TRUE(tag.WriteTag(path));
    tag.SetTitle("Newer");
    ASSERT_TRUE(tag.WriteTag(path));
    auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), audio.size() + 128);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), bytes.begin()));
    TID3v1 back = ReadFrom(path);
    EXPECT_EQ(back.Title(), "Newer");
    EXPECT_EQ(back.GenreID(), 255);
}

TEST(ID3v1Write, RoundTripsLatin1AndMarksOtherCharacters)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path, Audio(300));
    TID3v1 tag;
    tag.SetArtist("Mot\u00F6rhead");
    tag.SetTitle("\u65E5\u672C");  // Japanese: no Latin-1 form
    tag.SetComment(std::string(30, 'x'));
    ASSERT_TRUE(tag.WriteTag(path));
    TID3v1 back = ReadFrom(path);
    EXPECT_EQ(back.Artist(), "Mot\u00F6rhead");
    EXPECT_EQ(back.Title(), "??");
    EXPECT_EQ(back.Comment(), std::string(30, 'x'));
    EXPECT_EQ(back.VersionID(), 1);
}

TEST(ID3v1Write, ReadOnlyFileIsWrittenAndBecomesOwnerWritable)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path, Audio(300));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    TID3v1 tag;
    tag.SetTitle("Locked");
    ASSERT_TRUE(tag.WriteTag(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(ReadFrom(path).Title(), "Locked");
}

TEST(ID3v1Write, FailsWithoutTouchingFilesItCannotUse)
{
    TempDir dir;
    TID3v1 tag;
    tag.SetTitle("x");
    EXPECT_FALSE(tag.WriteTag(dir.File("missing.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing.mp3")));
    const std::vector<uint8_t> tiny{1, 2, 3};
    WriteBytes(dir.File("tiny.mp3"), tiny);
    EXPECT_FALSE(tag.WriteTag(dir.File("tiny.mp3")));
    EXPECT_EQ(ReadBytes(dir.File("tiny.mp3")), tiny);
}

TEST(ID3v1Write, FilesBeyond4GiB)
{
    TempDir dir;
    const std::string path = dir.File("big.mp3");
    WriteBytes(path, Audio(1000));
    const uintmax_t size = (uintmax_t(5) << 30) + 17;  // sparse: takes no real space
    std::error_code error;
    std::filesystem::resize_file(path, size, error);
    if (error)
        GTEST_SKIP() << "cannot make a sparse file here: " << error.message();
    TID3v1 tag;
    tag.SetTitle("Big");
    ASSERT_TRUE(tag.WriteTag(path));
    ASSERT_TRUE(tag.WriteTag(path));
    EXPECT_EQ(std::filesystem::file_size(path), size + 128);
    TID3v1 back = ReadFrom(path);
    EXPECT_TRUE(back.Exists());
    EXPECT_EQ(back.Title(), "Big");
}

// Two editors read the file; the first saves. The second's save would put
// back the tag it read, undoing the first: it is refused, and the file
// holds the first save whole.
TEST(ID3v1Write, TheSecondOfTwoWritersIsRefusedAndTheFirstWriteKept)
{
    TempDir dir;
    const std::string path = dir.File("a.mp3");
    WriteBytes(path, WithTag(Audio(3000), Build(RawTag{.title = "Old title"})));
    // Old times: a write in the clock tick the file was made in still shows.
    const timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    TID3v1 first;
    TID3v1 other;
    ASSERT_TRUE(first.ReadTag(path));
    ASSERT_TRUE(other.ReadTag(path));
    first.SetTitle("First");
    ASSERT_TRUE(first.WriteTag(path)) << first.WriteError();
    const auto afterFirst = ReadBytes(path);
    other.SetArtist("Second");
    EXPECT_FALSE(other.WriteTag(path));
    EXPECT_TRUE(other.FileChangedSinceRead());
    EXPECT_NE(other.WriteError().find("changed by another program since it was read"), std::string::npos)
        << other.WriteError();
    EXPECT_EQ(ReadBytes(path), afterFirst);
    // The first editor saves again: its own write is no stranger's.
    first.SetTitle("First again");
    EXPECT_TRUE(first.WriteTag(path)) << first.WriteError();
    EXPECT_EQ(ReadFrom(path).Title(), "First again");
}
