#include "platform/core/number_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "tests/support/env.h"

namespace platform {
namespace {

// Each row in the C locale (decimal point) and in one with a decimal comma. strtod alone would
// also take an exponent, "inf", hexadecimal digits or a bare sign, which are no numbers in the
// user's format.
TEST(NumberTextTest, ParsesOnlyTheUsersFormat) {
  const std::tuple<const char*, std::optional<double>, std::optional<double>> rows[] = {
      {"12.5", 12.5, {}}, {"12,5", {}, 12.5},  {" 7 ", 7.0, 7.0}, {"-3", -3.0, -3.0}, {"-", {}, {}},
      {"1e5", {}, {}},    {"1,000.5", {}, {}}, {"inf", {}, {}},   {"0x10", {}, {}},
  };
  for (const bool comma : {false, true}) {
    const testing_support::ScopedLocale locale(comma ? testing_support::kCommaLocale : "C");
    if (!locale.ok())
      SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
    for (const auto& [text, point_value, comma_value] : rows) {
      EXPECT_EQ(ParseNumber(text), comma ? comma_value : point_value) << text;
    }
  }
}

}  // namespace
}  // namespace platform
