// corvella-cli gain, fade, loudness and undo on files lame made, checked by
// decoding them with ffmpeg and by mp3val.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <cstring>
#include <filesystem>
#include <regex>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "analysis/ID3v2.h"
#include "core/AudioFrames.h"
#include "files/FileCalls.h"
#include "files/InPlaceWrite.h"
#include "files/BinaryFile.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::string Cli(const std::string& arguments)
{
    return BinFolder() + "corvella-cli " + arguments;
}

// The file as ffmpeg decodes it, 32-bit float so that nothing clips.
std::vector<float> Decode(const std::string& path)
{
    const std::string raw = path + ".f32";
    const CommandResult decoded = Run("ffmpeg -v error -y -i " + Quote(path) + " -f f32le " + Quote(raw));
    EXPECT_EQ(decoded.exitCode, 0) << decoded.output;
    const std::vector<uint8_t> bytes = ReadBytes(raw);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    fs::remove(raw);
    return samples;
}

// What mp3val and ffmpeg find wrong with a file; empty for none.
std::string Complaints(const std::string& path)
{
    std::string found;
    const CommandResult mp3val = Run("mp3val " + Quote(path));
    for (const char* kind : {"WARNING", "ERROR"})
        if (mp3val.output.find(kind) != std::string::npos)
            found += mp3val.output;
    found += Run("ffmpeg -v error -i " + Quote(path) + " -map 0:a -f null - 2>&1").output;
    return found;
}

// Whether the LAME header's music CRC covers the audio as it is; a file
// without one passes.
bool MusicCrcHolds(const std::string& path)
{
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read))
        return false;
    const std::optional<AudioSpan> span = LocateAudio(file, file.Size());
    if (!span || !span->SourceHeader || !span->SourceHeader->HasLame)
        return true;
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return LameTagCrc(bytes.data() + span->TimeZero, static_cast<size_t>(span->AudioEnd - span->TimeZero)) ==
           span->SourceHeader->Fields.MusicCrc;
}

double Rms(const std::vector<float>& samples, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += double{samples[i]} * samples[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

class VolumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"lame", "sox", "ffmpeg", "mp3val"})
            if (!HaveTool(tool))
                GTEST_SKIP() << "missing tool: " << tool;
    }
    TempDir work_;
};

} // namespace

// Every gain is exact: the decoded result is the decoded source times
// 2^(k/4), the frames stay valid (CRCs included), and undo gives the very
// bytes back.
TEST_F(VolumeTest, GainScalesTheDecodedAudioExactlyAndUndoRestoresTheBytes)
{
    struct Source {
        const char* Name;
        int Rate;
        int Channels;
        const char* Lame;
    };
    const Source sources[] = {
        {"mpeg1-cbr-stereo", 44100, 2, "-b 128"},
        {"mpeg1-vbr-mono", 44100, 1, "-V 2"},
        {"mpeg2-cbr-mono-crc", 22050, 1, "-b 48 -p"},
        {"mpeg2-vbr-stereo", 24000, 2, "-V 4"},
        {"mpeg1-joint-crc", 48000, 2, "-b 192 -m j -p"},
    };
    for (const Source& source : sources) {
        const std::string original = work_.File(std::string(source.Name) + ".mp3");
        MakeMp3(original, 4, source.Rate, source.Channels, source.Lame);
        ASSERT_TRUE(MusicCrcHolds(original));
        const std::vector<float> before = Decode(original);
        for (const double db : {-6.0, -1.5, 1.5, 6.0}) {
            SCOPED_TRACE(std::string(source.Name) + " " + std::to_string(db) + " dB");
            const std::string file = work_.File("gained.mp3");
            fs::copy_file(original, file, fs::copy_options::overwrite_existing);
            const CommandResult gain = testsupport::Run(Cli("gain " + Quote(file) + " " + std::to_string(db) + " --force"));
            ASSERT_EQ(gain.exitCode, 0) << gain.output;
            EXPECT_EQ(Complaints(file), "");
            EXPECT_TRUE(MusicCrcHolds(file));
            const std::vector<float> after = Decode(file);
            ASSERT_EQ(after.size(), before.size());
            const double factor = std::pow(2.0, db / 1.5 / 4.0);  // 2^(k/4), k steps of 1.5 dB
            double error = 0;
            double signal = 0;
            for (size_t i = 0; i < before.size(); ++i) {
                const double expected = before[i] * factor;
                error += (after[i] - expected) * (after[i] - expected);
                signal += expected * expected;
            }
            const double relative = std::sqrt(error / signal);
            char figure[32];
            std::snprintf(figure, sizeof figure, "%.2e", relative);
            RecordProperty(std::string(source.Name) + "_" + std::to_string(db), figure);
            EXPECT_LT(relative, 1e-5);  // float rounding of the decoder: about 4e-7
            const CommandResult undo = testsupport::Run(Cli("undo " + Quote(file)));
            ASSERT_EQ(undo.exitCode, 0) << undo.output;
            EXPECT_EQ(ReadBytes(file), ReadBytes(original));
        }
    }
}

