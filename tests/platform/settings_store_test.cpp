#include "platform/core/settings_store.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::SettingsStore;
using testing_support::TempDir;

constexpr char kApp[] = "App";

// Sets (or, with nullopt, removes) an environment variable and puts the old state back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Apply(value);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { Apply(old_); }

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value.has_value()) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

std::optional<std::string> FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  fs::create_directories(fs::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
  }
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A store's folder holds its file and the lock; nothing else, such as a half-written file or an
// old one, ever stays behind.
const std::set<std::string> kCleanFolder = {"settings.ini", "settings.ini.lock"};

class SettingsStoreTest : public ::testing::Test {
 protected:
  // The configuration home does not exist yet: the store has to make it.
  std::string ConfigDir() const { return temp_.path() + "/config"; }
  std::string AppDir() const { return ConfigDir() + "/" + kApp; }
  std::string IniPath() const { return AppDir() + "/settings.ini"; }
  std::string TempPath() const { return IniPath() + ".tmp"; }

  TempDir temp_;
  ScopedEnv xdg_{"XDG_CONFIG_HOME", ConfigDir()};
};

TEST_F(SettingsStoreTest, RoundTripKeepsFirstOrderAndNamesAndIgnoresCase) {
  SettingsStore store(kApp);
  EXPECT_EQ(store.path(), IniPath());
  EXPECT_EQ(store.Read("Info", "Status"), "");
  EXPECT_FALSE(fs::exists(ConfigDir())) << "a read must not create anything";
  struct Put {
    const char* section;
    const char* key;
    const char* value;
  };
  // The last write replaces a value, which must not leave a second line behind.
  const Put puts[] = {
      {"Info", "Status", "Copying"}, {"Info", "Percent", "12.5"}, {"Window", "Width", "800"},
      {"info", "STATUS", "Done"},    {"Window", "Height", "600"}, {"Extra", "Key", "a=b [c] = "},
      {"Info", "Empty", ""},         {"WINDOW", "width", "1024"},
  };
  for (const Put& p : puts) {
    std::string error;
    ASSERT_TRUE(store.Write(p.section, p.key, p.value, &error)) << error;
  }
  EXPECT_EQ(FileText(IniPath()),
            "[Info]\nStatus=Done\nPercent=12.5\nEmpty=\n"
            "[Window]\nWidth=1024\nHeight=600\n"
            "[Extra]\nKey=a=b [c] = \n");

  const SettingsStore reader(kApp);  // a separate object sees the same file
  struct Get {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Get gets[] = {
      {"Info", "Status", "Done"},  {"INFO", "status", "Done"},  {"info", "PERCENT", "12.5"},
      {"window", "WIDTH", "1024"}, {"Window", "Height", "600"}, {"eXtRa", "kEy", "a=b [c] = "},
      {"Info", "Empty", ""},       {"Other", "Status", ""},     {"Info", "Statu", ""},
      {"Inf", "Status", ""},
  };
  for (const Get& g : gets) {
    EXPECT_EQ(store.Read(g.section, g.key), g.expected) << g.section << "/" << g.key;
    EXPECT_EQ(reader.Read(g.section, g.key), g.expected) << g.section << "/" << g.key;
  }
}

TEST_F(SettingsStoreTest, ReadsHandWrittenFiles) {
  struct Case {
    const char* text;
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"[S]\nk=v\n", "S", "k", "v"},
      {"\n\n[S]\n\nk=v\n  \n\t\n", "S", "k", "v"},  // blank lines
      {"[S]\nk=v", "S", "k", "v"},                  // no newline after the last line
      {"[S]\nk==a=b\n", "S", "k", "=a=b"},          // everything after the first '='
      {"[S]\nk= spaced \n", "S", "k", " spaced "},
      {"[S]\nk=1\n[T]\nk=2\n", "T", "k", "2"},
      {"[S]\nk=1\n[T]\nx=2\n[s]\nj=3\n", "S", "j", "3"},  // a section opened twice
      {"[S]\nk=1\nK=2\n", "S", "k", "2"},                 // a repeated key: the later value
  };
  for (const Case& c : cases) {
    PutFile(IniPath(), c.text);
    EXPECT_EQ(SettingsStore(kApp).Read(c.section, c.key), c.expected) << c.text;
  }
}

