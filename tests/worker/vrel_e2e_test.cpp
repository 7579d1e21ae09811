// End-to-end: the real vrel binary, its files, its exit status and its progress channel; on
// damaged media served by the damagedfs fixture, against the copy rule and vrel-reference. The
// copy rule itself, block by block, is checked in fc_test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
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
using testing_support::DamagedMount;
using testing_support::ExitInfo;
using testing_support::Mounted;
using testing_support::PatternBytes;
using testing_support::Ranges;
using testing_support::ReadFileBytes;
using testing_support::Shell;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using worker::kExitBadCommandLine;
using worker::kExitCopyFailed;
using worker::kExitFinished;
using Bytes = std::vector<unsigned char>;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Polls `condition` until it holds (true) or 20 seconds have passed (false).
bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// How a run ended, and its standard error.
struct Ran {
  std::optional<ExitInfo> end;
  std::string error_text;
};

::testing::AssertionResult Exited(const Ran& ran, int code) {
  const std::optional<ExitInfo>& end = ran.end;
  if (end && end->exited && end->code == code) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "expected exit status " << code << ", got ";
  if (!end) return failure << "no end within the time-out";
  return failure << (end->exited ? "exit status " + std::to_string(end->code)
                                 : "signal " + std::to_string(end->signal))
                 << "; stderr: " << ran.error_text;
}

// Sends `sig` and waits for the end; fails the test where there is none.
std::optional<ExitInfo> Stop(ChildProcess& child, int sig) {
  child.Signal(sig);
  std::optional<ExitInfo> end = child.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(end.has_value()) << "the process outlived signal " << sig;
  return end;
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
  Ran Run(const std::vector<std::string>& args, const char* program = VREL_PATH,
          const char* locale = "C") {
    ChildProcess child(program, args, Env(locale), true);
    std::optional<ExitInfo> end = child.Wait(std::chrono::seconds(300));
    return {end, child.stderr_text()};
  }
  Ran Copy(const std::string& from, const std::string& to, const std::string& block,
           const char* program = VREL_PATH) {
    return Run({from + ";" + to + ";" + block}, program);
  }
  std::string Status() const { return store_->Read("Info", "Status"); }
  std::string Percent() const { return store_->Read("Info", "Percent"); }
  void SetChannel(const std::string& status, const std::string& percent) {
    std::string error;
    ASSERT_TRUE(store_->Write("Info", "Status", status, &error) &&
                store_->Write("Info", "Percent", percent, &error))
        << error;
  }

  TempDir dir_;
  std::unique_ptr<TempDir> config_;
  std::unique_ptr<platform::SettingsStore> store_;
};

