// split-many: the files and folders given, each split into OUTDIR the same
// way (equal parts, the CUE sheet beside it, its silences or a fixed
// length), several files at once. Every file has a player, tags and split
// commands of its own on the thread that splits it; the names of all
// parts are claimed in one list, so that parts of different sources never
// land on the same file.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "cli/Commands.h"
#include "cli/ManyFiles.h"
#include "cli/SplitSources.h"
#include "core/PartList.h"
#include "core/PartNames.h"
#include "core/SplitCommands.h"
#include "core/SplitPlan.h"
#include "playback/BASSChannel.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnSplitManyInterrupt(int)
{
    interrupted = true;
}

// How every file of the run is split.
struct SplitManyPlan {
    enum class Source { EqualParts, CueBeside, Silence, Every };
    Source From = Source::EqualParts;
    int32_t Parts = 0;
    SilenceOptions Silence;
    std::string Every;
    std::optional<std::string> NameTemplate;
    bool Gapless = false;
    std::string Folder;
};

// The split commands' prompts on a worker thread: nobody is asked, every
// message but the one of success is kept for the file's report, and a
// Ctrl-C asks the run to stop before its next part.
class QuietUi : public SplitUi {
public:
    void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override
    {
        if (icon == MessageIcon::Information && caption == "Information")
            return;
        messages_ += (messages_.empty() ? "" : " ") + caption + ": " + text;
    }
    std::optional<std::string> AskOpenFileName() override { return std::nullopt; }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    bool ExecuteFolderPicker(std::string&) override { return false; }
    void SetProgressVisible(bool) override {}
    void SetProgress(int) override {}
    void ProcessMessages() override
    {
        if (interrupted && commands_)
            commands_->RequestStop();
    }
    void StopPlayerTimer() override {}

    void SetCommands(TSplitCommands* commands) { commands_ = commands; }
    const std::string& Messages() const { return messages_; }

private:
    TSplitCommands* commands_ = nullptr;
    std::string messages_;
};

// The part names of the whole run. Two sources may share a base name (from
// two folders) or a template may lack {source}: a name another source has
// taken gets " (2)", " (3)", ... as names within one split do.
class NameRegistry {
public:
    std::vector<std::string> Claim(const std::vector<std::string>& names)
    {
        std::lock_guard lock(mutex_);
        std::vector<std::string> claimed;
        for (const std::string& name : names) {
            const fs::path path(name);
            const std::string stem = path.stem().string();
            const std::string extension = path.extension().string();
            std::string candidate = name;
            for (int copy = 2; !taken_.insert(Folded(candidate)).second; ++copy) {
                const std::string suffix = " (" + std::to_string(copy) + ")" + extension;
                candidate = stem.substr(0, kMaxPartNameBytes - std::min(kMaxPartNameBytes, suffix.size())) + suffix;
            }
            claimed.push_back(candidate);
        }
        return claimed;
    }

private:
    // File systems that ignore case would put "A.mp3" over "a.mp3".
    static std::string Folded(std::string name)
    {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name;
    }

    std::mutex mutex_;
    std::set<std::string> taken_;
};

// The default names keep the parts of different sources apart by the source's name.
std::string DefaultTemplate(const SplitManyPlan& plan)
{
    switch (plan.From) {
    case SplitManyPlan::Source::EqualParts: return std::string(kEqualPartsNameTemplate);
    case SplitManyPlan::Source::CueBeside: return "{source} - {n} - {title}";
    case SplitManyPlan::Source::Silence:
    case SplitManyPlan::Source::Every: break;
    }
    return std::string(kSourcePartsNameTemplate);
}

// The parts of count equal shares, for their names.
std::vector<SplitPart> EqualParts(int64_t lengthMs, int32_t count)
{
    std::vector<SplitPart> parts;
    for (int32_t i = 0; i < count; ++i) {
        const PartRange range = EqualPartRange(lengthMs, count, i);
        parts.push_back({range.StartMs, range.EndMs, {}, {}});
    }
    return parts;
}

