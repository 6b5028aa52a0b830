// The decoding side of the waveform: levels of a file decoded through the
// library, with no Qt, so that corvella-cli can measure silences with it.
#include "DecodedLevels.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "RT_BASSWMA.h"
#include "RT_bass.h"

namespace {

// A decoding stream of the library, freed on every way out.
class DecodingStream {
public:
    explicit DecodingStream(const std::string& fileName)
    {
        if (!BASS_StreamCreateFile)
            return;
        handle_ = BASS_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, BASS_STREAM_DECODE);
        if (!handle_ && BASS_WMA_StreamCreateFile)
            handle_ = BASS_WMA_StreamCreateFile(FALSE, fileName.c_str(), 0, 0, BASS_STREAM_DECODE);
    }
    ~DecodingStream()
    {
        if (handle_ && BASS_StreamFree)
            BASS_StreamFree(handle_);
    }
    DecodingStream(const DecodingStream&) = delete;
    DecodingStream& operator=(const DecodingStream&) = delete;

    HSTREAM Handle() const { return handle_; }

private:
    HSTREAM handle_ = 0;
};

constexpr DWORD kChunkBytes = 1 << 17;  // about 0.7 s of 44.1 kHz stereo
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// Below this many 16-bit samples (about 30 s of 44.1 kHz stereo) one
// decoder is quick enough; above it the two halves are decoded side by side.
constexpr QWORD kSplitFromSamples = QWORD{30} * 44100 * 2;

int ChannelsOf(HSTREAM stream)
{
    return BASS_ChannelGetFlags && (BASS_ChannelGetFlags(stream) & BASS_SAMPLE_MONO) ? 1 : 2;
}

// Decoded samples gathered into the pyramid's blocks: the highest
// magnitude and the sum of squares of every channel's samples, set as one
// block once its last sample has passed (or at the end of the stretch).
class BlockMeter {
public:
    BlockMeter(LevelPyramid& levels, int channels)
        : levels_(levels), blockValues_(static_cast<QWORD>(levels.BlockSamples()) * static_cast<QWORD>(channels))
    {
    }
    ~BlockMeter() { Flush(); }
    BlockMeter(const BlockMeter&) = delete;
    BlockMeter& operator=(const BlockMeter&) = delete;

    // count 16-bit samples, interleaved, the first being value `first` of
    // the stream (counted over all channels).
    void Add(const int16_t* samples, size_t count, QWORD first)
    {
        size_t at = 0;
        while (at < count) {
            const QWORD value = first + at;
            const auto block = static_cast<int64_t>(value / blockValues_);
            if (block != block_)
                Flush();
            block_ = block;
            const size_t end = std::min<size_t>(count, at + static_cast<size_t>((block + 1) * blockValues_ - value));
            // Plain 16-bit minima, maxima and 64-bit sums: a loop of
            // them runs on vector instructions.
            int16_t high = 0;
            int16_t low = 0;
            int64_t squares = 0;
            for (size_t i = at; i < end; ++i) {
                high = std::max(high, samples[i]);
                low = std::min(low, samples[i]);
                squares += static_cast<int32_t>(samples[i]) * samples[i];
            }
            peak_ = std::max({peak_, static_cast<int32_t>(high), -static_cast<int32_t>(low)});
            squares_ += squares;
            values_ += end - at;
            at = end;
        }
    }

private:
    void Flush()
    {
        if (values_ > 0) {
            constexpr double kFullScale = 32768.0;
            levels_.SetBlock(block_, static_cast<float>(std::min(1.0, peak_ / kFullScale)),
                             static_cast<float>(static_cast<double>(squares_) / static_cast<double>(values_) /
                                                (kFullScale * kFullScale)));
        }
        peak_ = 0;
        squares_ = 0;
        values_ = 0;
    }

    LevelPyramid& levels_;
    QWORD blockValues_;
    int64_t block_ = -1;
    int32_t peak_ = 0;
    int64_t squares_ = 0;
    QWORD values_ = 0;
};

// One stretch of the stream, decoded by a stream of its own: 16-bit
// samples (counted over all channels) from first up to end.
struct Segment {
    QWORD first = 0;
    QWORD end = 0;
    std::atomic<bool> done{false};
    bool decoded = false;
};

