// End-to-end tests of vrel on damaged media: the real binary copies a file served by damagedfs,
// whose bad ranges fail with EIO and whose short ranges answer reads in part, and the target is
// compared byte by byte with the copy rule and with vrel-reference, the block-by-block loop.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/unique_fd.h"
#include "tests/support/child_process.h"
#include "tests/support/damaged_mount.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ByteRange;
using testing_support::ChildProcess;
using testing_support::DamagedMount;
using testing_support::DamagedMountOptions;
using testing_support::ExitInfo;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::ReadRequest;
using testing_support::TempDir;
using testing_support::Worsening;
using testing_support::WriteFileBytes;
using Bytes = std::vector<unsigned char>;
using Ranges = std::vector<ByteRange>;

constexpr auto kRunTimeout = std::chrono::seconds(300);  // a guard against hangs only
constexpr auto kSignalTimeout = std::chrono::seconds(30);

// Variable speed: positions step by this many bytes; a block that fails falls back to it.
constexpr int64_t kVariableStep = 10;
constexpr int64_t kVariableGrowBelow = 10000;
// The largest block variable speed reaches: 10 doubled while below 10000.
constexpr int64_t kVariableMaxBlock = 10240;

// The first byte of [begin, end) inside one of `ranges`, or `end` when there is none.
int64_t FirstIn(const Ranges& ranges, int64_t begin, int64_t end) {
  int64_t first = end;
  for (const ByteRange& r : ranges) {
    const int64_t r_end = r.start + r.length;
    if (r.start < end && r_end > begin) first = std::min(first, std::max(r.start, begin));
  }
  return first;
}

bool IsIn(const Ranges& ranges, int64_t i) { return FirstIn(ranges, i, i + 1) == i; }

// The damage of a served file.
struct Damage {
  Ranges bad;
  std::vector<Worsening> worsening;
};

Damage Bad(Ranges bad) { return Damage{std::move(bad), {}}; }

DamagedMountOptions MountOptions(const Damage& damage) {
  DamagedMountOptions options;
  options.bad = damage.bad;
  options.worsening = damage.worsening;
  return options;
}

// A fixed-size copy's target: each block holds the source up to its first unreadable byte and
// zeros from there to its end.
Bytes ExpectedFixed(const Bytes& source, const Ranges& bad, int64_t block, Bytes held) {
  Bytes out = std::move(held);
  const auto length = static_cast<int64_t>(source.size());
  for (int64_t start = std::ssize(out); start < length; start += block) {
    const int64_t end = std::min(start + block, length);
    const int64_t good_end = FirstIn(bad, start, end);
    out.insert(out.end(), source.begin() + start, source.begin() + good_end);
    out.insert(out.end(), static_cast<size_t>(end - good_end), 0);
  }
  return out;
}

// A reference model of variable speed. Blocks start every 10 bytes after the target's end and
// overlap; the block starts at 10 bytes, doubles after a good read while below 10000, falls back
// to 10 after a failed one, and is cut to what remains of the source. A read delivers the bytes
// before the first unreadable one. A failed block writes what it delivered, and zeros only
// beyond the target's current end.
Bytes ModelVariableSpeed(const Bytes& source, const Ranges& bad, Bytes held) {
  Bytes out = std::move(held);
  const auto length = static_cast<int64_t>(source.size());
  int64_t block = kVariableStep;
  for (int64_t pos = std::ssize(out); pos < length; pos += kVariableStep) {
    block = std::min(block, length - pos);
    const int64_t end = pos + block;
    const int64_t good_end = FirstIn(bad, pos, end);
    if (std::ssize(out) < end) out.resize(static_cast<size_t>(end), 0);
    std::copy(source.begin() + pos, source.begin() + good_end, out.begin() + pos);
    if (good_end < end) {
      block = kVariableStep;
    } else if (block < kVariableGrowBelow) {
      block *= 2;
    }
  }
  return out;
}

