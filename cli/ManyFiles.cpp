#include "ManyFiles.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// More threads than this only wait for the disk, and each holds a decoder.
constexpr unsigned kMostJobs = 256;

bool IsMp3Name(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".mp3";
}

// The MP3 files of folder, sorted, then those of its subfolders when recursive.
void ListFolder(const fs::path& folder, bool recursive, std::vector<fs::path>& files)
{
    std::vector<fs::path> here;
    std::vector<fs::path> folders;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code statusError;
        if (entry->is_directory(statusError))
            folders.push_back(entry->path());
        else if (IsMp3Name(entry->path()))
            here.push_back(entry->path());
    }
    std::sort(here.begin(), here.end());
    files.insert(files.end(), here.begin(), here.end());
    if (!recursive)
        return;
    std::sort(folders.begin(), folders.end());
    for (const fs::path& subfolder : folders) {
        // A link back up the tree would list the same files for ever.
        std::error_code linkError;
        if (!fs::is_symlink(subfolder, linkError))
            ListFolder(subfolder, recursive, files);
    }
}

std::string OneLine(std::string text)
{
    for (size_t i = 0; (i = text.find_first_of("\r\n", i)) != std::string::npos;) {
        const size_t end = text.find_first_not_of("\r\n", i);
        text.replace(i, (end == std::string::npos ? text.size() : end) - i, " ");
        ++i;
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

} // namespace

std::vector<InputFile> ListInputFiles(const std::vector<std::string>& names, bool recursive)
{
    std::vector<InputFile> inputs;
    std::set<fs::path> listed;
    auto add = [&](const fs::path& path, bool fromFolder) {
        std::error_code error;
        fs::path key = fs::weakly_canonical(path, error);
        if (error)
            key = path;
        if (listed.insert(key).second)
            inputs.push_back({path.string(), fromFolder});
    };
    for (const std::string& name : names) {
        std::error_code error;
        if (!fs::is_directory(name, error)) {
            add(name, false);
            continue;
        }
        std::vector<fs::path> files;
        ListFolder(name, recursive, files);
        for (const fs::path& file : files)
            add(file, true);
    }
    return inputs;
}

unsigned TakeJobsOption(Arguments& args)
{
    std::optional<std::string> text = TakeOption(args, "--jobs");
    if (!text)
        return std::clamp(std::thread::hardware_concurrency(), 1u, kMostJobs);
    unsigned jobs = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, jobs);
    if (error != std::errc() || stop != end || jobs < 1 || jobs > kMostJobs)
        throw UsageError("--jobs takes a whole number from 1 to " + std::to_string(kMostJobs) + ", not '" + *text
                         + "'");
    return jobs;
}

void RunOnThreads(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                  const std::atomic<bool>& stop)
{
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; !stop && (i = next++) < count;)
            work(i);
    };
    const size_t threads = std::min<size_t>(jobs, count);
    std::vector<std::jthread> pool;
    // The calling thread is one of the workers.
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
}

ManyFilesReport::ManyFilesReport(size_t count, bool json)
    : count_(count), json_(json), terminal_(::isatty(STDERR_FILENO) == 1)
{
    std::lock_guard lock(mutex_);
    DrawTotal();
}

void ManyFilesReport::DrawTotal()
{
    if (!terminal_)
        return;
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %zu failed or skipped", done_, count_, notDone_.size());
    std::fflush(stderr);
}

void ManyFilesReport::Finished(FileOutcome outcome)
{
    std::lock_guard lock(mutex_);
    ++done_;
    // The total is taken off its line while the report is written.
    if (terminal_)
        std::fputs("\r\033[K", stderr);
    outcome.Reason = OneLine(outcome.Reason);
    static constexpr const char* kStatus[] = {"done", "failed", "skipped"};
    const char* status = kStatus[static_cast<int>(outcome.Kind)];
    if (json_) {
        ReportValue line = ReportValue::Object();
        line.Add("file", ReportValue::Text(outcome.File)).Add("status", ReportValue::Text(status));
        if (!outcome.Reason.empty())
            line.Add("error", ReportValue::Text(outcome.Reason));
        for (const auto& [name, value] : outcome.Details.Fields())
            line.Add(name, value);
        std::fputs(FormatJsonLine(line).c_str(), stdout);
    } else if (outcome.Kind == FileOutcome::Result::Done) {
        std::fputs(outcome.Text.c_str(), stdout);
    } else {
        std::fprintf(stderr, "%s: %s: %s\n", outcome.File.c_str(), status, outcome.Reason.c_str());
    }
    std::fflush(stdout);
    if (outcome.Kind != FileOutcome::Result::Done)
        notDone_.push_back(std::move(outcome));
    DrawTotal();
}

int ManyFilesReport::Summarize(const std::string& command)
{
    std::lock_guard lock(mutex_);
    if (terminal_)
        std::fputs("\n", stderr);
    size_t failed = 0;
    for (const FileOutcome& outcome : notDone_)
        failed += outcome.Kind == FileOutcome::Result::Failed ? 1 : 0;
    const size_t skipped = notDone_.size() - failed;
    const size_t unfinished = count_ - done_;
    std::fprintf(stderr, "%s: %zu of %zu files done", command.c_str(), done_ - notDone_.size(), count_);
    if (failed > 0)
        std::fprintf(stderr, ", %zu failed", failed);
    if (skipped > 0)
        std::fprintf(stderr, ", %zu skipped", skipped);
    if (unfinished > 0)
        std::fprintf(stderr, ", %zu not started (interrupted)", unfinished);
    std::fputs(".\n", stderr);
    // Files finish in any order; the summary is read in the order of names.
    std::sort(notDone_.begin(), notDone_.end(),
              [](const FileOutcome& a, const FileOutcome& b) { return a.File < b.File; });
    for (const FileOutcome& outcome : notDone_)
        std::fprintf(stderr, "  %s %s: %s\n", outcome.Kind == FileOutcome::Result::Failed ? "failed" : "skipped",
                     outcome.File.c_str(), outcome.Reason.c_str());
    return failed > 0 || unfinished > 0 ? 1 : 0;
}
