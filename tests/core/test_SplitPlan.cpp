#include "core/SplitPlan.h"

#include <gtest/gtest.h>

#include "core/TimeText.h"

TEST(PartQuantity, AcceptsPositiveWholeNumbersOnly)
{
    EXPECT_EQ(ParsePartQuantity("3"), 3);
    EXPECT_EQ(ParsePartQuantity("  12"), 12);
    EXPECT_EQ(ParsePartQuantity("+7"), 7);
    EXPECT_EQ(ParsePartQuantity("150"), 150);  // above the spinner's 99: still accepted
    EXPECT_EQ(ParsePartQuantity("2147483647"), 2147483647);
    for (const char* text : {"abc", "0", "-3", "-0", "", "   ", "3 ", "1.5", "2147483648", "0x10", "+", "3abc"})
        EXPECT_FALSE(ParsePartQuantity(text).has_value()) << '"' << text << '"';
}

TEST(PartNames, DropTheExtensionAndNumberFromOne)
{
    EXPECT_EQ(PartBaseName("/music/song.mp3"), "song");
    EXPECT_EQ(PartBaseName("song.mp3"), "song");
    EXPECT_EQ(PartBaseName("/music/My Song.MP3"), "My Song");
    // Characters, not bytes: a name ending in non-ASCII letters keeps them.
    EXPECT_EQ(PartBaseName("/music/Éa.mp3"), "Éa");
    EXPECT_EQ(PartBaseName("/music/.mp3"), "");
    EXPECT_EQ(PartFileName("song", 1), "song_chunk_1.mp3");
    EXPECT_EQ(PartFileName("song", 42), "song_chunk_42.mp3");
    EXPECT_EQ(WithTrailingSeparator("/out"), "/out/");
    EXPECT_EQ(WithTrailingSeparator("/out/"), "/out/");
}

TEST(EqualParts, HundredSecondsInThreePartsTileTheStream)
{
    PartRange first = EqualPartRange(100000, 3, 0);
    PartRange second = EqualPartRange(100000, 3, 1);
    PartRange third = EqualPartRange(100000, 3, 2);
    EXPECT_EQ(FormatTimeText(first.StartMs / 1000.0), "00:00.000");
    EXPECT_EQ(FormatTimeText(first.EndMs / 1000.0), "00:33.333");
    EXPECT_EQ(FormatTimeText(second.StartMs / 1000.0), "00:33.333");
    EXPECT_EQ(FormatTimeText(second.EndMs / 1000.0), "01:06.666");
    EXPECT_EQ(FormatTimeText(third.StartMs / 1000.0), "01:06.666");
    EXPECT_EQ(FormatTimeText(third.EndMs / 1000.0), "01:40.000");
    EXPECT_FALSE(first.Last);
    EXPECT_FALSE(second.Last);
    EXPECT_TRUE(third.Last);
}

TEST(EqualParts, EveryPartBeginsWhereThePreviousEnded)
{
    for (int32_t count : {1, 2, 7, 99, 1000}) {
        int64_t length = 3599999;
        EXPECT_EQ(EqualPartRange(length, count, 0).StartMs, 0);
        for (int32_t i = 1; i < count; ++i)
            ASSERT_EQ(EqualPartRange(length, count, i).StartMs, EqualPartRange(length, count, i - 1).EndMs);
        EXPECT_EQ(EqualPartRange(length, count, count - 1).EndMs, length);
        EXPECT_TRUE(EqualPartRange(length, count, count - 1).Last);
    }
    // More parts than milliseconds: all but the last are empty, the last holds everything.
    EXPECT_EQ(EqualPartRange(5, 10, 3).EndMs, 0);
    EXPECT_EQ(EqualPartRange(5, 10, 9).StartMs, 0);
    EXPECT_EQ(EqualPartRange(5, 10, 9).EndMs, 5);
}

TEST(Gauge, RoundsHalvesToEvenAndEndsAtHundred)
{
    EXPECT_EQ(GaugePercent(0, 1), 100);
    EXPECT_EQ(GaugePercent(0, 2), 0);
    EXPECT_EQ(GaugePercent(1, 2), 100);
    EXPECT_EQ(GaugePercent(1, 3), 50);
    EXPECT_EQ(GaugePercent(1, 4), 33);
    EXPECT_EQ(GaugePercent(2, 4), 67);
    EXPECT_EQ(GaugePercent(1, 9), 12);   // 12.5 -> 12
    EXPECT_EQ(GaugePercent(3, 9), 38);   // 37.5 -> 38
    EXPECT_EQ(GaugePercent(9, 10), 100);
}
