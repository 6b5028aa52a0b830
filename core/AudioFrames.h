// Where the audio of an MPEG file lies, and where its frames start.
//
// Time 0 is the first audio frame: the first frame behind the ID3v2 tag that
// is followed by a second header at its computed length (the rule of the
// MPEG analysis), or the frame after it when that one carries a Xing, Info
// or VBRI header, which describes the whole source and belongs in no part.
// The audio ends before an ID3v1 tag.
//
// A frame start is a position reached by walking the frames from time 0,
// one frame length at a time; a header that does not fit the stream (no
// sync, another version, layer or sample rate) makes the walk look for the
// next position holding two consecutive headers of the stream. A sync
// pattern inside audio data is therefore never taken for a frame start.
//
// Positions are 64-bit byte offsets from the start of the file. The file is
// seen through a bounded window mapped into memory, so a walk touches only
// the frame headers and walking a file of any length takes the same memory.
// Read failures, and a file that shrinks under the walk, throw
// CorvellaError ("Stream read error"). One object per thread.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/MPEGaudio.h"
#include "core/FrameModel.h"

class BinaryFile;

struct AudioSpan {
    AudioSpan() = default;
    AudioSpan(int64_t timeZero, int64_t audioEnd) : TimeZero(timeZero), AudioEnd(audioEnd) {}

    int64_t TimeZero = 0;  // first byte of the first audio frame
    int64_t AudioEnd = 0;  // first byte after the audio (the ID3v1 tag's first byte, or the file size)
    // What the source's own Xing or Info frame before time 0 says, if it
    // has one, and where that frame starts.
    std::optional<HeaderFrameInfo> SourceHeader;
    int64_t SourceHeaderStart = 0;
};

// The fields that every frame of one stream shares.
struct StreamSignature {
    uint8_t VersionIndex = 1;
    uint8_t LayerIndex = 0;
    uint16_t SampleRateIndex = 3;

    bool Matches(const MPEGFrame& frame) const
    {
        return frame.VersionIndex == VersionIndex && frame.LayerIndex == LayerIndex
            && frame.SampleRateIndex == SampleRateIndex;
    }
};

// Bytes of a file seen through a window that moves forward (or anywhere)
// on demand; at most one window's worth of memory. A large window is
// mapped from the page cache rather than copied, which pays off for a
// walk through much of the file; a small one is copied, which costs less
// for the short hops of walks from one known frame start to the next.
class FileWindow {
public:
    static constexpr size_t kCopiedWindowSize = 64 * 1024;

    FileWindow(BinaryFile& file, int64_t limit, size_t windowSize = 1024 * 1024);
    ~FileWindow();
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;

    // The bytes from position up to the window's end (never past limit);
    // loads the window at position when fewer than need bytes are there.
    // available receives how many bytes the pointer gives (0 at the limit).
    const uint8_t* At(int64_t position, size_t need, size_t& available);

    // Reads one byte of each cache line of the window's bytes in
    // [position, position + count), ahead of their use: a walk that reads
    // one frame header after the other waits for memory at every header
    // otherwise, and the processor drops mere prefetch hints for pages
    // whose translation it has not cached yet. Bytes outside the window are
    // left alone.
    void TouchAhead(int64_t position, size_t count)
    {
        if (map_ == copy_.data())
            return;  // copied bytes are in the cache already
        int64_t end = std::min(position + static_cast<int64_t>(count), bufferStart_ + static_cast<int64_t>(bufferCount_));
        for (int64_t p = std::max(position, bufferStart_); p < end; p += 64)
            touched_ += map_[p - mapStart_];
    }

private:
    void Unmap();
    void MapWindow(int64_t position, int64_t wanted);
    void ReadWindow(int64_t position, int64_t wanted);

    BinaryFile& file_;
    int64_t limit_;
    size_t windowSize_;
    std::vector<uint8_t> copy_;
    uint8_t* map_ = nullptr;  // the mapping, or copy_'s bytes
    uint8_t touched_ = 0;  // keeps the touching loads
    size_t mapLength_ = 0;
    int64_t mapStart_ = 0;      // file offset of map_[0]
    int64_t bufferStart_ = 0;   // first byte the window shows
    size_t bufferCount_ = 0;
};