FileOutcome Failure(FileOutcome outcome, std::string reason)
{
    outcome.Kind = FileOutcome::Result::Failed;
    outcome.Reason = std::move(reason);
    return outcome;
}

FileOutcome SplitOneFile(const InputFile& input, const SplitManyPlan& plan, NameRegistry& registry)
{
    FileOutcome outcome;
    outcome.File = input.Path;
    const std::string& fileName = input.Path;
    std::string sheet;
    if (plan.From == SplitManyPlan::Source::CueBeside) {
        sheet = fs::path(fileName).replace_extension(".cue").string();
        std::error_code error;
        if (!fs::is_regular_file(sheet, error)) {
            outcome.Kind = input.FromFolder ? FileOutcome::Result::Skipped : FileOutcome::Result::Failed;
            outcome.Reason = "no CUE sheet beside it (" + sheet + ")";
            return outcome;
        }
    }
    RequireReadableFile(fileName);

    QuietUi ui;
    TBASSChannel player{&ui};
    TID3v1 id3v1;
    TID3v2 id3v2;
    TSplitCommands commands{player, id3v1, id3v2, ui};
    ui.SetCommands(&commands);
    commands.SetGapless(plan.Gapless);
    commands.PrepareParts(fileName);
    const std::optional<int32_t> lengthMs = StreamLength(player, fileName);
    if (!lengthMs || *lengthMs <= 0)
        return Failure(outcome, "no MPEG audio whose length is known. " + ui.Messages());

    PartNaming source = ReadPartNaming(fileName);
    ParseResult<std::vector<SplitPart>> parts = ParseResult<std::vector<SplitPart>>::Refused("");
    switch (plan.From) {
    case SplitManyPlan::Source::EqualParts:
        parts = ParseResult<std::vector<SplitPart>>::Ok(EqualParts(*lengthMs, plan.Parts));
        break;
    case SplitManyPlan::Source::CueBeside: parts = PartsFrom("--cue", sheet, *lengthMs, source.Album); break;
    case SplitManyPlan::Source::Silence: parts = SilenceParts(fileName, *lengthMs, plan.Silence); break;
    case SplitManyPlan::Source::Every: parts = PartsFrom("--every", plan.Every, *lengthMs, source.Album); break;
    }
    if (!parts)
        return Failure(outcome, (sheet.empty() ? "" : sheet + ": ") + parts.Error);
    const std::string usedTemplate = plan.NameTemplate.value_or(DefaultTemplate(plan));
    ParseResult<std::vector<std::string>> names =
        PartNamesFromTemplate(usedTemplate, *parts.Value, source.SourceBaseName, source.Album, source.Artist);
    if (!names)
        return Failure(outcome, names.Error);
    std::vector<SplitPoint> points;
    if (plan.From == SplitManyPlan::Source::EqualParts) {
        // Equal shares of the samples, with the source's tags as they are,
        // as the equal-parts command writes them.
        points = EqualSplitPoints(*lengthMs, plan.Parts);
        const std::vector<std::string> claimed = registry.Claim(*names.Value);
        for (size_t i = 0; i < points.size() && i < claimed.size(); ++i)
            points[i].Name = claimed[i];
    } else {
        points = PointsOfParts(*parts.Value, registry.Claim(*names.Value), *lengthMs);
    }

    const SplitOutcome split = commands.SplitAt(fileName, points, plan.Folder);
    ReportValue files = ReportValue::Array();
    int64_t written = 0;
    for (const SplitPoint& point : points) {
        const std::string path = (fs::path(plan.Folder) / point.Name).string();
        std::error_code error;
        // A part too short for a file of its own went into the one beside it.
        if (fs::is_regular_file(path, error)) {
            files.Append(ReportValue::Text(path));
            ++written;
        }
    }
    if (split.Kind != SplitOutcome::Result::Done) {
        std::string reason = split.Message.empty() ? ui.Messages() : split.Message;
        if (!commands.PartsNotWritten().empty())
            reason += " (" + std::to_string(commands.PartsNotWritten().size()) + " parts not written)";
        return Failure(outcome, reason);
    }
    outcome.Details.Add("parts", ReportValue::Integer(written)).Add("files", files);
    outcome.Text = fileName + ": " + std::to_string(written) + (written == 1 ? " part" : " parts") + "\n";
    return outcome;
}

