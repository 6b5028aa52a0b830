#include "SplitSources.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/CueSheet.h"
#include "core/PartNames.h"
#include "core/TimeText.h"
#include "core/UserText.h"
#include "playback/BASSChannel.h"
#include "playback/DecodedLevels.h"

namespace {

// The defaults of the silence options. The default threshold lies below
// the quiet passages of most music and speech and above the hiss of most
// recordings' pauses.
constexpr double kDefaultSilenceThresholdDb = -40.0;
constexpr double kDefaultMinSilenceSeconds = 1.0;
constexpr double kDefaultMinPartSeconds = 5.0;
// Levels are measured over windows this long: short enough to place a cut
// within a frame or two, long enough that a low note's single cycle does
// not read as silence.
constexpr int64_t kSilenceWindowMs = 20;

// The number an option's value gives; UsageError for anything else.
double NumberOption(const std::string& option, const std::string& text)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        throw UsageError(option + " takes a number, not '" + text + "'");
    return value;
}

int64_t SecondsOption(const std::string& option, const std::string& text)
{
    const double seconds = NumberOption(option, text);
    // More than a day of silence or of a part is a mistyped value, and
    // would overflow milliseconds were it much larger.
    if (seconds < 0.0 || seconds > 86400.0)
        throw UsageError(option + " takes seconds from 0 to 86400, not '" + text + "'");
    return std::llround(seconds * 1000.0);
}

} // namespace

std::optional<int32_t> StreamLength(TBASSChannel& player, const std::string& fileName)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error) || !player.Open(fileName))
        return std::nullopt;
    auto length = static_cast<int32_t>(std::min<uint32_t>(player.PlayLength(), INT32_MAX));
    player.Close();
    return length;
}

SilenceOptions TakeSilenceOptions(Arguments& args)
{
    SilenceOptions options;
    options.ThresholdDb = kDefaultSilenceThresholdDb;
    options.MinSilenceMs = std::llround(kDefaultMinSilenceSeconds * 1000.0);
    options.MinPartMs = std::llround(kDefaultMinPartSeconds * 1000.0);
    if (auto threshold = TakeOption(args, "--threshold"))
        options.ThresholdDb = NumberOption("--threshold", *threshold);
    if (auto minSilence = TakeOption(args, "--min-silence"))
        options.MinSilenceMs = SecondsOption("--min-silence", *minSilence);
    if (auto minPart = TakeOption(args, "--min-part"))
        options.MinPartMs = SecondsOption("--min-part", *minPart);
    if (auto parts = TakeOption(args, "--parts")) {
        int32_t count = 0;
        const char* end = parts->data() + parts->size();
        const auto [stop, error] = std::from_chars(parts->data(), end, count);
        if (error != std::errc() || stop != end || count < 1)
            throw UsageError("--parts takes a whole number of at least 1, not '" + *parts + "'");
        options.AboutParts = count;
    }
    options.CutAtEnd = TakeFlag(args, "--cut-at-end");
    options.TrimSilence = TakeFlag(args, "--trim");
    return options;
}

ParseResult<std::vector<SplitPart>> SilenceParts(const std::string& fileName, int64_t lengthMs,
                                                 const SilenceOptions& options)
{
    using Result = ParseResult<std::vector<SplitPart>>;
    const std::vector<float> levels = WindowRmsDb(fileName, kSilenceWindowMs);
    if (levels.empty())
        return Result::Refused("the audio cannot be decoded to find its silences");
    SilenceSplit split = SplitAtSilences(levels, kSilenceWindowMs, lengthMs, options);
    if (split.Parts.empty())
        return Result::Refused("the audio is silent throughout");
    return Result::Ok(std::move(split.Parts));
}

SourceTexts ReadSourceTexts(const std::string& fileName)
{
    TID3v1 id3v1;
    TID3v2 id3v2;
    id3v1.ReadTag(fileName);
    id3v2.ReadTag(fileName);
    return {!id3v2.Album().empty() ? id3v2.Album() : id3v1.Album(),
            !id3v2.Artist().empty() ? id3v2.Artist() : id3v1.Artist()};
}

ParseResult<std::vector<SplitPart>> PartsFrom(const std::string& option, const std::string& value, int64_t lengthMs,
                                             std::string& album)
{
    using Result = ParseResult<std::vector<SplitPart>>;
    if (option == "--cue") {
        ParseResult<CueSheet> sheet = ReadCueSheet(value);
        if (!sheet)
            return Result::Refused(sheet.Error);
        if (!sheet.Value->Title.empty())
            album = sheet.Value->Title;
        return CueParts(*sheet.Value, lengthMs);
    }
    if (option == "--every") {
        ParseResult<int64_t> period = ParseSplitTime(value);
        if (!period)
            return Result::Refused(period.Error);
        return Result::Ok(EveryParts(lengthMs, *period.Value));
    }
    if (option == "--at")
        return TimeListParts(value, lengthMs);
    ParseResult<std::string> bytes = ReadUserText(value);
    if (!bytes)
        return Result::Refused(bytes.Error);
    return TimeListFileParts(*bytes.Value, lengthMs);
}

std::string DefaultNameTemplate(const std::vector<SplitPart>& parts)
{
    const bool titled = std::any_of(parts.begin(), parts.end(), [](const SplitPart& part) { return !part.Title.empty(); });
    return std::string(titled ? kTitledPartsNameTemplate : kSourcePartsNameTemplate);
}

std::vector<SplitPoint> PointsOf(const std::vector<SplitPart>& parts, const std::vector<std::string>& names,
                                 int64_t lengthMs)
{
    std::vector<SplitPoint> points;
    const auto count = static_cast<int64_t>(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        SplitPoint point;
        point.Start = parts[i].StartMs;
        point.End = parts[i].EndMs;
        // A last part trimmed of the silence at the end stops before it.
        point.ToAudioEnd = i + 1 == parts.size() && parts[i].EndMs >= lengthMs;
        point.Name = names[i];
        point.Tags = SplitPoint::OwnTags{parts[i].Title, parts[i].Performer, static_cast<int64_t>(i) + 1, count};
        points.push_back(point);
    }
    return points;
}
