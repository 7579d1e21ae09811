// End-to-end: the real vrel binary, its files, its exit status and its progress channel.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "platform/core/settings_store.h"
#include "tests/support/child_process.h"
#include "tests/support/env.h"
#include "tests/support/loop_device.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ChildProcess;
using testing_support::ExitInfo;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Bytes = std::vector<unsigned char>;

constexpr int kExitFinished = 0;
constexpr int kExitCopyFailed = 1;
constexpr int kExitBadCommandLine = 2;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class VrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = std::make_unique<TempDir>();
    ::setenv("XDG_CONFIG_HOME", config_->path().c_str(), 1);
    store_ = std::make_unique<platform::SettingsStore>("Vrel");
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  std::map<std::string, std::string> Env(const char* locale = "C") const {
    return {{"XDG_CONFIG_HOME", config_->path()}, {"LC_ALL", locale}};
  }
  ExitInfo Vrel(const std::vector<std::string>& args, const char* locale = "C") {
    return testing_support::RunToEnd(VREL_PATH, args, Env(locale));
  }
  ExitInfo Copy(const std::string& from, const std::string& to, const std::string& block) {
    return Vrel({from + ";" + to + ";" + block});
  }
  std::string Status() const { return store_->Read("Info", "Status"); }
  std::string Percent() const { return store_->Read("Info", "Percent"); }
  void SetChannel(const std::string& status, const std::string& percent) {
    std::string error;
    ASSERT_TRUE(store_->Write("Info", "Status", status, &error)) << error;
    ASSERT_TRUE(store_->Write("Info", "Percent", percent, &error)) << error;
  }

  TempDir dir_;
  std::unique_ptr<TempDir> config_;
  std::unique_ptr<platform::SettingsStore> store_;
};

// Polls `condition` until it holds (true) or 20 seconds have passed (false).
bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Whether process `pid` has a file open whose path ends in `name`.
bool HasOpen(pid_t pid, const std::string& name) {
  std::error_code ec;
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string path = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && path.size() >= name.size() &&
        path.compare(path.size() - name.size(), name.size(), name) == 0) {
      return true;
    }
  }
  return false;
}

void ExpectExit(const ExitInfo& info, int code) {
  EXPECT_TRUE(info.exited) << "ended by signal " << info.signal;
  EXPECT_EQ(info.code, code);
}

TEST_F(VrelTest, IncompleteCommandLinesChangeNothing) {
  WriteFileBytes(dir_.Path("a"), PatternBytes(10));
  const std::string a = dir_.Path("a"), b = dir_.Path("b");
  const std::vector<std::vector<std::string>> cases = {
      {}, {a + ";" + b}, {a + ";" + b + ";"}, {";" + b + ";100"}, {a + ";;100"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    ExpectExit(Vrel(args), kExitBadCommandLine);
    EXPECT_FALSE(Exists(b));
    EXPECT_FALSE(Exists(config_->Path("Vrel/settings.ini"))) << "the channel was touched";
  }
}

TEST_F(VrelTest, CopiesByteForByteInEveryBlockSize) {
  struct Row {
    const char* block;
    size_t length;
    const char* last_percent;
  };
  const Row rows[] = {
      {"1", 3000, "100"},          // every byte its own block; the last starts at the end
      {"100", 250, "80.4"},        // a short last block
      {"4096", 100001, "98.3"},    // many pages
      {"10485760", 5000, "0.02"},  // one block larger than the source
      {"0", 100000, "99.99"},      // variable speed: blocks 10 bytes apart
      {"0", 7, "14.29"},           // variable speed, shorter than one step
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.block) + " bytes per block, " + std::to_string(row.length));
    const Bytes src = PatternBytes(row.length, static_cast<unsigned>(row.length));
    WriteFileBytes(dir_.Path("src"), src);
    ::unlink(dir_.Path("dst").c_str());
    ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), row.block), kExitFinished);
    EXPECT_EQ(ReadFileBytes(dir_.Path("dst")) == src, true) << "target differs from source";
    EXPECT_EQ(ReadFileBytes(dir_.Path("src")), src) << "source changed";
    EXPECT_EQ(Status(), "Finished");
    EXPECT_EQ(Percent(), row.last_percent);
  }
}

TEST_F(VrelTest, ArgumentsMayArriveSplitAtBlanks) {
  const Bytes src = PatternBytes(300);
  WriteFileBytes(dir_.Path("my source"), src);
  // As one argument, and as the shell splits it without quotes.
  ExpectExit(Vrel({dir_.Path("my source") + ";" + dir_.Path("out one") + ";100"}), kExitFinished);
  ExpectExit(Vrel({dir_.path() + "/my", "source;" + dir_.path() + "/out", "two;100"}),
             kExitFinished);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out one")), src);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out two")), src);
}

