// TWMAfile on ASF headers assembled object by object in the test, and on a
// file written by ffmpeg.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "analysis/TextCodec.h"
#include "analysis/WMAfile.h"
#include "support/ByteBuilders.h"
#include "support/TestSupport.h"

using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using bytebuild::Bytes;
using bytebuild::PutLE;
using bytebuild::SetLE;
using Guid = std::array<uint8_t, 16>;

const Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Guid kExtendedContent = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const Guid kUnknown = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

Bytes FileProperties(uint32_t maxBitRate)
{
    Bytes body(76, 0);  // object offsets 24..99; the maximum bit rate at 100
    PutLE(body, maxBitRate, 4);
    return bytebuild::AsfObject(kFileProperties, body);
}

Bytes StreamProperties(uint16_t channels, uint32_t sampleRate, uint32_t byteRate)
{
    Bytes body(54, 0);  // stream type, error correction, ...; the wave format at 78
    PutLE(body, 0x0161, 2);
    PutLE(body, channels, 2);
    PutLE(body, sampleRate, 4);
    PutLE(body, byteRate, 4);
    PutLE(body, 4, 2);
    PutLE(body, 16, 2);
    PutLE(body, 0, 2);
    return bytebuild::AsfObject(kStreamProperties, body);
}

// UTF-16LE with the terminating NUL that files carry.
Bytes Utf16(const std::string& utf8)
{
    const std::string text = Utf8ToUtf16LE(utf8);
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes ContentDescription(const std::array<std::string, 5>& texts)
{
    Bytes body;
    std::array<Bytes, 5> strings;
    for (size_t k = 0; k < 5; ++k) {
        strings[k] = texts[k].empty() ? Bytes{} : Utf16(texts[k]);
        PutLE(body, strings[k].size(), 2);
    }
    for (const Bytes& s : strings)
        body.insert(body.end(), s.begin(), s.end());
    return bytebuild::AsfObject(kContentDescription, body);
}

struct Descriptor {
    std::string name;
    uint16_t type = 0;
    Bytes value;  // as stored
};

Descriptor Text(const std::string& name, const std::string& value)
{
    return {name, 0, Utf16(value)};
}

Bytes ExtendedContent(const std::vector<Descriptor>& descriptors)
{
    Bytes body;
    PutLE(body, descriptors.size(), 2);
    for (const Descriptor& d : descriptors) {
        const Bytes name = Utf16(d.name);
        PutLE(body, name.size(), 2);
        body.insert(body.end(), name.begin(), name.end());
        PutLE(body, d.type, 2);
        PutLE(body, d.value.size(), 2);
        body.insert(body.end(), d.value.begin(), d.value.end());
    }
    return bytebuild::AsfObject(kExtendedContent, body);
}

Bytes Asf(const std::vector<Bytes>& objects, size_t audioBytes = 4000)
{
    Bytes file(kHeader.begin(), kHeader.end());
    size_t size = 30;
    for (const Bytes& o : objects)
        size += o.size();
    PutLE(file, size, 8);
    PutLE(file, objects.size(), 4);
    file.push_back(1);
    file.push_back(2);
    for (const Bytes& o : objects)
        file.insert(file.end(), o.begin(), o.end());
    file.resize(file.size() + audioBytes, 0x5A);  // stands for the data object
    return file;
}

std::vector<Bytes> Plausible()
{
    return {FileProperties(128000), StreamProperties(2, 44100, 16000)};
}

class WMAfileTest : public ::testing::Test {
protected:
    std::string Write(const Bytes& bytes)
    {
        const std::string path = dir.File("file" + std::to_string(++count) + ".wma");
        WriteBytes(path, bytes);
        return path;
    }

    std::vector<Bytes> With(std::vector<Bytes> objects)
    {
        std::vector<Bytes> all = Plausible();
        all.insert(all.end(), objects.begin(), objects.end());
        return all;
    }

    TempDir dir;
    TWMAfile wma;
    int count = 0;
};

} // namespace

TEST_F(WMAfileTest, StreamValuesAndTexts)
{
    const Bytes file = Asf(With({
        bytebuild::AsfObject(kUnknown, Bytes(40, 0xEE)),
        ContentDescription({"Title", "Author", "Copyright", "Description", "Rating"}),
        ExtendedContent({Text("WM/AlbumTitle", "Album"), Text("WM/Year", "2003"), Text("WM/Genre", "Pop"),
                         Text("WM/Track", "3")}),
    }));
    ASSERT_TRUE(wma.Analyze(Write(file)));
    ASSERT_TRUE(wma.Valid());
    EXPECT_EQ(wma.FileSize(), int64_t(file.size()));
    EXPECT_EQ(wma.Channels(), 2);
    EXPECT_EQ(wma.SampleRate(), 44100);
    EXPECT_DOUBLE_EQ(wma.Duration(), file.size() * 8.0 / 128000);
    EXPECT_EQ(wma.BitRate(), 128);
    EXPECT_EQ(wma.Title(), "Title");
    EXPECT_EQ(wma.Artist(), "Author");
    EXPECT_EQ(wma.Comment(), "Description");
    EXPECT_EQ(wma.Album(), "Album");
    EXPECT_EQ(wma.Year(), "2003");
    EXPECT_EQ(wma.Genre(), "Pop");
    EXPECT_EQ(wma.Track(), 3);
}

