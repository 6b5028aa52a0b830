// The two split commands end to end: their checks and messages in order,
// the gauge, Stop, and the files they write, checked from the bytes and by
// ffmpeg and mutagen.
#include "core/SplitCommands.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/Errors.h"
#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "files/FileCalls.h"
#include "playback/BASSPlayer.h"
#include "SplitTestSupport.h"

using namespace testsupport;
using namespace splittest;
namespace fs = std::filesystem;

namespace {

const char* const kCompleted = "message:Splitting MP3 is completed.";
const char* const kFailed = "message:Splitting MP3 is failed.";

// Prints the tag fields mutagen reads, one "name=value" line each, the
// picture as a digest of its bytes.
const char* const kTagDump = R"(
import sys, hashlib, mutagen.id3 as id3
tag = id3.ID3(sys.argv[1])
def text(key):
    return str(tag[key].text[0]) if key in tag else ''
print('title=' + text('TIT2'))
print('artist=' + text('TPE1'))
print('album=' + text('TALB'))
print('year=' + (text('TDRC') or text('TYER')))
print('genre=' + (tag['TCON'].genres[0] if 'TCON' in tag else ''))
print('track=' + text('TRCK').split('/')[0])
comments = tag.getall('COMM::eng')
print('comment=' + (str(comments[0].text[0]) if comments else ''))
for picture in tag.getall('APIC'):
    print('picture=%s %d %s' % (picture.mime, picture.type, hashlib.sha1(picture.data).hexdigest()))
)";

// While the second part is cut the player cannot open the source: a read
// error that lasts one part (the pumps before parts 2 and 3 of a run).
std::function<void(int)> UnreadableWhileTheSecondPartIsCut(const std::string& source, const TempDir& work)
{
    const std::string away = work.File("away.mp3");
    return [source, away](int pump) {
        if (pump == 2) {
            fs::rename(source, away);
            WriteText(source, "not audio");
        } else if (pump == 3) {
            fs::rename(away, source);
        }
    };
}

class SplitCommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApplication();
        fixtures_ = std::make_unique<TempDir>();
        if (!HaveTool("lame") || !HaveTool("sox") || !HaveTool("ffmpeg"))
            return;
        std::vector<std::string> commands = {"ffmpeg -v error -f lavfi -i testsrc=size=320x240 -frames:v 1 -q:v 3 cover.jpg"};
        std::string tags = " --tt 'Night Drive' --ta 'The Testers' --tl 'Fixtures' --ty 2021 --tc 'made by lame'"
                           " --tn 4 --tg Rock --ti cover.jpg";
        for (const auto& made : {Mp3Commands("cbr.mp3", 30, 44100, 2, "-b 128" + tags),
                                 Mp3Commands("vbr.mp3", 20, 44100, 2, "-V 2" + tags),
                                 Mp3Commands("mpeg2.mp3", 20, 22050, 1, "-b 64" + tags),
                                 Mp3Commands("plain.mp3", 8, 44100, 2, "-b 128"),
                                 Mp3Commands("short.mp3", 0.5, 44100, 2, "-b 128 --tt Short --tg Rock")})
            commands.insert(commands.end(), made.begin(), made.end());
        const std::vector<std::string> files = {"cover.jpg", "cbr.mp3", "vbr.mp3", "mpeg2.mp3", "plain.mp3", "short.mp3"};
        CopyFixtures(CachedFixtures(commands, files), files, fixtures_->Path().string());
        WriteText(fixtures_->File("dump_tags.py"), kTagDump);
    }
    static void TearDownTestSuite() { fixtures_.reset(); }

    void SetUp() override
    {
        REQUIRE_TOOL("lame");
        REQUIRE_TOOL("ffmpeg");
        player_ = std::make_unique<TBASSPlayer>(nullptr, &ui_, BinFolder());
        if (!player_->PlayerReady())
            GTEST_SKIP() << "the audio library is not in " << BinFolder();
        commands_ = std::make_unique<TSplitCommands>(*player_, id3v1_, id3v2_, ui_);
    }

    static std::string Fixture(const std::string& name) { return fixtures_->File(name); }

    // The stream length the window would have from opening the file.
    int32_t LengthOf(const std::string& file)
    {
        EXPECT_TRUE(player_->Open(file));
        auto length = static_cast<int32_t>(player_->PlayLength());
        player_->Close();
        return length;
    }

    SplitRequest EqualParts(const std::string& file, const std::string& quantity)
    {
        SplitRequest request;
        request.FileText = file;
        request.SectionMode = false;
        request.PartText = quantity;
        request.LengthMs = LengthOf(file);
        return request;
    }

    static SplitRequest Section(const std::string& file, const std::string& start, const std::string& end)
    {
        SplitRequest request;
        request.FileText = file;
        request.SectionMode = true;
        request.StartText = start;
        request.EndText = end;
        return request;
    }

    static std::string TagDump(const std::string& file)
    {
        auto result = testsupport::Run("/usr/bin/python3 " + Quote(fixtures_->File("dump_tags.py")) + " " + Quote(file));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return result.output;
    }

    // What ffmpeg says decoding the file.
    static std::string DecodeComplaints(const std::string& file, bool tinyParts = false)
    {
        return testsupport::Run(std::string("ffmpeg -v error ") + (tinyParts ? "-f mp3 " : "") + "-i " + Quote(file)
                                + " -f null -")
            .output;
    }

    // Splits source into count parts in a new folder and checks every part
    // from its bytes; returns the parts' bytes.
    // tinyParts: parts of a few frames, whose format ffmpeg's probe cannot
    // tell from so few bytes (it must be told they are MP3).
    std::vector<std::vector<uint8_t>> SplitAndCheck(const std::string& source, int count, const TempDir& out,
                                                    bool tinyParts = false)
    {
        ui_.FolderAnswer = out.Path().string();
        commands_->Split(EqualParts(source, std::to_string(count)));
        EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kCompleted});
        auto sourceBytes = ReadBytes(source);
        auto sourceAudio = AudioOf(sourceBytes);
        // The source's first frame is lame's Xing/Info frame: time 0 lies behind it.
        EXPECT_TRUE(FirstFrameIsVbrHeader(sourceAudio));
        size_t vbrFrameLength = MpegFrameLength(sourceAudio.data());
        std::vector<uint8_t> expected(sourceAudio.begin() + static_cast<std::ptrdiff_t>(vbrFrameLength),
                                      sourceAudio.end());
        std::vector<uint8_t> sourceTagV2(sourceBytes.begin(),
                                         sourceBytes.begin() + static_cast<std::ptrdiff_t>(Id3v2Length(sourceBytes)));

        // The parts carry the source's frames as they were: lame's comment
        // frame, whose empty UTF-16 description has no byte order mark, draws
        // ffmpeg's complaint on each part as on the source, and nothing else may.
        const std::string sourceComplaints = DecodeComplaints(source, tinyParts);

        std::vector<std::vector<uint8_t>> parts;
        std::vector<uint8_t> joined;
        std::string base = fs::path(source).stem().string();
        for (int k = 1; k <= count; ++k) {
            std::string part = out.File(base + "_chunk_" + std::to_string(k) + ".mp3");
            if (!fs::exists(part))
                continue;  // a part that held no whole frame is skipped
            auto bytes = ReadBytes(part);
            // Each part starts with a header frame of its own, then the source's frames.
            auto audio = AudioAfterHeaderFrame(bytes);
            EXPECT_TRUE(StartsWithFrameSync(audio)) << part;
            EXPECT_TRUE(HasId3v1(bytes)) << part;
            // Tags copied byte for byte where the source's were already in the written form.
            EXPECT_TRUE(std::equal(sourceBytes.end() - 128, sourceBytes.end(), bytes.end() - 128)) << part;
            joined.insert(joined.end(), audio.begin(), audio.end());
            EXPECT_EQ(DecodeComplaints(part, tinyParts), sourceComplaints) << part;
            parts.push_back(std::move(bytes));
        }
        EXPECT_EQ(joined.size(), expected.size());
        EXPECT_TRUE(joined == expected) << "the parts' audio is not the source's audio from time 0 to its end";
        return parts;
    }

    static std::unique_ptr<TempDir> fixtures_;
    ScriptedUi ui_;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
    std::unique_ptr<TBASSPlayer> player_;
    std::unique_ptr<TSplitCommands> commands_;
};

