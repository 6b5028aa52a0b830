#include "FrameIndex.h"

#include <algorithm>
#include <string>

#include "analysis/Errors.h"

namespace {

// Starts found by the walk are handed over in batches, so that the walk
// takes the lock once per batch rather than once per start.
constexpr size_t kBatch = 64;

} // namespace

TFrameIndex::TFrameIndex(const BinaryFile& source, const AudioSpan& span) : span_(span)
{
    // A descriptor of its own for the same file (not the same name, which
    // may meanwhile name another), so that the walk's reads and the
    // caller's never share a file position.
    if (!file_.Open("/proc/self/fd/" + std::to_string(source.Descriptor()), BinaryFile::Mode::Read))
        throw StreamReadError();
    walker_ = std::jthread([this](std::stop_token stop) { Walk(stop); });
}

TFrameIndex::~TFrameIndex()
{
    walker_.request_stop();
    if (walker_.joinable())
        walker_.join();
}

void TFrameIndex::Walk(const std::stop_token& stop)
{
    std::vector<int64_t> batch;
    batch.reserve(kBatch);
    auto hand = [&](std::optional<int64_t> frames, std::exception_ptr failure) {
        {
            std::lock_guard lock(mutex_);
            starts_.insert(starts_.end(), batch.begin(), batch.end());
            if (frames)
                frames_ = frames;
            if (failure)
                failure_ = failure;
        }
        batch.clear();
        progressed_.notify_all();
    };
    try {
        TFrameWalker walker(file_, span_);
        for (int64_t next = 0;; next += kStride) {
            if (stop.stop_requested()) {
                hand(std::nullopt, std::make_exception_ptr(StreamReadError()));
                return;
            }
            int64_t start = walker.AdvanceToFrame(next);
            if (start >= span_.AudioEnd) {
                hand(walker.FrameIndex(), nullptr);
                return;
            }
            batch.push_back(start);
            if (batch.size() == kBatch)
                hand(std::nullopt, nullptr);
        }
    } catch (...) {
        hand(std::nullopt, std::current_exception());
    }
}

void TFrameIndex::WaitFor(std::unique_lock<std::mutex>& lock, int64_t index)
{
    progressed_.wait(lock, [&] {
        return frames_ || failure_ || static_cast<int64_t>(starts_.size()) * kStride > index;
    });
    if (!frames_ && static_cast<int64_t>(starts_.size()) * kStride <= index)
        std::rethrow_exception(failure_);
}

int64_t TFrameIndex::FrameCount()
{
    std::unique_lock lock(mutex_);
    WaitFor(lock, INT64_MAX - 1);
    return *frames_;
}

std::pair<int64_t, int64_t> TFrameIndex::StartAtOrBefore(int64_t index)
{
    std::unique_lock lock(mutex_);
    WaitFor(lock, std::max<int64_t>(index, 0));
    if (starts_.empty())
        return {span_.AudioEnd, 0};
    size_t k = std::min(static_cast<size_t>(std::max<int64_t>(index, 0) / kStride), starts_.size() - 1);
    return {starts_[k], static_cast<int64_t>(k) * kStride};
}