TEST_F(VolumeTest, AGainThatWouldClipIsRefusedUnlessForced)
{
    const std::string file = work_.File("loud.mp3");
    MakeMp3(file, 2);  // peaks near -6 dB of full scale
    const std::vector<uint8_t> before = ReadBytes(file);
    const CommandResult refused = testsupport::Run(Cli("gain " + Quote(file) + " 9 2>&1"));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("would clip"), std::string::npos) << refused.output;
    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(testsupport::Run(Cli("gain " + Quote(file) + " 4.5")).exitCode, 0);
    EXPECT_EQ(testsupport::Run(Cli("gain " + Quote(file) + " 9 --force")).exitCode, 0);
}

// A fade steps the level monotonically over its span, from near the floor
// to the level the audio had, and leaves the rest alone.
TEST_F(VolumeTest, FadesStepTheLevelMonotonically)
{
    const std::string original = work_.File("tone.mp3");
    MakeMp3(original, 6, 44100, 2);
    const std::vector<float> source = Decode(original);
    for (const char* curve : {"db", "cosine"}) {
        SCOPED_TRACE(curve);
        const std::string file = work_.File("faded.mp3");
        fs::copy_file(original, file, fs::copy_options::overwrite_existing);
        const CommandResult fade =
            testsupport::Run(Cli("fade " + Quote(file) + " --in 2 --out 00:02.000 --floor -60 --curve " + curve));
        ASSERT_EQ(fade.exitCode, 0) << fade.output;
        EXPECT_EQ(Complaints(file), "");
        const std::vector<float> faded = Decode(file);
        ASSERT_EQ(faded.size(), source.size());
        constexpr size_t kWindow = 2 * 1152;  // two granules of both channels
        const size_t second = 2 * 44100;
        std::vector<double> levels;
        for (size_t at = 0; at + kWindow <= faded.size(); at += kWindow)
            levels.push_back(20 * std::log10(Rms(faded, at, at + kWindow) + 1e-12));
        const size_t fadeWindows = 2 * second / kWindow;
        for (size_t i = 1; i < fadeWindows; ++i) {
            EXPECT_GE(levels[i], levels[i - 1] - 0.3) << "fade in, window " << i;
            EXPECT_LE(levels[levels.size() - i], levels[levels.size() - i - 1] + 0.3) << "fade out, window " << i;
        }
        const double full = 20 * std::log10(Rms(source, 3 * second - kWindow, 3 * second));
        EXPECT_LT(levels.front(), full - 40);
        EXPECT_LT(levels.back(), full - 40);
        EXPECT_NEAR(20 * std::log10(Rms(faded, 3 * second - kWindow, 3 * second)), full, 0.01);
    }
}