// Equal bytes, or a description of where they differ.
::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "length " << actual.size() << ", expected " << expected.size();
  const size_t common = std::min(actual.size(), expected.size());
  size_t differing = 0;
  for (size_t i = 0; i < common; ++i) {
    if (actual[i] == expected[i]) continue;
    if (differing < 8) {
      failure << "\n  byte " << i << ": " << int{actual[i]} << ", expected " << int{expected[i]};
    }
    ++differing;
  }
  failure << "\n  " << differing << " of the first " << common << " bytes differ";
  return failure;
}

// The [Info] section of vrel's settings file below `config_home`, keys in lower case.
std::map<std::string, std::string> ReadInfo(const std::string& config_home) {
  std::map<std::string, std::string> values;
  std::ifstream in(config_home + "/Vrel/settings.ini");
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  bool in_info = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with('[')) {
      in_info = lower(line) == "[info]";
    } else if (const size_t eq = line.find('='); in_info && eq != std::string::npos) {
      values[lower(line.substr(0, eq))] = line.substr(eq + 1);
    }
  }
  return values;
}

std::string InfoValue(const std::string& config_home, const std::string& key) {
  const auto values = ReadInfo(config_home);
  const auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

std::string Describe(const ExitInfo& info) {
  return info.exited ? "exit status " + std::to_string(info.code)
                     : "signal " + std::to_string(info.signal);
}

std::string VrelArgument(const std::string& source, const std::string& target, int32_t block) {
  return source + ";" + target + ";" + std::to_string(block);
}

// Shared set-up: a folder for the image, the targets and the settings, and a mounted image.
class DamagedMediaTest : public ::testing::Test {
 protected:
  void SetUp() override { DAMAGED_MOUNT_REQUIRE_FUSE(); }

  // Writes `source` as the image and serves it with the given damage.
  void Mount(const Bytes& source, DamagedMountOptions options) {
    source_ = source;
    image_path_ = dir_.Path("image.bin");
    WriteFileBytes(image_path_, source_);
    options.image_path = image_path_;
    std::string error;
    mount_ = DamagedMount::Start(options, &error);
    ASSERT_NE(mount_, nullptr) << error;
  }

  // Runs `program` (vrel or vrel-reference) to its end with its own settings folder
  // `config_name`. It must finish: exit status 0, Status "Finished", the image untouched.
  // *percent receives the last Percent.
  void RunToFinish(const std::string& target, int32_t block, const std::string& config_name,
                   const char* program = VREL_PATH, std::string* percent = nullptr) {
    const std::string config_home = dir_.Path(config_name);
    ChildProcess vrel(program, {VrelArgument(mount_->file_path(), target, block)},
                      {{"XDG_CONFIG_HOME", config_home}}, /*capture_stderr=*/true);
    const std::optional<ExitInfo> info = vrel.Wait(kRunTimeout);
    ASSERT_TRUE(info.has_value()) << program << " did not end within the time-out";
    EXPECT_TRUE(info->exited && info->code == 0)
        << program << " ended with " << Describe(*info) << "; stderr: " << vrel.stderr_text()
        << "\ndamagedfs: " << mount_->Log();
    EXPECT_EQ(InfoValue(config_home, "status"), "Finished");
    if (percent != nullptr) *percent = InfoValue(config_home, "percent");
    ExpectImageUnchanged();
  }

  void ExpectImageUnchanged() {
    EXPECT_TRUE(SameBytes(ReadFileBytes(image_path_), source_)) << "the image was changed";
  }

  TempDir dir_;
  Bytes source_;
  std::string image_path_;
  std::unique_ptr<DamagedMount> mount_;  // after dir_: unmounted before the folder goes
};

// ---------------------------------------------------------------------------------------------
// The fixture itself: without byte-exact errors the copy tests below could pass vacuously.

class DamagedFsSelfCheckTest : public DamagedMediaTest {};

struct ReadCase {
  int64_t offset;
  size_t count;
  ssize_t expected;  // bytes returned, or -1 for EIO
};

void CheckReads(const std::string& path, const Bytes& source, const std::vector<ReadCase>& cases) {
  const platform::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd.valid()) << path << ": " << std::strerror(errno);
  for (const ReadCase& c : cases) {
    SCOPED_TRACE("pread of " + std::to_string(c.count) + " bytes at " + std::to_string(c.offset));
    Bytes buf(c.count);
    const ssize_t n = pread(fd.get(), buf.data(), buf.size(), c.offset);
    if (c.expected < 0) {
      EXPECT_EQ(n, -1);
      EXPECT_EQ(errno, EIO);
      continue;
    }
    ASSERT_EQ(n, c.expected) << (n < 0 ? std::strerror(errno) : "");
    buf.resize(static_cast<size_t>(n));
    EXPECT_TRUE(SameBytes(buf, Bytes(source.begin() + c.offset, source.begin() + c.offset + n)));
  }
}