std::unique_ptr<TempDir> SplitCommandsTest::fixtures_;

} // namespace

TEST_F(SplitCommandsTest, NoFileAsksToOpenOneInEitherMode)
{
    TempDir out;
    ui_.FolderAnswer = out.Path().string();
    SplitRequest missing = Section(out.File("gone.mp3"), "00:01.000", "00:02.000");
    commands_->Split(missing);
    missing.SectionMode = false;
    missing.PartText = "3";
    commands_->Split(missing);
    commands_->Split(Section("", "00:01.000", "00:02.000"));
    EXPECT_EQ(ui_.Events, (std::vector<std::string>{"message:Please open a MP3 file.", "message:Please open a MP3 file.",
                                                    "message:Please open a MP3 file."}));
}

TEST_F(SplitCommandsTest, SectionChecksComeInOrderAndWriteNothing)
{
    TempDir out;
    std::string source = Fixture("cbr.mp3");
    auto before = ReadBytes(source);

    commands_->Split(Section(source, "00:05.000", "00:05.000"));
    EXPECT_EQ(ui_.Events, std::vector<std::string>{"message:Start Time and End Time can not be the same"});

    ui_.Events.clear();
    ui_.SaveAnswer.reset();
    commands_->Split(Section(source, "00:01.000", "00:02.000"));
    EXPECT_EQ(ui_.Events, std::vector<std::string>{"save-dialog:cbr_chunk_1.mp3"});

    // The same file by its text, through a relative path and through a hard link.
    std::string link = out.File("link.mp3");
    ASSERT_EQ(::link(source.c_str(), link.c_str()), 0);
    std::string relative = fs::relative(source, fs::current_path()).string();
    for (const std::string& same : {source, relative, link}) {
        ui_.Events.clear();
        ui_.SaveAnswer = same;
        commands_->Split(Section(source, "00:01.000", "00:02.000"));
        EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{"message:Output file can not be the same as the input file."})
            << same;
    }
    EXPECT_TRUE(ReadBytes(source) == before);
}

TEST_F(SplitCommandsTest, CutThatCannotBeMadeIsReportedWithItsReasonBeforeANameIsAskedFor)
{
    TempDir out;
    std::string source = Fixture("cbr.mp3");
    ui_.SaveAnswer = out.File("section.mp3");
    ui_.FolderAnswer = out.Path().string();
    const std::vector<std::pair<std::string, std::string>> sections = {
        {"00:05.000", "00:05.0"},    // different texts, the same 5000 ms
        {"00:09.000", "00:04.000"},  // the end before the start
        {"05:00.000", "06:00.000"},  // the start after the stream's end
        {"00:05.000", "00:05.010"},  // shorter than a frame
    };
    for (const auto& [start, end] : sections) {
        SplitRequest request = Section(source, start, end);
        request.LengthMs = LengthOf(source);
        commands_->Split(request);
    }
    std::string notAudio = out.File("notes.mp3");
    WriteText(notAudio, std::string(4000, 'x'));
    commands_->Split(Section(notAudio, "00:01.000", "00:02.000"));
    SplitRequest parts = EqualParts(source, "3");
    parts.FileText = notAudio;
    commands_->Split(parts);

    const std::string failed = std::string(kFailed).substr(std::strlen("message:")) + "\r\n";
    const std::string beforeStart = "The ending time must come after the starting time.";
    const std::string noFrames = "\"" + notAudio + "\" holds no MPEG audio frames to cut.";
    std::vector<std::string> messages = ui_.Only("message");
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0], "message:" + failed + beforeStart);
    EXPECT_EQ(messages[1], "message:" + failed + beforeStart);
    EXPECT_EQ(messages[2].rfind("message:" + failed + "The starting time lies at or beyond the end of the audio (00:30.", 0),
              0u) << messages[2];
    EXPECT_EQ(messages[3].rfind("message:" + failed + "The section is shorter than one frame of audio (26 ms).", 0), 0u)
        << messages[3];
    EXPECT_EQ(messages[4], "message:" + failed + noFrames);
    EXPECT_EQ(messages[5], "message:" + failed + noFrames);
    EXPECT_TRUE(ui_.Only("save-dialog").empty());
    EXPECT_TRUE(ui_.Only("folder-picker").empty());
    EXPECT_FALSE(fs::exists(out.File("section.mp3")));
}

