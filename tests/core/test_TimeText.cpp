#include "core/TimeText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "analysis/Errors.h"
#include "support/CommaLocale.h"

namespace {

// Every case runs under the C locale and under a locale whose decimal
// separator is a comma, which the window takes from a German user: time
// texts use "." whatever the locale says.
class TimeTextTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        const std::string locale = GetParam();
        if (locale != "C" && !testsupport::PrepareCommaLocale())
            GTEST_SKIP() << "localedef cannot build " << locale;
        locale_.emplace(GetParam());
        ASSERT_TRUE(locale_->Active()) << locale;
        char sample[16];
        std::snprintf(sample, sizeof sample, "%.1f", 1.5);
        ASSERT_EQ(sample, std::string(locale == "C" ? "1.5" : "1,5")) << "the locale is not in effect";
    }
    void TearDown() override { locale_.reset(); }

private:
    std::optional<testsupport::ScopedLocale> locale_;
};

INSTANTIATE_TEST_SUITE_P(Locales, TimeTextTest, ::testing::Values("C", testsupport::kCommaLocale),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? std::string("C") : std::string("CommaDecimal");
                         });

std::string ConversionMessage(const std::string& text)
{
    try {
        TimeTextToMilliseconds(text);
    } catch (const CorvellaError& error) {
        return error.what();
    }
    return "no error";
}

} // namespace

TEST_P(TimeTextTest, FormatTimeText_PadsEveryFieldAndNeverCarriesMilliseconds)
{
    EXPECT_EQ(FormatTimeText(0), "00:00.000");
    EXPECT_EQ(FormatTimeText(59.999), "00:59.999");
    EXPECT_EQ(FormatTimeText(83456 / 1000.0), "01:23.456");
    EXPECT_EQ(FormatTimeText(3600), "60:00.000");
    EXPECT_EQ(FormatTimeText(6000), "100:00.000");
    EXPECT_EQ(FormatTimeText(33332 / 1000.0), "00:33.332");
    EXPECT_EQ(FormatTimeText(66665 / 1000.0), "01:06.665");
    // Ten hours and more keep every digit of the minutes.
    EXPECT_EQ(FormatTimeText(36000001 / 1000.0), "600:00.001");
    // A fraction that rounds up to a whole second stays in the millisecond field.
    EXPECT_EQ(FormatTimeText(1.9996), "00:01.1000");
}

TEST_P(TimeTextTest, FormatTimeText_EveryMillisecondRoundTripsThroughTheMillisecondParser)
{
    for (int64_t ms = 0; ms < 200000; ms += 7)
        ASSERT_EQ(TimeTextToMilliseconds(FormatTimeText(ms / 1000.0)), ms) << ms;
    for (int64_t ms = 35999000; ms < 36001000; ++ms)
        ASSERT_EQ(TimeTextToMilliseconds(FormatTimeText(ms / 1000.0)), ms) << ms;
}

TEST_P(TimeTextTest, FormatPositionText_ShowsTheRemainderOnlyAtTheLastPosition)
{
    // A stream of 83456 ms: maximum 83, remainder 456.
    EXPECT_EQ(FormatPositionText(83, 83, 456), "01:23:456");
    EXPECT_EQ(FormatPositionText(82, 83, 456), "01:22:000");
    EXPECT_EQ(FormatPositionText(0, 83, 456), "00:00:000");
    EXPECT_EQ(FormatPositionText(0, 0, 7), "00:00:007");
    EXPECT_EQ(FormatPositionText(6000, 6001, 0), "100:00:000");
}

TEST_P(TimeTextTest, TimeTextToSeconds_ReadsMinutesAndDecimalSeconds)
{
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("00:00.000"), 0);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("01:30.5"), 90.5);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("1:5"), 65);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("02:03.450"), 123.45);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("-1:30"), -30);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("+2:00."), 120);
}

TEST_P(TimeTextTest, TimeTextToSeconds_UnreadableTextGivesMinusOne)
{
    for (const char* text : {"abc", "12.5", "00:", ":30", "00:.5", "", ":", "0:1e3", "0:5 ", " 0:5", "1.5:00",
                             "00:05.000.1", "0:-", "--1:00", "1:2:3"})
        EXPECT_EQ(TimeTextToSeconds(text), -1) << '"' << text << '"';
}