TEST_F(DamagedFsSelfCheckTest, DirectIoFailsAtBadBytesAndStopsShortBeforeThem) {
  const Bytes source = PatternBytes(10007, 11);
  DamagedMountOptions options = MountOptions(Bad({{1000, 10}, {5000, 1}}));
  options.short_reads = {{8000, 100}};
  ASSERT_NO_FATAL_FAILURE(Mount(source, options));

  const std::vector<ReadCase> cases = {
      {0, 100, 100},        // good bytes
      {1000, 100, -1},      // starts on the first bad byte
      {1009, 1, -1},        // the last bad byte of a range
      {990, 100, 10},       // runs into a bad range: the good prefix only
      {999, 2, 1},          // one good byte before the range
      {1010, 10, 10},       // just after the range
      {1010, 20000, 3990},  // up to the next range
      {5000, 1, -1},        // a one-byte range
      {5001, 2900, 2900},   // good bytes up to a short range
      {7990, 100, 50},      // touches the short range: half of it, no error
      {8099, 1, 1},         // at least one byte
      {8100, 1907, 1907},   // after the short range
      {5001, 20000, 2503},  // up to the end of the file, through the short range: half
      {10007, 10, 0},       // at the end of the file
  };
  CheckReads(mount_->file_path(), source, cases);
  // Each pread reached the file system as one request, answered as it was.
  const std::vector<ReadRequest> requests = mount_->ReadRequests();
  ASSERT_EQ(requests.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(requests[i].offset, cases[i].offset) << "request " << i;
    EXPECT_EQ(requests[i].size, static_cast<int64_t>(cases[i].count)) << "request " << i;
    EXPECT_EQ(requests[i].result, cases[i].expected < 0 ? -EIO : cases[i].expected)
        << "request " << i;
  }

  struct stat st {};
  ASSERT_EQ(stat(mount_->file_path().c_str(), &st), 0) << std::strerror(errno);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(st.st_size, 10007);

  for (const int flags : {O_WRONLY, O_RDWR, O_RDONLY | O_TRUNC}) {
    const platform::UniqueFd fd(open(mount_->file_path().c_str(), flags | O_CLOEXEC));
    EXPECT_FALSE(fd.valid()) << "open with flags " << flags << " succeeded";
    EXPECT_EQ(errno, EROFS) << "open with flags " << flags;
  }
  const platform::UniqueFd created(
      open((mount_->mount_point() + "/new").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  EXPECT_FALSE(created.valid());

  std::set<std::string> names;
  struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
  };
  const std::unique_ptr<DIR, CloseDir> dir(opendir(mount_->mount_point().c_str()));
  ASSERT_NE(dir, nullptr) << std::strerror(errno);
  while (const dirent* entry = readdir(dir.get())) names.insert(entry->d_name);
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "image"}));
  ExpectImageUnchanged();
}