// The command line forms and what each ends with, on a 250-byte source. Copies: joined text (one
// argument, or split at blanks, a fourth part ignored) and options in any order, also as
// --name=value, holding a path with ";" whole; the last Percent is the last block's (at 201, 250,
// 1 and 241, by hand). --help and --version, incomplete or wrong forms touch nothing, the channel
// included. Refused before the target is touched, Status telling a failed copy: what holds no
// data to rescue, and a target that is the progress file, its lock, the running lock or a link to
// the progress file. A negative block size fails once both files are open (the target is created
// empty); a full disk fails before the first Percent. A message names what was wrong.
TEST_F(VrelTest, CommandLineFormsRefusalsAndExitStatus) {
  const std::string a = dir_.Path("my source"), t = dir_.Path("t"),
                    vrel_dir = config_->Path("Vrel");
  // Each key, then what it stands for.
  const std::string names[] = {"{o}", "--source|" + a + "|--target|" + t,
                               "{a}", a,
                               "{t}", t,
                               "{s}", dir_.Path("disc;1.iso"),
                               "{d}", dir_.path(),
                               "{c}", vrel_dir};
  const auto fill = [&names](std::string text) {
    for (size_t i = 0; i < std::size(names); i += 2) {
      for (size_t at; (at = text.find(names[i])) != std::string::npos;) {
        text.replace(at, names[i].size(), names[i + 1]);
      }
    }
    return text;
  };
  const Bytes src = PatternBytes(250);
  WriteFileBytes(a, src);
  WriteFileBytes(fill("{s}"), src);
  ASSERT_EQ(::mkdir(dir_.Path("adir").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((vrel_dir + "/settings.ini").c_str(), dir_.Path("link").c_str()), 0);
  // Arguments split at '|'; after '#', a copy's last Percent or a part of the message.
  const std::pair<int, std::vector<const char*>> groups[] = {
      {kExitFinished,
       {"--help", "--source|{a}|--version", "{a};{t};100#80.4", "{d}/my|source;{t};1;x#100",
        "--block-size| +4096 |--target|{t}|--source|{s}#0.4",
        "--source={s}|--target={t}|--block-size=0#96.4"}},
      {kExitBadCommandLine,
       {"", "{a};{t}", "{a};{t};", ";{t};100", "{a};;100", "{o}", "{o}|--block-size",
        "--source||--target|{t}|--block-size|100", "{o}|--block-size|100|--fast",
        "{o}|--block-size|100|{a};{t};100",
        "--target|{t}|--block-size|100|--source|{a}|--target|{a}", "{a};{t};1e3#'1e3'",
        "{a};{t};0x10#'0x10'", "{a};{t};1.5#'1.5'", "{a};{t};100abc#'100abc'", "{a};{t};00#'00'",
        "{a};{t};2147483648#'2147483648'"}},
      {kExitCopyFailed,
       {"{d}/missing;{t};10#{d}/missing", "{a};{t}; -10#' -10'", "{d}/adir;{t};100#{d}/adir",
        "{d}/fifo;{t};100#{d}/fifo", "/dev/zero;{t};100#/dev/zero",
        "{a};{c}/settings.ini;100#{c}/settings.ini",
        "{a};{c}/settings.ini.lock;100#{c}/settings.ini.lock", "{a};{c}/running.lock;100#running",
        "{a};{d}/link;100#{d}/link", "{a};/dev/full;100#No space left on device"}}};
  for (const auto& [exit_code, forms] : groups) {
    for (const std::string form : forms) {
      SCOPED_TRACE(form);
      const size_t hash = std::min(form.find('#'), form.size());
      const std::string text = fill(form.substr(0, hash)), after = fill(form.substr(hash) + " ");
      const std::string says = after.substr(1, after.size() - 2);
      const bool copied = exit_code == kExitFinished && !says.empty();
      std::vector<std::string> args;
      for (size_t from = 0, bar = 0; from < text.size(); from = bar + 1) {
        bar = std::min(text.find('|', from), text.size());
        args.push_back(text.substr(from, bar - from));
      }
      ::unlink(t.c_str());
      SetChannel("Finished", "55");
      const Ran ran = Run(args);
      EXPECT_TRUE(Exited(ran, exit_code));
      EXPECT_NE(ran.error_text.find(copied ? "" : says), std::string::npos) << ran.error_text;
      EXPECT_EQ(Status(), exit_code == kExitCopyFailed ? "Starting..." : "Finished");
      EXPECT_EQ(Percent(), copied ? says : "55");
      if (copied) {
        EXPECT_TRUE(ReadFileBytes(t) == src);
      } else if (says == "' -10'") {
        EXPECT_TRUE(Exists(t) && ReadFileBytes(t).empty()) << "not opened, or written";
      } else {
        EXPECT_FALSE(Exists(t)) << "a target was created";
      }
    }
  }
  EXPECT_FALSE(Exists(dir_.Path("missing"))) << "a missing source was created";
  EXPECT_FALSE(Exists("/dev/full.map")) << "a map beside a device";

  // Nothing to copy: the target stays as it is, with no map beside it; from an empty source it is
  // created empty.
  SetChannel("Starting...", "77");
  WriteFileBytes(t, src);
  ::unlink((t + ".map").c_str());
  EXPECT_TRUE(Exited(Copy(a, t, "10"), kExitFinished));
  WriteFileBytes(dir_.Path("empty"), {});
  EXPECT_TRUE(Exited(Copy(dir_.Path("empty"), dir_.Path("new"), "10"), kExitFinished));
  EXPECT_TRUE(ReadFileBytes(t) == src);
  EXPECT_TRUE(Exists(dir_.Path("new")) && ReadFileBytes(dir_.Path("new")).empty());
  EXPECT_FALSE(Exists(t + ".map"));
  EXPECT_EQ(Status(), "Finished");
  EXPECT_EQ(Percent(), "77");

  // Started with standard descriptors closed, a file vrel opens must not take one of them and
  // receive its error text.
  for (const char* closing : {"2>&-", ">&- 2>&-", "<&- >&- 2>&-"}) {
    SCOPED_TRACE(closing);
    ::unlink(t.c_str());
    const std::string script = std::string("exec \"$0\" \"$1\" ") + closing;
    const Ran ran = Run({"-c", script, VREL_PATH, fill("{a};{t};-10")}, "/bin/sh");
    EXPECT_TRUE(Exited(ran, kExitCopyFailed));
    EXPECT_TRUE(ReadFileBytes(t).empty());
    const Bytes lock = ReadFileBytes(vrel_dir + "/settings.ini.lock");
    EXPECT_EQ(std::string(lock.begin(), lock.end()).find("vrel"), std::string::npos);
  }

  testing_support::ScopedLocale probe(testing_support::kCommaLocale);
  if (!probe.ok()) SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh)");
  ::unlink(t.c_str());
  EXPECT_TRUE(
      Exited(Run({fill("{a};{t};100")}, VREL_PATH, testing_support::kCommaLocale), kExitFinished));
  EXPECT_EQ(Percent(), "80,4");
}

