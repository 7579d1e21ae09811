#include "app/timeremain.h"

#include <cmath>
#include <utility>

#include "platform/core/number_text.h"

namespace {

// Past this the figure is noise, and it would not fit the label.
constexpr double kLongestEstimate = 1e6 * 60 * 60;

}  // namespace

TimeRemain::TimeRemain(Now now) : now_(std::move(now)) {}

void TimeRemain::MarkStart() { start_ = now_(); }

QString TimeRemain::RemainingText(double percent) const {
  if (!start_ || std::isnan(percent) || percent <= 0) return {};
  if (percent > 100) percent = 100;

  const std::chrono::duration<double> elapsed = now_() - *start_;
  // Rounded, not cut: fractions become whole numbers by rounding to the nearest, halves to the
  // even one, throughout this program; and a cut would show 00:00:00 while most of a second is
  // still to go.
  const double remaining = platform::RoundHalfEven(elapsed.count() * (100 - percent) / percent);
  if (!(remaining < kLongestEstimate)) return {};  // also infinite

  const auto whole = static_cast<qint64>(remaining);
  return QLatin1String(kRemainingPrefix) + QStringLiteral("%1:%2:%3")
                                               .arg(whole / 3600, 2, 10, QLatin1Char('0'))
                                               .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                                               .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