// Loudness applied lands within 0.8 dB of -18 LUFS by ffmpeg's own meter,
// and ReplayGain tags say what to change by.
TEST_F(VolumeTest, LoudnessIsAppliedAndTagged)
{
    const auto ffmpegLoudness = [](const std::string& path) {
        const CommandResult measured =
            testsupport::Run("ffmpeg -nostats -i " + Quote(path) + " -filter_complex ebur128 -f null - 2>&1");
        std::smatch match;
        const std::regex integrated(R"(I:\s+(-?[0-9.]+) LUFS)");
        std::string::const_iterator from = measured.output.cbegin();
        double last = 0;
        while (std::regex_search(from, measured.output.cend(), match, integrated)) {
            last = std::stod(match[1]);
            from = match.suffix().first;
        }
        return last;
    };
    const std::string quiet = work_.File("quiet.mp3");
    const std::string loud = work_.File("loud.mp3");
    MakeMp3(quiet, 5, 44100, 2, "-b 128 --scale 0.1");
    MakeMp3(loud, 5, 44100, 1, "-b 96 --scale 0.8");
    const std::vector<uint8_t> quietBytes = ReadBytes(quiet);
    const CommandResult applied = testsupport::Run(Cli("loudness --apply " + Quote(quiet) + " " + Quote(loud)));
    ASSERT_EQ(applied.exitCode, 0) << applied.output;
    for (const std::string& file : {quiet, loud}) {
        EXPECT_NEAR(ffmpegLoudness(file), -18.0, 0.8) << file;
        const CommandResult ours = testsupport::Run(Cli("loudness " + Quote(file)));
        std::smatch lufs;
        ASSERT_TRUE(std::regex_search(ours.output, lufs, std::regex(R"(: (-?[0-9.]+) LUFS)"))) << ours.output;
        EXPECT_NEAR(std::stod(lufs[1]), -18.0, 0.8) << file;
        EXPECT_EQ(Complaints(file), "");
    }
    ASSERT_EQ(testsupport::Run(Cli("undo " + Quote(quiet))).exitCode, 0);
    EXPECT_EQ(ReadBytes(quiet), quietBytes);

    const CommandResult tagged = testsupport::Run(Cli("loudness --tag --album " + Quote(quiet) + " " + Quote(loud)));
    ASSERT_EQ(tagged.exitCode, 0) << tagged.output;
    const double measured = ffmpegLoudness(quiet);
    const CommandResult tags = testsupport::Run("ffprobe -v error -show_entries format_tags -of default=nw=1 " + Quote(quiet));
    std::smatch gain;
    ASSERT_TRUE(std::regex_search(tags.output, gain, std::regex(R"(REPLAYGAIN_TRACK_GAIN=(-?[0-9.]+) dB)")))
        << tags.output;
    EXPECT_NEAR(std::stod(gain[1]), -18.0 - measured, 0.2);
    if (HaveTool("loudgain")) {
        // loudgain's line: file, loudness, range, true peak, its dBTP, reference, clip flags, track gain.
        const CommandResult peer = testsupport::Run("loudgain -q -O " + Quote(quiet) + " 2>/dev/null");
        std::smatch peerGain;
        ASSERT_TRUE(std::regex_search(peer.output, peerGain, std::regex(R"(\tN\t[NY]\t(-?[0-9.]+) dB)"))) << peer.output;
        EXPECT_NEAR(std::stod(gain[1]), std::stod(peerGain[1]), 0.1);
    }
    EXPECT_NE(tags.output.find("REPLAYGAIN_ALBUM_GAIN="), std::string::npos) << tags.output;
    EXPECT_NE(tags.output.find("REPLAYGAIN_TRACK_PEAK="), std::string::npos) << tags.output;
    EXPECT_EQ(Complaints(quiet), "");
}

