// TFrameIndex: where every Stride-th frame of one MPEG stream starts,
// found by walking the stream once, on threads of their own.
//
// Splitting a file needs the stream's frame count before it can bound any
// part, and then the starts of each part's first and last frames and of
// the frames its TOC points at. Walked frame by frame for every part, that
// is the whole file walked twice; with this index it is walked once, and
// each look-up walks fewer than Stride frames from a known start. The walk
// runs while the caller copies the parts it already can.
//
// A long stream is walked by two threads: one from time 0 (the head), one
// from the first frame it finds behind the middle of the audio (the tail),
// counting from 0 there. Walking from a frame start is a function of that
// position alone, so once the head steps on a position the tail stepped
// on, the rest of the head's walk would be the tail's: the head stops
// there, and the tail's counts shifted by the head's index at that
// position are the stream's. Should the head pass the first frames of the
// tail without meeting one (a tail that started on a sync pattern inside
// audio data and never joined the true frames), it walks on by itself.
//
// The walks are the ones TFrameWalker does (the same rules, the same frame
// starts), over descriptors of their own for the same open file. A read
// error of a walk (a file that shrank under it) is thrown again by every
// look-up that waits for frames the walks did not reach.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "core/AudioFrames.h"
#include "files/BinaryFile.h"

class TFrameIndex {
public:
    static constexpr int64_t kStride = 16;

    // Audio from which on a second walk pays for itself.
    static constexpr int64_t kTwoWalksFrom = 4 * 1024 * 1024;
    static constexpr int64_t kOneWalk = INT64_MAX;

    // Starts walking source, an open file whose span LocateAudio found;
    // source may be closed or read by the caller meanwhile. Audio shorter
    // than twoWalksFrom bytes is walked by one thread.
    TFrameIndex(const BinaryFile& source, const AudioSpan& span, int64_t twoWalksFrom = kTwoWalksFrom);
    ~TFrameIndex();
    TFrameIndex(const TFrameIndex&) = delete;
    TFrameIndex& operator=(const TFrameIndex&) = delete;

    // The stream's frame count; waits for the walks to end.
    int64_t FrameCount();

    // A known frame start at or before frame index (frames counted from
    // time 0), with its index: the start of the last frame when the
    // stream is shorter. Waits until the walks have got that far.
    std::pair<int64_t, int64_t> StartAtOrBefore(int64_t index);

private:
    struct Start {
        int64_t Index;
        int64_t Position;
    };
    void WalkHead(const std::stop_token& stop);
    void WalkTail(const std::stop_token& stop);
    // Steps the head frame by frame over the tail's first frames; true
    // when it stepped on one of them (then offset_ is set).
    bool JoinTail(TFrameWalker& head, std::vector<Start>& batch);
    void Publish(std::vector<Start>& batch, std::deque<Start>& into);
    // Whether a start at or before index is known, or none will be (locked).
    bool Covers(int64_t index) const;

    AudioSpan span_;
    BinaryFile headFile_;
    BinaryFile tailFile_;
    int64_t tailFrom_ = -1;  // where the tail starts looking; -1: no tail

    std::mutex mutex_;
    std::condition_variable progressed_;
    // Deques grow without a doubling's spare room: a 10-hour stream's
    // index takes what its starts take, about 1.4 MB.
    std::deque<Start> head_;  // frames counted from time 0
    std::deque<Start> tail_;  // frames counted from the tail's first frame
    std::vector<int64_t> tailFirst_;  // the tail's first frame starts, in order
    bool tailFirstReady_ = false;
    bool tailEnded_ = false;
    std::optional<int64_t> tailFrames_;
    std::optional<int64_t> offset_;  // head index of the tail's frame 0, once joined
    // The tail's index of the frame where the walks met: the tail's frames
    // before it may be false ones, from a start on a sync pattern.
    int64_t metAt_ = 0;
    std::optional<int64_t> frames_;  // set when the stream's count is known
    std::exception_ptr failure_;
    std::atomic<bool> tailAbandoned_{false};
    std::jthread tailWalker_;
    std::jthread headWalker_;  // last two: stopped and joined before the rest goes
};
