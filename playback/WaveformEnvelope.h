// WaveformEnvelope: the loudness envelope of an audio file for a display
// `columns` pixels wide: for each column, the peak of the samples of its
// stretch of time (all channels), from 0 (silence) to 1 (full scale). The
// file is decoded through the bound audio library (a decoding stream, the
// WMA add-on's for WMA), so it works for whatever the player plays as a
// stream: MP3, Ogg Vorbis, WAV, WMA.
//
// ScanEnvelope is the blocking scan. WaveformEnvelope runs it on a thread of
// its own and hands the peaks to the main thread as they grow; starting
// another scan or cancelling abandons the one under way, and nothing of it
// arrives afterwards. The library must stay bound until the scan is
// cancelled or destroyed (the owner cancels it before the player goes).
#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

// Called now and then during a scan, from the scanning thread, with the
// peaks so far (-1 for a column not reached yet: long files are decoded in
// two halves at once) and how many columns are known.
using EnvelopeProgress = std::function<void(const std::vector<float>& peaks, int filledColumns)>;

// Decodes fileName to its end (or until stop is requested) and returns the
// peak of each of `columns` columns; empty when the library cannot decode
// the file, its length is unknown, columns < 1 or the scan was stopped.
std::vector<float> ScanEnvelope(const std::string& fileName, int columns, std::stop_token stop,
                                const EnvelopeProgress& progress = {});

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

signals:
    // Main thread; peaks has one value per column, -1 where not known yet.
    void envelopeChanged(const QList<float>& peaks, int filledColumns);
    // Main thread, once per scan that was not abandoned: decoded is false
    // when the library could not decode the file.
    void envelopeFinished(bool decoded);

private:
    struct Scan;
    std::unique_ptr<Scan> scan_;
    unsigned generation_ = 0;  // main thread only; results of older scans are dropped
    bool running_ = false;
};
