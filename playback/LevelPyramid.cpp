#include "LevelPyramid.h"

#include <algorithm>
#include <cmath>

namespace {

// Byte codes: 0 unknown, 1 silence, 2 .. 255 for -126.5 .. 0 dB.
constexpr uint8_t kUnknown = 0;
constexpr uint8_t kSilence = 1;
constexpr double kStepsPerDb = 2.0;
constexpr int kFullScaleCode = 255;
constexpr double kEntriesPerColumn = 4;

uint8_t CodeOfDb(double db)
{
    const double code = std::round(db * kStepsPerDb) + kFullScaleCode;
    if (!(code >= kSilence + 1))  // NaN and -inf too
        return kSilence;
    return static_cast<uint8_t>(std::min<double>(code, kFullScaleCode));
}

double DbOfCode(uint8_t code) { return (code - kFullScaleCode) / kStepsPerDb; }

uint8_t CodeOfAmplitude(double amplitude) { return amplitude > 0 ? CodeOfDb(20.0 * std::log10(amplitude)) : kSilence; }
uint8_t CodeOfPower(double power) { return power > 0 ? CodeOfDb(10.0 * std::log10(power)) : kSilence; }
double AmplitudeOfCode(uint8_t code) { return code <= kSilence ? 0.0 : std::pow(10.0, DbOfCode(code) / 20.0); }
double PowerOfCode(uint8_t code) { return code <= kSilence ? 0.0 : std::pow(10.0, DbOfCode(code) / 10.0); }

// Bytes of the levels for `blocks` blocks: two codes an entry, each level
// half the one below, and a vector pair's own bookkeeping per level.
int64_t PyramidBytes(int64_t blocks)
{
    int64_t bytes = 0;
    for (int64_t entries = blocks;; entries = (entries + 1) / 2) {
        bytes += 2 * entries + 2 * static_cast<int64_t>(sizeof(std::vector<uint8_t>));
        if (entries <= 1)
            return bytes;
    }
}

} // namespace

LevelPyramid::LevelPyramid(int64_t totalSamples, int64_t fileBytes)
    : totalSamples_(std::max<int64_t>(totalSamples, 1)), blockSamples_(kGranuleSamples)
{
    const int64_t budget = std::max(fileBytes / 1000, kMinimumBudget) - static_cast<int64_t>(sizeof(*this));
    const auto blocksOf = [this](int64_t blockSamples) { return (totalSamples_ + blockSamples - 1) / blockSamples; };
    while (PyramidBytes(blocksOf(blockSamples_)) > budget && blocksOf(blockSamples_) > 1)
        blockSamples_ *= 2;
    for (int64_t entries = blocksOf(blockSamples_);; entries = (entries + 1) / 2) {
        peaks_.emplace_back(static_cast<size_t>(entries), kUnknown);
        powers_.emplace_back(static_cast<size_t>(entries), kUnknown);
        if (entries <= 1)
            break;
    }
}

size_t LevelPyramid::MemoryBytes() const
{
    size_t bytes = sizeof(*this);
    for (size_t level = 0; level < peaks_.size(); ++level)
        bytes += peaks_[level].capacity() + powers_[level].capacity() + 2 * sizeof(std::vector<uint8_t>);
    return bytes;
}

void LevelPyramid::SetBlock(int64_t block, float peak, float meanSquare)
{
    std::lock_guard lock(mutex_);
    if (block < 0 || block >= Blocks())
        return;
    const auto at = static_cast<size_t>(block);
    if (peaks_[0][at] == kUnknown)
        ++knownBlocks_;
    peaks_[0][at] = CodeOfAmplitude(peak);
    powers_[0][at] = CodeOfPower(meanSquare);
    UpdateParents(block);
}

void LevelPyramid::UpdateParents(int64_t block)
{
    auto child = static_cast<size_t>(block) & ~size_t{1};
    for (size_t level = 1; level < peaks_.size(); ++level, child = (child / 2) & ~size_t{1}) {
        const std::vector<uint8_t>& peaks = peaks_[level - 1];
        const std::vector<uint8_t>& powers = powers_[level - 1];
        const bool hasSecond = child + 1 < peaks.size();
        // Unknown codes are 0, below every known one.
        const uint8_t peak = std::max(peaks[child], hasSecond ? peaks[child + 1] : kUnknown);
        double power = 0;
        int known = 0;
        for (size_t c = child; c < child + (hasSecond ? 2 : 1); ++c) {
            if (peaks[c] != kUnknown) {
                power += PowerOfCode(powers[c]);
                ++known;
            }
        }
        peaks_[level][child / 2] = peak;
        powers_[level][child / 2] = known ? CodeOfPower(power / known) : kUnknown;
    }
}

Level LevelPyramid::Block(int64_t block) const
{
    std::lock_guard lock(mutex_);
    if (block < 0 || block >= Blocks() || peaks_[0][static_cast<size_t>(block)] == kUnknown)
        return {};
    const auto at = static_cast<size_t>(block);
    return {static_cast<float>(AmplitudeOfCode(peaks_[0][at])),
            static_cast<float>(std::sqrt(PowerOfCode(powers_[0][at])))};
}

int64_t LevelPyramid::KnownBlocks() const
{
    std::lock_guard lock(mutex_);
    return knownBlocks_;
}

Level LevelPyramid::Combine(size_t level, double from, double to) const
{
    const std::vector<uint8_t>& peaks = peaks_[level];
    const std::vector<uint8_t>& powers = powers_[level];
    const auto first = static_cast<size_t>(from);
    const auto end = std::min(peaks.size(), static_cast<size_t>(std::ceil(to)));
    uint8_t peak = kUnknown;
    double power = 0;
    double weight = 0;
    for (size_t entry = first; entry < end; ++entry) {
        if (peaks[entry] == kUnknown)
            continue;
        const double overlap = std::min<double>(to, static_cast<double>(entry + 1)) -
                               std::max<double>(from, static_cast<double>(entry));
        peak = std::max(peak, peaks[entry]);
        power += overlap * PowerOfCode(powers[entry]);
        weight += overlap;
    }
    if (peak == kUnknown)
        return {};
    return {static_cast<float>(AmplitudeOfCode(peak)), static_cast<float>(std::sqrt(weight > 0 ? power / weight : 0))};
}

std::vector<Level> LevelPyramid::Columns(int64_t firstColumn, int64_t count, double samplesPerColumn) const
{
    std::vector<Level> columns(static_cast<size_t>(std::max<int64_t>(count, 0)));
    if (columns.empty() || !(samplesPerColumn > 0))
        return columns;
    std::lock_guard lock(mutex_);
    // The coarsest level whose entries are at most a quarter of a column:
    // four to eight entries make a column whatever the zoom, and a column
    // that does not start or end on an entry's edge borrows at most a
    // quarter of its width from its neighbours.
    size_t level = 0;
    while (level + 1 < peaks_.size() &&
           static_cast<double>(blockSamples_ << (level + 1)) * kEntriesPerColumn <= samplesPerColumn)
        ++level;
    const auto entrySamples = static_cast<double>(blockSamples_ << level);
    const auto total = static_cast<double>(totalSamples_);
    for (size_t i = 0; i < columns.size(); ++i) {
        const double from = static_cast<double>(firstColumn + static_cast<int64_t>(i)) * samplesPerColumn;
        const double to = std::min(total, from + samplesPerColumn);
        if (from < 0 || from >= total)
            continue;
        columns[i] = Combine(level, from / entrySamples, to / entrySamples);
    }
    return columns;
}
