// The waveform's scale: what a pixel stands for at every zoom, the ruler's
// labels, and the height of a level on the dB scale.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "playback/WaveformScale.h"

namespace {

struct Stream {
    const char* name;
    int64_t samples;
    uint32_t rate;
    int width;
};

constexpr Stream kStreams[] = {
    {"a second at 8 kHz", 8000, 8000, 640},
    {"a minute at 44.1 kHz", 44100LL * 60, 44100, 653},
    {"ten hours at 48 kHz", 48000LL * 36000, 48000, 1200},
};

// From the whole stream down to the finest zoom, halving each step.
template <class Visit>
void EveryZoom(WaveformScale& scale, Visit visit)
{
    scale.Fit();
    for (int step = 0; step < 64; ++step) {
        visit();
        const double before = scale.SamplesPerPixel();
        scale.ZoomBy(2.0, scale.Width() * 0.3);
        if (scale.SamplesPerPixel() == before)
            break;
    }
}

} // namespace

TEST(WaveformScale, ZoomKeepsTheTimeUnderThePointerAndReachesSamples)
{
    for (const Stream& stream : kStreams) {
        SCOPED_TRACE(stream.name);
        WaveformScale scale;
        scale.SetWidth(stream.width);
        scale.SetStream(stream.samples, stream.rate);
        EXPECT_TRUE(scale.Fitted());
        EXPECT_NEAR(scale.SamplesPerPixel() * stream.width, static_cast<double>(stream.samples), 1.0);
        // Out to the middle of the stream, then in around a pixel there.
        scale.ZoomBy(1 << 20, stream.width / 2.0);
        scale.Fit();
        scale.ZoomBy(4, stream.width / 2.0);
        const double anchor = stream.width * 0.3;
        int steps = 0;
        while (scale.SamplesPerPixel() > WaveformScale::kFinestSamplesPerPixel && steps++ < 64) {
            const double sample = scale.SampleAt(anchor);
            scale.ZoomBy(2.0, anchor);
            // The first column moves by whole columns: within one of them.
            EXPECT_NEAR(scale.SampleAt(anchor), sample, scale.SamplesPerPixel() * 1.01);
        }
        EXPECT_LE(scale.SamplesPerPixel(), 1.0 / 8);  // a sample is several pixels wide
        EXPECT_LE(scale.FirstColumn(), scale.LastFirstColumn());
        // The millisecond under a pixel begins at most a millisecond's pixels before it.
        for (int x : {0, 1, stream.width / 2, stream.width - 1}) {
            const int64_t ms = scale.MsAt(x);
            EXPECT_LE(std::abs(scale.XOfMs(static_cast<double>(ms)) - x), stream.rate / 1000.0 / scale.SamplesPerPixel() + 1);
        }
    }
}

TEST(WaveformScale, RulerLabelsAreApartAndTellTheirTicksApart)
{
    for (const Stream& stream : kStreams) {
        SCOPED_TRACE(stream.name);
        WaveformScale scale;
        scale.SetWidth(stream.width);
        scale.SetStream(stream.samples, stream.rate);
        // The ruler of the stream's middle at every zoom.
        EveryZoom(scale, [&] {
            const std::vector<RulerTick> ticks = RulerTicks(scale, 80);
            SCOPED_TRACE(scale.SamplesPerPixel());
            // Steps grow at most 2.5 times, so a label comes every 200
            // pixels, unless 80 pixels are less than a millisecond.
            if (scale.SamplesPerPixel() * 80 >= stream.rate / 1000.0) {
                EXPECT_GE(ticks.size(), static_cast<size_t>(stream.width / 200 - 1));
            }
            std::set<std::string> labels;
            for (size_t i = 0; i < ticks.size(); ++i) {
                EXPECT_TRUE(labels.insert(ticks[i].Label).second) << ticks[i].Label;
                EXPECT_GE(ticks[i].X, -0.5);
                EXPECT_LE(ticks[i].X, stream.width + 0.5);
                if (i > 0) {
                    EXPECT_GE(ticks[i].X - ticks[i - 1].X, 80 - 1e-6);
                }
            }
        });
    }
}

TEST(WaveformScale, QuietAndSilentAreToldApartOnTheDecibelScale)
{
    const auto at = [](double db) { return static_cast<float>(std::pow(10.0, db / 20.0)); };
    struct Row {
        double quieter;
        double louder;
        bool decibels;
        double apart;  // of the half height at least
    };
    const Row rows[] = {
        {-300, -40, true, 0.3},  // silence and -40 dB
        {-40, -20, true, 0.3},   // -40 dB and -20 dB
        {-20, 0, true, 0.3},
        {-40, -20, false, 0.08}, // linear: -20 dB still shows
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.quieter);
        EXPECT_GE(LevelHeight(at(row.louder), row.decibels) - LevelHeight(at(row.quieter), row.decibels), row.apart);
    }
    EXPECT_EQ(LevelHeight(0.0f, true), 0.0);
    EXPECT_EQ(LevelHeight(-1.0f, true), 0.0);  // unknown
    EXPECT_EQ(LevelHeight(1.0f, true), 1.0);
    EXPECT_EQ(LevelHeight(1.0f, false), 1.0);
}