void DecodeSegment(const std::string& fileName, LevelPyramid& levels, Segment& segment, std::stop_token stop)
{
    DecodingStream stream(fileName);
    if (!stream.Handle()) {
        segment.done = true;
        return;
    }
    QWORD position = 0;  // the stream's next sample
    if (segment.first > 0) {
        // The library moves to the frame at or before the byte given.
        if (!BASS_ChannelSetPosition(stream.Handle(), segment.first * 2)) {
            segment.done = true;
            return;
        }
        const QWORD bytes = BASS_ChannelGetPosition(stream.Handle());
        position = bytes == static_cast<QWORD>(-1) ? segment.first : std::min(bytes / 2, segment.first);
    }
    {
        BlockMeter meter(levels, ChannelsOf(stream.Handle()));
        std::vector<int16_t> buffer(kChunkBytes / sizeof(int16_t));
        while (!stop.stop_requested() && position < segment.end) {
            const DWORD got = BASS_ChannelGetData(stream.Handle(), buffer.data(), kChunkBytes);
            if (got == static_cast<DWORD>(-1) || got == 0)
                break;
            const size_t samples = static_cast<size_t>(std::min<QWORD>(got / sizeof(int16_t), segment.end - position));
            // Samples before the stretch (the frame the seek landed in)
            // belong to the stretch before it.
            const size_t skip = static_cast<size_t>(std::min<QWORD>(samples, segment.first - std::min(segment.first, position)));
            meter.Add(buffer.data() + skip, samples - skip, position + skip);
            position += samples;
        }
    }
    segment.decoded = !stop.stop_requested();
    segment.done = true;
}

int64_t FileBytes(const std::string& fileName)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(fileName, error);
    return error ? 0 : static_cast<int64_t>(size);
}

} // namespace

std::shared_ptr<LevelPyramid> LevelsFor(const std::string& fileName)
{
    DecodingStream probe(fileName);
    if (!probe.Handle())
        return nullptr;
    const QWORD length = BASS_StreamGetLength(probe.Handle());
    const auto channels = static_cast<QWORD>(ChannelsOf(probe.Handle()));
    if (length == static_cast<QWORD>(-1) || length < 2 * channels)
        return nullptr;
    return std::make_shared<LevelPyramid>(static_cast<int64_t>(length / 2 / channels), FileBytes(fileName));
}

bool DecodeLevels(const std::string& fileName, LevelPyramid& levels, std::stop_token stop,
                  const std::function<void()>& progress)
{
    int channels = 2;
    {
        DecodingStream probe(fileName);
        if (!probe.Handle())
            return false;
        channels = ChannelsOf(probe.Handle());
    }
    const QWORD blockValues = static_cast<QWORD>(levels.BlockSamples()) * static_cast<QWORD>(channels);
    const QWORD lengthValues = static_cast<QWORD>(levels.TotalSamples()) * static_cast<QWORD>(channels);
    // Long streams are decoded in two halves side by side, each by a stream
    // of its own, split on a block's edge so that no block has two writers;
    // the calling thread only reports progress.
    Segment head;
    Segment tail;
    head.end = lengthValues;
    std::vector<Segment*> segments{&head};
    const QWORD middle = lengthValues / 2 / blockValues * blockValues;
    if (lengthValues >= kSplitFromSamples && middle > 0) {
        head.end = tail.first = middle;
        tail.end = lengthValues;
        segments.push_back(&tail);
    }
    std::mutex mutex;
    std::condition_variable finished;
    {
        std::vector<std::jthread> workers;
        for (Segment* segment : segments)
            workers.emplace_back([&, segment] {
                DecodeSegment(fileName, levels, *segment, stop);
                std::lock_guard lock(mutex);
                finished.notify_all();
            });
        const auto allDone = [&] {
            return std::all_of(segments.begin(), segments.end(), [](const Segment* s) { return s->done.load(); });
        };
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, kProgressInterval, allDone)) {
            if (progress) {
                lock.unlock();
                progress();
                lock.lock();
            }
        }
    }  // the workers are joined here
    return !stop.stop_requested() &&
           std::all_of(segments.begin(), segments.end(), [](const Segment* s) { return s->decoded; });
}

std::vector<float> ColumnPeaks(const LevelPyramid& levels, int columns, int& known)
{
    known = 0;
    if (columns < 1)
        return {};
    const std::vector<Level> levelsOfColumns =
        levels.Columns(0, columns, static_cast<double>(levels.TotalSamples()) / columns);
    std::vector<float> peaks;
    peaks.reserve(levelsOfColumns.size());
    for (const Level& level : levelsOfColumns) {
        peaks.push_back(level.Peak);
        known += level.Known() ? 1 : 0;
    }
    return peaks;
}

struct LevelDetail::Stream {
    explicit Stream(const std::string& fileName) : decoding(fileName) {}
    DecodingStream decoding;
};

LevelDetail::LevelDetail(const std::string& fileName) : stream_(std::make_unique<Stream>(fileName)) {}

LevelDetail::~LevelDetail() = default;

