// Second opinion from python3-mutagen, an independent ID3 implementation:
// tags it writes are read by ours, and tags ours writes are read by it.
#include "analysis/ID3v2.h"

#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <random>

using testsupport::Quote;
using testsupport::ReadBytes;

using testsupport::TempDir;
using testsupport::WriteBytes;
using testsupport::WriteText;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const kPython = "/usr/bin/python3";

// Writes a tag with mutagen: "v23" in UTF-16, "v24" in UTF-8, both with the
// picture from the given file and a user text frame.
const char* const kWriteScript = R"PY(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TDRC, TCON, COMM, APIC, TXXX
mode, path, picture = sys.argv[1:4]
encoding = 1 if mode == "v23" else 3
tags = ID3()
tags.add(TIT2(encoding=encoding, text=["\u0414\u0435\u043b\u044c\u0444\u0438\u043d"]))
tags.add(TPE1(encoding=encoding, text=["Mot\u00f6rhead"]))
tags.add(TALB(encoding=encoding, text=["\u65e5\u672c"]))
tags.add(TRCK(encoding=encoding, text=["3/10"]))
tags.add(TDRC(encoding=encoding, text=["1999"]))
tags.add(TCON(encoding=encoding, text=["Rock"]))
tags.add(COMM(encoding=encoding, lang="eng", desc="iTunNORM", text=[" 0000 0001"]))
tags.add(COMM(encoding=encoding, lang="eng", desc="", text=["Kommentar \u00fc"]))
tags.add(TXXX(encoding=encoding, desc="Mood", text=["Calm \u263a"]))
with open(picture, "rb") as f:
    tags.add(APIC(encoding=encoding, mime="image/jpeg", type=3, desc="Cover \u263a", data=f.read()))
tags.save(path, v2_version=3 if mode == "v23" else 4)
)PY";

// Prints what mutagen reads, one "key=value" line each (values in UTF-8).
const char* const kReadScript = R"PY(
import sys, hashlib
from mutagen.id3 import ID3
tags = ID3(sys.argv[1], translate=False)
out = {"version": "%d.%d" % tags.version[:2]}
for key in ("TIT2", "TPE1", "TALB", "TRCK", "TYER", "TDRC", "TCON"):
    if key in tags:
        out[key] = "/".join(str(t) for t in tags[key].text)
        out[key + ".encoding"] = str(int(tags[key].encoding))
comments = tags.getall("COMM")
out["COMM.count"] = str(len(comments))
for c in comments:
    out["COMM:" + c.desc] = "/".join(c.text)
for x in tags.getall("TXXX"):
    out["TXXX:" + x.desc] = "/".join(x.text)
for p in tags.getall("APIC"):
    out["APIC.md5"] = hashlib.md5(p.data).hexdigest()
    out["APIC.desc"] = p.desc
    out["APIC.mime"] = p.mime
for k, v in out.items():
    sys.stdout.buffer.write((k + "=" + v + "\n").encode("utf-8"))
)PY";

// Prints every frame as mutagen reads it, v2.2 frames under their v2.3
// names: its key, a tab and all its fields, one line each.
const char* const kDumpScript = R"PY(
import sys
from mutagen.id3 import ID3
tags = ID3(sys.argv[1], translate=False)
for frame in tags.values():
    fields = []
    for field in frame._framespec + frame._optionalspec:
        value = getattr(frame, field.name, None)
        if frame.FrameID == "APIC" and field.name == "mime":  # v2.2 names the image format
            value = {"JPG": "image/jpeg", "PNG": "image/png"}.get(value, value)
        fields.append("%s=%r" % (field.name, value))
    sys.stdout.buffer.write((frame.HashKey + "\t" + " ".join(fields) + "\n").encode("utf-8"))
)PY";

// Each line "key<separator>value" of a script's output; other lines are passed over.
std::map<std::string, std::string> KeyedLines(const std::string& output, char separator)
{
    std::map<std::string, std::string> values;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(at, end - at);
        const size_t split = line.find(separator);
        if (split != std::string::npos)
            values[line.substr(0, split)] = line.substr(split + 1);
        at = end + 1;
    }
    return values;
}

using bytebuild::Cat;
using bytebuild::Str;

using bytebuild::Id3v2Comment;
using bytebuild::Id3v2Frame22;
using bytebuild::Id3v2Frame23;
using bytebuild::Id3v2Tag;
using bytebuild::Id3v2Text;

