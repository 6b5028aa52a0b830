#include "WaveformEnvelope.h"

#include <QMetaObject>

#include <memory>
#include <thread>
#include <utility>

struct WaveformEnvelope::Scan {
    std::jthread thread;
};

WaveformEnvelope::WaveformEnvelope(QObject* parent) : QObject(parent) {}

WaveformEnvelope::~WaveformEnvelope() { Cancel(); }

void WaveformEnvelope::Cancel()
{
    ++generation_;
    running_ = false;
    levels_.reset();
    // jthread's destructor asks the scan to stop and joins it; the scan
    // looks at its stop token once per decoded chunk.
    scan_.reset();
}

void WaveformEnvelope::Start(const std::string& fileName, int columns)
{
    Cancel();
    const unsigned generation = generation_;
    running_ = true;
    // Results cross to the main thread as queued calls on this object (the
    // destructor joins the thread before the object goes); a call from an
    // abandoned scan finds a newer generation there and is dropped.
    scan_ = std::make_unique<Scan>();
    scan_->thread = std::jthread([this, fileName, columns, generation, outline = outline_](std::stop_token stop) {
        const auto onMainThread = [this, generation](auto action) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, action] {
                    if (generation == generation_)
                        action();
                },
                Qt::QueuedConnection);
        };
        const std::shared_ptr<LevelPyramid> levels = LevelsFor(fileName);
        bool decoded = false;
        if (levels && !stop.stop_requested()) {
            onMainThread([this, levels] { levels_ = levels; });
            const auto report = [&] {
                int filled = 0;
                const std::vector<float> peaks = ColumnPeaks(*levels, columns, filled);
                onMainThread([this, list = QList<float>(peaks.begin(), peaks.end()), filled] {
                    emit envelopeChanged(list, filled);
                });
            };
            // The outline first, at once; the decoder's levels replace it
            // block by block.
            if (outline && outline(fileName, *levels, stop))
                report();
            decoded = DecodeLevels(fileName, *levels, stop, report);
            if (decoded)
                report();
        }
        if (stop.stop_requested())
            return;
        onMainThread([this, decoded] {
            running_ = false;
            emit envelopeFinished(decoded);
        });
    });
}
