#include "core/PartNames.h"

#include <gtest/gtest.h>

#include "analysis/TextCodec.h"
#include "core/SplitPlan.h"

namespace {

PartNameFields Fields(std::string title, int64_t number, int64_t count)
{
    PartNameFields fields;
    fields.Source = "song";
    fields.Album = "Album";
    fields.Artist = "Band";
    fields.Title = std::move(title);
    fields.Number = number;
    fields.Count = count;
    return fields;
}

std::vector<SplitPart> Titled(std::initializer_list<const char*> titles)
{
    std::vector<SplitPart> parts;
    for (const char* title : titles)
        parts.push_back({0, 1, title, {}});
    return parts;
}

} // namespace

TEST(PartNames, FillTheTemplateWithNamesEveryFileSystemTakes)
{
    struct Case {
        const char* What;
        std::string Template;
        PartNameFields Fields;
        std::string Name;
    };
    PartNameFields oddSource = Fields("", 1, 2);
    oddSource.Source = " a:b?\x01";
    PartNameFields unknown = Fields("", 1, 2);
    unknown.Artist.clear();
    unknown.Album.clear();
    const std::vector<Case> cases = {
        {"equal parts as always", std::string(kEqualPartsNameTemplate), Fields("", 3, 12), "song_chunk_3.mp3"},
        {"nine parts: one digit", "{n} - {title}", Fields("Intro", 1, 9), "1 - Intro.mp3"},
        {"ten parts: two digits", "{n} - {title}", Fields("Intro", 1, 10), "01 - Intro.mp3"},
        {"a hundred parts: three digits", "{n}. {artist} - {title}", Fields("Intro", 7, 100), "007. Band - Intro.mp3"},
        {"unpadded and every field", "{album}-{k}-{source}-{artist}", Fields("", 7, 100), "Album-7-song-Band.mp3"},
        {"refused characters in a tag", "{n} - {title}", Fields("AC/DC: \"Live\" <1|2> *?\\\tx", 2, 2),
         "2 - AC_DC_ _Live_ _1_2_ ____x.mp3"},
        {"the source's own name kept", std::string(kEqualPartsNameTemplate), oddSource, " a:b?\x01_chunk_1.mp3"},
        {"a slash in the template", "{album}/{n}\t", Fields("", 1, 2), "Album_1_.mp3"},
        {"trailing dots and blanks", "{title}", Fields("  Intro... ", 1, 2), "Intro.mp3"},
        {"no title", "{n} - {title}", Fields("", 4, 12), "04 - Track 04.mp3"},
        {"a blank title", "{n} - {title}", Fields("  ", 4, 12), "04 - Track 04.mp3"},
        {"no artist, no album", "{artist} - {album}", unknown, "Unknown Artist - Unknown Album.mp3"},
        {"unknown field as written", "{n} {year}", Fields("", 1, 2), "1 {year}.mp3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PartNameFromTemplate(c.Template, c.Fields), c.Name) << c.What;

    // The equal-parts split names its parts through the same rule.
    for (int64_t k : {1, 9, 10, 99})
        EXPECT_EQ(PartFileName("My Song", k), "My Song_chunk_" + std::to_string(k) + ".mp3");

    EXPECT_EQ(NameTemplateError("{n} - {title}"), "");
    EXPECT_EQ(NameTemplateError("{n} {year}"),
              "unknown field {year} in the name template (fields: {n} {k} {title} {artist} {album} {source})");
    EXPECT_EQ(NameTemplateError(" . "), "the name template is empty");
}

TEST(PartNames, StayWithinTheLongestNameAFileSystemTakes)
{
    // The longest title a tag gives, in two-byte characters: it is shortened
    // on a character boundary, the number and the extension stay, and the
    // album (longer still, but not in the name) keeps the title its room.
    std::string title;
    for (size_t i = 0; i < 65536; ++i)
        title += "\xC3\xA9";
    PartNameFields fields = Fields(title, 1, 10);
    fields.Album = std::string(200000, 'a');
    std::string name = PartNameFromTemplate("{n} - {title}", fields);
    EXPECT_LE(name.size(), kMaxPartNameBytes);
    EXPECT_GT(name.size(), kMaxPartNameBytes - 10);
    EXPECT_EQ(name.substr(0, 5), "01 - ");
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
    EXPECT_EQ(ValidUtf8(name), name);

    // The source's name is as long as a file name can be: its parts' names
    // are not made longer still.
    std::string source(251, 's');
    const std::string part = PartFileName(source, 12);
    EXPECT_LE(part.size(), kMaxPartNameBytes);
    EXPECT_EQ(part.substr(part.size() - 14), "s_chunk_12.mp3");
}

TEST(PartNames, NoTwoPartsOfASplitShareAName)
{
    auto names = PartNamesFromTemplate("{title}", Titled({"Same", "same", "Other", "Same", "Same (2)"}), "song",
                                       "Album", "Band");
    ASSERT_TRUE(names) << names.Error;
    EXPECT_EQ(*names.Value, (std::vector<std::string>{"Same.mp3", "same (2).mp3", "Other.mp3", "Same (3).mp3",
                                                      "Same (2) (2).mp3"}));

    std::vector<SplitPart> parts = Titled({"A", "B"});
    parts[1].Performer = "Guest";
    auto artists = PartNamesFromTemplate("{n} {artist}", parts, "song", "", "Band");
    ASSERT_TRUE(artists) << artists.Error;
    EXPECT_EQ(*artists.Value, (std::vector<std::string>{"1 Band.mp3", "2 Guest.mp3"}));
    EXPECT_EQ(PartNamesFromTemplate("{nr}", parts, "song", "", "").Error,
              "unknown field {nr} in the name template (fields: {n} {k} {title} {artist} {album} {source})");
}

TEST(PartTags, TheSourcesTagsThenThePartsOwn)
{
    TagTexts source;
    source.Title = "Whole Set";
    source.Artist = "Band";
    source.Album = "Live";
    source.Year = "1999";
    source.Genre = "Rock";
    source.Comment = "taped";
    source.Track = 5;
    source.TrackTotal = "9";

    TagTexts titled = PartTagTexts(source, {0, 1, "Two", "Guest"}, 2, 12);
    EXPECT_EQ(titled.Title, "Two");
    EXPECT_EQ(titled.Artist, "Guest");
    EXPECT_EQ(titled.Track, 2);
    EXPECT_EQ(titled.TrackTotal, "12");
    EXPECT_EQ(titled.Album, "Live");
    EXPECT_EQ(titled.Year, "1999");
    EXPECT_EQ(titled.Genre, "Rock");
    EXPECT_EQ(titled.Comment, "taped");

    TagTexts plain = PartTagTexts(source, {0, 1, "", ""}, 3, 3);
    EXPECT_EQ(plain.Title, "Whole Set");
    EXPECT_EQ(plain.Artist, "Band");
    EXPECT_EQ(plain.Track, 3);
    EXPECT_EQ(plain.TrackTotal, "3");
}
