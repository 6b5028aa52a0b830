// cut and split: the window's two split commands, with the answers of the
// save dialog and the folder picker taken from the command line, and the
// split at the points of a CUE sheet, a fixed length, a list of times or
// the silences of the audio.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/SectionCutter.h"
#include "core/SplitCommands.h"
#include "cli/Commands.h"
#include "cli/ConsoleUi.h"
#include "cli/Report.h"
#include "cli/SplitSources.h"
#include "core/CueSheet.h"
#include "core/PartList.h"
#include "core/PartNames.h"
#include "core/SplitPlan.h"
#include "core/SplitPoints.h"
#include "core/TimeText.h"
#include "core/UserText.h"
#include "playback/BASSChannel.h"
#include "playback/DecodedLevels.h"

namespace {

// The player, the two tag objects and the commands as the window holds them.
struct SplitSession {
    ConsoleUi ui;
    TBASSChannel player{&ui};
    TID3v1 id3v1;
    TID3v2 id3v2;
    TSplitCommands commands{player, id3v1, id3v2, ui};

    SplitSession() { ui.SetCommands(&commands); }
};

// A run that wrote every file it was asked for succeeds; every other
// outcome has told its reason already, or is told by the caller.
int ExitStatus(const SplitOutcome& outcome)
{
    return outcome.Kind == SplitOutcome::Result::Done ? 0 : 1;
}

// Names every part a failed run left unwritten, one path a line, on stderr.
void ReportPartsNotWritten(const TSplitCommands& commands)
{
    if (commands.PartsNotWritten().empty())
        return;
    std::fputs("Parts not written:\n", stderr);
    for (const auto& part : commands.PartsNotWritten())
        std::fprintf(stderr, "  %s\n", part.c_str());
}

// The options that choose where the parts of a split begin.
const std::vector<std::string> kSplitPointOptions = {"--cue", "--every", "--at", "--times"};

// One JSON line per part the run wrote; its artist as its tag has it.
void PrintPartsJson(const std::vector<SplitPart>& parts, const std::vector<SplitPoint>& points,
                    const std::string& folder, const std::string& sourceArtist)
{
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string path = (std::filesystem::path(folder) / points[i].Name).string();
        std::error_code error;
        // A part too short for a file of its own went into the one beside it.
        if (!std::filesystem::is_regular_file(path, error))
            continue;
        ReportValue line = ReportValue::Object();
        line.Add("part", ReportValue::Integer(static_cast<int64_t>(i) + 1))
            .Add("file", ReportValue::Text(path))
            .Add("start", ReportValue::Text(FormatTimeText(static_cast<double>(parts[i].StartMs) / 1000.0)))
            .Add("end", ReportValue::Text(FormatTimeText(static_cast<double>(parts[i].EndMs) / 1000.0)))
            .Add("start_ms", ReportValue::Integer(parts[i].StartMs))
            .Add("end_ms", ReportValue::Integer(parts[i].EndMs))
            .Add("title", ReportValue::Text(parts[i].Title))
            .Add("artist", ReportValue::Text(parts[i].Performer.empty() ? sourceArtist : parts[i].Performer));
        std::fputs(FormatJsonLine(line).c_str(), stdout);
    }
}

// Prints why the split was refused before any part was written.
int Refuse(const std::string& what, const std::string& reason)
{
    std::fprintf(stderr, "corvella-cli: %s: %s\n", what.c_str(), reason.c_str());
    return 1;
}

