// Time texts of the split page: "MM:SS.mmm" (minutes at least two digits,
// seconds two, milliseconds at least three), the position label's
// "MM:SS:mmm", and the conversions the window, the cutter and the split
// commands use. Pure functions; any thread. The decimal point is always
// ".", whatever the locale the program runs under.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// seconds >= 0 (callers pass milliseconds / 1000). The millisecond field is
// never carried into the seconds: a fraction that rounds to 1000 shows "1000".
std::string FormatTimeText(double seconds);

// The position label for a track bar position in whole seconds. The last
// position (position == trackBarMax) shows the stream's remaining
// milliseconds (0..999) so that it reads as the exact end of the stream.
std::string FormatPositionText(int64_t position, int64_t trackBarMax, int64_t lengthRemainderMs);

// Minutes ":" seconds as a decimal number; -1 when the text is unreadable.
// Negative values are returned as they are; callers reject them.
double TimeTextToSeconds(std::string_view text);

// Minutes ":" seconds "." milliseconds, each part a whole number (the part
// after "." counts milliseconds, it is not a fraction: "00:01.5" is 1005).
// An empty or all-blank part counts as 0. Throws CorvellaError
// "'<part>' is not a valid integer value" for a part that is not a whole
// number or whose value does not fit the 64-bit result.
int64_t TimeTextToMilliseconds(std::string_view text);

// The caption of the selected-length label for the two time fields:
// "The selected part is <end - start> (Second.Millisecond)", or empty when
// either text is unreadable or the end is not after the start.
std::string SelectedLengthText(std::string_view startText, std::string_view endText);
