#include "platform/core/rescue_map.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace platform {

namespace {

constexpr std::string_view kTitle = "# Rescue map of vrel";
constexpr std::string_view kSourceLine = "# Source: ";
constexpr std::string_view kSizeLine = "# Source size: ";

// A path on one comment line: a backslash and a line break are written as \\ and \n.
std::string EscapePath(std::string_view path) {
  std::string text;
  for (const char c : path) {
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else {
      text += c;
    }
  }
  return text;
}

std::string UnescapePath(std::string_view text) {
  std::string path;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      path += text[i] == 'n' ? '\n' : text[i];
    } else {
      path += text[i];
    }
  }
  return path;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t\r", at);
    if (at == std::string_view::npos) return fields;
    const size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
}

// A position or size: hexadecimal after "0x", else decimal; never negative.
bool ToNumber(std::string_view text, int64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

std::optional<AreaStatus> ToAreaStatus(std::string_view text) {
  if (text.size() != 1) return std::nullopt;
  switch (text[0]) {
    case '?':
      return AreaStatus::kUntried;
    case '+':
      return AreaStatus::kRescued;
    case '-':
    case '*':
    case '/':
      return AreaStatus::kUnreadable;
    default:
      return std::nullopt;
  }
}

}  // namespace

RescueMap::RescueMap(std::string source_path, int64_t source_size)
    : source_path_(std::move(source_path)),
      source_size_(source_size),
      areas_{{0, source_size, AreaStatus::kUntried}} {}

void RescueMap::Mark(int64_t pos, int64_t size, AreaStatus status) {
  const int64_t end = size > source_size_ - pos ? source_size_ : pos + size;
  pos = std::max<int64_t>(pos, 0);
  if (pos >= end) return;
  // The first area that ends after pos, and the first that starts at or after end.
  auto first = std::upper_bound(areas_.begin(), areas_.end(), pos,
                                [](int64_t at, const MapArea& area) { return at < area.end(); });
  if (first->status == status && first->end() >= end) return;  // already so: the common case
  auto last = std::lower_bound(first, areas_.end(), end,
                               [](const MapArea& area, int64_t at) { return area.pos < at; });
  // What survives of the areas cut at either side, then the new one between them.
  std::vector<MapArea> pieces;
  if (first->pos < pos) pieces.push_back({first->pos, pos - first->pos, first->status});
  pieces.push_back({pos, end - pos, status});
  const MapArea& tail = *(last - 1);
  if (tail.end() > end) pieces.push_back({end, tail.end() - end, tail.status});
  // Neighbours of one status become one area.
  if (first != areas_.begin() && (first - 1)->status == pieces.front().status) {
    --first;
    pieces.front().size += pieces.front().pos - first->pos;
    pieces.front().pos = first->pos;
  }
  if (last != areas_.end() && last->status == pieces.back().status) {
    pieces.back().size = last->end() - pieces.back().pos;
    ++last;
  }
  std::vector<MapArea> merged;
  for (const MapArea& piece : pieces) {
    if (!merged.empty() && merged.back().status == piece.status) {
      merged.back().size += piece.size;
    } else {
      merged.push_back(piece);
    }
  }
  const auto at = areas_.erase(first, last);
  areas_.insert(at, merged.begin(), merged.end());
}

int64_t RescueMap::Bytes(AreaStatus status) const {
  int64_t bytes = 0;
  for (const MapArea& area : areas_) {
    if (area.status == status) bytes += area.size;
  }
  return bytes;
}

int64_t RescueMap::Count(AreaStatus status) const {
  return std::count_if(areas_.begin(), areas_.end(),
                       [status](const MapArea& area) { return area.status == status; });
}

std::string RescueMap::Text() const {
  std::string text;
  text.reserve(200 + 40 * areas_.size());
  text.append(kTitle).append("\n");
  text.append(kSourceLine).append(EscapePath(source_path_)).append("\n");
  text.append(kSizeLine).append(std::to_string(source_size_)).append("\n");
  char line[160];
  (void)std::snprintf(line, sizeof line,
                      "# current_pos  current_status  current_pass\n0x%08" PRIX64
                      "     %c     "
                      "          %d\n#      pos        size  status\n",
                      current_pos, current_status, current_pass);
  text += line;
  for (const MapArea& area : areas_) {
    (void)std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", area.pos,
                        area.size, static_cast<char>(area.status));
    text += line;
  }
  return text;
}

std::optional<RescueMap> RescueMap::Parse(std::string_view text, std::string* error) {
  RescueMap map;
  int64_t named_size = -1;
  bool have_status = false;
  int line_number = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(line_number) + ": " + why;
    return std::nullopt;
  };
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++line_number;
    if (line.starts_with(kSourceLine)) {
      map.source_path_ = UnescapePath(line.substr(kSourceLine.size()));
      continue;
    }
    if (line.starts_with(kSizeLine)) {
      if (!ToNumber(line.substr(kSizeLine.size()), &named_size)) return fail("a bad source size");
      continue;
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty() || fields[0].starts_with('#')) continue;
    if (!have_status) {
      // current_pos current_status [current_pass]
      int64_t pass = 1;
      if (fields.size() < 2 || fields.size() > 3 || !ToNumber(fields[0], &map.current_pos) ||
          fields[1].size() != 1 ||
          std::string_view("?*/-FG+").find(fields[1][0]) == std::string_view::npos ||
          (fields.size() == 3 && (!ToNumber(fields[2], &pass) || pass < 1 || pass > 99))) {
        return fail("no status line");
      }
      map.current_status = fields[1][0];
      map.current_pass = static_cast<int>(pass);
      have_status = true;
      continue;
    }
    MapArea area;
    const std::optional<AreaStatus> status =
        fields.size() == 3 ? ToAreaStatus(fields[2]) : std::nullopt;
    if (!status || !ToNumber(fields[0], &area.pos) || !ToNumber(fields[1], &area.size) ||
        area.size < 1 || area.pos > std::numeric_limits<int64_t>::max() - area.size) {
      return fail("not an area (position, size, status)");
    }
    area.status = *status;
    const int64_t expected = map.areas_.empty() ? 0 : map.areas_.back().end();
    if (area.pos != expected) return fail("an area that does not follow the one before it");
    if (!map.areas_.empty() && map.areas_.back().status == area.status) {
      map.areas_.back().size += area.size;
    } else {
      map.areas_.push_back(area);
    }
  }
  if (map.areas_.empty()) return fail(have_status ? "no areas" : "no status line");
  map.source_size_ = map.areas_.back().end();
  if (named_size >= 0 && named_size != map.source_size_) {
    return fail("the areas end at " + std::to_string(map.source_size_) + ", the source holds " +
                std::to_string(named_size) + " bytes");
  }
  return map;
}

}  // namespace platform
