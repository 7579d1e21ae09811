#include "platform/core/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/message_queue.h"
#include "platform/core/names.h"
#include "platform/core/replace_file.h"

namespace platform {
namespace {

constexpr const char* kFile = "settings.ini";
constexpr const char* kTempFile = "settings.ini.tmp";
constexpr const char* kLockFile = "settings.ini.lock";
constexpr const char* kRunLockFile = "running.lock";
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string Failure(std::string_view what, const std::string& path, int error) {
  std::string text(what);
  text += ' ';
  text += path;
  text += ": ";
  text += ErrorText(error);
  return text;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

// Why a section or key name cannot be stored, or nullptr when it can.
const char* NameProblem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.find_first_of("\n\r") != std::string_view::npos) return "holds a line break";
  if (name.find_first_of("=[]") != std::string_view::npos) return "holds '=', '[' or ']'";
  return nullptr;
}

// The parsed file: sections and keys in the order they first appeared, names as first written.
struct Entry {
  std::string key;
  std::string value;
};
struct Section {
  std::string name;
  std::vector<Entry> entries;
};
using Document = std::vector<Section>;

Section* FindSection(Document& doc, std::string_view name) {
  for (Section& section : doc) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

// The section `name`, added at the end when the document has none.
Section& SectionNamed(Document& doc, std::string_view name) {
  if (Section* found = FindSection(doc, name)) return *found;
  return doc.emplace_back(Section{std::string(name), {}});
}

// A key already there keeps its place and its name as first written.
void Put(Section& section, std::string_view key, std::string_view value) {
  for (Entry& entry : section.entries) {
    if (SameName(entry.key, key)) {
      entry.value.assign(value);
      return;
    }
  }
  section.entries.push_back(Entry{std::string(key), std::string(value)});
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// False when the text is not a settings file; *doc may then hold part of it.
bool Parse(std::string_view text, Document* doc) {
  Section* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (IsBlank(line)) continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return false;
      const std::string_view name = line.substr(1, line.size() - 2);
      if (name.find_first_of("[]") != std::string_view::npos) return false;
      current = &SectionNamed(*doc, name);
      continue;
    }
    const size_t equals = line.find('=');
    if (current == nullptr || equals == 0 || equals == std::string_view::npos) return false;
    // A repeated key takes the later value at the place of the first, as a write would.
    Put(*current, line.substr(0, equals), line.substr(equals + 1));
  }
  return true;
}

std::string Serialize(const Document& doc) {
  size_t size = 0;
  for (const Section& section : doc) {
    size += section.name.size() + 3;
    for (const Entry& entry : section.entries) size += entry.key.size() + entry.value.size() + 2;
  }
  std::string text;
  text.reserve(size);
  for (const Section& section : doc) {
    text += '[';
    text += section.name;
    text += "]\n";
    for (const Entry& entry : section.entries) {
      text += entry.key;
      text += '=';
      text += entry.value;
      text += '\n';
    }
  }
  return text;
}

// Creates `dir` and any missing parents with kFolderMode: 0 or an errno value.
int MakeFolders(const std::string& dir) {
  if (::mkdir(dir.c_str(), kFolderMode) == 0) return 0;
  int error = errno;
  if (error == EEXIST) return 0;  // a non-folder there shows up when a file is made in it
  if (error != ENOENT) return error;
  const size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return error;
  error = MakeFolders(dir.substr(0, slash));
  if (error != 0) return error;
  if (::mkdir(dir.c_str(), kFolderMode) == 0 || errno == EEXIST) return 0;
  return errno;
}

// Opens the lock file `name` below `dir_fd`, making it where it is missing. A link, a file this
// user may not open for writing, or anything but a regular file at its name is removed and made
// afresh (Lock then finds out if another writer did the same at the same time). 0 or an errno
// value.
int OpenLockFile(int dir_fd, const char* name, UniqueFd* lock) {
  for (int attempt = 0;; ++attempt) {
    lock->reset(::openat(dir_fd, name,
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                         kFileMode));
    int error = lock->valid() ? 0 : errno;
    struct stat meta {};
    if (lock->valid() && ::fstat(lock->get(), &meta) != 0) error = errno;
    if (error == 0 && S_ISREG(meta.st_mode)) return 0;
    lock->reset();
    const bool replaceable =
        error == 0 || error == ELOOP || error == ENXIO || error == EACCES || error == EPERM;
    if (!replaceable || attempt > 0) return error != 0 ? error : EEXIST;
    if (::unlinkat(dir_fd, name, 0) != 0 && errno != ENOENT) return errno;
  }
}

// Takes the exclusive lock on `fd`. Another writer holds it for some microseconds; one that never
// lets go must not keep this process from ending, so the wait polls and gives up (EINTR) once a
// termination signal has arrived. 0 or an errno value.
int TakeLock(int fd) {
  long pause_ns = 20'000;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return errno;
    if (TerminationSignal() != 0) return EINTR;
    const timespec pause{0, pause_ns};
    ::nanosleep(&pause, nullptr);
    pause_ns = std::min(pause_ns * 2, 5'000'000L);
  }
}

