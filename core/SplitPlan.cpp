#include "SplitPlan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/TextCodec.h"
#include "core/PartNames.h"

std::optional<int32_t> ParsePartQuantity(std::string_view text)
{
    size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos)
        return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<int32_t>::max())
            return std::nullopt;
    }
    if (negative || value == 0)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::string PartBaseName(std::string_view fileText)
{
    size_t slash = fileText.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? fileText : fileText.substr(slash + 1);
    size_t length = Utf8Length(name);
    return length <= 4 ? std::string() : Utf8Left(name, length - 4);
}

std::string PartFileName(std::string_view baseName, int64_t number)
{
    PartNameFields fields;
    fields.Source = std::string(baseName);
    fields.Number = number;
    return PartNameFromTemplate(kEqualPartsNameTemplate, fields);
}

std::string WithTrailingSeparator(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

PartRange EqualPartRange(int64_t lengthMs, int32_t count, int32_t index)
{
    int64_t partMs = lengthMs / count;
    PartRange range;
    range.StartMs = partMs * index;
    range.Last = index == count - 1;
    range.EndMs = range.Last ? lengthMs : range.StartMs + partMs;
    return range;
}

std::vector<SplitPoint> EqualSplitPoints(int64_t lengthMs, int32_t count)
{
    std::vector<SplitPoint> points;
    points.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t index = 0; index < count; ++index) {
        const PartRange range = EqualPartRange(lengthMs, count, index);
        SplitPoint point;
        point.Start = range.StartMs;
        point.End = range.EndMs;
        point.ToAudioEnd = range.Last;
        point.Equal = SplitPoint::Shares{count, index, index};
        points.push_back(point);
    }
    return points;
}

SplitPoint JoinedPoints(const SplitPoint& from, const SplitPoint& to)
{
    SplitPoint joined = to;
    joined.Start = from.Start;
    if (from.Equal && joined.Equal)
        joined.Equal->First = from.Equal->First;
    return joined;
}

int GaugePercent(int32_t index, int32_t count)
{
    if (count <= 1)
        return 100;
    return static_cast<int>(std::nearbyint(static_cast<double>(index) / (count - 1) * 100.0));
}

std::string MergedPartsText(const std::vector<MergedParts>& merges)
{
    std::string text;
    for (const MergedParts& merge : merges) {
        if (!text.empty())
            text += "\r\n";
        const std::string into = std::to_string(merge.Into);
        if (merge.First == merge.Last) {
            text += "Part " + std::to_string(merge.First) + " was too short to hold two frames; its audio is in part "
                + into + ".";
            continue;
        }
        const char* joint = merge.Last == merge.First + 1 ? " and " : " to ";
        text += "Parts " + std::to_string(merge.First) + joint + std::to_string(merge.Last)
            + " were too short to hold two frames; their audio is in part " + into + ".";
    }
    return text;
}

std::string StoppedRunText(int32_t partsWritten, int32_t count)
{
    return "Splitting MP3 is stopped. " + std::to_string(partsWritten) + " of " + std::to_string(count)
        + (partsWritten == 1 ? " parts was written." : " parts were written.");
}