// A write that fails partway through a block (here at the file size limit, 10233 bytes): the
// bytes written stay, Percent names the last block written whole, as in the block-by-block loop,
// and a resume completes the copy. Block starts by hand from the copy rule; 40000-byte source.
TEST_F(VrelTest, AWriteFailingMidBlockReportsTheLastWholeBlockAndResumeCompletes) {
  const Bytes src = PatternBytes(40000, 9);
  const std::string from = dir_.Path("src"), to = dir_.Path("dst");
  WriteFileBytes(from, src);
  const std::pair<const char*, const char*> rows[] = {
      {"1", "25.58"},     // the block at 10233
      {"100", "25.25"},   // 102 whole blocks, the last at 10101
      {"0", "0.23"},      // the block at 91 (5120 bytes) is whole; the one at 101 (10240) not
      {"1048576", "77"},  // no whole block: Percent as it was
  };
  for (const auto& [block, percent] : rows) {
    for (const char* program : {VREL_REFERENCE_PATH, VREL_PATH}) {
      SCOPED_TRACE(std::string(program) + ", block " + block);
      ::unlink(to.c_str());
      SetChannel("Finished", "77");
      // The limit, and SIGXFSZ ignored so that the write fails with EFBIG.
      const Ran ran = Run({"-c", "trap '' XFSZ; exec prlimit --fsize=10233 \"$0\" \"$1\"", program,
                           from + ";" + to + ";" + block},
                          "/bin/sh");
      EXPECT_TRUE(Exited(ran, kExitCopyFailed));
      EXPECT_NE(ran.error_text.find("cannot write the target at byte 10234: File too large"),
                std::string::npos)
          << ran.error_text;
      EXPECT_TRUE(ReadFileBytes(to) == Bytes(src.begin(), src.begin() + 10233));
      EXPECT_EQ(Status(), "Starting...");
      EXPECT_EQ(Percent(), percent);
      EXPECT_TRUE(Exited(Copy(from, to, block), kExitFinished));
      EXPECT_TRUE(ReadFileBytes(to) == src);
    }
  }
}

