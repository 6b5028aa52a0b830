// corvella-cli as a user runs it: exit statuses, messages, JSON that other
// programs can read, and the files it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "analysis/ID3v2.h"
#include "files/FileCalls.h"
#include "files/InPlaceWrite.h"
#include "support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fixtures_ = std::make_unique<TempDir>();
        if (!HaveTool("lame") || !HaveTool("sox"))
            return;
        MakeMp3(fixtures_->File("song.mp3"), 12, 44100, 2,
                "-b 128 --tt 'Song Title' --ta 'Some Artist' --tl Album --ty 1999 --tn 5 --tg Rock");
        WriteText(fixtures_->File("notes.txt"), "not audio");
    }
    static void TearDownTestSuite() { fixtures_.reset(); }

    void SetUp() override
    {
        REQUIRE_TOOL("lame");
        if (!fs::exists(BinFolder() + "corvella-cli"))
            GTEST_SKIP() << "corvella-cli is not built";
    }

    static std::string Fixture(const std::string& name) { return fixtures_->File(name); }

    // Runs the program; stdout and stderr apart.
    struct Outcome {
        int exitCode = -1;
        std::string out;
        std::string err;
    };
    Outcome Cli(const std::string& arguments)
    {
        std::string errFile = work_.File("stderr.txt");
        auto result = testsupport::Run("CORVELLA_SILENT_OUTPUT=1 " + Quote(BinFolder() + "corvella-cli") + " "
                                       + arguments + " 2>" + Quote(errFile));
        return {result.exitCode, result.output, ReadText(errFile)};
    }

    // Reads one value out of JSON text with Python's own parser.
    std::string JsonValue(const std::string& json, const std::string& path)
    {
        WriteText(work_.File("doc.json"), json);
        auto result = testsupport::Run("/usr/bin/python3 -c " + Quote("import json,sys; d=json.load(open(sys.argv[1]));"
                                                                     " print(json.dumps(eval('d' + sys.argv[2])))")
                                       + " " + Quote(work_.File("doc.json")) + " " + Quote(path));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return result.output.substr(0, result.output.find_last_not_of('\n') + 1);
    }

    // The part files a split run's JSON lines name, in order, read with
    // Python's own parser; empty when a line is not JSON.
    std::vector<std::string> PartFilesOfJson(const std::string& jsonLines)
    {
        WriteText(work_.File("parts.json"), jsonLines);
        auto files = testsupport::Run(
            "/usr/bin/python3 -c " + Quote("import json,sys\nfor l in open(sys.argv[1]): print(json.loads(l)['file'])")
            + " " + Quote(work_.File("parts.json")));
        EXPECT_EQ(files.exitCode, 0) << files.output;
        std::vector<std::string> parts;
        std::istringstream lines(files.output);
        for (std::string line; files.exitCode == 0 && std::getline(lines, line);)
            parts.push_back(line);
        return parts;
    }

    static std::unique_ptr<TempDir> fixtures_;
    TempDir work_;
};

std::unique_ptr<TempDir> CliTest::fixtures_;