class ID3v2Mutagen : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::HaveTool(kPython)
            || testsupport::Run(std::string(kPython) + " -c 'import mutagen'").exitCode != 0)
            GTEST_SKIP() << "python3-mutagen is missing";
        REQUIRE_TOOL("lame");
        REQUIRE_TOOL("sox");
        WriteText(dir_.File("write.py"), kWriteScript);
        WriteText(dir_.File("read.py"), kReadScript);
        WriteText(dir_.File("dump.py"), kDumpScript);
        mp3_ = dir_.File("song.mp3");
        testsupport::MakeMp3(mp3_, 1.0);
        audio_ = ReadBytes(mp3_);

        std::mt19937 random(2024);
        picture_.resize(300 * 1024);
        for (auto& byte : picture_)
            byte = uint8_t(random());
        picture_[0] = 0xFF;  // a JPEG start, and plenty of 0xFF bytes inside
        picture_[1] = 0xD8;
        WriteBytes(dir_.File("cover.jpg"), picture_);
        pictureMd5_ = Md5Of(dir_.File("cover.jpg"));
    }

    void WriteWithMutagen(const std::string& mode)
    {
        auto result = testsupport::Run(std::string(kPython) + " " + Quote(dir_.File("write.py")) + " " + mode + " "
            + Quote(mp3_) + " " + Quote(dir_.File("cover.jpg")));
        ASSERT_EQ(result.exitCode, 0) << result.output;
    }

    std::map<std::string, std::string> ReadWithMutagen()
    {
        auto result = testsupport::Run(std::string(kPython) + " " + Quote(dir_.File("read.py")) + " " + Quote(mp3_));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return KeyedLines(result.output, '=');
    }

    // Frame key to fields, as mutagen reads the file.
    std::map<std::string, std::string> DumpWithMutagen()
    {
        auto result = testsupport::Run(std::string(kPython) + " " + Quote(dir_.File("dump.py")) + " " + Quote(mp3_));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return KeyedLines(result.output, '\t');
    }

    std::string Md5Of(const std::string& path)
    {
        auto result = testsupport::Run("md5sum " + Quote(path));
        return result.output.substr(0, 32);
    }

    // The bytes after the tag, which no tag writer may change.
    Bytes AudioAfterTag()
    {
        TID3v2 tag;
        EXPECT_TRUE(tag.ReadTag(mp3_));
        Bytes bytes = ReadBytes(mp3_);
        return Bytes(bytes.begin() + tag.Size(), bytes.end());
    }

    // Reads what mutagen wrote, edits one field with ours, and checks the
    // rest (picture, user text, the other comment, audio) survived.
    void CheckEditKeepsEverything()
    {
        Bytes audioBefore = AudioAfterTag();
        EXPECT_EQ(audioBefore, audio_);
        TID3v2 tag;
        ASSERT_TRUE(tag.ReadTag(mp3_));
        tag.SetTitle("Edited \u65e5");
        struct stat before {};
        ::stat(mp3_.c_str(), &before);
        ASSERT_TRUE(tag.WriteTag(mp3_));
        EXPECT_EQ(AudioAfterTag(), audio_);
        // mutagen leaves padding, so the edit went into the tag's own bytes.
        struct stat after {};
        ::stat(mp3_.c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);

        auto values = ReadWithMutagen();
        EXPECT_EQ(values["version"], "2.3");
        EXPECT_EQ(values["TIT2"], "Edited \u65e5");
        EXPECT_EQ(values["TPE1"], "Mot\u00f6rhead");
        EXPECT_EQ(values["TALB"], "\u65e5\u672c");
        EXPECT_EQ(values["TRCK"], "3/10");  // the total survives the edit
        EXPECT_EQ(values["TDRC"], "1999");  // not edited: as it was
        EXPECT_EQ(values.count("TYER"), 0u);
        EXPECT_EQ(values["COMM:"], "Kommentar \u00fc");
        EXPECT_EQ(values["COMM:iTunNORM"], " 0000 0001");
        EXPECT_EQ(values["COMM.count"], "2");
        EXPECT_EQ(values["TXXX:Mood"], "Calm \u263a");
        EXPECT_EQ(values["APIC.md5"], pictureMd5_);
        EXPECT_EQ(values["APIC.desc"], "Cover \u263a");
        EXPECT_EQ(values["APIC.mime"], "image/jpeg");
    }

    TempDir dir_;
    std::string mp3_;
    Bytes audio_;
    Bytes picture_;
    std::string pictureMd5_;
};

