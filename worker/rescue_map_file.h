// The rescue map a copy keeps beside its target, <target>.map: loaded and checked at the start,
// brought up to date in memory as blocks are written, and saved atomically, after the target's
// bytes it records are on the disk, whenever a read has newly failed (at most a few times a
// second), at a stop and at the end. A process killed at any moment leaves the map of the last
// save, which claims no byte the target does not hold; what it had not recorded yet is untried.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/file_io.h"
#include "platform/core/rescue_map.h"
#include "platform/core/unique_fd.h"

namespace worker {

// The map's path for a target: the target's path followed by ".map".
std::string RescueMapPath(const std::string& target_path);

// Keeps the map of one copy. Positions are 0-based.
class RescueRecorder {
 public:
  // Keeps `map` for the open `target`; saves it as `name` below the open `folder`, or nowhere
  // when `folder` is not valid (a map in memory only, for tests).
  RescueRecorder(platform::RescueMap map, const platform::File& target, platform::UniqueFd folder,
                 std::string name);

  // The target's bytes [pos, end) now hold what a read delivered. Where they continue the bytes
  // recorded before, as a copy's blocks do, this costs a few comparisons.
  void Read(int64_t pos, int64_t end) {
    if (pos >= pending_pos_ && pos <= pending_end_) {
      pending_end_ = std::max(pending_end_, end);
    } else {
      Flush();
      pending_pos_ = pos;
      pending_end_ = end;
    }
    if (save_wanted_) SaveWhenDue();
  }
  // One block [pos, end) written after a read that delivered [pos, read_end): the rest was
  // written as zeros from `zeros_from` on and kept what the target held before it. Kept bytes
  // that were untried become unreadable where the target holds zeros: no read delivered them.
  void Block(int64_t pos, int64_t read_end, int64_t end, int64_t zeros_from) {
    Read(pos, read_end);
    if (read_end < end) Unread(read_end, end, zeros_from);
  }

  // The unreadable and untried areas, in order: what a retry pass reads.
  std::vector<platform::MapArea> AreasToRetry();
  // Notes in the status line that a retry pass has begun.
  void StartRetry();
  // Flushes the target and saves the map, as finished or not; says on standard error when that
  // fails.
  void End(bool finished);
  // Flushes the target and saves the map now: false with *error set when either fails.
  bool Save(std::string* error);

  // The map as recorded so far.
  const platform::RescueMap& map() {
    Flush();
    return map_;
  }

 private:
  void Flush();
  void Unread(int64_t pos, int64_t end, int64_t zeros_from);
  // Marks unreadable the untried bytes of [pos, end) where the target holds zeros; true if any.
  bool MarkHeldZeros(int64_t pos, int64_t end);
  void SaveWhenDue();

  platform::RescueMap map_;
  const platform::File& target_;
  platform::UniqueFd folder_;
  std::string name_;
  std::string temp_name_;
  bool exchange_supported_ = true;
  int64_t pending_pos_ = -1;  // rescued bytes not yet marked in map_: [pending_pos_, pending_end_)
  int64_t pending_end_ = -1;
  int64_t last_end_ = 0;      // where the bytes recorded last end: the status line's position
  bool save_wanted_ = false;  // an unreadable area was found since the last save
  int64_t next_save_ns_ = 0;  // monotonic clock: when a save after a failed read may follow
};

// The recorder for a copy of the source at `source_path` (`source_length` bytes) into the open
// `target` at `target_path`: with the map at <target>.map when it is this source's, with a new one
// when there is none and the target is shorter than the source. Null when no map is kept: standard
// error then says why, unless the target held the whole source and had no map (nothing changes
// then). A map file that is not this source's map, or a link at its path, is left alone.
std::unique_ptr<RescueRecorder> OpenRescueMap(const std::string& source_path, int64_t source_length,
                                              const std::string& target_path,
                                              const platform::File& target);

}  // namespace worker
