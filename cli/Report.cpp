#include "Report.h"

#include "analysis/TextCodec.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

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

// indent < 0: the whole value on one line.
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
        const bool oneLine = indent < 0;
        out += oneLine ? "{" : "{\n";
        std::string inner(oneLine ? 0 : static_cast<size_t>(indent + 2), ' ');
        bool first = true;
        for (const auto& [name, field] : value.Fields()) {
            if (!first)
                out += oneLine ? ", " : ",\n";
            first = false;
            out += inner + JsonString(name) + ": ";
            AppendJson(out, field, oneLine ? indent : indent + 2);
        }
        out += oneLine ? std::string("}") : "\n" + std::string(static_cast<size_t>(indent), ' ') + "}";
        break;
    }
    case ReportValue::Kind::Array: {
        // Elements are short (file names, numbers): one line, indented or not.
        out += "[";
        bool first = true;
        for (const ReportValue& element : value.Elements()) {
            if (!first)
                out += ", ";
            first = false;
            AppendJson(out, element, -1);
        }
        out += "]";
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
    case ReportValue::Kind::Array: {
        std::string out;
        for (const ReportValue& element : value.Elements())
            out += (out.empty() ? "" : ", ") + ScalarText(element);
        return out;
    }
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

ReportValue ReportValue::Array()
{
    ReportValue result;
    result.kind_ = Kind::Array;
    return result;
}

ReportValue& ReportValue::Append(ReportValue value)
{
    elements_.push_back(std::move(value));
    return *this;
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

std::string FormatJsonLine(const ReportValue& value)
{
    std::string out;
    AppendJson(out, value, -1);
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
