#include "platform/core/rescue_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

using S = AreaStatus;

// Each row marks a fresh 100-byte map in turn; the areas are worked out by hand.
TEST(RescueMapTest, MarkSplitsAndJoinsAreas) {
  struct Mark {
    int64_t pos, size;
    S status;
  };
  struct Row {
    const char* name;
    std::vector<Mark> marks;
    std::vector<MapArea> areas;
  };
  const Row rows[] = {
      {"front", {{0, 30, S::kRescued}}, {{0, 30, S::kRescued}, {30, 70, S::kUntried}}},
      {"middle",
       {{0, 30, S::kRescued}, {40, 5, S::kUnreadable}},
       {{0, 30, S::kRescued},
        {30, 10, S::kUntried},
        {40, 5, S::kUnreadable},
        {45, 55, S::kUntried}}},
      {"gap closed joins three",
       {{0, 30, S::kRescued}, {40, 60, S::kRescued}, {30, 10, S::kRescued}},
       {{0, 100, S::kRescued}}},
      {"spans several",
       {{10, 10, S::kUnreadable}, {30, 10, S::kRescued}, {15, 20, S::kUntried}},
       {{0, 10, S::kUntried},
        {10, 5, S::kUnreadable},
        {15, 20, S::kUntried},
        {35, 5, S::kRescued},
        {40, 60, S::kUntried}}},
      {"inside one area of the same status", {{10, 5, S::kUntried}}, {{0, 100, S::kUntried}}},
      {"clipped to the source",
       {{90, 50, S::kRescued}, {-5, 0, S::kRescued}},
       {{0, 90, S::kUntried}, {90, 10, S::kRescued}}},
      {"joins the left neighbour only",
       {{0, 10, S::kRescued}, {20, 10, S::kUnreadable}, {10, 5, S::kRescued}},
       {{0, 15, S::kRescued},
        {15, 5, S::kUntried},
        {20, 10, S::kUnreadable},
        {30, 70, S::kUntried}}},
  };
  for (const Row& row : rows) {
    RescueMap map("/src", 100);
    for (const Mark& mark : row.marks) map.Mark(mark.pos, mark.size, mark.status);
    EXPECT_EQ(map.areas(), row.areas) << row.name;
  }
}

TEST(RescueMapTest, TextReadsBackAndCounts) {
  RescueMap map("/media/a b\\c\nd", 0x80400);
  map.Mark(0, 0x80000, S::kRescued);
  map.Mark(0x80000, 0x200, S::kUnreadable);
  map.current_pos = 0x80200;
  const std::string text = map.Text();
  EXPECT_NE(text.find("0x00080000  0x00000200  -\n"), std::string::npos) << text;
  EXPECT_NE(text.find("0x00080200     ?               1\n"), std::string::npos) << text;
  std::string error;
  const std::optional<RescueMap> back = RescueMap::Parse(text, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_TRUE(back->Describes("/media/a b\\c\nd", 0x80400));
  EXPECT_EQ(back->areas(), map.areas());
  EXPECT_EQ(back->current_pos, 0x80200);
  EXPECT_EQ(back->Bytes(S::kUntried), 0x200);
  EXPECT_EQ(back->Count(S::kUnreadable), 1);
}

TEST(RescueMapTest, ParseTakesOtherToolsMapsAndRefusesWhatIsNone) {
  std::string error;
  // Another tool's map: no source named, decimal numbers, a pass-less status line, '*' and '/'.
  const std::optional<RescueMap> other =
      RescueMap::Parse("# Mapfile\n\n0  +\n0 10 + \n10 0x5 *\n15 5 /\n", &error);
  ASSERT_TRUE(other) << error;
  EXPECT_EQ(other->source_size(), 20);
  EXPECT_EQ(other->Bytes(S::kUnreadable), 10);
  EXPECT_EQ(other->Count(S::kUnreadable), 1);
  const char* const not_maps[] = {
      "",                                                             // nothing
      "hello world\n",                                                // no status line
      "0x0 ?\n",                                                      // no areas
      "0x0 ? 1\n0x0 0x10 +\n0x20 0x10 -\n",                           // a gap
      "0x0 ? 1\n0x0 0x10 +\n0x8 0x10 -\n",                            // an overlap
      "0x0 ? 1\n0x0 0x10 x\n",                                        // unknown status
      "0x0 ? 1\n0x0 0x0 +\n",                                         // empty area
      "0x0 ? 1\n0x0 -0x10 +\n",                                       // negative size
      "0x0 ? 1\n0x0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 1 +\n",  // past the largest size
      "# Source size: 17\n0x0 ? 1\n0x0 0x10 +\n",  // areas shorter than the source
      "0x0 Q 1\n0x0 0x10 +\n",                     // unknown current status
  };
  for (const char* text : not_maps) EXPECT_FALSE(RescueMap::Parse(text, &error)) << text;
}

}  // namespace
}  // namespace platform
