// The commands of corvella-cli, one function each. args are the arguments
// after the command's name. Each returns the exit status: 0 on success, 1
// when the operation failed (the reason already printed on stderr).
// UsageError (status 2) reports arguments that do not fit the command;
// CorvellaError (status 1) leaves a command that an error ended.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Arguments = std::vector<std::string>;

int RunInfoCommand(const Arguments& args);
int RunTagsCommand(const Arguments& args);
int RunCutCommand(const Arguments& args);
int RunSplitCommand(const Arguments& args);
int RunSplitManyCommand(const Arguments& args);
int RunGainCommand(const Arguments& args);
int RunFadeCommand(const Arguments& args);
int RunLoudnessCommand(const Arguments& args);
int RunUndoCommand(const Arguments& args);

// The usage text printed with a usage error.
extern const char* const kUsageText;

// Removes "--name" from args; true when it was there.
bool TakeFlag(Arguments& args, const std::string& name);
// Removes "--name VALUE" from args and returns VALUE; nothing when it was
// not there. Throws UsageError when VALUE is missing or given twice.
std::optional<std::string> TakeOption(Arguments& args, const std::string& name);
// Throws UsageError when an argument that looks like an option remains.
void RejectUnknownOptions(const Arguments& args);
// Throws CorvellaError ("Cannot open file ...") unless fileName is a regular
// file this process can open and read, with the reason: no such file, a
// folder, a device or a pipe, or the system's reason.
void RequireReadableFile(const std::string& fileName);
