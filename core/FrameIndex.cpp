#include "FrameIndex.h"

#include <algorithm>
#include <string>

#include "analysis/Errors.h"

namespace {

// Starts found by a walk are handed over in batches, so that a walk takes
// the lock once per batch rather than once per start.
constexpr size_t kBatch = 64;
// How many of the tail's first frame starts the head may step on to join
// it; the true frames are found within a few frames of any position.
constexpr size_t kJoinFrames = 2048;
// Each walk reads its window into memory rather than mapping it: two
// threads mapping and unmapping windows of one process wait for each other
// (and make the writing thread's processor drop its address translations),
// which took away all that a second walk gains.
constexpr size_t kWalkWindow = FileWindow::kCopiedWindowSize;

// Each walk reads through a descriptor of its own, so that no two walks
// share a file position.
void OpenSameFile(BinaryFile& file, const BinaryFile& source)
{
    if (!file.OpenSameFileAs(source))
        throw StreamReadError();
}

// The index outlives its walks (the window keeps it between splits of one
// file); the file is not kept open for it.
struct CloseAtEnd {
    BinaryFile& File;
    ~CloseAtEnd() { File.Close(); }
};

} // namespace

TFrameIndex::TFrameIndex(const BinaryFile& source, const AudioSpan& span, int64_t twoWalksFrom) : span_(span)
{
    OpenSameFile(headFile_, source);
    if (span.AudioEnd - span.TimeZero >= twoWalksFrom && std::thread::hardware_concurrency() > 1) {
        OpenSameFile(tailFile_, source);
        tailFrom_ = span.TimeZero + (span.AudioEnd - span.TimeZero) / 2;
        tailWalker_ = std::jthread([this](std::stop_token stop) { WalkTail(stop); });
    }
    headWalker_ = std::jthread([this](std::stop_token stop) { WalkHead(stop); });
}

TFrameIndex::~TFrameIndex()
{
    headWalker_.request_stop();
    tailWalker_.request_stop();
    tailAbandoned_ = true;
    {
        std::lock_guard lock(mutex_);
    }
    progressed_.notify_all();
}

void TFrameIndex::Publish(std::vector<Start>& batch, std::deque<Start>& into)
{
    {
        std::lock_guard lock(mutex_);
        into.insert(into.end(), batch.begin(), batch.end());
    }
    batch.clear();
    progressed_.notify_all();
}

void TFrameIndex::WalkTail(const std::stop_token& stop)
{
    CloseAtEnd closeAtEnd{tailFile_};
    std::vector<Start> batch;
    try {
        TFrameWalker walker(tailFile_, span_, kWalkWindow);
        walker.SynchroniseAt(tailFrom_);
        // Its first frames one by one, for the head to meet them.
        std::vector<int64_t> first;
        while (first.size() < kJoinFrames && walker.Position() < span_.AudioEnd) {
            if (walker.FrameIndex() % kStride == 0)
                batch.push_back({walker.FrameIndex(), walker.Position()});
            first.push_back(walker.Position());
            walker.AdvanceToFrame(walker.FrameIndex() + 1);
        }
        {
            std::lock_guard lock(mutex_);
            tailFirst_ = std::move(first);
            tailFirstReady_ = true;
            tail_.insert(tail_.end(), batch.begin(), batch.end());
        }
        batch.clear();
        progressed_.notify_all();
        for (int64_t next = walker.FrameIndex() + (kStride - walker.FrameIndex() % kStride) % kStride;;
             next += kStride) {
            if (stop.stop_requested() || tailAbandoned_)
                break;
            int64_t start = walker.AdvanceToFrame(next);
            if (start >= span_.AudioEnd) {
                std::lock_guard lock(mutex_);
                tailFrames_ = walker.FrameIndex();
                break;
            }
            batch.push_back({next, start});
            if (batch.size() == kBatch)
                Publish(batch, tail_);
        }
    } catch (...) {
        // The head walks on by itself, and meets the same error if the
        // file really shrank.
    }
    {
        std::lock_guard lock(mutex_);
        tail_.insert(tail_.end(), batch.begin(), batch.end());
        tailEnded_ = true;
        tailFirstReady_ = true;
        if (offset_ && tailFrames_)
            frames_ = *offset_ + *tailFrames_;
        else if (offset_ && !tailFrames_ && !failure_)
            failure_ = std::make_exception_ptr(StreamReadError());
    }
    progressed_.notify_all();
}