TEST_F(SplitCommandsTest, SectionIsWrittenWithBothTagsOfTheSource)
{
    TempDir out;
    std::string source = Fixture("cbr.mp3");
    std::string target = out.File("section.mp3");
    ui_.SaveAnswer = target;
    commands_->Split(Section(source, "00:10.000", "00:20.000"));
    EXPECT_EQ(ui_.Events, (std::vector<std::string>{"save-dialog:cbr_chunk_1.mp3", "timer-stopped", kCompleted}));
    EXPECT_EQ(commands_->SourceFileName(), source);
    EXPECT_EQ(commands_->TargetFileName(), target);
    EXPECT_EQ(TagDump(target), TagDump(source));
    EXPECT_NE(TagDump(target).find("picture=image/jpeg"), std::string::npos);
    EXPECT_EQ(DecodeComplaints(target), DecodeComplaints(source));
}

TEST_F(SplitCommandsTest, FailedSectionLeavesAFileOfThatNameAlone)
{
    TempDir out;
    std::string target = out.File("existing.mp3");
    WriteText(target, std::string(300, 'x'));
    ui_.SaveAnswer = target;
    commands_->Split(Section(Fixture("cbr.mp3"), "09:00.000", "09:10.000"));
    commands_->Split(Section(Fixture("cbr.mp3"), "00:09.000", "00:04.000"));
    std::vector<std::string> messages = ui_.Only("message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind(kFailed, 0), 0u) << messages[0];
    EXPECT_EQ(messages[1].rfind(kFailed, 0), 0u) << messages[1];
    EXPECT_EQ(ReadText(target), std::string(300, 'x')) << "a file the cut did not write got tags";
}

TEST_F(SplitCommandsTest, APipeInPlaceOfTheTargetIsNeverReplaced)
{
    TempDir out;
    std::string pipe = out.File("pipe.mp3");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    ui_.SaveAnswer = pipe;
    commands_->Split(Section(Fixture("cbr.mp3"), "00:01.000", "00:03.000"));
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{"message:Output file can not be a device, a pipe or a folder."});
    // The cutter's own last look, for a pipe that comes after the command's.
    TSectionCutter cutter(*player_);
    std::string error;
    try {
        cutter.CutSection(Fixture("cbr.mp3"), pipe, "00:01.000", "00:03.000", true, -150);
    } catch (const CorvellaError& refusal) {
        error = refusal.what();
    }
    EXPECT_EQ(error, "Cannot create file \"" + pipe + "\". " + kNotARegularFile);
    struct stat status {};
    EXPECT_TRUE(::lstat(pipe.c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    EXPECT_EQ(std::vector<std::string>(1, pipe), [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(out.Path()))
            names.push_back(entry.path().string());
        return names;
    }()) << "no temporary file is left beside it";
}

TEST_F(SplitCommandsTest, PartThatCannotBeWrittenFailsTheRunAndKeepsItsNameUntouched)
{
    TempDir work;
    TempDir out;
    std::string source = work.File("song.mp3");
    fs::copy_file(Fixture("cbr.mp3"), source);
    std::string secondPart = out.File("song_chunk_2.mp3");
    WriteText(secondPart, "someone else's file");
    SplitRequest request = EqualParts(source, "3");
    ui_.FolderAnswer = out.Path().string();
    ui_.OnPump = UnreadableWhileTheSecondPartIsCut(source, work);
    commands_->Split(request);
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kFailed});
    EXPECT_EQ(commands_->PartsNotWritten(), std::vector<std::string>{secondPart});
    EXPECT_EQ(ReadText(secondPart), "someone else's file");
    EXPECT_TRUE(fs::exists(out.File("song_chunk_1.mp3")));
    EXPECT_TRUE(fs::exists(out.File("song_chunk_3.mp3")));

    // Parts skipped for holding no whole frame are no failure; a run that
    // writes no part at all is one.
    ui_.Events.clear();
    ui_.OnPump = nullptr;
    TempDir again;
    ui_.FolderAnswer = again.Path().string();
    commands_->Split(EqualParts(source, "3"));
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kCompleted});
    EXPECT_TRUE(commands_->PartsNotWritten().empty());
    // The binding of the audio library is one per process: the player
    // that has it goes first.
    commands_.reset();
    player_.reset();
    TBASSPlayer unready(nullptr, &ui_, work.Path().string() + "/");
    ASSERT_FALSE(unready.PlayerReady());
    TSplitCommands withoutLibrary(unready, id3v1_, id3v2_, ui_);
    ui_.Events.clear();
    withoutLibrary.Split(request);
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kFailed});
    EXPECT_EQ(withoutLibrary.PartsNotWritten().size(), 3u);
    EXPECT_FALSE(fs::exists(again.File("song_chunk_4.mp3")));
}

