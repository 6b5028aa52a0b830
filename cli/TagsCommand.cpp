// tags: shows both tags of a file, and sets fields of either before that;
// over several files or folders, of each file, several at once.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "cli/Commands.h"
#include "cli/ManyFiles.h"
#include "cli/Report.h"
#include "cli/TagReport.h"

namespace {

using V = ReportValue;

struct FieldAssignment {
    std::string Field;
    std::string Value;
};

// Takes every "--<option> FIELD=VALUE" pair out of args.
std::vector<FieldAssignment> TakeAssignments(Arguments& args, const std::string& option)
{
    std::vector<FieldAssignment> assignments;
    for (size_t i = 0; i < args.size();) {
        if (args[i] != option) {
            ++i;
            continue;
        }
        if (i + 1 >= args.size())
            throw UsageError(option + " needs FIELD=VALUE");
        const std::string& pair = args[i + 1];
        size_t equals = pair.find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError(option + " needs FIELD=VALUE, got \"" + pair + "\"");
        assignments.push_back({pair.substr(0, equals), pair.substr(equals + 1)});
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    return assignments;
}

uint8_t ByteValue(const FieldAssignment& assignment)
{
    const std::string& text = assignment.Value;
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos
        || std::stoi(text) > 255)
        throw UsageError(assignment.Field + " must be a number from 0 to 255, got \"" + text + "\"");
    return static_cast<uint8_t>(std::stoi(text));
}

// "N" sets the number and keeps a total the tag has; "N/M" sets both.
void SetId3v2Track(TID3v2& tag, const FieldAssignment& assignment)
{
    const std::string& text = assignment.Value;
    const auto slash = text.find('/');
    if (slash == std::string::npos) {
        tag.SetTrack(ByteValue(assignment));
        return;
    }
    const std::string total = text.substr(slash + 1);
    if (total.empty() || total.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(assignment.Field + " must be N or N/M, got \"" + text + "\"");
    tag.SetTrack(ByteValue({assignment.Field, text.substr(0, slash)}));
    tag.SetTrackTotal(total);
}

void ApplyToId3v1(TID3v1& tag, const FieldAssignment& assignment)
{
    static const std::map<std::string, std::function<void(TID3v1&, const FieldAssignment&)>> setters = {
        {"Title", [](TID3v1& t, const FieldAssignment& a) { t.SetTitle(a.Value); }},
        {"Artist", [](TID3v1& t, const FieldAssignment& a) { t.SetArtist(a.Value); }},
        {"Album", [](TID3v1& t, const FieldAssignment& a) { t.SetAlbum(a.Value); }},
        {"Year", [](TID3v1& t, const FieldAssignment& a) { t.SetYear(a.Value); }},
        {"Comment", [](TID3v1& t, const FieldAssignment& a) { t.SetComment(a.Value); }},
        {"Track", [](TID3v1& t, const FieldAssignment& a) { t.SetTrack(ByteValue(a)); }},
        {"GenreID", [](TID3v1& t, const FieldAssignment& a) { t.SetGenreID(ByteValue(a)); }},
    };
    auto setter = setters.find(assignment.Field);
    if (setter == setters.end())
        throw UsageError("unknown ID3v1 field \"" + assignment.Field + "\"");
    setter->second(tag, assignment);
}

void ApplyToId3v2(TID3v2& tag, const FieldAssignment& assignment)
{
    static const std::map<std::string, std::function<void(TID3v2&, const FieldAssignment&)>> setters = {
        {"Title", [](TID3v2& t, const FieldAssignment& a) { t.SetTitle(a.Value); }},
        {"Artist", [](TID3v2& t, const FieldAssignment& a) { t.SetArtist(a.Value); }},
        {"Album", [](TID3v2& t, const FieldAssignment& a) { t.SetAlbum(a.Value); }},
        {"Year", [](TID3v2& t, const FieldAssignment& a) { t.SetYear(a.Value); }},
        {"Genre", [](TID3v2& t, const FieldAssignment& a) { t.SetGenre(a.Value); }},
        {"Comment", [](TID3v2& t, const FieldAssignment& a) { t.SetComment(a.Value); }},
        {"Track", SetId3v2Track},
    };
    auto setter = setters.find(assignment.Field);
    if (setter == setters.end())
        throw UsageError("unknown ID3v2 field \"" + assignment.Field + "\"");
    setter->second(tag, assignment);
}

V DescribeTags(const TID3v1& id3v1, const TID3v2& id3v2)
{
    V report = V::Object();
    report.Add("ID3v1", DescribeId3v1(id3v1)).Add("ID3v2", DescribeId3v2(id3v2));
    return report;
}

void ReadBoth(const std::string& fileName, TID3v1& id3v1, TID3v2& id3v2)
{
    if (!id3v1.ReadTag(fileName) || !id3v2.ReadTag(fileName))
        throw FileOpenError(fileName, "The file is missing, unreadable or too short for a tag.");
}

// Sets the assigned fields in fileName's tags and reads both tags back;
// the reason, on one line, when a write failed. A file that cannot be read
// leaves as CorvellaError.
struct TagsResult {
    std::optional<V> Report;
    std::string Error;
};

TagsResult TagFile(const std::string& fileName, const std::vector<FieldAssignment>& v1Assignments,
                   const std::vector<FieldAssignment>& v2Assignments)
{
    TID3v1 id3v1;
    TID3v2 id3v2;
    ReadBoth(fileName, id3v1, id3v2);
    for (const auto& assignment : v1Assignments)
        ApplyToId3v1(id3v1, assignment);
    for (const auto& assignment : v2Assignments)
        ApplyToId3v2(id3v2, assignment);
    if (!v1Assignments.empty()) {
        const std::optional<ReadOrigin> read = id3v1.Origin();
        if (!id3v1.WriteTag(fileName))
            return {std::nullopt, "Cannot write the ID3v1 tag of \"" + fileName + "\". " + id3v1.WriteError()};
        // Both tags were read together: the ID3v1 write is the only change
        // since, and no reason to refuse the ID3v2 one.
        if (read && id3v1.Origin())
            id3v2.FollowOwnWrite(*read, *id3v1.Origin());
    }
    if (!v2Assignments.empty() && !id3v2.WriteTag(fileName))
        return {std::nullopt, "Cannot write the ID3v2 tag of \"" + fileName + "\". " + id3v2.WriteError()};
    // The report says what the file now holds, read from it afresh, not
    // what the objects were set to: a write may have cut, dropped or
    // converted what it was given.
    TID3v1 writtenV1;
    TID3v2 writtenV2;
    ReadBoth(fileName, writtenV1, writtenV2);
    return {DescribeTags(writtenV1, writtenV2), {}};
}

// One file's tags in a run over many: its failure stays its own.
FileOutcome TagOneOfMany(const std::string& fileName, const std::vector<FieldAssignment>& v1Assignments,
                         const std::vector<FieldAssignment>& v2Assignments)
{
    FileOutcome outcome;
    outcome.File = fileName;
    try {
        RequireReadableFile(fileName);
        TagsResult result = TagFile(fileName, v1Assignments, v2Assignments);
        if (!result.Report) {
            outcome.Kind = FileOutcome::Result::Failed;
            outcome.Reason = result.Error;
            return outcome;
        }
        for (const auto& [name, value] : result.Report->Fields())
            outcome.Details.Add(name, value);
        V titled = V::Object();
        titled.Add(fileName, *result.Report);
        outcome.Text = FormatText(titled);
    } catch (const std::exception& error) {
        outcome.Kind = FileOutcome::Result::Failed;
        outcome.Reason = error.what();
    }
    return outcome;
}

} // namespace

int RunTagsCommand(const Arguments& arguments)
{
    Arguments args = arguments;
    bool json = TakeFlag(args, "--json");
    auto v1Assignments = TakeAssignments(args, "--v1");
    auto v2Assignments = TakeAssignments(args, "--v2");
    const bool recursive = TakeFlag(args, "--recursive");
    const bool jobsGiven = std::find(args.begin(), args.end(), "--jobs") != args.end();
    const unsigned jobs = TakeJobsOption(args);
    RejectUnknownOptions(args);
    if (args.empty())
        throw UsageError("tags takes a FILE, or FILEs and FOLDERs");
    {
        // Names and values are checked before the file is looked at.
        TID3v1 scratchV1;
        TID3v2 scratchV2;
        for (const auto& assignment : v1Assignments)
            ApplyToId3v1(scratchV1, assignment);
        for (const auto& assignment : v2Assignments)
            ApplyToId3v2(scratchV2, assignment);
    }
    std::error_code error;
    const bool many = args.size() > 1 || recursive || jobsGiven || std::filesystem::is_directory(args[0], error);
    if (many) {
        const std::vector<InputFile> inputs = ListInputFiles(args, recursive);
        if (inputs.empty()) {
            std::fputs("corvella-cli: no MP3 file in the folders given.\n", stderr);
            return 1;
        }
        ManyFilesReport report(inputs.size(), json);
        const std::atomic<bool> never{false};
        RunOnThreads(
            inputs.size(), jobs,
            [&](size_t i) { report.Finished(TagOneOfMany(inputs[i].Path, v1Assignments, v2Assignments)); }, never);
        return report.Summarize("tags");
    }

    const std::string& fileName = args[0];
    RequireReadableFile(fileName);
    TagsResult result = TagFile(fileName, v1Assignments, v2Assignments);
    if (!result.Report) {
        std::fprintf(stderr, "%s\n", result.Error.c_str());
        return 1;
    }
    std::fputs((json ? FormatJson(*result.Report) : FormatText(*result.Report)).c_str(), stdout);
    return 0;
}
