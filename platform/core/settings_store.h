// Per-user settings store: named text values by application, section and key.
//
// Each application has one INI file, $XDG_CONFIG_HOME/<application>/settings.ini (~/.config when
// XDG_CONFIG_HOME is unset or not absolute), with one [section] per section and key=value lines.
// Section and key names compare without regard to ASCII letter case.
//
// A write puts the whole new text into a fresh file (settings.ini.tmp, made anew for every write)
// and moves it into place atomically (exchanged with the old file, which is then removed, or
// renamed over it), under an advisory lock that orders the writers (flock on settings.ini.lock).
// No file that was ever in place is written again, so every reader, also one that takes no lock
// (a plain `cat`), sees a whole old or a whole new text; Read takes no lock either.
// The store owns the files of its folder and never follows a symbolic link there: a link, a file
// it may not open, or anything but a regular file at one of its names is replaced, never written
// through (a folder there makes writes fail). Its files have mode 0600.
// An absent file, section or key reads as the empty text; a file that cannot be parsed reads as
// empty and is replaced on the next write.
// A second lock file, running.lock, orders whole jobs instead of single writes: see TakeRunLock.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/file_io.h"
#include "platform/core/unique_fd.h"

namespace platform {

class SettingsStore {
 public:
  // `application` names the folder below the configuration home.
  explicit SettingsStore(std::string_view application);

  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The value, or "" when the file, section or key is absent or the file cannot be read.
  std::string Read(std::string_view section, std::string_view key) const;

  // Sets one value, keeping every other value of the file. Returns false with *error set when
  // the value could not be stored (folder not creatable, disk full, a name or value holding a
  // line break or a name holding '=' or ']', a termination signal while another writer held the
  // lock); the file is then unchanged.
  bool Write(std::string_view section, std::string_view key, std::string_view value,
             std::string* error);

  // Whether `id` is one of the files at the store's names (the settings file, its locks or its
  // temporary file) now: writing into one would corrupt the store or be lost at its next write.
  bool Holds(const FileIdentity& id) const;

  enum class RunLock {
    kTaken,  // this store holds it now
    kBusy,   // another process (or store) holds it; nothing was written
    kFailed  // *error says why
  };
  // Takes, without waiting, the application's run lock: an exclusive lock on running.lock in the
  // store's folder, for a process that must be the only one of its user doing its job. Held
  // until the store goes; the kernel drops it however the process ends, so a killed process
  // never leaves it held. Where another holds it, only files that are there are opened (the
  // folder and the lock files are made by the first taker).
  RunLock TakeRunLock(std::string* error);

  const std::string& path() const { return path_; }

 private:
  // Opens the folder and the lock file as needed and takes the lock on the lock file in place.
  bool Lock(std::string* error);
  bool OpenFolder(std::string* error);

  std::string dir_;
  std::string path_;
  std::string temp_path_;
  std::string lock_path_;
  std::string run_lock_path_;
  UniqueFd dir_fd_;       // the application folder: names below it are resolved from here
  UniqueFd lock_fd_;      // opened on the first write, kept while it is the file in place
  UniqueFd run_lock_fd_;  // holds the run lock once taken
  bool exchange_supported_ = true;
};

// The folder that holds the per-user settings of all applications.
std::string ConfigHome();

}  // namespace platform