// Stopped by a termination signal: ends by that signal after a whole block whose Percent is the
// last, Status as for a stopped copy, and a second run completes the copy. Waiting for the
// progress file's lock, which another process keeps for ever, vrel still ends on SIGTERM.
TEST_F(VrelTest, StoppedThenResumedGivesAnIdenticalCopy) {
  const Bytes src = PatternBytes(32 << 20);
  const std::string from = dir_.Path("src"), to = dir_.Path("dst"), command = from + ";" + to;
  WriteFileBytes(from, src);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    ::unlink(to.c_str());
    SetChannel("Finished", "");
    ChildProcess vrel(VREL_PATH, {command + ";10"}, Env());
    ASSERT_TRUE(WaitUntil([&] { return !Percent().empty() || !vrel.Running(); }));
    const std::optional<ExitInfo> end = Stop(vrel, sig);
    EXPECT_TRUE(end && !end->exited && end->signal == sig);
    EXPECT_EQ(Status(), "Starting...");
    const Bytes got = ReadFileBytes(to);
    ASSERT_TRUE(got.size() > 0 && got.size() < src.size()) << got.size();
    EXPECT_EQ(got.size() % 10, 0u) << "stopped inside a block";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()));
    const double last_block_start = static_cast<double>(got.size() - 9);
    EXPECT_NEAR(std::strtod(Percent().c_str(), nullptr),
                100.0 * last_block_start / static_cast<double>(src.size()), 0.0051);
    EXPECT_TRUE(Exited(Copy(from, to, "1048576"), kExitFinished));
    EXPECT_TRUE(ReadFileBytes(to) == src);
  }

  SetChannel("Finished", "55");
  const platform::UniqueFd holder(
      ::open(config_->Path("Vrel/settings.ini.lock").c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(holder.valid() && ::flock(holder.get(), LOCK_EX) == 0);
  ::unlink(to.c_str());
  ChildProcess vrel(VREL_PATH, {command + ";10"}, Env());
  // Once vrel holds the lock file open it waits for the lock, its signals handled.
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code ec;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(vrel.pid()) + "/fd", ec)) {
      if (std::filesystem::read_symlink(fd.path(), ec).string().ends_with(".ini.lock")) return true;
    }
    return false;
  })) << "vrel never opened the lock file";
  const std::optional<ExitInfo> end = Stop(vrel, SIGTERM);
  EXPECT_TRUE(end && !end->exited && end->signal == SIGTERM);
  EXPECT_EQ(Status(), "Finished");
  EXPECT_FALSE(Exists(to));
}

// ---------------------------------------------------------------------------------------------
// Damaged media: an image served by damagedfs, whose bad ranges fail with EIO exactly at their
// first byte and whose short ranges answer every read with half of what it asked for.

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
  EXPECT_EQ(MapStatuses(path, source, std::ssize(statuses)), statuses);
  if (!Shell("command -v ddrescuelog")) {
    std::cerr << "ddrescuelog is not installed: its reading of the map is not compared\n";
    return;
  }
  std::string unreadable;
  for (size_t i = 0; i < statuses.size(); ++i) {
    if (statuses[i] == '-') unreadable += std::to_string(i) + "\n";
  }
  ASSERT_EQ(std::system(("ddrescuelog -b1 -l- '" + path + "' >'" + path + ".bad'").c_str()), 0);
  const Bytes listed = ReadFileBytes(path + ".bad");
  EXPECT_EQ(std::string(listed.begin(), listed.end()), unreadable) << "ddrescuelog reads it so";
}

