// Report: the ordered record a command prints, built once and formatted
// either as readable text or as JSON, so the two outputs never disagree.
// Texts are UTF-8; bytes that are not valid UTF-8 are shown as U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class ReportValue {
public:
    enum class Kind { Null, Boolean, Integer, Number, Text, Object, Array };

    ReportValue() = default;
    static ReportValue Boolean(bool value);
    static ReportValue Integer(int64_t value);
    static ReportValue Number(double value);
    static ReportValue Text(std::string value);
    static ReportValue Object();
    static ReportValue Array();

    // Appends a field to an object; returns the object for chaining.
    ReportValue& Add(std::string name, ReportValue value);
    // Appends an element to an array; returns the array for chaining.
    ReportValue& Append(ReportValue value);

    Kind GetKind() const { return kind_; }
    bool BooleanValue() const { return boolean_; }
    int64_t IntegerValue() const { return integer_; }
    double NumberValue() const { return number_; }
    const std::string& TextValue() const { return text_; }
    const std::vector<std::pair<std::string, ReportValue>>& Fields() const { return fields_; }
    const std::vector<ReportValue>& Elements() const { return elements_; }

private:
    Kind kind_ = Kind::Null;
    bool boolean_ = false;
    int64_t integer_ = 0;
    double number_ = 0;
    std::string text_;
    std::vector<std::pair<std::string, ReportValue>> fields_;
    std::vector<ReportValue> elements_;
};

// One JSON document, two-space indented, ending in a newline.
std::string FormatJson(const ReportValue& value);
// The same document on one line, for a stream of records a line each.
std::string FormatJsonLine(const ReportValue& value);
// "Name: value" lines; nested objects indented under their name.
std::string FormatText(const ReportValue& value);
