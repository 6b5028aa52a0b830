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

#include "DecodedLevels.h"
#include "LevelPyramid.h"

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
