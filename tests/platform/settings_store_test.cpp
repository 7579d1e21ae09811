// The settings store on a real file system: what it reads from files written by hand and leaves
// after a write, what it refuses, and that no link, foreign file or second writer can make it
// write elsewhere, tear a text or lose a value.
#include "platform/core/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stdio.h>  // renameat2, RENAME_EXCHANGE
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::SettingsStore;

constexpr char kApp[] = "App";

// What a reader finds at `path`, never waiting on a FIFO nor going through a link.
std::string FileText(const std::string& path) {
  if (!fs::is_regular_file(fs::symlink_status(path))) return "<no regular file>";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() { ::setenv("XDG_CONFIG_HOME", ConfigDir().c_str(), 1); }
  // The configuration home does not exist yet: the store has to make it.
  std::string ConfigDir() const { return temp_.path() + "/config"; }
  std::string AppDir() const { return ConfigDir() + "/" + kApp; }
  std::string IniPath() const { return AppDir() + "/settings.ini"; }
  // Nothing else, such as a half-written file or an old one, ever stays in the store's folder.
  bool FolderIsClean() const {
    return std::set<fs::path>(fs::directory_iterator(AppDir()), {}) ==
           std::set<fs::path>{IniPath(), IniPath() + ".lock"};
  }

  testing_support::TempDir temp_;
};

// Each row reads S/k from a file, then writes s/n: every other value keeps its place and its names
// as first written; a text that is no settings file reads as empty and is replaced. Under umask 0
// any mode wider than the store's own would show.
TEST_F(SettingsStoreTest, FilesWrittenByHandAreReadAndKeptByAWrite) {
  const mode_t old_umask = ::umask(0);
  // clang-format off
  std::vector<std::tuple<const char*, const char*, const char*>> rows = {
      {nullptr, "", "[s]\nn==[1]\n"}, {"[S]\nk=v", "v", "[S]\nk=v\nn==[1]\n"},  // no file, no "\n"
      {"[S]\nk= v \n", " v ", "[S]\nk= v \nn==[1]\n"},
      {"\n[s]\n\nK==a=b\n \t\n", "=a=b", "[s]\nK==a=b\nn==[1]\n"},
      // Another section's key, a section opened twice, a repeated key, a key written before.
      {"[T]\nk=1\n[S]\nx=2\n[s]\nk=3\nK=4\nN=5\n", "4", "[T]\nk=1\n[S]\nx=2\nk=4\nN==[1]\n"}};
  // clang-format on
  // Texts that are no settings file read as empty and are replaced.
  for (const char* text : {"k=v\n[S]\nk=v\n", "[S]\nk=v\njunk\n", "[S]\nk=v\n=x\n", "[S\nk=v\n",
                           "[]\nk=v\n", "[S]]\nk=v\n", "[S]\r\nk=v\r\n"})
    rows.emplace_back(text, "", "[s]\nn==[1]\n");
  for (const auto& [text, read, after_write] : rows) {
    SCOPED_TRACE(text != nullptr ? text : "no file");
    if (text != nullptr) PutFile(IniPath(), text);
    SettingsStore store(kApp);
    EXPECT_EQ(store.Read("S", "k"), read);
    EXPECT_EQ(fs::exists(ConfigDir()), text != nullptr) << "a read made a folder";
    std::string error;
    EXPECT_TRUE(store.Write("s", "n", "=[1]", &error)) << error;
    EXPECT_EQ(FileText(IniPath()), after_write);
    EXPECT_EQ(fs::status(IniPath()).permissions(), fs::perms(0600));
    EXPECT_TRUE(FolderIsClean());
  }
  EXPECT_EQ(fs::status(AppDir()).permissions(), fs::perms(0700));
  EXPECT_EQ(fs::status(ConfigDir()).permissions(), fs::perms(0700));
  ::umask(old_umask);
}