// Peak resident memory of one run of the program, in kilobytes.
long PeakMemoryKb(const std::vector<std::string>& arguments)
{
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::setenv("CORVELLA_SILENT_OUTPUT", "1", 1);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// Runs the program with a file size limit (bytes) and returns its wait
// status; its stderr goes to errFile. The limit is set in the child only,
// and SIGXFSZ keeps whatever disposition this test program has: the
// program under test must deal with the signal itself.
int RunUnderFileSizeLimit(const std::vector<std::string>& arguments, rlim_t limit, const std::string& errFile)
{
    pid_t child = ::fork();
    if (child == 0) {
        int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::setenv("CORVELLA_SILENT_OUTPUT", "1", 1);
        struct rlimit fileSize {limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return status;
}

// The journal a tag write of this user's leaves beside file when it is
// killed right before it writes the tag: the file is not touched yet.
std::vector<uint8_t> JournalOfAKilledTagWrite(const std::string& file, const std::string& title)
{
    pid_t child = ::fork();
    if (child == 0) {
        SystemFileCalls().pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
            ::raise(SIGKILL);
            return -1;
        };
        TID3v2 tag;
        tag.ReadTag(file);
        tag.SetTitle(title);
        tag.WriteTag(file);
        ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the write went in place";
    return ReadBytes(JournalPathOf(file));
}

bool IsFifo(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

} // namespace

TEST_F(CliTest, UsageErrorsExitWithTwoAndTheUsage)
{
    for (const char* arguments : {"", "bogus", "info", "cut a b", "split a 3", "info a b", "info a --yaml",
                                  "tags a --v1", "tags a --v1 Bogus=1", "tags a --v2 Track=300", "tags a --v1 Title"}) {
        Outcome outcome = Cli(arguments);
        EXPECT_EQ(outcome.exitCode, 2) << arguments;
        EXPECT_NE(outcome.err.find("Usage:"), std::string::npos) << arguments;
    }
    EXPECT_EQ(Cli("--help").exitCode, 0);
}

TEST_F(CliTest, LibrariesAreNeverLookedForInTheCurrentFolder)
{
    // A music folder may hold anything, files named like libraries too.
    for (const char* name : {"libc.so.6", "libstdc++.so.6", "libQt6Core.so.6"})
        WriteText(work_.File(name), "not a library");
    auto result = testsupport::Run("cd " + Quote(work_.Path().string()) + " && " + Quote(BinFolder() + "corvella-cli")
                                   + " info " + Quote(Fixture("song.mp3")) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("Song Title"), std::string::npos) << result.output;
}

TEST_F(CliTest, InfoDescribesAnMp3AsJson)
{
    Outcome outcome = Cli("info " + Quote(Fixture("song.mp3")) + " --json");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(JsonValue(outcome.out, "['analyser']"), "\"TMPEGaudio\"");
    EXPECT_EQ(JsonValue(outcome.out, "['analyze']"), "true");
    EXPECT_EQ(JsonValue(outcome.out, "['analysis']['BitRate']"), "128");
    EXPECT_EQ(JsonValue(outcome.out, "['analysis']['Frame']['LayerIndex']"), "1");
    EXPECT_EQ(JsonValue(outcome.out, "['analysis']['ID3v2']['Title']"), "\"Song Title\"");
    EXPECT_EQ(JsonValue(outcome.out, "['analysis']['ID3v1']['Genre']"), "\"Rock\"");
    EXPECT_EQ(JsonValue(outcome.out, "['streamInfoOk']"), "true");
    EXPECT_EQ(JsonValue(outcome.out, "['streamInfo']['Artist']"), "\"Some Artist\"");
    // Seconds from the reader, milliseconds in the stream information and the play length.
    double seconds = std::stod(JsonValue(outcome.out, "['analysis']['Duration']"));
    EXPECT_NEAR(seconds, 12.0, 0.1);
    EXPECT_NEAR(std::stod(JsonValue(outcome.out, "['streamInfo']['Duration']")), seconds * 1000, 1);
    EXPECT_NEAR(std::stod(JsonValue(outcome.out, "['playLength']")), 12000, 100);

    Outcome text = Cli("info " + Quote(Fixture("song.mp3")));
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("analyser: TMPEGaudio\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  ID3v2:\n"), std::string::npos) << text.out;
}

// Two VBR files joined end to end, as audiobooks are: the first file's Xing
// header counts only its own frames.
TEST_F(CliTest, JoinedFilesAreMeasuredWholeAndCutInTheSecondHalf)
{
    REQUIRE_TOOL("ffmpeg");
    MakeMp3(work_.File("first.mp3"), 6, 44100, 2, "-V 4");
    MakeMp3(work_.File("second.mp3"), 6, 44100, 2, "-V 4");
    std::vector<uint8_t> joined = ReadBytes(work_.File("first.mp3"));
    std::vector<uint8_t> second = ReadBytes(work_.File("second.mp3"));
    joined.insert(joined.end(), second.begin(), second.end());
    const std::string source = work_.File("joined.mp3");
    WriteBytes(source, joined);
    auto decodedSeconds = [&](const std::string& path) {
        auto decoded = testsupport::Run("ffmpeg -nostdin -v error -i " + Quote(path) + " -f s16le - 2>/dev/null | wc -c");
        EXPECT_EQ(decoded.exitCode, 0) << decoded.output;
        return std::strtod(decoded.output.c_str(), nullptr) / 4 / 44100;
    };
    const double decoded = decodedSeconds(source);
    ASSERT_NEAR(decoded, 12, 0.1);

    Outcome info = Cli("info " + Quote(source) + " --json");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    // The reader counts the first file's encoder delay and padding as
    // audio, which the decoders trim: up to two frames more.
    const double frame = 1152.0 / 44100;
    EXPECT_NEAR(std::stod(JsonValue(info.out, "['analysis']['Duration']")), decoded + frame, frame);
    EXPECT_NEAR(std::stod(JsonValue(info.out, "['streamInfo']['Duration']")) / 1000, decoded + frame, frame);
    EXPECT_NEAR(std::stod(JsonValue(info.out, "['playLength']")) / 1000, decoded, frame);

    const std::string section = work_.File("section.mp3");
    Outcome cut = Cli("cut " + Quote(source) + " 00:08.000 00:10.000 " + Quote(section));
    ASSERT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_NEAR(decodedSeconds(section), 2, 2 * frame);
}

TEST_F(CliTest, InfoOfAFileNoReaderTakesHasNulls)
{
    Outcome outcome = Cli("info " + Quote(Fixture("notes.txt")) + " --json");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(JsonValue(outcome.out, "['analyser']"), "null");
    EXPECT_EQ(JsonValue(outcome.out, "['analysis']"), "null");
    EXPECT_EQ(JsonValue(outcome.out, "['streamInfoOk']"), "false");
    EXPECT_EQ(JsonValue(outcome.out, "['playLength']"), "null");
    EXPECT_NE(outcome.err.find("Error: Invalid stream file("), std::string::npos) << outcome.err;

    Outcome missing = Cli("info " + Quote(work_.File("missing.mp3")));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("Cannot open file"), std::string::npos);
}

TEST_F(CliTest, TagsAreSetAndReadBack)
{
    std::string file = work_.File("tagged.mp3");
    fs::copy_file(Fixture("song.mp3"), file);
    Outcome outcome = Cli("tags " + Quote(file) + " --json --v1 'Title=Neuer Titel' --v1 GenreID=8 --v2 'Artist=Zoë'");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v1']['Title']"), "\"Neuer Titel\"");
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v1']['Genre']"), "\"Jazz\"");
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v2']['Artist']"), "\"Zo\\u00eb\"");
    auto mutagen = testsupport::Run("/usr/bin/python3 -c " + Quote("import sys, mutagen.id3 as m; print(m.ID3(sys.argv[1])['TPE1'].text[0])")
                                    + " " + Quote(file));
    EXPECT_EQ(mutagen.output, "Zoë\n");
    EXPECT_EQ(Cli("tags " + Quote(work_.File("missing.mp3"))).exitCode, 1);

    // A track total is set with N/M and kept when only the number changes.
    auto trck = [&] {
        return testsupport::Run("/usr/bin/python3 -c " + Quote("import sys, mutagen.id3 as m; print(m.ID3(sys.argv[1])['TRCK'].text[0])")
                                + " " + Quote(file)).output;
    };
    ASSERT_EQ(Cli("tags " + Quote(file) + " --v2 Track=7/9").exitCode, 0);
    EXPECT_EQ(trck(), "7/9\n");
    Outcome renumbered = Cli("tags " + Quote(file) + " --json --v2 Track=8");
    ASSERT_EQ(renumbered.exitCode, 0) << renumbered.err;
    EXPECT_EQ(trck(), "8/9\n");
    EXPECT_EQ(JsonValue(renumbered.out, "['ID3v2']['TrackTotal']"), "\"9\"");
    EXPECT_EQ(Cli("tags " + Quote(file) + " --v2 Track=7/").exitCode, 2);

    // A refused write says why; the file stays as it was.
    std::string grown = work_.File("grown.mp3");
    auto bytes = ReadBytes(file);
    const uint32_t all = uint32_t(bytes.size() - 10);  // the tag's size field now claims the whole file
    bytes[6] = uint8_t((all >> 21) & 0x7F), bytes[7] = uint8_t((all >> 14) & 0x7F);
    bytes[8] = uint8_t((all >> 7) & 0x7F), bytes[9] = uint8_t(all & 0x7F);
    testsupport::WriteBytes(grown, bytes);
    Outcome refused = Cli("tags " + Quote(grown) + " --v2 Title=x");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Cannot write the ID3v2 tag of \"" + grown + "\". The ID3v2 tag"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(ReadBytes(grown) == bytes);
}

TEST_F(CliTest, CutReplacesAnExistingFileOnlyWhenForced)
{
    std::string out = work_.File("section.mp3");
    std::string source = Quote(Fixture("song.mp3"));
    Outcome first = Cli("cut " + source + " 00:02.000 00:05.000 " + Quote(out));
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "Splitting MP3 is completed.\n");
    auto written = ReadBytes(out);

    Outcome again = Cli("cut " + source + " 00:01.000 00:05.000 " + Quote(out));
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("--force"), std::string::npos);
    EXPECT_TRUE(ReadBytes(out) == written);

    Outcome forced = Cli("cut " + source + " 00:01.000 00:05.000 " + Quote(out) + " --force");
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_GT(ReadBytes(out).size(), written.size());
}

