#include "worker/source_reader.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace worker {

namespace {

using platform::IoResult;

// An area where the page cache failed is read in units from then on: the aligned 2 MiB around
// the failure, which holds the largest folio the cache may have failed there.
constexpr int64_t kZone = int64_t{2} << 20;
// Unit reads grow from one unit to this many bytes while they succeed.
constexpr int64_t kLargestPiece = int64_t{1} << 20;
// The bounce buffer keeps this many bytes of consecutive unit reads for the blocks after them.
constexpr int64_t kHeldBytes = int64_t{4} << 20;
constexpr long kFuseSuperMagic = 0x65735546;

int64_t AlignDown(int64_t at, int64_t unit) { return at / unit * unit; }
int64_t AlignUp(int64_t at, int64_t unit) { return (at + unit - 1) / unit * unit; }

// The first span of the sorted, disjoint `spans` that reaches past `offset`.
template <typename Spans>
auto FirstEndingAfter(Spans& spans, int64_t offset) {
  return std::partition_point(spans.begin(), spans.end(),
                              [offset](const auto& span) { return span.end <= offset; });
}

int OpenAgain(int fd, int flags) {
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  int again;
  do {
    again = ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (again < 0 && errno == EINTR);
  return again;
}

}  // namespace

bool IsDamage(int error) {
  switch (error) {
    case EIO:        // a failed read: a bad sector, a failed transfer
    case ENODATA:    // a medium error reported by the drive
    case EILSEQ:     // a protection-information mismatch
    case EBADMSG:    // a file system's checksum over the data failed
    case EREMOTEIO:  // the drive refused the request
    case EUCLEAN:    // a file system found its own structure damaged
      return true;
    default:
      return false;
  }
}

IoResult SourceReader::ReadAt(std::span<std::byte> buf, int64_t offset) {
  const int64_t end = offset + static_cast<int64_t>(buf.size());
  // A known bad unit ends the read where it starts, as reading it again would.
  int64_t stop = end;
  int stop_error = 0;
  if (!bad_.empty()) {
    const auto bad = FirstEndingAfter(bad_, offset);
    if (bad != bad_.end() && bad->start < end) {
      stop = std::max(bad->start, offset);
      stop_error = bad->error;
    }
  }
  const auto wanted = static_cast<size_t>(stop - offset);
  IoResult result;
  if (wanted > 0) {
    bool wanted_in_units = true;
    const auto zone = FirstEndingAfter(zones_, offset);
    if (zone == zones_.end() || zone->start >= stop) {
      result = file_.ReadAt(buf.first(wanted), offset);
      // The page cache may have failed a whole folio around a bad spot: the rest is read in
      // units. Where that cannot be set up, the read's own failure stands.
      if (result.error != 0 && IsDamage(result.error) && OpenUnitReader() == 0) {
        AddZone(offset + static_cast<int64_t>(result.done));
      } else {
        wanted_in_units = false;
      }
    }
    if (wanted_in_units) {
      const IoResult rest = ReadUnits(buf.subspan(result.done, wanted - result.done),
                                      offset + static_cast<int64_t>(result.done));
      result.done += rest.done;
      result.error = rest.error;
    }
  }
  if (result.done == wanted && result.error == 0 && stop < end) result.error = stop_error;
  return result;
}

IoResult SourceReader::ReadUnits(std::span<std::byte> buf, int64_t from) {
  const int64_t stop = from + static_cast<int64_t>(buf.size());
  IoResult result;
  int64_t pos = from;
  int64_t piece_units = 1;
  int64_t scan_end = 0;  // below it, one unit at a time: a failed piece is searched for its unit
  while (pos < stop) {
    if (pos >= held_.start && pos < held_.end) {
      // Still in the bounce buffer from earlier unit reads: small or overlapping blocks take
      // their bytes from there instead of asking the medium for the same units again.
      const int64_t held_end = std::min(held_.end, stop);
      std::memcpy(buf.data() + (pos - from), bounce_.data() + (pos - held_.start),
                  static_cast<size_t>(held_end - pos));
      pos = held_end;
      result.done = static_cast<size_t>(pos - from);
      continue;
    }
    const int64_t largest_units =
        mode_ == Mode::kPages ? 1 : std::max<int64_t>(1, kLargestPiece / unit_);
    const int64_t at = AlignDown(pos, unit_);
    const int64_t units = pos < scan_end ? 1 : std::min(piece_units, largest_units);
    const int64_t piece_end = std::min(AlignUp(stop, unit_), at + units * unit_);
    // The piece continues the bytes held where it follows them and fits, else starts afresh.
    if (at != held_.end || piece_end - held_.start > kHeldBytes) held_ = {at, at, 0};
    if (bounce_.size() < static_cast<size_t>(std::max(piece_end - at, kHeldBytes))) {
      bounce_ = platform::PageBuffer(static_cast<size_t>(std::max(piece_end - at, kHeldBytes)));
      held_ = {at, at, 0};
    }
    const IoResult piece = ReadPiece(at, piece_end - at, bounce_.data() + (at - held_.start));
    if (piece.error == EINVAL && mode_ == Mode::kDirect) {
      // The file system refuses direct reads after all (or at this alignment).
      if (OpenPageReader() != 0) return {result.done, piece.error};
      piece_units = 1;
      continue;
    }
    // Of a failed piece only whole units count: the unit holding the failure is unreadable.
    const int64_t unit_bytes = static_cast<int64_t>(piece.done);
    const int64_t got_end = at + (piece.error == 0 ? unit_bytes : AlignDown(unit_bytes, unit_));
    held_.end = got_end;
    const int64_t copied_end = std::min(got_end, stop);
    if (copied_end > pos) {
      std::memcpy(buf.data() + (pos - from), bounce_.data() + (pos - held_.start),
                  static_cast<size_t>(copied_end - pos));
      pos = copied_end;
      result.done = static_cast<size_t>(pos - from);
    }
    if (got_end >= piece_end) {
      piece_units = std::min(2 * piece_units, kLargestPiece);
      continue;
    }
    if (piece.error == 0 || !IsDamage(piece.error)) {
      result.error = piece.error;  // the end of the file, or a medium that went away
      return result;
    }
    if (piece_end - got_end > unit_) {
      // The bad unit is somewhere in the rest of the piece: one unit at a time finds it with
      // one failing read.
      scan_end = piece_end;
      piece_units = 1;
      continue;
    }
    Insert(bad_, {got_end, got_end + unit_, piece.error});
    AddZone(got_end);  // the page cache would fail the folio that holds it
    result.error = piece.error;
    return result;
  }
  return result;
}

IoResult SourceReader::ReadPiece(int64_t at, int64_t size, std::byte* into) {
  auto good = FirstEndingAfter(good_pages_, at);
  const bool known_good = good != good_pages_.end() && good->start <= at;
  if (mode_ == Mode::kPages && !known_good) {
    // A larger folio that failed, or that readahead made, would fail this page with it: drop
    // the cache around it first, up to the pages already read well, which stay cached. Only
    // advice: should it fail, the read still tells the truth, at worst about a wider area.
    int64_t drop_from = AlignDown(at, kZone);
    int64_t drop_to = AlignUp(at + size, kZone);
    if (good != good_pages_.end()) drop_to = std::min(drop_to, good->start);
    if (good != good_pages_.begin()) drop_from = std::max(drop_from, std::prev(good)->end);
    (void)::posix_fadvise(unit_file_.fd(), drop_from, drop_to - drop_from, POSIX_FADV_DONTNEED);
  }
  IoResult piece = unit_file_.ReadAt({into, static_cast<size_t>(size)}, at);
  // Direct reads continue after a short count at an unaligned offset, which the end of the
  // file gives and the kernel may refuse: that is still the end of the file.
  if (piece.error == EINVAL && piece.done > 0 && mode_ == Mode::kDirect) piece.error = 0;
  if (mode_ == Mode::kPages && !known_good && piece.error == 0 &&
      piece.done == static_cast<size_t>(size)) {
    Insert(good_pages_, {at, at + size, 0});
  }
  return piece;
}

int SourceReader::OpenUnitReader() {
  if (mode_ != Mode::kNone) return 0;
  const int fd = file_.fd();
  struct stat meta {};
  if (::fstat(fd, &meta) != 0) return errno;
  int64_t unit = 512;  // where nothing tells the alignment: the usual sector
  if (S_ISBLK(meta.st_mode)) {
    int sector = 0;
    if (::ioctl(fd, BLKSSZGET, &sector) == 0 && sector > 0) unit = sector;
  } else {
    struct statx about {};
    struct statfs fs {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &about) == 0 &&
        (about.stx_mask & STATX_DIOALIGN) != 0) {
      if (about.stx_dio_offset_align == 0) return OpenPageReader();  // no direct I/O here
      unit = about.stx_dio_offset_align;
    } else if (::fstatfs(fd, &fs) == 0 && fs.f_type == kFuseSuperMagic) {
      unit = 1;  // FUSE passes direct reads of any size and offset on
    }
  }
  const int direct = OpenAgain(fd, O_DIRECT);
  if (direct < 0) return errno == EINVAL ? OpenPageReader() : errno;
  unit_file_ = platform::File(platform::UniqueFd(direct));
  unit_ = unit;
  mode_ = Mode::kDirect;
  return 0;
}

int SourceReader::OpenPageReader() {
  const int fd = OpenAgain(file_.fd(), 0);
  if (fd < 0) return errno;
  unit_file_ = platform::File(platform::UniqueFd(fd));
  // Readahead would read the neighbours of a failing page with it. Only advice, as above.
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  unit_ = std::max<int64_t>({unit_, ::sysconf(_SC_PAGESIZE), 1});
  mode_ = Mode::kPages;
  return 0;
}

void SourceReader::AddZone(int64_t at) {
  const int64_t zone_start = AlignDown(at, kZone);
  Insert(zones_, {zone_start, zone_start + kZone, 0});
}

void SourceReader::Insert(std::vector<Span>& spans, Span span) {
  // Spans that overlap or touch it with the same error become one with it.
  auto next = FirstEndingAfter(spans, span.start);
  if (next != spans.begin() && std::prev(next)->end == span.start &&
      std::prev(next)->error == span.error) {
    --next;
  }
  while (next != spans.end() && next->start <= span.end && next->error == span.error) {
    span.start = std::min(span.start, next->start);
    span.end = std::max(span.end, next->end);
    next = spans.erase(next);
  }
  spans.insert(next, span);
}

}  // namespace worker
