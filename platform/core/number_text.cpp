#include "platform/core/number_text.h"

#include <cfenv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// The decimal separator of LC_NUMERIC, looked up on every call: the locale may change.
const char* DecimalPoint() {
  const char* dp = std::localeconv()->decimal_point;
  return (dp != nullptr && *dp != '\0') ? dp : ".";
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool InitUserLocale() { return std::setlocale(LC_ALL, "") != nullptr; }

std::string NumberText(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[64];
  // %.15g writes the shortest text of up to 15 significant digits in LC_NUMERIC's format.
  const int n = std::snprintf(buf, sizeof buf, "%.15g", value);
  return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  // Accept exactly: [sign] digits [separator digits] or [sign] separator digits.
  const std::string_view dp = DecimalPoint();
  size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t int_digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++int_digits;
  size_t frac_digits = 0;
  if (text.substr(i, dp.size()) == dp) {
    i += dp.size();
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++frac_digits;
  }
  if (i != text.size() || int_digits + frac_digits == 0) return std::nullopt;

  // strtod reads the same LC_NUMERIC form, and we have checked that it is nothing more.
  const std::string copy(text);
  char* end = nullptr;
  const double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

double RoundHalfEven(double value) {
  // nearbyint rounds in the current rounding mode, which is to-nearest-even unless changed.
  const int saved = std::fegetround();
  if (saved == FE_TONEAREST) return std::nearbyint(value);
  std::fesetround(FE_TONEAREST);
  const double r = std::nearbyint(value);
  std::fesetround(saved);
  return r;
}

}  // namespace platform
