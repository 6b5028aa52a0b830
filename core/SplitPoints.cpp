#include "SplitPoints.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "analysis/Errors.h"
#include "core/TimeText.h"
#include "core/UserText.h"

namespace {

using PartsResult = ParseResult<std::vector<SplitPart>>;

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string TimeText(int64_t ms)
{
    return FormatTimeText(static_cast<double>(ms) / 1000.0);
}

struct PartStart {
    int64_t StartMs = 0;
    std::string Title;
    std::string Performer;
};

// Rising starts, all before lengthMs, to parts that tile [0, lengthMs).
std::vector<SplitPart> TilingParts(std::vector<PartStart> starts, int64_t lengthMs)
{
    std::vector<SplitPart> parts;
    if (starts.empty() || starts.front().StartMs >= kShortestEdgePartMs)
        parts.push_back({0, 0, {}, {}});
    for (PartStart& start : starts) {
        if (!parts.empty())
            parts.back().EndMs = start.StartMs;
        parts.push_back({parts.empty() ? 0 : start.StartMs, 0, std::move(start.Title), std::move(start.Performer)});
    }
    parts.back().EndMs = lengthMs;
    return parts;
}

// One time of a list, checked against the one before it and the length.
std::optional<std::string> CheckedStart(std::string_view text, int64_t lengthMs,
                                        const std::vector<PartStart>& before, int64_t& startMs)
{
    ParseResult<int64_t> time = ParseSplitTime(text);
    if (!time)
        return time.Error;
    startMs = *time.Value;
    if (startMs >= lengthMs)
        return std::string(TrimBlanks(text)) + " is not before the end (" + TimeText(lengthMs) + ")";
    if (!before.empty() && startMs <= before.back().StartMs)
        return std::string(TrimBlanks(text)) + " is not after the time before it (" +
               TimeText(before.back().StartMs) + ")";
    return std::nullopt;
}

} // namespace

ParseResult<int64_t> ParseSplitTime(std::string_view text)
{
    text = TrimBlanks(text);
    auto refused = ParseResult<int64_t>::Refused("'" + std::string(text) + "' is not a time MM:SS.mmm");
    double seconds = TimeTextToSeconds(text);
    if (seconds < 0)
        return refused;
    int64_t ms = 0;
    try {
        ms = TimeTextToMilliseconds(text);
    } catch (const CorvellaError&) {
        return refused;
    }
    // Beyond 1e15 s llround could not hold the product; no stream is that long.
    if (ms < 0 || seconds > 1e15 || std::llround(seconds * 1000.0) != ms)
        return refused;
    return ParseResult<int64_t>::Ok(ms);
}

std::vector<SplitPart> EveryParts(int64_t lengthMs, int64_t periodMs)
{
    std::vector<SplitPart> parts;
    if (lengthMs <= 0)
        return parts;
    if (periodMs <= 0)
        periodMs = lengthMs;
    periodMs = std::max(periodMs, kShortestEdgePartMs);
    for (int64_t start = 0, end = 0; start < lengthMs; start = end) {
        end = lengthMs - start > periodMs ? start + periodMs : lengthMs;
        if (!parts.empty() && end - start < kShortestEdgePartMs)
            parts.back().EndMs = end;
        else
            parts.push_back({start, end, {}, {}});
    }
    return parts;
}

ParseResult<std::vector<SplitPart>> TimeListParts(std::string_view commaList, int64_t lengthMs)
{
    std::vector<PartStart> starts;
    int32_t number = 0;
    for (size_t begin = 0; begin <= commaList.size();) {
        size_t comma = std::min(commaList.find(',', begin), commaList.size());
        std::string_view item = commaList.substr(begin, comma - begin);
        begin = comma + 1;
        ++number;
        int64_t startMs = 0;
        if (auto error = CheckedStart(item, lengthMs, starts, startMs))
            return PartsResult::Refused("time " + std::to_string(number) + ": " + *error);
        starts.push_back({startMs, {}, {}});
    }
    return PartsResult::Ok(TilingParts(std::move(starts), lengthMs));
}

ParseResult<std::vector<SplitPart>> TimeListFileParts(std::string_view fileBytes, int64_t lengthMs)
{
    std::string text = UserTextAsUtf8(fileBytes);
    std::vector<std::string_view> lines = TextLines(text);
    std::vector<PartStart> starts;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = TrimBlanks(lines[i]);
        if (line.empty() || line.front() == '#')
            continue;
        size_t blank = std::min(line.find_first_of(" \t"), line.size());
        int64_t startMs = 0;
        if (auto error = CheckedStart(line.substr(0, blank), lengthMs, starts, startMs))
            return PartsResult::Refused("line " + std::to_string(i + 1) + ": " + *error);
        starts.push_back({startMs, std::string(TrimBlanks(line.substr(blank))), {}});
    }
    if (starts.empty())
        return PartsResult::Refused("line " + std::to_string(std::max<size_t>(lines.size(), 1)) +
                                    ": the list holds no time");
    return PartsResult::Ok(TilingParts(std::move(starts), lengthMs));
}

