#include "worker/rescue_map_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/core/replace_file.h"

namespace worker {

namespace {

using platform::AreaStatus;
using platform::MapArea;

// Saves after a failed read wait this long after the last one, so that a stretch of failing
// blocks costs a few saves a second, not one per block; and four times as long as the last save
// took, so that a slow target's flushes take a fifth of the time at most.
constexpr int64_t kSaveIntervalNs = 250'000'000;
constexpr int64_t kSaveCostFactor = 4;

int64_t NowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void Warn(const std::string& text) { (void)std::fprintf(stderr, "vrel: %s\n", text.c_str()); }

}  // namespace

std::string RescueMapPath(const std::string& target_path) { return target_path + ".map"; }

RescueRecorder::RescueRecorder(platform::RescueMap map, const platform::File& target,
                               platform::UniqueFd folder, std::string name)
    : map_(std::move(map)),
      target_(target),
      folder_(std::move(folder)),
      name_(std::move(name)),
      temp_name_("." + name_ + ".tmp") {}

void RescueRecorder::Flush() {
  if (pending_end_ > pending_pos_) {
    map_.Mark(pending_pos_, pending_end_ - pending_pos_, AreaStatus::kRescued);
    last_end_ = pending_end_;
  }
  pending_pos_ = pending_end_ = -1;
}

void RescueRecorder::Unread(int64_t pos, int64_t end, int64_t zeros_from) {
  Flush();
  last_end_ = end;
  const int64_t zeros = std::max(pos, zeros_from);
  bool found = zeros < end;  // a newly found unreadable area
  if (found) map_.Mark(zeros, end - zeros, AreaStatus::kUnreadable);
  if (pos < std::min(end, zeros_from) && MarkHeldZeros(pos, std::min(end, zeros_from))) {
    found = true;
  }
  if (!found) return;
  save_wanted_ = true;
  SaveWhenDue();
}

bool RescueRecorder::MarkHeldZeros(int64_t pos, int64_t end) {
  // Rescued bytes stay rescued and unreadable ones hold zeros already: only untried bytes that
  // the target holds change, and only where the target holds zeros. A copy's blocks never meet
  // untried bytes here; a retry pass's do.
  std::vector<MapArea> untried;
  for (const MapArea& area : map_.areas()) {
    if (area.status != AreaStatus::kUntried || area.end() <= pos || area.pos >= end) continue;
    const int64_t from = std::max(area.pos, pos);
    untried.push_back({from, std::min(area.end(), end) - from, AreaStatus::kUntried});
  }
  std::vector<std::byte> bytes;
  bool marked = false;
  for (const MapArea& piece : untried) {
    int64_t zeros_from = -1;  // where the run of zeros in hand began
    for (int64_t at = piece.pos; at < piece.end(); at += std::ssize(bytes)) {
      bytes.resize(static_cast<size_t>(std::min<int64_t>(piece.end() - at, 65536)));
      const platform::IoResult got = target_.ReadAt(bytes, at);
      // Bytes the target could not give are taken as not zero: nothing is claimed of them.
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(got.done), bytes.end(), std::byte{1});
      for (size_t i = 0; i < bytes.size(); ++i) {
        const int64_t here = at + static_cast<int64_t>(i);
        if (bytes[i] == std::byte{0}) {
          if (zeros_from < 0) zeros_from = here;
        } else if (zeros_from >= 0) {
          map_.Mark(zeros_from, here - zeros_from, AreaStatus::kUnreadable);
          zeros_from = -1;
          marked = true;
        }
      }
    }
    if (zeros_from >= 0) {
      map_.Mark(zeros_from, piece.end() - zeros_from, AreaStatus::kUnreadable);
      marked = true;
    }
  }
  return marked;
}

std::vector<MapArea> RescueRecorder::AreasToRetry() {
  Flush();
  std::vector<MapArea> areas;
  for (const MapArea& area : map_.areas()) {
    if (area.status != AreaStatus::kRescued) areas.push_back(area);
  }
  return areas;
}

void RescueRecorder::StartRetry() {
  map_.current_status = '-';
  map_.current_pass = std::min(map_.current_pass + 1, 99);
}

