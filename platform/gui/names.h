// Names as the designs compare them: property keys and font names match without regard to
// ASCII letter case.
#pragma once

#include <algorithm>
#include <string_view>

namespace gui {

// True when `a` and `b` are equal once A to Z are taken as a to z; other bytes must be equal.
inline bool SameName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace gui
