#include "core/SplitPoints.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/TestSupport.h"

namespace {

struct Range {
    int64_t StartMs;
    int64_t EndMs;
    bool operator==(const Range&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Range& range)
{
    return out << '[' << range.StartMs << ", " << range.EndMs << ')';
}

std::vector<Range> Ranges(const std::vector<SplitPart>& parts)
{
    std::vector<Range> ranges;
    for (const SplitPart& part : parts)
        ranges.push_back({part.StartMs, part.EndMs});
    return ranges;
}

std::vector<std::string> Titles(const std::vector<SplitPart>& parts)
{
    std::vector<std::string> titles;
    for (const SplitPart& part : parts)
        titles.push_back(part.Title);
    return titles;
}

} // namespace

TEST(SplitTimes, ReadOnlyTimesBothTimeParsersAgreeOn)
{
    const std::vector<std::pair<std::string, int64_t>> read = {
        {"10:00.000", 600000}, {" 01:30.250\t", 90250}, {"100:00.000", 6000000}, {"10:00", 600000}, {"0:00.001", 1}};
    for (const auto& [text, ms] : read) {
        ParseResult<int64_t> time = ParseSplitTime(text);
        ASSERT_TRUE(time) << text << ": " << time.Error;
        EXPECT_EQ(*time.Value, ms) << text;
    }
    // "1:30" is 60030 ms to one parser and 90 s to the other.
    for (const char* text : {"1:30", "00:01.5", "-1:00.000", "", "abc", "600", "10:00.000x", "1:2:3"})
        EXPECT_EQ(ParseSplitTime(text).Error, "'" + std::string(text) + "' is not a time MM:SS.mmm") << text;
}

TEST(SplitTimes, EveryPeriodTilesTheStreamAndTheLastPartHoldsTheRest)
{
    struct Case {
        int64_t LengthMs;
        int64_t PeriodMs;
        std::vector<Range> Parts;
    };
    const std::vector<Case> cases = {
        {1800000, 600000, {{0, 600000}, {600000, 1200000}, {1200000, 1800000}}},
        {1800300, 600000, {{0, 600000}, {600000, 1200000}, {1200000, 1800000}, {1800000, 1800300}}},
        // 200 ms left: too short a part for the cutter, it joins the one before.
        {1800200, 600000, {{0, 600000}, {600000, 1200000}, {1200000, 1800200}}},
        {100, 600000, {{0, 100}}},
        {100, 0, {{0, 100}}},
        {600, 1, {{0, 288}, {288, 600}}},
        {0, 600000, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Ranges(EveryParts(c.LengthMs, c.PeriodMs)), c.Parts) << c.LengthMs << " every " << c.PeriodMs;
}

TEST(SplitTimes, TimeListsGivePartsFromEachStartAndRefuseWhatCannotBeCut)
{
    struct Case {
        std::string List;
        std::vector<Range> Parts;
        std::string Error;
    };
    const int64_t length = 180000;
    const std::vector<Case> cases = {
        {"00:00.000,01:00.000,02:30.500", {{0, 60000}, {60000, 150500}, {150500, 180000}}, ""},
        {"01:00.000, 02:00.000", {{0, 60000}, {60000, 120000}, {120000, 180000}}, ""},
        {"00:00.200,01:00.000", {{0, 60000}, {60000, 180000}}, ""},
        {"01:00.000,00:30.000", {}, "time 2: 00:30.000 is not after the time before it (01:00.000)"},
        {"01:00.000,01:00.000", {}, "time 2: 01:00.000 is not after the time before it (01:00.000)"},
        {"03:00.000", {}, "time 1: 03:00.000 is not before the end (03:00.000)"},
        {"01:00.000,,02:00.000", {}, "time 2: '' is not a time MM:SS.mmm"},
        {"1:30", {}, "time 1: '1:30' is not a time MM:SS.mmm"},
    };
    for (const Case& c : cases) {
        auto parts = TimeListParts(c.List, length);
        EXPECT_EQ(parts.Error, c.Error) << c.List;
        if (c.Error.empty() && parts) {
            EXPECT_EQ(Ranges(*parts.Value), c.Parts) << c.List;
        }
    }

    // A list file: titles after the time, comments and blank lines skipped
    // but counted, CRLF, a byte-order mark and Latin-1 titles.
    const std::string file = "\xEF\xBB\xBF# set list\r\n00:00.000 Intro\r\n\r\n  01:00.000\tCaf\xE9 song  \r\n"
                             "# break\r\n02:00.000\r\n";
    auto listed = TimeListFileParts(file, length);
    ASSERT_TRUE(listed) << listed.Error;
    EXPECT_EQ(Ranges(*listed.Value), (std::vector<Range>{{0, 60000}, {60000, 120000}, {120000, 180000}}));
    EXPECT_EQ(Titles(*listed.Value), (std::vector<std::string>{"Intro", "Caf\xC3\xA9 song", ""}));
    EXPECT_EQ(TimeListFileParts("# a\n\n00:10.000 A\n00:05.000 B\n", length).Error,
              "line 4: 00:05.000 is not after the time before it (00:10.000)");
    EXPECT_EQ(TimeListFileParts("# a\r\n00:1O.000 A\r\n", length).Error, "line 2: '00:1O.000' is not a time MM:SS.mmm");
    EXPECT_EQ(TimeListFileParts("# only a comment\n", length).Error, "line 1: the list holds no time");
}

TEST(SplitTimes, CueTracksBecomeTitledPartsThatTileTheFile)
{
    auto sheet = ParseCueSheet("PERFORMER \"Band\"\nFILE a.mp3 MP3\nTRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:02:00\n"
                               "TRACK 02 AUDIO\nTITLE \"Two\"\nPERFORMER \"Guest\"\nINDEX 01 01:00:00\n"
                               "TRACK 03 AUDIO\nINDEX 01 02:00:00\n");
    ASSERT_TRUE(sheet) << sheet.Error;
    auto parts = CueParts(*sheet.Value, 180000);
    ASSERT_TRUE(parts) << parts.Error;
    // The two seconds before track 1 (a hidden track, or silence) are a part of their own.
    EXPECT_EQ(Ranges(*parts.Value), (std::vector<Range>{{0, 2000}, {2000, 60000}, {60000, 120000}, {120000, 180000}}));
    EXPECT_EQ(Titles(*parts.Value), (std::vector<std::string>{"", "One", "Two", ""}));
    EXPECT_EQ((*parts.Value)[1].Performer, "Band");
    EXPECT_EQ((*parts.Value)[2].Performer, "Guest");
    EXPECT_EQ(CueParts(*sheet.Value, 120000).Error,
              "line 10: track 3 starts at 02:00.000, not before the end of the file (02:00.000)");
}

namespace {

struct Stretch {
    int64_t Ms;
    float Db;
};

constexpr float kSound = -20.0f;
constexpr float kSilent = -70.0f;
constexpr int64_t kWindowMs = 10;

std::vector<float> Levels(const std::vector<Stretch>& stretches)
{
    std::vector<float> levels;
    for (const Stretch& stretch : stretches)
        levels.insert(levels.end(), static_cast<size_t>(stretch.Ms / kWindowMs), stretch.Db);
    return levels;
}

// Silences at the edges (600 and 800 ms, never cut in), one too short to
// count (400 ms), two that count (1000 ms at 7000, 2000 ms at 13500), and a
// quiet stretch at -45 dB, which counts only under a higher threshold.
const std::vector<Stretch> kProgramme = {{600, kSilent}, {3000, kSound}, {400, kSilent}, {3000, kSound},
                                         {1000, kSilent}, {3000, kSound}, {1500, -45.0f}, {1000, kSound},
                                         {2000, kSilent}, {6000, kSound}, {800, kSilent}};
constexpr int64_t kProgrammeMs = 22300;

} // namespace

TEST(SilenceSplit, CutsEveryLongEnoughSilenceAndNowhereElse)
{
    const std::vector<float> levels = Levels(kProgramme);
    auto options = [](auto change) {
        SilenceOptions chosen;
        chosen.ThresholdDb = -48;
        chosen.MinSilenceMs = 500;
        change(chosen);
        return chosen;
    };
    struct Case {
        const char* What;
        SilenceOptions Options;
        std::vector<int64_t> Cuts;
    };
    const std::vector<Case> cases = {
        {"in the middle", options([](SilenceOptions&) {}), {7500, 14500}},
        {"at the end", options([](SilenceOptions& o) { o.CutAtEnd = true; }), {8000, 15500}},
        {"higher threshold", options([](SilenceOptions& o) { o.ThresholdDb = -40; }), {7500, 11750, 14500}},
        {"longer minimum silence", options([](SilenceOptions& o) { o.MinSilenceMs = 1500; }), {14500}},
        {"shorter minimum silence", options([](SilenceOptions& o) { o.MinSilenceMs = 400; }), {3800, 7500, 14500}},
        {"about 2 parts", options([](SilenceOptions& o) { o.AboutParts = 2; }), {14500}},
        {"about 1 part", options([](SilenceOptions& o) { o.AboutParts = 1; }), {}},
        {"about 10 parts", options([](SilenceOptions& o) { o.AboutParts = 10; }), {7500, 14500}},
        // 7000 ms apart: the longer silence is kept.
        {"minimum part", options([](SilenceOptions& o) { o.MinPartMs = 7100; }), {14500}},
    };
    for (const Case& c : cases) {
        SilenceSplit split = SplitAtSilences(levels, kWindowMs, kProgrammeMs, c.Options);
        EXPECT_EQ(split.CutsMs, c.Cuts) << c.What;
        // Untrimmed parts tile the stream at the cuts.
        std::vector<Range> expected;
        int64_t start = 0;
        for (int64_t cut : c.Cuts) {
            expected.push_back({start, cut});
            start = cut;
        }
        expected.push_back({start, kProgrammeMs});
        EXPECT_EQ(Ranges(split.Parts), expected) << c.What;
    }

    // Trimmed, the parts hold the sound between the silences, whether the
    // cut was in a silence's middle or at its end.
    const std::vector<Range> sound = {{600, 7000}, {8000, 13500}, {15500, 21500}};
    for (bool atEnd : {false, true}) {
        SilenceOptions trimmed = options([&](SilenceOptions& o) {
            o.TrimSilence = true;
            o.CutAtEnd = atEnd;
        });
        EXPECT_EQ(Ranges(SplitAtSilences(levels, kWindowMs, kProgrammeMs, trimmed).Parts), sound) << atEnd;
    }
    // Nothing but silence: one part untrimmed, none trimmed.
    const std::vector<float> quiet(100, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(Ranges(SplitAtSilences(quiet, kWindowMs, 1000, SilenceOptions{}).Parts), (std::vector<Range>{{0, 1000}}));
    SilenceOptions trim;
    trim.TrimSilence = true;
    EXPECT_TRUE(SplitAtSilences(quiet, kWindowMs, 1000, trim).Parts.empty());
}

namespace {

// Mono 16-bit PCM samples of a WAV file (the "data" chunk).
std::vector<int16_t> WavSamples(const std::string& path)
{
    std::vector<uint8_t> bytes = testsupport::ReadBytes(path);
    auto le32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
    };
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + ((le32(at + 4) + 1) & ~1u)) {
        if (std::string(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4) != "data")
            continue;
        size_t count = std::min<size_t>(le32(at + 4), bytes.size() - at - 8) / 2;
        std::vector<int16_t> samples(count);
        for (size_t i = 0; i < count; ++i)
            samples[i] = static_cast<int16_t>(bytes[at + 8 + 2 * i] | bytes[at + 9 + 2 * i] << 8);
        return samples;
    }
    return {};
}

// RMS level in dB (full scale 0 dB) of each window of windowSamples.
std::vector<float> RmsLevels(const std::vector<int16_t>& samples, size_t windowSamples)
{
    std::vector<float> levels;
    for (size_t at = 0; at < samples.size(); at += windowSamples) {
        size_t end = std::min(samples.size(), at + windowSamples);
        double sum = 0;
        for (size_t i = at; i < end; ++i)
            sum += static_cast<double>(samples[i]) * samples[i];
        double rms = std::sqrt(sum / static_cast<double>(end - at)) / 32768.0;
        levels.push_back(static_cast<float>(20.0 * std::log10(rms)));
    }
    return levels;
}

} // namespace

TEST(SilenceSplit, FindsTheSilencesOfAGeneratedRecording)
{
    REQUIRE_TOOL("sox");
    testsupport::TempDir folder;
    const std::string sox = "cd " + testsupport::Quote(folder.Path().string()) + " && sox -n -r 8000 -c 1 -b 16 ";
    // Tones with, between them, digital silence of 0.3 s (too short) and
    // 1.2 s, noise at about -65 dB for 0.8 s, and a quiet tone at about
    // -33 dB that is no silence.
    for (const char* piece : {"tone2.wav synth 2 sine 440 vol 0.5", "tone1.wav synth 1 sine 660 vol 0.5",
                                     "gap03.wav trim 0 0.3", "gap12.wav trim 0 1.2",
                                     "noise08.wav synth 0.8 whitenoise vol 0.001", "quiet1.wav synth 1 sine 440 vol 0.03"})
        ASSERT_EQ(testsupport::Run(sox + piece).exitCode, 0) << piece;
    ASSERT_EQ(testsupport::Run("cd " + testsupport::Quote(folder.Path().string()) +
                               " && sox tone2.wav gap03.wav tone2.wav gap12.wav tone2.wav noise08.wav tone2.wav"
                               " quiet1.wav tone1.wav recording.wav")
                  .exitCode,
              0);
    std::vector<int16_t> samples = WavSamples(folder.File("recording.wav"));
    ASSERT_EQ(samples.size(), 12300u * 8);

    SilenceOptions options;
    options.ThresholdDb = -48;
    options.MinSilenceMs = 500;
    SilenceSplit split = SplitAtSilences(RmsLevels(samples, 80), kWindowMs, 12300, options);
    // The 1.2 s silence is 4300..5500 ms, the noise 7500..8300 ms.
    ASSERT_EQ(split.CutsMs.size(), 2u);
    EXPECT_NEAR(split.CutsMs[0], 4900, kWindowMs);
    EXPECT_NEAR(split.CutsMs[1], 7900, kWindowMs);
}
