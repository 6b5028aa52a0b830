// Output: where the mixer's audio goes. The mixing thread pushes 16-bit
// stereo frames at Rate() into a FIFO; the output consumes them in real
// time, either an SDL2 device (its callback pulls from the FIFO) or a
// silent clock that discards them at the same pace. PlayedFrames() is the
// number of pushed frames that have been heard so far, device buffer
// included, so channel positions follow what has actually been played.
// All members are thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

class Output {
public:
    virtual ~Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    int Rate() const { return rate_; }
    // Frames the FIFO can hold; the mixer keeps it filled below this.
    int64_t CapacityFrames() const { return capacity_; }

    // Mixing thread: appends up to `frames` frames of interleaved stereo;
    // returns how many fitted.
    int64_t Push(const int16_t* samples, int64_t frames);
    // Frames ever pushed: the output-frame number the next push starts at.
    int64_t PushedFrames();
    // Frames pushed and not yet handed to the device (or the clock).
    int64_t QueuedFrames();
    // Mixing must be held still: forgets the frames not yet handed to the
    // device, so the next push follows what the device already has. Returns
    // the output-frame number the next push starts at.
    int64_t DropQueued();
    // Frames heard so far; never decreases and never exceeds what was pushed.
    virtual int64_t PlayedFrames() = 0;
    // Output latency in milliseconds, beyond the FIFO.
    virtual int LatencyMs() const = 0;
    virtual std::string Description() const = 0;

protected:
    Output(int rate, int64_t capacityFrames);
    // Callers hold mutex_.
    int64_t TakeLocked(int16_t* dest, int64_t frames);
    virtual void AdvanceLocked() {}

    std::mutex mutex_;
    int64_t pushed_ = 0;  // frames ever pushed
    int64_t taken_ = 0;   // frames ever handed on

private:
    int rate_;
    int64_t capacity_;
    std::vector<int16_t> ring_;  // capacity_ stereo frames, from the first Push on
};

// Opens the default SDL2 audio device at `rate` Hz, stereo, signed 16-bit.
// Returns null when there is no usable device.
std::unique_ptr<Output> OpenDeviceOutput(int rate);
// A real-time output without sound: frames are consumed at `rate` per second.
std::unique_ptr<Output> OpenSilentOutput(int rate);

} // namespace engine
