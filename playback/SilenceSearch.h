// SilenceSearch: the levels a split at silences works on (WindowRmsDb),
// decoded on a thread of its own so that the window stays responsive
// while a long file is decoded. Starting another search or cancelling
// abandons the one under way, and nothing of it arrives afterwards. The
// audio library must stay bound until the search is cancelled or
// destroyed.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SilenceSearch : public QObject {
    Q_OBJECT

public:
    explicit SilenceSearch(QObject* parent = nullptr);
    // Cancels the search under way and waits for its thread (one decoded chunk).
    ~SilenceSearch() override;

    // Abandons the search under way, if any, and starts decoding fileName
    // into levels of windowMs each.
    void Start(const std::string& fileName, int64_t windowMs);
    // Abandons the search under way; its thread is stopped and joined.
    void Cancel();
    // True from Start until searchFinished of that search has been emitted.
    bool Running() const { return running_; }

signals:
    // Main thread, once per search that was not abandoned: one level in dB
    // per window as WindowRmsDb gives them, empty when the file could not
    // be decoded.
    void searchFinished(const std::vector<float>& levelsDb);

private:
    struct Worker;
    std::unique_ptr<Worker> worker_;
    unsigned generation_ = 0;  // main thread only; results of older searches are dropped
    bool running_ = false;
};
