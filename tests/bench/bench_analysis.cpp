// The cost of describing an MP3 file: TMPEGaudio::Analyze on a 1-minute and
// on a 10-hour 128 kbit/s file with both tags. The analysis reads the tags
// and at most three 3458-byte blocks, so both the time and the bytes read
// (counter "bytes_read", from the kernel's count of this process's reads)
// must be the same for both lengths.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/MPEGaudio.h"
#include "support/TestSupport.h"

namespace {

// Bytes this process has read through system calls so far.
int64_t BytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    int64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

class Mp3Fixtures {
public:
    Mp3Fixtures()
    {
        oneMinute_ = dir_.File("one_minute.mp3");
        // No Info header (-t): its frame count would describe one minute
        // only once the frames are repeated.
        testsupport::MakeMp3(oneMinute_, 60.0, 44100, 2,
                             "-b 128 -t --add-id3v2 --tt Benchmark --ta Corvella --tl Analysis");
        const std::vector<uint8_t> bytes = testsupport::ReadBytes(oneMinute_);
        const size_t tagSize = 10 + (size_t(bytes[6]) << 21 | size_t(bytes[7]) << 14 | size_t(bytes[8]) << 7 | bytes[9]);
        if (bytes.size() < tagSize + 128)
            throw std::runtime_error("unexpected lame output");

        // Ten hours by repeating the frames between the two tags 600 times:
        // encoding ten hours would take far longer than the measurement.
        tenHours_ = dir_.File("ten_hours.mp3");
        std::ofstream out(tenHours_, std::ios::binary);
        auto write = [&](size_t from, size_t to) {
            out.write(reinterpret_cast<const char*>(bytes.data() + from), std::streamsize(to - from));
        };
        write(0, tagSize);
        for (int minute = 0; minute < 600; ++minute)
            write(tagSize, bytes.size() - 128);
        write(bytes.size() - 128, bytes.size());
        if (!out)
            throw std::runtime_error("cannot write the 10-hour file");
    }

    const std::string& OneMinute() const { return oneMinute_; }
    const std::string& TenHours() const { return tenHours_; }

private:
    testsupport::TempDir dir_;
    std::string oneMinute_;
    std::string tenHours_;
};

Mp3Fixtures& Fixtures()
{
    static Mp3Fixtures fixtures;
    return fixtures;
}

void BM_AnalyseMp3(benchmark::State& state, bool tenHours)
{
    const std::string& path = tenHours ? Fixtures().TenHours() : Fixtures().OneMinute();
    TMPEGaudio mpeg;
    if (!mpeg.Analyze(path) || !mpeg.Valid()) {
        state.SkipWithError("the fixture does not analyse as a valid MP3");
        return;
    }
    const double expectedSeconds = tenHours ? 36000 : 60;
    if (mpeg.Duration() < expectedSeconds * 0.99 || mpeg.Duration() > expectedSeconds * 1.01) {
        state.SkipWithError("the fixture has an unexpected length");
        return;
    }

    // Reading /proc/self/io is itself a read; take its own cost off.
    const int64_t firstLook = BytesReadSoFar();
    const int64_t lookCost = BytesReadSoFar() - firstLook;

    int64_t bytesRead = 0;
    for (auto _ : state) {
        const int64_t before = BytesReadSoFar();
        benchmark::DoNotOptimize(mpeg.Analyze(path));
        state.PauseTiming();
        bytesRead += BytesReadSoFar() - before - lookCost;
        state.ResumeTiming();
    }
    state.counters["bytes_read"] = benchmark::Counter(double(bytesRead) / double(state.iterations()));
    state.counters["file_MB"] = benchmark::Counter(double(mpeg.FileLength()) / 1e6);
    state.counters["duration_s"] = benchmark::Counter(mpeg.Duration());
}

} // namespace

BENCHMARK_CAPTURE(BM_AnalyseMp3, one_minute, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AnalyseMp3, ten_hours, true)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