TEST_F(DamagedFsSelfCheckTest, WorseningSetsInAfterTheTriggeringRequest) {
  const Bytes source = PatternBytes(10007, 13);
  ASSERT_NO_FATAL_FAILURE(Mount(source, MountOptions(Damage{{}, {Worsening{{2000, 10}, 6000}}})));
  CheckReads(mount_->file_path(), source,
             {
                 {1990, 100, 100},  // still readable
                 {5990, 20, 20},    // asks for byte 6000, and is itself served in full
                 {1990, 100, 10},   // from now on the range fails
                 {2005, 1, -1},
                 {2010, 100, 100},
             });
}

// ---------------------------------------------------------------------------------------------
// Direct I/O: vrel against the copy rule and against vrel-reference, whose block-by-block loop
// gives the result vrel must match: the same target bytes, exit status, Status and Percent.

struct CopyCase {
  const char* name;
  int64_t length;  // source bytes
  int32_t block;   // 0: variable speed
  int64_t held;    // bytes in the target before the run, some of them not the source's
  Ranges bad;
  Ranges short_reads;
  uint32_t seed;  // nonzero: the damage is drawn at random from this seed, and printed
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

// A prime length makes the last block short for every block size.
const CopyCase kCopyCases[] = {
    {"ShortReadsOnly", 200003, 65536, 0, {}, {{0, 200003}}, 0},
    {"Block1", 9001, 1, 0, {{150, 1}, {5000, 30}}, {}, 0},
    {"Block100Resumed", 30011, 100, 250, {{100, 20}, {1300, 50}, {7000, 5}}, {{2000, 3000}}, 0},
    {"Block4096AcrossBoundaries", 10007, 4096, 0, {{4090, 110}}, {{0, 4000}}, 0},
    {"Block16384AtStartAndEnd", 10007, 16384, 0, {{0, 5}, {10004, 3}}, {}, 0},
    {"VariableSpeed", 40000, 0, 0, {{500, 20}, {530, 5}, {9000, 1}}, {{20000, 5000}}, 0},
    {"VariableSpeedResumed", 30011, 0, 1234, {{100, 20}, {15000, 3000}}, {}, 0},
    {"RandomBlock", 100003, 0, 0, {}, {}, 20261207},
    {"RandomVariableSpeed", 50021, 0, 0, {}, {}, 20261208},
};

// Draws damage and, for a fixed block, its size and the bytes held, from c.seed.
CopyCase Drawn(CopyCase c) {
  if (c.seed == 0) return c;
  std::mt19937 random(c.seed);
  auto uniform = [&random](int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random);
  };
  if (std::string_view(c.name) == "RandomBlock") {
    c.block = static_cast<int32_t>(uniform(2, 5000));
    c.held = uniform(0, c.length / 2);
  }
  for (int64_t n = uniform(1, 6); n > 0; --n) {
    (uniform(0, 1) == 0 ? c.bad : c.short_reads)
        .push_back({uniform(0, c.length - 1), uniform(1, uniform(0, 3) == 0 ? 8000 : 200)});
  }
  return c;
}

class VrelDamagedCopyTest : public DamagedMediaTest,
                            public ::testing::WithParamInterface<CopyCase> {};

