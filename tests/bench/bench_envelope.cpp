// The waveform envelope of a 60-minute 128 kbit/s MP3: wall-clock time from
// the start of the scan until every column is known, decoding through the
// audio library as the window does (600 columns; the scan decodes the two
// halves on two threads). The counter cpu_s is the process's CPU time per
// scan, all threads together.
// The file repeats the frames of a one-minute CBR encoding: encoding an hour
// would take longer than the benchmark.

#include "playback/RT_bass.h"
#include "playback/WaveformEnvelope.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <stop_token>

namespace {

class HourLongMp3 {
public:
    HourLongMp3()
    {
        const std::string block = dir_.File("block.mp3");
        testsupport::MakeMp3(block, 60.0, 44100, 2, "-b 128 -t");
        const std::vector<uint8_t> frames = testsupport::ReadBytes(block);
        path_ = dir_.File("one_hour.mp3");
        std::ofstream out(path_, std::ios::binary);
        for (int minute = 0; minute < 60; ++minute)
            out.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
        if (!out)
            throw std::runtime_error("cannot write the hour-long file");
    }
    const std::string& Path() const { return path_; }

private:
    testsupport::TempDir dir_;
    std::string path_;
};

void BindLibrary()
{
    static const bool bound = [] {
        setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
        return LoadBASS(testsupport::BinFolder(), "libbass.so") && BASS_Init(-1, 44100, 0, nullptr);
    }();
    if (!bound)
        throw std::runtime_error("the audio library could not be bound");
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_EnvelopeOfAnHourLongMp3(benchmark::State& state)
{
    BindLibrary();
    static const HourLongMp3 file;
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        const std::vector<float> peaks = ScanEnvelope(file.Path(), 600, std::stop_token());
        if (peaks.size() != 600)
            state.SkipWithError("the envelope was not computed");
        benchmark::DoNotOptimize(peaks.data());
    }
    state.counters["cpu_s"] = (ProcessCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EnvelopeOfAnHourLongMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