TEST_F(VrelTest, ResumeContinuesAfterTheTargetsEndAndLeavesItsBytes) {
  const Bytes src = PatternBytes(1000);
  WriteFileBytes(dir_.Path("src"), src);
  Bytes start(120, 0xEE);  // not the source's bytes: they must stay as they are
  WriteFileBytes(dir_.Path("dst"), start);
  ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), "100"), kExitFinished);
  Bytes expected = src;
  std::copy(start.begin(), start.end(), expected.begin());
  EXPECT_EQ(ReadFileBytes(dir_.Path("dst")), expected);
  EXPECT_EQ(Percent(), "92.1");
}

TEST_F(VrelTest, NothingToCopyLeavesTargetAndPercentAlone) {
  struct Row {
    const char* name;
    size_t source_length;
    size_t target_length;
  };
  const Row rows[] = {
      {"target longer", 100, 150}, {"target as long", 100, 100}, {"empty source", 0, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFileBytes(dir_.Path("src"), PatternBytes(row.source_length));
    const Bytes target = PatternBytes(row.target_length, 7);
    WriteFileBytes(dir_.Path("dst"), target);
    SetChannel("Starting...", "77");
    ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), "10"), kExitFinished);
    EXPECT_EQ(ReadFileBytes(dir_.Path("dst")), target);
    EXPECT_EQ(Status(), "Finished");
    EXPECT_EQ(Percent(), "77");
  }
  // A target that did not exist is created empty.
  ExpectExit(Copy(dir_.Path("src"), dir_.Path("new"), "10"), kExitFinished);
  EXPECT_TRUE(Exists(dir_.Path("new")));
  EXPECT_TRUE(ReadFileBytes(dir_.Path("new")).empty());
}