// The files' failures stay theirs: nothing a file does ends the run.
FileOutcome SplitOneFileCaught(const InputFile& input, const SplitManyPlan& plan, NameRegistry& registry)
{
    try {
        return SplitOneFile(input, plan, registry);
    } catch (const std::exception& error) {
        return Failure({FileOutcome::Result::Failed, input.Path, {}, ReportValue::Object(), {}}, error.what());
    } catch (...) {
        return Failure({FileOutcome::Result::Failed, input.Path, {}, ReportValue::Object(), {}}, "unknown error");
    }
}

int32_t PartsOption(const std::string& text)
{
    const std::optional<int32_t> count = ParsePartQuantity(text);
    if (!count || *count > 99)
        throw UsageError("--parts takes a whole number from 1 to 99, not '" + text + "'");
    return *count;
}

SplitManyPlan TakePlan(Arguments& args)
{
    SplitManyPlan plan;
    int sources = 0;
    if (TakeFlag(args, std::string(kSilenceFlag))) {
        plan.From = SplitManyPlan::Source::Silence;
        plan.Silence = TakeSilenceOptions(args);
        ++sources;
    } else if (auto parts = TakeOption(args, "--parts")) {
        plan.From = SplitManyPlan::Source::EqualParts;
        plan.Parts = PartsOption(*parts);
        ++sources;
    }
    if (TakeFlag(args, "--cue-beside")) {
        plan.From = SplitManyPlan::Source::CueBeside;
        ++sources;
    }
    if (auto every = TakeOption(args, "--every")) {
        plan.From = SplitManyPlan::Source::Every;
        plan.Every = *every;
        if (ParseResult<int64_t> period = ParseSplitTime(*every); !period)
            throw UsageError("--every " + *every + ": " + period.Error);
        ++sources;
    }
    if (sources != 1)
        throw UsageError("split-many takes one of --parts N, --cue-beside, --silence and --every T");
    plan.NameTemplate = TakeOption(args, "--names");
    if (plan.NameTemplate) {
        if (const std::string error = NameTemplateError(*plan.NameTemplate); !error.empty())
            throw UsageError("--names " + *plan.NameTemplate + ": " + error);
    }
    return plan;
}

} // namespace

int RunSplitManyCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    SplitManyPlan plan = TakePlan(args);
    plan.Gapless = TakeFlag(args, "--gapless");
    const bool json = TakeFlag(args, "--json");
    const bool recursive = TakeFlag(args, "--recursive");
    const unsigned jobs = TakeJobsOption(args);
    RejectUnknownOptions(args);
    if (args.size() < 2)
        throw UsageError("split-many takes OUTDIR and at least one FILE or FOLDER");
    plan.Folder = args[0];
    std::error_code error;
    if (!fs::is_directory(plan.Folder, error)) {
        std::fprintf(stderr, "corvella-cli: %s is not a folder; no file was split.\n", plan.Folder.c_str());
        return 1;
    }
    const std::vector<InputFile> inputs = ListInputFiles({args.begin() + 1, args.end()}, recursive);
    if (inputs.empty()) {
        std::fputs("corvella-cli: no MP3 file in the folders given; nothing was split.\n", stderr);
        return 1;
    }

    // Held for the whole run, so that the library is bound and started
    // once, not by every file's player in turn.
    TBASSChannel library;
    interrupted = false;
    std::signal(SIGINT, OnSplitManyInterrupt);
    NameRegistry registry;
    ManyFilesReport report(inputs.size(), json);
    RunOnThreads(
        inputs.size(), jobs, [&](size_t i) { report.Finished(SplitOneFileCaught(inputs[i], plan, registry)); },
        interrupted);
    std::signal(SIGINT, SIG_DFL);
    return report.Summarize("split-many");
}
