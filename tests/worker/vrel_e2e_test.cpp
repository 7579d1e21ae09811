// End-to-end: the real vrel binary, its files, its exit status and its progress channel; on
// damaged media served by the damagedfs fixture, against the copy rule and vrel-reference.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "platform/core/rescue_map.h"
#include "platform/core/settings_store.h"
#include "platform/core/unique_fd.h"
#include "tests/support/child_process.h"
#include "tests/support/damaged_mount.h"
#include "tests/support/env.h"
#include "tests/support/loop_device.h"
#include "tests/support/temp_dir.h"
#include "worker/mm.h"

namespace {

using testing_support::ChildProcess;
using testing_support::ExitInfo;
using testing_support::Mounted;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::Shell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using worker::kExitBadCommandLine;
using worker::kExitCopyFailed;
using worker::kExitFinished;
using Bytes = std::vector<unsigned char>;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Polls `condition` until it holds (true) or 20 seconds have passed (false).
bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

::testing::AssertionResult Exited(const std::optional<ExitInfo>& end, int code,
                                  const std::string& error_text = "") {
  if (end && end->exited && end->code == code) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "expected exit status " << code << ", got ";
  if (!end) return failure << "no end within the time-out";
  return failure << (end->exited ? "exit status " + std::to_string(end->code)
                                 : "signal " + std::to_string(end->signal))
                 << "; stderr: " << error_text;
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

// Whether process `pid` has a file open whose path ends in `name`.
bool HasOpen(pid_t pid, const std::string& name) {
  std::error_code ec;
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (std::filesystem::read_symlink(entry.path(), ec).string().ends_with(name) && !ec) {
      return true;
    }
  }
  return false;
}

void ExpectExit(const ExitInfo& info, int code) { EXPECT_TRUE(Exited(info, code)); }

TEST_F(VrelTest, IncompleteCommandLinesChangeNothing) {
  WriteFileBytes(dir_.Path("a"), PatternBytes(10));
  const std::string a = dir_.Path("a"), b = dir_.Path("b");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {a + ";" + b},
      {a + ";" + b + ";"},
      {";" + b + ";100"},
      {a + ";;100"},
      {"--source", a, "--target", b},                                   // no block size
      {"--source", a, "--target", b, "--block-size"},                   // no value
      {"--source", "", "--target", b, "--block-size", "100"},           // an empty value
      {"--source", a, "--target", b, "--block-size", "100", "--fast"},  // an unknown option
      {"--source", a, "--target", b, "--block-size", "100", a + ";" + b + ";100"},
      {"--target", b, "--block-size", "100", "--source", a, "--target", a},  // twice
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    ExpectExit(Vrel(args), kExitBadCommandLine);
    EXPECT_FALSE(Exists(b));
    EXPECT_FALSE(Exists(config_->Path("Vrel/settings.ini"))) << "the channel was touched";
  }
}

// The options form takes a path that holds ";" whole, in any order and as --name=value; --help
// and --version answer with status 0 and touch nothing.
TEST_F(VrelTest, OptionsCarryPathsHoldingSemicolonsAndHelpAndVersionAnswer) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"},
                                             {"--version"},
                                             {"--source", "a", "--help"},
                                             {"--target", "b", "--version"}}) {
    SCOPED_TRACE(args.back());
    ExpectExit(Vrel(args), kExitFinished);
    EXPECT_FALSE(Exists(config_->Path("Vrel/settings.ini"))) << "the channel was touched";
  }
  const Bytes src = PatternBytes(3000);
  const std::string source = dir_.Path("disc;1.iso");
  WriteFileBytes(source, src);
  ExpectExit(Vrel({"--block-size", "100", "--target", dir_.Path("out;1"), "--source", source}),
             kExitFinished);
  ExpectExit(Vrel({"--source=" + source, "--target=" + dir_.Path("out;2"), "--block-size=0"}),
             kExitFinished);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out;1")), src);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out;2")), src);
  EXPECT_EQ(Status(), "Finished");
}

