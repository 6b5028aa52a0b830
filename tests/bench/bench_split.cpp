// Splitting is a byte copy, so it should cost about what copying the file
// costs. A 60-minute MP3 with an ID3v2 tag holding a 300 KB picture and an
// ID3v1 tag is split into 10 parts (tags and a header frame on every part)
// and copied with cp, alternately in the same run; the counter "ratio" is
// the split's time over cp's. The counter "ratio_to_ten_copies" compares with the kernel writing the
// same bytes into ten files. The first argument picks the source (0: 128
// kbit/s, 1: lame -V2 with a Xing header), the second the gapless parts.
// The sources are made once and kept in /tmp/corvella-bench-split between
// runs (the variable-rate hour takes a minute or two to encode).
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <unistd.h>

#include "analysis/ID3v1.h"
#include "analysis/ID3v2.h"
#include "core/AudioFrames.h"
#include "core/FrameIndex.h"
#include "core/SplitCommands.h"
#include "files/BinaryFile.h"
#include "playback/BASSPlayer.h"
#include "support/TestSupport.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class QuietUi : public SplitUi {
public:
    void ShowMessage(const std::string&, const std::string& text, MessageIcon) override { last = text; }
    std::optional<std::string> AskOpenFileName() override { return std::nullopt; }
    std::optional<std::string> AskSaveFileName(const std::string&) override { return std::nullopt; }
    bool ExecuteFolderPicker(std::string& path) override
    {
        path = folder;
        return true;
    }
    void SetProgressVisible(bool) override {}
    void SetProgress(int) override {}
    void ProcessMessages() override { QCoreApplication::processEvents(); }
    void StopPlayerTimer() override {}

    std::string folder;
    std::string last;
};

const char* const kTagger = R"(
import os, sys, mutagen.id3 as id3
tag = id3.ID3()
tag.add(id3.TIT2(encoding=0, text='An Hour of Tone'))
tag.add(id3.TPE1(encoding=0, text='The Benchmarks'))
tag.add(id3.TALB(encoding=0, text='Speed'))
tag.add(id3.TRCK(encoding=0, text='1'))
tag.add(id3.APIC(encoding=0, mime='image/jpeg', type=3, desc='', data=b'\xff\xd8\xff\xe0' + os.urandom(300 * 1024)))
tag.save(sys.argv[1], v1=2, v2_version=3)
)";

const char* const kCacheFolder = "/tmp/corvella-bench-split";

void Tag(const std::string& file)
{
    std::string script = std::string(kCacheFolder) + "/tag.py";
    WriteText(script, kTagger);
    auto tagged = Run("/usr/bin/python3 " + Quote(script) + " " + Quote(file));
    if (tagged.exitCode != 0)
        throw std::runtime_error("tagging failed: " + tagged.output);
}

// One minute from lame repeated 60 times, without a header frame.
std::string MakeConstantRateHour()
{
    std::string hour = std::string(kCacheFolder) + "/hour-cbr.mp3";
    if (fs::exists(hour))
        return hour;
    std::string minute = std::string(kCacheFolder) + "/minute.mp3";
    MakeMp3(minute, 60, 44100, 2, "-b 128 -t");
    auto frames = ReadBytes(minute);
    std::string partial = hour + ".partial";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    for (int i = 0; i < 60; ++i)
        std::fwrite(frames.data(), 1, frames.size(), out);
    std::fclose(out);
    Tag(partial);
    fs::rename(partial, hour);
    return hour;
}

// An hour that changes from quiet tones to loud noise every minute,
// encoded by lame -V2 in one go, so that its Xing header describes it.
std::string MakeVariableRateHour()
{
    std::string hour = std::string(kCacheFolder) + "/hour-vbr.mp3";
    if (fs::exists(hour))
        return hour;
    std::string quiet = std::string(kCacheFolder) + "/quiet.wav";
    std::string loud = std::string(kCacheFolder) + "/loud.wav";
    std::string wav = std::string(kCacheFolder) + "/hour.wav";
    auto run = [](const std::string& command) {
        if (Run(command).exitCode != 0)
            throw std::runtime_error("failed: " + command);
    };
    run("sox -R -n -r 44100 -c 2 -b 16 " + Quote(quiet) + " synth 30 sine 300 sine 500 vol 0.05");
    run("sox -R -n -r 44100 -c 2 -b 16 " + Quote(loud) + " synth 30 pinknoise vol 0.6");
    std::string inputs;
    for (int i = 0; i < 60; ++i)
        inputs += " " + Quote(quiet) + " " + Quote(loud);
    run("sox" + inputs + " " + Quote(wav));
    std::string partial = hour + ".partial";
    run("lame --quiet -V2 " + Quote(wav) + " " + Quote(partial));
    fs::remove(wav);
    Tag(partial);
    fs::rename(partial, hour);
    return hour;
}