TEST_F(SettingsStoreTest, WriteKeepsOtherValuesOfHandWrittenFile) {
  PutFile(IniPath(), "\n[S]\nk=v\n\n[T]\nx=1\n[s]\nj=2\n");
  SettingsStore store(kApp);
  std::string error;
  ASSERT_TRUE(store.Write("t", "Y", "3", &error)) << error;
  EXPECT_EQ(FileText(IniPath()), "[S]\nk=v\nj=2\n[T]\nx=1\nY=3\n");
}

TEST_F(SettingsStoreTest, UnparseableFileReadsEmptyAndIsReplacedByNextWrite) {
  const char* const texts[] = {
      "k=v\n[S]\nk=v\n",     // a key before any section
      "[S]\nk=v\njunk\n",    // neither header nor key=value
      "[S]\nk=v\n=x\n",      // empty key
      "[S\nk=v\n",           // unterminated header
      "[]\nk=v\n",           // empty section name
      "[S]]\nk=v\n",         // bracket inside the name
      "[S]\nk=v\n; note\n",  // comments are not part of the format
      "[S]\r\nk=v\r\n",      // header line ends in '\r'
  };
  for (const char* text : texts) {
    PutFile(IniPath(), text);
    SettingsStore store(kApp);
    EXPECT_EQ(store.Read("S", "k"), "") << text;
    std::string error;
    ASSERT_TRUE(store.Write("S", "n", "1", &error)) << text << ": " << error;
    EXPECT_EQ(FileText(IniPath()), "[S]\nn=1\n") << text;
  }
}

TEST_F(SettingsStoreTest, RejectedNamesAndValuesLeaveFileUnchanged) {
  SettingsStore store(kApp);
  std::string error;
  ASSERT_TRUE(store.Write("Info", "Status", "Start", &error)) << error;
  const std::optional<std::string> before = FileText(IniPath());
  ASSERT_TRUE(before.has_value());

  struct Case {
    std::string section;
    std::string key;
    std::string value;
  };
  const Case cases[] = {
      {"", "k", "v"},     {"a\nb", "k", "v"}, {"a\rb", "k", "v"}, {"a=b", "k", "v"},
      {"[a", "k", "v"},   {"a]", "k", "v"},   {"S", "", "v"},     {"S", "a\nb", "v"},
      {"S", "a\rb", "v"}, {"S", "a=b", "v"},  {"S", "a[", "v"},   {"S", "]a", "v"},
      {"S", "k", "x\ny"}, {"S", "k", "x\r"},  {"S", "k", "\n"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_FALSE(store.Write(c.section, c.key, c.value, &error))
        << "[" << c.section << "] " << c.key << "=" << c.value;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(FileText(IniPath()), before);
  }
  EXPECT_EQ(Names(AppDir()), kCleanFolder);

  // Nothing at all is created by a rejected first write.
  TempDir other;
  const ScopedEnv xdg("XDG_CONFIG_HOME", other.path() + "/config");
  SettingsStore fresh(kApp);
  EXPECT_FALSE(fresh.Write("S", "k=", "v", &error));
  EXPECT_FALSE(fs::exists(other.path() + "/config"));
}

TEST_F(SettingsStoreTest, FileIsPrivateWhateverTheUmaskOrOldMode) {
  const ScopedUmask umask(0);  // a creation mode wider than 0600 would show through
  SettingsStore store(kApp);
  std::string error;
  ASSERT_TRUE(store.Write("S", "k", "1", &error)) << error;
  EXPECT_EQ(Mode(IniPath()), 0600u);
  EXPECT_EQ(Mode(AppDir()), 0700u);
  EXPECT_EQ(Mode(ConfigDir()), 0700u);

  ASSERT_EQ(::chmod(IniPath().c_str(), 0644), 0);
  ASSERT_TRUE(store.Write("S", "k", "2", &error)) << error;
  EXPECT_EQ(Mode(IniPath()), 0600u);
  EXPECT_EQ(store.Read("S", "k"), "2");
}

// True when another open of the lock file can take the lock at once.
bool LockIsFree(const std::string& lock_path) {
  const int fd = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    ADD_FAILURE() << "cannot open " << lock_path;
    return false;
  }
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // drops the lock if taken
  return free;
}