void RescueRecorder::SaveWhenDue() {
  const int64_t now = NowNs();
  if (now < next_save_ns_) return;
  std::string error;
  if (!Save(&error)) Warn(error + "; the copy goes on without updating it");
  const int64_t done = NowNs();
  next_save_ns_ = done + std::max(kSaveIntervalNs, kSaveCostFactor * (done - now));
}

bool RescueRecorder::Save(std::string* error) {
  Flush();
  save_wanted_ = false;
  next_save_ns_ = NowNs() + kSaveIntervalNs;
  map_.current_pos = last_end_;
  if (!folder_.valid()) return true;
  // The map may claim only bytes that are on the disk.
  if (::fdatasync(target_.fd()) != 0 && errno != EINVAL) {
    *error = "cannot flush the target: " + platform::ErrorText(errno) + ": the rescue map '" +
             name_ + "' is not saved";
    folder_.reset();
    return false;
  }
  platform::ReplaceStep failed = platform::ReplaceStep::kCreate;
  const int failure =
      platform::ReplaceFileAt(folder_.get(), name_.c_str(), temp_name_.c_str(), map_.Text(),
                              {0666, false, true}, &exchange_supported_, &failed);
  if (failure == 0) return true;
  *error = std::string(failed == platform::ReplaceStep::kCreate  ? "cannot create '"
                       : failed == platform::ReplaceStep::kWrite ? "cannot write '"
                                                                 : "cannot replace '") +
           (failed == platform::ReplaceStep::kReplace ? name_ : temp_name_) +
           "' beside the target: " + platform::ErrorText(failure);
  folder_.reset();  // no later save: the map in place stays as it is
  return false;
}

void RescueRecorder::End(bool finished) {
  if (finished) map_.current_status = '+';
  std::string error;
  if (!Save(&error)) Warn(error);
}

std::unique_ptr<RescueRecorder> OpenRescueMap(const std::string& source_path, int64_t source_length,
                                              const std::string& target_path,
                                              const platform::File& target) {
  const std::string path = RescueMapPath(target_path);
  auto without_map = [&path](const std::string& why) {
    Warn("no rescue map '" + path + "': " + why + "; the copy goes on without one");
    return nullptr;
  };
  if (source_length <= 0) return without_map("the source is empty");
  // A device or a character file as the target would put the map among the system's devices.
  struct stat meta {};
  if (::fstat(target.fd(), &meta) != 0) {
    return without_map("cannot examine the target: " + platform::ErrorText(errno));
  }
  if (!S_ISREG(meta.st_mode)) return without_map("the target is not a regular file");
  const int64_t target_length = meta.st_size;
  const size_t slash = path.find_last_of('/');
  const std::string folder_path = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  platform::UniqueFd folder(::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return without_map("cannot open its folder: " + platform::ErrorText(errno));

  std::string text;
  const int read_error = platform::ReadRegularFileAt(folder.get(), name.c_str(), &text);
  std::optional<platform::RescueMap> map;
  if (read_error == ENOENT) {
    // A target that holds the whole source and has no map is left as it is, as it always was.
    if (target_length >= source_length) return nullptr;
    // The bytes it holds were not read by this map: untried, so that a retry pass reads them.
    map.emplace(source_path, source_length);
  } else if (read_error == platform::kNotARegularFile) {
    return without_map("a link or a special file is at its path, and is left alone");
  } else if (read_error != 0) {
    return without_map("cannot read it: " + platform::ErrorText(read_error));
  } else {
    std::string why;
    map = platform::RescueMap::Parse(text, &why);
    if (!map) return without_map("the file at its path is no rescue map (" + why + "), left alone");
    if (!map->Describes(source_path, source_length)) {
      return without_map("it is the map of another source ('" + map->source_path() + "', " +
                         std::to_string(map->source_size()) + " bytes), left alone");
    }
  }
  // What the target does not hold is untried, whatever the map said.
  if (target_length < source_length)
    map->Mark(target_length, source_length - target_length, AreaStatus::kUntried);
  map->current_status = '?';
  auto recorder =
      std::make_unique<RescueRecorder>(std::move(*map), target, std::move(folder), std::move(name));
  // Saved at once: a folder that cannot take the map shows before the copy begins.
  std::string error;
  if (!recorder->Save(&error)) return without_map(error);
  return recorder;
}

}  // namespace worker
