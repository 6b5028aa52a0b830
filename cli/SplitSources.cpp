#include "SplitSources.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "core/CueSheet.h"
#include "core/PartList.h"
#include "core/PartNames.h"
#include "core/TimeText.h"
#include "core/UserText.h"
#include "playback/BASSChannel.h"
#include "playback/DecodedLevels.h"

namespace {

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
    options.MinSilenceMs = kDefaultMinSilenceMs;
    options.MinPartMs = kDefaultMinPartMs;
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
    return PartsBetweenSilences(WindowRmsDb(fileName, kSilenceWindowMs), lengthMs, options);
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
