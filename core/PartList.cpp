#include "PartList.h"

#include <algorithm>
#include <set>
#include <utility>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/PartNames.h"
#include "core/SplitPlan.h"

namespace {

std::string FoldedAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<SplitPart> PartsOf(const std::vector<PartRow>& rows)
{
    std::vector<SplitPart> parts;
    for (const PartRow& row : rows)
        parts.push_back({row.StartMs, row.EndMs, row.Title, row.Performer});
    return parts;
}

} // namespace

PartNaming ReadPartNaming(const std::string& fileName)
{
    TID3v1 id3v1;
    TID3v2 id3v2;
    id3v1.ReadTag(fileName);
    id3v2.ReadTag(fileName);
    return {PartBaseName(fileName), !id3v2.Album().empty() ? id3v2.Album() : id3v1.Album(),
            !id3v2.Artist().empty() ? id3v2.Artist() : id3v1.Artist()};
}

std::string DefaultPartsNameTemplate(const std::vector<SplitPart>& parts)
{
    const bool titled = std::any_of(parts.begin(), parts.end(), [](const SplitPart& part) { return !part.Title.empty(); });
    return std::string(titled ? kTitledPartsNameTemplate : kSourcePartsNameTemplate);
}

ParseResult<std::vector<SplitPart>> PartsBetweenSilences(const std::vector<float>& levels, int64_t lengthMs,
                                                         const SilenceOptions& options)
{
    using Result = ParseResult<std::vector<SplitPart>>;
    if (levels.empty())
        return Result::Refused("the audio cannot be decoded to find its silences");
    SilenceSplit split = SplitAtSilences(levels, kSilenceWindowMs, lengthMs, options);
    if (split.Parts.empty())
        return Result::Refused("the audio is silent throughout");
    return Result::Ok(std::move(split.Parts));
}

PartList::PartList(std::vector<SplitPart> parts, int64_t lengthMs, PartNaming naming, std::string nameTemplate)
    : lengthMs_(lengthMs), naming_(std::move(naming)),
      template_(nameTemplate.empty() ? DefaultPartsNameTemplate(parts) : std::move(nameTemplate))
{
    error_ = NameTemplateError(template_);
    if (!error_.empty())
        return;
    for (SplitPart& part : parts)
        rows_.push_back({part.StartMs, part.EndMs, {}, std::move(part.Title), std::move(part.Performer), false});
    NameByTemplate();
}

void PartList::NameByTemplate()
{
    ParseResult<std::vector<std::string>> names =
        PartNamesFromTemplate(template_, PartsOf(rows_), naming_.SourceBaseName, naming_.Album, naming_.Artist);
    if (!names)
        return;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (!rows_[i].NamedByHand)
            rows_[i].Name = (*names.Value)[i];
}

std::string PartList::SetTitle(size_t index, std::string_view title)
{
    if (index >= rows_.size())
        return "there is no part " + std::to_string(index + 1);
    rows_[index].Title = std::string(title);
    NameByTemplate();
    return {};
}

std::string PartList::SetName(size_t index, std::string_view name)
{
    if (index >= rows_.size())
        return "there is no part " + std::to_string(index + 1);
    std::string portable = PortablePartName(name);
    if (portable.empty())
        return "part " + std::to_string(index + 1) + " needs a file name";
    rows_[index].Name = std::move(portable);
    rows_[index].NamedByHand = true;
    return {};
}

std::string PartList::SetStart(size_t index, int64_t startMs)
{
    if (index >= rows_.size())
        return "there is no part " + std::to_string(index + 1);
    PartRow& row = rows_[index];
    const int64_t earliest = index == 0 ? 0 : rows_[index - 1].StartMs + 1;
    if (startMs < earliest || startMs >= row.EndMs)
        return "part " + std::to_string(index + 1) + " must start after the part before it starts and before it ends";
    // Parts that tiled the stream still do; a part before that left a gap
    // keeps it unless the new start reaches into it.
    if (index > 0 && (rows_[index - 1].EndMs == row.StartMs || rows_[index - 1].EndMs > startMs))
        rows_[index - 1].EndMs = startMs;
    row.StartMs = startMs;
    return {};
}

std::vector<SplitPoint> PointsOfParts(const std::vector<SplitPart>& parts, const std::vector<std::string>& names,
                                     int64_t lengthMs)
{
    std::vector<SplitPoint> points;
    const auto count = static_cast<int64_t>(parts.size());
    for (size_t i = 0; i < parts.size() && i < names.size(); ++i) {
        SplitPoint point;
        point.Start = parts[i].StartMs;
        point.End = parts[i].EndMs;
        // A last part trimmed of the silence at the end stops before it.
        point.ToAudioEnd = i + 1 == parts.size() && parts[i].EndMs >= lengthMs;
        point.Name = names[i];
        point.Tags = SplitPoint::OwnTags{parts[i].Title, parts[i].Performer, static_cast<int64_t>(i) + 1, count};
        points.push_back(std::move(point));
    }
    return points;
}

ParseResult<std::vector<SplitPoint>> PartList::Points() const
{
    using Result = ParseResult<std::vector<SplitPoint>>;
    std::set<std::string> taken;
    std::vector<std::string> names;
    for (const PartRow& row : rows_) {
        if (!taken.insert(FoldedAscii(row.Name)).second)
            return Result::Refused("two parts are named \"" + row.Name + "\"");
        names.push_back(row.Name);
    }
    return Result::Ok(PointsOfParts(PartsOf(rows_), names, lengthMs_));
}