// A part is copied on a second thread while the next one is cut. When the
// part on the second thread fails (here its name cannot be linked into
// place), the run ends with that part's error, the part cut meanwhile is
// not put in place, and the parts from the failed one on are named.
TEST_F(SplitCommandsTest, PartThatFailsWhileTheNextIsCutEndsTheRunThere)
{
    TempDir work;
    TempDir out;
    std::string source = work.File("song.mp3");
    fs::copy_file(Fixture("cbr.mp3"), source);
    struct RestoreCalls {
        FileCalls saved = SystemFileCalls();
        ~RestoreCalls() { SystemFileCalls() = saved; }
    } restore;
    SystemFileCalls().linkat = [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
        if (std::string(to).find("song_chunk_1.mp3") != std::string::npos) {
            errno = EIO;
            return -1;
        }
        return PlainFileCalls().linkat(fromFolder, from, toFolder, to, flags);
    };
    ui_.FolderAnswer = out.Path().string();
    try {
        commands_->Split(EqualParts(source, "3"));
        ADD_FAILURE() << "the run ended without an error";
    } catch (const CorvellaError& error) {
        EXPECT_NE(std::string(error.what()).find("song_chunk_1.mp3"), std::string::npos) << error.what();
    }
    EXPECT_EQ(commands_->PartsNotWritten(), (std::vector<std::string>{
                                                out.File("song_chunk_1.mp3"), out.File("song_chunk_2.mp3"),
                                                out.File("song_chunk_3.mp3")}));
    EXPECT_TRUE(fs::is_empty(out.Path())) << "nothing of any part is left in the folder";

    // A part between, which the player cannot open while the failed one is
    // still being copied, is named once, in its place.
    TempDir again;
    ui_.FolderAnswer = again.Path().string();
    ui_.Pumps = 0;
    ui_.OnPump = UnreadableWhileTheSecondPartIsCut(source, work);
    EXPECT_THROW(commands_->Split(EqualParts(source, "3")), CorvellaError);
    EXPECT_EQ(commands_->PartsNotWritten(), (std::vector<std::string>{
                                                again.File("song_chunk_1.mp3"), again.File("song_chunk_2.mp3"),
                                                again.File("song_chunk_3.mp3")}));
}

