// ByteReader: bounds-checked view over bytes already read from a file.
// Every accessor takes an offset from the start of the view; a field that
// does not lie wholly inside the view reads as 0 (or fails Has/Matches), so
// a size field from a hostile file can never make the parser read outside
// the bytes it has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}

    size_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }

    // True when count bytes starting at offset lie inside the view (overflow-safe).
    bool Has(size_t offset, size_t count) const
    {
        return offset <= size_ && count <= size_ - offset;
    }

    // True when the bytes at offset spell text exactly.
    bool Matches(size_t offset, std::string_view text) const
    {
        if (!Has(offset, text.size()))
            return false;
        for (size_t i = 0; i < text.size(); ++i)
            if (data_[offset + i] != static_cast<uint8_t>(text[i]))
                return false;
        return true;
    }

    uint8_t U8(size_t offset) const { return Has(offset, 1) ? data_[offset] : 0; }

    uint16_t BE16(size_t offset) const
    {
        return Has(offset, 2) ? static_cast<uint16_t>(data_[offset] << 8 | data_[offset + 1]) : 0;
    }

    uint32_t BE32(size_t offset) const
    {
        if (!Has(offset, 4))
            return 0;
        return uint32_t(data_[offset]) << 24 | uint32_t(data_[offset + 1]) << 16
            | uint32_t(data_[offset + 2]) << 8 | uint32_t(data_[offset + 3]);
    }

    uint16_t LE16(size_t offset) const
    {
        return Has(offset, 2) ? static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8) : 0;
    }

    uint32_t LE32(size_t offset) const
    {
        if (!Has(offset, 4))
            return 0;
        return uint32_t(data_[offset]) | uint32_t(data_[offset + 1]) << 8
            | uint32_t(data_[offset + 2]) << 16 | uint32_t(data_[offset + 3]) << 24;
    }

    uint64_t LE64(size_t offset) const
    {
        return Has(offset, 8) ? uint64_t(LE32(offset)) | uint64_t(LE32(offset + 4)) << 32 : 0;
    }

    // Four 7-bit groups, most significant first, bit 7 of each byte masked.
    uint32_t Synchsafe32(size_t offset) const
    {
        if (!Has(offset, 4))
            return 0;
        return uint32_t(data_[offset] & 0x7F) << 21 | uint32_t(data_[offset + 1] & 0x7F) << 14
            | uint32_t(data_[offset + 2] & 0x7F) << 7 | uint32_t(data_[offset + 3] & 0x7F);
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// The length of an ID3v2 tag, its 10-byte header included and a footer not
// counted, from the four size bytes of that header: the sum of the bytes
// times 2^21, 2^14, 2^7 and 1, each byte taken as it is (bit 7 included).
// The one rule wherever a tag in front of the audio is measured.
inline int64_t ID3v2TagLength(const uint8_t* sizeBytes)
{
    return int64_t(sizeBytes[0]) * (int64_t(1) << 21) + int64_t(sizeBytes[1]) * (int64_t(1) << 14)
        + int64_t(sizeBytes[2]) * (int64_t(1) << 7) + int64_t(sizeBytes[3]) + 10;
}

// Writers for the same layouts, used when building tags.
inline void PutBE32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

inline void PutSynchsafe32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t((value >> 21) & 0x7F));
    out.push_back(uint8_t((value >> 14) & 0x7F));
    out.push_back(uint8_t((value >> 7) & 0x7F));
    out.push_back(uint8_t(value & 0x7F));
}