std::vector<Level> LevelDetail::Columns(int64_t firstColumn, int64_t count, double samplesPerColumn,
                                        std::stop_token stop)
{
    const DecodingStream& stream = stream_->decoding;
    if (count < 1 || !(samplesPerColumn > 0) || firstColumn < 0 || !stream.Handle())
        return {};
    const auto channels = static_cast<QWORD>(ChannelsOf(stream.Handle()));
    const auto firstSample = static_cast<QWORD>(static_cast<double>(firstColumn) * samplesPerColumn);
    const auto endSample = static_cast<QWORD>(std::ceil(static_cast<double>(firstColumn + count) * samplesPerColumn));
    if (!BASS_ChannelSetPosition(stream.Handle(), firstSample * channels * 2))
        return {};
    const QWORD reported = BASS_ChannelGetPosition(stream.Handle());
    QWORD position = reported == static_cast<QWORD>(-1) ? firstSample : std::min(reported / 2 / channels, firstSample);

    struct Sums {
        int32_t peak = 0;
        int64_t squares = 0;
        int64_t values = 0;
    };
    std::vector<Sums> sums(static_cast<size_t>(count));
    std::vector<int16_t> buffer(kChunkBytes / sizeof(int16_t));
    while (position < endSample) {
        if (stop.stop_requested())
            return {};
        const DWORD got = BASS_ChannelGetData(stream.Handle(), buffer.data(), kChunkBytes);
        if (got == static_cast<DWORD>(-1) || got == 0)
            break;
        const size_t frames = got / sizeof(int16_t) / channels;
        for (size_t f = 0; f < frames; ++f, ++position) {
            const auto column = static_cast<int64_t>(std::floor(static_cast<double>(position) / samplesPerColumn)) - firstColumn;
            if (column < 0 || column >= count)
                continue;
            Sums& into = sums[static_cast<size_t>(column)];
            for (QWORD c = 0; c < channels; ++c) {
                const int32_t sample = buffer[f * channels + c];
                into.peak = std::max(into.peak, sample < 0 ? -sample : sample);
                into.squares += int64_t{sample} * sample;
                ++into.values;
            }
        }
    }
    std::vector<Level> columns(sums.size());
    constexpr double kFullScale = 32768.0;
    for (size_t i = 0; i < sums.size(); ++i) {
        if (sums[i].values == 0)
            continue;
        columns[i].Peak = static_cast<float>(std::min(1.0, sums[i].peak / kFullScale));
        columns[i].Rms = static_cast<float>(
            std::sqrt(static_cast<double>(sums[i].squares) / static_cast<double>(sums[i].values)) / kFullScale);
    }
    return columns;
}

std::vector<Level> DecodeColumns(const std::string& fileName, int64_t firstColumn, int64_t count,
                                 double samplesPerColumn)
{
    return LevelDetail(fileName).Columns(firstColumn, count, samplesPerColumn);
}

std::vector<float> WindowRmsDb(const std::string& fileName, int64_t windowMs, std::stop_token stop)
{
    if (windowMs < 1)
        return {};
    QWORD lengthBytes = 0;
    QWORD bytesPerSecond = 0;
    QWORD channels = 2;
    {
        DecodingStream probe(fileName);
        if (!probe.Handle())
            return {};
        lengthBytes = BASS_StreamGetLength(probe.Handle());
        bytesPerSecond = BASS_ChannelSeconds2Bytes(probe.Handle(), 1.0);
        channels = static_cast<QWORD>(ChannelsOf(probe.Handle()));
    }
    if (lengthBytes == static_cast<QWORD>(-1) || bytesPerSecond == static_cast<QWORD>(-1) || bytesPerSecond == 0)
        return {};
    const double samplesPerSecond = static_cast<double>(bytesPerSecond) / 2.0 / static_cast<double>(channels);
    const double samplesPerWindow = samplesPerSecond * static_cast<double>(windowMs) / 1000.0;
    const double totalSamples = static_cast<double>(lengthBytes / 2 / channels);
    const auto windows = static_cast<int64_t>(std::ceil(totalSamples / samplesPerWindow));
    const std::vector<Level> levels = LevelDetail(fileName).Columns(0, windows, samplesPerWindow, stop);
    if (static_cast<int64_t>(levels.size()) != windows)
        return {};
    std::vector<float> decibels;
    decibels.reserve(levels.size());
    for (const Level& level : levels) {
        if (!level.Known())
            decibels.push_back(std::numeric_limits<float>::quiet_NaN());
        else if (level.Rms <= 0.0f)
            decibels.push_back(-std::numeric_limits<float>::infinity());
        else
            decibels.push_back(20.0f * std::log10(level.Rms));
    }
    return decibels;
}

std::vector<float> ScanEnvelope(const std::string& fileName, int columns, std::stop_token stop,
                                const EnvelopeProgress& progress)
{
    if (columns < 1)
        return {};
    const std::shared_ptr<LevelPyramid> levels = LevelsFor(fileName);
    if (!levels)
        return {};
    const auto report = [&] {
        if (!progress)
            return;
        int known = 0;
        const std::vector<float> peaks = ColumnPeaks(*levels, columns, known);
        progress(peaks, known);
    };
    if (!DecodeLevels(fileName, *levels, stop, report))
        return {};
    int known = 0;
    std::vector<float> peaks = ColumnPeaks(*levels, columns, known);
    if (progress)
        progress(peaks, known);
    return peaks;
}