TEST_P(VrelDamagedCopyTest, MatchesTheCopyRuleAndTheBlockByBlockLoop) {
  const CopyCase c = Drawn(GetParam());
  SCOPED_TRACE("seed " + std::to_string(c.seed) + ", block " + std::to_string(c.block));
  const Bytes source = PatternBytes(static_cast<size_t>(c.length), 21);
  DamagedMountOptions options = MountOptions(Bad(c.bad));
  options.short_reads = c.short_reads;
  ASSERT_NO_FATAL_FAILURE(Mount(source, options));
  Bytes held(source.begin(), source.begin() + c.held);
  for (int64_t i = c.held / 4; i < c.held / 2; ++i) held[static_cast<size_t>(i)] ^= 0xFF;

  std::string reference_percent;
  const std::string reference = dir_.Path("reference.bin");
  WriteFileBytes(reference, held);
  ASSERT_NO_FATAL_FAILURE(
      RunToFinish(reference, c.block, "config-reference", VREL_REFERENCE_PATH, &reference_percent));
  const Bytes expected = c.block == 0 ? ModelVariableSpeed(source, c.bad, held)
                                      : ExpectedFixed(source, c.bad, c.block, held);
  EXPECT_TRUE(SameBytes(ReadFileBytes(reference), expected)) << "vrel-reference";

  std::string percent;
  const std::string target = dir_.Path("target.bin");
  WriteFileBytes(target, held);
  ASSERT_NO_FATAL_FAILURE(RunToFinish(target, c.block, "config", VREL_PATH, &percent));
  EXPECT_TRUE(SameBytes(ReadFileBytes(target), expected)) << "vrel";
  EXPECT_EQ(percent, reference_percent);

  if (!c.short_reads.empty()) {
    const std::vector<ReadRequest> requests = mount_->ReadRequests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const ReadRequest& r) {
      return r.result > 0 && r.result < r.size;
    })) << "no read came back short: the case proves nothing about short reads";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, VrelDamagedCopyTest, ::testing::ValuesIn(kCopyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Damage that spreads while the medium is read: bytes rescued before it set in must survive
// the failed blocks that follow, which overlap them in variable speed.
TEST_F(DamagedMediaTest, VariableSpeedKeepsBytesRescuedBeforeTheDamageSpread) {
  constexpr int64_t kLength = 40000;
  const Bytes source = PatternBytes(kLength, 31);
  const Damage damage{Ranges{{30000, 5}}, {Worsening{{20000, 10}, 25000}}};
  ASSERT_NO_FATAL_FAILURE(Mount(source, MountOptions(damage)));
  const std::string target = dir_.Path("target.bin");
  ASSERT_NO_FATAL_FAILURE(RunToFinish(target, 0, "config"));
  const Bytes copy = ReadFileBytes(target);
  ASSERT_EQ(copy.size(), source.size());
  for (int64_t i = 0; i < kLength; ++i) {
    const auto at = static_cast<size_t>(i);
    if (IsIn(damage.bad, i)) {
      ASSERT_EQ(copy[at], 0) << "unreadable byte " << i;
    } else if (i < 30000 - kVariableMaxBlock || i >= 30005 + kVariableMaxBlock) {
      ASSERT_EQ(copy[at], source[at]) << "byte " << i;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// SIGKILL at random points, then a resume: vrel and vrel-reference complete the same target to
// the same bytes; in fixed mode, what a killed copy left is the start of the copy rule's result.

TEST_F(DamagedMediaTest, KilledAtRandomPointsThenResumedLikeTheBlockByBlockLoop) {
  constexpr int64_t kLength = 60013;
  const Ranges bad = {{1000, 300}, {7000, 1}, {15000, 4000}, {59990, 17}};
  const Bytes source = PatternBytes(kLength, 71);
  DamagedMountOptions options = MountOptions(Bad(bad));
  options.short_reads = {{30000, 10000}};
  ASSERT_NO_FATAL_FAILURE(Mount(source, options));
  std::mt19937 random(20261209);  // fixed, so a failure can be repeated
  int interrupted = 0;
  for (int round = 0; round < 6; ++round) {
    const int32_t block = round % 2 == 0 ? 100 : 0;
    const auto delay =
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(random));
    SCOPED_TRACE("round " + std::to_string(round) + ", block " + std::to_string(block) +
                 ", killed after " + std::to_string(delay.count()) + " us");
    const std::string killed = dir_.Path("killed.bin");
    ::unlink(killed.c_str());
    {
      ChildProcess vrel(VREL_PATH, {VrelArgument(mount_->file_path(), killed, block)},
                        {{"XDG_CONFIG_HOME", dir_.Path("config-killed")}});
      std::this_thread::sleep_for(delay);
      vrel.Signal(SIGKILL);
      const std::optional<ExitInfo> info = vrel.Wait(kSignalTimeout);
      ASSERT_TRUE(info.has_value());
      if (!info->exited) ++interrupted;
    }
    const Bytes partial = ::access(killed.c_str(), F_OK) == 0 ? ReadFileBytes(killed) : Bytes{};
    ASSERT_LE(std::ssize(partial), kLength);
    if (block != 0) {
      const Bytes full = ExpectedFixed(source, bad, block, {});
      EXPECT_TRUE(SameBytes(partial, Bytes(full.begin(), full.begin() + std::ssize(partial))));
    }
    const std::string resumed = dir_.Path("resumed.bin");
    const std::string reference = dir_.Path("reference.bin");
    WriteFileBytes(resumed, partial);
    WriteFileBytes(reference, partial);
    ASSERT_NO_FATAL_FAILURE(RunToFinish(resumed, block, "config"));
    ASSERT_NO_FATAL_FAILURE(RunToFinish(reference, block, "config-reference", VREL_REFERENCE_PATH));
    EXPECT_TRUE(SameBytes(ReadFileBytes(resumed), ReadFileBytes(reference)));
  }
  EXPECT_GT(interrupted, 0) << "no round was killed mid-copy: the test proved nothing";
}

// ---------------------------------------------------------------------------------------------
// SIGTERM during a slow copy: vrel stops after a whole block, ends by the signal, and a second
// run resumes to the complete result.

class VrelDamagedSignalTest : public DamagedMediaTest {};

TEST_F(VrelDamagedSignalTest, StopsAfterWholeBlockAndResumes) {
  constexpr int32_t kBlock = 512;
  constexpr int64_t kLength = 128 * kBlock;
  const Ranges bad = {{3000, 100}, {40000, 10}};
  const Bytes source = PatternBytes(kLength, 61);
  // 0.1 s per read: the whole copy would take 13 s or more, far longer than the stop.
  DamagedMountOptions options = MountOptions(Bad(bad));
  options.slow = {{0, kLength}};
  options.slow_usec = 100000;
  ASSERT_NO_FATAL_FAILURE(Mount(source, options));
  const std::string target = dir_.Path("target.bin");
  const Bytes expected = ExpectedFixed(source, bad, kBlock, {});

  {
    const std::string config_home = dir_.Path("config-stopped");
    ChildProcess vrel(VREL_PATH, {VrelArgument(mount_->file_path(), target, kBlock)},
                      {{"XDG_CONFIG_HOME", config_home}}, /*capture_stderr=*/true);
    // Wait (bounded) for the first progress report: at least one block is then written.
    const auto deadline = std::chrono::steady_clock::now() + kSignalTimeout;
    while (InfoValue(config_home, "percent").empty() && vrel.Running() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(InfoValue(config_home, "percent").empty())
        << "no Percent was reported; vrel stderr: " << vrel.stderr_text();
    ASSERT_TRUE(vrel.Running()) << "vrel ended before it could be stopped";
    vrel.Signal(SIGTERM);
    const std::optional<ExitInfo> info = vrel.Wait(kSignalTimeout);
    ASSERT_TRUE(info.has_value()) << "vrel did not end after SIGTERM";
    EXPECT_FALSE(info->exited) << "vrel ended with " << Describe(*info)
                               << "; stderr: " << vrel.stderr_text();
    EXPECT_EQ(info->signal, SIGTERM);
    EXPECT_EQ(InfoValue(config_home, "status"), "Starting...");
  }

  const Bytes partial = ReadFileBytes(target);
  ASSERT_GT(partial.size(), 0u);
  ASSERT_LT(partial.size(), source.size());
  EXPECT_EQ(partial.size() % kBlock, 0u) << "the copy did not stop after a whole block";
  EXPECT_TRUE(SameBytes(partial, Bytes(expected.begin(), expected.begin() + std::ssize(partial))));
  ExpectImageUnchanged();

  mount_->SetSlow(false);
  ASSERT_NO_FATAL_FAILURE(RunToFinish(target, kBlock, "config-resumed"));
  EXPECT_TRUE(SameBytes(ReadFileBytes(target), expected));
}

}  // namespace
