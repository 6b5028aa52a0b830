#include "WaveformEnvelope.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdint>
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

} // namespace

std::vector<float> ScanEnvelope(const std::string& fileName, int columns, std::stop_token stop,
                                const EnvelopeProgress& progress)
{
    if (columns < 1)
        return {};
    DecodingStream stream(fileName);
    if (!stream.Handle())
        return {};
    const QWORD length = BASS_StreamGetLength(stream.Handle());
    if (length == static_cast<QWORD>(-1) || length == 0)
        return {};

    // Peaks are gathered as whole sample magnitudes and scaled once at the end.
    std::vector<int32_t> magnitudes(static_cast<size_t>(columns), 0);
    std::vector<int16_t> buffer(kChunkBytes / sizeof(int16_t));
    const auto scaled = [&] {
        std::vector<float> peaks(magnitudes.size());
        std::transform(magnitudes.begin(), magnitudes.end(), peaks.begin(),
                       [](int32_t m) { return std::min(1.0f, static_cast<float>(m) / 32768.0f); });
        return peaks;
    };
    const auto columnOf = [&](QWORD byte) {
        return static_cast<int>(std::min<QWORD>(byte / 2 * static_cast<QWORD>(columns) / (length / 2),
                                                static_cast<QWORD>(columns - 1)));
    };
    QWORD position = 0;  // bytes decoded so far
    auto lastReport = std::chrono::steady_clock::now();
    for (;;) {
        if (stop.stop_requested())
            return {};
        const DWORD got = BASS_ChannelGetData(stream.Handle(), buffer.data(), kChunkBytes);
        if (got == static_cast<DWORD>(-1) || got == 0)
            break;
        const size_t samples = got / sizeof(int16_t);
        size_t at = 0;
        while (at < samples) {
            const int column = columnOf(position + at * 2);
            // The samples up to the next column's first sample share a column.
            size_t end = samples;
            if (column + 1 < columns) {
                const QWORD lengthSamples = length / 2;
                const QWORD nextSample = (static_cast<QWORD>(column + 1) * lengthSamples + columns - 1) / columns;
                const QWORD here = position / 2 + at;
                end = nextSample > here ? std::min<size_t>(samples, at + (nextSample - here)) : at + 1;
            }
            // The highest and the lowest sample, kept apart: a loop of
            // plain 16-bit minima and maxima runs on vector instructions.
            int16_t high = 0;
            int16_t low = 0;
            for (size_t i = at; i < end; ++i) {
                high = std::max(high, buffer[i]);
                low = std::min(low, buffer[i]);
            }
            int32_t& peak = magnitudes[static_cast<size_t>(column)];
            peak = std::max({peak, static_cast<int32_t>(high), -static_cast<int32_t>(low)});
            at = end;
        }
        position += got;
        const auto now = std::chrono::steady_clock::now();
        if (progress && now - lastReport >= kProgressInterval) {
            lastReport = now;
            progress(scaled(), columnOf(position));
        }
    }
    std::vector<float> peaks = scaled();
    if (progress)
        progress(peaks, columns);
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
