// cut and split: the window's two split commands, with the answers of the
// save dialog and the folder picker taken from the command line.
#include <algorithm>
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
#include "playback/BASSChannel.h"

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

// The stream's length as the window knows it from opening the file;
// nothing when the player cannot open it.
std::optional<int32_t> StreamLength(TBASSChannel& player, const std::string& fileName)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(fileName, error) || !player.Open(fileName))
        return std::nullopt;
    auto length = static_cast<int32_t>(std::min<uint32_t>(player.PlayLength(), INT32_MAX));
    player.Close();
    return length;
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
