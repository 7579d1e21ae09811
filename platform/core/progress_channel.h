// The progress channel between the window and the copy worker: two text values in the per-user
// settings store that the worker writes and the window reads. Both programs take the names and
// the Status texts from here, so that one cannot be renamed without the other.
//
//   Status   "Starting..." from before the files are opened until the copy ends; "Finished"
//            once every block is copied and the target is flushed and closed. A copy that
//            fails or is stopped leaves "Starting...".
//   Percent  after each block: 100 x the 1-based position of the block's first byte / the
//            source's length, rounded to two decimals, in the user's number format.
#pragma once

#include <string_view>

namespace platform {

inline constexpr std::string_view kChannelApplication = "Vrel";
inline constexpr std::string_view kChannelSection = "Info";
inline constexpr std::string_view kStatusKey = "Status";
inline constexpr std::string_view kPercentKey = "Percent";
inline constexpr std::string_view kStatusStarting = "Starting...";
inline constexpr std::string_view kStatusFinished = "Finished";

}  // namespace platform
