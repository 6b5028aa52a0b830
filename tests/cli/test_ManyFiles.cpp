// corvella-cli over many files at once (split-many, tags over folders) and
// the silence options of split, run as a child on generated files whose
// parts are known, checked by decoding them (ffmpeg) and reading their
// tags (mutagen).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class ManyFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL("lame");
        REQUIRE_TOOL("sox");
        REQUIRE_TOOL("ffmpeg");
        if (!fs::exists(BinFolder() + "corvella-cli"))
            GTEST_SKIP() << "corvella-cli is not built";
    }

    struct Outcome {
        int exitCode = -1;
        std::string out;
        std::string err;
    };
    // Runs the program; with unreadable, every open of that file fails
    // as for a user without read permission (the tests run as root).
    Outcome Cli(const std::string& arguments, const std::string& unreadable = {})
    {
        const std::string errFile = work_.File("stderr.txt");
        std::string environment = "CORVELLA_SILENT_OUTPUT=1 ";
        if (!unreadable.empty())
            environment += "CORVELLA_UNREADABLE=" + Quote(unreadable) + " LD_PRELOAD="
                           + Quote(BinFolder() + "libcorvella_unreadable_shim.so") + " ";
        auto result = testsupport::Run(environment + Quote(BinFolder() + "corvella-cli") + " " + arguments + " 2>" + Quote(errFile));
        return {result.exitCode, result.output, ReadText(errFile)};
    }

    // Fields of JSON lines, read with Python's own parser: for each line,
    // the values of keys joined by "|" (lists joined by ",").
    std::vector<std::string> JsonFields(const std::string& jsonLines, const std::string& keys)
    {
        WriteText(work_.File("lines.json"), jsonLines);
        auto fields = testsupport::Run("/usr/bin/python3 -c "
                          + Quote("import json,sys\nfor l in open(sys.argv[1]):\n d = json.loads(l)\n"
                                  " v = [d.get(k, '') for k in sys.argv[2].split(',')]\n"
                                  " print('|'.join(','.join(x) if isinstance(x, list) else str(x) for x in v))")
                          + " " + Quote(work_.File("lines.json")) + " " + Quote(keys));
        EXPECT_EQ(fields.exitCode, 0) << fields.output;
        std::vector<std::string> lines;
        std::istringstream stream(fields.output);
        for (std::string line; fields.exitCode == 0 && std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }

    TempDir work_;
};

// The pieces of text between separators, empty ones too.
std::vector<std::string> SplitAt(const std::string& text, char separator)
{
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == separator)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

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

// The first and the last sample of part louder than a tone's quiet edge.
std::optional<std::pair<int64_t, int64_t>> LoudSpan(const std::vector<int16_t>& samples)
{
    auto loud = [](int16_t sample) { return std::abs(sample) > 3000; };
    auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return std::nullopt;
    auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return std::make_pair(static_cast<int64_t>(first - samples.begin()),
                          static_cast<int64_t>(samples.rend() - last - 1));
}

} // namespace