// A write that cannot be done says why, naming what is in the way, and changes nothing: no folder
// for a refused text, the old file, no temporary file, the lock free. Once the obstacle is gone
// the same store writes again, also where its folder went with it.
TEST_F(SettingsStoreTest, FailedWritesChangeNothingAndTheStoreRecovers) {
  const std::string home = ConfigDir(), app = AppDir(), ini = IniPath() + "/";
  const std::string temp = IniPath() + ".tmp/";
  // Section, key, value; what is in the way: a file, or a folder (a trailing '/') made after a
  // first write.
  const std::tuple<const char*, const char*, const char*, std::string> rows[] = {
      {"", "k", "v", ""},    {"a\nb", "k", "v", ""}, {"a\rb", "k", "v", ""}, {"a=b", "k", "v", ""},
      {"[a", "k", "v", ""},  {"a]", "k", "v", ""},   {"S", "", "v", ""},     {"S", "a\rb", "v", ""},
      {"S", "a=b", "v", ""}, {"S", "]a", "v", ""},   {"S", "k", "x\ny", ""}, {"S", "k", "x\r", ""},
      {"S", "k", "v", home}, {"S", "k", "v", app},   {"S", "k", "v", ini},   {"S", "k", "v", temp},
  };
  for (const auto& [section, key, value, obstacle] : rows) {
    SCOPED_TRACE(std::string(section) + "/" + key + "=" + value + " " + obstacle);
    fs::remove_all(ConfigDir());
    SettingsStore store(kApp);
    std::string error;
    const bool folder = obstacle.ends_with('/');
    const std::string in_the_way = folder ? obstacle.substr(0, obstacle.size() - 1) : obstacle;
    if (folder) {
      EXPECT_TRUE(store.Write("S", "k", "old", &error)) << error;
      fs::remove(in_the_way);
      fs::create_directories(in_the_way);
    } else if (!obstacle.empty()) {
      PutFile(in_the_way, "not a folder\n");
    }
    const std::string before = FileText(IniPath());
    EXPECT_FALSE(store.Write(section, key, value, &error));
    EXPECT_TRUE(!error.empty() && error.find(in_the_way) != std::string::npos) << error;
    EXPECT_EQ(FileText(IniPath()), before);
    EXPECT_EQ(fs::exists(ConfigDir()), !obstacle.empty());
    EXPECT_EQ(fs::exists(IniPath() + ".tmp"), obstacle == temp);
    // Where a first write made the lock file, another open of it takes the lock at once.
    const int flock_result = ::flock(
        platform::UniqueFd(::open((IniPath() + ".lock").c_str(), O_RDWR)).get(), LOCK_EX | LOCK_NB);
    EXPECT_EQ(flock_result, folder ? 0 : -1) << "the lock is kept";
    fs::remove_all(ConfigDir());
    EXPECT_TRUE(store.Write("S", "k", "new", &error)) << error;
    EXPECT_EQ(FileText(IniPath()), "[S]\nk=new\n");
  }
}

// Most users set no XDG_CONFIG_HOME, and a relative one does not count: ~/.config then holds the
// settings. Only the names are compared.
TEST_F(SettingsStoreTest, WithoutAnAbsoluteConfigurationHomeTheSettingsLieInHome) {
  const std::string real_home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", temp_.path().c_str(), 1);
  for (const char* xdg : {"", "relative"}) {
    ::setenv("XDG_CONFIG_HOME", xdg, 1);
    EXPECT_EQ(SettingsStore(kApp).path(), temp_.path() + "/.config/App/settings.ini") << xdg;
  }
  ::setenv("HOME", real_home.c_str(), 1);
}

