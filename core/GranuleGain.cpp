#include "GranuleGain.h"

#include <algorithm>
#include <cmath>

#include "FrameModel.h"

namespace {

// Big-endian bit fields of bytes known to be long enough.
class BitCursor {
public:
    explicit BitCursor(const uint8_t* bytes) : bytes_(bytes) {}
    void Skip(int bits) { at_ += static_cast<size_t>(bits); }
    unsigned Take(int bits)
    {
        unsigned value = 0;
        for (int i = 0; i < bits; ++i, ++at_)
            value = value << 1 | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
        return value;
    }

private:
    const uint8_t* bytes_;
    size_t at_ = 0;
};

// The largest magnitude Huffman table `table` codes; for the tables with
// linbits three quarters of it, since the value lies somewhere in the top
// half of the range.
double TableLargest(unsigned table)
{
    static constexpr std::array<uint8_t, 16> kSmallTables{0, 1, 2, 2, 0, 3, 3, 5, 5, 5, 7, 7, 7, 15, 0, 15};
    static constexpr std::array<uint8_t, 16> kLinbits{1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    if (table < 16)
        return kSmallTables[table];
    return 15 + 0.75 * static_cast<double>(1u << kLinbits[table - 16]);
}

} // namespace

FrameGains ReadFrameGains(const uint8_t* frameBytes, size_t available)
{
    FrameGains gains;
    const std::optional<FrameHeader> frame = available < 4 ? std::nullopt : FrameHeader::Parse(frameBytes);
    if (!frame || !frame->IsLayer3())
        return gains;
    const bool mpeg1 = frame->IsMpeg1();
    const int channels = frame->IsMono() ? 1 : 2;
    const size_t sideInfoBytes = frame->SideInfoLength();
    const size_t sideInfoAt = frame->DataOffset() - sideInfoBytes;
    if (available < sideInfoAt + sideInfoBytes)
        return gains;

    // main_data_begin, the private bits and (MPEG 1) scfsi lead; then per
    // granule and channel part2_3_length, big_values and global_gain, and
    // the fields up to the next granule's entry.
    BitCursor bits(frameBytes + sideInfoAt);
    if (mpeg1)
        bits.Skip(9 + (channels == 1 ? 5 : 3) + 4 * channels);
    else
        bits.Skip(8 + (channels == 1 ? 1 : 2));
    const int granules = mpeg1 ? 2 : 1;
    const int scalefacCompressBits = mpeg1 ? 4 : 9;
    const int restOfEntry = mpeg1 ? 3 : 2;
    for (int granule = 0; granule < granules; ++granule) {
        for (int channel = 0; channel < channels; ++channel) {
            GranuleGain& entry = gains.Entries[static_cast<size_t>(granule * channels + channel)];
            entry.Part23Length = static_cast<uint16_t>(bits.Take(12));
            entry.BigValues = static_cast<uint16_t>(bits.Take(9));
            entry.GlobalGain = static_cast<uint8_t>(bits.Take(8));
            bits.Skip(scalefacCompressBits);
            // Split windows code two regions (block type, mixed flag and
            // subblock gains around them), long ones three (and the
            // region counts behind them).
            const bool windowSwitching = bits.Take(1) != 0;
            if (windowSwitching)
                bits.Skip(3);
            double largest = 1;  // the count1 region codes magnitudes up to 1
            for (int region = 0; region < (windowSwitching ? 2 : 3); ++region)
                largest = std::max(largest, TableLargest(bits.Take(5)));
            entry.LargestQuantity = entry.BigValues > 0 ? largest : 1;
            bits.Skip(windowSwitching ? 9 : 7);
            bits.Skip(restOfEntry);
        }
    }
    gains.Granules = granules;
    gains.Channels = channels;
    gains.SamplesPerGranule = 576;
    return gains;
}

double EstimatedGranuleDb(const GranuleGain& granule)
{
    if (granule.Part23Length == 0)
        return kSilenceDb;
    constexpr double kUnitStep = 210.0;
    constexpr double kDbPerStep = 1.5;
    // Dequantised magnitudes go as the 4/3 power of the coded ones.
    const double largestDb = 20.0 * (4.0 / 3.0) * std::log10(std::max(1.0, granule.LargestQuantity));
    constexpr double kMeasuredOffsetDb = -1.5;
    return kDbPerStep * (granule.GlobalGain - kUnitStep) + largestDb + kMeasuredOffsetDb;
}