// Twenty files, four of them in a subfolder, split on two threads; one of
// them cannot be read. Every other is split into three sample-exact parts
// that decode to the source's samples one after the other, the parts of
// two sources with the same name do not overwrite each other, and the
// unreadable one is named in its JSON line and in the summary, exit 1.
TEST_F(ManyFilesTest, SplitManyOnTwoThreadsSplitsTheReadableFilesAndNamesTheOther)
{
    const fs::path cached =
        CachedFixtures({"sox -R -n -r 44100 -c 1 -b 16 noise.wav synth 3 pinknoise vol 0.5",
                        "lame --quiet -b 128 noise.wav noise.mp3"},
                       {"noise.mp3"});
    const fs::path in = work_.Path() / "in";
    fs::create_directories(in / "sub");
    std::vector<std::string> sources;
    for (int i = 1; i <= 20; ++i) {
        // a01 sits in both folders: their parts' default names are the same.
        const fs::path file = i <= 16 ? in / ("a" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".mp3")
                                      : in / "sub" / ("a0" + std::to_string(i - 16) + ".mp3");
        fs::copy_file(cached / "noise.mp3", file);
        sources.push_back(file.string());
    }
    const std::string locked = sources[6];
    const fs::path out = work_.Path() / "out";
    fs::create_directory(out);

    Outcome outcome = Cli("split-many " + Quote(out.string()) + " " + Quote(in.string())
                              + " --recursive --parts 3 --gapless --jobs 2 --json",
                          locked);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_NE(outcome.err.find("failed " + locked), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("19 of 20 files done, 1 failed"), std::string::npos) << outcome.err;

    const std::vector<int16_t> source = DecodedSamples(cached / "noise.mp3");
    ASSERT_GT(source.size(), 44100u * 2);
    const std::vector<std::string> lines = JsonFields(outcome.out, "file,status,files");
    ASSERT_EQ(lines.size(), 20u) << outcome.out;
    std::map<std::string, std::string> statusOf;
    std::vector<std::string> allParts;
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = SplitAt(line, '|');
        ASSERT_EQ(fields.size(), 3u) << line;
        statusOf[fields[0]] = fields[1];
        if (fields[0] == locked)
            continue;
        const std::vector<std::string> parts = SplitAt(fields[2], ',');
        ASSERT_EQ(parts.size(), 3u) << line;
        size_t at = 0;
        for (const std::string& part : parts) {
            allParts.push_back(part);
            const std::vector<int16_t> decoded = DecodedSamples(part);
            ASSERT_GT(decoded.size(), 2000u) << part;
            // Past the first frames, whose missing history a decoder
            // fills in its own way, a part is the source's samples.
            constexpr size_t kSettled = 1152;
            ASSERT_LE(at + decoded.size(), source.size()) << part;
            EXPECT_TRUE(std::equal(decoded.begin() + kSettled, decoded.end(), source.begin() + at + kSettled))
                << part << " is not the source's samples from " << at;
            at += decoded.size();
        }
        EXPECT_EQ(at, source.size()) << fields[0] << ": the parts tile the source";
    }
    EXPECT_EQ(statusOf.size(), 20u);
    for (const std::string& file : sources)
        EXPECT_EQ(statusOf[file], file == locked ? "failed" : "done") << file;
    std::sort(allParts.begin(), allParts.end());
    EXPECT_EQ(std::unique(allParts.begin(), allParts.end()), allParts.end()) << "two sources wrote the same part";
    size_t filesOut = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out))
        ++filesOut;
    EXPECT_EQ(filesOut, 19u * 3u);
}

// Tones of 2, 3 and 3 s apart by silences of 1.5 and 2 s: cut at the end
// of each silence, the next part starts with its tone; trimmed, every
// part holds its tone and no silence.
TEST_F(ManyFilesTest, SilenceCutAtTheEndOrTrimmedFromThePartEdges)
{
    const std::string make = "sox -n -r 44100 -c 1 -b 16 ";
    const fs::path cached = CachedFixtures(
        {make + "a.wav synth 2 sine 440 vol 0.5 pad 0 1.5", make + "b.wav synth 3 sine 440 vol 0.5 pad 0 2",
         make + "c.wav synth 3 sine 440 vol 0.5", "sox a.wav b.wav c.wav tones.wav",
         "lame --quiet -b 128 tones.wav tones.mp3"},
        {"tones.mp3"});
    CopyFixtures(cached, {"tones.mp3"}, work_.Path().string());
    const std::string song = work_.File("tones.mp3");
    const int64_t sourceSamples = static_cast<int64_t>(DecodedSamples(song).size());
    ASSERT_GT(sourceSamples, 44100 * 11);

    struct Row {
        std::string Options;
        std::vector<std::pair<int64_t, int64_t>> PartsMs;  // start, end
        bool Tones;  // every part starts and ends with its tone
    };
    const std::vector<Row> rows = {
        {"--cut-at-end", {{0, 3500}, {3500, 8500}, {8500, 11500}}, false},
        {"--trim", {{0, 2000}, {3500, 6500}, {8500, 11500}}, true},
        {"--trim --cut-at-end", {{0, 2000}, {3500, 6500}, {8500, 11500}}, true},
    };
    // One frame for the cut, one 20 ms window for the measure.
    constexpr int64_t kSlack = 1152 + 882;
    for (const Row& row : rows) {
        const TempDir out;
        Outcome outcome = Cli("split " + Quote(song) + " " + Quote(out.Path().string())
                              + " --silence --min-silence 1 --min-part 1 " + row.Options + " --json");
        ASSERT_EQ(outcome.exitCode, 0) << row.Options << ": " << outcome.err;
        const std::vector<std::string> parts = JsonFields(outcome.out, "file");
        ASSERT_EQ(parts.size(), row.PartsMs.size()) << row.Options << ": " << outcome.out;
        for (size_t k = 0; k < parts.size(); ++k) {
            const std::vector<int16_t> decoded = DecodedSamples(parts[k]);
            const int64_t asked = (row.PartsMs[k].second - row.PartsMs[k].first) * 441 / 10;
            EXPECT_LE(std::abs(static_cast<int64_t>(decoded.size()) - asked), 2 * kSlack)
                << row.Options << ": " << parts[k] << " of " << decoded.size() << " samples, not " << asked;
            const auto loud = LoudSpan(decoded);
            ASSERT_TRUE(loud) << parts[k];
            // After a cut at a silence's end, a part begins with its tone.
            if (k > 0 || row.Tones) {
                EXPECT_LE(loud->first, kSlack) << row.Options << ": " << parts[k];
            }
            if (row.Tones) {
                EXPECT_GE(loud->second, static_cast<int64_t>(decoded.size()) - kSlack)
                    << row.Options << ": " << parts[k];
            }
        }
    }
}

