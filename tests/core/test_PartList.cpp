// The list of parts before a split at points: edits of starts, names and
// titles, and the points handed to the split, over one list of three parts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/PartList.h"

namespace {

PartList ThreeParts()
{
    return PartList({{0, 5000, "A", ""}, {5000, 9000, "", ""}, {9000, 12000, "C", "Guest"}}, 12000,
                    {"song", "Record", "Band"});
}

} // namespace

TEST(PartList, EditsKeepThePartsInOrderAndTheirNamesDistinct)
{
    struct Case {
        const char* What;
        std::function<std::string(PartList&)> Edit;
        bool Refused;
        std::vector<int64_t> Bounds;  // start and end of each part
        std::vector<std::string> Names;
        std::string PointsRefusal;  // empty: the points are given
    };
    const std::vector<int64_t> unchanged = {0, 5000, 5000, 9000, 9000, 12000};
    const std::vector<std::string> named = {"1 - A.mp3", "2 - Track 2.mp3", "3 - C.mp3"};
    const std::vector<Case> cases = {
        {"nothing", [](PartList&) { return std::string(); }, false, unchanged, named, ""},
        {"earlier start", [](PartList& list) { return list.SetStart(1, 4000); }, false,
         {0, 4000, 4000, 9000, 9000, 12000}, named, ""},
        {"later start", [](PartList& list) { return list.SetStart(2, 11000); }, false,
         {0, 5000, 5000, 11000, 11000, 12000}, named, ""},
        {"start at the start before", [](PartList& list) { return list.SetStart(1, 0); }, true, unchanged, named, ""},
        {"start at its end", [](PartList& list) { return list.SetStart(1, 9000); }, true, unchanged, named, ""},
        {"title renames", [](PartList& list) { return list.SetTitle(1, "Bee"); }, false, unchanged,
         {"1 - A.mp3", "2 - Bee.mp3", "3 - C.mp3"}, ""},
        {"typed name", [](PartList& list) { return list.SetName(1, " my: part .MP3"); }, false, unchanged,
         {"1 - A.mp3", "my_ part.mp3", "3 - C.mp3"}, ""},
        {"typed name stays",
         [](PartList& list) {
             list.SetName(0, "intro");
             return list.SetTitle(0, "Other");
         },
         false, unchanged, {"intro.mp3", "2 - Track 2.mp3", "3 - C.mp3"}, ""},
        {"empty name", [](PartList& list) { return list.SetName(1, " .. "); }, true, unchanged, named, ""},
        {"same name in another case", [](PartList& list) { return list.SetName(0, "3 - c"); }, false, unchanged,
         {"3 - c.mp3", "2 - Track 2.mp3", "3 - C.mp3"}, "two parts are named \"3 - C.mp3\""},
        {"no such part", [](PartList& list) { return list.SetTitle(3, "x"); }, true, unchanged, named, ""},
    };
    for (const Case& c : cases) {
        PartList list = ThreeParts();
        EXPECT_EQ(!c.Edit(list).empty(), c.Refused) << c.What;
        std::vector<int64_t> bounds;
        std::vector<std::string> names;
        for (const PartRow& row : list.Rows()) {
            bounds.insert(bounds.end(), {row.StartMs, row.EndMs});
            names.push_back(row.Name);
        }
        EXPECT_EQ(bounds, c.Bounds) << c.What;
        EXPECT_EQ(names, c.Names) << c.What;
        const ParseResult<std::vector<SplitPoint>> points = list.Points();
        EXPECT_EQ(points.Error, c.PointsRefusal) << c.What;
        if (!points)
            continue;
        ASSERT_EQ(points.Value->size(), 3u) << c.What;
        for (size_t k = 0; k < 3; ++k) {
            const SplitPoint& point = (*points.Value)[k];
            EXPECT_EQ(point.Start, c.Bounds[2 * k]) << c.What;
            EXPECT_EQ(point.End, c.Bounds[2 * k + 1]) << c.What;
            EXPECT_EQ(point.Name, c.Names[k]) << c.What;
            EXPECT_EQ(point.ToAudioEnd, k == 2) << c.What;
            ASSERT_TRUE(point.Tags) << c.What;
            EXPECT_EQ(point.Tags->Number, static_cast<int64_t>(k) + 1) << c.What;
            EXPECT_EQ(point.Tags->Count, 3) << c.What;
            EXPECT_EQ(point.Tags->Title, list.Rows()[k].Title) << c.What;
        }
        EXPECT_EQ((*points.Value)[2].Tags->Performer, "Guest") << c.What;
    }
}