TEST_F(SettingsStoreTest, FailedReplacementKeepsOldFileAndStoreRecovers) {
  SettingsStore store(kApp);
  std::string error;
  ASSERT_TRUE(store.Write("S", "k", "old", &error)) << error;
  const std::optional<std::string> before = FileText(IniPath());

  // A folder with content at the temp name can be neither created nor removed.
  fs::create_directories(TempPath() + "/blocker");
  error.clear();
  EXPECT_FALSE(store.Write("S", "k", "new", &error));
  EXPECT_NE(error.find(TempPath()), std::string::npos) << error;
  EXPECT_EQ(FileText(IniPath()), before);
  EXPECT_EQ(store.Read("S", "k"), "old");
  EXPECT_TRUE(LockIsFree(IniPath() + ".lock")) << "a failed write kept the lock";

  fs::remove_all(TempPath());
  ASSERT_TRUE(store.Write("S", "k", "new", &error)) << error;
  EXPECT_EQ(store.Read("S", "k"), "new");
  EXPECT_TRUE(LockIsFree(IniPath() + ".lock"));
}

TEST_F(SettingsStoreTest, StoreRecoversWhenItsFolderIsRemoved) {
  SettingsStore store(kApp);
  std::string error;
  ASSERT_TRUE(store.Write("S", "k", "1", &error)) << error;
  fs::remove_all(AppDir());
  // The lock held open is no longer at its name: the folder and the lock are made afresh.
  ASSERT_TRUE(store.Write("S", "k", "2", &error)) << error;
  EXPECT_EQ(store.Read("S", "k"), "2");
  EXPECT_EQ(Names(AppDir()), kCleanFolder);
}

TEST_F(SettingsStoreTest, WriteWhereFileCannotBeMadeFailsWithError) {
  struct Case {
    const char* name;
    std::string file_at;    // a regular file put here first
    std::string folder_at;  // or a folder put here
  };
  const Case cases[] = {
      {"file as configuration home", ConfigDir(), ""},
      {"file as application folder", AppDir(), ""},
      {"folder as settings file", "", IniPath()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ConfigDir());
    if (!c.file_at.empty()) PutFile(c.file_at, "not a folder\n");
    if (!c.folder_at.empty()) fs::create_directories(c.folder_at);

    SettingsStore store(kApp);
    std::string error;
    EXPECT_FALSE(store.Write("S", "k", "v", &error));
    EXPECT_NE(error.find(temp_.path()), std::string::npos)
        << "error should name the path: " << error;
    EXPECT_EQ(store.Read("S", "k"), "");
    if (!c.file_at.empty()) {
      EXPECT_EQ(FileText(c.file_at), "not a folder\n");
    }
    if (!c.folder_at.empty()) {
      EXPECT_TRUE(fs::is_directory(c.folder_at));
    }
    EXPECT_FALSE(fs::exists(TempPath()));
  }
}

TEST_F(SettingsStoreTest, FallsBackToHomeWhenXdgConfigHomeUnusable) {
  const std::string home = temp_.path() + "/home";
  const ScopedEnv home_env("HOME", home);
  struct Case {
    const char* name;
    std::optional<std::string> xdg;
    std::string expected;
  };
  const Case cases[] = {
      {"unset", std::nullopt, home + "/.config"},
      {"empty", "", home + "/.config"},
      {"relative", "relative/config", home + "/.config"},
      {"absolute", temp_.path() + "/xdg", temp_.path() + "/xdg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(platform::ConfigHome(), c.expected);
    EXPECT_EQ(SettingsStore(kApp).path(), c.expected + "/" + kApp + "/settings.ini");
  }
}

TEST_F(SettingsStoreTest, FallsBackToUserDatabaseWithoutHome) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const std::string expected = std::string(pw->pw_dir) + "/.config";
  const ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  for (const std::optional<std::string>& home :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    const ScopedEnv home_env("HOME", home);
    // Only the name is checked: writing here would touch the real configuration.
    EXPECT_EQ(platform::ConfigHome(), expected);
  }
}

