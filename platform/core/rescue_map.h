// The rescue map: which bytes of a source a rescue has read, which it could not read, and which it
// has not tried yet. It is kept as text beside the target in GNU ddrescue's documented mapfile
// format, so that tools that read such maps (ddrescuelog, map viewers) read ours; two comment
// lines of our own name the source, so that a later run can tell a map of this source from another.
//
//   # Rescue map of vrel
//   # Source: /media/cdrom/disk.img
//   # Source size: 1048576
//   # current_pos  current_status  current_pass
//   0x00080000     ?               1
//   #      pos        size  status
//   0x00000000  0x00080000  +
//   0x00080000  0x00000200  -
//   0x00080200  0x0007FE00  ?
//
// Positions are 0-based byte offsets. The areas cover the source from 0 to its end without gaps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class AreaStatus : char {
  kUntried = '?',     // not read yet
  kUnreadable = '-',  // its read failed: the target holds zeros there that no read delivered
  kRescued = '+',     // read: the target holds the source's bytes
};

struct MapArea {
  int64_t pos = 0;
  int64_t size = 0;
  AreaStatus status = AreaStatus::kUntried;

  int64_t end() const { return pos + size; }
  bool operator==(const MapArea&) const = default;
};

class RescueMap {
 public:
  // A map of the source at `source_path` holding `source_size` bytes (at least 1), all untried.
  RescueMap(std::string source_path, int64_t source_size);

  // Reads a mapfile's text. Besides our own maps it takes those of other tools, whose areas may
  // also be '*' (failed, not trimmed) or '/' (failed, not scraped): both count as unreadable.
  // A map without our comment lines names no source path, and its size is the end of its last
  // area. Nullopt with *error set when the text is no mapfile: no status line, an area that does
  // not follow the one before it, an unknown status, a number that is not one, or a size that
  // differs from the end of the areas.
  static std::optional<RescueMap> Parse(std::string_view text, std::string* error);

  // The mapfile's text, areas in hexadecimal.
  std::string Text() const;

  const std::string& source_path() const { return source_path_; }
  int64_t source_size() const { return source_size_; }
  // Whether this is the map of the source at `path` with `size` bytes.
  bool Describes(std::string_view path, int64_t size) const {
    return source_path_ == path && source_size_ == size;
  }

  // In order from position 0; neighbours always differ in status.
  const std::vector<MapArea>& areas() const { return areas_; }
  // Gives the bytes [pos, pos + size), clipped to the source, the status `status`.
  void Mark(int64_t pos, int64_t size, AreaStatus status);
  // How many bytes, and how many areas, have `status`.
  int64_t Bytes(AreaStatus status) const;
  int64_t Count(AreaStatus status) const;

  // The status line: where the rescue stands. `current_status` is '?' while copying, '-' while
  // retrying, '+' when done (the other tools' letters '*', '/', 'F' and 'G' are read as well).
  int64_t current_pos = 0;
  char current_status = '?';
  int current_pass = 1;

 private:
  RescueMap() = default;

  std::string source_path_;
  int64_t source_size_ = 0;
  std::vector<MapArea> areas_;
};

}  // namespace platform
