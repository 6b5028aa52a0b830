// gain, fade, loudness and undo: volume changes of MP3 files without
// re-encoding (see core/VolumeChange.h), and their ReplayGain tags.
#include <charconv>
#include <cmath>
#include <cstdio>

#include "analysis/Errors.h"
#include "cli/Commands.h"
#include "cli/ConsoleUi.h"
#include "core/GlobalGain.h"
#include "core/TimeText.h"
#include "core/VolumeChange.h"
#include "core/VolumeMeasure.h"
#include "playback/BASSChannel.h"

namespace {

double Number(const std::string& what, const std::string& text)
{
    double value = 0;
    const char* end = text.data() + text.size();
    // "+3" reads as plainly as "-3" for a gain.
    const char* begin = text.size() > 1 && text[0] == '+' && text[1] != '-' ? text.data() + 1 : text.data();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        throw UsageError(what + " takes a number, not '" + text + "'");
    return value;
}

// MM:SS.mmm, or seconds.
int64_t TimeOption(const std::string& option, const std::string& text)
{
    if (text.find(':') != std::string::npos) {
        const int64_t ms = TimeTextToMilliseconds(text);
        if (ms < 0)
            throw UsageError(option + " takes a time, not '" + text + "'");
        return ms;
    }
    const double seconds = Number(option, text);
    if (seconds < 0 || seconds > 86400.0 * 7)
        throw UsageError(option + " takes a time, not '" + text + "'");
    return std::llround(seconds * 1000.0);
}

std::string Decibels(double db)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", db);
    return text;
}

GranuleRange TakeRange(Arguments& args, const std::string& fileName)
{
    const std::optional<std::string> start = TakeOption(args, "--start");
    const std::optional<std::string> end = TakeOption(args, "--end");
    std::string error;
    const std::optional<GranuleTiming> timing = ReadGranuleTiming(fileName, error);
    if (!timing)
        throw CorvellaError(error);
    const std::optional<int64_t> startMs = start ? std::optional(TimeOption("--start", *start)) : std::nullopt;
    const std::optional<int64_t> endMs = end ? std::optional(TimeOption("--end", *end)) : std::nullopt;
    const GranuleRange range = RangeOfTimes(*timing, startMs, endMs, INT64_MAX / 1000000);
    if (range.EndMs <= range.StartMs)
        throw UsageError("--end must lie after --start");
    if (range.End <= range.First)
        throw CorvellaError(fileName + ": the range holds no granule of the audio.");
    return range;
}

int Report(const std::string& fileName, const VolumeOutcome& outcome, const std::string& what)
{
    if (!outcome.Done) {
        std::fprintf(stderr, "%s\n", outcome.Error.c_str());
        return 1;
    }
    std::printf("%s: %s, %lld granule gains changed", fileName.c_str(), what.c_str(),
                static_cast<long long>(outcome.Entries));
    if (outcome.Clamped > 0)
        std::printf(", %lld of them held at 0 or 255 short of it", static_cast<long long>(outcome.Clamped));
    std::printf(" (%d change%s to undo)\n", outcome.Undoable, outcome.Undoable == 1 ? "" : "s");
    return 0;
}

// Refuses, with the reason, steps that would clip the decoded peak of the
// range; the player must be bound.
bool Clips(const std::string& fileName, const GranuleRange& range, int steps)
{
    if (steps <= 0)
        return false;
    const std::optional<double> peak = DecodedPeak(fileName, range.StartMs, range.EndMs);
    if (!peak)
        throw CorvellaError(fileName + ": the audio cannot be decoded to measure its peak.");
    const double after = PeakAfterSteps(*peak, steps);
    if (after <= 1.0)
        return false;
    std::fprintf(stderr,
                 "%s: a gain of %s would clip: the peak is %s of full scale, %s after it "
                 "(--force applies it anyway).\n",
                 fileName.c_str(), Decibels(steps * kDbPerGainStep).c_str(),
                 Decibels(*peak > 0 ? 20 * std::log10(*peak) : -INFINITY).c_str(),
                 Decibels(20 * std::log10(after)).c_str());
    return true;
}

} // namespace

int RunGainCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    const bool force = TakeFlag(args, "--force");
    if (args.size() < 2)
        throw UsageError("gain needs FILE and DB");
    const std::string fileName = args[0];
    // A negative gain reads as an option; it is the second argument.
    const double db = Number("DB", args[1]);
    args.erase(args.begin(), args.begin() + 2);
    RequireReadableFile(fileName);
    const GranuleRange range = TakeRange(args, fileName);
    RejectUnknownOptions(args);
    if (!args.empty())
        throw UsageError("unexpected argument '" + args[0] + "'");
    const int steps = static_cast<int>(std::lround(db / kDbPerGainStep));
    if (steps == 0)
        throw UsageError("DB is less than half a step of 1.5 dB");
    if (std::abs(steps) > 255)
        throw UsageError("DB is more than 255 steps of 1.5 dB");
    if (!force && steps > 0) {
        // Only a gain upwards can clip, and only measuring it needs the
        // decoder: binding the library costs more than the change itself.
        ConsoleUi ui;
        TBASSChannel player(&ui);
        if (Clips(fileName, range, steps))
            return 1;
    }
    return Report(fileName, ApplyVolumeChange(fileName, ConstantGain(steps, range.First, range.End)),
                  Decibels(steps * kDbPerGainStep) + " (" + std::to_string(steps) + " steps)");
}

int RunFadeCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    if (args.empty())
        throw UsageError("fade needs FILE");
    const std::string fileName = args[0];
    args.erase(args.begin());
    RequireReadableFile(fileName);
    const std::optional<std::string> in = TakeOption(args, "--in");
    const std::optional<std::string> out = TakeOption(args, "--out");
    const std::optional<std::string> floor = TakeOption(args, "--floor");
    const std::optional<std::string> curve = TakeOption(args, "--curve");
    const GranuleRange range = TakeRange(args, fileName);
    RejectUnknownOptions(args);
    if (!args.empty())
        throw UsageError("unexpected argument '" + args[0] + "'");
    if (!in && !out)
        throw UsageError("fade needs --in or --out");
    const double floorDb = floor ? Number("--floor", *floor) : -60.0;
    if (floorDb >= 0 || floorDb < -255 * kDbPerGainStep)
        throw UsageError("--floor takes dB below 0 and not under -382.5");
    if (curve && *curve != "db" && *curve != "cosine")
        throw UsageError("--curve takes db or cosine, not '" + *curve + "'");
    const FadeShape shape = curve && *curve == "cosine" ? FadeShape::Cosine : FadeShape::Decibels;
    const double granuleMs = 576 * 1000.0 / range.Timing.SampleRate;
    const auto granules = [&](const std::optional<std::string>& text, const char* option) -> int64_t {
        return text ? std::llround(static_cast<double>(TimeOption(option, *text)) / granuleMs) : 0;
    };
    const int64_t inGranules = granules(in, "--in");
    const int64_t outGranules = granules(out, "--out");
    if (inGranules + outGranules > range.End - range.First)
        throw CorvellaError(fileName + ": the fades are longer than the audio they fade.");
    return Report(fileName,
                  ApplyVolumeChange(fileName, Fade(range.First, range.End, inGranules, outGranules, floorDb, shape)),
                  "faded to " + Decibels(floorDb));
}

int RunUndoCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    RejectUnknownOptions(args);
    if (args.size() != 1)
        throw UsageError("undo needs FILE");
    RequireReadableFile(args[0]);
    return Report(args[0], UndoVolumeChange(args[0]), "last volume change taken back");
}

int RunLoudnessCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    const bool apply = TakeFlag(args, "--apply");
    const bool tag = TakeFlag(args, "--tag");
    const bool album = TakeFlag(args, "--album");
    const bool force = TakeFlag(args, "--force");
    RejectUnknownOptions(args);
    if (args.empty())
        throw UsageError("loudness needs at least one FILE");
    if (apply && tag)
        throw UsageError("--apply and --tag exclude each other");
    for (const std::string& fileName : args)
        RequireReadableFile(fileName);
    ConsoleUi ui;
    TBASSChannel player(&ui);
    std::vector<Loudness> tracks;
    for (const std::string& fileName : args) {
        std::optional<Loudness> loudness = MeasureLoudness(fileName);
        if (!loudness)
            throw CorvellaError(fileName + ": the audio cannot be decoded to measure its loudness.");
        std::printf("%s: %.2f LUFS, true peak %s\n", fileName.c_str(), loudness->IntegratedLufs,
                    Decibels(loudness->TruePeak > 0 ? 20 * std::log10(loudness->TruePeak) : -INFINITY).c_str());
        tracks.push_back(std::move(*loudness));
    }
    std::optional<Loudness> albumLoudness;
    if (album) {
        albumLoudness = AlbumLoudness(tracks);
        if (!albumLoudness)
            throw CorvellaError("the album's loudness cannot be measured.");
        std::printf("album: %.2f LUFS, true peak %s\n", albumLoudness->IntegratedLufs,
                    Decibels(20 * std::log10(std::max(albumLoudness->TruePeak, 1e-12))).c_str());
    }
    int status = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const Loudness& measured = album ? *albumLoudness : tracks[i];
        const double gainDb = kReplayGainReferenceLufs - measured.IntegratedLufs;
        if (tag) {
            const auto text = [](const char* format, double value) {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, format, value);
                return std::string(buffer);
            };
            std::vector<std::pair<std::string, std::string>> texts = {
                {"REPLAYGAIN_TRACK_GAIN", text("%.2f dB", kReplayGainReferenceLufs - tracks[i].IntegratedLufs)},
                {"REPLAYGAIN_TRACK_PEAK", text("%.6f", tracks[i].TruePeak)},
            };
            if (album) {
                texts.emplace_back("REPLAYGAIN_ALBUM_GAIN", text("%.2f dB", gainDb));
                texts.emplace_back("REPLAYGAIN_ALBUM_PEAK", text("%.6f", albumLoudness->TruePeak));
            }
            const VolumeOutcome outcome = WriteUserTexts(args[i], texts);
            if (!outcome.Done) {
                std::fprintf(stderr, "%s\n", outcome.Error.c_str());
                status = 1;
            }
        } else if (apply) {
            const int steps = static_cast<int>(std::lround(gainDb / kDbPerGainStep));
            if (steps == 0) {
                std::printf("%s: within half a step of %.0f LUFS already\n", args[i].c_str(), kReplayGainReferenceLufs);
                continue;
            }
            if (!force && steps > 0 && PeakAfterSteps(tracks[i].TruePeak, steps) > 1.0) {
                std::fprintf(stderr, "%s: a gain of %s would clip its true peak (--force applies it anyway).\n",
                             args[i].c_str(), Decibels(steps * kDbPerGainStep).c_str());
                status = 1;
                continue;
            }
            const int reported = Report(args[i], ApplyVolumeChange(args[i], ConstantGain(steps, 0, INT64_MAX)),
                                        Decibels(steps * kDbPerGainStep) + " (" + std::to_string(steps) + " steps)");
            status = std::max(status, reported);
        }
    }
    return status;
}
