// The result of reading a text the user gave (a CUE sheet, a list of
// times): the value, or the reason it was refused, "line N: reason" when
// the text has lines.
#pragma once

#include <optional>
#include <string>
#include <utility>

template <typename T>
struct ParseResult {
    std::optional<T> Value;
    std::string Error;  // empty when Value is set

    static ParseResult Ok(T value) { return {std::move(value), {}}; }
    static ParseResult Refused(std::string reason) { return {std::nullopt, std::move(reason)}; }
    explicit operator bool() const { return Value.has_value(); }
};
