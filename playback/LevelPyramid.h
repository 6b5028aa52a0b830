// LevelPyramid: the peak and RMS level of every stretch of one audio file,
// at every zoom, kept small enough for files of many hours.
//
// The file's samples (per channel) are cut into blocks of BlockSamples()
// samples, a power-of-two multiple of a Layer III granule (576), the
// smallest whose levels fit the memory budget: at most a thousandth of the
// file's size, but never under kMinimumBudget, so that short files are
// drawn as finely as a granule. Above the blocks every level halves the
// one below: each entry holds the highest peak and the mean power of its
// two children, so a view asks the level whose entries are a quarter of
// its columns or a little less and combines four to eight per column.
//
// Levels are stored as byte codes of dB in half-dB steps (down to
// -126.5 dB, below which a level is silence), which is finer than any
// screen draws and keeps an entry at two bytes. A block not known yet
// reads as unknown; the outline of the frame headers and the decoder fill
// blocks in any order, the decoder's values replacing the outline's.
//
// Levels are linear amplitudes of full scale (1.0 is full scale). One
// writer and any number of readers may use a pyramid at the same time.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// One column's or block's level; both -1 when not known.
struct Level {
    float Peak = -1.0f;
    float Rms = -1.0f;

    bool Known() const { return Peak >= 0.0f; }
};

class LevelPyramid {
public:
    static constexpr int64_t kGranuleSamples = 576;
    static constexpr int64_t kMinimumBudget = 16 * 1024;

    // totalSamples per channel (at least 1); fileBytes: the size of the file
    // the levels describe, which sets the memory budget.
    LevelPyramid(int64_t totalSamples, int64_t fileBytes);

    int64_t TotalSamples() const { return totalSamples_; }
    int64_t BlockSamples() const { return blockSamples_; }
    int64_t Blocks() const { return static_cast<int64_t>(peaks_.front().size()); }
    // Bytes the levels take, the object itself included.
    size_t MemoryBytes() const;

    // Sets one block from its highest magnitude and its mean square (both
    // of full scale); blocks outside the file are ignored.
    void SetBlock(int64_t block, float peak, float meanSquare);
    Level Block(int64_t block) const;
    // Blocks set so far (outline or decoded).
    int64_t KnownBlocks() const;

    // The level of columns firstColumn .. firstColumn + count - 1, column c
    // covering samples [c * samplesPerColumn, (c + 1) * samplesPerColumn).
    // Entries a column covers in part count in proportion (power) or whole
    // (peak); columns narrower than a block show the block they lie in;
    // columns past the end or over unknown blocks are unknown.
    std::vector<Level> Columns(int64_t firstColumn, int64_t count, double samplesPerColumn) const;

private:
    void UpdateParents(int64_t block);
    Level Combine(size_t level, double from, double to) const;

    int64_t totalSamples_;
    int64_t blockSamples_;
    int64_t knownBlocks_ = 0;
    // [level][entry]: level 0 holds the blocks, each level above half as many.
    std::vector<std::vector<uint8_t>> peaks_;
    std::vector<std::vector<uint8_t>> powers_;
    mutable std::mutex mutex_;
};