// Finds time 0 and the audio end; nullopt when the file holds no frame
// followed by a second header. id3v2Size: bytes of a leading ID3v2 tag (0
// without one); hasId3v1: the last 128 bytes are an ID3v1 tag.
std::optional<AudioSpan> LocateAudio(BinaryFile& file, int64_t fileSize, int64_t id3v2Size, bool hasId3v1);
// The same for a whole file, its tags measured as the tag readers measure
// them: the leading ID3v2 tag's size (0 when it claims more than the file
// holds) and an ID3v1 tag in the last 128 bytes.
std::optional<AudioSpan> LocateAudio(BinaryFile& file, int64_t fileSize);

class TFrameWalker {
public:
    // Starts at span.TimeZero, which must be a frame start found by LocateAudio.
    TFrameWalker(BinaryFile& file, const AudioSpan& span, size_t windowSize = 1024 * 1024);

    // Continues from a frame start that an earlier walk of the same,
    // unchanged file reached (TimeZero <= frameStart <= AudioEnd), with the
    // index that walk gave it (0 when unknown).
    void ResumeAt(int64_t frameStart, int64_t frameIndex = 0);
    // Starts a walk of its own at the first position at or after offset
    // where a frame of the stream is followed by a second one (the audio
    // end when there is none), counting frames from 0 there, and returns
    // that position. A sync pattern inside audio data can pass for such a
    // position; the walk then finds the true frames within a few steps.
    int64_t SynchroniseAt(int64_t offset);

    // Walks forward to the frame of the given index (frames counted from
    // time 0) and returns its start; AudioEnd when the stream has fewer.
    int64_t AdvanceToFrame(int64_t index);
    // Index of the frame at Position() (the frame count at the audio end).
    int64_t FrameIndex() const { return index_; }
    // The start of a frame the walk passed lately (the last kRecentFrames
    // frames up to and with the one at Position()); nullopt for others.
    static constexpr int64_t kRecentFrames = 128;
    std::optional<int64_t> RecentFrameStart(int64_t index) const;
    // Bytes of the file at position (see FileWindow::At).
    const uint8_t* Bytes(int64_t position, size_t need, size_t& available)
    {
        return window_.At(position, need, available);
    }
    // The first frame's header: the stream's version, layer, rate and
    // samples per frame; nullopt when there is no audio.
    const std::optional<FrameHeader>& FirstHeader() const { return firstHeader_; }

    // Walks forward to the first frame start at or after offset and returns
    // it; AudioEnd when no frame starts in [offset, AudioEnd). Offsets
    // behind the current position return the current position.
    int64_t AdvanceTo(int64_t offset);

    // The frame start after the one at frameStart (AudioEnd after the last
    // frame); the walk's own position does not move.
    int64_t FrameAfter(int64_t frameStart);

    int64_t Position() const { return position_; }
    // The frame start the walk last stepped from: before Position(), or
    // equal to it when the walk has not moved. A later walk may resume
    // there for any offset at or after it.
    int64_t PreviousFrameStart() const { return previous_; }
    const AudioSpan& Span() const { return span_; }

private:
    int64_t Advance(int64_t offset, int64_t frameIndex);
    void Remember();
    // Length of the stream's frame at position, or 0 when none starts there.
    size_t FrameAt(int64_t position);
    // The next position from `from` on that starts a frame followed by a
    // second frame (or by the audio end); AudioEnd when there is none.
    int64_t Resynchronise(int64_t from);

    AudioSpan span_;
    FileWindow window_;
    StreamSignature signature_;
    int64_t position_;
    int64_t previous_;
    int64_t index_ = 0;
    std::optional<FrameHeader> firstHeader_;
    std::array<int64_t, kRecentFrames> recent_{};
    // Frame lengths by header bytes 1 and 2, which fix everything the
    // length and the stream test depend on, kept by byte 2: byte 1 is the
    // same in every frame of a stream, so its frames never evict each
    // other. 0 not yet seen, 1 no frame of this stream, else the length
    // + 1. One look-up per frame, and nothing to allocate per walker.
    struct KnownHeader {
        uint8_t Byte1 = 0;
        uint16_t LengthPlusOne = 0;
    };
    std::array<KnownHeader, 256> knownHeaders_{};
};