// split FILE OUTDIR with one of kSplitPointOptions or kSilenceFlag.
int RunSplitAtPointsCommand(Arguments& args, bool gapless)
{
    std::optional<std::string> nameTemplate = TakeOption(args, "--names");
    const bool json = TakeFlag(args, "--json");
    std::string option;
    std::string value;
    std::optional<SilenceOptions> silence;
    if (TakeFlag(args, std::string(kSilenceFlag))) {
        option = kSilenceFlag;
        silence = TakeSilenceOptions(args);
    }
    for (const std::string& candidate : kSplitPointOptions) {
        if (auto given = TakeOption(args, candidate)) {
            if (!option.empty())
                throw UsageError("split takes one of " + option + " and " + candidate);
            option = candidate;
            value = *given;
        }
    }
    RejectUnknownOptions(args);
    if (args.size() != 2)
        throw UsageError("split takes FILE OUTDIR with " + option);
    const std::string& fileName = args[0];
    const std::string& folder = args[1];
    RequireReadableFile(fileName);
    SplitSession session;
    session.commands.SetGapless(gapless);
    if (json)
        session.ui.KeepStandardOutput();
    session.commands.PrepareParts(fileName);
    const std::optional<int32_t> lengthMs = StreamLength(session.player, fileName);
    if (!lengthMs || *lengthMs <= 0)
        return Refuse(fileName, "no MPEG audio whose length is known; no part was written.");

    PartNaming source = ReadPartNaming(fileName);
    ParseResult<std::vector<SplitPart>> parts = silence ? SilenceParts(fileName, *lengthMs, *silence)
                                                        : PartsFrom(option, value, *lengthMs, source.Album);
    if (!parts)
        return Refuse(silence ? fileName : option + " " + value, parts.Error);
    const std::string usedTemplate = nameTemplate.value_or(DefaultPartsNameTemplate(*parts.Value));
    ParseResult<std::vector<std::string>> names =
        PartNamesFromTemplate(usedTemplate, *parts.Value, source.SourceBaseName, source.Album, source.Artist);
    if (!names)
        return Refuse("--names " + usedTemplate, names.Error);
    const std::vector<SplitPoint> points = PointsOfParts(*parts.Value, *names.Value, *lengthMs);

    SplitOutcome outcome;
    try {
        outcome = session.commands.SplitAt(fileName, points, folder);
    } catch (const CorvellaError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        ReportPartsNotWritten(session.commands);
        return 1;
    }
    ReportPartsNotWritten(session.commands);
    if (json && outcome.Kind == SplitOutcome::Result::Done)
        PrintPartsJson(*parts.Value, points, folder, source.Artist);
    return ExitStatus(outcome);
}

} // namespace

int RunCutCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    bool force = TakeFlag(args, "--force");
    bool gapless = TakeFlag(args, "--gapless");
    RejectUnknownOptions(args);
    if (args.size() != 4)
        throw UsageError("cut takes FILE START END OUT");
    SplitSession session;
    session.commands.SetGapless(gapless);
    SplitRequest request;
    request.FileText = args[0];
    request.SectionMode = true;
    request.StartText = args[1];
    request.EndText = args[2];
    // With the length, a start past the end is told before anything is done.
    request.LengthMs = StreamLength(session.player, request.FileText).value_or(0);
    const std::string& out = args[3];
    std::error_code error;
    // A device or a pipe is not asked about: the command refuses it,
    // --force or not.
    bool outExists = std::filesystem::exists(out, error) && !IsExistingNonRegularFile(out);
    // The save dialog asks before replacing a file; --force is the yes.
    if (!outExists || force)
        session.ui.SetSaveAnswer(out);
    const SplitOutcome outcome = session.commands.Split(request);
    // Without --force the save dialog's answer for an existing file is a cancel.
    if (outExists && !force && outcome.Kind == SplitOutcome::Result::NotRun) {
        std::fprintf(stderr, "\"%s\" exists; use --force to replace it.\n", out.c_str());
        return 1;
    }
    return ExitStatus(outcome);
}

int RunSplitCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    bool gapless = TakeFlag(args, "--gapless");
    const bool atPoints =
        std::find(args.begin(), args.end(), kSilenceFlag) != args.end() ||
        std::any_of(kSplitPointOptions.begin(), kSplitPointOptions.end(), [&](const std::string& option) {
            return std::find(args.begin(), args.end(), option) != args.end();
        });
    if (atPoints)
        return RunSplitAtPointsCommand(args, gapless);
    RejectUnknownOptions(args);
    if (args.size() != 3)
        throw UsageError("split takes FILE N OUTDIR");
    SplitSession session;
    session.commands.SetGapless(gapless);
    SplitRequest request;
    request.FileText = args[0];
    request.SectionMode = false;
    request.PartText = args[1];
    session.ui.SetFolderAnswer(args[2]);
    std::error_code error;
    if (std::filesystem::is_regular_file(request.FileText, error)) {
        session.commands.PrepareParts(request.FileText);
        // The window knows the stream's length from opening the file; so
        // must this run. Without it (a file the player cannot open) the
        // command says why it splits nothing.
        request.LengthMs = StreamLength(session.player, request.FileText).value_or(0);
    }
    SplitOutcome outcome;
    try {
        outcome = session.commands.Split(request);
    } catch (const CorvellaError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        ReportPartsNotWritten(session.commands);
        return 1;
    }
    ReportPartsNotWritten(session.commands);
    return ExitStatus(outcome);
}
