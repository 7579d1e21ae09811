// The copy's source reader: reads through the page cache where the medium is healthy, and reads
// a failing area directly, in the finest pieces the medium can be asked for.
//
// Through the page cache a failed read fails a whole cache unit (a folio of 32 KiB or more), so
// a few bad sectors would cost every block in the folio around them. Where a page-cache read
// fails with damage, this reader reads the rest of the request with direct I/O in units of the
// file's direct-I/O alignment (the sector size of a block device; one byte where the file
// system takes unaligned direct reads, as FUSE does), so a read delivers every byte before its
// first unreadable unit. An area where the page cache failed is read directly from then on, so
// the cache does not fail it again. A unit whose direct read failed is remembered and never read
// again in this run: a later read that touches it ends there with the error it gave. Where the
// file system refuses direct I/O (squashfs, iso9660), the area is read one page at a time
// through a second descriptor without readahead, each page dropped from the cache first so that
// no larger failed folio stands in for it; the unit is then the page.
//
// Only errors that mean damage (EIO, ENODATA, ...) start the direct reads and mark a unit bad.
// Any other error (ENODEV, ENOMEDIUM, ESTALE, ...: a medium that went away) is returned as it
// came, and nothing is recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/core/file_io.h"
#include "worker/fc.h"

namespace worker {

// Whether a read's errno value says that the medium could not deliver those bytes (a bad spot),
// not that the medium or its connection went away.
bool IsDamage(int error);

class SourceReader final : public BlockReader {
 public:
  explicit SourceReader(const platform::File& file) : file_(file) {}

  // Reads buf.size() bytes at the 0-based `offset`. The result's error is the errno of the
  // failure that ended the read, unchanged; `done` counts the bytes before it.
  platform::IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override;

  // The unit of direct reads in bytes once a failing area was met, else 0.
  int64_t unit() const { return unit_; }
  // Whether the unit reads go through the page cache (direct I/O refused).
  bool reads_pages() const { return mode_ == Mode::kPages; }

 private:
  enum class Mode { kNone, kDirect, kPages };
  struct Span {
    int64_t start;
    int64_t end;
    int error;  // bad units: the errno their read gave
  };

  // Prepares the unit reads: works out the unit and opens the second descriptor. 0 or the
  // errno of the open that failed.
  int OpenUnitReader();
  // Switches to reading pages through the cache, without readahead.
  int OpenPageReader();
  // Reads [from, from + buf.size()) in units, each bad unit it meets read once.
  platform::IoResult ReadUnits(std::span<std::byte> buf, int64_t from);
  // One request of whole units at the unit-aligned `at` into `into`, in the bounce buffer.
  platform::IoResult ReadPiece(int64_t at, int64_t size, std::byte* into);
  // Reads the aligned 2 MiB around `at` in units from now on.
  void AddZone(int64_t at);
  // Adds `span` to the sorted, disjoint `spans`.
  static void Insert(std::vector<Span>& spans, Span span);

  const platform::File& file_;
  platform::File unit_file_;  // the unit reads: direct, or pages without readahead
  Mode mode_ = Mode::kNone;
  int64_t unit_ = 0;
  platform::PageBuffer bounce_;
  Span held_{0, 0, 0};            // the bytes the bounce buffer holds from the last unit read
  std::vector<Span> bad_;         // bad units, sorted, disjoint
  std::vector<Span> zones_;       // areas read in units, sorted, disjoint
  std::vector<Span> good_pages_;  // pages read in full by the page reader: cached
};

}  // namespace worker
