#include "WaveformScale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

void WaveformScale::SetStream(int64_t totalSamples, uint32_t sampleRate)
{
    totalSamples_ = std::max<int64_t>(totalSamples, 1);
    sampleRate_ = std::max<uint32_t>(sampleRate, 1);
    Fit();
}

void WaveformScale::SetWidth(int pixels)
{
    width_ = std::max(pixels, 1);
    if (fitted_)
        Fit();
    else
        ScrollTo(firstColumn_);
}

double WaveformScale::FitSamplesPerPixel() const
{
    return std::max(static_cast<double>(totalSamples_) / width_, kFinestSamplesPerPixel);
}

int64_t WaveformScale::Columns() const
{
    return static_cast<int64_t>(std::ceil(static_cast<double>(totalSamples_) / samplesPerPixel_));
}

int64_t WaveformScale::LastFirstColumn() const { return std::max<int64_t>(Columns() - width_, 0); }

int64_t WaveformScale::MsAt(double x) const
{
    const double sample = std::clamp(SampleAt(x), 0.0, static_cast<double>(totalSamples_));
    return static_cast<int64_t>(std::floor(sample * 1000.0 / sampleRate_));
}

double WaveformScale::XOfMs(double ms) const { return XOfSample(ms * sampleRate_ / 1000.0); }

void WaveformScale::SetSamplesPerPixel(double samplesPerPixel)
{
    const double fit = FitSamplesPerPixel();
    samplesPerPixel_ = std::clamp(samplesPerPixel, kFinestSamplesPerPixel, fit);
    fitted_ = samplesPerPixel_ >= fit;
}

void WaveformScale::ZoomBy(double factor, double anchorX)
{
    if (!(factor > 0))
        return;
    const double anchorSample = SampleAt(anchorX);
    SetSamplesPerPixel(samplesPerPixel_ / factor);
    ScrollTo(static_cast<int64_t>(std::llround(anchorSample / samplesPerPixel_ - anchorX)));
}

void WaveformScale::ZoomToMs(int64_t fromMs, int64_t toMs)
{
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    const double from = fromMs * static_cast<double>(sampleRate_) / 1000.0;
    const double to = toMs * static_cast<double>(sampleRate_) / 1000.0;
    // A twentieth of the width on each side shows what lies around the ends.
    const double room = width_ > 20 ? width_ * 0.9 : width_;
    SetSamplesPerPixel(std::max(to - from, 1.0) / room);
    ScrollTo(static_cast<int64_t>(std::llround(from / samplesPerPixel_ - (width_ - room) / 2)));
}

void WaveformScale::Fit()
{
    SetSamplesPerPixel(FitSamplesPerPixel());
    firstColumn_ = 0;
}

void WaveformScale::ScrollTo(int64_t firstColumn) { firstColumn_ = std::clamp<int64_t>(firstColumn, 0, LastFirstColumn()); }

void WaveformScale::Follow(int64_t ms)
{
    const double x = XOfMs(static_cast<double>(ms));
    if (x >= 0 && x < width_)
        return;
    ScrollTo(firstColumn_ + static_cast<int64_t>(std::floor(x)) - width_ / 10);
}

namespace {

// Steps in ms: 1-2-5 up to ten seconds, then the round ones of a clock.
constexpr std::array<int64_t, 25> kSteps = {
    1,     2,     5,      10,     20,     50,     100,     200,     500,     1000,     2000,     5000,    10000,
    15000, 30000, 60000, 120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 18000000, 36000000};

std::string Label(int64_t ms, int64_t step)
{
    const int decimals = step % 1000 == 0 ? 0 : step % 100 == 0 ? 1 : step % 10 == 0 ? 2 : 3;
    const int64_t seconds = ms / 1000;
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    std::string label = text;
    if (decimals > 0) {
        std::snprintf(text, sizeof text, ".%03lld", static_cast<long long>(ms % 1000));
        label += std::string(text).substr(0, 1 + decimals);
    }
    return label;
}

} // namespace

std::vector<RulerTick> RulerTicks(const WaveformScale& scale, int minSpacing)
{
    const double pixelsPerMs = scale.SampleRate() / 1000.0 / scale.SamplesPerPixel();
    int64_t step = kSteps.back();
    for (int64_t candidate : kSteps) {
        if (candidate * pixelsPerMs >= minSpacing) {
            step = candidate;
            break;
        }
    }
    std::vector<RulerTick> ticks;
    // The first millisecond that begins inside the view, not the one under its edge.
    const int64_t firstMs =
        static_cast<int64_t>(std::ceil(std::max(scale.SampleAt(0), 0.0) * 1000.0 / scale.SampleRate()));
    const int64_t lastMs = scale.MsAt(scale.Width());
    for (int64_t ms = (firstMs + step - 1) / step * step; ms <= lastMs; ms += step)
        ticks.push_back({ms, scale.XOfMs(static_cast<double>(ms)), Label(ms, step)});
    return ticks;
}

double LevelHeight(float level, bool decibels)
{
    if (!(level > 0))
        return 0;
    if (!decibels)
        return std::min<double>(level, 1.0);
    return std::clamp(1.0 + 20.0 * std::log10(static_cast<double>(level)) / -kFloorDb, 0.0, 1.0);
}