// Failures and refusals: the reason names what was given, Status tells a failed copy, and the
// target is touched only where both files had to be opened (a negative block size). What holds no
// data to rescue, a block size that is no number, and a target that is the progress file (or a
// link to it) are refused.
TEST_F(VrelTest, FailuresAndRefusalsSayWhyAndTouchNoTarget) {
  WriteFileBytes(dir_.Path("src"), PatternBytes(100));
  ASSERT_EQ(::mkdir(dir_.Path("adir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0600), 0);
  {
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir_.Path("sock");
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);  // the socket file stays
  }
  SetChannel("Finished", "55");
  const std::string ini = config_->Path("Vrel/settings.ini");
  ASSERT_EQ(::symlink(ini.c_str(), dir_.Path("link").c_str()), 0);
  const std::string src = dir_.Path("src"), dst = dir_.Path("dst");
  struct Row {
    std::string source;
    std::string target;
    std::string block;
    int exit_code;
    const char* status;  // it was "Finished" before
    std::string reason;  // a part of the message
  };
  const Row rows[] = {
      {dir_.Path("missing"), dst, "10", kExitCopyFailed, "Starting...", dir_.Path("missing")},
      {src, dst, " -10", kExitCopyFailed, "Starting...", "' -10'"},
      {dir_.Path("adir"), dst, "100", kExitCopyFailed, "Starting...", dir_.Path("adir")},
      {dir_.Path("fifo"), dst, "100", kExitCopyFailed, "Starting...", dir_.Path("fifo")},
      {dir_.Path("sock"), dst, "100", kExitCopyFailed, "Starting...", dir_.Path("sock")},
      {"/dev/zero", dst, "100", kExitCopyFailed, "Starting...", "/dev/zero"},
      {src, dst, "1e3", kExitBadCommandLine, "Finished", "'1e3'"},
      {src, dst, "0x10", kExitBadCommandLine, "Finished", "'0x10'"},
      {src, dst, "100abc", kExitBadCommandLine, "Finished", "'100abc'"},
      {src, dst, "00", kExitBadCommandLine, "Finished", "'00'"},
      {src, dst, "2147483648", kExitBadCommandLine, "Finished", "'2147483648'"},
      {src, ini, "100", kExitCopyFailed, "Starting...", ini},
      {src, ini + ".lock", "100", kExitCopyFailed, "Starting...", ini + ".lock"},
      {src, dir_.Path("link"), "100", kExitCopyFailed, "Starting...", dir_.Path("link")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source + ";" + row.target + ";" + row.block);
    ::unlink(dst.c_str());
    SetChannel("Finished", "55");
    ChildProcess vrel(VREL_PATH, {row.source + ";" + row.target + ";" + row.block}, Env(), true);
    const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(20));
    ASSERT_TRUE(end.has_value()) << "vrel hangs";
    ExpectExit(*end, row.exit_code);
    EXPECT_EQ(Status(), row.status);
    EXPECT_EQ(Percent(), "55");
    EXPECT_NE(vrel.stderr_text().find(row.reason), std::string::npos) << vrel.stderr_text();
    if (row.block == " -10") {
      EXPECT_TRUE(Exists(dst) && ReadFileBytes(dst).empty()) << "not opened, or written";
    } else {
      EXPECT_FALSE(Exists(dst)) << "a target was created";
    }
  }
  EXPECT_FALSE(Exists(dir_.Path("missing"))) << "a missing source was created";

  // A FIFO used to hold vrel in its open, deaf to termination signals. Status "Starting..." is
  // written just before the source is opened, with the signals already handled.
  SetChannel("Finished", "55");
  ChildProcess vrel(VREL_PATH, {dir_.Path("fifo") + ";" + dst + ";100"}, Env());
  ASSERT_TRUE(WaitUntil([&] { return Status() == "Starting..."; }));
  vrel.Signal(SIGTERM);
  const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(end.has_value()) << "vrel outlived SIGTERM";
  EXPECT_TRUE(end->exited ? end->code == kExitCopyFailed : end->signal == SIGTERM);
  EXPECT_FALSE(Exists(dst));
}

// Started with standard descriptors closed, a file that vrel opens must not take one of them and
// receive its error text. The negative block size fails after both files are open.
TEST_F(VrelTest, ClosedStandardDescriptorsReceiveNothing) {
  const Bytes src = PatternBytes(100);
  for (const char* closing : {"2>&-", ">&- 2>&-", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(closing);
    WriteFileBytes(dir_.Path("src"), src);
    ::unlink(dir_.Path("dst").c_str());
    SetChannel("Finished", "55");
    const std::string script = std::string("exec \"$0\" \"$1\" ") + closing;
    ExpectExit(
        testing_support::RunToEnd(
            "/bin/sh",
            {"-c", script, VREL_PATH, dir_.Path("src") + ";" + dir_.Path("dst") + ";-10"}, Env()),
        kExitCopyFailed);
    EXPECT_EQ(ReadFileBytes(dir_.Path("src")), src);
    EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")).empty());
    EXPECT_EQ(Status(), "Starting...");
    const Bytes lock = ReadFileBytes(config_->Path("Vrel/settings.ini.lock"));
    EXPECT_EQ(std::string(lock.begin(), lock.end()).find("vrel"), std::string::npos);
  }
}

// Another process that holds the progress file's lock for ever must not keep vrel from ending.
TEST_F(VrelTest, TerminationSignalEndsTheWaitForTheLock) {
  WriteFileBytes(dir_.Path("src"), PatternBytes(100));
  SetChannel("Finished", "55");
  const int holder = ::open(config_->Path("Vrel/settings.ini.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  ChildProcess vrel(VREL_PATH, {dir_.Path("src") + ";" + dir_.Path("dst") + ";10"}, Env());
  // Once vrel holds the lock file open it waits for the lock, its signals handled.
  const bool waiting = WaitUntil([&] { return HasOpen(vrel.pid(), "settings.ini.lock"); });
  vrel.Signal(SIGTERM);
  const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(20));
  ::close(holder);
  ASSERT_TRUE(waiting) << "vrel never opened the lock file";
  ASSERT_TRUE(end.has_value()) << "vrel outlived SIGTERM";
  EXPECT_FALSE(end->exited) << "exit status " << end->code;
  EXPECT_EQ(end->signal, SIGTERM);
  EXPECT_EQ(Status(), "Finished");
  EXPECT_FALSE(Exists(dir_.Path("dst")));
}

// A disc or disk read through its device, as a rescue often is.
TEST_F(VrelTest, CopiesABlockDevice) {
  const Bytes src = PatternBytes(1 << 20, 5);
  WriteFileBytes(dir_.Path("image"), src);
  testing_support::LoopDevice loop(dir_.Path("image"));
  if (loop.device().empty()) GTEST_SKIP() << "no loop device here: " << loop.why();
  ExpectExit(Copy(loop.device(), dir_.Path("dst"), "4096"), kExitFinished);
  EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == src) << "the copy differs from the device";
  EXPECT_EQ(Status(), "Finished");
}

TEST_F(VrelTest, PercentUsesTheUsersDecimalSeparator) {
  testing_support::ScopedLocale probe(testing_support::kCommaLocale);
  if (!probe.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  WriteFileBytes(dir_.Path("src"), PatternBytes(250));
  ExpectExit(
      Vrel({dir_.Path("src") + ";" + dir_.Path("dst") + ";100"}, testing_support::kCommaLocale),
      kExitFinished);
  EXPECT_EQ(Percent(), "80,4");
}

// A small file system that fills up: the copy fails and says so.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& where, const char* size) : where_(where) {
    ::mkdir(where.c_str(), 0700);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

TEST_F(VrelTest, FullTargetDiskFailsAndKeepsTheSource) {
  TmpfsMount small(dir_.Path("small"), "64k");
  if (!small.mounted()) SKIP_OR_FAIL_IN_CI("cannot mount a small tmpfs here (needs CAP_SYS_ADMIN)");
  const Bytes src = PatternBytes(1 << 20);
  WriteFileBytes(dir_.Path("src"), src);
  const std::string target = dir_.Path("small") + "/dst";
  ExpectExit(Copy(dir_.Path("src"), target, "1000"), kExitCopyFailed);
  EXPECT_EQ(Status(), "Starting...");
  EXPECT_EQ(ReadFileBytes(dir_.Path("src")), src);
  const Bytes got = ReadFileBytes(target);
  EXPECT_LT(got.size(), src.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()))
      << "what was written is not the source";
}

// Stopped by a signal: ends by that signal after a whole block, the channel as for a stopped
// copy, and a second run completes the copy.
TEST_F(VrelTest, TerminationSignalStopsAfterAWholeBlockAndResumeCompletes) {
  const Bytes src = PatternBytes(32 << 20);
  WriteFileBytes(dir_.Path("src"), src);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    ::unlink(dir_.Path("dst").c_str());
    SetChannel("Finished", "");
    ChildProcess vrel(VREL_PATH, {dir_.Path("src") + ";" + dir_.Path("dst") + ";10"}, Env());
    ASSERT_TRUE(WaitUntil([&] { return !Percent().empty() || !vrel.Running(); }));
    ASSERT_FALSE(Percent().empty()) << "the copy never reported progress";
    vrel.Signal(sig);
    const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(end.has_value()) << "vrel did not stop";
    EXPECT_FALSE(end->exited) << "exit status " << end->code;
    EXPECT_EQ(end->signal, sig);
    EXPECT_EQ(Status(), "Starting...");

    const Bytes got = ReadFileBytes(dir_.Path("dst"));
    ASSERT_GT(got.size(), 0u);
    ASSERT_LT(got.size(), src.size()) << "the copy finished before the signal";
    EXPECT_EQ(got.size() % 10, 0u) << "stopped inside a block";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()));
    // The last Percent belongs to the last whole block.
    const double last_block_start = static_cast<double>(got.size() - 9);
    const double percent = std::strtod(Percent().c_str(), nullptr);
    EXPECT_NEAR(percent, 100.0 * last_block_start / static_cast<double>(src.size()), 0.0051);

    ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), "1048576"), kExitFinished);
    EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == src) << "the resumed copy differs";
  }
}

