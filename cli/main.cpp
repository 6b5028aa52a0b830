// corvella-cli: describe, tag, cut and split MP3 files from a shell, with
// the same code as the window program.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>

#include "analysis/Errors.h"
#include "cli/Commands.h"
#include "playback/BASSChannel.h"

namespace {

// A report that never reached its reader (a full disk, a closed pipe) is a
// failed command, whatever the command itself made of its work.
int WithStandardOutputWritten(int status)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int reason = errno;
    if (flushed && !std::ferror(stdout))
        return status;
    std::fprintf(stderr, "corvella-cli: the output could not be written%s%s\n", reason != 0 ? ": " : ".",
                 reason != 0 ? std::strerror(reason) : "");
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Over a file size limit a write then fails with EFBIG and is reported
    // like any other failed write, instead of the signal killing the
    // program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    Arguments args(argv + 1, argv + argc);
    // The commands only ask the player for lengths and bit rates: no sound
    // device is opened for that.
    TBASSChannel::SetOutputOfNewPlayers(PlayerOutput::Silent);

    static const std::map<std::string, int (*)(const Arguments&)> commands = {
        {"info", RunInfoCommand},
        {"tags", RunTagsCommand},
        {"cut", RunCutCommand},
        {"split", RunSplitCommand},
        {"split-many", RunSplitManyCommand},
        {"gain", RunGainCommand},
        {"fade", RunFadeCommand},
        {"loudness", RunLoudnessCommand},
        {"undo", RunUndoCommand},
    };
    try {
        if (args.empty())
            throw UsageError("no command given");
        if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            std::fputs(kUsageText, stdout);
            return WithStandardOutputWritten(0);
        }
        auto command = commands.find(args[0]);
        if (command == commands.end())
            throw UsageError("unknown command \"" + args[0] + "\"");
        return WithStandardOutputWritten(command->second(Arguments(args.begin() + 1, args.end())));
    } catch (const UsageError& error) {
        std::fprintf(stderr, "corvella-cli: %s\n\n%s", error.what(), kUsageText);
        return 2;
    } catch (const CorvellaError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corvella-cli: %s\n", error.what());
        return 1;
    }
}
