#include "Originals.h"

#include <cstring>

#include "support/ByteBuilders.h"

namespace originals {

void Put(Bytes& out, const std::string& text)
{
    bytebuild::Append(out, bytebuild::Str(text));
}

Bytes Frames(std::array<uint8_t, 4> header, int count)
{
    Bytes out;
    for (int k = 0; k < count; ++k)
        bytebuild::Append(out, bytebuild::MpegFrame(header, uint8_t(k)));
    return out;
}

Bytes Id3v1Tag()
{
    return bytebuild::Id3v1Block({"Title", "Artist", "", "1999", "", 3, 17});
}

Bytes Id3v2Tag(uint8_t version, uint8_t flags, const Bytes& frames, size_t padding)
{
    return bytebuild::Id3v2Tag(version, flags, frames, padding);
}

Bytes Id3v23()
{
    Bytes frames = bytebuild::Id3v2TextFrame23("TIT2", 0, {'S', 'o', 'n', 'g'});
    const Bytes utf16 = {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE};  // with a surrogate pair
    const Bytes artist = bytebuild::Id3v2TextFrame23("TPE1", 1, utf16);
    frames.insert(frames.end(), artist.begin(), artist.end());
    const Bytes comment = bytebuild::Id3v2TextFrame23("COMM", 0, {'e', 'n', 'g', 'd', 0, 'T', 'e', 'x', 't'});
    frames.insert(frames.end(), comment.begin(), comment.end());
    const Bytes track = bytebuild::Id3v2TextFrame23("TRCK", 0, {'3', '/', '9'});
    frames.insert(frames.end(), track.begin(), track.end());
    const Bytes picture = bytebuild::Id3v2TextFrame23("APIC", 0, Bytes(200, 0xFF));
    frames.insert(frames.end(), picture.begin(), picture.end());
    return Id3v2Tag(3, 0x80, frames, 64);  // flagged as unsynchronised
}

Bytes Id3v24()
{
    Bytes frames;
    for (auto [id, text] : {std::pair{"TIT2", "Vier"}, {"TALB", "Album \xC3\xA9"}, {"TDRC", "2004-05-06"}}) {
        Put(frames, id);
        bytebuild::Append(frames, bytebuild::Synchsafe(uint32_t(std::strlen(text) + 1)));
        frames.push_back(0);
        frames.push_back(0);
        frames.push_back(3);  // UTF-8
        Put(frames, text);
    }
    return Id3v2Tag(4, 0x10, frames, 0);  // with a footer flag
}

Bytes Id3v22()
{
    Bytes frames;
    for (auto [id, text] : {std::pair{"TT2", "Zwei"}, {"TP1", "Old"}, {"TCO", "(13)"}}) {
        Put(frames, id);
        PutBE(frames, std::strlen(text) + 1, 3);
        frames.push_back(0);
        Put(frames, text);
    }
    return Id3v2Tag(2, 0, frames, 16);
}

Bytes XingMp3()
{
    Bytes file = Id3v23();
    Bytes stream = Frames({0xFF, 0xFB, 0x90, 0x44}, 12);  // MPEG 1 Layer III, 128 kbit/s, joint stereo
    bytebuild::SetXingHeader(stream, 36, 10000, 0x3FC820);
    file.insert(file.end(), stream.begin(), stream.end());
    const Bytes tag = Id3v1Tag();
    file.insert(file.end(), tag.begin(), tag.end());
    return file;
}

Bytes InfoMp3()
{
    Bytes file = Id3v24();
    Bytes stream = Frames({0xFF, 0xF3, 0x84, 0xC4}, 40);  // MPEG 2 Layer III, mono
    std::memcpy(stream.data() + 13, "Info", 4);
    std::memcpy(stream.data() + stream.size() - 300, "LAME3.100", 9);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

Bytes VbriMp3()
{
    Bytes file = Id3v22();
    Bytes stream = Frames({0xFF, 0xFB, 0xA2, 0x00}, 10);  // MPEG 1, 160 kbit/s, padded, stereo
    std::memcpy(stream.data() + 36, "VBRI\x00\x01\x00\x4B\x00\x01\x00\x00\x00\x00\x10\x00", 16);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

Bytes LayerIandII()
{
    Bytes file = Frames({0xFF, 0xFF, 0xE4, 0x00}, 8);       // MPEG 1 Layer I
    const Bytes layer2 = Frames({0xFF, 0xF5, 0x88, 0x40}, 8);  // MPEG 2 Layer II
    file.insert(file.end(), layer2.begin(), layer2.end());
    return file;
}

Bytes OggVorbis()
{
    Bytes id{1};
    Put(id, "vorbis");
    PutLE(id, 0, 4);
    id.push_back(2);
    PutLE(id, 44100, 4);
    PutLE(id, 0, 4);
    PutLE(id, 128000, 4);
    PutLE(id, 0, 4);
    id.push_back(0xB8);
    id.push_back(1);
    Bytes comments{3};
    Put(comments, "vorbis");
    const std::string vendor = "Xiph.Org libVorbis I";
    PutLE(comments, vendor.size(), 4);
    Put(comments, vendor);
    const std::vector<std::string> items = {"TITLE=Ogg", "artist=Caf\xC3\xA9", "TRACKNUMBER=4/7",
                                            "DESCRIPTION=" + std::string(300, 'd'), "DATE=2001"};
    PutLE(comments, items.size(), 4);
    for (const std::string& item : items) {
        PutLE(comments, item.size(), 4);
        Put(comments, item);
    }
    comments.push_back(1);
    Bytes file = Id3v2Tag(3, 0, {}, 20);
    for (const Bytes& page : {bytebuild::OggPage(id, 0, 2, 7), bytebuild::OggPage(comments, 0, 0, 7), bytebuild::OggPage(Bytes(600, 0x33), 88200, 4, 7)})
        file.insert(file.end(), page.begin(), page.end());
    return file;
}

Bytes Utf16(const std::string& ascii)
{
    Bytes out;
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes Wma()
{
    const std::array<uint8_t, 16> header = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                            0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::array<uint8_t, 16> fileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const std::array<uint8_t, 16> streamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const std::array<uint8_t, 16> content = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::array<uint8_t, 16> extended = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
    Bytes fp(76, 0);
    PutLE(fp, 128000, 4);
    Bytes sp(54, 0);
    PutLE(sp, 0x161, 2);
    PutLE(sp, 2, 2);
    PutLE(sp, 44100, 4);
    PutLE(sp, 16000, 4);
    PutLE(sp, 0, 6);
    Bytes cd;
    const Bytes title = Utf16("Title"), author = Utf16("Author"), description = Utf16(std::string(260, 'x'));
    for (size_t length : {title.size(), author.size(), size_t(0), description.size(), size_t(0)})
        PutLE(cd, length, 2);
    for (const Bytes* s : {&title, &author, &description})
        cd.insert(cd.end(), s->begin(), s->end());
    Bytes ecd;
    PutLE(ecd, 3, 2);
    auto descriptor = [&](const std::string& name, uint16_t type, const Bytes& value) {
        const Bytes n = Utf16(name);
        PutLE(ecd, n.size(), 2);
        ecd.insert(ecd.end(), n.begin(), n.end());
        PutLE(ecd, type, 2);
        PutLE(ecd, value.size(), 2);
        ecd.insert(ecd.end(), value.begin(), value.end());
    };
    descriptor("WM/TrackNumber", 3, {5, 0, 0, 0});
    descriptor("WM/AlbumTitle", 0, Utf16("Album"));
    descriptor("WM/Track", 0, Utf16("5"));

    Bytes objects;
    for (const Bytes& o : {bytebuild::AsfObject(fileProperties, fp), bytebuild::AsfObject(streamProperties, sp), bytebuild::AsfObject(content, cd),
                           bytebuild::AsfObject(extended, ecd)})
        objects.insert(objects.end(), o.begin(), o.end());
    Bytes file(header.begin(), header.end());
    PutLE(file, 30 + objects.size(), 8);
    PutLE(file, 4, 4);
    PutLE(file, 0x0201, 2);
    file.insert(file.end(), objects.begin(), objects.end());
    file.resize(file.size() + 500, 0x77);
    return file;
}

Bytes Wav()
{
    Bytes file;
    Put(file, "RIFF");
    PutLE(file, 36 + 2000, 4);
    Put(file, "WAVEfmt ");
    PutLE(file, 16, 4);
    PutLE(file, 1, 2);
    PutLE(file, 2, 2);
    PutLE(file, 22050, 4);
    PutLE(file, 88200, 4);
    PutLE(file, 4, 2);
    PutLE(file, 16, 2);
    Put(file, "data");
    PutLE(file, 2000, 4);
    file.resize(file.size() + 2000, 0);
    return file;
}

std::vector<Bytes> Originals()
{
    return {XingMp3(), InfoMp3(), VbriMp3(), LayerIandII(), OggVorbis(), Wma(), Wav()};
}

} // namespace originals
