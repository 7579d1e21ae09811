#include "app/timeremain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "tests/support/env.h"

namespace {

using std::chrono::milliseconds;
using testing_support::ScopedLocale;

// The estimate on a clock that stands still until the test moves it.
class TimeRemainTest : public ::testing::Test {
 protected:
  // The text for `percent` after `elapsed` since the start, without the prefix when there is one.
  std::string After(milliseconds elapsed, double percent) {
    estimate_.MarkStart();
    now_ += elapsed;
    return Text(estimate_.RemainingText(percent));
  }
  static std::string Text(const QString& text) {
    const QString prefix = kRemainingPrefix;
    return (text.startsWith(prefix) ? text.mid(prefix.size()) : "[" + text + "]").toStdString();
  }

  TimeRemain::Clock::time_point now_{std::chrono::hours(1000)};
  TimeRemain estimate_{[this] { return now_; }};
};

TEST_F(TimeRemainTest, RemainingTextFromElapsedTimeAndPercent) {
  const struct {
    milliseconds elapsed;
    double percent;
    const char* text;  // after the prefix; "[]" for the empty text
  } rows[] = {
      {milliseconds(120000), 50, "00:02:00"},
      {milliseconds(60000), 25, "00:03:00"},
      {milliseconds(60000), 100, "00:00:00"},
      {milliseconds(60000), 150, "00:00:00"},  // past the end: nothing left
      {milliseconds(60000), 0, "[]"},          // nothing known yet
      {milliseconds(60000), std::nan(""), "[]"},
      // Past a day the hours keep counting: a long rescue must not look nearly done.
      {milliseconds(3600000), 1, "99:00:00"},
      {milliseconds(360000000), 50, "100:00:00"},
      {milliseconds(1000), 1e-8, "[]"},  // 2.8 million hours: no estimate
      // Fractions of a second round to the nearest second, a half to the even one.
      {milliseconds(1500), 50, "00:00:02"},
      {milliseconds(2500), 50, "00:00:02"},
      {milliseconds(59500), 50, "00:01:00"},     // the rounding carries into the minutes
      {milliseconds(86399600), 50, "24:00:00"},  // ... and into a whole day
  };
  for (const auto& row : rows) {
    EXPECT_EQ(After(row.elapsed, row.percent), row.text)
        << row.elapsed.count() << " ms, " << row.percent << " %";
  }
}

TEST_F(TimeRemainTest, EachJobCountsFromItsOwnStart) {
  EXPECT_EQ(Text(estimate_.RemainingText(50)), "[]");  // no job yet
  EXPECT_EQ(After(milliseconds(600000), 50), "00:10:00");
  EXPECT_EQ(After(milliseconds(60000), 50), "00:01:00");
}

TEST_F(TimeRemainTest, PercentTextInTheUsersFormat) {
  estimate_.MarkStart();
  now_ += milliseconds(60000);
  const auto text_of = [&](const char* percent) -> std::string {
    const std::optional<QString> text = estimate_.RemainingTextOf(percent);
    return text ? Text(*text) : "not a number";
  };
  {
    ScopedLocale c("C");
    EXPECT_EQ(text_of("75"), "00:00:20");
    EXPECT_EQ(text_of("0"), "[]");  // the label empties ...
    for (const char* text : {"", "abc", "75,0"})
      EXPECT_EQ(text_of(text), "not a number");  // ... or keeps its text
  }
  ScopedLocale comma(testing_support::kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  EXPECT_EQ(text_of("75,0"), "00:00:20");
}

}  // namespace