TEST_F(CliTest, CutFailuresExitWithOneAndTheMessage)
{
    std::string source = Quote(Fixture("song.mp3"));
    Outcome badText = Cli("cut " + source + " 00:xx.000 00:05.000 " + Quote(work_.File("x.mp3")));
    EXPECT_EQ(badText.exitCode, 1);
    EXPECT_EQ(badText.err, "'xx' is not a valid integer value\n");
    Outcome same = Cli("cut " + source + " 00:01.000 00:05.000 " + source + " --force");
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_EQ(same.err, "Output file can not be the same as the input file.\n");
    Outcome beyond = Cli("cut " + source + " 10:00.000 11:00.000 " + Quote(work_.File("y.mp3")));
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_EQ(beyond.err.rfind("Splitting MP3 is failed.\nThe starting time lies at or beyond the end of the audio (00:12.", 0), 0u)
        << beyond.err;
    EXPECT_FALSE(fs::exists(work_.File("x.mp3")));
    EXPECT_FALSE(fs::exists(work_.File("y.mp3")));
}

TEST_F(CliTest, SplitWritesEveryPartIntoTheFolder)
{
    Outcome outcome = Cli("split " + Quote(Fixture("song.mp3")) + " 3 " + Quote(work_.Path().string()));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Splitting MP3 is completed.\n");
    EXPECT_EQ(outcome.err, "") << "no progress when stderr is not a terminal";
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(fs::exists(work_.File("song_chunk_" + std::to_string(k) + ".mp3"))) << k;

    Outcome zero = Cli("split " + Quote(Fixture("song.mp3")) + " 0 " + Quote(work_.Path().string()));
    EXPECT_EQ(zero.exitCode, 1);
    EXPECT_EQ(zero.err, "Please specify a proper quantity of parts.\n");
    Outcome noFolder = Cli("split " + Quote(Fixture("song.mp3")) + " 2 " + Quote(work_.File("nowhere")));
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_EQ(noFolder.err, "Please specify a proper output directory.\n");
    Outcome noFile = Cli("split " + Quote(work_.File("gone.mp3")) + " 2 " + Quote(work_.Path().string()));
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_EQ(noFile.err, "Please open a MP3 file.\n");
}

