// Per-user settings store: named text values by application, section and key.
//
// Each application has one INI file, $XDG_CONFIG_HOME/<application>/settings.ini (~/.config when
// XDG_CONFIG_HOME is unset or not absolute), with one [section] per section and key=value lines.
// Section and key names compare without regard to ASCII letter case.
//
// A write puts the whole new text into a spare file (settings.ini.tmp, which holds the text before
// the last write) and exchanges it with settings.ini atomically, under an advisory lock (flock on
// settings.ini.lock: exclusive for writers, shared for readers while they read), so a reader in
// any process sees the old or the new text, never a mixture.
// An absent file, section or key reads as the empty text; a file that cannot be parsed reads as
// empty and is replaced on the next write.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

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
  // line break or a name holding '=' or ']'); the file is then unchanged.
  bool Write(std::string_view section, std::string_view key, std::string_view value,
             std::string* error);

  const std::string& path() const { return path_; }

 private:
  // Opens the folder and the lock file on the first write (and again after the folder vanished).
  bool OpenFolder(std::string* error);
  void ForgetFolder();

  std::string dir_;
  std::string path_;
  std::string temp_path_;
  std::string lock_path_;
  UniqueFd dir_fd_;   // the application folder: names below it are resolved from here
  UniqueFd lock_fd_;  // opened on the first write, kept for the object's life
  bool exchange_supported_ = true;

  // What this object wrote last: while the write count in the lock file shows no write since and
  // the file in place is still that file, its text is written_text_ and needs no reading.
  bool written_ = false;
  uint64_t written_generation_ = 0;
  struct stat written_stat_ {};
  std::string written_text_;
};

// The folder that holds the per-user settings of all applications.
std::string ConfigHome();

}  // namespace platform
