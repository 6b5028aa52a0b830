// Running one command over many files at once: the files that names of
// files and folders stand for, a pool of threads that takes them one at
// a time, and the report of each file as it finishes (a JSON line or a
// line of text on stdout, a total redrawn on a terminal's stderr) with the
// summary of the failed ones at the end.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Report.h"

struct InputFile {
    std::string Path;
    // Found in a folder rather than named on the command line.
    bool FromFolder = false;
};

// names in order: a folder stands for its ".mp3" files (any case, sorted
// by name; with recursive those of its subfolders too, folder by folder),
// any other name for itself, whether it exists or not: a file that cannot
// be read is the command's to report. A file is listed once however often
// it is named or found.
std::vector<InputFile> ListInputFiles(const std::vector<std::string>& names, bool recursive);

// "--jobs J" taken from args (1 to 256); the processor's cores when absent.
unsigned TakeJobsOption(Arguments& args);

// Calls work(i) for every i below count on up to jobs threads, each taking
// the next i when done with one; returns when all are done. work must not
// throw. stop, once set, leaves the files not started yet undone.
void RunOnThreads(size_t count, unsigned jobs, const std::function<void(size_t)>& work,
                  const std::atomic<bool>& stop);

// How one file ended.
struct FileOutcome {
    enum class Result { Done, Failed, Skipped };
    Result Kind = Result::Done;
    std::string File;
    std::string Reason;     // why it failed or was skipped, on one line
    ReportValue Details = ReportValue::Object();  // what it did, for its JSON line
    std::string Text;       // what it did, for the text report (lines ending in "\n")
};

// Collects the outcomes of a run, from any thread.
class ManyFilesReport {
public:
    // count files; json: one JSON line per file on stdout, else the
    // file's Text there and why it failed on stderr. The total is drawn on
    // stderr when it is a terminal.
    ManyFilesReport(size_t count, bool json);

    void Finished(FileOutcome outcome);
    // Names the failed and skipped files on stderr; 1 when any failed (or
    // fewer files finished than the run was given), else 0.
    int Summarize(const std::string& command);

private:
    void DrawTotal();

    std::mutex mutex_;
    size_t count_;
    bool json_;
    bool terminal_;
    size_t done_ = 0;
    std::vector<FileOutcome> notDone_;
};
