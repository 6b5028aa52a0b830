// Audio library costs: opening a file stream of a 1-minute and a 10-hour
// MP3 (opening must not depend on the length), and the CPU time the library
// uses to play one minute of a 128 kbit/s MP3 on the silent real-time
// output (decoding, mixing and the output thread together, measured as the
// process's CPU time while the main thread only waits for the end sync).

#include "bass.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

class Mp3Fixtures {
public:
    Mp3Fixtures() {
        oneMinute_ = dir_.File("one_minute.mp3");
        testsupport::MakeMp3(oneMinute_, 60.0, 44100, 2, "-b 128");
        // Ten hours by repeating the frames of a one-minute CBR file that
        // has no Info header (which would claim one minute): encoding ten
        // hours would take longer than the whole benchmark.
        const std::string block = dir_.File("block.mp3");
        testsupport::MakeMp3(block, 60.0, 44100, 2, "-b 128 -t");
        const std::vector<uint8_t> frames = testsupport::ReadBytes(block);
        tenHours_ = dir_.File("ten_hours.mp3");
        std::ofstream out(tenHours_, std::ios::binary);
        for (int minute = 0; minute < 600; ++minute)
            out.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
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

Mp3Fixtures& Fixtures() {
    static Mp3Fixtures fixtures;
    return fixtures;
}

struct SilentLibrary {
    SilentLibrary() {
        setenv(BASS_SILENT_OUTPUT_ENV, "1", 1);
        if (!BASS_Init(-1, 44100, 0, nullptr))
            throw std::runtime_error("BASS_Init failed");
    }
    ~SilentLibrary() { BASS_Free(); }
    SilentLibrary(const SilentLibrary&) = delete;
    SilentLibrary& operator=(const SilentLibrary&) = delete;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_StreamCreateFile(benchmark::State& state, bool tenHours) {
    const std::string& path = tenHours ? Fixtures().TenHours() : Fixtures().OneMinute();
    SilentLibrary library;
    double lengthSeconds = 0;
    for (auto _ : state) {
        const HSTREAM handle = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
        if (handle == 0) {
            state.SkipWithError("BASS_StreamCreateFile failed");
            break;
        }
        lengthSeconds = BASS_ChannelBytes2Seconds(handle, BASS_StreamGetLength(handle));
        BASS_StreamFree(handle);
    }
    state.counters["length_s"] = lengthSeconds;
}
BENCHMARK_CAPTURE(BM_StreamCreateFile, one_minute_mp3, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_StreamCreateFile, ten_hour_mp3, true)->Unit(benchmark::kMicrosecond);

struct EndSignal {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    static void Callback(HSYNC, DWORD, DWORD, void* user) {
        auto* self = static_cast<EndSignal*>(user);
        {
            std::lock_guard lock(self->mutex);
            self->done = true;
        }
        self->ended.notify_all();
    }
};

// Reported time is CPU seconds (manual time), not wall-clock time.
void BM_PlayOneMinuteCpu(benchmark::State& state) {
    const std::string& path = Fixtures().OneMinute();
    SilentLibrary library;
    double cpu = 0;
    for (auto _ : state) {
        const HSTREAM handle = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
        EndSignal end;
        BASS_ChannelSetSync(handle, BASS_SYNC_END, 0, &EndSignal::Callback, &end);
        const double before = ProcessCpuSeconds();
        BASS_StreamPlay(handle, FALSE, 0);
        {
            std::unique_lock lock(end.mutex);
            if (!end.ended.wait_for(lock, std::chrono::minutes(5), [&] { return end.done; })) {
                state.SkipWithError("the stream did not end");
                break;
            }
        }
        cpu = ProcessCpuSeconds() - before;
        state.SetIterationTime(cpu);
        BASS_StreamFree(handle);
    }
    state.counters["cpu_percent_of_realtime"] = cpu / 60.0 * 100.0;
}
BENCHMARK(BM_PlayOneMinuteCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
