#include "SilenceSearch.h"

#include <QMetaObject>

#include <stop_token>
#include <thread>
#include <utility>

#include "DecodedLevels.h"

struct SilenceSearch::Worker {
    std::jthread thread;
};

SilenceSearch::SilenceSearch(QObject* parent) : QObject(parent) {}

SilenceSearch::~SilenceSearch() { Cancel(); }

void SilenceSearch::Cancel()
{
    ++generation_;
    running_ = false;
    // jthread's destructor asks the decoder to stop and joins it.
    worker_.reset();
}

void SilenceSearch::Start(const std::string& fileName, int64_t windowMs)
{
    Cancel();
    const unsigned generation = generation_;
    running_ = true;
    // The result crosses to the main thread as a queued call on this object
    // (the destructor joins the thread before the object goes); a call from
    // an abandoned search finds a newer generation there and is dropped.
    worker_ = std::make_unique<Worker>();
    worker_->thread = std::jthread([this, fileName, windowMs, generation](std::stop_token stop) {
        std::vector<float> levels = WindowRmsDb(fileName, windowMs, stop);
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, generation, levels = std::move(levels)] {
                if (generation != generation_)
                    return;
                running_ = false;
                emit searchFinished(levels);
            },
            Qt::QueuedConnection);
    });
}