TEST_F(CliTest, PeakMemoryDoesNotGrowWithTheLengthOfTheFile)
{
    REQUIRE_TOOL("sox");
    // One minute of constant-bit-rate frames without an Info frame, and the
    // same frames 600 times over: ten hours.
    std::string minute = work_.File("minute.mp3");
    MakeMp3(minute, 60, 44100, 2, "-b 128 -t");
    std::string hours = work_.File("hours.mp3");
    {
        auto frames = ReadBytes(minute);
        std::FILE* out = std::fopen(hours.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        for (int i = 0; i < 600; ++i)
            ASSERT_EQ(std::fwrite(frames.data(), 1, frames.size(), out), frames.size());
        std::fclose(out);
    }
    std::string cli = BinFolder() + "corvella-cli";
    fs::create_directory(work_.File("short"));
    fs::create_directory(work_.File("long"));
    long shortRun = PeakMemoryKb({cli, "split", minute, "4", work_.File("short")});
    fs::remove(minute);
    long longRun = PeakMemoryKb({cli, "split", hours, "4", work_.File("long")});
    ASSERT_GT(shortRun, 0);
    ASSERT_GT(longRun, 0);
    RecordProperty("peak_rss_kb_1min", std::to_string(shortRun));
    RecordProperty("peak_rss_kb_10h", std::to_string(longRun));
    EXPECT_LT(longRun, shortRun + 8 * 1024) << "1 minute: " << shortRun << " KB, 10 hours: " << longRun << " KB";
}

TEST_F(CliTest, DevicesPipesAndFoldersAreNeitherReplacedNorCalledMissing)
{
    std::string source = Quote(Fixture("song.mp3"));
    std::string pipe = work_.File("pipe.mp3");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    // A device node of its own (the null device's numbers), never a system one.
    std::string device = work_.File("device.mp3");
    bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0644, ::makedev(1, 3)) == 0;
    for (const std::string& target : {pipe, device}) {
        if (target == device && !haveDevice)
            continue;
        for (const char* force : {"", " --force"}) {
            Outcome cut = Cli("cut " + source + " 00:01.000 00:03.000 " + Quote(target) + force);
            EXPECT_EQ(cut.exitCode, 1) << target << force;
            EXPECT_EQ(cut.err, "Output file can not be a device, a pipe or a folder.\n") << target << force;
        }
    }
    EXPECT_TRUE(IsFifo(pipe));
    struct stat status {};
    EXPECT_TRUE(!haveDevice || (::lstat(device.c_str(), &status) == 0 && S_ISCHR(status.st_mode)));

    // In equal-parts mode a pipe in the way of part 2 ends the run there,
    // and the parts not written are named.
    std::string out = work_.File("out");
    fs::create_directory(out);
    ASSERT_EQ(::mkfifo((out + "/song_chunk_2.mp3").c_str(), 0644), 0);
    Outcome split = Cli("split " + source + " 3 " + Quote(out));
    EXPECT_EQ(split.exitCode, 1);
    EXPECT_NE(split.err.find("Cannot create file \"" + out + "/song_chunk_2.mp3\". It is a device, a pipe or a folder"),
              std::string::npos) << split.err;
    EXPECT_NE(split.err.find("Parts not written:\n  " + out + "/song_chunk_2.mp3\n  " + out + "/song_chunk_3.mp3\n"),
              std::string::npos) << split.err;
    EXPECT_TRUE(IsFifo(out + "/song_chunk_2.mp3"));
    EXPECT_TRUE(fs::exists(out + "/song_chunk_1.mp3"));

    // What is not a regular file is not "missing" either.
    for (const std::string command : {"info", "tags"}) {
        Outcome folder = Cli(command + " " + Quote(out));
        EXPECT_EQ(folder.exitCode, 1);
        const std::string chunk = out + "/song_chunk_2.mp3";
        // tags takes a folder for its MP3 files: the pipe among them is
        // refused, not read (which would wait for a writer for ever).
        if (command == "tags")
            EXPECT_NE(folder.err.find("failed " + chunk + ": Cannot open file \"" + chunk
                                      + "\". It is a device, a pipe or a socket"),
                      std::string::npos) << folder.err;
        else
            EXPECT_EQ(folder.err, "Cannot open file \"" + out + "\". It is a folder.\n");
        Outcome fifo = Cli(command + " " + Quote(pipe));
        EXPECT_EQ(fifo.exitCode, 1);
        EXPECT_EQ(fifo.err, "Cannot open file \"" + pipe + "\". It is a device, a pipe or a socket, not a regular file.\n");
    }
}

TEST_F(CliTest, InfoOfAFileThatCannotBeReadFails)
{
    std::string shim = BinFolder() + "libcorvella_unreadable_shim.so";
    ASSERT_TRUE(fs::exists(shim));
    std::string file = work_.File("locked.mp3");
    fs::copy_file(Fixture("song.mp3"), file);
    Outcome outcome = Cli("info " + Quote(file));
    ASSERT_EQ(outcome.exitCode, 0) << "readable, it is described";
    std::string errFile = work_.File("stderr.txt");
    auto locked = testsupport::Run("CORVELLA_SILENT_OUTPUT=1 CORVELLA_UNREADABLE=" + Quote(file) + " LD_PRELOAD="
                                   + Quote(shim) + " " + Quote(BinFolder() + "corvella-cli") + " info " + Quote(file)
                                   + " 2>" + Quote(errFile));
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_EQ(locked.output, "") << "no description of a file that was not read";
    EXPECT_EQ(ReadText(errFile), "Cannot open file \"" + file + "\". Permission denied\n");
}

