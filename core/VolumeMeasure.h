// VolumeMeasure: levels of a file's decoded audio that decide a volume
// change: the peak of a stretch (a gain that would clip is refused), and
// loudness after EBU R 128 (libebur128) for ReplayGain. Decodes through the
// bound audio library (see DecodedSamples.h); any thread, one call at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The highest magnitude (full scale 1.0) of the samples decoded between
// startMs and endMs; nullopt when the file cannot be decoded.
std::optional<double> DecodedPeak(const std::string& path, int64_t startMs, int64_t endMs);

struct LoudnessMeter;  // libebur128's state, kept for the album's figure

struct Loudness {
    double IntegratedLufs = 0;
    double TruePeak = 0;  // full scale 1.0, oversampled
    std::shared_ptr<LoudnessMeter> Meter;
};

std::optional<Loudness> MeasureLoudness(const std::string& path);
// The loudness of several files together; nullopt without any.
std::optional<Loudness> AlbumLoudness(const std::vector<Loudness>& tracks);

// ReplayGain 2.0's reference: -18 LUFS.
constexpr double kReplayGainReferenceLufs = -18.0;
