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
  const char* separator = std::localeconv()->decimal_point;
  return (separator != nullptr && *separator != '\0') ? separator : ".";
}

bool IsBlank(char character) { return character == ' ' || character == '\t'; }

}  // namespace

bool InitUserLocale() { return std::setlocale(LC_ALL, "") != nullptr; }

std::string NumberText(double value) {
  if (value == 0) value = 0;  // no "-0"
  char text[64];
  // %.15g writes the shortest text of up to 15 significant digits in LC_NUMERIC's format.
  const int length = std::snprintf(text, sizeof text, "%.15g", value);
  return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  // Accept exactly: [sign] digits [separator digits] or [sign] separator digits.
  const std::string_view separator = DecimalPoint();
  size_t at = 0;
  if (text[at] == '+' || text[at] == '-') ++at;
  size_t int_digits = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at, ++int_digits;
  size_t frac_digits = 0;
  if (text.substr(at, separator.size()) == separator) {
    at += separator.size();
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at, ++frac_digits;
  }
  if (at != text.size() || int_digits + frac_digits == 0) return std::nullopt;

  // strtod reads the same LC_NUMERIC form, and we have checked that it is nothing more.
  const std::string copy(text);
  char* end = nullptr;
  const double parsed = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(parsed)) return std::nullopt;
  return parsed;
}

double RoundHalfEven(double value) {
  // nearbyint rounds in the current rounding mode, which is to-nearest-even unless changed.
  const int saved = std::fegetround();
  if (saved == FE_TONEAREST) return std::nearbyint(value);
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  return rounded;
}

}  // namespace platform
