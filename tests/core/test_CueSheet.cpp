#include "core/CueSheet.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

struct ExpectedTrack {
    int32_t Number;
    int64_t StartMs;
    std::string Title;
    std::string Performer;
};

struct QuirkCase {
    const char* Quirk;
    std::string Bytes;
    std::string AlbumTitle;
    std::string AlbumPerformer;
    std::vector<ExpectedTrack> Tracks;
};

// The sheet most rippers write, in the line ending and encoding given.
std::string PlainSheet(const std::string& eol, const std::string& title2)
{
    return "REM GENRE Rock" + eol + "REM DATE 1999" + eol + "PERFORMER \"The Band\"" + eol + "TITLE \"Album\"" + eol +
           "FILE \"album.mp3\" MP3" + eol + "  TRACK 01 AUDIO" + eol + "    TITLE \"One\"" + eol +
           "    INDEX 01 00:00:00" + eol + "  TRACK 02 AUDIO" + eol + "    TITLE \"" + title2 + "\"" + eol +
           "    PERFORMER \"Guest\"" + eol + "    INDEX 00 03:58:00" + eol + "    INDEX 01 04:00:74" + eol;
}

} // namespace

TEST(CueSheet, ReadsTheSheetsPeopleHave)
{
    // 04:00:74 is 240 s and 74/75 s: 240986.67 ms, to the nearest ms.
    const std::vector<ExpectedTrack> plain = {{1, 0, "One", ""}, {2, 240987, "Two", "Guest"}};
    const std::vector<QuirkCase> cases = {
        {"LF", PlainSheet("\n", "Two"), "Album", "The Band", plain},
        {"CRLF", PlainSheet("\r\n", "Two"), "Album", "The Band", plain},
        {"lone CR", PlainSheet("\r", "Two"), "Album", "The Band", plain},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + PlainSheet("\r\n", "Two"), "Album", "The Band", plain},
        {"UTF-8 text", PlainSheet("\n", "Caf\xC3\xA9"), "Album", "The Band",
         {{1, 0, "One", ""}, {2, 240987, "Caf\xC3\xA9", "Guest"}}},
        {"Latin-1 text", PlainSheet("\r\n", "Caf\xE9"), "Album", "The Band",
         {{1, 0, "One", ""}, {2, 240987, "Caf\xC3\xA9", "Guest"}}},
        {"INDEX 1, tabs, extra spaces, lower case",
         "performer   The Band\ntitle\t\"Album\"  \nFILE album.wav WAVE\n\tTRACK 1 AUDIO\n\tINDEX 1   00:00:00\n"
         "track   02    audio\n\t\ttitle   Two words\nindex\t1\t04:00:74   \n",
         "Album", "The Band", {{1, 0, "", ""}, {2, 240987, "Two words", ""}}},
        {"no titles, FILE of another kind, unknown commands",
         "CATALOG 0000000000000\nFILE \"album.flac\" FLAC\nTRACK 01 AUDIO\nFLAGS DCP\nISRC ABCDE1234567\n"
         "INDEX 01 00:00:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\nINDEX 01 01:00:00\nREM COMMENT \"x\"\n",
         "", "", {{1, 0, "", ""}, {2, 60000, "", ""}}},
        {"empty quoted title, text after the closing quote",
         "TRACK 01 AUDIO\nTITLE \"\"\nPERFORMER \"A\" trailing\nINDEX 01 00:00:01\n", "", "", {{1, 13, "", "A"}}},
    };
    for (const QuirkCase& c : cases) {
        SCOPED_TRACE(c.Quirk);
        ParseResult<CueSheet> parsed = ParseCueSheet(c.Bytes);
        ASSERT_TRUE(parsed) << parsed.Error;
        EXPECT_EQ(parsed.Value->Title, c.AlbumTitle);
        EXPECT_EQ(parsed.Value->Performer, c.AlbumPerformer);
        ASSERT_EQ(parsed.Value->Tracks.size(), c.Tracks.size());
        for (size_t i = 0; i < c.Tracks.size(); ++i) {
            const CueTrack& track = parsed.Value->Tracks[i];
            EXPECT_EQ(track.Number, c.Tracks[i].Number) << i;
            EXPECT_EQ(track.StartMs, c.Tracks[i].StartMs) << i;
            EXPECT_EQ(track.Title, c.Tracks[i].Title) << i;
            EXPECT_EQ(track.Performer, c.Tracks[i].Performer) << i;
        }
    }
    ParseResult<CueSheet> plainSheet = ParseCueSheet(PlainSheet("\r\n", "Two"));
    ASSERT_TRUE(plainSheet);
    EXPECT_EQ(plainSheet.Value->Date, "1999");
    EXPECT_EQ(plainSheet.Value->Genre, "Rock");
    EXPECT_EQ(plainSheet.Value->File, "album.mp3");
}

