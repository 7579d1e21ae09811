#include "platform/core/file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace platform {

namespace {

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens without waiting: O_NONBLOCK makes a FIFO without its other end, or a line without a
// carrier, open at once. It is cleared again for the reads and writes, except on a block device,
// which is opened once more as usual: without O_NONBLOCK a drive checks its medium at the open.
int OpenWithoutWaiting(const std::string& path, int flags, mode_t mode, int* error) {
  UniqueFd fd(OpenRetrying(path, flags | O_NONBLOCK, mode));
  struct stat meta {};
  if (!fd.valid() || ::fstat(fd.get(), &meta) != 0) {
    *error = errno;
    return -1;
  }
  if (S_ISBLK(meta.st_mode)) {
    UniqueFd device(OpenRetrying(path, flags & ~O_CREAT, 0));
    struct stat again {};
    if (!device.valid() || ::fstat(device.get(), &again) != 0) {
      *error = errno;
      return -1;
    }
    if (!S_ISBLK(again.st_mode) || again.st_rdev != meta.st_rdev) {
      *error = EAGAIN;  // the name was given to another file meanwhile
      return -1;
    }
    fd = std::move(device);
  } else {
    const int status = ::fcntl(fd.get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
      *error = errno;
      return -1;
    }
  }
  *error = 0;
  return fd.release();
}

// How a message names the kind of file that `mode` describes.
const char* KindName(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  return "a special file";
}

}  // namespace

File File::OpenRead(const std::string& path, int* error) {
  return File(UniqueFd(OpenWithoutWaiting(path, O_RDONLY, 0, error)));
}

File File::OpenReadWrite(const std::string& path, int* error) {
  return File(UniqueFd(OpenWithoutWaiting(path, O_RDWR | O_CREAT, 0666, error)));
}

bool File::Info(FileInfo* info, int* error) const {
  struct stat meta {};
  if (::fstat(fd_.get(), &meta) != 0) {
    *error = errno;
    return false;
  }
  info->id = {static_cast<uint64_t>(meta.st_dev), static_cast<uint64_t>(meta.st_ino)};
  info->holds_data = S_ISREG(meta.st_mode) || S_ISBLK(meta.st_mode);
  info->kind = KindName(meta.st_mode);
  *error = 0;
  return true;
}

namespace {

// A disc or disk read through its device has no file size: the device knows its own.
int64_t LengthOf(int fd, const struct stat& meta, int* error) {
  if (!S_ISBLK(meta.st_mode)) {
    *error = 0;
    return meta.st_size;
  }
  uint64_t bytes = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
    *error = errno;
    return -1;
  }
  *error = 0;
  return static_cast<int64_t>(bytes);
}

}  // namespace

int64_t File::Length(int* error) const {
  struct stat meta {};
  if (::fstat(fd_.get(), &meta) != 0) {
    *error = errno;
    return -1;
  }
  return LengthOf(fd_.get(), meta, error);
}

namespace {

// Calls `transfer` (pread or pwrite) until all `size` bytes at `offset` have moved, going on after
// short counts and EINTR. A call that moves nothing ends it with `stalled` as the error.
template <typename Byte, typename Transfer>
IoResult TransferAll(int fd, Byte* bytes, size_t size, int64_t offset, Transfer transfer,
                     int stalled) {
  IoResult result;
  while (result.done < size) {
    const ssize_t moved = transfer(fd, bytes + result.done, size - result.done,
                                   static_cast<off_t>(offset + static_cast<int64_t>(result.done)));
    if (moved > 0) {
      result.done += static_cast<size_t>(moved);
    } else if (moved == 0) {
      result.error = stalled;
      break;
    } else if (errno != EINTR) {
      result.error = errno;
      break;
    }
  }
  return result;
}

}  // namespace

IoResult File::ReadAt(std::span<std::byte> buf, int64_t offset) const {
  return TransferAll(fd_.get(), buf.data(), buf.size(), offset, ::pread, 0);  // 0: end of file
}

IoResult File::WriteAt(std::span<const std::byte> buf, int64_t offset) const {
  // A write that makes no progress would otherwise loop for ever.
  return TransferAll(fd_.get(), buf.data(), buf.size(), offset, ::pwrite, ENOSPC);
}

int File::SetLength(int64_t length) const {
  int rc;
  do {
    rc = ::ftruncate(fd_.get(), static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

int File::Sync() const {
  if (::fsync(fd_.get()) == 0) return 0;
  // Files that cannot be flushed (pipes, some special files) have nothing to lose.
  return errno == EINVAL ? 0 : errno;
}

PageBuffer::PageBuffer(size_t size) : size_(size) {
  static const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  // aligned_alloc wants a whole number of pages.
  const size_t rounded = (std::max<size_t>(size, 1) + page - 1) / page * page;
  data_.reset(static_cast<std::byte*>(std::aligned_alloc(page, rounded)));
  if (!data_) throw std::bad_alloc();
}

int64_t FileLength(const std::string& path, int* error) {
  struct stat meta {};
  if (::stat(path.c_str(), &meta) != 0) {
    *error = errno;
    return -1;
  }
  if (!S_ISBLK(meta.st_mode)) return LengthOf(-1, meta, error);
  const File device = File::OpenRead(path, error);
  return device.is_open() ? device.Length(error) : -1;
}

bool IdentityAt(const std::string& path, FileIdentity* id, int* error) {
  struct stat meta {};
  if (::stat(path.c_str(), &meta) != 0) {
    *error = errno;
    return false;
  }
  *id = {static_cast<uint64_t>(meta.st_dev), static_cast<uint64_t>(meta.st_ino)};
  *error = 0;
  return true;
}

bool MeansSourceGone(int error) {
  switch (error) {
    case ENOTCONN:
    case ECONNABORTED:
    case ENODEV:
    case ENXIO:
    case ENOMEDIUM:
    case ESTALE:
      return true;
    default:
      return false;
  }
}

int ReadToEnd(int fd, std::string* text) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      text->append(chunk, static_cast<size_t>(got));
    } else if (got == 0) {
      return 0;
    } else if (errno != EINTR) {
      return errno;
    }
  }
}

bool OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free descriptor is taken: this one, as the lower ones are open.
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) return false;
    if (null != fd) {
      ::close(null);
      errno = EBADF;
      return false;
    }
  }
  return true;
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace platform