const std::string& SourceFile(bool variable = false)
{
    static bool made = fs::create_directories(kCacheFolder) || true;
    (void)made;
    static std::string constant = MakeConstantRateHour();
    if (!variable)
        return constant;
    static std::string variableHour = MakeVariableRateHour();
    return variableHour;
}

// Copies source into ten files of folder, in equal byte ranges, the way
// cp copies one: by copy_file_range.
void CopyIntoTenFiles(const std::string& source, const fs::path& folder)
{
    fs::create_directories(folder);
    BinaryFile from;
    if (!from.Open(source, BinaryFile::Mode::Read))
        throw std::runtime_error("cannot open " + source);
    int64_t size = from.Size();
    for (int i = 0; i < 10; ++i) {
        BinaryFile to;
        if (!to.Open((folder / std::to_string(i)).string(), BinaryFile::Mode::CreateTruncate))
            throw std::runtime_error("cannot create a copy");
        loff_t at = size * i / 10;
        const loff_t end = size * (i + 1) / 10;
        while (at < end) {
            ssize_t copied = ::copy_file_range(from.Descriptor(), &at, to.Descriptor(), nullptr,
                                               static_cast<size_t>(end - at), 0);
            if (copied <= 0)
                throw std::runtime_error("copy_file_range failed");
        }
    }
}

double Seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The player posts its end events to a Qt event loop, which needs an
// application object before the player is made.
void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "bench_split";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

// A player without its library cannot measure anything.
bool PlayerIsReady(const TBASSPlayer& player, benchmark::State& state)
{
    if (player.PlayerReady())
        return true;
    state.SkipWithError("the audio library is not beside the benchmark");
    return false;
}