// The source's tags cannot be read (an I/O error on the opens between the
// timer's stop and the first part), while the cut itself could read the
// audio: no file may go out with empty tags in place of the source's.
TEST_F(SplitCommandsTest, SourceTagsThatCannotBeReadFailTheCommandNamingWhatWasNotWritten)
{
    TempDir work;
    TempDir out;
    std::string source = work.File("song.mp3");
    fs::copy_file(Fixture("cbr.mp3"), source);
    static std::string unreadable;
    static bool failing = false;
    unreadable = source;
    struct RestoreCalls {
        FileCalls saved = SystemFileCalls();
        ~RestoreCalls() { SystemFileCalls() = saved; failing = false; }
    } restore;
    SystemFileCalls().open = [](const char* path, int flags, mode_t mode) {
        if (failing && unreadable == path) {
            errno = EIO;
            return -1;
        }
        return PlainFileCalls().open(path, flags, mode);
    };
    struct TagsUnreadableUi : ScriptedUi {
        void StopPlayerTimer() override { failing = true; }
    } ui;
    ui.OnPump = [](int) { failing = false; };
    ui.SaveAnswer = out.File("section.mp3");
    ui.FolderAnswer = out.Path().string();
    TSplitCommands commands(*player_, id3v1_, id3v2_, ui);
    SplitRequest equalParts = EqualParts(source, "3");
    commands.Split(Section(source, "00:01.000", "00:05.000"));
    commands.Split(equalParts);
    const std::string reason = "The tags of \"" + source + "\" could not be read";
    std::vector<std::string> messages = ui.Only("message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind(std::string(kFailed) + "\r\n" + reason, 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("\"" + out.File("section.mp3") + "\" was not written."), std::string::npos) << messages[0];
    EXPECT_EQ(messages[1].rfind(std::string(kFailed) + "\r\n" + reason, 0), 0u) << messages[1];
    EXPECT_NE(messages[1].find("no part was written (\"" + out.File("song_chunk_1.mp3") + "\" to \""
                               + out.File("song_chunk_3.mp3") + "\")."),
              std::string::npos) << messages[1];
    EXPECT_EQ(commands.PartsNotWritten().size(), 3u);
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(SplitCommandsTest, QuantityAndFolderChecksComeBeforeAnyWriting)
{
    std::string source = Fixture("cbr.mp3");
    for (const char* quantity : {"abc", "0", "-2", ""}) {
        ui_.Events.clear();
        commands_->Split(EqualParts(source, quantity));
        EXPECT_EQ(ui_.Events, std::vector<std::string>{"message:Please specify a proper quantity of parts."})
            << '"' << quantity << '"';
    }
    ui_.Events.clear();
    ui_.FolderAnswer.reset();
    commands_->Split(EqualParts(source, "3"));
    EXPECT_EQ(ui_.Events, std::vector<std::string>{"folder-picker"});

    ui_.Events.clear();
    ui_.FolderAnswer = "/nonexistent/corvella/folder";
    commands_->Split(EqualParts(source, "3"));
    EXPECT_EQ(ui_.Events, (std::vector<std::string>{"folder-picker", "message:Please specify a proper output directory."}));
}

TEST_F(SplitCommandsTest, EqualPartsRunPumpsBeforeEachPartAndMovesTheGauge)
{
    TempDir out;
    ui_.FolderAnswer = out.Path().string() + "/";  // one separator only
    bool runningWhilePumping = true;
    ui_.OnPump = [&](int) { runningWhilePumping = runningWhilePumping && commands_->Running(); };
    commands_->Split(EqualParts(Fixture("cbr.mp3"), "4"));
    EXPECT_EQ(ui_.Events, (std::vector<std::string>{"folder-picker", "timer-stopped", "gauge-shown", "pump", "gauge:0",
                                                    "pump", "gauge:33", "pump", "gauge:67", "pump", "gauge:100",
                                                    "gauge-hidden", kCompleted}));
    EXPECT_TRUE(runningWhilePumping);
    EXPECT_FALSE(commands_->Running());
    EXPECT_EQ(commands_->TargetFileName(), out.File("cbr_chunk_4.mp3"));
    for (int k = 1; k <= 4; ++k)
        EXPECT_TRUE(fs::exists(out.File("cbr_chunk_" + std::to_string(k) + ".mp3"))) << k;
}

