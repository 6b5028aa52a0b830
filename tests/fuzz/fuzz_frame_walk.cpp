// The frame walk over any file: where the audio lies, and every frame start
// from time 0 to the audio end.
//
// The walk is made twice, through a read window of 5000 bytes and through
// one of 64 KiB, and both must find the same frame starts: the window only
// decides how the file is read. Every frame start lies inside the audio and holds a
// header of the stream; the starts strictly increase. Walking to an offset
// gives the first frame start at or after it, and so does a walk resumed at
// the frame start an earlier walk stepped from, as consecutive parts of a
// split do. The frame index gives the same starts and count, however its
// two walks meet.
#include <algorithm>
#include <optional>
#include <vector>

#include "FuzzSupport.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "analysis/MPEGaudio.h"
#include "core/AudioFrames.h"
#include "core/FrameIndex.h"
#include "files/BinaryFile.h"

namespace {

// Just above the 4 KiB a frame test looks ahead: the window moves on every
// 900 bytes or so, often enough for small inputs to cross it many times.
// Small windows are read into memory, large ones mapped.
constexpr size_t kSmallWindow = 5000;
constexpr size_t kLargeWindow = 2 * FileWindow::kCopiedWindowSize;

std::vector<int64_t> FrameStarts(BinaryFile& file, const AudioSpan& span, size_t window)
{
    TFrameWalker walker(file, span, window);
    std::vector<int64_t> starts;
    int64_t at = walker.AdvanceTo(span.TimeZero);
    while (at < span.AudioEnd) {
        starts.push_back(at);
        at = walker.AdvanceTo(at + 1);
    }
    return starts;
}

std::string Where(int64_t offset, int64_t found)
{
    return "offset " + std::to_string(offset) + ", found " + std::to_string(found);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::MemoryFile memory("walk");
    memory.Assign(data, size);
    TID3v2 v2;
    v2.ReadTag(memory.Path());
    TID3v1 v1;
    v1.ReadTag(memory.Path());
    BinaryFile file;
    FUZZ_CHECK(file.Open(memory.Path(), BinaryFile::Mode::Read), file.LastError());

    std::optional<AudioSpan> span = LocateAudio(file, int64_t(size), v2.Size(), v1.Exists());
    if (!span)
        return 0;
    const int64_t audioEnd = int64_t(size) - (v1.Exists() ? 128 : 0);
    FUZZ_CHECK(span->AudioEnd == audioEnd, "audio end " + std::to_string(span->AudioEnd));
    FUZZ_CHECK(span->TimeZero >= 0 && span->TimeZero < span->AudioEnd, "time 0 " + std::to_string(span->TimeZero));

    const std::vector<int64_t> starts = FrameStarts(file, *span, kSmallWindow);
    FUZZ_CHECK(starts == FrameStarts(file, *span, kLargeWindow), "the window size changed the frame starts");
    std::optional<StreamSignature> stream;
    for (size_t k = 0; k < starts.size(); ++k) {
        const int64_t at = starts[k];
        FUZZ_CHECK(at >= span->TimeZero && at + 4 <= span->AudioEnd, "frame start " + std::to_string(at));
        FUZZ_CHECK(k == 0 || at > starts[k - 1], "frame starts out of order at " + std::to_string(at));
        FUZZ_CHECK(IsFrameHeader(data + at), "no header at frame start " + std::to_string(at));
        const MPEGFrame frame = DecodeFrameHeader(data + at);
        if (!stream)
            stream = StreamSignature{frame.VersionIndex, frame.LayerIndex, frame.SampleRateIndex};
        FUZZ_CHECK(stream->Matches(frame), "a header of another stream at " + std::to_string(at));
    }

    // The index a split uses, its second walk started in the middle of the
    // audio whatever its length: the same count, and only true starts.
    {
        TFrameIndex index(file, *span, 0);
        const auto frames = static_cast<int64_t>(starts.size());
        FUZZ_CHECK(index.FrameCount() == frames, "the index counts " + std::to_string(index.FrameCount()));
        for (int64_t i = 0; i <= frames; i += 1 + i / 64) {
            auto [start, known] = index.StartAtOrBefore(i);
            bool trueStart = frames == 0 ? start == span->AudioEnd
                                          : known <= i && known < frames && start == starts[size_t(known)];
            FUZZ_CHECK(trueStart, "index start " + std::to_string(start) + " as frame " + std::to_string(known) + " for frame "
                                          + std::to_string(i) + " of " + std::to_string(frames));
        }
    }

    // Offsets spread over the audio, visited in order by one walk, and each
    // again by a walk resumed where the previous one stepped from.
    TFrameWalker walker(file, *span, kSmallWindow);
    int64_t resumeFrom = span->TimeZero;
    int64_t offset = span->TimeZero;
    const int64_t length = span->AudioEnd - span->TimeZero;
    for (int64_t part = 0; part <= 7; ++part) {
        offset = std::max(offset, span->TimeZero + length * part / 7 + (part % 2));
        auto expected = std::lower_bound(starts.begin(), starts.end(), offset);
        const int64_t want = expected == starts.end() ? span->AudioEnd : *expected;
        const int64_t found = walker.AdvanceTo(offset);
        FUZZ_CHECK(found == want, Where(offset, found) + ", expected " + std::to_string(want));
        FUZZ_CHECK(walker.PreviousFrameStart() <= std::min(found, offset) || found == span->TimeZero,
                   Where(offset, found) + ", stepped from " + std::to_string(walker.PreviousFrameStart()));

        TFrameWalker resumed(file, *span, kSmallWindow);
        resumed.ResumeAt(resumeFrom);
        const int64_t again = resumed.AdvanceTo(offset);
        FUZZ_CHECK(again == want, Where(offset, again) + " resumed at " + std::to_string(resumeFrom));
        resumeFrom = walker.PreviousFrameStart();

        if (found < span->AudioEnd) {
            auto next = std::upper_bound(starts.begin(), starts.end(), found);
            const int64_t after = walker.FrameAfter(found);
            FUZZ_CHECK(after == (next == starts.end() ? span->AudioEnd : *next), Where(found, after) + " as next frame");
            FUZZ_CHECK(walker.Position() == found, "FrameAfter moved the walk");
        }
    }
    return 0;
}