TEST_P(TimeTextTest, TimeTextToMilliseconds_ReadsEachPartAsAWholeNumber)
{
    EXPECT_EQ(TimeTextToMilliseconds("01:23.456"), 83456);
    EXPECT_EQ(TimeTextToMilliseconds(" : . "), 0);
    EXPECT_EQ(TimeTextToMilliseconds(""), 0);
    EXPECT_EQ(TimeTextToMilliseconds("00:01.5"), 1005);
    EXPECT_EQ(TimeTextToMilliseconds("1:30"), 60030);   // no "." : milliseconds
    EXPECT_EQ(TimeTextToMilliseconds("250"), 250);      // no ":" : milliseconds
    EXPECT_EQ(TimeTextToMilliseconds("  2:  3. 4"), 123004);
    EXPECT_EQ(TimeTextToMilliseconds("-1:00.000"), -60000);
    EXPECT_EQ(TimeTextToMilliseconds("+1:+1.+1"), 61001);
}

TEST_P(TimeTextTest, TimeTextToMilliseconds_ComputesBeyondThirtyTwoBits)
{
    // 600 hours: past the 2^31 ms that 32-bit arithmetic would wrap at.
    EXPECT_EQ(TimeTextToMilliseconds("36000:00.000"), int64_t(2160000000));
    EXPECT_EQ(TimeTextToMilliseconds("0:0.9999999999"), int64_t(9999999999));
}

TEST_P(TimeTextTest, TimeTextToMilliseconds_NonNumericPartNamesThatPart)
{
    EXPECT_EQ(ConversionMessage("00:xx.000"), "'xx' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("00:05 .000"), "'05 ' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("1.5:00.000"), "'1.5' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("00:01.2.3"), "'2.3' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("-:00.000"), "'-' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("0x10:00.000"), "'0x10' is not a valid integer value");
}

TEST_P(TimeTextTest, TimeTextToMilliseconds_ValuesBeyondSixtyFourBitsAreConversionErrors)
{
    EXPECT_EQ(ConversionMessage("99999999999999999999:00.000"),
              "'99999999999999999999' is not a valid integer value");
    // Fits as a number of minutes, but not once turned into milliseconds.
    EXPECT_EQ(ConversionMessage("9223372036854775:00.000"), "'9223372036854775' is not a valid integer value");
    EXPECT_EQ(ConversionMessage("0:0.9223372036854775807"), "no error");
    EXPECT_EQ(ConversionMessage("0:1.9223372036854775807"), "'9223372036854775807' is not a valid integer value");
}

TEST_P(TimeTextTest, SelectedLengthText_GivesTheDifferenceInSecondsWhenTheEndIsAfterTheStart)
{
    EXPECT_EQ(SelectedLengthText("00:00.000", "00:12.500"), "The selected part is 12.5 (Second.Millisecond)");
    EXPECT_EQ(SelectedLengthText("00:01.100", "00:02.300"), "The selected part is 1.2 (Second.Millisecond)");
    EXPECT_EQ(SelectedLengthText("00:10.000", "01:40.000"), "The selected part is 90 (Second.Millisecond)");
    EXPECT_EQ(SelectedLengthText("00:00.000", "00:00.001"), "The selected part is 0.001 (Second.Millisecond)");
}

TEST_P(TimeTextTest, SelectedLengthText_EmptyWhenNotAfterOrUnreadable)
{
    EXPECT_EQ(SelectedLengthText("00:05.000", "00:05.000"), "");
    EXPECT_EQ(SelectedLengthText("00:06.000", "00:05.000"), "");
    EXPECT_EQ(SelectedLengthText("abc", "00:05.000"), "");
    EXPECT_EQ(SelectedLengthText("00:00.000", "00:.5"), "");
    // A negative start is readable: only the difference counts here.
    EXPECT_EQ(SelectedLengthText("-1:00", "00:30"), "The selected part is 90 (Second.Millisecond)");
}
