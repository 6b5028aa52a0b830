// The levels behind the waveform, for MP3 files of 1, 60 and 600 minutes
// (128 kbit/s CBR, the frames of one generated minute of noise swelling
// and fading, a sweep, a quiet tone and silence, repeated). One line per
// measure, for a script to read:
//
//   outline 60min 0.21 s   from the call until the outline of the frames'
//                          side information fills the levels (page cache warm)
//   peaks 60min 1.90 s     decoding the whole file into the levels through
//                          the audio library (two halves on two threads)
//   levels 60min 0.05 MB   memory of the levels
//   zoom 60min 0.0001 s    one zoom step: 1920 columns from the levels, the
//                          mean over zooms from the whole file to one block
//                          a column
//   detail 60min 0.01 s    1920 columns of 8 samples each in the middle of
//                          the file, decoded on demand (zooms finer than a block)
//   detailstep 60min 0.001 s  the same half a view further on, from the
//                          stream the first request opened
//   mpg123 60min 2.60 s    the mpg123 command decoding the file to /dev/null
//
// The files are made once and kept in the test fixtures' cache under the
// build tree, so reruns start at once. Run by hand on a quiet machine;
// arguments (e.g. `bench_envelope 60`) pick some of the lengths.

#include "core/GainOutline.h"
#include "playback/RT_bass.h"
#include "playback/WaveformEnvelope.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The file of `minutes` minutes, made from one encoded minute.
std::string LongMp3(int minutes)
{
    const std::string name = std::to_string(minutes) + "min.mp3";
    const std::vector<std::string> commands = {
        "sox -R -n -r 44100 -c 2 -b 16 swell.wav synth 25 pinknoise tremolo 0.3 80 gain -6",
        "sox -n -r 44100 -c 2 -b 16 sweep.wav synth 20 sine 220-880 gain -12",
        "sox -n -r 44100 -c 2 -b 16 quiet.wav synth 10 sine 440 gain -40",
        "sox -n -r 44100 -c 2 -b 16 gap.wav trim 0 5",
        "sox swell.wav sweep.wav quiet.wav gap.wav minute.wav",
        "lame --quiet -b 128 -t minute.wav minute.mp3",
        "for i in $(seq " + std::to_string(minutes) + "); do cat minute.mp3; done > " + name,
    };
    return (testsupport::CachedFixtures(commands, {name}) / name).string();
}

void BindLibrary()
{
    setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
    if (!LoadBASS(testsupport::BinFolder(), "libbass.so") || !BASS_Init(-1, 44100, 0, nullptr))
        throw std::runtime_error("the audio library could not be bound");
}

void Report(const char* measure, const std::string& length, double value, const char* unit)
{
    std::printf("%s %s %.4g %s\n", measure, length.c_str(), value, unit);
    std::fflush(stdout);
}

void MeasureOutline(const std::string& file, const std::string& length)
{
    const Clock::time_point start = Clock::now();
    const std::shared_ptr<LevelPyramid> levels = LevelsFor(file);
    if (!levels || !FillGainOutline(file, *levels))
        throw std::runtime_error("no outline for " + file);
    Report("outline", length, SecondsSince(start), "s");
}

std::shared_ptr<LevelPyramid> MeasurePeaks(const std::string& file, const std::string& length)
{
    const Clock::time_point start = Clock::now();
    std::shared_ptr<LevelPyramid> levels = LevelsFor(file);
    if (!levels || !DecodeLevels(file, *levels, std::stop_token()))
        throw std::runtime_error("cannot decode " + file);
    Report("peaks", length, SecondsSince(start), "s");
    return levels;
}

void MeasureZoom(const LevelPyramid& levels, const std::string& length)
{
    constexpr int64_t kColumns = 1920;
    double spent = 0;
    int steps = 0;
    float sink = 0;
    for (double perColumn = static_cast<double>(levels.TotalSamples()) / kColumns;
         perColumn >= static_cast<double>(levels.BlockSamples()); perColumn /= 1.25, ++steps) {
        // A view in the middle of the file, as when zooming in on a point.
        const auto first = static_cast<int64_t>(static_cast<double>(levels.TotalSamples()) / 2 / perColumn) - kColumns / 2;
        const Clock::time_point start = Clock::now();
        const std::vector<Level> columns = levels.Columns(std::max<int64_t>(first, 0), kColumns, perColumn);
        spent += SecondsSince(start);
        sink += columns[kColumns / 2].Peak;
    }
    if (sink < 0)
        std::fprintf(stderr, "unknown levels\n");
    Report("zoom", length, spent / steps, "s");
}

void MeasureDetail(const std::string& file, const LevelPyramid& levels, const std::string& length)
{
    constexpr int64_t kColumns = 1920;
    constexpr double kSamplesPerColumn = 8;
    const auto middle = static_cast<int64_t>(static_cast<double>(levels.TotalSamples()) / 2 / kSamplesPerColumn);
    LevelDetail detail(file);
    // The first view at a place, then a step of half a view beside it.
    const std::pair<const char*, int64_t> requests[] = {{"detail", middle}, {"detailstep", middle + kColumns / 2}};
    for (const auto& [measure, first] : requests) {
        const Clock::time_point start = Clock::now();
        const std::vector<Level> columns = detail.Columns(first, kColumns, kSamplesPerColumn);
        if (columns.size() != kColumns || !columns[0].Known())
            throw std::runtime_error("no detail for " + file);
        Report(measure, length, SecondsSince(start), "s");
    }
}

void MeasureMpg123(const std::string& file, const std::string& length)
{
    const Clock::time_point start = Clock::now();
    if (testsupport::Run("mpg123 -q -s " + testsupport::Quote(file) + " > /dev/null").exitCode != 0)
        throw std::runtime_error("mpg123 failed on " + file);
    Report("mpg123", length, SecondsSince(start), "s");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> lengths = {1, 60, 600};
    if (argc > 1)
        lengths.assign(argc - 1, 0);
    for (int i = 1; i < argc; ++i)
        lengths[static_cast<size_t>(i - 1)] = std::atoi(argv[i]);
    try {
        BindLibrary();
        for (const int minutes : lengths) {
            const std::string file = LongMp3(minutes);
            const std::string length = std::to_string(minutes) + "min";
            // The outline is timed with the file in the page cache, as it is
            // when the player has just opened it.
            MeasureMpg123(file, length);
            MeasureOutline(file, length);
            const std::shared_ptr<LevelPyramid> levels = MeasurePeaks(file, length);
            Report("levels", length, static_cast<double>(levels->MemoryBytes()) / 1e6, "MB");
            MeasureZoom(*levels, length);
            MeasureDetail(file, *levels, length);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_envelope: %s\n", error.what());
        return 1;
    }
    return 0;
}