FileIdentity IdentityOf(const struct stat& meta) {
  return {static_cast<uint64_t>(meta.st_dev), static_cast<uint64_t>(meta.st_ino)};
}

// Holds the lock for one write; the descriptor outlives the write, so the lock has to be dropped
// explicitly.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const UniqueFd& fd) : fd_(fd) {}
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  ~ExclusiveLock() {
    // Unlocking a held flock on an open descriptor cannot fail.
    if (fd_.valid()) ::flock(fd_.get(), LOCK_UN);
  }

 private:
  const UniqueFd& fd_;
};

}  // namespace

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 4096);
  for (;;) {
    passwd user{};
    passwd* found = nullptr;
    const int failure = ::getpwuid_r(::getuid(), &user, buf.data(), buf.size(), &found);
    if (failure == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (failure != 0 || found == nullptr || user.pw_dir == nullptr || user.pw_dir[0] == '\0') {
      return {};
    }
    return std::string(user.pw_dir) + "/.config";
  }
}

SettingsStore::SettingsStore(std::string_view application) {
  const std::string home = ConfigHome();
  if (home.empty()) return;  // no home at all: reads give "", writes report it
  dir_ = home;
  dir_ += '/';
  dir_ += application;
  path_ = dir_;
  path_ += '/';
  path_ += kFile;
  temp_path_ = path_ + ".tmp";
  lock_path_ = path_ + ".lock";
  run_lock_path_ = dir_ + '/' + kRunLockFile;
}

std::string SettingsStore::Read(std::string_view section, std::string_view key) const {
  if (path_.empty()) return {};
  // No lock: writers never change a file that is in place, they replace it.
  std::string text;
  if (ReadRegularFileAt(AT_FDCWD, path_.c_str(), &text) != 0) return {};
  Document doc;
  if (!Parse(text, &doc)) return {};
  Section* found = FindSection(doc, section);
  if (found == nullptr) return {};
  for (Entry& entry : found->entries) {
    if (SameName(entry.key, key)) return std::move(entry.value);
  }
  return {};
}