TEST(CueSheet, RefusesABrokenSheetWithItsLineAndReason)
{
    const std::string track1 = "TRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1: the sheet has no TRACK"},
        {"TITLE \"Album\"\nFILE \"a.mp3\" MP3\n", "line 2: the sheet has no TRACK"},
        {track1 + "TRACK 02 AUDIO\nINDEX 01 00:61:00\n", "line 4: INDEX time '00:61:00' has 61 seconds (at most 59)"},
        {track1 + "TRACK 02 AUDIO\nINDEX 01 01:00:75\n", "line 4: INDEX time '01:00:75' has 75 frames (at most 74)"},
        {track1 + "TRACK 02 AUDIO\r\nINDEX 01 1:00\r\n", "line 4: INDEX time '1:00' is not MM:SS:FF"},
        {track1 + "TRACK 02 AUDIO\nINDEX 01 01:x0:00\n", "line 4: INDEX time '01:x0:00' is not MM:SS:FF"},
        {track1 + "TRACK 02 AUDIO\nINDEX 01\n", "line 4: INDEX time '' is not MM:SS:FF"},
        {track1 + "TRACK 02 AUDIO\nINDEX 01 -1:00:00\n", "line 4: INDEX time '-1:00:00' is not MM:SS:FF"},
        {"TRACK 01 AUDIO\nINDEX 01 02:00:00\nTRACK 02 AUDIO\nTITLE \"B\"\nINDEX 01 01:59:74\n",
         "line 5: track 2 starts at 01:59:74, not after track 1"},
        {"TRACK 01 AUDIO\nINDEX 01 02:00:00\nTRACK 02 AUDIO\nINDEX 01 02:00:00\n",
         "line 4: track 2 starts at 02:00:00, not after track 1"},
        {track1 + "TRACK 02 AUDIO\nTITLE \"Unterminated\nINDEX 01 01:00:00\n", "line 4: unterminated quote"},
        {"FILE \"a.mp3 MP3\n" + track1, "line 1: unterminated quote"},
        {track1 + "TRACK 02 AUDIO\nTITLE \"B\"\nTRACK 03 AUDIO\nINDEX 01 03:00:00\n", "line 3: track 2 has no INDEX 01"},
        {track1 + "TRACK 02 AUDIO\n", "line 3: track 2 has no INDEX 01"},
        {"INDEX 01 00:00:00\n" + track1, "line 1: INDEX before any TRACK"},
        {"TRACK AUDIO\nINDEX 01 00:00:00\n", "line 1: TRACK 'AUDIO' is not a track number"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 01 00:01:00\n", "line 3: a second INDEX 01 in track 1"},
        {"FILE a.mp3 MP3\n" + track1 + "FILE b.mp3 MP3\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
         "line 4: a second FILE (first on line 1): the times of a sheet of several files are not times of one"},
    };
    for (const auto& [sheet, error] : cases) {
        ParseResult<CueSheet> parsed = ParseCueSheet(sheet);
        EXPECT_FALSE(parsed) << sheet;
        EXPECT_EQ(parsed.Error, error) << sheet;
    }
}

TEST(CueSheet, IsFoundBesideTheAudioFileByItsBaseName)
{
    testsupport::TempDir folder;
    const std::string song = folder.File("song.mp3");
    testsupport::WriteText(song, "");
    EXPECT_FALSE(CueSheetBeside(song).has_value());
    testsupport::WriteText(folder.File("song.mp3.cue"), "");
    EXPECT_EQ(CueSheetBeside(song), folder.File("song.mp3.cue"));
    testsupport::WriteText(folder.File("song.cue"), "TRACK 01 AUDIO\r\nINDEX 01 00:00:00\r\n");
    EXPECT_EQ(CueSheetBeside(song), folder.File("song.cue"));
    EXPECT_FALSE(CueSheetBeside(folder.File("other.mp3")).has_value());

    ParseResult<CueSheet> read = ReadCueSheet(folder.File("song.cue"));
    ASSERT_TRUE(read) << read.Error;
    EXPECT_EQ(read.Value->Tracks.size(), 1u);
    ParseResult<CueSheet> missing = ReadCueSheet(folder.File("none.cue"));
    EXPECT_EQ(missing.Error.rfind("Cannot open file \"" + folder.File("none.cue") + "\". ", 0), 0u) << missing.Error;
}