TEST_F(SplitCommandsTest, StopEndsTheRunBeforeTheNextPartSayingHowManyWereWritten)
{
    TempDir out;
    ui_.FolderAnswer = out.Path().string();
    ui_.OnPump = [&](int pump) {
        if (pump == 3)
            commands_->RequestStop();
    };
    commands_->Split(EqualParts(Fixture("cbr.mp3"), "10"));
    EXPECT_TRUE(commands_->StopRequested());
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{"message:Splitting MP3 is stopped. 2 of 10 parts were written."});
    EXPECT_EQ(ui_.Events.end()[-2], "gauge-hidden");
    EXPECT_TRUE(fs::exists(out.File("cbr_chunk_2.mp3")));
    EXPECT_FALSE(fs::exists(out.File("cbr_chunk_3.mp3")));

    // The next run starts afresh.
    ui_.Events.clear();
    ui_.OnPump = nullptr;
    commands_->Split(EqualParts(Fixture("cbr.mp3"), "2"));
    EXPECT_FALSE(commands_->StopRequested());
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kCompleted});
}

TEST_F(SplitCommandsTest, ASecondSplitDuringARunIsIgnored)
{
    TempDir out;
    ui_.FolderAnswer = out.Path().string();
    ui_.OnPump = [&](int pump) {
        if (pump == 1)
            commands_->Split(Section(Fixture("cbr.mp3"), "00:01.000", "00:01.000"));
    };
    commands_->Split(EqualParts(Fixture("cbr.mp3"), "2"));
    EXPECT_EQ(ui_.Only("message"), std::vector<std::string>{kCompleted});
}

TEST_F(SplitCommandsTest, ConstantBitRatePartsTileTheAudio)
{
    for (int count : {1, 2, 3, 7}) {
        SCOPED_TRACE(count);
        TempDir out;
        ui_.Events.clear();
        auto parts = SplitAndCheck(Fixture("cbr.mp3"), count, out);
        EXPECT_EQ(parts.size(), static_cast<size_t>(count));
    }
}

TEST_F(SplitCommandsTest, VariableBitRatePartsTileTheAudio)
{
    for (int count : {1, 3, 7}) {
        SCOPED_TRACE(count);
        TempDir out;
        ui_.Events.clear();
        SplitAndCheck(Fixture("vbr.mp3"), count, out);
    }
}

TEST_F(SplitCommandsTest, Mpeg2PartsTileTheAudio)
{
    for (int count : {2, 3}) {
        SCOPED_TRACE(count);
        TempDir out;
        ui_.Events.clear();
        SplitAndCheck(Fixture("mpeg2.mp3"), count, out);
    }
}

TEST_F(SplitCommandsTest, EveryPartCarriesTheSourceTagsPictureIncluded)
{
    TempDir out;
    SplitAndCheck(Fixture("cbr.mp3"), 3, out);
    std::string expected = TagDump(Fixture("cbr.mp3"));
    EXPECT_NE(expected.find("picture=image/jpeg "), std::string::npos) << expected;
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(TagDump(out.File("cbr_chunk_" + std::to_string(k) + ".mp3")), expected) << k;
}