TEST_F(CliTest, SplitOverTheFileSizeLimitFailsWithAMessageAndNoLeftovers)
{
    std::string out = work_.File("limited");
    fs::create_directory(out);
    std::string errFile = work_.File("limit-stderr.txt");
    // Each of the two parts holds about 6 s at 128 kbit/s, some 96 KB.
    int status = RunUnderFileSizeLimit({BinFolder() + "corvella-cli", "split", Fixture("song.mp3"), "2", out},
                                       64 * 1024, errFile);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::string err = ReadText(errFile);
    EXPECT_NE(err.find("Parts not written:\n  " + out + "/song_chunk_1.mp3\n  " + out + "/song_chunk_2.mp3\n"),
              std::string::npos) << err;
    EXPECT_EQ(err.find("Splitting MP3 is completed."), std::string::npos) << err;
    // The write error names the part and the system's reason.
    EXPECT_NE(err.find("Stream write error: \"" + out + "/song_chunk_1.mp3\". " + std::strerror(EFBIG)),
              std::string::npos) << err;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out))
        left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(CliTest, QuantityForPartsShorterThanTwoFramesIsRefused)
{
    std::string out = work_.File("many");
    fs::create_directory(out);
    // 12 s of 26 ms frames hold at most 229 parts of two frames.
    for (const char* quantity : {"2147483647", "300"}) {
        Outcome outcome = Cli("split " + Quote(Fixture("song.mp3")) + " " + quantity + " " + Quote(out));
        EXPECT_EQ(outcome.exitCode, 1) << quantity;
        EXPECT_EQ(outcome.err, "Please specify a proper quantity of parts.\n") << quantity;
    }
    EXPECT_TRUE(fs::is_empty(out));
    Outcome most = Cli("split " + Quote(Fixture("song.mp3")) + " 200 " + Quote(out));
    EXPECT_EQ(most.exitCode, 0) << most.err;
}

TEST_F(CliTest, TagsReportsWhatTheFileHoldsAfterTheWrite)
{
    // A version 2.4 tag is written back as version 2.3, and an ID3v1.1
    // comment keeps 28 of the 30 characters it was given.
    std::string file = work_.File("v24.mp3");
    fs::copy_file(Fixture("song.mp3"), file);
    ASSERT_EQ(testsupport::Run("/usr/bin/python3 -c " + Quote("import sys, mutagen.id3 as m; t = m.ID3(sys.argv[1]); t.save(v2_version=4)")
                               + " " + Quote(file)).exitCode, 0);
    Outcome before = Cli("tags " + Quote(file) + " --json");
    ASSERT_EQ(JsonValue(before.out, "['ID3v2']['VersionID']"), "4");
    Outcome outcome = Cli("tags " + Quote(file) + " --json --v2 Title=Rewritten --v1 Comment=123456789012345678901234567890"
                          " --v1 Track=9");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v2']['VersionID']"), "3");
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v2']['Title']"), "\"Rewritten\"");
    EXPECT_EQ(JsonValue(outcome.out, "['ID3v1']['Comment']"), "\"1234567890123456789012345678\"");
    EXPECT_EQ(outcome.out, Cli("tags " + Quote(file) + " --json").out) << "the report differs from a fresh read";
}

TEST_F(CliTest, CommandsProbeNoSoundDeviceAndLoadTheWmaAddOnOnlyForWma)
{
    REQUIRE_TOOL("ffmpeg");
    // The dynamic loader names every library it loads; without the switch
    // that forces the silent output, the program must choose it itself.
    const auto loaded = [&](const std::string& arguments) {
        const std::string log = work_.File("loader.txt");
        auto result = testsupport::Run("env -u CORVELLA_SILENT_OUTPUT LD_DEBUG=files " +
                                       Quote(BinFolder() + "corvella-cli") + " " + arguments + " >/dev/null 2>" +
                                       Quote(log));
        EXPECT_EQ(result.exitCode, 0) << arguments;
        return ReadText(log);
    };
    const std::string song = Quote(Fixture("song.mp3"));
    const std::string cut = Quote(work_.File("cut.mp3"));
    for (const std::string& arguments : {"info " + song, "cut " + song + " 00:01.000 00:02.000 " + cut,
                                         "split " + song + " 2 " + Quote(work_.Path().string())}) {
        const std::string log = loaded(arguments);
        EXPECT_NE(log.find("libbass.so"), std::string::npos) << arguments;
        EXPECT_EQ(log.find("libSDL2"), std::string::npos) << arguments;
        EXPECT_EQ(log.find("libbasswma.so"), std::string::npos) << arguments;
        EXPECT_EQ(log.find("libvorbisfile"), std::string::npos) << arguments;
    }
    fs::copy_file(Fixture("song.mp3"), work_.File("retitled.mp3"));
    const std::string tags = loaded("tags " + Quote(work_.File("retitled.mp3")) + " --v2 Title=Other");
    EXPECT_EQ(tags.find("libSDL2"), std::string::npos);
    EXPECT_EQ(tags.find("libbasswma.so"), std::string::npos);

    const std::string wma = work_.File("song.wma");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -f lavfi -i sine=duration=2 -c:a wmav2 " + Quote(wma)).exitCode, 0);
    const std::string log = loaded("info " + Quote(wma));
    EXPECT_NE(log.find("libbasswma.so"), std::string::npos);
    EXPECT_EQ(log.find("libSDL2"), std::string::npos);
}

