// Byte builders for the formats the readers parse, written from the formats'
// own descriptions (MPEG audio frames, ID3v1, ID3v2, lame's Xing header,
// Fraunhofer's VBRI header, RIFF WAVE, Ogg, ASF) and shared by
// every test that builds a file by hand, so that a layout is written once.
#pragma once

#include <algorithm>
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

// A big-endian number of `width` bytes.
inline Bytes BigEndian(uint64_t value, int width)
{
    Bytes out;
    PutBE(out, value, width);
    return out;
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
    Bytes tag
        = Cat({Str("ID3"), {version, 0, flags}, Synchsafe(static_cast<uint32_t>(frames.size() + padding)), frames});
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

// An ID3v2.4 frame: identifier, synchsafe size (or, as some taggers wrongly
// write it, a plain 32-bit one), status flags 0, format flags, data.
inline Bytes Id3v2Frame24(std::string_view id, const Bytes& data, uint8_t formatFlags = 0, bool plainSize = false)
{
    const auto size = static_cast<uint32_t>(data.size());
    return Cat({Str(id), plainSize ? BigEndian(size, 4) : Synchsafe(size), {0, formatFlags}, data});
}

// An ID3v2.2 frame: three-letter identifier, 24-bit big-endian size, data.
inline Bytes Id3v2Frame22(std::string_view id, const Bytes& data)
{
    return Cat({Str(id), BigEndian(data.size(), 3), data});
}

// A text frame's data: the encoding byte, then the text's bytes as given.
inline Bytes Id3v2Text(uint8_t encoding, std::string_view bytes)
{
    return Cat({{encoding}, Str(bytes)});
}

// A comment frame's data: encoding, language, description, its
// terminator, text (single-byte encodings).
inline Bytes Id3v2Comment(uint8_t encoding, std::string_view description, std::string_view text,
                          std::string_view language = "eng")
{
    return Cat({{encoding}, Str(language), Str(description), {0}, Str(text)});
}

// UTF-16 with its byte order mark, little-endian unless asked otherwise.
inline Bytes Utf16WithBom(std::u16string_view text, bool bigEndian = false)
{
    Bytes out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        const auto low = static_cast<uint8_t>(c), high = static_cast<uint8_t>(c >> 8);
        if (bigEndian)
            out.insert(out.end(), {high, low});
        else
            out.insert(out.end(), {low, high});
    }
    return out;
}

// ID3v2 unsynchronisation: a zero after every 0xFF that ends the bytes or
// comes before a zero or a byte that would make a frame sync.
inline Bytes Id3v2Unsynchronise(const Bytes& in)
{
    Bytes out;
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0 || (in[i + 1] & 0xE0) == 0xE0))
            out.push_back(0);
    }
    return out;
}

// The values of an MPEG audio frame header's fields, as their bits are written.
namespace mpeg {
constexpr uint8_t kMpeg1 = 3, kMpeg2 = 2, kMpeg25 = 0;
constexpr uint8_t kLayer3 = 1, kLayer2 = 2, kLayer1 = 3;
constexpr uint8_t kStereo = 0, kJoint = 1, kMono = 3;
} // namespace mpeg

struct MpegHeader {
    uint8_t version = mpeg::kMpeg1;
    uint8_t layer = mpeg::kLayer3;
    uint8_t bitRateIndex = 9;     // 128 kbit/s for MPEG 1 Layer III
    uint8_t sampleRateIndex = 0;  // 44100 Hz for MPEG 1
    bool padding = false;
    uint8_t mode = mpeg::kJoint;
    uint8_t emphasis = 0;
};

// The four header bytes: frame sync, the fields, no CRC.
inline std::array<uint8_t, 4> MpegHeaderBytes(const MpegHeader& h)
{
    return {0xFF, static_cast<uint8_t>(0xE0 | h.version << 3 | h.layer << 1 | 1),
            static_cast<uint8_t>(h.bitRateIndex << 4 | h.sampleRateIndex << 2 | (h.padding ? 2 : 0)),
            static_cast<uint8_t>(h.mode << 6 | h.emphasis)};
}

// The length in bytes of a frame with this header, from the standard's
// tables and formulas; 4 (the header alone) for a free-format or
// invalid bit rate or a reserved version, layer or sample rate.
inline size_t MpegFrameLength(const std::array<uint8_t, 4>& header)
{
    static constexpr int kBitRates[5][16] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG 1 Layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG 1 Layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG 1 Layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG 2 and 2.5 Layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG 2 and 2.5 Layers II, III
    };
    static constexpr int kSampleRates[4][3]
        = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int version = header[1] >> 3 & 3, layer = header[1] >> 1 & 3;
    const int bitRateIndex = header[2] >> 4, sampleRateIndex = header[2] >> 2 & 3, padding = header[2] >> 1 & 1;
    if (version == 1 || layer == 0 || sampleRateIndex == 3)
        return 4;
    const bool mpeg1 = version == mpeg::kMpeg1;
    const int table = mpeg1 ? 3 - layer : (layer == mpeg::kLayer1 ? 3 : 4);
    const long bitRate = kBitRates[table][bitRateIndex] * 1000L;
    const long sampleRate = kSampleRates[version][sampleRateIndex];
    if (bitRate == 0)
        return 4;
    if (layer == mpeg::kLayer1)
        return static_cast<size_t>((12 * bitRate / sampleRate + padding) * 4);
    const long perSecond = layer == mpeg::kLayer3 && !mpeg1 ? 72 : 144;
    return static_cast<size_t>(perSecond * bitRate / sampleRate + padding);
}

// One frame: the header, then its payload of `fill` bytes.
inline Bytes MpegFrame(const std::array<uint8_t, 4>& header, uint8_t fill = 0)
{
    Bytes frame(MpegFrameLength(header), fill);
    std::copy(header.begin(), header.end(), frame.begin());
    return frame;
}
inline Bytes MpegFrame(const MpegHeader& h)
{
    return MpegFrame(MpegHeaderBytes(h));
}

// `count` silent frames in a row.
inline Bytes MpegFrames(const MpegHeader& h, int count)
{
    Bytes out;
    const Bytes frame = MpegFrame(h);
    for (int k = 0; k < count; ++k)
        Append(out, frame);
    return out;
}

// A VBRI header as Fraunhofer's encoder writes it, at `offset` within a
// frame: version 1, quality 75, the byte and frame counts (no table).
inline void SetVbriHeader(Bytes& frame, size_t offset, uint32_t frames, uint32_t bytes)
{
    PutText(frame, offset, "VBRI");
    frame[offset + 5] = 1;    // version
    frame[offset + 8] = 0;    // quality, high byte
    frame[offset + 9] = 75;   // quality, low byte
    SetBE(frame, offset + 10, bytes, 4);
    SetBE(frame, offset + 14, frames, 4);
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
