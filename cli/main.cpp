// corvella-cli: describe, tag, cut and split MP3 files from a shell, with
// the same code as the window program.
#include <csignal>
#include <cstdio>
#include <exception>
#include <map>

#include "analysis/Errors.h"
#include "cli/Commands.h"
#include "playback/BASSChannel.h"

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
    };
    try {
        if (args.empty())
            throw UsageError("no command given");
        if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            std::fputs(kUsageText, stdout);
            return 0;
        }
        auto command = commands.find(args[0]);
        if (command == commands.end())
            throw UsageError("unknown command \"" + args[0] + "\"");
        return command->second(Arguments(args.begin() + 1, args.end()));
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