TEST_F(CliTest, ReportThatCannotBeWrittenFails)
{
    // /dev/full takes the open but fails every write with ENOSPC, as a full disk does.
    std::string errFile = work_.File("full-stderr.txt");
    auto full = testsupport::Run("CORVELLA_SILENT_OUTPUT=1 " + Quote(BinFolder() + "corvella-cli") + " info --json "
                                 + Quote(Fixture("song.mp3")) + " >/dev/full 2>" + Quote(errFile));
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(ReadText(errFile).find(std::strerror(ENOSPC)), std::string::npos) << ReadText(errFile);
}

TEST_F(CliTest, PartsTooShortForTwoFramesAreNamedWhereTheyWent)
{
    // 0.1 s holds five frames of 26 ms: each of three parts is under two.
    std::string source = work_.File("blip.mp3");
    MakeMp3(source, 0.1, 44100, 2, "-b 128");
    std::string out = work_.File("parts");
    fs::create_directory(out);
    Outcome outcome = Cli("split " + Quote(source) + " 3 " + Quote(out));
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Splitting MP3 is completed.\nPart 2 was too short to hold two frames; its audio is in part 3.\n");
    EXPECT_FALSE(fs::exists(out + "/blip_chunk_2.mp3"));
    EXPECT_TRUE(fs::exists(out + "/blip_chunk_3.mp3"));
}

// A journal beside a file is an order to write bytes into it. Reading obeys
// none; a write obeys only the user's own, and then goes ahead. One another
// user left in a shared folder, one that others may change, one with a
// second name, or a pipe of that name is left alone, the write refused
// with its name, and nothing waits on the pipe.
TEST_F(CliTest, AJournalThatIsNotTheUsersOwnIsNeverObeyed)
{
    const std::string file = work_.File("a.mp3");
    fs::copy_file(Fixture("song.mp3"), file);
    ASSERT_EQ(Cli("tags " + Quote(file) + " --v2 Title=Padded").exitCode, 0);  // room for a write in place
    const std::string journal = JournalPathOf(file);
    const std::vector<uint8_t> forged = JournalOfAKilledTagWrite(file, "Forged");
    ASSERT_FALSE(forged.empty());
    const std::vector<uint8_t> original = ReadBytes(file);
    auto put = [&](mode_t mode) {
        WriteBytes(journal, forged);
        ASSERT_EQ(::chmod(journal.c_str(), mode), 0);
    };
    struct Case {
        const char* what;
        std::function<void()> make;
        bool own = false;
    };
    std::vector<Case> cases = {
        {"the user's own", [&] { put(0600); }, true},
        {"writable by the group", [&] { put(0620); }},
        {"with a second name", [&] {
             put(0600);
             fs::create_hard_link(journal, journal + ".2");
         }},
        {"a pipe", [&] { ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0); }},
    };
    if (::geteuid() == 0)
        cases.push_back({"another user's", [&] {
            put(0600);
            ASSERT_EQ(::chown(journal.c_str(), 65534, 65534), 0);
        }});
    const std::string errFile = work_.File("stderr.txt");
    auto run = [&](const std::string& arguments) {
        // A command that waits on the pipe is ended, and fails the test.
        auto result = testsupport::Run("CORVELLA_SILENT_OUTPUT=1 timeout 60 " + Quote(BinFolder() + "corvella-cli")
                                       + " " + arguments + " 2>" + Quote(errFile));
        return Outcome{result.exitCode, result.output, ReadText(errFile)};
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(journal);
        fs::remove(journal + ".2");
        c.make();
        EXPECT_EQ(run("info " + Quote(file)).exitCode, 0);
        EXPECT_TRUE(ReadBytes(file) == original);
        Outcome cut = run("cut " + Quote(file) + " 00:01.000 00:03.000 " + Quote(work_.File("cut.mp3")) + " --force");
        EXPECT_EQ(cut.exitCode, 0) << cut.err;
        EXPECT_TRUE(ReadBytes(file) == original);
        Outcome written = run("tags " + Quote(file) + " --v2 Title=Mine");
        if (c.own) {
            EXPECT_EQ(written.exitCode, 0) << written.err;
            EXPECT_FALSE(fs::exists(fs::symlink_status(journal)));
            WriteBytes(file, original);
            continue;
        }
        EXPECT_EQ(written.exitCode, 1);
        EXPECT_NE(written.err.find("\"" + journal + "\" is not a journal"), std::string::npos) << written.err;
        EXPECT_TRUE(ReadBytes(file) == original);
        EXPECT_TRUE(fs::exists(fs::symlink_status(journal)));
    }
}

// 240 bytes is a legal name (ext4 takes 255); the names the program puts
// beside it on the way must not make it too long.
TEST_F(CliTest, ALongLegalNameCanBeCutToAndTagged)
{
    const std::string name = work_.File(std::string(236, 'n') + ".mp3");
    const std::string source = Quote(Fixture("song.mp3"));
    Outcome cut = Cli("cut " + source + " 00:01.000 00:03.000 " + Quote(name));
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    Outcome replaced = Cli("cut " + source + " 00:01.000 00:04.000 " + Quote(name) + " --force");
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    for (const std::string& title : {std::string("In place"), std::string(3000, 't')}) {
        Outcome tagged = Cli("tags " + Quote(name) + " --v1 Title=Long --v2 Title=" + Quote(title));
        EXPECT_EQ(tagged.exitCode, 0) << tagged.err;
    }
    for (const auto& entry : fs::directory_iterator(work_.Path()))
        EXPECT_TRUE(entry.path() == name || entry.path().filename() == "stderr.txt") << entry.path();
}

