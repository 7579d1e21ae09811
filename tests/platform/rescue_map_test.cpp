#include "platform/core/rescue_map.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace platform {
namespace {

using S = AreaStatus;

// "pos status size" pieces, e.g. "40-5": bytes 40 to 44 unreadable.
std::vector<MapArea> Pieces(const char* text) {
  std::vector<MapArea> pieces;
  std::istringstream in(text);
  MapArea piece;
  char status = 0;
  while (in >> piece.pos >> status >> piece.size) {
    piece.status = static_cast<S>(status);
    pieces.push_back(piece);
  }
  return pieces;
}

// Each row marks a fresh 100-byte map in turn; the areas are worked out by hand.
TEST(RescueMapTest, MarkSplitsAndJoinsAreas) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"front", "0+30", "0+30 30?70"},
      {"middle", "0+30 40-5", "0+30 30?10 40-5 45?55"},
      {"gap closed joins three", "0+30 40+60 30+10", "0+100"},
      {"spans several", "10-10 30+10 15?20", "0?10 10-5 15?20 35+5 40?60"},
      {"inside one area of the same status", "10?5", "0?100"},
      {"clipped to the source", "90+50 -5+0", "0?90 90+10"},
      {"joins the left neighbour only", "0+10 20-10 10+5", "0+15 15?5 20-10 30?70"},
  };
  for (const auto& [name, marks, areas] : rows) {
    RescueMap map("/src", 100);
    for (const MapArea& mark : Pieces(marks)) map.Mark(mark.pos, mark.size, mark.status);
    EXPECT_EQ(map.areas(), Pieces(areas)) << name;
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
