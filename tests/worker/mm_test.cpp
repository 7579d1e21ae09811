#include "worker/mm.h"

#include <gtest/gtest.h>

namespace worker {
namespace {

struct Row {
  const char* text;
  bool complete;
  const char* source;
  const char* target;
  int32_t length;
  bool is_number;
  bool variable_speed;
};

constexpr Row kRows[] = {
    {"a;b;100", true, "a", "b", 100, true, false},
    {"a;b;0", true, "a", "b", 0, true, true},
    {"a;b;00", true, "a", "b", 0, true, false},  // a zero length that is not variable speed
    {"a;b;100;x", true, "a", "b", 100, true, false},
    {"a;b; 12 ", true, "a", "b", 12, true, false},
    {"a;b;-5", true, "a", "b", -5, true, false},
    {"a;b;abc", true, "a", "b", 0, false, false},
    {"a;b;12abc", true, "a", "b", 0, false, false},
    {"a;b;2147483647", true, "a", "b", 2147483647, true, false},
    {"a;b;2147483648", true, "a", "b", 0, false, false},  // out of 32 bits: no number
    {"a;b;1.5", true, "a", "b", 0, false, false},
    {"/My Files/disk.img;/rescue/out img;1024", true, "/My Files/disk.img", "/rescue/out img", 1024,
     true, false},
    {"a;b", false, "a", "b", 0, false, false},
    {"a;b;", false, "a", "b", 0, false, false},
    {";b;100", false, "", "b", 100, true, false},
    {"a;;100", false, "a", "", 100, true, false},
    {"", false, "", "", 0, false, false},
    {"a", false, "a", "", 0, false, false},
};

TEST(CommandLineTest, SplitsIntoSourceTargetAndLength) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.text);
    const CommandLine cl = ParseCommandLine(row.text);
    EXPECT_EQ(cl.complete, row.complete);
    EXPECT_EQ(cl.source, row.source);
    EXPECT_EQ(cl.target, row.target);
    EXPECT_EQ(cl.length, row.length);
    EXPECT_EQ(cl.length_is_number, row.is_number);
    EXPECT_EQ(cl.variable_speed, row.variable_speed);
  }
}

TEST(CommandLineTest, ArgumentsJoinWithSingleBlanks) {
  const char* split[] = {"vrel", "/My", "Files/a;b;100"};
  const char* whole[] = {"vrel", "/My Files/a;b;100"};
  const char* none[] = {"vrel"};
  EXPECT_EQ(JoinArguments(3, split), "/My Files/a;b;100");
  EXPECT_EQ(JoinArguments(2, whole), "/My Files/a;b;100");
  EXPECT_EQ(JoinArguments(1, none), "");
}

}  // namespace
}  // namespace worker
