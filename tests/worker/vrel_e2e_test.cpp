// End-to-end: the real vrel binary, its files, its exit status and its progress channel; on
// damaged media served by the damagedfs fixture, against the copy rule and vrel-reference.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "platform/core/settings_store.h"
#include "platform/core/unique_fd.h"
#include "tests/support/child_process.h"
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

// What a copy killed at any moment left is the start of the copy, and a resume completes it.
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

using Ranges = std::vector<std::pair<int64_t, int64_t>>;  // 0-based start and length

std::string Joined(const Ranges& ranges) {
  std::string text;
  for (const auto& [start, length] : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(start) + ":" + std::to_string(length);
  }
  return text;
}

// An image served read-only as file() by damagedfs; unmounted, and the file system ended, when
// the object goes.
class DamagedMount {
 public:
  DamagedMount(const TempDir& dir, const std::string& image, const Ranges& bad,
               const Ranges& short_reads)
      : folder_(dir.path()), trace_(dir.Path("requests")) {
    ::mkdir(dir.Path("mnt").c_str(), 0700);
    std::vector<std::string> args = {"--image", image,      "--trace",
                                     trace_,    "--parent", std::to_string(::getpid())};
    if (!bad.empty()) args.insert(args.end(), {"--bad", Joined(bad)});
    if (!short_reads.empty()) args.insert(args.end(), {"--short", Joined(short_reads)});
    args.push_back(dir.Path("mnt"));
    fs_.emplace(DAMAGEDFS_PATH, args, std::map<std::string, std::string>{}, true);
    const auto size = static_cast<off_t>(ReadFileBytes(image).size());
    const bool ended_or_served = WaitUntil([&] {
      struct stat st {};
      return !fs_->Running() || (::stat(file().c_str(), &st) == 0 && st.st_size == size);
    });
    served_ = ended_or_served && fs_->Running();
  }
  ~DamagedMount() {
    fs_->Signal(SIGTERM);
    // Ended by SIGTERM, damagedfs unmounts and exits with 0.
    EXPECT_TRUE(Exited(fs_->Wait(std::chrono::seconds(10)), 0, fs_->stderr_text()));
  }
  DamagedMount(const DamagedMount&) = delete;
  DamagedMount& operator=(const DamagedMount&) = delete;

  bool served() const { return served_; }
  std::string file() const { return folder_ + "/mnt/image"; }
  std::string log() const { return fs_->stderr_text(); }
  // Whether a read request came back with fewer bytes than it asked for, and no error.
  // Requests that failed since the file system started.
  int64_t FailedRequests() const {
    std::ifstream trace(trace_);
    int64_t offset = 0, size = 0, result = 0, failed = 0;
    while (trace >> offset >> size >> result) failed += result < 0 ? 1 : 0;
    return failed;
  }
  bool AnsweredShort() const {
    std::ifstream trace(trace_);
    int64_t offset = 0, size = 0, result = 0;
    while (trace >> offset >> size >> result) {
      if (result > 0 && result < size) return true;
    }
    return false;
  }

 private:
  std::string folder_;
  std::string trace_;
  std::optional<ChildProcess> fs_;
  bool served_ = false;
};

// The copy rule: blocks start `block` bytes apart after the target's end (10 in variable speed,
// where the block doubles after a whole read while below 10000 and is 10 again after a failed
// one) and are cut to what remains of the source; a read delivers the bytes before the first bad
// one; a failed block's zeros land only beyond the target's end.
Bytes ExpectedCopy(const Bytes& source, const Ranges& bad, int32_t block, Bytes target) {
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
    if (std::ssize(target) < pos + size) target.resize(static_cast<size_t>(pos + size), 0);
    std::copy(source.begin() + pos, source.begin() + good_end, target.begin() + pos);
    if (block == 0) size = good_end < pos + size ? 10 : size < 10000 ? 2 * size : size;
  }
  return target;
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
  const platform::UniqueFd fuse(::open("/dev/fuse", O_RDWR | O_CLOEXEC));
  if (!fuse.valid()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened: these tests need FUSE");
  const DamagedCase& row = GetParam();
  const Bytes source = PatternBytes(static_cast<size_t>(row.length), 21);
  WriteFileBytes(dir_.Path("image"), source);
  const DamagedMount mount(dir_, dir_.Path("image"), row.bad, row.short_reads);
  ASSERT_TRUE(mount.served()) << "damagedfs did not serve the image: " << mount.log();
  Bytes held(source.begin(), source.begin() + row.held);
  for (int64_t i = row.held / 4; i < row.held / 2; ++i) held[static_cast<size_t>(i)] ^= 0xFF;
  const Bytes expected = ExpectedCopy(source, row.bad, row.block, held);

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
  }
  EXPECT_EQ(percents[0], percents[1]);
  if (!row.short_reads.empty()) {
    EXPECT_TRUE(mount.AnsweredShort()) << "no read came back short: the row proves nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VrelDamagedTest, ::testing::ValuesIn(kDamagedCases),
                         [](const auto& info) { return std::string(info.param.name); });

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
  const DamagedMount ext4_medium(ext4_dir, ext4, ext4_bad, {}), sq_medium(sq_dir, sq, sq_bad, {});
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