bool TFrameIndex::JoinTail(TFrameWalker& head, std::vector<Start>& batch)
{
    std::vector<int64_t> first;
    {
        std::unique_lock lock(mutex_);
        progressed_.wait(lock, [&] { return tailFirstReady_ || tailAbandoned_; });
        first = tailFirst_;
    }
    if (first.empty())
        return false;
    while (head.Position() < span_.AudioEnd && head.Position() <= first.back()) {
        auto met = std::lower_bound(first.begin(), first.end(), head.Position());
        if (met != first.end() && *met == head.Position()) {
            std::lock_guard lock(mutex_);
            head_.insert(head_.end(), batch.begin(), batch.end());
            batch.clear();
            metAt_ = met - first.begin();
            offset_ = head.FrameIndex() - metAt_;
            if (tailFrames_)
                frames_ = *offset_ + *tailFrames_;
            else if (tailEnded_)
                failure_ = std::make_exception_ptr(StreamReadError());
            return true;
        }
        if (head.FrameIndex() % kStride == 0)
            batch.push_back({head.FrameIndex(), head.Position()});
        head.AdvanceToFrame(head.FrameIndex() + 1);
    }
    return false;
}

void TFrameIndex::WalkHead(const std::stop_token& stop)
{
    CloseAtEnd closeAtEnd{headFile_};
    std::vector<Start> batch;
    try {
        TFrameWalker walker(headFile_, span_, kWalkWindow);
        bool tailTried = tailFrom_ < 0;
        for (int64_t next = 0;; next += kStride) {
            if (stop.stop_requested())
                throw StreamReadError();
            if (!tailTried && walker.Position() >= tailFrom_ && walker.Position() < span_.AudioEnd) {
                tailTried = true;
                if (JoinTail(walker, batch)) {
                    progressed_.notify_all();
                    return;
                }
                tailAbandoned_ = true;
                next = walker.FrameIndex() + (kStride - walker.FrameIndex() % kStride) % kStride;
            }
            int64_t start = walker.AdvanceToFrame(next);
            if (start >= span_.AudioEnd) {
                {
                    std::lock_guard lock(mutex_);
                    head_.insert(head_.end(), batch.begin(), batch.end());
                    frames_ = walker.FrameIndex();
                }
                batch.clear();
                progressed_.notify_all();
                return;
            }
            batch.push_back({next, start});
            if (batch.size() == kBatch)
                Publish(batch, head_);
        }
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            head_.insert(head_.end(), batch.begin(), batch.end());
            if (!failure_)
                failure_ = std::current_exception();
        }
        tailAbandoned_ = true;
        progressed_.notify_all();
    }
}

bool TFrameIndex::Covers(int64_t index) const
{
    if (frames_ || failure_)
        return true;
    if (!head_.empty() && head_.back().Index + kStride > index)
        return true;
    return offset_ && !tail_.empty() && *offset_ + tail_.back().Index + kStride > index;
}

int64_t TFrameIndex::FrameCount()
{
    std::unique_lock lock(mutex_);
    progressed_.wait(lock, [&] { return frames_ || failure_; });
    if (!frames_)
        std::rethrow_exception(failure_);
    return *frames_;
}

std::pair<int64_t, int64_t> TFrameIndex::StartAtOrBefore(int64_t index)
{
    index = std::max<int64_t>(index, 0);
    std::unique_lock lock(mutex_);
    progressed_.wait(lock, [&] { return Covers(index); });
    auto below = [](const std::deque<Start>& starts, int64_t wanted) -> const Start* {
        auto after = std::upper_bound(starts.begin(), starts.end(), wanted,
                                      [](int64_t value, const Start& start) { return value < start.Index; });
        return after == starts.begin() ? nullptr : &*(after - 1);
    };
    std::optional<Start> best;
    if (const Start* start = below(head_, index))
        best = *start;
    if (offset_ && index >= *offset_ + metAt_) {
        const Start* start = below(tail_, index - *offset_);
        if (start && start->Index >= metAt_ && (!best || start->Index + *offset_ > best->Index))
            best = Start{start->Index + *offset_, start->Position};
    }
    if (best)
        return {best->Position, best->Index};
    if (failure_ && !frames_)
        std::rethrow_exception(failure_);
    return {span_.AudioEnd, 0};
}
