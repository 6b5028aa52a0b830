// WaveformScale: how a waveform view `Width()` pixels wide shows a stream:
// how many samples (per channel) a pixel column covers, which column of
// the whole stream is leftmost, the ruler's ticks and labels at that zoom,
// and how tall a level is drawn.
//
// Column c covers samples [c x SamplesPerPixel, (c + 1) x SamplesPerPixel),
// as LevelPyramid::Columns counts them, so a view reads its levels with
// Columns(FirstColumn(), Width(), SamplesPerPixel()). Zoom runs from the
// whole stream in the width down to kFinestSamplesPerPixel (a sample
// several pixels wide); scrolling moves by whole columns. Times are
// milliseconds of the stream, rounded down from samples. Plain C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class WaveformScale {
public:
    static constexpr double kFinestSamplesPerPixel = 1.0 / 16;

    // Fits the whole stream into the width.
    void SetStream(int64_t totalSamples, uint32_t sampleRate);
    // Keeps the zoom, or fits the new width when the stream was fitted.
    void SetWidth(int pixels);

    int Width() const { return width_; }
    uint32_t SampleRate() const { return sampleRate_; }
    int64_t TotalSamples() const { return totalSamples_; }
    double SamplesPerPixel() const { return samplesPerPixel_; }
    int64_t FirstColumn() const { return firstColumn_; }
    // Columns of the whole stream at this zoom, and the most the first can be.
    int64_t Columns() const;
    int64_t LastFirstColumn() const;
    bool Fitted() const { return fitted_; }

    double SampleAt(double x) const { return (static_cast<double>(firstColumn_) + x) * samplesPerPixel_; }
    double XOfSample(double sample) const { return sample / samplesPerPixel_ - static_cast<double>(firstColumn_); }
    // The millisecond under pixel x (its left edge), within the stream.
    int64_t MsAt(double x) const;
    double XOfMs(double ms) const;

    // factor > 1 zooms in; the sample under anchorX stays under it.
    void ZoomBy(double factor, double anchorX);
    // Shows fromMs .. toMs across the width (with a little room at both ends).
    void ZoomToMs(int64_t fromMs, int64_t toMs);
    void Fit();
    void ScrollTo(int64_t firstColumn);
    // Turns a page when ms lies outside the view, so that it shows near the left.
    void Follow(int64_t ms);

private:
    void SetSamplesPerPixel(double samplesPerPixel);
    double FitSamplesPerPixel() const;

    int64_t totalSamples_ = 1;
    uint32_t sampleRate_ = 44100;
    int width_ = 1;
    double samplesPerPixel_ = 1;
    int64_t firstColumn_ = 0;
    bool fitted_ = true;
};

struct RulerTick {
    int64_t Ms = 0;
    double X = 0;
    std::string Label;
};
// The ticks inside the view, at least minSpacing pixels apart, on a step
// of 1, 2 or 5 units (ms, s), or a round number of minutes and hours, each
// labelled with as many decimals as the step needs to tell ticks apart.
std::vector<RulerTick> RulerTicks(const WaveformScale& scale, int minSpacing);

// How much of half the waveform's height a level (linear, 1.0 full scale)
// takes, 0..1: on a dB scale down to kFloorDb, where silence is 0, or linear.
constexpr double kFloorDb = -60.0;
double LevelHeight(float level, bool decibels);