void BM_SplitTenPartsVersusCp(benchmark::State& state)
{
    EnsureApplication();
    const std::string& source = SourceFile(state.range(0) != 0);
    QuietUi ui;
    TBASSPlayer player(nullptr, &ui, BinFolder());
    if (!PlayerIsReady(player, state))
        return;
    TID3v1 id3v1;
    TID3v2 id3v2;
    player.Open(source);
    SplitRequest request;
    request.FileText = source;
    request.SectionMode = false;
    request.PartText = "10";
    request.LengthMs = static_cast<int32_t>(player.PlayLength());
    player.Close();

    TempDir out;
    double splitSeconds = 0;
    double copySeconds = 0;
    double copyFlushSeconds = 0;
    double tenCopiesSeconds = 0;
    bool splitFirst = true;
    for (auto _ : state) {
        fs::path parts = out.Path() / "parts";
        fs::create_directory(parts);
        ui.folder = parts.string();
        // A new command object each time, so that nothing one split learnt
        // of the source makes the next one cheaper than a first split.
        auto commands = std::make_unique<TSplitCommands>(player, id3v1, id3v2, ui);
        commands->SetGapless(state.range(1) != 0);
        auto timeSplit = [&] {
            auto begin = std::chrono::steady_clock::now();
            commands->Split(request);
            return Seconds(std::chrono::steady_clock::now() - begin);
        };
        // Parts under new names are not flushed before they get them (a
        // crash can leave no old file to lose), and cp does not flush
        // either; the copy is timed with a flush as well, for reference.
        double flush = 0;
        auto timeCopy = [&] {
            auto begin = std::chrono::steady_clock::now();
            Run("cp " + Quote(source) + " " + Quote(out.File("copy.mp3")));
            double copied = Seconds(std::chrono::steady_clock::now() - begin);
            Run("sync " + Quote(out.File("copy.mp3")));
            flush = Seconds(std::chrono::steady_clock::now() - begin) - copied;
            return copied;
        };
        // What the kernel alone takes to write the same bytes into ten new
        // files (copy_file_range, equal byte ranges, no tags): writing ten
        // files costs more than writing one, whoever does it.
        auto timeTenCopies = [&] {
            auto begin = std::chrono::steady_clock::now();
            CopyIntoTenFiles(source, out.Path() / "ten");
            return Seconds(std::chrono::steady_clock::now() - begin);
        };
        tenCopiesSeconds += timeTenCopies();
        fs::remove_all(out.Path() / "ten");
        // Alternate which goes first, so that neither always meets the
        // other's dirty pages still being written back.
        double split = 0;
        double copy = 0;
        if (splitFirst) {
            split = timeSplit();
            copy = timeCopy();
        } else {
            copy = timeCopy();
            split = timeSplit();
        }
        splitFirst = !splitFirst;
        if (ui.last != "Splitting MP3 is completed.") {
            state.SkipWithError("the split failed");
            return;
        }
        state.SetIterationTime(split);
        splitSeconds += split;
        copySeconds += copy;
        copyFlushSeconds += copy + flush;
        state.PauseTiming();
        fs::remove_all(parts);
        fs::remove(out.File("copy.mp3"));
        state.ResumeTiming();
    }
    state.counters["split_s"] = splitSeconds / static_cast<double>(state.iterations());
    state.counters["cp_s"] = copySeconds / static_cast<double>(state.iterations());
    state.counters["ratio"] = copySeconds > 0 ? splitSeconds / copySeconds : 0;
    state.counters["ratio_to_ten_copies"] = tenCopiesSeconds > 0 ? splitSeconds / tenCopiesSeconds : 0;
    state.counters["ratio_to_cp_sync"] = copyFlushSeconds > 0 ? splitSeconds / copyFlushSeconds : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(fs::file_size(source)));
}
BENCHMARK(BM_SplitTenPartsVersusCp)
    ->ArgNames({"vbr", "gapless"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// What each part pays for measuring the stream through the player.
void BM_PlayerMeasuresSource(benchmark::State& state)
{
    EnsureApplication();
    const std::string& source = SourceFile();
    QuietUi ui;
    TBASSPlayer player(nullptr, &ui, BinFolder());
    if (!PlayerIsReady(player, state))
        return;
    for (auto _ : state) {
        player.Open(source);
        benchmark::DoNotOptimize(player.PlayLength());
        benchmark::DoNotOptimize(player.StreamInfo().BitRate);
        player.Close();
    }
}
BENCHMARK(BM_PlayerMeasuresSource)->Unit(benchmark::kMillisecond);

// Opens the source and finds its audio; skips the benchmark when it cannot.
std::optional<AudioSpan> OpenSourceAudio(BinaryFile& file, benchmark::State& state)
{
    const std::string& source = SourceFile();
    TID3v1 id3v1;
    TID3v2 id3v2;
    id3v1.ReadTag(source);
    id3v2.ReadTag(source);
    if (!file.Open(source, BinaryFile::Mode::Read)) {
        state.SkipWithError("the source does not open");
        return std::nullopt;
    }
    auto span = LocateAudio(file, file.Size(), id3v2.Size(), id3v1.Exists());
    if (!span)
        state.SkipWithError("no audio in the source");
    return span;
}

// What walking every frame of the source from time 0 costs, by the size of
// the read window in KB.
void BM_WalkWholeSource(benchmark::State& state)
{
    BinaryFile file;
    auto span = OpenSourceAudio(file, state);
    if (!span)
        return;
    size_t windowSize = static_cast<size_t>(state.range(0)) * 1024;
    for (auto _ : state) {
        TFrameWalker walker(file, *span, windowSize);
        benchmark::DoNotOptimize(walker.AdvanceTo(span->AudioEnd));
    }
}
BENCHMARK(BM_WalkWholeSource)->Arg(16)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

// How long a split of a source without a frame count waits for the count:
// the index's two walks, from the middle and from time 0.
void BM_CountFramesWithIndex(benchmark::State& state)
{
    BinaryFile file;
    auto span = OpenSourceAudio(file, state);
    if (!span)
        return;
    for (auto _ : state) {
        TFrameIndex index(file, *span, state.range(0) ? TFrameIndex::kTwoWalksFrom : TFrameIndex::kOneWalk);
        benchmark::DoNotOptimize(index.FrameCount());
    }
}
BENCHMARK(BM_CountFramesWithIndex)->ArgName("two_walks")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
