#include "TimeText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "analysis/Errors.h"

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// An optional sign followed by one or more decimal digits, nothing else.
std::optional<int64_t> ParseWholeNumber(std::string_view text)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate toward the negative side so that INT64_MIN fits too.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        int digit = text[i] - '0';
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<int64_t>::min())
            return std::nullopt;
        value = -value;
    }
    return value;
}

// A decimal number with "." as its point: optional sign, at least one digit
// before the point, any number after it. No exponent, no blanks.
std::optional<double> ParseDecimalNumber(std::string_view text)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digitsBefore = 0;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
        ++digitsBefore;
    }
    if (digitsBefore == 0)
        return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
    }
    if (i != text.size())
        return std::nullopt;
    // from_chars ignores the locale: under a comma-decimal locale strtod
    // would stop at the "." and read "12.750" as 12.
    size_t sign = text[0] == '+' ? 1 : 0;
    double value = 0;
    auto [end, error] = std::from_chars(text.data() + sign, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// One part of a millisecond time text: blanks only (or nothing) is 0,
// leading blanks are skipped, the rest must be a whole number.
int64_t ConvertTimePart(std::string_view part)
{
    size_t first = part.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return 0;
    auto value = ParseWholeNumber(part.substr(first));
    if (!value)
        throw IntegerConvertError(std::string(part));
    return *value;
}

int64_t ScaledPart(std::string_view part, int64_t factor)
{
    int64_t value = ConvertTimePart(part);
    int64_t scaled = 0;
    if (__builtin_mul_overflow(value, factor, &scaled))
        throw IntegerConvertError(std::string(part));
    return scaled;
}

} // namespace

std::string FormatTimeText(double seconds)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    int64_t whole = static_cast<int64_t>(seconds);
    int64_t minutes = whole / 60;
    int64_t secs = whole - 60 * minutes;
    double fraction = (seconds - 60.0 * static_cast<double>(minutes) - static_cast<double>(secs)) * 1000.0;
    auto milliseconds = static_cast<long long>(std::nearbyint(fraction));
    char text[80];
    std::snprintf(text, sizeof text, "%02lld:%02lld.%03lld", static_cast<long long>(minutes),
                  static_cast<long long>(secs), milliseconds);
    return text;
}

std::string FormatPositionText(int64_t position, int64_t trackBarMax, int64_t lengthRemainderMs)
{
    int64_t minutes = position / 60;
    int64_t secs = position - 60 * minutes;
    int64_t milliseconds = position == trackBarMax ? lengthRemainderMs : 0;
    char text[80];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%03lld", static_cast<long long>(minutes),
                  static_cast<long long>(secs), static_cast<long long>(milliseconds));
    return text;
}

double TimeTextToSeconds(std::string_view text)
{
    size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return -1;
    auto minutes = ParseWholeNumber(text.substr(0, colon));
    auto seconds = ParseDecimalNumber(text.substr(colon + 1));
    if (!minutes || !seconds)
        return -1;
    return static_cast<double>(*minutes) * 60.0 + *seconds;
}

int64_t TimeTextToMilliseconds(std::string_view text)
{
    size_t colon = text.find(':');
    std::string_view minutesPart = colon == std::string_view::npos ? std::string_view() : text.substr(0, colon);
    std::string_view rest = colon == std::string_view::npos ? text : text.substr(colon + 1);
    size_t point = rest.find('.');
    std::string_view secondsPart = point == std::string_view::npos ? std::string_view() : rest.substr(0, point);
    std::string_view millisecondsPart = point == std::string_view::npos ? rest : rest.substr(point + 1);

    int64_t minutes = ScaledPart(minutesPart, 60000);
    int64_t seconds = ScaledPart(secondsPart, 1000);
    int64_t milliseconds = ConvertTimePart(millisecondsPart);
    int64_t sum = 0;
    if (__builtin_add_overflow(minutes, seconds, &sum))
        throw IntegerConvertError(std::string(secondsPart));
    if (__builtin_add_overflow(sum, milliseconds, &sum))
        throw IntegerConvertError(std::string(millisecondsPart));
    return sum;
}

std::string SelectedLengthText(std::string_view startText, std::string_view endText)
{
    double end = TimeTextToSeconds(endText);
    double start = TimeTextToSeconds(startText);
    if (end == -1 || start == -1 || !(end - start > 0))
        return {};
    // to_chars writes "." whatever the locale; "%.15g" would write "12,5"
    // under a comma-decimal one.
    char number[64];
    auto written = std::to_chars(number, number + sizeof number, end - start, std::chars_format::general, 15);
    return std::string("The selected part is ") + std::string(number, written.ptr) + " (Second.Millisecond)";
}