// Runs `body` in a child process and returns its exit status (-1 when it did not exit). Run as
// root, whose rights would hide a file the store may not open, the child becomes the user nobody,
// and `folder` is given to that user first.
int RunAsPlainUser(const std::string& folder, const std::function<int()>& body) {
  constexpr uid_t kNobody = 65534;
  if (::geteuid() == 0) {
    if (::lchown(folder.c_str(), kNobody, kNobody) != 0) return -1;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) return -1;
    }
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(100);
    }
    ::alarm(30);  // a store that waits on a FIFO must not hang the test
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Whatever lies at one of the store's names, a write never goes through it into another file, and
// what the store cannot use is replaced by a file of its own.
TEST_F(SettingsStoreTest, LinksAndForeignFilesAtItsNamesAreReplacedNeverFollowed) {
  enum class Planted { kLinkToFile, kDanglingLink, kFifo, kReadOnly, kUnreadable };
  const std::string victim = temp_.path() + "/victim";
  const std::string nowhere = temp_.path() + "/nowhere";
  const std::string old_text = "[S]\nold=1\n";
  for (const char* name : {"settings.ini", "settings.ini.lock", "settings.ini.tmp"}) {
    for (const Planted planted : {Planted::kLinkToFile, Planted::kDanglingLink, Planted::kFifo,
                                  Planted::kReadOnly, Planted::kUnreadable}) {
      SCOPED_TRACE(std::string(name) + ", case " + std::to_string(static_cast<int>(planted)));
      fs::remove_all(ConfigDir());
      fs::create_directories(AppDir());
      PutFile(victim, "not the store's\n", 0644);
      const std::string at = AppDir() + "/" + name;
      switch (planted) {
        case Planted::kLinkToFile:
          fs::create_symlink(victim, at);
          break;
        case Planted::kDanglingLink:
          fs::create_symlink(nowhere, at);
          break;
        case Planted::kFifo:
          ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0);
          break;
        case Planted::kReadOnly:
          PutFile(at, old_text, 0400);
          break;
        case Planted::kUnreadable:
          PutFile(at, old_text, 0000);
          break;
      }
      const int status = RunAsPlainUser(temp_.path(), [] {
        SettingsStore store(kApp);
        std::string error;
        if (!store.Write("S", "k", "v", &error) || !store.Write("S", "j", "w", &error)) return 1;
        return store.Read("S", "k") == "v" && store.Read("S", "j") == "w" ? 0 : 2;
      });
      EXPECT_EQ(status, 0);
      EXPECT_EQ(FileText(victim), "not the store's\n");
      EXPECT_EQ(Mode(victim), 0644u);
      EXPECT_FALSE(fs::exists(nowhere));
      EXPECT_EQ(Names(AppDir()), kCleanFolder);
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(IniPath() + ".lock")));
      // Checked first: reading a FIFO left in place would wait for ever.
      if (!fs::is_regular_file(fs::symlink_status(IniPath()))) {
        ADD_FAILURE() << "settings.ini is no regular file";
        continue;
      }
      EXPECT_EQ(Mode(IniPath()), 0600u);
      // A read-only settings file is read, so its values stay; one that cannot be read is lost.
      const bool kept = planted == Planted::kReadOnly && std::string(name) == "settings.ini";
      EXPECT_EQ(FileText(IniPath()), kept ? "[S]\nold=1\nk=v\nj=w\n" : "[S]\nk=v\nj=w\n");
    }
  }
}

// A value whose every part names its writer and round, so that a mixture of two is visible.
std::string Distinct(char writer, int round) {
  const std::string unit = std::string(1, writer) + "-" + std::to_string(round) + ";";
  std::string value;
  while (value.size() < 300) value += unit;
  return value;
}

// The round of a value that `writer` (or either writer when 0) wrote whole, or -1.
int RoundOf(const std::string& value, char writer, int rounds) {
  if (value.size() < 3 || value[1] != '-') return -1;
  if (writer != 0 ? value[0] != writer : (value[0] != 'A' && value[0] != 'B')) return -1;
  int round = 0;
  size_t i = 2;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9' && round < rounds; ++i) {
    round = round * 10 + (value[i] - '0');
  }
  if (i == 2 || round >= rounds) return -1;
  return value == Distinct(value[0], round) ? round : -1;
}