TEST_F(VrelTest, CopiesByteForByteInEveryBlockSize) {
  struct Row {
    const char* block;
    size_t length;
    const char* last_percent;
  };
  const Row rows[] = {
      {"1", 3000, "100"},           // every byte its own block; the last starts at the end
      {"100", 250, "80.4"},         // a short last block
      {" +4096 ", 100001, "98.3"},  // many pages; blanks and a sign around the number
      {"10485760", 5000, "0.02"},   // one block larger than the source
      {"0", 100000, "99.99"},       // variable speed: blocks 10 bytes apart
      {"0", 7, "14.29"},            // variable speed, shorter than one step
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.block) + " bytes per block, " + std::to_string(row.length));
    const Bytes src = PatternBytes(row.length, static_cast<unsigned>(row.length));
    WriteFileBytes(dir_.Path("src"), src);
    ::unlink(dir_.Path("dst").c_str());
    ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), row.block), kExitFinished);
    EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == src) << "target differs from source";
    EXPECT_EQ(ReadFileBytes(dir_.Path("src")), src) << "source changed";
    EXPECT_EQ(Status(), "Finished");
    EXPECT_EQ(Percent(), row.last_percent);
  }
}

// As one argument, and as the shell splits it without quotes; a fourth part is ignored.
TEST_F(VrelTest, ArgumentsMayArriveSplitAtBlanks) {
  const Bytes src = PatternBytes(300);
  WriteFileBytes(dir_.Path("my source"), src);
  ExpectExit(Vrel({dir_.Path("my source") + ";" + dir_.Path("out one") + ";100;x"}), kExitFinished);
  ExpectExit(Vrel({dir_.path() + "/my", "source;" + dir_.path() + "/out", "two;100"}),
             kExitFinished);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out one")), src);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out two")), src);
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
    EXPECT_FALSE(Exists(dir_.Path("dst.map")));
  }
  // A target that did not exist is created empty.
  ExpectExit(Copy(dir_.Path("src"), dir_.Path("new"), "10"), kExitFinished);
  EXPECT_TRUE(Exists(dir_.Path("new")));
  EXPECT_TRUE(ReadFileBytes(dir_.Path("new")).empty());
}

