#include "platform/core/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/env.h"

namespace platform {
namespace {

using testing_support::kCommaLocale;
using testing_support::ScopedLocale;

struct TextRow {
  double value;
  const char* point_text;
  const char* comma_text;
};

constexpr TextRow kTextRows[] = {
    {0, "0", "0"},
    {-0.0, "0", "0"},
    {45, "45", "45"},
    {100, "100", "100"},
    {12.5, "12.5", "12,5"},
    {0.4, "0.4", "0,4"},
    {80.4, "80.4", "80,4"},
    {0.01, "0.01", "0,01"},
    {99.99, "99.99", "99,99"},
    {33.33, "33.33", "33,33"},
    {0.1 + 0.2, "0.3", "0,3"},  // 15 digits hide the binary noise
    {4.38, "4.38", "4,38"},
    {4294967296.0, "4294967296", "4294967296"},  // no thousands separators
};

TEST(NumberTextTest, ShortestTextInBothSeparators) {
  {
    ScopedLocale c("C");
    for (const auto& row : kTextRows) EXPECT_EQ(NumberText(row.value), row.point_text);
  }
  ScopedLocale comma(kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  for (const auto& row : kTextRows) EXPECT_EQ(NumberText(row.value), row.comma_text);
}

struct ParseRow {
  const char* text;
  std::optional<double> point_value;
  std::optional<double> comma_value;
};

const ParseRow kParseRows[] = {
    {"12.5", 12.5, std::nullopt},
    {"12,5", std::nullopt, 12.5},
    {"0", 0.0, 0.0},
    {" 7 ", 7.0, 7.0},
    {"-3", -3.0, -3.0},
    {"+3", 3.0, 3.0},
    {"100", 100.0, 100.0},
    {"", std::nullopt, std::nullopt},
    {"   ", std::nullopt, std::nullopt},
    {"abc", std::nullopt, std::nullopt},
    {"12abc", std::nullopt, std::nullopt},
    {"1e5", std::nullopt, std::nullopt},
    {"1,000.5", std::nullopt, std::nullopt},  // thousands separators are not part of the format
    {"inf", std::nullopt, std::nullopt},
    {"nan", std::nullopt, std::nullopt},
    {"0x10", std::nullopt, std::nullopt},
    {"-", std::nullopt, std::nullopt},
};

TEST(NumberTextTest, ParsesOnlyTheUsersFormat) {
  {
    ScopedLocale c("C");
    for (const auto& row : kParseRows)
      EXPECT_EQ(ParseNumber(row.text), row.point_value) << row.text;
  }
  ScopedLocale comma(kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  for (const auto& row : kParseRows) EXPECT_EQ(ParseNumber(row.text), row.comma_value) << row.text;
}

TEST(NumberTextTest, TextReadsBackAsTheSameValue) {
  ScopedLocale c("C");
  for (int hundredths = 0; hundredths <= 10000; ++hundredths) {
    const double v = hundredths / 100.0;
    const std::optional<double> back = ParseNumber(NumberText(v));
    ASSERT_TRUE(back.has_value()) << NumberText(v);
    EXPECT_EQ(*back, v) << NumberText(v);
  }
}

TEST(NumberTextTest, RoundsHalvesToEven) {
  constexpr struct {
    double in;
    double out;
  } kRows[] = {{0.5, 0}, {1.5, 2}, {2.5, 2},   {3.5, 4}, {-0.5, 0},     {-1.5, -2},
               {2.4, 2}, {2.6, 3}, {-2.6, -3}, {7, 7},   {4040.5, 4040}};
  for (const auto& row : kRows) EXPECT_EQ(RoundHalfEven(row.in), row.out) << row.in;
}

}  // namespace
}  // namespace platform
