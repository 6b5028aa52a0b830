#include "GlobalGain.h"


namespace {

// Bits of the side information before the first granule's entries, and of
// one entry (part2_3_length through count1table_select).
int LeadBits(const FrameHeader& header, int channels)
{
    if (header.IsMpeg1())
        return 9 + (channels == 1 ? 5 : 3) + 4 * channels;
    return 8 + (channels == 1 ? 1 : 2);
}

int EntryBits(const FrameHeader& header) { return header.IsMpeg1() ? 59 : 63; }

// part2_3_length and big_values come first in an entry.
constexpr int kGlobalGainAt = 12 + 9;

void PutBits(uint8_t* bytes, int at, int count, unsigned value)
{
    for (int i = 0; i < count; ++i, ++at) {
        const auto bit = static_cast<uint8_t>(1u << (7 - at % 8));
        if ((value >> (count - 1 - i)) & 1u)
            bytes[at / 8] |= bit;
        else
            bytes[at / 8] &= static_cast<uint8_t>(~bit);
    }
}

unsigned GetBits(const uint8_t* bytes, int at, int count)
{
    unsigned value = 0;
    for (int i = 0; i < count; ++i, ++at)
        value = value << 1 | ((bytes[at / 8] >> (7 - at % 8)) & 1u);
    return value;
}

uint16_t CrcOver(const uint8_t* bytes, size_t count, uint16_t crc)
{
    for (size_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint16_t>(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

} // namespace

uint16_t FrameCrc(const uint8_t* frame, const FrameHeader& header)
{
    const uint16_t crc = CrcOver(frame + 2, 2, 0xFFFF);
    return CrcOver(frame + 6, header.SideInfoLength(), crc);
}

int ChangeGlobalGains(uint8_t* frame, size_t available, const std::function<uint8_t(int entry, uint8_t oldGain)>& newGain)
{
    const std::optional<FrameHeader> parsed = available < 4 ? std::nullopt : FrameHeader::Parse(frame);
    if (!parsed || !parsed->IsLayer3() || available < parsed->DataOffset())
        return 0;
    const FrameHeader& header = *parsed;
    const bool crcWasRight =
        header.Protected && FrameCrc(frame, header) == static_cast<uint16_t>(frame[4] << 8 | frame[5]);
    uint8_t* sideInfo = frame + header.DataOffset() - header.SideInfoLength();
    const int lead = LeadBits(header, header.IsMono() ? 1 : 2);
    const int entries = GainEntriesOf(header);
    for (int entry = 0; entry < entries; ++entry) {
        const int at = lead + entry * EntryBits(header) + kGlobalGainAt;
        PutBits(sideInfo, at, 8, newGain(entry, static_cast<uint8_t>(GetBits(sideInfo, at, 8))));
    }
    if (crcWasRight) {
        const uint16_t crc = FrameCrc(frame, header);
        frame[4] = static_cast<uint8_t>(crc >> 8);
        frame[5] = static_cast<uint8_t>(crc);
    }
    return entries;
}