TEST_F(VrelTest, KilledAtRandomPointsThenResumedGivesAnIdenticalCopy) {
  const Bytes src = PatternBytes(4 << 20, 3);
  WriteFileBytes(dir_.Path("src"), src);
  std::mt19937 random(20261206);  // fixed, so a failure can be repeated
  std::uniform_int_distribution<int> delay_us(0, 150000);
  int interrupted = 0;
  for (int round = 0; round < 8; ++round) {
    ChildProcess vrel(VREL_PATH, {dir_.Path("src") + ";" + dir_.Path("dst") + ";100"}, Env());
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    vrel.Signal(SIGKILL);
    const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(end.has_value());
    if (!end->exited) ++interrupted;
    // Killed before it opened the target, vrel has not created it yet.
    const Bytes got = Exists(dir_.Path("dst")) ? ReadFileBytes(dir_.Path("dst")) : Bytes{};
    ASSERT_LE(got.size(), src.size());
    ASSERT_TRUE(std::equal(got.begin(), got.end(), src.begin())) << "round " << round;
  }
  EXPECT_GT(interrupted, 0) << "no round was killed mid-copy: the test proved nothing";
  ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), "100"), kExitFinished);
  EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == src);
  EXPECT_EQ(Status(), "Finished");
}

}  // namespace
