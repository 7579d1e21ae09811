// Files with 64-bit positions. Offsets here are 0-based; the copy logic keeps its 1-based
// positions and converts at the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "platform/core/unique_fd.h"

namespace platform {

// The outcome of a whole-buffer read or write: how many bytes were transferred, and the errno
// value that stopped the transfer (0 when none did: complete, or a read that met the end of file).
struct IoResult {
  size_t done = 0;
  int error = 0;
};

// A file's identity: two names, or two open files, are the same file when these are equal.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What an open file is.
struct FileInfo {
  FileIdentity id;
  // A regular file or a block device: bytes at positions and a length, something a copy can read.
  bool holds_data = false;
  const char* kind = "";  // "a directory", "a FIFO", ... for messages
};

class File {
 public:
  // Opens an existing file for reading only; never creates one. Never waits: a FIFO without a
  // writer or a terminal without a carrier opens at once (check Info before reading). A block
  // device is opened again as usual once it is known to be one, so a drive without a medium
  // fails here.
  static File OpenRead(const std::string& path, int* error);
  // Opens for reading and writing, creating a missing file (mode 0666 less the umask); never
  // truncates, never waits as OpenRead.
  static File OpenReadWrite(const std::string& path, int* error);

  File() = default;
  // Takes an open descriptor (one the caller opened itself, say relative to a folder).
  explicit File(UniqueFd fd) : fd_(std::move(fd)) {}
  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // What the open file is; false with *error set when that cannot be told.
  bool Info(FileInfo* info, int* error) const;

  // Current length in bytes (a block device's size for a device), or -1 with *error set.
  int64_t Length(int* error) const;

  // Reads buf.size() bytes at `offset`, going on after short counts and EINTR until the buffer is
  // full, the end of the file is met, or a read fails.
  IoResult ReadAt(std::span<std::byte> buf, int64_t offset) const;
  // Writes all of buf at `offset`, going on after short counts and EINTR.
  IoResult WriteAt(std::span<const std::byte> buf, int64_t offset) const;

  // Cuts the file to `length` bytes (or makes it that long); 0 or an errno value.
  int SetLength(int64_t length) const;
  // Flushes the file's data to the disk; 0 or an errno value.
  int Sync() const;
  // Closes the file; 0 or the errno value of close (a delayed write error shows up here).
  int Close() { return fd_.Close(); }

 private:
  UniqueFd fd_;
};

// Bytes that start on a memory page. The kernel copies file data to and from such a buffer
// markedly faster than to one that starts elsewhere in a page, as large malloc blocks do.
// The bytes start undefined. Throws std::bad_alloc when the memory cannot be had.
class PageBuffer {
 public:
  PageBuffer() = default;
  explicit PageBuffer(size_t size);

  std::byte* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(std::byte* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<std::byte[], Free> data_;
  size_t size_ = 0;
};

// The length of a named file (a block device's size for a device), or -1 with *error set
// (missing file, no permission).
int64_t FileLength(const std::string& path, int* error);

// The identity of the file a path names now (links followed); false with *error set when the
// path names nothing that can be examined.
bool IdentityAt(const std::string& path, FileIdentity* id, int* error);

// Whether a failed read's errno value says that the file is no longer there rather than that the
// bytes asked for are damaged: a disc ejected or a disk unplugged (ENOMEDIUM, ENODEV, ENXIO), a
// file system whose server went away (ENOTCONN, ESTALE; ECONNABORTED for a read that a FUSE server
// had in hand when it died).
bool MeansSourceGone(int error);

// Reads from `fd` until a read returns nothing, going on after short counts (which FUSE and
// network file systems return before the end) and EINTR; appends what it read to *text. 0, or the
// errno value that stopped it.
int ReadToEnd(int fd, std::string* text);

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they are not, so that no file
// opened later takes one of them and receives what is meant for standard error. False with errno
// set when that failed.
bool OpenStandardDescriptors();

// The text of an errno value, for messages.
std::string ErrorText(int error);

}  // namespace platform