TEST_F(WMAfileTest, BitRateIsWholeKilobits)
{
    ASSERT_TRUE(wma.Analyze(Write(Asf({FileProperties(64000), StreamProperties(1, 22050, 8124)}))));
    EXPECT_EQ(wma.BitRate(), 64);  // 64992 div 1000
    EXPECT_EQ(wma.Channels(), 1);
}

TEST_F(WMAfileTest, NonTextDescriptorIsSkippedBeforeTheAlbum)
{
    Descriptor number{"WM/TrackNumber", 3, {7, 0, 0, 0}};
    Descriptor flag{"IsVBR", 2, {1, 0, 0, 0}};
    Descriptor title{"WM/Title", 1, {0x41, 0, 0x42, 0}};  // bytes, not text: ignored
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({ExtendedContent({number, flag, title, Text("WM/ALBUMTITLE", "Found")})})))));
    EXPECT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Album(), "Found");
    EXPECT_EQ(wma.Title(), "");
    EXPECT_EQ(wma.Track(), 0);
}

TEST_F(WMAfileTest, LaterObjectWins)
{
    const Bytes description = ContentDescription({"From description", "", "", "", ""});
    const Bytes extended = ExtendedContent({Text("WM/Title", "From extended")});
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({description, extended})))));
    EXPECT_EQ(wma.Title(), "From extended");
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({extended, description})))));
    EXPECT_EQ(wma.Title(), "From description");

    // A later stream properties object replaces the values of an earlier one.
    ASSERT_TRUE(wma.Analyze(Write(Asf({FileProperties(128000), StreamProperties(2, 44100, 16000),
                                       StreamProperties(1, 32000, 8000)}))));
    EXPECT_EQ(wma.Channels(), 1);
    EXPECT_EQ(wma.SampleRate(), 32000);
    EXPECT_EQ(wma.BitRate(), 64);
}

TEST_F(WMAfileTest, NamesAreTrimmedAndMatchedWhateverTheirCase)
{
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({ExtendedContent(
        {Text(" wm/genre ", "  Jazz \t"), Text("wm/description", "Notes"), Text("WM/GenreID", "Other")})})))));
    EXPECT_EQ(wma.Genre(), "Jazz");
    EXPECT_EQ(wma.Comment(), "Notes");
}

TEST_F(WMAfileTest, FieldStringsOf502BytesOrMoreKeep250Characters)
{
    const std::string longText(300, 'L');   // 602 bytes with the NUL
    const std::string exact(250, 'E');      // 502 bytes with the NUL
    const std::string below(249, 'B');      // 500 bytes with the NUL: kept whole
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({
        ExtendedContent({Text("WM/AlbumTitle", longText), Text("WM/Year", exact), Text("WM/Genre", below),
                         Text("WM/Track", "9")}),
        ContentDescription({"", "", "", longText + "!", ""}),
    })))));
    EXPECT_EQ(wma.Album(), std::string(250, 'L'));
    EXPECT_EQ(wma.Year(), std::string(250, 'E'));
    EXPECT_EQ(wma.Genre(), below);
    EXPECT_EQ(wma.Track(), 9);  // read correctly behind the long strings
    EXPECT_EQ(wma.Comment(), std::string(250, 'L'));

    // A name that long is cut as well and then matches nothing.
    ASSERT_TRUE(wma.Analyze(Write(Asf(With({ExtendedContent({Text("WM/Title" + std::string(260, 'x'), "T"),
                                                             Text("WM/Year", "1999")})})))));
    EXPECT_EQ(wma.Title(), "");
    EXPECT_EQ(wma.Year(), "1999");
}

TEST_F(WMAfileTest, TrackConversion)
{
    for (auto [text, expected] : {std::pair{"3", 3}, {"3/12", 0}, {" 12 ", 12}, {"x", 0}, {"", 0}}) {
        ASSERT_TRUE(wma.Analyze(Write(Asf(With({ExtendedContent({Text("WM/Track", text)})})))));
        EXPECT_EQ(wma.Track(), expected) << text;
    }
}

