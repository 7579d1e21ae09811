// Small files read and replaced whole, below an open folder, never through a symbolic link.
//
// A replacement writes the whole new text into a fresh file and moves it into place atomically,
// so that every reader, also one that takes no lock, sees a whole old or a whole new text, and a
// process killed at any moment leaves one of the two.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform {

// What ReadRegularFileAt returns when the name holds no file it can read as text: a link, a
// socket, a FIFO or a device.
inline constexpr int kNotARegularFile = -1;

// Reads the whole file `name` below `dir_fd` (or a path, with AT_FDCWD) without following a link
// or waiting on a FIFO: 0; kNotARegularFile; or the errno value that stopped it (ENOENT for an
// absent file, EISDIR for a folder, EACCES for a file this user may not read).
int ReadRegularFileAt(int dir_fd, const char* name, std::string* text);

struct ReplaceOptions {
  mode_t mode = 0666;       // of the fresh file, less the umask
  bool exact_mode = false;  // the mode whatever the umask says
  // The fresh file reaches the disk before it takes the name, and the folder after: a power loss
  // then leaves the old or the new text, never an empty file.
  bool durable = false;
};

// Which step of ReplaceFileAt failed.
enum class ReplaceStep { kCreate, kWrite, kReplace };

// Puts `text` into a fresh file `temp_name` below `dir_fd` and moves it to `name`. A file left at
// `temp_name` by a writer that died is removed first: callers make sure no other writer uses the
// names at the same time. *exchange_supported starts true and is cleared when the file system
// cannot exchange names, so that later calls go straight to a rename. 0, or the errno value of
// the step in *failed; the file at `name` is then unchanged.
int ReplaceFileAt(int dir_fd, const char* name, const char* temp_name, std::string_view text,
                  const ReplaceOptions& options, bool* exchange_supported, ReplaceStep* failed);

}  // namespace platform
