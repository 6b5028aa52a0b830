// WaveformEnvelope: the loudness envelope of an audio file for a display
// `columns` pixels wide: for each column, the peak of the samples of its
// stretch of time (all channels), from 0 (silence) to 1 (full scale). The
// file is decoded through the bound audio library (a decoding stream, the
// WMA add-on's for WMA), so it works for whatever the player plays as a
// stream: MP3, Ogg Vorbis, WAV, WMA.
//
// The levels behind the peaks are a LevelPyramid of the whole file, so any
// zoom can be drawn from them without decoding again; the columns asked
// for are one reading of it (in half-dB steps, a column's edges within a
// quarter of its width).
//
// ScanEnvelope is the blocking scan. WaveformEnvelope runs it on a thread of
// its own and hands the peaks to the main thread as they grow: first, for
// an MP3 file, the outline its frame headers give (when an outline filler
// is set), then the decoded levels replacing it. Starting another scan or
// cancelling abandons the one under way, and nothing of it arrives
// afterwards. The library must stay bound until the scan is cancelled or
// destroyed (the owner cancels it before the player goes).
#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <utility>
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
    // decoded there.
    std::vector<Level> Columns(int64_t firstColumn, int64_t count, double samplesPerColumn);

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
// library cannot decode the file, its length is unknown or windowMs < 1.
std::vector<float> WindowRmsDb(const std::string& fileName, int64_t windowMs);

// Fills levels with an estimate before decoding (FillGainOutline for MP3);
// false when it has none for the file.
using OutlineFiller = std::function<bool(const std::string& fileName, LevelPyramid& levels, std::stop_token stop)>;

class WaveformEnvelope : public QObject {
    Q_OBJECT

public:
    explicit WaveformEnvelope(QObject* parent = nullptr);
    // Cancels the scan under way and waits for its thread (one decoded chunk).
    ~WaveformEnvelope() override;

    // Abandons the scan under way, if any, and starts scanning fileName.
    void Start(const std::string& fileName, int columns);
    // Abandons the scan under way; its thread is stopped and joined.
    void Cancel();
    // True from Start until envelopeFinished of that scan has been emitted.
    bool Running() const { return running_; }
    // The outline drawn before the decoded levels; none by default.
    void SetOutline(OutlineFiller outline) { outline_ = std::move(outline); }
    // Main thread: the levels of the scan's file, filled as the scan goes
    // (outline, then decoded); null until the scan has sized them, and
    // after Cancel. They stay valid as long as the caller holds them.
    std::shared_ptr<const LevelPyramid> Levels() const { return levels_; }

signals:
    // Main thread; peaks has one value per column, -1 where not known yet.
    void envelopeChanged(const QList<float>& peaks, int filledColumns);
    // Main thread, once per scan that was not abandoned: decoded is false
    // when the library could not decode the file.
    void envelopeFinished(bool decoded);

private:
    struct Scan;
    std::unique_ptr<Scan> scan_;
    OutlineFiller outline_;
    std::shared_ptr<const LevelPyramid> levels_;
    unsigned generation_ = 0;  // main thread only; results of older scans are dropped
    bool running_ = false;
};