// Reads the file as a program that knows nothing of the store would (a plain `cat`): no lock, and
// in small pieces, so that a file changed while it is read shows as a mixture.
std::string ReadLikeCat(const std::string& path) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char piece[16];
  ssize_t n;
  while ((n = ::read(fd, piece, sizeof piece)) > 0) text.append(piece, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

// The value of `key` in a text of the one section [Progress]; "" when the key is absent.
std::string ValueIn(const std::string& text, const std::string& key) {
  if (!text.empty() && text.rfind("[Progress]\n", 0) != 0) return "<not the section>";
  const std::string start = "\n" + key + "=";
  const size_t at = text.find(start);
  if (at == std::string::npos) return {};
  const size_t from = at + start.size();
  const size_t end = text.find('\n', from);
  return end == std::string::npos ? text.substr(from) + "<no line end>"
                                  : text.substr(from, end - from);
}

pid_t StartWriter(char id, int rounds) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Child: no test machinery here, only the exit status speaks.
  SettingsStore store(kApp);
  const std::string own = std::string("Own") + id;
  std::string error;
  for (int round = 0; round < rounds; ++round) {
    const std::string value = Distinct(id, round);
    if (!store.Write("Progress", own, value, &error)) ::_exit(2);
    if (!store.Write("Progress", "Shared", value, &error)) ::_exit(3);
  }
  ::_exit(0);
}

// Two writers share the file while a reader without lock polls it: every text it sees is one that
// a writer left whole, and no writer loses another's value.
TEST_F(SettingsStoreTest, ConcurrentWritersNeverTearOrLoseValues) {
  constexpr int kRounds = 2000;
  const SettingsStore reader(kApp);
  const pid_t writers[2] = {StartWriter('A', kRounds), StartWriter('B', kRounds)};
  if (writers[0] <= 0 || writers[1] <= 0) {
    for (const pid_t pid : writers) {
      if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    FAIL() << "fork failed";
  }

  struct Watch {
    const char* key;
    char writer;  // 0: either
    int last_round = -1;
    bool seen = false;
  };
  Watch watches[] = {{"OwnA", 'A'}, {"OwnB", 'B'}, {"Shared", 0}};
  std::vector<std::string> faults;
  int status[2] = {0, 0};
  bool reaped[2] = {false, false};
  int running = 2;
  long reads = 0;
  // Reads until both writers are gone, then once more: the file then holds the final values.
  for (bool last = false; !last;) {
    last = running == 0;
    const std::string text = ReadLikeCat(IniPath());
    ++reads;
    for (Watch& w : watches) {
      const std::string value = ValueIn(text, w.key);
      if (value.empty()) {
        if (w.seen) faults.push_back(std::string(w.key) + " read empty after a value");
        continue;
      }
      const int round = RoundOf(value, w.writer, kRounds);
      if (round < 0) {
        faults.push_back(std::string(w.key) + " held a value nobody wrote: " + value);
      } else if (w.writer != 0 && round < w.last_round) {
        faults.push_back(std::string(w.key) + " went back from round " +
                         std::to_string(w.last_round) + " to " + std::to_string(round));
      }
      w.seen = true;
      w.last_round = std::max(w.last_round, round);
    }
    for (int i = 0; i < 2; ++i) {
      if (!reaped[i] && ::waitpid(writers[i], &status[i], WNOHANG) == writers[i]) {
        reaped[i] = true;
        --running;
      }
    }
    if (faults.size() > 20) break;  // enough evidence
  }
  for (int i = 0; i < 2; ++i) {
    if (!reaped[i]) {
      ASSERT_EQ(::waitpid(writers[i], &status[i], 0), writers[i]);
    }
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(WIFEXITED(status[i]) && WEXITSTATUS(status[i]) == 0)
        << "writer " << i << " status " << status[i];
  }
  for (const std::string& f : faults) ADD_FAILURE() << f;
  RecordProperty("reads", std::to_string(reads));

  EXPECT_EQ(reader.Read("Progress", "OwnA"), Distinct('A', kRounds - 1));
  EXPECT_EQ(reader.Read("Progress", "OwnB"), Distinct('B', kRounds - 1));
  const std::string shared = reader.Read("Progress", "Shared");
  EXPECT_TRUE(shared == Distinct('A', kRounds - 1) || shared == Distinct('B', kRounds - 1))
      << shared;
  EXPECT_EQ(Names(AppDir()), kCleanFolder);
}

}  // namespace
