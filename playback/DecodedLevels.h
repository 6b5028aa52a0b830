// DecodedLevels: the levels of an audio file as the bound audio library
// decodes it (a decoding stream, the WMA add-on's for WMA): the peaks of
// display columns, a LevelPyramid of the whole file, levels finer than a
// block on demand, and RMS levels per window for finding silences. No Qt,
// so that corvella-cli can use it; WaveformEnvelope runs it for the window.
#pragma once

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "LevelPyramid.h"

// Called now and then during a scan, from the scanning thread, with the
// peaks so far (-1 for a column not reached yet: long files are decoded in
// two halves at once) and how many columns are known.
using EnvelopeProgress = std::function<void(const std::vector<float>& peaks, int filledColumns)>;

// Decodes fileName to its end (or until stop is requested) and returns the
// peak of each of `columns` columns; empty when the library cannot decode
// the file, its length is unknown, columns < 1 or the scan was stopped.
std::vector<float> ScanEnvelope(const std::string& fileName, int columns, std::stop_token stop,
                                const EnvelopeProgress& progress = {});

// Empty levels sized for fileName as the library decodes it (its length in
// samples per channel, its size in bytes); null when the library cannot
// decode the file or its length is unknown.
std::shared_ptr<LevelPyramid> LevelsFor(const std::string& fileName);
// Decodes fileName into every block of levels (made by LevelsFor for the
// same file), replacing what was there; long files are decoded in two
// halves side by side. progress is called now and then from the calling
// thread. False when the library could not decode the file or stop was
// requested; a stream that ends before its announced length leaves the
// blocks behind its end as they were.
bool DecodeLevels(const std::string& fileName, LevelPyramid& levels, std::stop_token stop,
                  const std::function<void()>& progress = {});
// The peaks of `columns` equal columns of the whole file (-1 where not
// known yet), and how many are known.
std::vector<float> ColumnPeaks(const LevelPyramid& levels, int columns, int& known);
// Levels finer than a block, decoded on demand from a stream of fileName
// kept open between requests: the library finds a position it has passed
// before without walking the file again, so a view zoomed in far pays for
// the walk to its place once. One thread at a time.
class LevelDetail {
public:
    explicit LevelDetail(const std::string& fileName);
    ~LevelDetail();
    LevelDetail(const LevelDetail&) = delete;
    LevelDetail& operator=(const LevelDetail&) = delete;

    // Columns firstColumn .. firstColumn + count - 1 of samplesPerColumn
    // samples each (per channel), as LevelPyramid::Columns counts them;
    // columns past the end are unknown. Empty when the file cannot be
    // decoded there or stop was requested (looked at once per decoded chunk).
    std::vector<Level> Columns(int64_t firstColumn, int64_t count, double samplesPerColumn,
                               std::stop_token stop = {});

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
};
// The same with a stream of its own, for a single request.
std::vector<Level> DecodeColumns(const std::string& fileName, int64_t firstColumn, int64_t count,
                                 double samplesPerColumn);

// The RMS level in dB of full scale (all channels) of every window of
// windowMs of fileName as the library decodes it, window i covering
// [i x windowMs, (i + 1) x windowMs) of the stream: -inf for digital
// silence, NaN for a window the decoder did not reach. Empty when the
// library cannot decode the file, its length is unknown, windowMs < 1 or
// stop was requested.
std::vector<float> WindowRmsDb(const std::string& fileName, int64_t windowMs, std::stop_token stop = {});

// Fills levels with an estimate before decoding (FillGainOutline for MP3);
// false when it has none for the file.
using OutlineFiller = std::function<bool(const std::string& fileName, LevelPyramid& levels, std::stop_token stop)>;
