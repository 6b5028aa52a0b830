#include "FrameModel.h"

#include <algorithm>
#include <cstring>

#include "analysis/MPEGaudio.h"

namespace {

constexpr size_t kXingFieldsLength = 120;  // id, flags, frames, bytes, TOC, quality
constexpr size_t kTocLength = 100;
constexpr size_t kLameLength = 36;         // up to and with the CRC
constexpr size_t kLameCrcOffset = 34;
constexpr size_t kLameMusicCrcOffset = 32;
constexpr uint32_t kFramesField = 1;
constexpr uint32_t kBytesField = 2;
constexpr uint32_t kTocField = 4;
constexpr uint32_t kQualityField = 8;
constexpr uint32_t kAllXingFields = kFramesField | kBytesField | kTocField | kQualityField;

// Bytes from the header's start to the end of the LAME extension's CRC.
size_t HeaderFrameNeed(const FrameHeader& header, bool withToc)
{
    return header.XingOffset() + kXingFieldsLength - (withToc ? 0 : kTocLength) + kLameLength;
}

// Where the LAME extension starts in a header frame whose Xing flags are
// flags: behind the fields present, as decoders look for it.
size_t LameOffset(const FrameHeader& header, uint32_t flags)
{
    size_t at = header.XingOffset() + 8;
    if (flags & kFramesField)
        at += 4;
    if (flags & kBytesField)
        at += 4;
    if (flags & kTocField)
        at += kTocLength;
    if (flags & kQualityField)
        at += 4;
    return at;
}

// The CRC-16 (polynomial 0xA001, reflected) table, and fifteen more that
// give a byte's effect on the CRC after 1 to 15 further bytes: sixteen
// bytes are then taken in one step, which matters where the CRC runs over
// every byte of a part's audio.
using CrcTables = std::array<std::array<uint16_t, 256>, 16>;

const CrcTables& CrcTable()
{
    static const CrcTables tables = [] {
        CrcTables entries{};
        for (uint32_t byte = 0; byte < 256; ++byte) {
            uint16_t crc = static_cast<uint16_t>(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
            entries[0][byte] = crc;
        }
        for (size_t later = 1; later < entries.size(); ++later)
            for (uint32_t byte = 0; byte < 256; ++byte) {
                const uint16_t before = entries[later - 1][byte];
                entries[later][byte] = static_cast<uint16_t>((before >> 8) ^ entries[0][before & 0xFF]);
            }
        return entries;
    }();
    return tables;
}

MPEGFrame AsMpegFrame(const FrameHeader& header)
{
    return DecodeFrameHeader(header.Bytes.data());
}

void PutBigEndian(uint8_t* at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

uint32_t GetBigEndian(const uint8_t* at, int width)
{
    uint32_t value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | at[i];
    return value;
}

// The smallest bit rate of like's kind whose frame holds need bytes.
std::optional<FrameHeader> SmallestHolding(const FrameHeader& like, size_t need)
{
    for (uint8_t index = 1; index < 15; ++index) {
        FrameHeader candidate = like.WithBitRateIndex(index);
        if (candidate.Length() >= need)
            return candidate;
    }
    return std::nullopt;
}

} // namespace

std::optional<FrameHeader> FrameHeader::Parse(const uint8_t* fourBytes)
{
    if (!IsFrameHeader(fourBytes))
        return std::nullopt;
    FrameHeader header;
    std::memcpy(header.Bytes.data(), fourBytes, 4);
    header.VersionIndex = (fourBytes[1] >> 3) & 3;
    header.LayerIndex = (fourBytes[1] >> 1) & 3;
    header.Protected = (fourBytes[1] & 1) == 0;
    header.BitRateIndex = fourBytes[2] >> 4;
    header.SampleRateIndex = (fourBytes[2] >> 2) & 3;
    header.Padding = (fourBytes[2] >> 1) & 1;
    header.ModeIndex = fourBytes[3] >> 6;
    return header;
}

size_t FrameHeader::Length() const
{
    return FrameLength(AsMpegFrame(*this));
}

int FrameHeader::Samples() const
{
    return SamplesPerFrame(AsMpegFrame(*this));
}

uint32_t FrameHeader::SampleRate() const
{
    return FrameSampleRate(AsMpegFrame(*this));
}

uint16_t FrameHeader::BitRate() const
{
    return FrameBitRate(AsMpegFrame(*this));
}

size_t FrameHeader::SideInfoLength() const
{
    if (!IsLayer3())
        return 0;
    if (IsMpeg1())
        return IsMono() ? 17 : 32;
    return IsMono() ? 9 : 17;
}

size_t FrameHeader::XingOffset() const
{
    if (IsMpeg1())
        return 4 + (IsMono() ? 17 : 32);
    return 4 + (IsMono() ? 9 : 17);
}

FrameHeader FrameHeader::WithBitRateIndex(uint8_t index) const
{
    FrameHeader header = *this;
    header.Bytes[1] |= 1;  // no CRC
    header.Bytes[2] = static_cast<uint8_t>((index << 4) | (Bytes[2] & 0x0C) | (Bytes[2] & 1));
    header.BitRateIndex = index;
    header.Padding = false;
    header.Protected = false;
    return header;
}

int MainDataBegin(const uint8_t* frame, size_t available, const FrameHeader& header)
{
    if (!header.IsLayer3())
        return 0;
    size_t at = 4 + (header.Protected ? 2 : 0);
    if (available < at + 2)
        return 0;
    if (header.IsMpeg1())
        return frame[at] << 1 | frame[at + 1] >> 7;
    return frame[at];
}

uint16_t LameTagCrc(const uint8_t* bytes, size_t count, uint16_t crc)
{
    const CrcTables& table = CrcTable();
    size_t i = 0;
    // Sixteen bytes a step: the CRC that runs through the chain of steps is
    // looked up twice a step, the other fourteen look-ups are independent
    // and run alongside, which halves the chain of the eight-byte step.
    for (; i + 16 <= count; i += 16) {
        const uint8_t* b = bytes + i;
        crc = static_cast<uint16_t>(table[15][(b[0] ^ crc) & 0xFF] ^ table[14][(b[1] ^ (crc >> 8)) & 0xFF]
                                    ^ table[13][b[2]] ^ table[12][b[3]] ^ table[11][b[4]] ^ table[10][b[5]]
                                    ^ table[9][b[6]] ^ table[8][b[7]] ^ table[7][b[8]] ^ table[6][b[9]]
                                    ^ table[5][b[10]] ^ table[4][b[11]] ^ table[3][b[12]] ^ table[2][b[13]]
                                    ^ table[1][b[14]] ^ table[0][b[15]]);
    }
    for (; i < count; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ table[0][(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

std::optional<FrameHeader> HeaderFrameHeader(const FrameHeader& like, bool constantBitRate)
{
    if (!constantBitRate)
        return SmallestHolding(like, HeaderFrameNeed(like, true));
    // As the encoder does: readers that take a constant rate from the
    // first frame must find the stream's own there. A TOC is of no use to
    // a constant rate, so it gives way where the frame is too small.
    FrameHeader own = like.WithBitRateIndex(like.BitRateIndex);
    if (own.Length() >= HeaderFrameNeed(own, false))
        return own;
    return std::nullopt;
}

std::vector<uint8_t> RenderHeaderFrame(const FrameHeader& header, const HeaderFrameFields& fields)
{
    std::vector<uint8_t> frame(header.Length(), 0);
    bool withToc = frame.size() >= HeaderFrameNeed(header, true);
    if (!withToc && frame.size() < HeaderFrameNeed(header, false))
        return {};
    const uint32_t flags = withToc ? kAllXingFields : kAllXingFields & ~kTocField;
    size_t xing = header.XingOffset();
    std::memcpy(frame.data(), header.Bytes.data(), 4);
    std::memcpy(frame.data() + xing, fields.VariableBitRate ? "Xing" : "Info", 4);
    PutBigEndian(&frame[xing + 4], flags, 4);
    PutBigEndian(&frame[xing + 8], fields.Frames, 4);
    PutBigEndian(&frame[xing + 12], fields.Bytes, 4);
    size_t at = xing + 16;
    if (withToc) {
        std::copy(fields.Toc.begin(), fields.Toc.end(), frame.begin() + static_cast<std::ptrdiff_t>(at));
        at += kTocLength;
    }
    PutBigEndian(&frame[at], fields.Quality, 4);

    const size_t lameAt = LameOffset(header, flags);
    uint8_t* lame = &frame[lameAt];
    std::memcpy(lame, fields.Encoder.data(), 9);
    lame[9] = fields.RevisionAndMethod;
    lame[10] = fields.Lowpass;
    // 11-18: peak amplitude and replay gains describe the whole source, so
    // a part carries none (zero means "not computed").
    lame[19] = fields.FlagsAndAth;
    lame[20] = fields.BitRate;
    uint16_t delay = std::min<uint16_t>(fields.Delay, kMaxDelayOrPadding);
    uint16_t padding = std::min<uint16_t>(fields.Padding, kMaxDelayOrPadding);
    lame[21] = static_cast<uint8_t>(delay >> 4);
    lame[22] = static_cast<uint8_t>((delay & 0x0F) << 4 | padding >> 8);
    lame[23] = static_cast<uint8_t>(padding & 0xFF);
    lame[24] = fields.Misc;
    PutBigEndian(&lame[26], fields.Preset, 2);
    PutBigEndian(&lame[28], fields.Bytes, 4);
    PutBigEndian(&lame[kLameMusicCrcOffset], fields.MusicCrc, 2);
    size_t crcAt = lameAt + kLameCrcOffset;
    PutBigEndian(&frame[crcAt], LameTagCrc(frame.data(), crcAt), 2);
    return frame;
}

bool PutMusicCrc(std::vector<uint8_t>& frame, uint16_t musicCrc)
{
    auto info = ReadHeaderFrame(frame.data(), frame.size());
    if (!info || !info->HasLame)
        return false;
    auto header = FrameHeader::Parse(frame.data());
    const size_t lameAt = LameOffset(*header, GetBigEndian(&frame[header->XingOffset() + 4], 4));
    PutBigEndian(&frame[lameAt + kLameMusicCrcOffset], musicCrc, 2);
    size_t crcAt = lameAt + kLameCrcOffset;
    PutBigEndian(&frame[crcAt], LameTagCrc(frame.data(), crcAt), 2);
    return true;
}

std::optional<HeaderFrameInfo> ReadHeaderFrame(const uint8_t* frame, size_t available)
{
    if (available < 4)
        return std::nullopt;
    auto header = FrameHeader::Parse(frame);
    if (!header)
        return std::nullopt;
    // Where an unprotected frame has it, CRC or not: so the encoder writes
    // it (lame -p), and so decoders look for it.
    size_t xing = header->XingOffset();
    if (available < xing + 8)
        return std::nullopt;
    bool isXing = std::memcmp(frame + xing, "Xing", 4) == 0;
    if (!isXing && std::memcmp(frame + xing, "Info", 4) != 0)
        return std::nullopt;
    HeaderFrameInfo info;
    info.Fields.VariableBitRate = isXing;
    uint32_t flags = GetBigEndian(frame + xing + 4, 4);
    size_t at = xing + 8;
    auto take = [&](uint32_t flag, size_t width, auto&& use) {
        if (!(flags & flag))
            return false;
        if (available < at + width)
            return false;
        use(frame + at);
        at += width;
        return true;
    };
    info.HasFrames = take(kFramesField, 4, [&](const uint8_t* p) { info.Fields.Frames = GetBigEndian(p, 4); });
    info.HasBytes = take(kBytesField, 4, [&](const uint8_t* p) { info.Fields.Bytes = GetBigEndian(p, 4); });
    info.HasToc = take(kTocField, kTocLength, [&](const uint8_t* p) { std::copy(p, p + kTocLength, info.Fields.Toc.begin()); });
    take(kQualityField, 4, [&](const uint8_t* p) { info.Fields.Quality = GetBigEndian(p, 4); });
    // The extension follows the fields present, where decoders look for it.
    size_t lameAt = LameOffset(*header, flags);
    if (at == lameAt && available >= lameAt + kLameLength) {
        const uint8_t* lame = frame + lameAt;
        uint16_t stored = static_cast<uint16_t>(GetBigEndian(lame + kLameCrcOffset, 2));
        info.HasLame = LameTagCrc(frame, lameAt + kLameCrcOffset) == stored;
        std::memcpy(info.Fields.Encoder.data(), lame, 9);
        info.Fields.RevisionAndMethod = lame[9];
        info.Fields.Lowpass = lame[10];
        info.Fields.FlagsAndAth = lame[19];
        info.Fields.BitRate = lame[20];
        info.Fields.Delay = static_cast<uint16_t>(lame[21] << 4 | lame[22] >> 4);
        info.Fields.Padding = static_cast<uint16_t>((lame[22] & 0x0F) << 8 | lame[23]);
        info.Fields.Misc = lame[24];
        info.Fields.Preset = static_cast<uint16_t>(GetBigEndian(lame + 26, 2));
        info.Fields.MusicCrc = static_cast<uint16_t>(GetBigEndian(lame + 32, 2));
    }
    return info;
}

std::vector<uint8_t> RenderReservoirFrame(const FrameHeader& like, const std::vector<uint8_t>& reservoir)
{
    size_t need = like.WithBitRateIndex(1).DataOffset() + reservoir.size();
    // The stream's own rate when it holds the reservoir, so that a part of
    // a constant-rate stream keeps one rate.
    std::optional<FrameHeader> header = like.WithBitRateIndex(like.BitRateIndex);
    if (header->Length() < need)
        header = SmallestHolding(like, need);
    if (!header || !like.IsLayer3())
        return {};
    // All-zero side information: main_data_begin 0 and no coded bits in
    // any granule, so the frame decodes to silence and takes nothing from
    // the reservoir before it.
    std::vector<uint8_t> frame(header->Length(), 0);
    std::memcpy(frame.data(), header->Bytes.data(), 4);
    std::copy(reservoir.begin(), reservoir.end(), frame.end() - static_cast<std::ptrdiff_t>(reservoir.size()));
    return frame;
}
