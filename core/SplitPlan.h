// The arithmetic and names of the split commands: the quantity of parts,
// each part's time range, the names of the files written and the gauge.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/PartPlan.h"

// The quantity text of the equal-parts command as a whole number (leading
// blanks and a sign allowed, 32-bit); nullopt when it is not one, or when
// it is 0 or negative, which split nothing.
std::optional<int32_t> ParsePartQuantity(std::string_view text);

// The file-name part of the opened file's path with its last four
// characters (the extension ".mp3") removed.
std::string PartBaseName(std::string_view fileText);

// base + "_chunk_" + number + ".mp3"; number counts from 1. A base too
// long for that to fit a file name is shortened (PartNameFromTemplate).
std::string PartFileName(std::string_view baseName, int64_t number);

// Folder with exactly one "/" appended unless it already ends with one.
std::string WithTrailingSeparator(std::string folder);

// The time range of part index (0-based) of count equal parts of a stream
// of lengthMs. Consecutive parts share their bound (a part ends where the
// next begins, so the parts tile the stream) and the last part ends at
// lengthMs and is marked to reach the audio end.
struct PartRange {
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    bool Last = false;
};
PartRange EqualPartRange(int64_t lengthMs, int32_t count, int32_t index);

// The split points of count equal parts of a stream of lengthMs: their
// times are EqualPartRange's, their bounds equal shares of the stream.
std::vector<SplitPoint> EqualSplitPoints(int64_t lengthMs, int32_t count);

// One part of the two adjacent parts from and to: from's start, to's end.
SplitPoint JoinedPoints(const SplitPoint& from, const SplitPoint& to);

// The gauge after part index (0-based) of count: index / (count - 1) x 100,
// rounded to the nearest whole number, halves to even; 100 when count is 1.
int GaugePercent(int32_t index, int32_t count);

// Parts First to Last (numbers from 1) of an equal split held too few
// frames to be written on their own; their audio is in part Into.
struct MergedParts {
    int32_t First = 0;
    int32_t Last = 0;
    int32_t Into = 0;
};
// One line per merge, for the message that ends the run, lines separated
// by CR LF as in the window's message boxes.
std::string MergedPartsText(const std::vector<MergedParts>& merges);

// The message of an equal-parts run that Stop ended: how many of the
// parts asked for are on disk.
std::string StoppedRunText(int32_t partsWritten, int32_t count);