// The parts get the source's tag as a v2.3 tag. A v2.2 frame it has no
// place for would be lost on every part: the run ends before any part, and
// its error names the frame.
TEST_F(SplitCommandsTest, ASourceTagThePartsCannotCarryEndsTheRunSayingWhy)
{
    TempDir work;
    const std::string source = work.File("old.mp3");
    TID3v2 sourceTag;
    ASSERT_TRUE(sourceTag.ReadTag(Fixture("cbr.mp3")));
    const auto bytes = ReadBytes(Fixture("cbr.mp3"));
    const std::vector<uint8_t> frames = {'T', 'T', '2', 0, 0, 2, 0, 'T', 'C', 'R', 'M', 0, 0, 4, 'o', 0, 'x', 0};
    std::vector<uint8_t> tagged = {'I', 'D', '3', 2, 0, 0, 0, 0, 0, uint8_t(frames.size())};
    tagged.insert(tagged.end(), frames.begin(), frames.end());
    tagged.insert(tagged.end(), bytes.begin() + sourceTag.Size(), bytes.end());
    testsupport::WriteBytes(source, tagged);

    TempDir out;
    ui_.FolderAnswer = out.Path().string();
    try {
        commands_->Split(EqualParts(source, "2"));
        ADD_FAILURE() << "the run ended without an error";
    } catch (const CorvellaError& error) {
        EXPECT_NE(std::string(error.what()).find("(CRM)"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(SplitCommandsTest, PartsDoNotClaimTheSourcesLength)
{
    TempDir work;
    std::string source = work.File("long.mp3");
    fs::copy_file(Fixture("cbr.mp3"), source);
    const char* addFrames = R"(
import sys, mutagen.id3 as id3
tag = id3.ID3(sys.argv[1])
tag.add(id3.TLEN(encoding=0, text=['30000']))
tag.add(id3.TXXX(encoding=0, desc='mood', text=['calm']))
tag.save(v2_version=3)
)";
    WriteText(work.File("add.py"), addFrames);
    ASSERT_EQ(testsupport::Run("/usr/bin/python3 " + Quote(work.File("add.py")) + " " + Quote(source)).exitCode, 0);

    TempDir out;
    SplitAndCheck(source, 2, out);
    const char* listFrames = "import sys, mutagen.id3 as id3; print(sorted(id3.ID3(sys.argv[1]).keys()))";
    for (int k = 1; k <= 2; ++k) {
        std::string part = out.File("long_chunk_" + std::to_string(k) + ".mp3");
        auto frames = testsupport::Run("/usr/bin/python3 -c " + Quote(listFrames) + " " + Quote(part)).output;
        EXPECT_EQ(frames.find("TLEN"), std::string::npos) << frames;
        EXPECT_NE(frames.find("TXXX:mood"), std::string::npos) << frames;
        EXPECT_NE(frames.find("APIC"), std::string::npos) << frames;
    }
    // The source itself keeps its frames.
    auto sourceFrames = testsupport::Run("/usr/bin/python3 -c " + Quote(listFrames) + " " + Quote(source)).output;
    EXPECT_NE(sourceFrames.find("TLEN"), std::string::npos) << sourceFrames;
}

TEST_F(SplitCommandsTest, SourceWithoutTagsGivesPartsNoId3v1Tag)
{
    // Decoders would count an empty tag's 128 bytes as stream.
    TempDir out;
    ui_.FolderAnswer = out.Path().string();
    commands_->Split(EqualParts(Fixture("plain.mp3"), "2"));
    for (const char* part : {"plain_chunk_1.mp3", "plain_chunk_2.mp3"})
        EXPECT_FALSE(HasId3v1(ReadBytes(out.File(part)))) << part;
}

TEST_F(SplitCommandsTest, ShortFileInManyPartsNeverWritesEmptyOrOverlappingParts)
{
    // As many parts as the stream holds pairs of frames (1152 samples at
    // 44.1 kHz each): the largest quantity that is taken.
    const int32_t length = LengthOf(Fixture("short.mp3"));
    const int count = static_cast<int>(length / (2 * 1152 * 1000.0 / 44100));
    ASSERT_GE(count, 4);
    TempDir out;
    auto parts = SplitAndCheck(Fixture("short.mp3"), count, out, true);
    EXPECT_GE(parts.size(), 1u);
    // Parts bounded in samples hold two frames each at this quantity.
    EXPECT_LE(parts.size(), static_cast<size_t>(count));
}

TEST_F(SplitCommandsTest, QuantityForPartsShorterThanTwoFramesIsRefusedBeforeTheFolder)
{
    const int32_t length = LengthOf(Fixture("short.mp3"));
    const int count = static_cast<int>(length / (2 * 1152 * 1000.0 / 44100));
    for (const std::string& quantity : {std::to_string(count + 1), std::string("99"), std::string("2147483647")}) {
        ui_.Events.clear();
        commands_->Split(EqualParts(Fixture("short.mp3"), quantity));
        EXPECT_EQ(ui_.Events, std::vector<std::string>{"message:Please specify a proper quantity of parts."})
            << quantity;
    }
}