ParseResult<std::vector<SplitPart>> CueParts(const CueSheet& sheet, int64_t lengthMs)
{
    std::vector<PartStart> starts;
    for (const CueTrack& track : sheet.Tracks) {
        if (track.StartMs >= lengthMs)
            return PartsResult::Refused("line " + std::to_string(track.Line) + ": track " +
                                        std::to_string(track.Number) + " starts at " + TimeText(track.StartMs) +
                                        ", not before the end of the file (" + TimeText(lengthMs) + ")");
        starts.push_back({track.StartMs, track.Title, track.Performer.empty() ? sheet.Performer : track.Performer});
    }
    return PartsResult::Ok(TilingParts(std::move(starts), lengthMs));
}

namespace {

struct Silence {
    int64_t StartMs = 0;
    int64_t EndMs = 0;
    int64_t Length() const { return EndMs - StartMs; }
};

std::vector<Silence> Silences(std::span<const float> levelsDb, int64_t windowMs, int64_t lengthMs,
                              const SilenceOptions& options)
{
    std::vector<Silence> silences;
    constexpr int64_t kNoRun = -1;
    int64_t runStart = kNoRun;
    auto endRun = [&](int64_t endMs) {
        if (runStart != kNoRun && endMs - runStart >= options.MinSilenceMs)
            silences.push_back({runStart, endMs});
        runStart = kNoRun;
    };
    int64_t windowStart = 0;
    for (size_t i = 0; i < levelsDb.size() && windowStart < lengthMs; ++i, windowStart += windowMs) {
        // NaN compares false: a window of unknown level is not silent.
        bool silent = levelsDb[i] < options.ThresholdDb;
        if (silent && runStart == kNoRun)
            runStart = windowStart;
        else if (!silent)
            endRun(windowStart);
    }
    endRun(std::min(windowStart, lengthMs));
    return silences;
}

std::vector<int64_t> ChosenCuts(const std::vector<Silence>& silences, int64_t lengthMs, const SilenceOptions& options)
{
    std::vector<Silence> inner;
    for (const Silence& silence : silences)
        if (silence.StartMs > 0 && silence.EndMs < lengthMs)
            inner.push_back(silence);
    // The longest silences are the surest ends of a part: they win where
    // the minimum part length or "about N parts" leaves room for fewer.
    std::stable_sort(inner.begin(), inner.end(),
                     [](const Silence& a, const Silence& b) { return a.Length() > b.Length(); });
    size_t wanted = options.AboutParts > 0 ? static_cast<size_t>(options.AboutParts - 1) : inner.size();
    std::vector<int64_t> cuts;
    for (const Silence& silence : inner) {
        if (cuts.size() >= wanted)
            break;
        int64_t cut = options.CutAtEnd ? silence.EndMs : silence.StartMs + silence.Length() / 2;
        bool roomy = cut >= options.MinPartMs && lengthMs - cut >= options.MinPartMs &&
                     std::none_of(cuts.begin(), cuts.end(),
                                  [&](int64_t other) { return std::llabs(other - cut) < options.MinPartMs; });
        if (roomy)
            cuts.push_back(cut);
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

const Silence* SilenceAround(const std::vector<Silence>& silences, int64_t ms)
{
    for (const Silence& silence : silences)
        if (silence.StartMs <= ms && ms <= silence.EndMs)
            return &silence;
    return nullptr;
}

} // namespace

SilenceSplit SplitAtSilences(std::span<const float> levelsDb, int64_t windowMs, int64_t lengthMs,
                             const SilenceOptions& options)
{
    SilenceSplit split;
    if (lengthMs <= 0)
        return split;
    std::vector<Silence> silences;
    if (windowMs > 0)
        silences = Silences(levelsDb, windowMs, lengthMs, options);
    split.CutsMs = ChosenCuts(silences, lengthMs, options);

    std::vector<int64_t> bounds;
    bounds.push_back(0);
    bounds.insert(bounds.end(), split.CutsMs.begin(), split.CutsMs.end());
    bounds.push_back(lengthMs);
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        SplitPart part{bounds[i], bounds[i + 1], {}, {}};
        if (options.TrimSilence) {
            if (const Silence* leading = SilenceAround(silences, part.StartMs))
                part.StartMs = leading->EndMs;
            if (const Silence* trailing = SilenceAround(silences, part.EndMs))
                part.EndMs = trailing->StartMs;
            if (part.EndMs <= part.StartMs)
                continue;
        }
        split.Parts.push_back(std::move(part));
    }
    return split;
}
