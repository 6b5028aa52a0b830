#include "WaveformEnvelope.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// Which column a 16-bit sample of the stream (counted over all channels)
// belongs to: columns are equal shares of the stream's length.
struct ColumnMap {
    QWORD lengthSamples;
    int columns;

    int ColumnOf(QWORD sample) const
    {
        return static_cast<int>(
            std::min<QWORD>(sample * static_cast<QWORD>(columns) / lengthSamples, static_cast<QWORD>(columns - 1)));
    }
    QWORD FirstSampleOf(int column) const
    {
        return (static_cast<QWORD>(column) * lengthSamples + static_cast<QWORD>(columns) - 1) /
               static_cast<QWORD>(columns);
    }
};

// Peak magnitude per column, raised by the decoding threads.
class PeakTable {
public:
    explicit PeakTable(int columns) : peaks_(static_cast<size_t>(columns)) {}
    void Raise(int column, int32_t value)
    {
        std::atomic<int32_t>& peak = peaks_[static_cast<size_t>(column)];
        int32_t current = peak.load(std::memory_order_relaxed);
        while (current < value && !peak.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
        }
    }
    float Scaled(int column) const
    {
        return std::min(1.0f, static_cast<float>(peaks_[static_cast<size_t>(column)].load(std::memory_order_relaxed)) /
                                  32768.0f);
    }

private:
    std::vector<std::atomic<int32_t>> peaks_;
};

// One stretch of the stream, decoded by a stream of its own: samples from
// first up to end (the stream's end when end is the length).
struct Segment {
    QWORD first = 0;
    QWORD end = 0;
    std::atomic<QWORD> reached{0};  // the next sample to decode
    std::atomic<bool> done{false};
    bool decoded = false;
};

void ScanSegment(const std::string& fileName, const ColumnMap& map, Segment& segment, PeakTable& table,
                 std::stop_token stop)
{
    segment.reached = segment.first;
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
        position = bytes == static_cast<QWORD>(-1) ? segment.first : bytes / 2;
    }
    std::vector<int16_t> buffer(kChunkBytes / sizeof(int16_t));
    while (!stop.stop_requested() && position < segment.end) {
        const DWORD got = BASS_ChannelGetData(stream.Handle(), buffer.data(), kChunkBytes);
        if (got == static_cast<DWORD>(-1) || got == 0)
            break;
        const size_t samples = static_cast<size_t>(std::min<QWORD>(got / sizeof(int16_t), segment.end - position));
        size_t at = 0;
        while (at < samples) {
            const int column = map.ColumnOf(position + at);
            // The samples up to the next column's first sample share a column.
            size_t end = samples;
            if (column + 1 < map.columns) {
                const QWORD next = map.FirstSampleOf(column + 1);
                end = next > position + at ? std::min<size_t>(samples, at + (next - position - at)) : at + 1;
            }
            // The highest and the lowest sample, kept apart: a loop of
            // plain 16-bit minima and maxima runs on vector instructions.
            int16_t high = 0;
            int16_t low = 0;
            for (size_t i = at; i < end; ++i) {
                high = std::max(high, buffer[i]);
                low = std::min(low, buffer[i]);
            }
            table.Raise(column, std::max(static_cast<int32_t>(high), -static_cast<int32_t>(low)));
            at = end;
        }
        position += samples;
        segment.reached = position;
    }
    segment.decoded = !stop.stop_requested();
    segment.done = true;
}

// The peaks so far; columns no segment has reached yet are -1.
std::vector<float> Snapshot(const ColumnMap& map, const PeakTable& table, const std::vector<Segment*>& segments,
                            int& known)
{
    std::vector<float> peaks(static_cast<size_t>(map.columns), -1.0f);
    known = 0;
    for (const Segment* segment : segments) {
        const QWORD reached = segment->done ? segment->end : segment->reached.load();
        if (reached <= segment->first)
            continue;
        const int from = map.ColumnOf(segment->first);
        const int to = segment->done ? map.columns - 1 : map.ColumnOf(reached - 1);
        for (int column = from; column <= to && column < map.columns; ++column) {
            if (peaks[static_cast<size_t>(column)] < 0)
                ++known;
            peaks[static_cast<size_t>(column)] = table.Scaled(column);
        }
    }
    return peaks;
}

} // namespace

std::vector<float> ScanEnvelope(const std::string& fileName, int columns, std::stop_token stop,
                                const EnvelopeProgress& progress)
{
    if (columns < 1)
        return {};
    QWORD length = 0;
    {
        DecodingStream probe(fileName);
        if (!probe.Handle())
            return {};
        length = BASS_StreamGetLength(probe.Handle());
    }
    if (length == static_cast<QWORD>(-1) || length < 2)
        return {};
    const ColumnMap map{length / 2, columns};
    PeakTable table(columns);

    // Long streams are decoded in two halves side by side, each by a stream
    // of its own; the calling thread only reports what they have found.
    Segment head;
    Segment tail;
    head.end = map.lengthSamples;
    std::vector<Segment*> segments{&head};
    if (map.lengthSamples >= kSplitFromSamples) {
        head.end = tail.first = map.lengthSamples / 2;
        tail.end = map.lengthSamples;
        segments.push_back(&tail);
    }
    std::mutex mutex;
    std::condition_variable finished;
    {
        std::vector<std::jthread> workers;
        for (Segment* segment : segments)
            workers.emplace_back([&, segment] {
                ScanSegment(fileName, map, *segment, table, stop);
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
                int known = 0;
                const std::vector<float> peaks = Snapshot(map, table, segments, known);
                progress(peaks, known);
                lock.lock();
            }
        }
    }  // the workers are joined here
    if (stop.stop_requested() || !std::all_of(segments.begin(), segments.end(), [](const Segment* s) { return s->decoded; }))
        return {};
    int known = 0;
    std::vector<float> peaks = Snapshot(map, table, segments, known);
    if (progress)
        progress(peaks, known);
    return peaks;
}

struct WaveformEnvelope::Scan {
    std::jthread thread;
};

WaveformEnvelope::WaveformEnvelope(QObject* parent) : QObject(parent) {}

WaveformEnvelope::~WaveformEnvelope() { Cancel(); }

void WaveformEnvelope::Cancel()
{
    ++generation_;
    running_ = false;
    // jthread's destructor asks the scan to stop and joins it; the scan
    // looks at its stop token once per decoded chunk.
    scan_.reset();
}

void WaveformEnvelope::Start(const std::string& fileName, int columns)
{
    Cancel();
    const unsigned generation = generation_;
    running_ = true;
    // Results cross to the main thread as queued calls on this object (the
    // destructor joins the thread before the object goes); a call from an
    // abandoned scan finds a newer generation there and is dropped.
    scan_ = std::make_unique<Scan>();
    scan_->thread = std::jthread([this, fileName, columns, generation](std::stop_token stop) {
        const auto progress = [&](const std::vector<float>& peaks, int filled) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, list = QList<float>(peaks.begin(), peaks.end()), filled] {
                    if (generation == generation_)
                        emit envelopeChanged(list, filled);
                },
                Qt::QueuedConnection);
        };
        const bool decoded = !ScanEnvelope(fileName, columns, stop, progress).empty();
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, generation, decoded] {
                if (generation != generation_)
                    return;
                running_ = false;
                emit envelopeFinished(decoded);
            },
            Qt::QueuedConnection);
    });
}
