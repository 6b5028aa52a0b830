// Where the parts of a split begin and end, from each source of split
// points: a fixed length, a list of times, a CUE sheet, or the silences
// of the audio. Every source gives parts in time order; those of a fixed
// length, a time list and a CUE sheet tile the stream (each part ends
// where the next begins, the first starts at 0 and the last ends at the
// stream's length), as do those of silences unless trimmed. Times are
// milliseconds of the stream. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/CueSheet.h"
#include "core/ParseResult.h"

struct SplitPart {
    int64_t StartMs = 0;
    int64_t EndMs = 0;        // after StartMs
    std::string Title;        // empty when the source names none
    std::string Performer;    // empty when the source names none
};

// The cutter refuses a part of fewer than two frames, and the longest MPEG
// frame lasts 1152 samples at 8000 Hz (144 ms): audio shorter than two
// of those at the start or the end joins the part beside it rather than
// becoming a part of its own that would be dropped.
inline constexpr int64_t kShortestEdgePartMs = 288;

// A time text "MM:SS.mmm" in milliseconds, read by TimeTextToMilliseconds
// and TimeTextToSeconds, which must agree: "1:30" (60030 ms to the one,
// 90 s to the other) and "00:01.5" are refused rather than guessed at, as
// are negative times. Blanks around the text are ignored.
ParseResult<int64_t> ParseSplitTime(std::string_view text);

// Parts every periodMs; the last holds the rest, and a rest shorter than
// kShortestEdgePartMs joins the part before it. No parts for a length of
// 0 or less; one part when periodMs is not positive. A period shorter than
// kShortestEdgePartMs counts as that long: the cutter could not write such
// parts, and a period of 1 ms would ask for millions of them.
std::vector<SplitPart> EveryParts(int64_t lengthMs, int64_t periodMs);

// Parts starting at the given times: "MM:SS.mmm,MM:SS.mmm,..." from the
// command line (refused with "time N: reason"), or a list file's lines,
// each a time optionally followed by blanks and the part's title, with
// blank lines and lines starting with "#" skipped (refused with "line N:
// reason"; the bytes are decoded as UserTextAsUtf8 says). Times must rise
// and lie before lengthMs. Audio before the first time becomes an
// untitled first part (joining the first when shorter than
// kShortestEdgePartMs).
ParseResult<std::vector<SplitPart>> TimeListParts(std::string_view commaList, int64_t lengthMs);
ParseResult<std::vector<SplitPart>> TimeListFileParts(std::string_view fileBytes, int64_t lengthMs);

// One part per track, starting at its INDEX 01, titled by its TITLE and
// performed by its PERFORMER or else the album's. Audio before the first
// track is treated as before the first time of a list. Refused ("line N:
// reason", N the track's TRACK line) when a track starts at or after
// lengthMs: the sheet belongs to another, longer file.
ParseResult<std::vector<SplitPart>> CueParts(const CueSheet& sheet, int64_t lengthMs);

// Splitting at silences, over the audio's levels: one level in dB per
// window of windowMs, window i covering [i x windowMs, (i + 1) x windowMs)
// of the stream (the last clipped at its length; windows past it are
// ignored, audio past the last window counts as sound). A silence is a
// run of windows below ThresholdDb (-inf counts, NaN does not) lasting at
// least MinSilenceMs; a silence touching the start or the end of the
// stream is never cut in, only trimmed.
struct SilenceOptions {
    double ThresholdDb = -48.0;
    int64_t MinSilenceMs = 1000;
    // No part (measured between cuts, before any trimming) is shorter:
    // where two silences are closer, the longer one is cut.
    int64_t MinPartMs = 0;
    // Cut where the silence ends (the next part starts with its sound)
    // instead of in its middle.
    bool CutAtEnd = false;
    // Parts leave out the silences at their edges, and so no longer tile
    // the stream.
    bool TrimSilence = false;
    // About this many parts: the N - 1 longest silences are cut (fewer
    // when there are fewer). 0 cuts every silence.
    int32_t AboutParts = 0;
};

struct SilenceSplit {
    std::vector<int64_t> CutsMs;    // rising; where one part ends and the next begins
    std::vector<SplitPart> Parts;   // none when trimming leaves nothing but silence
};

SilenceSplit SplitAtSilences(std::span<const float> levelsDb, int64_t windowMs, int64_t lengthMs,
                             const SilenceOptions& options);