TEST_F(WMAfileTest, PlausibilityBoundsAreStrict)
{
    struct Case {
        uint32_t maxBitRate;
        uint16_t channels;
        uint32_t sampleRate;
        uint32_t byteRate;
        bool valid;
    };
    const Case cases[] = {
        {319999, 2, 48000, 39999, true},  {320000, 2, 48000, 16000, false}, {0, 2, 48000, 16000, false},
        {128000, 2, 48000, 40000, false}, {128000, 2, 48000, 0, false},     {128000, 3, 48000, 16000, false},
        {128000, 0, 48000, 16000, false}, {128000, 1, 8000, 16000, true},   {128000, 1, 7999, 16000, false},
        {128000, 1, 96000, 16000, true},  {128000, 1, 96001, 16000, false},
    };
    for (const Case& c : cases) {
        const Bytes file = Asf({FileProperties(c.maxBitRate), StreamProperties(c.channels, c.sampleRate, c.byteRate),
                                ContentDescription({"Some title", "", "", "", ""})});
        ASSERT_TRUE(wma.Analyze(Write(file)));
        EXPECT_EQ(wma.Valid(), c.valid) << c.maxBitRate << " " << c.channels << " " << c.sampleRate << " " << c.byteRate;
        if (!c.valid) {
            // Nothing of an implausible file is reported.
            EXPECT_EQ(wma.Title(), "");
            EXPECT_EQ(wma.FileSize(), 0);
            EXPECT_EQ(wma.Duration(), 0);
        }
    }
}

TEST_F(WMAfileTest, NotAsfIsNoError)
{
    ASSERT_TRUE(wma.Analyze(Write(Bytes(100, 0x11))));
    EXPECT_FALSE(wma.Valid());
    // Too short to hold a GUID: a read error.
    EXPECT_FALSE(wma.Analyze(Write(Bytes(10, 0x11))));
    EXPECT_FALSE(wma.Analyze(dir.File("missing.wma")));
    EXPECT_FALSE(wma.Valid());
}

TEST_F(WMAfileTest, TruncatedInsideAnObject)
{
    Bytes file = Asf(With({ContentDescription({"Title", "Author", "", "", ""})}), 0);
    file.resize(file.size() - 5);
    EXPECT_FALSE(wma.Analyze(Write(file)));
    EXPECT_FALSE(wma.Valid());
    EXPECT_EQ(wma.Title(), "");
}

TEST_F(WMAfileTest, HostileSizesEndTheWalk)
{
    // An object claiming a size of 0 would be read again and again.
    Bytes zeroSize = Asf(Plausible());
    SetLE(zeroSize, 30 + 16, 0, 8);
    SetLE(zeroSize, 24, 0xFFFFFFFF, 4);  // and four billion objects
    EXPECT_FALSE(wma.Analyze(Write(zeroSize)));

    // Many objects announced, few present: the walk stops at the end of the file.
    Bytes many = Asf(Plausible(), 0);
    SetLE(many, 24, 0xFFFFFFFF, 4);
    EXPECT_FALSE(wma.Analyze(Write(many)));

    // A descriptor count far beyond what the object holds.
    Bytes descriptors = Asf(With({ExtendedContent({Text("WM/Year", "2001")})}), 0);
    SetLE(descriptors, descriptors.size() - ExtendedContent({Text("WM/Year", "2001")}).size() + 24, 0xFFFF, 2);
    EXPECT_FALSE(wma.Analyze(Write(descriptors)));

    // A huge object size skips to beyond the end; nothing more is read.
    Bytes skipped = Asf(With({bytebuild::AsfObject(kUnknown, Bytes(8, 0))}), 0);
    SetLE(skipped, skipped.size() - 32 + 16, 0xFFFFFFF0, 4);
    SetLE(skipped, 24, 3, 4);
    EXPECT_TRUE(wma.Analyze(Write(skipped)));
    EXPECT_TRUE(wma.Valid());
}

TEST_F(WMAfileTest, FileFromFfmpegTaggedByMutagen)
{
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("/usr/bin/python3");
    const std::string path = dir.File("tone.wma");
    const auto made = testsupport::Run(
        "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=4' -ac 2 -c:a wmav2 "
        "-b:a 96k -map_metadata -1 " + testsupport::Quote(path));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    // Title, Author and Description go to the content description object,
    // the WM/ names to the extended one.
    const auto tagged = testsupport::Run(
        "/usr/bin/python3 -c \"import sys, mutagen.asf as a; f = a.ASF(sys.argv[1]); "
        "f['Title'] = 'T\xC3\xADtulo'; f['Author'] = 'Artist'; f['Description'] = 'Note'; "
        "f['WM/AlbumTitle'] = 'Album'; f['WM/Year'] = '2011'; f['WM/Genre'] = 'Folk'; f['WM/Track'] = '6'; "
        "f.save()\" " + testsupport::Quote(path));
    ASSERT_EQ(tagged.exitCode, 0) << tagged.output;
    ASSERT_TRUE(wma.Analyze(path));
    ASSERT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Channels(), 2);
    EXPECT_EQ(wma.SampleRate(), 44100);
    EXPECT_EQ(wma.Title(), "T\xC3\xADtulo");
    EXPECT_EQ(wma.Artist(), "Artist");
    EXPECT_EQ(wma.Comment(), "Note");
    EXPECT_EQ(wma.Album(), "Album");
    EXPECT_EQ(wma.Year(), "2011");
    EXPECT_EQ(wma.Genre(), "Folk");
    EXPECT_EQ(wma.Track(), 6);
    EXPECT_NEAR(wma.BitRate(), 96, 2);
}