// Failures and refusals: the reason names what was given, Status tells a failed copy, and the
// target is touched only where both files had to be opened (a negative block size). What holds no
// data to rescue, a block size that is no number, and a target that is the progress file (or a
// link to it) are refused; a full disk stops the copy before its first Percent.
TEST_F(VrelTest, FailuresAndRefusalsSayWhyAndTouchNoTarget) {
  WriteFileBytes(dir_.Path("src"), PatternBytes(100));
  ASSERT_EQ(::mkdir(dir_.Path("adir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0600), 0);
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
      {"/dev/zero", dst, "100", kExitCopyFailed, "Starting...", "/dev/zero"},
      {src, dst, "1e3", kExitBadCommandLine, "Finished", "'1e3'"},
      {src, dst, "0x10", kExitBadCommandLine, "Finished", "'0x10'"},
      {src, dst, "1.5", kExitBadCommandLine, "Finished", "'1.5'"},
      {src, dst, "100abc", kExitBadCommandLine, "Finished", "'100abc'"},
      {src, dst, "00", kExitBadCommandLine, "Finished", "'00'"},
      {src, dst, "2147483648", kExitBadCommandLine, "Finished", "'2147483648'"},
      {src, ini, "100", kExitCopyFailed, "Starting...", ini},
      {src, ini + ".lock", "100", kExitCopyFailed, "Starting...", ini + ".lock"},
      {src, config_->Path("Vrel/running.lock"), "100", kExitCopyFailed, "Starting...", "running"},
      {src, dir_.Path("link"), "100", kExitCopyFailed, "Starting...", dir_.Path("link")},
      {src, "/dev/full", "100", kExitCopyFailed, "Starting...", "No space left on device"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source + ";" + row.target + ";" + row.block);
    ::unlink(dst.c_str());
    SetChannel("Finished", "55");
    ChildProcess vrel(VREL_PATH, {row.source + ";" + row.target + ";" + row.block}, Env(), true);
    EXPECT_TRUE(Exited(vrel.Wait(std::chrono::seconds(20)), row.exit_code, vrel.stderr_text()));
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
  EXPECT_FALSE(Exists("/dev/full.map")) << "a map beside a device";

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

// A write that fails partway through a block (here at the file size limit, 10233 bytes): the
// bytes written stay, Percent names the last block written whole, as in the block-by-block loop,
// and a resume completes the copy. Block starts by hand from the copy rule; 40000-byte source.
TEST_F(VrelTest, AWriteFailingMidBlockReportsTheLastWholeBlockAndResumeCompletes) {
  const Bytes src = PatternBytes(40000, 9);
  WriteFileBytes(dir_.Path("src"), src);
  const std::pair<const char*, const char*> rows[] = {
      {"1", "25.58"},     // the block at 10233
      {"100", "25.25"},   // 102 whole blocks, the last at 10101
      {"1000", "22.5"},   // 10 whole, the last at 9001
      {"4096", "10.24"},  // 2 whole, the last at 4097
      {"0", "0.23"},      // the block at 91 (5120 bytes) is whole; the one at 101 (10240) not
      {"1048576", "77"},  // no whole block: Percent as it was
  };
  for (const auto& [block, percent] : rows) {
    for (const char* program : {VREL_REFERENCE_PATH, VREL_PATH}) {
      SCOPED_TRACE(std::string(program) + ", block " + block);
      ::unlink(dir_.Path("dst").c_str());
      SetChannel("Finished", "77");
      // Inherited by vrel: the limit, and SIGXFSZ ignored so that the write fails with EFBIG.
      rlimit old_limit{};
      ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
      rlimit limit = old_limit;
      limit.rlim_cur = 10233;
      const sighandler_t old_handler = ::signal(SIGXFSZ, SIG_IGN);
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
      ChildProcess vrel(program, {dir_.Path("src") + ";" + dir_.Path("dst") + ";" + block}, Env(),
                        true);
      const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(60));
      ::setrlimit(RLIMIT_FSIZE, &old_limit);
      ::signal(SIGXFSZ, old_handler);
      EXPECT_TRUE(Exited(end, kExitCopyFailed, vrel.stderr_text()));
      EXPECT_NE(vrel.stderr_text().find("cannot write the target at byte 10234: File too large"),
                std::string::npos)
          << vrel.stderr_text();
      EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == Bytes(src.begin(), src.begin() + 10233));
      EXPECT_EQ(Status(), "Starting...");
      EXPECT_EQ(Percent(), percent);
      ExpectExit(Copy(dir_.Path("src"), dir_.Path("dst"), block), kExitFinished);
      EXPECT_TRUE(ReadFileBytes(dir_.Path("dst")) == src);
    }
  }
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
  const platform::UniqueFd holder(
      ::open(config_->Path("Vrel/settings.ini.lock").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(holder.valid());
  ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
  ChildProcess vrel(VREL_PATH, {dir_.Path("src") + ";" + dir_.Path("dst") + ";10"}, Env());
  // Once vrel holds the lock file open it waits for the lock, its signals handled.
  ASSERT_TRUE(WaitUntil([&] { return HasOpen(vrel.pid(), "settings.ini.lock"); }))
      << "vrel never opened the lock file";
  vrel.Signal(SIGTERM);
  const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(20));
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
}

TEST_F(VrelTest, PercentUsesTheUsersDecimalSeparator) {
  testing_support::ScopedLocale probe(testing_support::kCommaLocale);
  if (!probe.ok()) {
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  }
  WriteFileBytes(dir_.Path("src"), PatternBytes(250));
  ExpectExit(
      Vrel({dir_.Path("src") + ";" + dir_.Path("dst") + ";100"}, testing_support::kCommaLocale),
      kExitFinished);
  EXPECT_EQ(Percent(), "80,4");
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

// What a copy killed at any moment left is the start of the copy, and a resume completes it; a
// killed copy leaves no lock that would refuse the next one.
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

// ---------------------------------------------------------------------------------------------
// Damaged media: an image served by damagedfs, whose bad ranges fail with EIO exactly at their
// first byte and whose short ranges answer every read with half of what it asked for.

using testing_support::DamagedMount;
using testing_support::Ranges;

// The copy rule: blocks start `block` bytes apart after the target's end (10 in variable speed,
// where the block doubles after a whole read while below 10000 and is 10 again after a failed
// one) and are cut to what remains of the source; a read delivers the bytes before the first bad
// one; a failed block's zeros land only beyond the target's end. *statuses, when given, is the
// rescue map byte by byte: '-' where zeros landed that no later read delivered, '+' where a read
// delivered, '?' for the bytes the target held before.
Bytes ExpectedCopy(const Bytes& source, const Ranges& bad, int32_t block, Bytes target,
                   std::string* statuses = nullptr) {
  const int64_t length = std::ssize(source);
  const int64_t step = block == 0 ? 10 : block;
  int64_t size = step;
  for (int64_t pos = std::ssize(target); pos < length; pos += step) {
    size = std::min(size, length - pos);
    int64_t good_end = pos + size;
    for (const auto& [start, bad_length] : bad) {
      // Only a bad byte before the one found so far moves good_end.
      if (start < good_end && start + bad_length > pos) good_end = std::max(start, pos);
    }
    if (statuses != nullptr) {
      statuses->resize(target.size(), '?');
      // Zeros land only beyond the target's end.
      statuses->resize(std::max(target.size(), static_cast<size_t>(pos + size)), '-');
      std::fill(statuses->begin() + pos, statuses->begin() + good_end, '+');
    }
    if (std::ssize(target) < pos + size) target.resize(static_cast<size_t>(pos + size), 0);
    std::copy(source.begin() + pos, source.begin() + good_end, target.begin() + pos);
    if (block == 0) size = good_end < pos + size ? 10 : size < 10000 ? 2 * size : size;
  }
  return target;
}

// The statuses of the map at `path`, byte by byte; it must be the map of `source` (`length` bytes).
std::string MapStatuses(const std::string& path, const std::string& source, int64_t length) {
  const Bytes text = ReadFileBytes(path);
  std::string error;
  const std::optional<platform::RescueMap> map =
      platform::RescueMap::Parse(std::string(text.begin(), text.end()), &error);
  EXPECT_TRUE(map.has_value()) << path << ": " << error;
  if (!map) return {};
  EXPECT_TRUE(map->Describes(source, length)) << map->source_path() << ", " << map->source_size();
  std::string statuses;
  for (const platform::MapArea& area : map->areas()) {
    statuses.append(static_cast<size_t>(area.size), static_cast<char>(area.status));
  }
  return statuses;
}

// The map at `path` says `statuses` of `source`, byte by byte, and so does ddrescuelog where it is
// installed: its list of the unreadable bytes.
void ExpectMap(const std::string& path, const std::string& source, const std::string& statuses) {
  const std::string got = MapStatuses(path, source, std::ssize(statuses));
  const auto differ = std::mismatch(got.begin(), got.end(), statuses.begin(), statuses.end());
  EXPECT_TRUE(got == statuses) << "first difference at byte " << differ.first - got.begin();
  std::string listed, unreadable;
  for (size_t i = 0; i < statuses.size(); ++i) {
    if (statuses[i] == '-') unreadable += std::to_string(i) + "\n";
  }
  FILE* pipe = ::popen(("ddrescuelog -b1 -l- '" + path + "' 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t got_bytes;
       pipe != nullptr && (got_bytes = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
    listed.append(buf, got_bytes);
  }
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    std::cerr << "ddrescuelog is not installed: its reading of the map is not compared\n";
    return;
  }
  EXPECT_EQ(listed, unreadable) << "ddrescuelog reads the map otherwise";
}

struct DamagedCase {
  const char* name;
  int64_t length;  // source bytes: a prime makes the last block short for every block size
  int32_t block;   // 0: variable speed
  int64_t held;    // target bytes before the run; a quarter of them not the source's
  Ranges bad;
  Ranges short_reads;
};

void PrintTo(const DamagedCase& row, std::ostream* os) { *os << row.name; }

const DamagedCase kDamagedCases[] = {
    // The copy must be exact: a read that stopped at its first short answer would leave zeros.
    {"ShortReadsOnly", 200003, 65536, 0, {}, {{0, 200003}}},
    {"Block1", 3001, 1, 0, {{150, 1}, {2000, 30}}, {}},
    {"Block100Resumed", 30011, 100, 250, {{100, 20}, {1300, 50}, {7000, 5}}, {{2000, 3000}}},
    {"Block4096AcrossBoundaries", 10007, 4096, 0, {{4090, 110}}, {{0, 4000}}},
    {"Block16384AtStartAndEnd", 10007, 16384, 0, {{0, 5}, {10004, 3}}, {}},
    {"VariableSpeed", 40000, 0, 0, {{500, 20}, {530, 5}, {9000, 1}}, {{20000, 5000}}},
    {"VariableSpeedResumed", 30011, 0, 1234, {{100, 20}, {15000, 3000}}, {}},
};

class VrelDamagedTest : public VrelTest, public ::testing::WithParamInterface<DamagedCase> {};

// vrel and vrel-reference, the block-by-block loop, both give the copy rule's target and the
// same last Percent.
TEST_P(VrelDamagedTest, FollowsTheCopyRuleAsTheBlockByBlockLoopDoes) {
  if (!testing_support::FuseAvailable()) {
    SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened: these tests need FUSE");
  }
  const DamagedCase& row = GetParam();
  const Bytes source = PatternBytes(static_cast<size_t>(row.length), 21);
  WriteFileBytes(dir_.Path("image"), source);
  const DamagedMount mount(DAMAGEDFS_PATH, dir_, dir_.Path("image"), row.bad, row.short_reads);
  ASSERT_TRUE(mount.served()) << "damagedfs did not serve the image: " << mount.log();
  Bytes held(source.begin(), source.begin() + row.held);
  for (int64_t i = row.held / 4; i < row.held / 2; ++i) held[static_cast<size_t>(i)] ^= 0xFF;
  std::string statuses;
  const Bytes expected = ExpectedCopy(source, row.bad, row.block, held, &statuses);

  std::vector<std::string> percents;
  for (const char* program : {VREL_REFERENCE_PATH, VREL_PATH}) {
    SCOPED_TRACE(program);
    WriteFileBytes(dir_.Path("target"), held);
    ChildProcess vrel(program,
                      {mount.file() + ";" + dir_.Path("target") + ";" + std::to_string(row.block)},
                      Env(), true);
    ASSERT_TRUE(Exited(vrel.Wait(std::chrono::seconds(300)), kExitFinished, vrel.stderr_text()));
    EXPECT_EQ(Status(), "Finished");
    const Bytes target = ReadFileBytes(dir_.Path("target"));
    const auto differ =
        std::mismatch(target.begin(), target.end(), expected.begin(), expected.end());
    EXPECT_TRUE(target == expected)
        << "length " << target.size() << ", expected " << expected.size()
        << "; first difference at byte " << differ.first - target.begin();
    percents.push_back(Percent());
    ExpectMap(dir_.Path("target.map"), mount.file(), statuses);
  }
  EXPECT_EQ(percents[0], percents[1]);
  if (!row.short_reads.empty()) {
    EXPECT_TRUE(mount.AnsweredShort()) << "no read came back short: the row proves nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VrelDamagedTest, ::testing::ValuesIn(kDamagedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// While a copy runs, a second one is refused before it touches a file. A medium that goes away
// (its server dies) is no bad spot: the copy ends after the last block it read, says why and
// leaves Status at "Starting..."; with the medium back, a resume completes it.
TEST_F(VrelTest, OneCopyAtATimeAndAMediumThatGoesAwayEndsItAtItsLastBlock) {
  const platform::UniqueFd fuse(::open("/dev/fuse", O_RDWR | O_CLOEXEC));
  if (!fuse.valid()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened: these tests need FUSE");
  const Bytes source = PatternBytes((4 << 20) + 1001, 9);
  WriteFileBytes(dir_.Path("image"), source);
  std::optional<DamagedMount> mount(std::in_place, DAMAGEDFS_PATH, dir_, dir_.Path("image"),
                                    Ranges{}, Ranges{}, Ranges{{0, int64_t{1} << 40}}, 50000);
  ASSERT_TRUE(mount->served()) << "damagedfs did not serve the image: " << mount->log();
  const std::string command = mount->file() + ";" + dir_.Path("target") + ";65536";
  ChildProcess first(VREL_PATH, {command}, Env(), true);
  ASSERT_TRUE(WaitUntil([&] { return !Percent().empty() || !first.Running(); }));
  ChildProcess second(VREL_PATH, {dir_.Path("image") + ";" + dir_.Path("other") + ";1"}, Env(),
                      true);
  EXPECT_TRUE(Exited(second.Wait(std::chrono::seconds(20)), kExitCopyFailed, second.stderr_text()));
  EXPECT_NE(second.stderr_text().find("another copy is running"), std::string::npos);
  EXPECT_FALSE(Exists(dir_.Path("other")));
  mount->KillServer();
  ASSERT_TRUE(Exited(first.Wait(std::chrono::seconds(20)), kExitCopyFailed, first.stderr_text()));
  EXPECT_NE(first.stderr_text().find("is no longer there"), std::string::npos);
  EXPECT_EQ(Status(), "Starting...");
  const Bytes got = ReadFileBytes(dir_.Path("target"));
  ASSERT_TRUE(got.size() > 0 && got.size() < source.size());
  EXPECT_EQ(got.size() % 65536, 0u) << "ended inside a block";
  EXPECT_TRUE(std::equal(got.begin(), got.end(), source.begin())) << "bytes it never read";
  mount.emplace(DAMAGEDFS_PATH, dir_, dir_.Path("image"), Ranges{}, Ranges{});
  ExpectExit(Vrel({command}), kExitFinished);
  EXPECT_TRUE(ReadFileBytes(dir_.Path("target")) == source) << "the resumed copy differs";
}

// Killed at random moments of a slow damaged copy, vrel leaves a map that claims nothing the
// target does not hold; a resume, then a retry pass over what the kills left untried, give every
// readable byte and map the unreadable ones exactly. Once the medium has healed in part, a retry
// pass reads only the unreadable areas, and writes what now reads.
TEST_F(VrelTest, KilledDamagedCopyKeepsAValidMapAndResumeWithRetryRepairs) {
  const platform::UniqueFd fuse(::open("/dev/fuse", O_RDWR | O_CLOEXEC));
  if (!fuse.valid()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened: these tests need FUSE");
  const int64_t length = 6000;  // read byte by byte: a few seconds for the whole copy
  const Ranges bad = {{500, 30}, {2000, 7}, {4100, 300}};
  const Bytes source = PatternBytes(length, 9);
  WriteFileBytes(dir_.Path("image"), source);
  std::optional<DamagedMount> mount;
  mount.emplace(DAMAGEDFS_PATH, dir_, dir_.Path("image"), bad, Ranges{}, Ranges{{0, 6000}}, 200);
  ASSERT_TRUE(mount->served()) << mount->log();
  Bytes expected = source;
  std::string expected_statuses(length, '+');
  for (const auto& [start, size] : bad) {
    std::fill_n(expected.begin() + start, size, 0);
    std::fill_n(expected_statuses.begin() + start, size, '-');
  }
  const std::string target = dir_.Path("target"), map = target + ".map";
  std::mt19937 random(20261207);  // fixed, so a failure can be repeated
  std::uniform_int_distribution<int> delay_us(0, 400000);
  int killed_with_map = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildProcess vrel(VREL_PATH, {mount->file() + ";" + target + ";1"}, Env());
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    vrel.Signal(SIGKILL);
    const std::optional<ExitInfo> end = vrel.Wait(std::chrono::seconds(60));
    ASSERT_TRUE(end.has_value());
    if (!Exists(map)) continue;  // killed before its first save
    if (!end->exited) ++killed_with_map;
    const std::string statuses = MapStatuses(map, mount->file(), length);
    const Bytes held = ReadFileBytes(target);
    for (size_t i = 0; i < statuses.size(); ++i) {
      if (statuses[i] == '?') continue;
      ASSERT_TRUE(i < held.size() && held[i] == expected[i] && statuses[i] == expected_statuses[i])
          << "the map says '" << statuses[i] << "' of byte " << i << " (the target holds "
          << held.size() << ")";
    }
  }
  EXPECT_GT(killed_with_map, 0) << "no kill met a map: the test proved nothing";
  for (int run = 0; run < 2; ++run) ExpectExit(Copy(mount->file(), target, "1"), kExitFinished);
  EXPECT_TRUE(ReadFileBytes(target) == expected);
  ExpectMap(map, mount->file(), expected_statuses);

  mount.reset();
  mount.emplace(DAMAGEDFS_PATH, dir_, dir_.Path("image"), Ranges{{4100, 300}}, Ranges{});
  ASSERT_TRUE(mount->served()) << mount->log();
  ASSERT_EQ(::truncate(mount->trace().c_str(), 0), 0);
  ExpectExit(Copy(mount->file(), target, "1"), kExitFinished);
  std::copy_n(source.begin(), 4100, expected.begin());
  expected_statuses.replace(0, 4100, 4100, '+');
  EXPECT_TRUE(ReadFileBytes(target) == expected);
  ExpectMap(map, mount->file(), expected_statuses);
  // Byte by byte from each area's start: 30 + 7 + 300 reads, the last at byte 4400 (1-based),
  // and one more where the first read of the area still bad failed and was read again directly.
  const Bytes trace = ReadFileBytes(mount->trace());
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 338);
  EXPECT_EQ(Percent(), "73.33");
}

// What is at the map's path and is not this source's map is left alone, and the copy goes on
// without a map.
TEST_F(VrelTest, WhatIsNotThisSourcesMapIsLeftAlone) {
  const Bytes src = PatternBytes(5000);
  WriteFileBytes(dir_.Path("src"), src);
  const std::string target = dir_.Path("dst"), map = target + ".map", real = dir_.Path("real");
  const std::string this_source = "# Source: " + dir_.Path("src") + "\n0 ? 1\n0 5000 ?\n";
  struct Row {
    std::string text;
    bool link;           // the map's path is a link to a file with `text`
    const char* reason;  // a part of the message
  };
  const Row rows[] = {{"hello\n", false, "is no rescue map"},
                      {"# Source: /elsewhere\n0 ? 1\n0 5000 ?\n", false, "/elsewhere"},
                      {this_source, true, "a link"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reason);
    for (const std::string& path : {target, map, real}) ::unlink(path.c_str());
    WriteFileBytes(row.link ? real : map, Bytes(row.text.begin(), row.text.end()));
    if (row.link) {
      ASSERT_EQ(::symlink(real.c_str(), map.c_str()), 0);
    }
    ChildProcess vrel(VREL_PATH, {dir_.Path("src") + ";" + target + ";100"}, Env(), true);
    EXPECT_TRUE(Exited(vrel.Wait(std::chrono::seconds(20)), kExitFinished, vrel.stderr_text()));
    EXPECT_EQ(ReadFileBytes(target), src);
    EXPECT_EQ(ReadFileBytes(map), Bytes(row.text.begin(), row.text.end()));  // link followed
    EXPECT_NE(vrel.stderr_text().find(map), std::string::npos) << vrel.stderr_text();
    EXPECT_NE(vrel.stderr_text().find(row.reason), std::string::npos) << vrel.stderr_text();
  }
}

// ---------------------------------------------------------------------------------------------
// A real file system on a damaged disk: images served by damagedfs, attached read-only as loop
// devices and mounted, so that reads pass the kernel's page cache, which fails whole folios.

// Bad sectors under one file: single ones, runs of 11 and 64, and the file's last sector. Every
// block size loses exactly the bytes from a block's first bad unit to its end: whole sectors
// for the ext4 file and its loop device; pages for the squashfs file (no direct I/O), those
// whose data, in squashfs' 1 KiB device blocks, meet a bad sector. A bad unit costs about one
// failing request. The block-by-block loop gives the same copy and the same last Percent.
TEST_F(VrelTest, RescuesEveryReadableSectorOfAFileSystemOnADamagedDisk) {
  if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0 ||
      !Shell("command -v mkfs.ext4 mksquashfs losetup mount")) {
    SKIP_OR_FAIL_IN_CI("needs root, /dev/fuse, mkfs.ext4 (e2fsprogs), mksquashfs (squashfs-tools)");
  }
  const int64_t length = (4 << 20) - 700;
  const Bytes file = PatternBytes(static_cast<size_t>(length), 31);
  ::mkdir(dir_.Path("content").c_str(), 0700);
  WriteFileBytes(dir_.Path("content/file"), file);
  const std::string content = dir_.Path("content"), ext4 = dir_.Path("ext4"), sq = dir_.Path("sq");
  ASSERT_TRUE(Shell("mkfs.ext4 -q -F -b 4096 -d '" + content + "' '" + ext4 + "' 12M"));
  ASSERT_TRUE(Shell("mksquashfs '" + content + "' '" + sq + "' -noI -noD -noF -b 4096 -quiet"));
  const Bytes ext4_image = ReadFileBytes(ext4), sq_image = ReadFileBytes(sq);
  // Where the file's data starts in the images: both file systems keep it in one piece (or the
  // copies below differ from the model).
  const auto data_start = [&file](const Bytes& image) {
    return std::search(image.begin(), image.end(), file.begin(), file.begin() + 4096) -
           image.begin();
  };
  const int64_t ext4_start = data_start(ext4_image), sq_start = data_start(sq_image);
  ASSERT_TRUE(ext4_start < std::ssize(ext4_image) && sq_start < std::ssize(sq_image));

  const Ranges file_bad = {{1000 * 512, 512}, {2001 * 512, 11 * 512}, {3000 * 512, 64 * 512},
                           {5001 * 512, 512}, {6500 * 512, 512},      {8190 * 512, 512}};
  Ranges ext4_bad, sq_bad, sq_pages;
  for (const auto& [start, size] : file_bad) ext4_bad.push_back({ext4_start + start, size});
  for (const int64_t offset : {1000000, 3000000})
    sq_bad.push_back({(sq_start + offset) / 512 * 512, 512});
  for (int64_t page = 0; page < length; page += 4096) {
    const int64_t from = (sq_start + page) / 1024 * 1024, to = sq_start + page + 4096 + 1023;
    for (const auto& [start, size] : sq_bad) {
      if (start < to / 1024 * 1024 && start + size > from) sq_pages.push_back({page, 4096});
    }
  }
  ASSERT_EQ(sq_pages.size(), 3u) << "squashfs laid the file out otherwise: recount the pages";

  TempDir ext4_dir, sq_dir;
  const DamagedMount ext4_medium(DAMAGEDFS_PATH, ext4_dir, ext4, ext4_bad, {}),
      sq_medium(DAMAGEDFS_PATH, sq_dir, sq, sq_bad, {});
  ASSERT_TRUE(ext4_medium.served() && sq_medium.served()) << ext4_medium.log() << sq_medium.log();
  testing_support::LoopDevice ext4_loop(ext4_medium.file()), raw_loop(ext4_medium.file()),
      sq_loop(sq_medium.file());
  if (sq_loop.device().empty()) SKIP_OR_FAIL_IN_CI("no loop device here: " + sq_loop.why());
  const Mounted ext4_fs(ext4_loop.device(), "ext4", dir_.Path("ext4fs"));
  const Mounted sq_fs(sq_loop.device(), "squashfs", dir_.Path("sqfs"));
  ASSERT_TRUE(ext4_fs.ok() && sq_fs.ok()) << "cannot mount the images";

  struct Source {
    std::string path;
    const DamagedMount& medium;
    const Bytes& bytes;
    const Ranges& lost;    // the units that cannot be read
    int64_t most_failing;  // one per bad unit, and what the page cache costs at 6 per spot
  };
  const Source sources[] = {
      {dir_.Path("ext4fs/file"), ext4_medium, file, file_bad, 79 + 6 * 6},
      {raw_loop.device(), ext4_medium, ext4_image, ext4_bad, 79 + 6 * 6},
      {dir_.Path("sqfs/file"), sq_medium, file, sq_pages, 3 + 6 * 2},
  };
  for (const Source& source : sources) {
    for (const int32_t block : {1, 100, 512, 4096, 65536, 0}) {
      SCOPED_TRACE(source.path + ", block " + std::to_string(block));
      const Bytes expected = ExpectedCopy(source.bytes, source.lost, block, {});
      std::vector<std::string> percents;
      // The block-by-block loop at one byte a block would take minutes here.
      for (const char* program : {VREL_PATH, VREL_REFERENCE_PATH}) {
        if (block == 1 && program != std::string(VREL_PATH)) continue;
        const int64_t failed_before = source.medium.FailedRequests();
        const std::string target = dir_.Path("target");
        ::unlink(target.c_str());
        const std::string args = source.path + ";" + target + ";" + std::to_string(block);
        ExpectExit(testing_support::RunToEnd(program, {args}, Env()), kExitFinished);
        EXPECT_TRUE(ReadFileBytes(target) == expected) << program;
        percents.push_back(Percent());
        const int64_t failed = source.medium.FailedRequests() - failed_before;
        EXPECT_TRUE(failed > 0 && failed <= source.most_failing) << program << ": " << failed;
      }
      EXPECT_EQ(percents.front(), percents.back());
    }
  }
}

}  // namespace
