// TFrameIndex: where every Stride-th frame of one MPEG stream starts,
// found by one walk from time 0 to the audio end on a thread of its own.
//
// Splitting a file needs the stream's frame count before it can bound any
// part, and then the starts of each part's first and last frames and of
// the frames its TOC points at. Walked frame by frame for every part, that
// is the whole file walked twice; with this index it is walked once, and
// each look-up walks fewer than Stride frames from a known start. The walk
// runs while the caller copies the parts it already can, so on a machine
// with more than one core the walk costs little beyond the copying.
//
// The walk is the one TFrameWalker does (the same rules, the same frame
// starts), over a descriptor of its own for the same open file. A read
// error of the walk (a file that shrank under it) is thrown again by every
// look-up that waits for frames the walk did not reach.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/BinaryFile.h"
#include "core/AudioFrames.h"

class TFrameIndex {
public:
    static constexpr int64_t kStride = 32;

    // Starts walking source, an open file whose span LocateAudio found;
    // source may be closed or read by the caller meanwhile.
    TFrameIndex(const BinaryFile& source, const AudioSpan& span);
    ~TFrameIndex();
    TFrameIndex(const TFrameIndex&) = delete;
    TFrameIndex& operator=(const TFrameIndex&) = delete;

    // The stream's frame count; waits for the walk to end.
    int64_t FrameCount();

    // A known frame start at or before frame index (frames counted from
    // time 0), with its index: the start of the last frame when the
    // stream is shorter. Waits until the walk has got that far.
    std::pair<int64_t, int64_t> StartAtOrBefore(int64_t index);

private:
    void Walk(const std::stop_token& stop);
    // Waits until the walk has passed frame index or ended (called locked).
    void WaitFor(std::unique_lock<std::mutex>& lock, int64_t index);

    BinaryFile file_;
    AudioSpan span_;
    std::mutex mutex_;
    std::condition_variable progressed_;
    std::vector<int64_t> starts_;  // starts_[k]: start of frame k * kStride
    std::optional<int64_t> frames_;  // set when the walk has ended
    std::exception_ptr failure_;
    std::jthread walker_;  // last: stopped and joined before the rest goes
};
