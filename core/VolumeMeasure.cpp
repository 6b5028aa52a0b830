#include "VolumeMeasure.h"

#include <algorithm>
#include <cstdlib>

#include <ebur128.h>

#include "playback/DecodedSamples.h"

struct LoudnessMeter {
    struct Free {
        void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
    };
    std::unique_ptr<ebur128_state, Free> State;
};

std::optional<double> DecodedPeak(const std::string& path, int64_t startMs, int64_t endMs)
{
    SampleFormat format;
    int peak = 0;
    const bool decoded = DecodeSamples(path, format, [&](const int16_t* samples, size_t count, int64_t first) {
        const int64_t from = startMs * format.SampleRate / 1000;
        const int64_t to = endMs * format.SampleRate / 1000;
        const int64_t frames = static_cast<int64_t>(count) / format.Channels;
        const int64_t begin = std::clamp<int64_t>(from - first, 0, frames);
        const int64_t end = std::clamp<int64_t>(to - first, 0, frames);
        for (int64_t i = begin * format.Channels; i < end * format.Channels; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    });
    if (!decoded)
        return std::nullopt;
    return peak / 32768.0;
}

std::optional<Loudness> MeasureLoudness(const std::string& path)
{
    SampleFormat format;
    auto meter = std::make_shared<LoudnessMeter>();
    bool failed = false;
    const bool decoded = DecodeSamples(path, format, [&](const int16_t* samples, size_t count, int64_t) {
        if (!meter->State) {
            meter->State.reset(ebur128_init(static_cast<unsigned>(format.Channels), format.SampleRate,
                                            EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
            failed = !meter->State;
        }
        if (!failed)
            failed = ebur128_add_frames_short(meter->State.get(), samples, count / static_cast<size_t>(format.Channels)) !=
                     EBUR128_SUCCESS;
    });
    if (!decoded || failed || !meter->State)
        return std::nullopt;
    Loudness loudness;
    loudness.Meter = meter;
    if (ebur128_loudness_global(meter->State.get(), &loudness.IntegratedLufs) != EBUR128_SUCCESS)
        return std::nullopt;
    for (unsigned channel = 0; channel < static_cast<unsigned>(format.Channels); ++channel) {
        double peak = 0;
        if (ebur128_true_peak(meter->State.get(), channel, &peak) == EBUR128_SUCCESS)
            loudness.TruePeak = std::max(loudness.TruePeak, peak);
    }
    return loudness;
}

std::optional<Loudness> AlbumLoudness(const std::vector<Loudness>& tracks)
{
    std::vector<ebur128_state*> states;
    Loudness album;
    for (const Loudness& track : tracks) {
        states.push_back(track.Meter->State.get());
        album.TruePeak = std::max(album.TruePeak, track.TruePeak);
    }
    if (states.empty() ||
        ebur128_loudness_global_multiple(states.data(), states.size(), &album.IntegratedLufs) != EBUR128_SUCCESS)
        return std::nullopt;
    return album;
}
