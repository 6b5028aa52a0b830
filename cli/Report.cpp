#include "Report.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// Decodes one UTF-8 sequence at i; returns its length, or 0 when the bytes
// there are not a well-formed sequence.
size_t Utf8SequenceLength(const std::string& text, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    if (length == 2 && lead < 0xC2)
        return 0;  // overlong
    if (length == 3) {
        unsigned code = (lead & 0x0Fu) << 12 | (byte(i + 1) & 0x3Fu) << 6 | (byte(i + 2) & 0x3Fu);
        if (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))
            return 0;
    }
    if (length == 4) {
        unsigned code = (lead & 0x07u) << 18 | (byte(i + 1) & 0x3Fu) << 12 | (byte(i + 2) & 0x3Fu) << 6
            | (byte(i + 3) & 0x3Fu);
        if (code < 0x10000 || code > 0x10FFFF)
            return 0;
    }
    return length;
}

std::string ValidUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : ValidUtf8(text)) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string NumberText(double value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Control characters (the NULs of a Xing vendor field, say) would garble a
// terminal; text output shows them as \xNN.
std::string PrintableText(const std::string& text)
{
    std::string out;
    for (char c : ValidUtf8(text)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void AppendJson(std::string& out, const ReportValue& value, int indent)
{
    switch (value.GetKind()) {
    case ReportValue::Kind::Null: out += "null"; break;
    case ReportValue::Kind::Boolean: out += value.BooleanValue() ? "true" : "false"; break;
    case ReportValue::Kind::Integer: out += std::to_string(value.IntegerValue()); break;
    case ReportValue::Kind::Number:
        out += std::isfinite(value.NumberValue()) ? NumberText(value.NumberValue()) : "null";
        break;
    case ReportValue::Kind::Text: out += JsonString(value.TextValue()); break;
    case ReportValue::Kind::Object: {
        if (value.Fields().empty()) {
            out += "{}";
            break;
        }
        out += "{\n";
        std::string inner(static_cast<size_t>(indent + 2), ' ');
        bool first = true;
        for (const auto& [name, field] : value.Fields()) {
            if (!first)
                out += ",\n";
            first = false;
            out += inner + JsonString(name) + ": ";
            AppendJson(out, field, indent + 2);
        }
        out += "\n" + std::string(static_cast<size_t>(indent), ' ') + "}";
        break;
    }
    }
}

std::string ScalarText(const ReportValue& value)
{
    switch (value.GetKind()) {
    case ReportValue::Kind::Null: return "-";
    case ReportValue::Kind::Boolean: return value.BooleanValue() ? "yes" : "no";
    case ReportValue::Kind::Integer: return std::to_string(value.IntegerValue());
    case ReportValue::Kind::Number: return NumberText(value.NumberValue());
    case ReportValue::Kind::Text: return PrintableText(value.TextValue());
    case ReportValue::Kind::Object: return {};
    }
    return {};
}

void AppendText(std::string& out, const ReportValue& value, int indent)
{
    std::string pad(static_cast<size_t>(indent), ' ');
    for (const auto& [name, field] : value.Fields()) {
        if (field.GetKind() == ReportValue::Kind::Object) {
            out += pad + name + ":\n";
            AppendText(out, field, indent + 2);
        } else {
            out += pad + name + ": " + ScalarText(field) + "\n";
        }
    }
}

} // namespace

ReportValue ReportValue::Boolean(bool value)
{
    ReportValue result;
    result.kind_ = Kind::Boolean;
    result.boolean_ = value;
    return result;
}

ReportValue ReportValue::Integer(int64_t value)
{
    ReportValue result;
    result.kind_ = Kind::Integer;
    result.integer_ = value;
    return result;
}

ReportValue ReportValue::Number(double value)
{
    ReportValue result;
    result.kind_ = Kind::Number;
    result.number_ = value;
    return result;
}

ReportValue ReportValue::Text(std::string value)
{
    ReportValue result;
    result.kind_ = Kind::Text;
    result.text_ = std::move(value);
    return result;
}

ReportValue ReportValue::Object()
{
    ReportValue result;
    result.kind_ = Kind::Object;
    return result;
}

ReportValue& ReportValue::Add(std::string name, ReportValue value)
{
    fields_.emplace_back(std::move(name), std::move(value));
    return *this;
}

std::string FormatJson(const ReportValue& value)
{
    std::string out;
    AppendJson(out, value, 0);
    return out + "\n";
}

std::string FormatText(const ReportValue& value)
{
    if (value.GetKind() != ReportValue::Kind::Object)
        return ScalarText(value) + "\n";
    std::string out;
    AppendText(out, value, 0);
    return out;
}