bool SettingsStore::Write(std::string_view section, std::string_view key, std::string_view value,
                          std::string* error) {
  if (const char* problem = NameProblem(section)) {
    SetError(error, std::string("settings section name ") + problem);
    return false;
  }
  if (const char* problem = NameProblem(key)) {
    SetError(error, std::string("settings key name ") + problem);
    return false;
  }
  if (value.find_first_of("\n\r") != std::string_view::npos) {
    SetError(error, "settings value holds a line break");
    return false;
  }
  if (path_.empty()) {
    SetError(error,
             "no configuration folder: neither XDG_CONFIG_HOME, HOME nor a home "
             "folder in the user database is set");
    return false;
  }

  if (!Lock(error)) return false;
  const ExclusiveLock lock(lock_fd_);
  const int dir = dir_fd_.get();

  std::string text;
  const int read_error = ReadRegularFileAt(dir, kFile, &text);
  // What is at the name and cannot be read as the store's file is replaced: a link (never written
  // through), a file this user may not read, a FIFO. Replacing a file that failed to read for any
  // other reason would lose every other value in it.
  if (read_error != 0 && read_error != ENOENT && read_error != kNotARegularFile &&
      read_error != EACCES) {
    SetError(error, Failure("cannot read", path_, read_error));
    return false;
  }
  Document doc;
  if (read_error != 0 || !Parse(text, &doc)) doc.clear();  // unparseable: replaced
  Put(SectionNamed(doc, section), key, value);
  text = Serialize(doc);

  // One left at the temporary name belongs to a writer that died (no other writer holds the lock).
  ReplaceStep failed = ReplaceStep::kCreate;
  const int failure = ReplaceFileAt(dir, kFile, kTempFile, text, {kFileMode, true, false},
                                    &exchange_supported_, &failed);
  if (failure == 0) return true;
  SetError(error, failed == ReplaceStep::kReplace  ? Failure("cannot replace", path_, failure)
                  : failed == ReplaceStep::kCreate ? Failure("cannot create", temp_path_, failure)
                                                   : Failure("cannot write", temp_path_, failure));
  return false;
}

bool SettingsStore::Holds(const FileIdentity& id) const {
  for (const std::string* name : {&path_, &lock_path_, &temp_path_, &run_lock_path_}) {
    struct stat meta {};
    if (!name->empty() && ::lstat(name->c_str(), &meta) == 0 && IdentityOf(meta) == id) {
      return true;
    }
  }
  return false;
}

SettingsStore::RunLock SettingsStore::TakeRunLock(std::string* error) {
  if (run_lock_fd_.valid()) return RunLock::kTaken;
  if (path_.empty()) {
    SetError(error, "no configuration folder to hold the run lock in");
    return RunLock::kFailed;
  }
  // Under the writers' lock: the run lock file is made or replaced only while no other process
  // can be doing the same, so two processes never each lock a file of their own at that name.
  if (!Lock(error)) return RunLock::kFailed;
  const ExclusiveLock lock(lock_fd_);
  UniqueFd run;
  if (const int failure = OpenLockFile(dir_fd_.get(), kRunLockFile, &run); failure != 0) {
    SetError(error, Failure("cannot open", run_lock_path_, failure));
    return RunLock::kFailed;
  }
  if (::flock(run.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return RunLock::kBusy;
    SetError(error, Failure("cannot lock", run_lock_path_, errno));
    return RunLock::kFailed;
  }
  run_lock_fd_ = std::move(run);
  return RunLock::kTaken;
}

bool SettingsStore::Lock(std::string* error) {
  // A lock on a file that is no longer at the lock file's name (its folder removed, or replaced by
  // another writer) orders no one: then the file now in place is opened and locked.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!lock_fd_.valid() && !OpenFolder(error)) return false;
    if (const int failure = TakeLock(lock_fd_.get()); failure != 0) {
      SetError(error, Failure("cannot lock", lock_path_, failure));
      return false;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(lock_fd_.get(), &held) == 0 &&
        ::fstatat(dir_fd_.get(), kLockFile, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        IdentityOf(held) == IdentityOf(named)) {
      return true;
    }
    lock_fd_.reset();  // drops the lock
    dir_fd_.reset();
  }
  SetError(error, "cannot lock " + lock_path_ + ": it is replaced again and again");
  return false;
}

bool SettingsStore::OpenFolder(std::string* error) {
  const int made = MakeFolders(dir_);
  if (made != 0) {
    SetError(error, Failure("cannot create folder", dir_, made));
    return false;
  }
  UniqueFd dir(::open(dir_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) {
    SetError(error, Failure("cannot open folder", dir_, errno));
    return false;
  }
  UniqueFd lock;
  if (const int failure = OpenLockFile(dir.get(), kLockFile, &lock); failure != 0) {
    SetError(error, Failure("cannot open", lock_path_, failure));
    return false;
  }
  dir_fd_ = std::move(dir);
  lock_fd_ = std::move(lock);
  return true;
}

}  // namespace platform
