// Names that match without regard to ASCII letter case: settings sections and keys, property
// keys and font names.
#pragma once

#include <algorithm>
#include <string_view>

namespace platform {

// True when `one` and `other` are equal once A to Z are taken as a to z; other bytes must be
// equal.
inline bool SameName(std::string_view one, std::string_view other) {
  const auto lower = [](char letter) {
    return letter >= 'A' && letter <= 'Z' ? static_cast<char>(letter - 'A' + 'a') : letter;
  };
  return one.size() == other.size() &&
         std::equal(one.begin(), one.end(), other.begin(),
                    [&](char mine, char theirs) { return lower(mine) == lower(theirs); });
}

}  // namespace platform