// Whatever lies at one of the store's names, a write never goes through it into another file, and
// what the store cannot use is replaced by a file of its own.
TEST_F(SettingsStoreTest, LinksAndForeignFilesAtItsNamesAreReplacedNeverFollowed) {
  const std::string victim = temp_.path() + "/victim", nowhere = temp_.path() + "/nowhere";
  const std::pair<std::string, std::function<void(const std::string&)>> plants[] = {
      {"link to a file", [&](const std::string& at) { fs::create_symlink(victim, at); }},
      {"dangling link", [&](const std::string& at) { fs::create_symlink(nowhere, at); }},
      {"FIFO", [](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
      {"read-only", [](const std::string& at) { PutFile(at, "[S]\nold=1\n", 0400); }},
      {"unreadable", [](const std::string& at) { PutFile(at, "[S]\nold=1\n", 0000); }},
  };
  // Root's rights would hide a file the store may not open: the test runs as the user nobody.
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || (::chown(temp_.path().c_str(), kNobody, kNobody) == 0 &&
                        ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0));
  ::alarm(30);  // a store that waits on a FIFO must not hang the test
  for (const std::string name : {"settings.ini", "settings.ini.lock", "settings.ini.tmp"}) {
    for (const auto& [what, plant] : plants) {
      SCOPED_TRACE(what + " at " + name);
      fs::remove_all(ConfigDir());
      PutFile(victim, "not the store's\n");
      fs::create_directories(AppDir());
      plant(AppDir() + "/" + name);
      SettingsStore store(kApp);
      std::string error;
      EXPECT_TRUE(store.Write("S", "k", "v", &error) && store.Write("S", "j", "w", &error))
          << error;
      EXPECT_EQ(FileText(victim), "not the store's\n");
      EXPECT_TRUE(FolderIsClean());
      EXPECT_EQ(FileText(IniPath() + ".lock"), "");
      // A read-only settings file is read, so its values stay; one that cannot be read is lost.
      const bool kept = what == "read-only" && name == "settings.ini";
      EXPECT_EQ(FileText(IniPath()), kept ? "[S]\nold=1\nk=v\nj=w\n" : "[S]\nk=v\nj=w\n");
    }
  }
  ::alarm(0);
  EXPECT_TRUE(!root || (::seteuid(0) == 0 && ::setegid(0) == 0));
}

// A file system without RENAME_EXCHANGE (vfat, NFS, many FUSE file systems) answers it with
// EINVAL. A seccomp filter gives that answer to this thread only, for the real file system here.
bool RefuseRenameExchangeInThisThread() {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "loads the flags' low half");
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, RENAME_EXCHANGE, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) == 0;
}

// Without the exchange a plain rename puts the new file in place: every value kept, nothing left
// behind.
TEST_F(SettingsStoreTest, WithoutRenameExchangeAPlainRenameReplacesTheFile) {
  bool filtered = false;
  std::thread([&] {
    filtered = RefuseRenameExchangeInThisThread();
    if (!filtered) return;
    SettingsStore store(kApp);
    std::string error;
    for (const char* value : {"1", "2", "3"})
      EXPECT_TRUE(store.Write("S", value, value, &error) && FolderIsClean()) << error;
    EXPECT_EQ(FileText(IniPath()), "[S]\n1=1\n2=2\n3=3\n");
    EXPECT_EQ(fs::status(IniPath()).permissions(), fs::perms(0600));
    // The filter did refuse the exchange.
    const std::string ini = IniPath(), lock = ini + ".lock";
    EXPECT_EQ(::renameat2(AT_FDCWD, ini.c_str(), AT_FDCWD, lock.c_str(), RENAME_EXCHANGE), -1);
    EXPECT_EQ(errno, EINVAL);
  }).join();
  if (!filtered) SKIP_OR_FAIL_IN_CI("no seccomp filter could be installed here");
}

// A value made of its round only, long enough that a text read in pieces while it changes shows a
// mixture.
std::string Value(int round) {
  std::string value;
  while (value.size() < 300) value += std::to_string(round) + ";";
  return value;
}

// Two writers share the file while a reader reads it as a plain `cat` would (no lock, in small
// pieces) until both are done, and once more: every text it sees is one a writer left whole, and
// no writer's value ever goes back.
TEST_F(SettingsStoreTest, ConcurrentWritersNeverTearOrLoseValues) {
  constexpr int kRounds = 2000;
  std::atomic<int> running = 2;
  const auto write_rounds = [&](const char* key) {
    SettingsStore store(kApp);
    for (int round = 0; round < kRounds; ++round)
      EXPECT_TRUE(store.Write("Progress", key, Value(round), nullptr));
    --running;
  };
  std::thread first(write_rounds, "A"), second(write_rounds, "B");
  int last_round[2] = {-1, -1};
  for (bool last = false; !last && !HasFailure();) {
    last = running == 0;
    std::ifstream in;
    char piece[16];
    in.rdbuf()->pubsetbuf(piece, sizeof piece);
    in.open(IniPath(), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    for (const int writer : {0, 1}) {
      const size_t at = text.find(std::string("\n") + "AB"[writer] + "=");
      const std::string value =
          at == std::string::npos ? "" : text.substr(at + 3, text.find('\n', at + 3) - at - 3);
      const int round = value.empty() ? -1 : std::atoi(value.c_str());
      EXPECT_EQ(value, round < 0 ? "" : Value(round)) << text;
      EXPECT_GE(round, last_round[writer]) << text;
      last_round[writer] = round;
    }
  }
  first.join();
  second.join();
  EXPECT_EQ(std::pair(last_round[0], last_round[1]), std::pair(kRounds - 1, kRounds - 1));
}

}  // namespace
