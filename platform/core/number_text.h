// Numbers as text in the user's number format: the C library's LC_NUMERIC, as set by
// InitUserLocale. Both programs use these, so the separator one writes is the one the other reads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Adopts the user's locale from the environment (setlocale(LC_ALL, "")). Call once at start-up,
// before any other thread exists. False when the environment names a locale that is not installed:
// the C locale's format then stays in force, in both programs alike.
bool InitUserLocale();

// The shortest text of `value` with up to 15 significant digits: no trailing zeros, no decimal
// separator for whole numbers, the user's decimal separator otherwise, no thousands separators.
// Meant for values of everyday size (the exponent form is used only past 15 digits).
std::string NumberText(double value);

// Parses a whole text written by NumberText (optional sign, digits, the user's decimal separator,
// digits). Leading and trailing blanks are allowed; anything else makes the text not a number.
std::optional<double> ParseNumber(std::string_view text);

// Rounds to the nearest whole number, a half to the even neighbour.
double RoundHalfEven(double value);

}  // namespace platform