// Changes stack up and are taken back one by one, each undo giving back the
// bytes the file had before that change, whatever tag the file has; an undo
// over audio changed since by other means is refused.
TEST_F(VolumeTest, UndoTakesBackEachChangeByteForByteWhateverTheTag)
{
    if (testsupport::Run("/usr/bin/python3 -c 'import mutagen'").exitCode != 0)
        GTEST_SKIP() << "missing mutagen";
    struct Tagging {
        const char* Name;
        const char* Python;  // run with the file's path as sys.argv[1]
    };
    const Tagging taggings[] = {
        {"none", ""},
        {"v2.4 padded",
         "from mutagen.id3 import ID3, TIT2; t = ID3(); t.add(TIT2(encoding=3, text='Title')); t.save(f)"},
        {"v2.3 unpadded, picture, ID3v1",
         "from mutagen.id3 import ID3, TIT2, APIC; t = ID3(); t.add(TIT2(encoding=1, text='T\u00eftle'));"
         "import base64; t.add(APIC(encoding=0, mime='image/png', type=3, desc='cover', data=base64.b64decode("
         "'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==')));"
         "t.save(f, v1=2, v2_version=3, padding=lambda info: 0)"},
    };
    const std::string original = work_.File("song.mp3");
    MakeMp3(original, 3);
    for (const Tagging& tagging : taggings) {
        SCOPED_TRACE(tagging.Name);
        const std::string file = work_.File("tagged.mp3");
        fs::copy_file(original, file, fs::copy_options::overwrite_existing);
        if (*tagging.Python) {
            const std::string script = std::string("import sys; f = sys.argv[1]; ") + tagging.Python;
            ASSERT_EQ(testsupport::Run("/usr/bin/python3 -c " + Quote(script) + " " + Quote(file)).exitCode, 0);
        }
        std::vector<std::vector<uint8_t>> states{ReadBytes(file)};
        for (const char* change : {"gain FILE -3", "fade FILE --in 1 --curve cosine", "gain FILE 1.5 --start 1 --end 2",
                                   "gain FILE -1.5"}) {
            const std::string command = std::regex_replace(change, std::regex("FILE"), Quote(file));
            const CommandResult changed = testsupport::Run(Cli(command));
            ASSERT_EQ(changed.exitCode, 0) << command << ": " << changed.output;
            EXPECT_EQ(Complaints(file), "") << command;
            EXPECT_TRUE(MusicCrcHolds(file)) << command;
            states.push_back(ReadBytes(file));
        }
        while (states.size() > 1) {
            states.pop_back();
            const CommandResult undo = testsupport::Run(Cli("undo " + Quote(file)));
            ASSERT_EQ(undo.exitCode, 0) << undo.output;
            EXPECT_EQ(ReadBytes(file), states.back()) << "after undoing down to " << states.size() - 1 << " changes";
        }
        EXPECT_EQ(testsupport::Run(Cli("undo " + Quote(file))).exitCode, 1);
    }

    // The gain of the first audio frame's first granule moved behind the
    // change's back (its side information starts right behind the header).
    const std::string file = work_.File("changed.mp3");
    fs::copy_file(original, file, fs::copy_options::overwrite_existing);
    ASSERT_EQ(testsupport::Run(Cli("gain " + Quote(file) + " -3")).exitCode, 0);
    // A part cut from it is other audio, which the record does not describe.
    const std::string part = work_.File("part.mp3");
    ASSERT_EQ(testsupport::Run(Cli("cut " + Quote(file) + " 00:00.500 00:02.000 " + Quote(part))).exitCode, 0);
    const std::string partText = ReadText(part);
    EXPECT_EQ(partText.find("CORVELLA_VOLUME_UNDO"), std::string::npos);
    EXPECT_NE(ReadText(file).find("CORVELLA_VOLUME_UNDO"), std::string::npos);
    std::vector<uint8_t> bytes = ReadBytes(file);
    BinaryFile opened;
    ASSERT_TRUE(opened.Open(file, BinaryFile::Mode::Read));
    const std::optional<AudioSpan> span = LocateAudio(opened, opened.Size());
    ASSERT_TRUE(span);
    bytes[static_cast<size_t>(span->TimeZero) + 4 + 3] ^= 0x10;  // inside part2_3_length .. global_gain
    WriteBytes(file, bytes);
    const CommandResult refused = testsupport::Run(Cli("undo " + Quote(file) + " 2>&1"));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("changed"), std::string::npos) << refused.output;
    EXPECT_EQ(ReadBytes(file), bytes);
}

// A tag write killed in place, its journal left beside the file, is
// completed before the volume changes: the rewrite would otherwise copy the
// file as the kill left it and leave a journal that no longer fits.
TEST_F(VolumeTest, ATagWriteCutOffInPlaceIsCompletedFirst)
{
    const std::string file = work_.File("song.mp3");
    MakeMp3(file, 2);
    TID3v2 padded;
    padded.ReadTag(file);
    padded.SetTitle("Old");
    ASSERT_TRUE(padded.WriteTag(file)) << padded.WriteError();  // a new tag, with padding for the next
    const std::vector<uint8_t> before = ReadBytes(file);
    const pid_t child = ::fork();
    if (child == 0) {
        SystemFileCalls().pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
            ::raise(SIGKILL);
            return -1;
        };
        TID3v2 tag;
        tag.ReadTag(file);
        tag.SetTitle("New");
        tag.WriteTag(file);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the tag write did not go in place";
    ASSERT_TRUE(fs::exists(JournalPathOf(file)));
    ASSERT_EQ(ReadBytes(file), before);

    const CommandResult gain = testsupport::Run(Cli("gain " + Quote(file) + " -3"));
    ASSERT_EQ(gain.exitCode, 0) << gain.output;
    EXPECT_FALSE(fs::exists(JournalPathOf(file)));
    TID3v2 read;
    ASSERT_TRUE(read.ReadTag(file));
    EXPECT_EQ(read.Title(), "New");
    ASSERT_EQ(testsupport::Run(Cli("undo " + Quote(file))).exitCode, 0);
    EXPECT_TRUE(read.ReadTag(file));
    EXPECT_EQ(read.Title(), "New");
    EXPECT_EQ(ReadBytes(file).size(), before.size());
}