namespace {

// Mono 16-bit samples as ffmpeg decodes a file, honouring its LAME delay
// and padding.
std::vector<int16_t> DecodedSamples(const std::string& file)
{
    const std::string pcm = file + ".pcm";
    auto result = testsupport::Run("ffmpeg -y -v error -i " + Quote(file) + " -ac 1 -f s16le " + Quote(pcm));
    std::vector<int16_t> samples;
    if (result.exitCode != 0)
        return samples;
    auto bytes = ReadBytes(pcm);
    samples.resize(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    fs::remove(pcm);
    return samples;
}

// Where part's decoded samples start in source's: a stretch of the part a
// few frames in (past what its first frame's missing history spoils) is
// looked for around near, in samples; nothing when it is not found there.
std::optional<int64_t> DecodedStartIn(const std::vector<int16_t>& source, const std::vector<int16_t>& part, int64_t near)
{
    constexpr int64_t kFrame = 1152;
    constexpr int64_t kProbeAt = 4 * kFrame;
    if (static_cast<int64_t>(part.size()) < kProbeAt + kFrame)
        return std::nullopt;
    for (int64_t start = std::max<int64_t>(0, near - 3 * kFrame); start <= near + 3 * kFrame; ++start) {
        if (start + kProbeAt + kFrame > static_cast<int64_t>(source.size()))
            break;
        if (std::equal(part.begin() + kProbeAt, part.begin() + kProbeAt + kFrame, source.begin() + start + kProbeAt))
            return start;
    }
    return std::nullopt;
}

} // namespace

// Each way of giving split points, on noise (so that a stretch of samples
// is found at one place only) whose points are known: the parts tile the
// source, start where they were asked to, and carry the titles, track
// numbers and performers their sheet or list gives, over the source's tags.
TEST_F(CliTest, SplitAtASheetAFixedLengthOrTimesTagsAndPlacesEachPart)
{
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("ffmpeg");
    const fs::path cached = CachedFixtures(
        {"sox -R -n -r 44100 -c 1 -b 16 noise.wav synth 12 pinknoise vol 0.5",
         "lame --quiet -b 128 --tt 'Song Title' --ta 'Some Artist' --tl Album --tn 5 noise.wav noise.mp3"},
        {"noise.mp3"});
    CopyFixtures(cached, {"noise.mp3"}, work_.Path().string());
    const std::string song = work_.File("noise.mp3");
    WriteText(work_.File("album.cue"), "PERFORMER \"Band\"\r\nTITLE \"Record\"\r\nFILE \"noise.wav\" WAVE\r\n"
                                       "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n"
                                       "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    PERFORMER \"Guest\"\r\n"
                                       "    INDEX 01 00:04:00\r\n"
                                       "  TRACK 03 AUDIO\r\n    INDEX 01 00:07:37\r\n");
    WriteText(work_.File("broken.cue"), "TRACK 01 AUDIO\n  INDEX 01 00:00:00\nTRACK 02 AUDIO\n  INDEX 01 00:0x:00\n");
    WriteText(work_.File("times.txt"), "# the talk\n00:00.000 Intro\n\n00:06.250 Main bit\n");

    struct Part {
        int64_t StartMs;
        std::string Title;
        std::string Track;
        std::string Artist;
    };
    struct Row {
        std::string Options;
        bool Gapless;
        std::vector<Part> Parts;  // none: refused
        std::string Refusal;
    };
    const std::vector<Row> rows = {
        {"--cue " + Quote(work_.File("album.cue")), false,
         {{0, "One", "1/3", "Band"}, {4000, "Two", "2/3", "Guest"}, {7493, "Song Title", "3/3", "Band"}}, ""},
        {"--every 00:05.000", false,
         {{0, "Song Title", "1/3", "Some Artist"}, {5000, "Song Title", "2/3", "Some Artist"},
          {10000, "Song Title", "3/3", "Some Artist"}}, ""},
        {"--at 00:03.000,00:08.500", false,
         {{0, "Song Title", "1/3", "Some Artist"}, {3000, "Song Title", "2/3", "Some Artist"},
          {8500, "Song Title", "3/3", "Some Artist"}}, ""},
        {"--times " + Quote(work_.File("times.txt")) + " --gapless", true,
         {{0, "Intro", "1/2", "Some Artist"}, {6250, "Main bit", "2/2", "Some Artist"}}, ""},
        {"--cue " + Quote(work_.File("broken.cue")), false, {}, "line 4: INDEX time '00:0x:00' is not MM:SS:FF"},
    };
    const std::vector<int16_t> source = DecodedSamples(song);
    ASSERT_GT(source.size(), 44100u * 11);
    for (const Row& row : rows) {
        const TempDir out;
        Outcome outcome = Cli("split " + Quote(song) + " " + Quote(out.Path().string()) + " " + row.Options + " --json");
        if (row.Parts.empty()) {
            EXPECT_EQ(outcome.exitCode, 1) << row.Options;
            EXPECT_NE(outcome.err.find(row.Refusal), std::string::npos) << outcome.err;
            EXPECT_TRUE(fs::is_empty(out.Path())) << row.Options << ": no part written";
            continue;
        }
        ASSERT_EQ(outcome.exitCode, 0) << row.Options << ": " << outcome.err;
        // The JSON lines name the parts in order.
        const std::vector<std::string> parts = PartFilesOfJson(outcome.out);
        ASSERT_EQ(parts.size(), row.Parts.size()) << row.Options << ": " << outcome.out;

        size_t decodedTotal = 0;
        std::string tagArguments;
        for (size_t k = 0; k < parts.size(); ++k) {
            const std::vector<int16_t> decoded = DecodedSamples(parts[k]);
            decodedTotal += decoded.size();
            const int64_t asked = (row.Parts[k].StartMs * 44100 + 500) / 1000;
            const std::optional<int64_t> start = DecodedStartIn(source, decoded, asked);
            ASSERT_TRUE(start) << parts[k] << " is not found near sample " << asked;
            if (row.Gapless)
                EXPECT_EQ(*start, asked) << parts[k];
            else
                EXPECT_LE(std::abs(*start - asked), 1152) << parts[k];
            tagArguments += " " + Quote(parts[k]);
        }
        // Whole frames at each join: a part's last frame may be decoded in
        // part in the next as well.
        const size_t slack = row.Gapless ? 0 : 1152 * (parts.size() - 1);
        EXPECT_GE(decodedTotal + slack, source.size()) << row.Options;
        EXPECT_LE(decodedTotal, source.size() + slack) << row.Options;

        auto tags = testsupport::Run(
            "/usr/bin/python3 -c "
            + Quote("import sys\nfrom mutagen.id3 import ID3\nfor f in sys.argv[1:]:\n t = ID3(f)\n"
                    " print('|'.join(str(t.get(k, '')) for k in ('TIT2', 'TRCK', 'TPE1', 'TALB')))")
            + tagArguments);
        ASSERT_EQ(tags.exitCode, 0) << tags.output;
        std::string expected;
        for (const Part& part : row.Parts)
            expected += part.Title + "|" + part.Track + "|" + part.Artist + "|Album\n";
        EXPECT_EQ(tags.output, expected) << row.Options;
    }
}

// Tones apart by silences of 0.5 s, 1.5 s and 2.5 s, with a stretch 30 dB
// down that is quiet but not silent: parts begin in the middle of the
// silences of at least a second (of the longest only, for about two
// parts), where the decoded tone after each silence says they begin.
TEST_F(CliTest, SplitAtSilencesCutsInTheMiddleOfTheLongOnes)
{
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("ffmpeg");
    const std::string make = "sox -n -r 44100 -c 1 -b 16 ";
    const fs::path cached = CachedFixtures(
        {make + "a.wav synth 2 sine 440 vol 0.5 pad 0 0.5", make + "b.wav synth 2 sine 440 vol 0.5 pad 0 1.5",
         make + "c.wav synth 1 sine 440 vol 0.5", make + "q.wav synth 1.5 sine 440 vol 0.045",
         make + "d.wav synth 1 sine 440 vol 0.5 pad 0 2.5", make + "e.wav synth 4 sine 440 vol 0.5",
         "sox a.wav b.wav c.wav q.wav d.wav e.wav tones.wav", "lame --quiet -b 128 tones.wav tones.mp3"},
        {"tones.mp3"});
    CopyFixtures(cached, {"tones.mp3"}, work_.Path().string());
    const std::string song = work_.File("tones.mp3");
    const std::vector<int16_t> source = DecodedSamples(song);
    ASSERT_GT(source.size(), 44100u * 15);

    // The first sample of the tone at or after sample from.
    const auto loudFrom = [](const std::vector<int16_t>& samples, size_t from) -> std::optional<int64_t> {
        for (size_t i = from; i < samples.size(); ++i)
            if (std::abs(samples[i]) > 3000)
                return static_cast<int64_t>(i);
        return std::nullopt;
    };
    struct Row {
        std::string Options;
        std::vector<int64_t> CutsMs;  // the middles of the silences cut
    };
    const std::vector<Row> rows = {
        {"--silence --min-silence 1.0", {5250, 10750}},
        {"--silence --min-silence 1.0 --parts 2", {10750}},
    };
    for (const Row& row : rows) {
        const TempDir out;
        Outcome outcome = Cli("split " + Quote(song) + " " + Quote(out.Path().string()) + " " + row.Options + " --json");
        ASSERT_EQ(outcome.exitCode, 0) << row.Options << ": " << outcome.err;
        const std::vector<std::string> parts = PartFilesOfJson(outcome.out);
        ASSERT_EQ(parts.size(), row.CutsMs.size() + 1) << row.Options << ": " << outcome.out;

        size_t decodedTotal = 0;
        for (size_t k = 0; k < parts.size(); ++k) {
            EXPECT_EQ(fs::path(parts[k]).filename().string(), "tones_part_" + std::to_string(k + 1) + ".mp3");
            const std::vector<int16_t> decoded = DecodedSamples(parts[k]);
            decodedTotal += decoded.size();
            if (k == 0)
                continue;
            const int64_t middle = (row.CutsMs[k - 1] * 44100 + 500) / 1000;
            const std::optional<int64_t> toneInSource = loudFrom(source, static_cast<size_t>(middle));
            const std::optional<int64_t> toneInPart = loudFrom(decoded, 0);
            ASSERT_TRUE(toneInSource && toneInPart) << parts[k];
            // One frame for the cut, one 20 ms window for the measure.
            EXPECT_LE(std::abs(*toneInSource - *toneInPart - middle), 1152 + 882) << parts[k];
        }
        const size_t slack = 1152 * (parts.size() - 1);
        EXPECT_GE(decodedTotal + slack, source.size()) << row.Options;
        EXPECT_LE(decodedTotal, source.size() + slack) << row.Options;
    }
}