// Tags over a folder: without --recursive its own MP3s, with it those of
// its subfolders too, a line each; an unreadable one fails alone (exit
// 1), and a field set over the folder is written into every other file.
TEST_F(ManyFilesTest, TagsOverAFolderReportAndSetEveryFileAndNameTheOneThatFailed)
{
    const fs::path cached = CachedFixtures(
        {"sox -n -r 44100 -c 1 -b 16 t.wav synth 1 sine 440 vol 0.5",
         "lame --quiet -b 64 --tt One t.wav one.mp3", "lame --quiet -b 64 --tt Two t.wav two.mp3",
         "lame --quiet -b 64 --tt Three t.wav three.mp3"},
        {"one.mp3", "two.mp3", "three.mp3"});
    const fs::path in = work_.Path() / "in";
    fs::create_directories(in / "sub" / "deeper");
    fs::copy_file(cached / "one.mp3", in / "one.mp3");
    fs::copy_file(cached / "two.mp3", in / "sub" / "two.mp3");
    fs::copy_file(cached / "three.mp3", in / "sub" / "deeper" / "three.mp3");
    fs::copy_file(cached / "three.mp3", in / "sub" / "locked.mp3");
    WriteText((in / "notes.txt").string(), "not audio");
    const std::string locked = (in / "sub" / "locked.mp3").string();

    struct Row {
        std::string Options;
        int ExitCode;
        std::vector<std::string> Lines;  // file|status|ID3v2 title|ID3v2 album, in file order
    };
    const std::string one = (in / "one.mp3").string();
    const std::string two = (in / "sub" / "two.mp3").string();
    const std::string three = (in / "sub" / "deeper" / "three.mp3").string();
    const std::vector<Row> rows = {
        {"", 0, {one + "|done|One|"}},
        {"--recursive --jobs 2", 1,
         {one + "|done|One|", two + "|done|Two|", three + "|done|Three|", locked + "|failed||"}},
        {"--recursive --v2 Album=Shared", 1,
         {one + "|done|One|Shared", two + "|done|Two|Shared", three + "|done|Three|Shared", locked + "|failed||"}},
    };
    for (const Row& row : rows) {
        Outcome outcome = Cli("tags " + Quote(in.string()) + " " + row.Options + " --json", locked);
        EXPECT_EQ(outcome.exitCode, row.ExitCode) << row.Options << ": " << outcome.err;
        WriteText(work_.File("lines.json"), outcome.out);
        auto fields = testsupport::Run("/usr/bin/python3 -c "
                          + Quote("import json,sys\nfor l in open(sys.argv[1]):\n d = json.loads(l)\n"
                                  " t = d.get('ID3v2', {})\n"
                                  " print('|'.join([d['file'], d['status'], t.get('Title') or '', t.get('Album') or '']))")
                          + " " + Quote(work_.File("lines.json")));
        ASSERT_EQ(fields.exitCode, 0) << fields.output;
        std::vector<std::string> lines = SplitAt(fields.output.substr(0, fields.output.find_last_not_of('\n') + 1), '\n');
        // Files finish in any order on several threads.
        std::sort(lines.begin(), lines.end());
        std::vector<std::string> expected = row.Lines;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(lines, expected) << row.Options;
        if (row.ExitCode != 0) {
            EXPECT_NE(outcome.err.find("failed " + locked), std::string::npos) << outcome.err;
        }
    }
    auto albums = testsupport::Run("/usr/bin/python3 -c " + Quote("import sys\nfrom mutagen.id3 import ID3\n"
                                                     "print(' '.join(str(ID3(f).get('TALB', '')) for f in sys.argv[1:]))")
                      + " " + Quote(one) + " " + Quote(two) + " " + Quote(three));
    EXPECT_EQ(albums.output, "Shared Shared Shared\n");
}