// vrel and vrel-reference, the block-by-block loop, both give the copy rule's target and map and
// the same last Percent. Sources of a prime length make the last block short; the target holds
// `held` bytes before the run, a quarter of them not the source's.
TEST_F(VrelTest, DamagedMediaFollowTheCopyRuleAsTheBlockByBlockLoopDoes) {
  if (!testing_support::FuseAvailable()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened");
  struct Row {
    const char* name;
    int64_t length;
    int32_t block;  // 0: variable speed
    int64_t held;
    Ranges bad, short_reads;
  };
  const Row rows[] = {
      {"byte blocks", 3001, 1, 0, {{150, 1}, {2000, 30}}, {}},
      // A read that stopped at its first short answer would leave zeros.
      {"resumed", 30011, 100, 250, {{100, 20}, {1300, 50}, {7000, 5}}, {{2000, 3000}}},
      {"across block boundaries", 10007, 4096, 0, {{4090, 110}, {10004, 3}}, {{0, 4000}}},
      {"variable speed", 40000, 0, 0, {{500, 20}, {530, 5}, {9000, 1}}, {{20000, 5000}}},
      {"variable speed, resumed", 30011, 0, 1234, {{100, 20}, {15000, 3000}}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes source = PatternBytes(static_cast<size_t>(row.length), 21);
    WriteFileBytes(dir_.Path("image"), source);
    const DamagedMount mount(DAMAGEDFS_PATH, dir_, dir_.Path("image"), row.bad, row.short_reads);
    ASSERT_TRUE(mount.served()) << "damagedfs did not serve the image: " << mount.log();
    Bytes held(source.begin(), source.begin() + row.held);
    for (int64_t i = row.held / 4; i < row.held / 2; ++i) held[static_cast<size_t>(i)] ^= 0xFF;
    std::string statuses;
    const Bytes expected = ExpectedCopy(source, row.bad, row.block, held, &statuses);
    const std::string target = dir_.Path("target");
    ::unlink((target + ".map").c_str());  // another source's
    std::vector<std::string> percents;
    for (const char* program : {VREL_REFERENCE_PATH, VREL_PATH}) {
      SCOPED_TRACE(program);
      WriteFileBytes(target, held);  // the map of the run before describes another target
      ASSERT_TRUE(
          Exited(Copy(mount.file(), target, std::to_string(row.block), program), kExitFinished));
      EXPECT_EQ(Status(), "Finished");
      EXPECT_TRUE(ReadFileBytes(target) == expected);
      percents.push_back(Percent());
      ExpectMap(target + ".map", mount.file(), statuses);
    }
    EXPECT_EQ(percents[0], percents[1]);
    EXPECT_TRUE(row.short_reads.empty() || mount.AnsweredShort()) << "no read came back short";
  }
}

// A slow damaged copy, read byte by byte. While it runs, a second one is refused before it
// touches a file. A medium that goes away (its server dies) is no bad spot: the copy ends after
// the last block it read, says why and leaves Status at "Starting...". Killed at random moments,
// vrel leaves a map that claims nothing the target does not hold; a resume, then a retry pass
// over what was left untried, give every readable byte and map the unreadable ones exactly. Once
// the medium has healed in part, a retry pass reads only the unreadable areas, and writes what
// now reads.
TEST_F(VrelTest, OneCopyAtATimeAndKillsOrALostMediumKeepAMapThatResumeAndRetryComplete) {
  if (!testing_support::FuseAvailable()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened");
  const int64_t length = 6000;
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
  const std::string command = mount->file() + ";" + target + ";1";
  // Whether there is a map. The target must be the start of the copy, and the map claim nothing
  // the target does not hold.
  const auto map_holds = [&] {
    const Bytes held = Exists(target) ? ReadFileBytes(target) : Bytes{};
    EXPECT_TRUE(held.size() <= expected.size() &&
                std::equal(held.begin(), held.end(), expected.begin()));
    if (!Exists(map)) return false;
    const std::string statuses = MapStatuses(map, mount->file(), length);
    for (size_t i = 0; i < statuses.size(); ++i) {
      if (statuses[i] != '?' && (i >= held.size() || statuses[i] != expected_statuses[i])) {
        ADD_FAILURE() << "the map says '" << statuses[i] << "' of byte " << i << " (the target "
                      << "holds " << held.size() << ")";
        break;
      }
    }
    return true;
  };

  SetChannel("Finished", "");
  ChildProcess first(VREL_PATH, {command}, Env(), true);
  ASSERT_TRUE(WaitUntil([&] { return !Percent().empty() || !first.Running(); }));
  const Ran second = Copy(dir_.Path("image"), dir_.Path("other"), "1");
  EXPECT_TRUE(Exited(second, kExitCopyFailed));
  EXPECT_NE(second.error_text.find("another copy is running"), std::string::npos);
  EXPECT_FALSE(Exists(dir_.Path("other")));
  mount->KillServer();
  ASSERT_TRUE(Exited({first.Wait(std::chrono::seconds(20)), first.stderr_text()}, kExitCopyFailed));
  EXPECT_NE(first.stderr_text().find("is no longer there"), std::string::npos);
  EXPECT_EQ(Status(), "Starting...");
  const auto got = std::filesystem::file_size(target);
  ASSERT_TRUE(got > 0 && got < source.size()) << got;
  map_holds();  // no bytes it never read

  mount.emplace(DAMAGEDFS_PATH, dir_, dir_.Path("image"), bad, Ranges{}, Ranges{{0, 6000}}, 200);
  ASSERT_TRUE(mount->served()) << mount->log();
  std::mt19937 random(20261207);  // fixed, so a failure can be repeated
  std::uniform_int_distribution<int> delay_us(0, 400000);
  int killed_with_map = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildProcess vrel(VREL_PATH, {command}, Env());
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    const std::optional<ExitInfo> end = Stop(vrel, SIGKILL);
    ASSERT_TRUE(end.has_value());
    killed_with_map += map_holds() && !end->exited ? 1 : 0;
    ASSERT_FALSE(HasFailure());
  }
  EXPECT_GT(killed_with_map, 0) << "no kill met a map: the test proved nothing";
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(Exited(Copy(mount->file(), target, "1"), kExitFinished));
  }
  EXPECT_TRUE(ReadFileBytes(target) == expected);
  ExpectMap(map, mount->file(), expected_statuses);

  mount.reset();
  mount.emplace(DAMAGEDFS_PATH, dir_, dir_.Path("image"), Ranges{{4100, 300}}, Ranges{});
  ASSERT_TRUE(mount->served()) << mount->log();
  ASSERT_EQ(::truncate(mount->trace().c_str(), 0), 0);
  EXPECT_TRUE(Exited(Copy(mount->file(), target, "1"), kExitFinished));
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
  const std::tuple<std::string, bool, const char*> rows[] = {
      // The text at the map's path, whether that is a link to a file holding it, the reason.
      {"hello\n", false, "is no rescue map"},
      {"# Source: /elsewhere\n0 ? 1\n0 5000 ?\n", false, "/elsewhere"},
      {"# Source: " + dir_.Path("src") + "\n0 ? 1\n0 5000 ?\n", true, "a link"}};
  for (const auto& [text, link, reason] : rows) {
    SCOPED_TRACE(reason);
    for (const std::string& path : {target, map, real}) ::unlink(path.c_str());
    WriteFileBytes(link ? real : map, Bytes(text.begin(), text.end()));
    ASSERT_TRUE(!link || ::symlink(real.c_str(), map.c_str()) == 0);
    const Ran ran = Copy(dir_.Path("src"), target, "100");
    EXPECT_TRUE(Exited(ran, kExitFinished));
    EXPECT_EQ(ReadFileBytes(target), src);
    EXPECT_EQ(ReadFileBytes(map), Bytes(text.begin(), text.end()));  // link followed
    EXPECT_NE(ran.error_text.find(map), std::string::npos) << ran.error_text;
    EXPECT_NE(ran.error_text.find(reason), std::string::npos) << ran.error_text;
  }
}

// ---------------------------------------------------------------------------------------------
// A real file system on a damaged disk: images served by damagedfs, attached read-only as loop
// devices and mounted, so that reads pass the kernel's page cache, which fails whole folios.

// Bad sectors under one file: single ones, runs of 11 and 64, and the file's last sector. Every
// block size loses exactly the bytes from a block's first bad unit to its end: whole sectors
// for the ext4 file and its loop device; pages for the squashfs file (no direct I/O), those
// whose data, in squashfs' 1 KiB device blocks, meet a bad sector. A bad unit costs about one
// failing request.
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

  // Each source: its medium, its bytes, the units that cannot be read, and how many failing
  // requests at most: one per bad unit, and what the page cache costs at 6 per spot.
  const std::tuple<std::string, const DamagedMount*, const Bytes*, Ranges, int64_t> sources[] = {
      {dir_.Path("ext4fs/file"), &ext4_medium, &file, file_bad, 79 + 6 * 6},
      {raw_loop.device(), &ext4_medium, &ext4_image, ext4_bad, 79 + 6 * 6},
      {dir_.Path("sqfs/file"), &sq_medium, &file, sq_pages, 3 + 6 * 2}};
  for (const auto& [path, medium, bytes, lost, most_failing] : sources) {
    for (const int32_t block : {1, 100, 512, 4096, 65536, 0}) {
      SCOPED_TRACE(path + ", block " + std::to_string(block));
      const int64_t failed_before = medium->FailedRequests();
      ::unlink(dir_.Path("target").c_str());
      EXPECT_TRUE(Exited(Copy(path, dir_.Path("target"), std::to_string(block)), kExitFinished));
      EXPECT_TRUE(ReadFileBytes(dir_.Path("target")) == ExpectedCopy(*bytes, lost, block, {}));
      const int64_t failed = medium->FailedRequests() - failed_before;
      EXPECT_TRUE(failed > 0 && failed <= most_failing) << failed;
    }
  }
}

}  // namespace
