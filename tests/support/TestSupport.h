// Helpers shared by the tests: a temporary folder removed with its contents
// when the test ends, whole-file reads and writes, and running the
// independent tools (lame, sox, ffmpeg, mutagen, ...) that make fixtures and
// check what the program wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, deleted (with
// everything in it, read-only files included) by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Path of a file inside the folder, as text.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

struct CommandResult {
    int exitCode = -1;    // the command's exit status; -1 when it could not run
    std::string output;   // what it wrote on stdout and stderr together
};

// Runs a shell command line; its output is captured.
CommandResult Run(const std::string& commandLine);
// Quotes a value for a shell command line.
std::string Quote(const std::string& value);
// True when the program is found on PATH (or is an existing absolute path).
bool HaveTool(const std::string& program);

// The folder of the running test program, ending in "/" (the built
// programs and the audio library sit there).
std::string BinFolder();

// Fixtures made by shell commands, once for the whole test run: GoogleTest
// programs run each test in a process of its own, and encoding the same MP3
// again for every test is most of the run's time. The commands run in an
// empty folder and name their files relative to it; the files `outputs`
// are kept in a cache folder under the build tree, keyed by the command
// lines and the programs they start (path, size and time), so that a
// changed recipe or a new encoder never returns an old file. Returns the
// folder that holds the outputs; its files must not be changed (copy them
// with CopyFixtures). Safe when test processes ask for the same recipe at
// once: each writes a scratch folder and renames the finished files into
// place. Throws std::runtime_error when a command fails.
std::filesystem::path CachedFixtures(const std::vector<std::string>& commands, const std::vector<std::string>& outputs);
// Copies the files `names` of a cached folder into `folder`, under the same names.
void CopyFixtures(const std::filesystem::path& cached, const std::vector<std::string>& names, const std::string& folder);

// The command lines that make `mp3Name` with lame from a generated tone,
// in the folder they run in: seconds long, at the given sample rate,
// channels and lame options (e.g. "-b 128" or "-V 2").
std::vector<std::string> Mp3Commands(const std::string& mp3Name, double seconds, int sampleRate = 44100,
                                     int channels = 2, const std::string& lameOptions = "-b 128");
// Makes an MP3 at `path` as Mp3Commands says (made once, then copied from
// the cache). Throws std::runtime_error when a tool fails.
void MakeMp3(const std::string& path, double seconds, int sampleRate = 44100, int channels = 2,
             const std::string& lameOptions = "-b 128");

} // namespace testsupport

// Skips the current GoogleTest when a tool is missing (the setup script
// installs them all, so this only matters on a half-prepared machine).
#define REQUIRE_TOOL(program) \
    do { \
        if (!::testsupport::HaveTool(program)) \
            GTEST_SKIP() << "missing tool: " << (program); \
    } while (0)
