// Byte builders for the formats the readers parse, written from the formats'
// own descriptions (ID3v1, ID3v2, lame's Xing header, RIFF WAVE, Ogg, ASF) and shared by
// every test that builds a file by hand, so that a layout is written once.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace bytebuild {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes Cat(std::initializer_list<Bytes> pieces)
{
    Bytes out;
    for (const Bytes& piece : pieces)
        Append(out, piece);
    return out;
}

inline Bytes Str(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

// Writes text over the bytes from `at` on (the bytes must be there).
inline void PutText(Bytes& out, size_t at, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
        out[at + i] = static_cast<uint8_t>(text[i]);
}

// Appends a little- or big-endian number of `width` bytes.
inline void PutLE(Bytes& out, uint64_t value, int width)
{
    for (int k = 0; k < width; ++k)
        out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}
inline void PutBE(Bytes& out, uint64_t value, int width)
{
    for (int k = width - 1; k >= 0; --k)
        out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

// Writes a little- or big-endian number of `width` bytes over the bytes from `at` on.
inline void SetLE(Bytes& out, size_t at, uint64_t value, int width)
{
    for (int k = 0; k < width; ++k)
        out[at + static_cast<size_t>(k)] = static_cast<uint8_t>(value >> (8 * k));
}
inline void SetBE(Bytes& out, size_t at, uint64_t value, int width)
{
    for (int k = 0; k < width; ++k)
        out[at + static_cast<size_t>(k)] = static_cast<uint8_t>(value >> (8 * (width - 1 - k)));
}

// Seven bits in each of four bytes, as ID3v2 writes a tag's size.
inline Bytes Synchsafe(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 21 & 0x7F), static_cast<uint8_t>(value >> 14 & 0x7F),
            static_cast<uint8_t>(value >> 7 & 0x7F), static_cast<uint8_t>(value & 0x7F)};
}

// The fields of a 128-byte ID3v1 block; a track of 0 gives the 1.0 form
// (the comment's last two bytes are then zero either way).
struct Id3v1Fields {
    std::string Title, Artist, Album, Year, Comment;
    uint8_t Track = 0;
    uint8_t Genre = 0;
};

// "TAG", then each field cut to its width and padded with zeros.
inline Bytes Id3v1Block(const Id3v1Fields& fields)
{
    Bytes block(128, 0);
    const auto put = [&](size_t at, const std::string& value, size_t width) {
        PutText(block, at, std::string_view(value).substr(0, width));
    };
    put(0, "TAG", 3);
    put(3, fields.Title, 30);
    put(33, fields.Artist, 30);
    put(63, fields.Album, 30);
    put(93, fields.Year, 4);
    put(97, fields.Comment, 28);
    block[126] = fields.Track;
    block[127] = fields.Genre;
    return block;
}

// An ID3v2 tag: its ten-byte header (synchsafe size of frames and
// padding), the frames, then `padding` zero bytes.
inline Bytes Id3v2Tag(uint8_t version, uint8_t flags, const Bytes& frames, size_t padding = 0)
{
    Bytes tag = Cat({Str("ID3"), {version, 0, flags}, Synchsafe(static_cast<uint32_t>(frames.size() + padding)), frames});
    tag.resize(tag.size() + padding, 0);
    return tag;
}

// An ID3v2.3 tag of exactly `size` bytes (at least 10) holding only padding.
inline Bytes Id3v2PaddingTag(size_t size)
{
    return Id3v2Tag(3, 0, {}, size - 10);
}

// An ID3v2.3 frame: identifier, 32-bit big-endian size, flags, data.
inline Bytes Id3v2Frame23(std::string_view id, const Bytes& data, uint16_t flags = 0)
{
    Bytes frame = Str(id);
    PutBE(frame, data.size(), 4);
    PutBE(frame, flags, 2);
    Append(frame, data);
    return frame;
}

// An ID3v2.3 text frame: the encoding byte, then the text as given.
inline Bytes Id3v2TextFrame23(std::string_view id, uint8_t encoding, const Bytes& text)
{
    return Id3v2Frame23(id, Cat({{encoding}, text}));
}

// A Xing header as lame writes it, at `offset` within a frame (behind the
// side information): flags for frame and byte counts, table of contents
// and quality, the two counts, and lame's version 120 bytes on.
inline void SetXingHeader(Bytes& frame, size_t offset, uint32_t frames, uint32_t bytes)
{
    PutText(frame, offset, "Xing");
    SetBE(frame, offset + 4, 0x0F, 4);
    SetBE(frame, offset + 8, frames, 4);
    SetBE(frame, offset + 12, bytes, 4);
    PutText(frame, offset + 120, "LAME3.99");
}

// A canonical PCM WAV: the 44-byte RIFF header, then dataBytes of silence.
inline Bytes PcmWav(uint16_t channels, uint32_t sampleRate, uint16_t bits, uint32_t dataBytes)
{
    Bytes file(44 + static_cast<size_t>(dataBytes), 0);
    PutText(file, 0, "RIFF");
    // 32-bit sums, as the format stores them: a test may ask for sizes that wrap.
    SetLE(file, 4, uint32_t(36 + dataBytes), 4);
    PutText(file, 8, "WAVEfmt ");
    SetLE(file, 16, 16, 4);
    SetLE(file, 20, 1, 2);  // PCM
    SetLE(file, 22, channels, 2);
    SetLE(file, 24, sampleRate, 4);
    SetLE(file, 28, uint32_t(sampleRate * channels * bits / 8), 4);  // bytes per second
    SetLE(file, 32, uint32_t(channels * bits / 8), 2);               // block align
    SetLE(file, 34, bits, 2);
    PutText(file, 36, "data");
    SetLE(file, 40, dataBytes, 4);
    return file;
}

// One Ogg page holding the whole packet (lacing values of 255 and a
// remainder), sequence number 0 and the CRC left 0: the readers do not check it.
inline Bytes OggPage(const Bytes& packet, uint64_t granule, uint8_t headerType, uint32_t serial)
{
    Bytes page = Cat({Str("OggS"), {0, headerType}});
    PutLE(page, granule, 8);
    PutLE(page, serial, 4);
    PutLE(page, 0, 4);  // sequence
    PutLE(page, 0, 4);  // CRC
    Bytes lacing(packet.size() / 255, 255);
    lacing.push_back(static_cast<uint8_t>(packet.size() % 255));
    page.push_back(static_cast<uint8_t>(lacing.size()));
    Append(page, lacing);
    Append(page, packet);
    return page;
}

// An ASF object: its GUID, its 64-bit little-endian size (header included), its body.
inline Bytes AsfObject(const std::array<uint8_t, 16>& guid, const Bytes& body)
{
    Bytes object(guid.begin(), guid.end());
    PutLE(object, 24 + body.size(), 8);
    Append(object, body);
    return object;
}

} // namespace bytebuild
