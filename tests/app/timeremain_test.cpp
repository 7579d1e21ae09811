#include "app/timeremain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "tests/support/env.h"

namespace {

using std::chrono::milliseconds;
using testing_support::kCommaLocale;
using testing_support::ScopedLocale;

// A clock that stands still until the test moves it.
class FakeClock {
 public:
  TimeRemain::Now Reader() {
    return [this] { return now_; };
  }
  void Advance(milliseconds by) { now_ += by; }

 private:
  TimeRemain::Clock::time_point now_{std::chrono::hours(1000)};
};

std::string Text(const QString& text) { return text.toStdString(); }

struct Row {
  milliseconds elapsed;
  double percent;
  const char* time;  // after the prefix; nullptr for the empty text
};

TEST(TimeRemainTest, RemainingTextFromElapsedTimeAndPercent) {
  const Row rows[] = {
      {milliseconds(120000), 50, "00:02:00"},
      {milliseconds(60000), 25, "00:03:00"},
      {milliseconds(60000), 100, "00:00:00"},
      {milliseconds(60000), 0, nullptr},
      // Past a day the hours keep counting.
      {milliseconds(3600000), 1, "99:00:00"},
      {milliseconds(90000000), 50, "25:00:00"},
      {milliseconds(360000000), 50, "100:00:00"},
      {milliseconds(1000), 1e-8, nullptr},     // 2.8 million hours: no estimate
      {milliseconds(60000), 150, "00:00:00"},  // past the end: nothing left
      {milliseconds(60000), -5, nullptr},
      {milliseconds(60000), std::nan(""), nullptr},
      {milliseconds(60000), 5e-324, nullptr},  // too far off to compute
      // Fractions of a second are rounded to the nearest second, a half to the even one.
      {milliseconds(400), 50, "00:00:00"},
      {milliseconds(1500), 50, "00:00:02"},
      {milliseconds(2500), 50, "00:00:02"},
      {milliseconds(2600), 50, "00:00:03"},
      {milliseconds(59500), 50, "00:01:00"},     // the rounding carries into the minutes
      {milliseconds(86399600), 50, "24:00:00"},  // ... and into a whole day
  };
  for (const Row& row : rows) {
    FakeClock clock;
    TimeRemain estimate(clock.Reader());
    estimate.MarkStart();
    clock.Advance(row.elapsed);
    const std::string expected =
        row.time == nullptr ? std::string() : std::string(kRemainingPrefix) + row.time;
    EXPECT_EQ(Text(estimate.RemainingText(row.percent)), expected)
        << row.elapsed.count() << " ms, " << row.percent << " %";
  }
}

TEST(TimeRemainTest, EachJobCountsFromItsOwnStart) {
  FakeClock clock;
  TimeRemain estimate(clock.Reader());
  EXPECT_FALSE(estimate.StartTime().has_value());
  EXPECT_EQ(Text(estimate.RemainingText(50)), "");  // no job yet

  estimate.MarkStart();
  clock.Advance(milliseconds(600000));
  EXPECT_EQ(Text(estimate.RemainingText(50)), std::string(kRemainingPrefix) + "00:10:00");

  estimate.MarkStart();
  EXPECT_EQ(estimate.StartTime(), clock.Reader()());
  clock.Advance(milliseconds(60000));
  EXPECT_EQ(Text(estimate.RemainingText(50)), std::string(kRemainingPrefix) + "00:01:00");
}

TEST(TimeRemainTest, PercentTextInTheUsersFormat) {
  FakeClock clock;
  TimeRemain estimate(clock.Reader());
  estimate.MarkStart();
  clock.Advance(milliseconds(60000));
  const std::string quarter_left = std::string(kRemainingPrefix) + "00:00:20";  // 75 % done
  {
    ScopedLocale c("C");
    EXPECT_EQ(estimate.RemainingTextOf("75").value_or(QStringLiteral("none")).toStdString(),
              quarter_left);
    EXPECT_EQ(estimate.RemainingTextOf("0").value_or(QStringLiteral("none")).toStdString(), "");
    EXPECT_FALSE(estimate.RemainingTextOf("").has_value());
    EXPECT_FALSE(estimate.RemainingTextOf("abc").has_value());
    EXPECT_FALSE(estimate.RemainingTextOf("75,0").has_value());
  }
  ScopedLocale comma(kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  EXPECT_EQ(estimate.RemainingTextOf("75,0").value_or(QStringLiteral("none")).toStdString(),
            quarter_left);
}

}  // namespace
