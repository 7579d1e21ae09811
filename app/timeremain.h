// TimeRemain: the job's start time, and the estimate of the time a copy still needs.
//
// The estimate assumes the copy keeps the average speed it has had since the start: if percent %
// took the elapsed time, the remaining (100 − percent) % take elapsed × (100 − percent) / percent.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// The text before the time in the estimate label.
inline constexpr char kRemainingPrefix[] = "Estimated time remaining : ";

class TimeRemain {
 public:
  // Elapsed time is measured on a steady clock, so a change of the wall clock (daylight saving,
  // a manual correction) during a copy cannot bend the estimate.
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // `now` reads the clock; tests pass one they control.
  explicit TimeRemain(Now now = Clock::now);

  // Takes the job's start time: now.
  void MarkStart();

  // kRemainingPrefix followed by the remaining time as "hh:mm:ss" (two digits each) in whole
  // seconds, rounded to the nearest second with a half to the even one. Past 24 hours the hours
  // keep counting (99 hours read 99:00:00, 100 hours 100:00:00): a long rescue must not look
  // nearly done. The empty text for a percent of 0 (nothing is known yet), for a negative percent
  // or NaN, for an estimate too large to compute or to mean anything (a million hours and more),
  // and before MarkStart. A percent above 100 counts as 100.
  QString RemainingText(double percent) const;

 private:
  Now now_;
  std::optional<Clock::time_point> start_;
};
