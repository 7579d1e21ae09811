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

namespace platform {

namespace {

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

File File::OpenRead(const std::string& path, int* error) {
  const int fd = OpenRetrying(path, O_RDONLY, 0);
  *error = fd < 0 ? errno : 0;
  return File(fd);
}

File File::OpenReadWrite(const std::string& path, int* error) {
  const int fd = OpenRetrying(path, O_RDWR | O_CREAT, 0666);
  *error = fd < 0 ? errno : 0;
  return File(fd);
}

namespace {

// A disc or disk read through its device has no file size: the device knows its own.
int64_t LengthOf(int fd, const struct stat& st, int* error) {
  if (!S_ISBLK(st.st_mode)) {
    *error = 0;
    return st.st_size;
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
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0) {
    *error = errno;
    return -1;
  }
  return LengthOf(fd_.get(), st, error);
}

IoResult File::ReadAt(std::span<std::byte> buf, int64_t offset) const {
  IoResult r;
  while (r.done < buf.size()) {
    const ssize_t n = ::pread(fd_.get(), buf.data() + r.done, buf.size() - r.done,
                              static_cast<off_t>(offset + static_cast<int64_t>(r.done)));
    if (n > 0) {
      r.done += static_cast<size_t>(n);
    } else if (n == 0) {
      break;  // end of file
    } else if (errno != EINTR) {
      r.error = errno;
      break;
    }
  }
  return r;
}

IoResult File::WriteAt(std::span<const std::byte> buf, int64_t offset) const {
  IoResult r;
  while (r.done < buf.size()) {
    const ssize_t n = ::pwrite(fd_.get(), buf.data() + r.done, buf.size() - r.done,
                               static_cast<off_t>(offset + static_cast<int64_t>(r.done)));
    if (n > 0) {
      r.done += static_cast<size_t>(n);
    } else if (n == 0) {
      r.error = ENOSPC;  // a write that makes no progress would otherwise loop for ever
      break;
    } else if (errno != EINTR) {
      r.error = errno;
      break;
    }
  }
  return r;
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
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno;
    return -1;
  }
  if (!S_ISBLK(st.st_mode)) return LengthOf(-1, st, error);
  const File device = File::OpenRead(path, error);
  return device.is_open() ? device.Length(error) : -1;
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace platform
