#include "platform/core/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace platform {
namespace {

constexpr std::string_view kFileName = "settings.ini";
constexpr const char* kFile = "settings.ini";
constexpr const char* kTempFile = "settings.ini.tmp";
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

std::string ErrnoText(int error) {
  char buf[256];
  // GNU strerror_r: returns either buf or a static string.
  return ::strerror_r(error, buf, sizeof buf);
}

std::string Failure(std::string_view what, const std::string& path, int error) {
  std::string text(what);
  text += ' ';
  text += path;
  text += ": ";
  text += ErrnoText(error);
  return text;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Why a section or key name cannot be stored, or nullptr when it can.
const char* NameProblem(std::string_view name) {
  if (name.empty()) return "is empty";
  if (name.find_first_of("\n\r") != std::string_view::npos) return "holds a line break";
  if (name.find_first_of("=[]") != std::string_view::npos) return "holds '=', '[' or ']'";
  return nullptr;
}

int RenameExchange(int dir_fd, const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return ::renameat2(dir_fd, from, dir_fd, to, RENAME_EXCHANGE);
#else
  return static_cast<int>(::syscall(SYS_renameat2, dir_fd, from, dir_fd, to, RENAME_EXCHANGE));
#endif
}

// Whether `now` is still the file described by `then` as its writer left it. Files are replaced,
// never changed in place, by this store; a hand edit in place shows in the size or the time.
bool SameFile(const struct stat& now, const struct stat& then) {
  return now.st_ino == then.st_ino && now.st_dev == then.st_dev && now.st_size == then.st_size &&
         now.st_mtim.tv_sec == then.st_mtim.tv_sec && now.st_mtim.tv_nsec == then.st_mtim.tv_nsec;
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
  for (Section& s : doc) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

void Set(Document& doc, std::string_view section, std::string_view key, std::string_view value) {
  Section* s = FindSection(doc, section);
  if (s == nullptr) {
    doc.push_back(Section{std::string(section), {}});
    s = &doc.back();
  }
  for (Entry& e : s->entries) {
    if (SameName(e.key, key)) {
      e.value.assign(value);
      return;
    }
  }
  s->entries.push_back(Entry{std::string(key), std::string(value)});
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
      current = FindSection(*doc, name);
      if (current == nullptr) {
        doc->push_back(Section{std::string(name), {}});
        current = &doc->back();
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (current == nullptr || eq == 0 || eq == std::string_view::npos) return false;
    // A repeated key takes the later value at the place of the first, as a write would.
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    bool found = false;
    for (Entry& e : current->entries) {
      if (SameName(e.key, key)) {
        e.value.assign(value);
        found = true;
        break;
      }
    }
    if (!found) current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return true;
}

std::string Serialize(const Document& doc) {
  size_t size = 0;
  for (const Section& s : doc) {
    size += s.name.size() + 3;
    for (const Entry& e : s.entries) size += e.key.size() + e.value.size() + 2;
  }
  std::string text;
  text.reserve(size);
  for (const Section& s : doc) {
    text += '[';
    text += s.name;
    text += "]\n";
    for (const Entry& e : s.entries) {
      text += e.key;
      text += '=';
      text += e.value;
      text += '\n';
    }
  }
  return text;
}

// Reads the whole file `name` below `dir_fd` (or a path, with AT_FDCWD): 0, or the errno value
// that stopped it (ENOENT for an absent file).
int ReadWholeFile(int dir_fd, const char* name, std::string* text) {
  text->clear();
  UniqueFd fd(::openat(dir_fd, name, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  // A short read from a regular file means its end: that spares an fstat and a final empty read,
  // which matters as every write reads the file.
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text->append(chunk, static_cast<size_t>(n));
    if (static_cast<size_t>(n) < sizeof chunk) return 0;
  }
}

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
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

// Holds the advisory lock for one write. The descriptor outlives the write, so the lock has to be
// dropped explicitly; if the descriptor was closed meanwhile, closing dropped it already.
// The lock file's first 8 bytes count the writes of all writers, so that a writer can tell
// whether anyone else wrote since it did. A missing or short count reads as 0.
uint64_t ReadGeneration(int lock_fd) {
  uint64_t generation = 0;
  const ssize_t n = ::pread(lock_fd, &generation, sizeof generation, 0);
  return n == static_cast<ssize_t>(sizeof generation) ? generation : 0;
}

bool LockShared(int fd) {
  while (::flock(fd, LOCK_SH) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

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
    passwd pw{};
    passwd* found = nullptr;
    const int rc = ::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || pw.pw_dir == nullptr || pw.pw_dir[0] == '\0') return {};
    return std::string(pw.pw_dir) + "/.config";
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
  path_ += kFileName;
  temp_path_ = path_ + ".tmp";
  lock_path_ = path_ + ".lock";
}

std::string SettingsStore::Read(std::string_view section, std::string_view key) const {
  if (path_.empty()) return {};
  // Writers overwrite the spare file in place while they hold the lock exclusively; a reader holds
  // it shared while it reads, so the file it reads is never the one being written.
  std::string text;
  UniqueFd lock(::open(lock_path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!lock.valid() && errno == ENOENT) {
    // No writer has come yet: the file is read as it is, unless a writer began meanwhile.
    if (ReadWholeFile(AT_FDCWD, path_.c_str(), &text) != 0) return {};
    lock.reset(::open(lock_path_.c_str(), O_RDONLY | O_CLOEXEC));
  }
  if (lock.valid()) {
    if (!LockShared(lock.get()) || ReadWholeFile(AT_FDCWD, path_.c_str(), &text) != 0) return {};
  } else if (errno != ENOENT) {
    return {};  // a lock that cannot be taken leaves nothing safe to read
  }
  Document doc;
  if (!Parse(text, &doc)) return {};
  Section* s = FindSection(doc, section);
  if (s == nullptr) return {};
  for (Entry& e : s->entries) {
    if (SameName(e.key, key)) return std::move(e.value);
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

  if (!dir_fd_.valid() && !OpenFolder(error)) return false;
  while (::flock(lock_fd_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetError(error, Failure("cannot lock", lock_path_, errno));
      return false;
    }
  }
  const ExclusiveLock lock(lock_fd_);

  // A write is on the copy worker's per-block path: when no writer has written since this one and
  // the file in place is still the one it left, its text is known and reading it is skipped.
  const uint64_t generation = ReadGeneration(lock_fd_.get());
  std::string text;
  struct stat now {};
  if (written_ && generation == written_generation_ &&
      ::fstatat(dir_fd_.get(), kFile, &now, 0) == 0 && SameFile(now, written_stat_)) {
    text = written_text_;
  } else if (const int read_error = ReadWholeFile(dir_fd_.get(), kFile, &text);
             read_error != 0 && read_error != ENOENT) {
    // Replacing a file we could not read would lose every other value in it.
    SetError(error, Failure("cannot read", path_, read_error));
    return false;
  }
  written_ = false;
  Document doc;
  if (!Parse(text, &doc)) doc.clear();  // unparseable: replaced by just this value
  Set(doc, section, key, value);
  text = Serialize(doc);

  // Counted before anything changes: a write that fails half-way makes other writers read the
  // file again, which costs them nothing but a read.
  const uint64_t next = generation + 1;
  if (::pwrite(lock_fd_.get(), &next, sizeof next, 0) != static_cast<ssize_t>(sizeof next)) {
    SetError(error, Failure("cannot write", lock_path_, errno));
    return false;
  }

  // The spare holds the text before the last write. No reader has it open (readers read under the
  // shared lock, and only the file in place), so it is rewritten in place: making and freeing a
  // new file on every write would cost several times as much.
  const int dir = dir_fd_.get();
  UniqueFd out(::openat(dir, kTempFile, O_WRONLY | O_CREAT | O_CLOEXEC, kFileMode));
  if (!out.valid()) {
    const int e = errno;
    // The folder was removed under us: the next write has to make it and the lock file afresh.
    if (e == ENOENT) ForgetFolder();
    SetError(error, Failure("cannot create", temp_path_, e));
    return false;
  }
  struct stat written {};
  if (const int e = WriteAll(out.get(), text); e != 0) {
    SetError(error, Failure("cannot write", temp_path_, e));
    return false;
  }
  if (::ftruncate(out.get(), static_cast<off_t>(text.size())) != 0 ||
      ::fstat(out.get(), &written) != 0 ||
      ((written.st_mode & 07777) != kFileMode && ::fchmod(out.get(), kFileMode) != 0)) {
    SetError(error, Failure("cannot write", temp_path_, errno));
    return false;
  }
  if (const int e = out.Close(); e != 0) {
    SetError(error, Failure("cannot write", temp_path_, e));
    return false;
  }

  // Exchanging the names is atomic for readers like a rename; the old text becomes the spare.
  bool replaced = false;
  if (exchange_supported_) {
    if (RenameExchange(dir, kTempFile, kFile) == 0) {
      replaced = true;
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
      exchange_supported_ = false;
    } else if (errno != ENOENT) {
      SetError(error, Failure("cannot replace", path_, errno));
      return false;
    }
  }
  if (!replaced && ::renameat(dir, kTempFile, dir, kFile) != 0) {
    SetError(error, Failure("cannot replace", path_, errno));
    return false;
  }
  written_ = true;
  written_generation_ = next;
  written_stat_ = written;
  written_text_ = std::move(text);
  return true;
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
  UniqueFd lock(::openat(dir.get(), "settings.ini.lock", O_RDWR | O_CREAT | O_CLOEXEC, kFileMode));
  if (!lock.valid()) {
    SetError(error, Failure("cannot open", lock_path_, errno));
    return false;
  }
  dir_fd_ = std::move(dir);
  lock_fd_ = std::move(lock);
  return true;
}

void SettingsStore::ForgetFolder() {
  dir_fd_.reset();
  lock_fd_.reset();
  written_ = false;
}

}  // namespace platform