void ExpectMutagenFields(const TID3v2& tag)
{
    EXPECT_EQ(tag.Title(), "\u0414\u0435\u043b\u044c\u0444\u0438\u043d");
    EXPECT_EQ(tag.Artist(), "Mot\u00f6rhead");
    EXPECT_EQ(tag.Album(), "\u65e5\u672c");
    EXPECT_EQ(tag.Track(), 3);
    EXPECT_EQ(tag.Year(), "1999");
    EXPECT_EQ(tag.Genre(), "Rock");
    EXPECT_EQ(tag.Comment(), "Kommentar \u00fc");
}

} // namespace

TEST_F(ID3v2Mutagen, ReadsVersion23Utf16AndKeepsThePicture)
{
    WriteWithMutagen("v23");
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadTag(mp3_));
    EXPECT_EQ(tag.VersionID(), 3);
    ExpectMutagenFields(tag);
    CheckEditKeepsEverything();
}

TEST_F(ID3v2Mutagen, ReadsVersion24Utf8AndKeepsThePicture)
{
    WriteWithMutagen("v24");
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadTag(mp3_));
    EXPECT_EQ(tag.VersionID(), 4);
    ExpectMutagenFields(tag);
    CheckEditKeepsEverything();
}

TEST_F(ID3v2Mutagen, MutagenReadsWhatWeWrite)
{
    struct Case {
        std::string title, artist, album, comment;
        std::string expectedEncoding;  // of the title frame
    };
    const Case cases[] = {
        {"Plain title", "Mot\u00f6rhead", "Caf\u00e9", "Latin-1 only \u00ff", "0"},
        {"\u0414\u0435\u043b\u044c\u0444\u0438\u043d", "\u65e5\u672c", "Emoji \U0001F600", "\u263a", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        TID3v2 tag;
        tag.SetTitle(c.title);
        tag.SetArtist(c.artist);
        tag.SetAlbum(c.album);
        tag.SetComment(c.comment);
        tag.SetTrack(12);
        tag.SetYear("2003");
        tag.SetGenre("Jazz");
        ASSERT_TRUE(tag.WriteTag(mp3_));
        EXPECT_EQ(AudioAfterTag(), audio_);

        auto values = ReadWithMutagen();
        EXPECT_EQ(values["version"], "2.3");
        EXPECT_EQ(values["TIT2"], c.title);
        EXPECT_EQ(values["TIT2.encoding"], c.expectedEncoding);
        EXPECT_EQ(values["TPE1"], c.artist);
        EXPECT_EQ(values["TALB"], c.album);
        EXPECT_EQ(values["COMM:"], c.comment);
        EXPECT_EQ(values["TRCK"], "12");
        EXPECT_EQ(values["TYER"], "2003");
        EXPECT_EQ(values["TCON"], "Jazz");
    }
}

// Tags as other programs write them, one field edited with ours: mutagen
// finds every other frame as it was, field by field (texts whole, their
// encodings, v2.2 frames under their v2.3 names), and the edited one with
// the new text.
TEST_F(ID3v2Mutagen, AWriteKeepsEveryFrameNotEdited)
{
    const Bytes utf16Artist = {1, 0xFF, 0xFE, 'M', 0, 0xF6, 0, 't', 0, 0, 0};
    struct Case {
        const char* what;
        Bytes tag;
        std::function<void(TID3v2&)> edit;
        std::string editedKey;
        std::string editedFields;  // found in the edited frame's fields
    };
    const Case cases[] = {
        {"iTunes and hand-made v2.2 frames",
            Id3v2Tag(2, 0,
                Cat({Id3v2Frame22("TT2", Id3v2Text(0, "Old title")), Id3v2Frame22("TP1", utf16Artist),
                    Id3v2Frame22("TAL", Id3v2Text(0, "Album")),
                    Id3v2Frame22("COM", Id3v2Comment(0, "iTunNORM", " 00000A 00000B")),
                    Id3v2Frame22("COM", Id3v2Comment(0, "", "Plain comment")),
                    Id3v2Frame22("RVA", Bytes {3, 16, 1, 0, 1, 0, 32, 0, 32, 0}),
                    Id3v2Frame22("TCP", Id3v2Text(0, "1")), Id3v2Frame22("TST", Id3v2Text(0, "Title, sorted")),
                    Id3v2Frame22("TSA", Id3v2Text(0, "Album, sorted")),
                    Id3v2Frame22("TSP", Id3v2Text(0, "Artist, sorted")),
                    Id3v2Frame22("TS2", Id3v2Text(0, "Album artist, sorted")),
                    Id3v2Frame22("TSC", Id3v2Text(0, "Composer, sorted")), Id3v2Frame22("TRK", Id3v2Text(0, "02/10")),
                    Id3v2Frame22("POP", Cat({Str("someone@example.org"), {0, 196, 0, 0, 0, 7}})),
                    Id3v2Frame22("CNT", Bytes {0, 0, 0, 9}),
                    Id3v2Frame22("UFI", Cat({Str("http://owner"), {0}, Str("ID-123")})),
                    Id3v2Frame22("WAR", Str("http://artist.example")),
                    Id3v2Frame22("GEO",
                        Cat({Id3v2Text(0, "text/plain"), {0}, Str("a.txt"), {0}, Str("Object"), {0}, Str("data")})),
                    Id3v2Frame22("IPL", Cat({Id3v2Text(0, "producer"), {0}, Str("Someone"), {0}})),
                    Id3v2Frame22("PIC", Cat({Id3v2Text(0, "JPG"), {3}, Str("front"), {0}, Bytes(3000, 0xA5)}))}),
                100),
            [](TID3v2& tag) { tag.SetTitle("New title"); }, "TIT2", "text=['New title']"},
        {"a 400-character title and a 1,000-character comment beside the edit",
            Id3v2Tag(3, 0,
                Cat({Id3v2Frame23("TIT2", Id3v2Text(0, std::string(400, 'T'))),
                    Id3v2Frame23("TPE1", Id3v2Text(0, "Artist")),
                    Id3v2Frame23("COMM", Id3v2Comment(0, "", std::string(1000, 'c')))}),
                100),
            [](TID3v2& tag) { tag.SetArtist("New artist"); }, "TPE1", "text=['New artist']"},
        {"described comments and the plain one in its language",
            Id3v2Tag(3, 0,
                Cat({Id3v2Frame23("COMM", Id3v2Comment(0, "iTunNORM", " 00000A 00000B")),
                    Id3v2Frame23("COMM", Id3v2Comment(0, "first desc", "First")),
                    Id3v2Frame23("COMM", Id3v2Comment(0, "", "Kommentar", "deu")),
                    Id3v2Frame23("COMM", Id3v2Comment(0, "second desc", "Second")),
                    Id3v2Frame23("TIT2", Id3v2Text(0, "Title"))}),
                100),
            [](TID3v2& tag) { tag.SetComment("Neu"); }, "COMM::deu", "text=['Neu']"},
        {"track texts",
            Id3v2Tag(3, 0, Cat({Id3v2Frame23("TRCK", Id3v2Text(0, "01")), Id3v2Frame23("TIT2", Id3v2Text(0, "Title"))}),
                100),
            [](TID3v2& tag) { tag.SetTitle("New title"); }, "TIT2", "text=['New title']"},
        {"two artist frames",
            Id3v2Tag(3, 0,
                Cat({Id3v2Frame23("TPE1", Id3v2Text(0, "One")), Id3v2Frame23("TIT2", Id3v2Text(0, "Title")),
                    Id3v2Frame23("TPE1", Id3v2Text(0, "Two"))}),
                100),
            [](TID3v2& tag) { tag.SetTitle("New title"); }, "TIT2", "text=['New title']"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(mp3_, Cat({c.tag, audio_}));
        const auto before = DumpWithMutagen();
        ASSERT_TRUE(before.count(c.editedKey)) << c.editedKey;
        TID3v2 tag;
        ASSERT_TRUE(tag.ReadTag(mp3_));
        c.edit(tag);
        ASSERT_TRUE(tag.WriteTag(mp3_)) << tag.WriteError();
        EXPECT_EQ(AudioAfterTag(), audio_);
        auto after = DumpWithMutagen();
        EXPECT_NE(after[c.editedKey].find(c.editedFields), std::string::npos) << after[c.editedKey];
        for (const auto& [key, fields] : before) {
            if (key != c.editedKey) {
                EXPECT_EQ(after[key], fields) << key;
            }
        }
        EXPECT_EQ(after.size(), before.size());
    }
}
