// Text files a user writes for the program (a CUE sheet, a list of split
// times): read whole with a bound, decoded to UTF-8 and cut into lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ParseResult.h"

// Such files are a few kilobytes; a larger one is not one of them.
inline constexpr int64_t kMaxUserTextBytes = 1 << 20;

// The bytes of the file at path; refused with "Cannot open file ..." (or
// "Stream read error") as the cutter words them when it cannot be read or
// holds more than kMaxUserTextBytes.
ParseResult<std::string> ReadUserText(const std::string& path);

// The bytes as UTF-8: a UTF-16 text (it has a byte-order mark) converted,
// a UTF-8 mark dropped, and bytes that are not valid UTF-8 taken for
// Latin-1.
std::string UserTextAsUtf8(std::string_view bytes);

// The lines of a text, ended by CR LF, LF or a lone CR (without them).
std::vector<std::string_view> TextLines(std::string_view text);
