#include "platform/core/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <span>

#include "platform/core/file_io.h"
#include "platform/core/unique_fd.h"

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace platform {

namespace {

int RenameExchange(int dir_fd, const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return ::renameat2(dir_fd, from, dir_fd, to, RENAME_EXCHANGE);
#else
  return static_cast<int>(::syscall(SYS_renameat2, dir_fd, from, dir_fd, to, RENAME_EXCHANGE));
#endif
}

int OpenFresh(int dir_fd, const char* name, mode_t mode) {
  return ::openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

}  // namespace

int ReadRegularFileAt(int dir_fd, const char* name, std::string* text) {
  text->clear();
  UniqueFd fd(::openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return errno == ELOOP || errno == ENXIO ? kNotARegularFile : errno;
  struct stat meta {};
  if (::fstat(fd.get(), &meta) != 0) return errno;
  if (S_ISDIR(meta.st_mode)) return EISDIR;
  if (!S_ISREG(meta.st_mode)) return kNotARegularFile;
  return ReadToEnd(fd.get(), text);
}

int ReplaceFileAt(int dir_fd, const char* name, const char* temp_name, std::string_view text,
                  const ReplaceOptions& options, bool* exchange_supported, ReplaceStep* failed) {
  // A fresh file every time: one that was in place may still be read by someone.
  UniqueFd fresh(OpenFresh(dir_fd, temp_name, options.mode));
  if (!fresh.valid() && errno == EEXIST && ::unlinkat(dir_fd, temp_name, 0) == 0) {
    fresh.reset(OpenFresh(dir_fd, temp_name, options.mode));
  }
  if (!fresh.valid()) {
    *failed = ReplaceStep::kCreate;
    return errno;
  }
  File out(std::move(fresh));
  int failure = out.WriteAt(std::as_bytes(std::span(text.data(), text.size())), 0).error;
  if (failure == 0 && options.exact_mode && ::fchmod(out.fd(), options.mode) != 0) failure = errno;
  if (failure == 0 && options.durable) failure = out.Sync();
  if (const int close_error = out.Close(); failure == 0) failure = close_error;
  if (failure != 0) {
    ::unlinkat(dir_fd, temp_name, 0);
    *failed = ReplaceStep::kWrite;
    return failure;
  }

  // Exchanging the names is atomic for readers like a rename, and cheaper on ext4 than a rename
  // over the old file; the old file then has the temporary name and goes.
  bool in_place = false;
  if (*exchange_supported) {
    if (RenameExchange(dir_fd, temp_name, name) == 0) {
      // The new text is in place whatever happens here; a file left behind is removed by the
      // next replacement.
      ::unlinkat(dir_fd, temp_name, 0);
      in_place = true;
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
      *exchange_supported = false;
    } else if (errno != ENOENT) {  // ENOENT: no old file to exchange with, so a rename does
      failure = errno;
    }
  }
  if (!in_place && failure == 0) {
    if (::renameat(dir_fd, temp_name, dir_fd, name) == 0) {
      in_place = true;
    } else {
      failure = errno;
    }
  }
  if (!in_place) {
    ::unlinkat(dir_fd, temp_name, 0);
    *failed = ReplaceStep::kReplace;
    return failure;
  }
  // The rename is on the disk once the folder is. Either text is whole, so a folder that cannot
  // be flushed (opened only as a path, say) costs at most the newer text after a power loss.
  if (options.durable) (void)::fsync(dir_fd);
  return 0;
}

}  // namespace platform
