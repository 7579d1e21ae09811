#include "worker/fc.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/number_text.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace worker {
namespace {

using platform::File;
using platform::IoResult;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Bytes = std::vector<unsigned char>;

// Remembers every value put, in order; can be told to fail the n-th Percent.
class RecordingChannel final : public ProgressChannel {
 public:
  bool Put(std::string_view key, std::string_view value, std::string* error) override {
    if (key == "Percent" && ++percents_ == fail_percent_) {
      *error = "store refused";
      return false;
    }
    puts.emplace_back(key, value);
    return true;
  }
  std::vector<std::string> Values(std::string_view key) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : puts) {
      if (k == key) out.push_back(v);
    }
    return out;
  }
  void FailPercent(int n) { fail_percent_ = n; }

  std::vector<std::pair<std::string, std::string>> puts;

 private:
  int percents_ = 0;
  int fail_percent_ = 0;
};

// How a damaged range answers a read that meets it. Each read gives the same answer each time.
enum class Fault {
  kFails,       // the bytes before the range are delivered, then the read fails (EIO)
  kEndsShort,   // the bytes before the range are delivered, then the read ends without an error
  kFailsWhole,  // a read that touches the range fails without delivering anything
};

struct Damage {
  int64_t start;  // 0-based
  int64_t length;
  Fault fault;
};

// Serves a byte vector with `damage`. `hook` runs at every read.
class FakeSource final : public BlockReader {
 public:
  explicit FakeSource(Bytes bytes) : bytes_(std::move(bytes)) {}

  IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    const auto size = static_cast<int64_t>(buf.size());
    reads.emplace_back(offset + 1, size);
    if (hook) hook(reads.size());
    int64_t stop = std::min(offset + size, std::ssize(bytes_));
    IoResult r;
    if (fail_read_number == static_cast<int>(reads.size())) {
      stop = offset;
      r.error = EIO;
    }
    for (const Damage& d : damage) {
      if (d.start >= offset + size || d.start + d.length <= offset) continue;
      const int64_t at = d.fault == Fault::kFailsWhole ? offset : std::max(d.start, offset);
      if (at < stop) {
        stop = at;
        r.error = d.fault == Fault::kEndsShort ? 0 : EIO;
      }
    }
    r.done = static_cast<size_t>(std::max<int64_t>(stop - offset, 0));
    std::memcpy(buf.data(), bytes_.data() + offset, r.done);
    failed.push_back(r.done < buf.size());
    return r;
  }

  std::vector<std::pair<int64_t, int64_t>> reads;  // 1-based position and size of each read
  std::vector<bool> failed;                        // whether each read came back short
  std::vector<Damage> damage;
  std::function<void(size_t)> hook;  // called with the read's number, from 1
  int fail_read_number = 0;          // this read (from 1) fails whole, whatever its bytes

 private:
  Bytes bytes_;
};

class FCTest : public ::testing::Test {
 protected:
  // Runs the block loop from `source` into the target file, which starts as `target_start`.
  CopyResult Run(FakeSource& source, size_t source_length, int32_t block, bool variable,
                 const Bytes& target_start = {}, BlockLoop loop = BlockLoop::kChunked) {
    // A new file: truncating one that holds data makes the file system flush it on close.
    ::unlink(target_path_.c_str());
    WriteFileBytes(target_path_, target_start);
    int err = 0;
    File target = File::OpenReadWrite(target_path_, &err);
    EXPECT_TRUE(target.is_open());
    FC fc(channel_, queue_, loop);
    return fc.CopyBlocks(source, static_cast<int64_t>(source_length), target, block, variable);
  }
  Bytes Target() const { return ReadFileBytes(target_path_); }

  TempDir dir_;
  std::string target_path_ = dir_.Path("target");
  RecordingChannel channel_;
  platform::MessageQueue queue_;
};

struct BlockRow {
  const char* name;
  size_t source_length;
  size_t target_length;  // bytes the target already holds (taken from the source)
  int32_t block;
  bool variable;
  std::vector<std::pair<int64_t, int64_t>> reads;
  std::vector<std::string> percents;
};

TEST_F(FCTest, BlocksAndPercentOfHealthyCopies) {
  const std::vector<BlockRow> rows = {
      {"250 bytes in 100-byte blocks",
       250,
       0,
       100,
       false,
       {{1, 100}, {101, 100}, {201, 50}},
       {"0.4", "40.4", "80.4"}},
      {"resumed after 120 bytes", 250, 120, 100, false, {{121, 100}, {221, 30}}, {"48.4", "88.4"}},
      {"200 bytes in 100-byte blocks", 200, 0, 100, false, {{1, 100}, {101, 100}}, {"0.5", "50.5"}},
      {"last block starts at the last byte",
       101,
       0,
       100,
       false,
       {{1, 100}, {101, 1}},
       {"0.99", "100"}},
      {"100 bytes in 10-byte blocks end at 91",
       100,
       0,
       10,
       false,
       {{1, 10},
        {11, 10},
        {21, 10},
        {31, 10},
        {41, 10},
        {51, 10},
        {61, 10},
        {71, 10},
        {81, 10},
        {91, 10}},
       {"1", "11", "21", "31", "41", "51", "61", "71", "81", "91"}},
      {"block larger than the source", 5, 0, 1 << 20, false, {{1, 5}}, {"20"}},
      {"one byte per block",
       4,
       0,
       1,
       false,
       {{1, 1}, {2, 1}, {3, 1}, {4, 1}},
       {"25", "50", "75", "100"}},
      {"variable speed over 100 bytes",
       100,
       0,
       12345,
       true,
       {{1, 10},
        {11, 20},
        {21, 40},
        {31, 70},
        {41, 60},
        {51, 50},
        {61, 40},
        {71, 30},
        {81, 20},
        {91, 10}},
       {"1", "11", "21", "31", "41", "51", "61", "71", "81", "91"}},
      {"variable speed grows to 10240 and no further", 30000, 0, 0, true, {}, {}},
      {"target as long as the source", 50, 50, 10, false, {}, {}},
      {"target longer than the source", 50, 80, 10, false, {}, {}},
      {"empty source", 0, 0, 10, false, {}, {}},
  };
  for (const BlockRow& row : rows) {
    SCOPED_TRACE(row.name);
    channel_.puts.clear();
    const Bytes src = PatternBytes(row.source_length);
    Bytes start = PatternBytes(std::max(row.source_length, row.target_length));
    start.resize(row.target_length);
    FakeSource source(src);
    const CopyResult r =
        Run(source, src.size(), row.block, row.variable, start, BlockLoop::kBlockByBlock);
    EXPECT_EQ(r.status, CopyStatus::kFinished) << r.error;
    if (row.name == std::string("variable speed grows to 10240 and no further")) {
      std::vector<int64_t> sizes;
      for (const auto& [pos, size] : source.reads) sizes.push_back(size);
      const std::vector<int64_t> growth = {10,  20,   40,   80,   160,   320,
                                           640, 1280, 2560, 5120, 10240, 10240};
      ASSERT_GE(sizes.size(), growth.size());
      EXPECT_TRUE(std::equal(growth.begin(), growth.end(), sizes.begin()));
      EXPECT_EQ(source.reads.size(), 3000u);  // one block every 10 bytes
      EXPECT_EQ(*std::max_element(sizes.begin(), sizes.end()), 10240);
      EXPECT_EQ(source.reads.back(), (std::pair<int64_t, int64_t>{29991, 10}));
    } else {
      EXPECT_EQ(source.reads, row.reads);
      EXPECT_EQ(channel_.Values("Percent"), row.percents);
    }
    Bytes expected = row.target_length > row.source_length ? start : src;
    EXPECT_EQ(Target(), expected);
  }
}

// Every distinct value once, in order: at most 10,001 writes for any block size.
TEST_F(FCTest, PercentIsWrittenOnlyWhenItsTextChanges) {
  const Bytes src = PatternBytes(20000);
  FakeSource source(src);
  ASSERT_EQ(Run(source, src.size(), 1, false).status, CopyStatus::kFinished);
  const std::vector<std::string> percents = channel_.Values("Percent");
  ASSERT_EQ(percents.size(), 10001u);  // 0, 0.01, ..., 100 at half a hundredth per byte
  EXPECT_EQ(percents.front(), "0");    // 0.005 rounds to the even 0
  EXPECT_EQ(percents[1], "0.01");
  EXPECT_EQ(percents.back(), "100");
  for (size_t i = 1; i < percents.size(); ++i) {
    ASSERT_LT(*platform::ParseNumber(percents[i - 1]), *platform::ParseNumber(percents[i]));
  }
  EXPECT_EQ(Target(), src);
}

TEST_F(FCTest, FixedModeKeepsWhatAFailedReadDeliveredAndZerosTheRest) {
  const Bytes src = PatternBytes(250);
  FakeSource source(src);
  source.damage = {{150, 20, Fault::kFails}};
  ASSERT_EQ(Run(source, src.size(), 100, false).status, CopyStatus::kFinished);
  Bytes expected = src;
  // Block 101-200 delivered 101-150; the rest of it is zeros, not the previous block's bytes.
  std::fill(expected.begin() + 150, expected.begin() + 200, 0);
  EXPECT_EQ(Target(), expected);
  EXPECT_EQ(channel_.Values("Percent"), (std::vector<std::string>{"0.4", "40.4", "80.4"}));
}

TEST_F(FCTest, AFailedLastBlockStillGivesTheTargetTheSourcesLength) {
  const Bytes src = PatternBytes(230);
  FakeSource source(src);
  source.damage = {{200, 1, Fault::kFails}};
  ASSERT_EQ(Run(source, src.size(), 100, false).status, CopyStatus::kFinished);
  Bytes expected = src;
  std::fill(expected.begin() + 200, expected.end(), 0);
  EXPECT_EQ(Target(), expected);
}

TEST_F(FCTest, VariableSpeedFallsBackAndDoesNotReadTheFailedStartAgain) {
  const Bytes src = PatternBytes(100);
  FakeSource source(src);
  source.damage = {{35, 1, Fault::kFails}};
  ASSERT_EQ(Run(source, src.size(), 0, true, {}, BlockLoop::kBlockByBlock).status,
            CopyStatus::kFinished);
  const std::vector<std::pair<int64_t, int64_t>> reads = {{1, 10},  {11, 20}, {21, 40}, {31, 10},
                                                          {41, 10}, {51, 20}, {61, 40}, {71, 30},
                                                          {81, 20}, {91, 10}};
  EXPECT_EQ(source.reads, reads);
  Bytes expected = src;
  // Bytes 36-40 lie after the unreadable byte 36 in the only blocks that cover them.
  std::fill(expected.begin() + 35, expected.begin() + 40, 0);
  EXPECT_EQ(Target(), expected);
}

// Blocks overlap in variable speed: a read that fails where earlier blocks were rescued must not
// replace those bytes with zeros.
TEST_F(FCTest, VariableSpeedFailureNeverOverwritesRescuedBytes) {
  const Bytes src = PatternBytes(100);
  FakeSource source(src);
  source.fail_read_number = 4;  // the block 31-100, after 1-60 are in the target
  ASSERT_EQ(Run(source, src.size(), 0, true, {}, BlockLoop::kBlockByBlock).status,
            CopyStatus::kFinished);
  EXPECT_EQ(source.reads[3], (std::pair<int64_t, int64_t>{31, 70}));
  EXPECT_EQ(source.reads[4], (std::pair<int64_t, int64_t>{41, 10}));  // fell back to 10
  EXPECT_EQ(Target(), src);  // the later blocks re-read 41-100
}

// The zeros of a failed block extend the target only past its end, also when resuming.
TEST_F(FCTest, FailedBlockPastTheEndIsWrittenWhole) {
  const Bytes src = PatternBytes(60);
  FakeSource source(src);
  source.fail_read_number = 1;
  const Bytes start(src.begin(), src.begin() + 20);
  ASSERT_EQ(Run(source, src.size(), 0, true, start, BlockLoop::kBlockByBlock).status,
            CopyStatus::kFinished);
  EXPECT_EQ(source.reads[0], (std::pair<int64_t, int64_t>{21, 10}));
  Bytes expected = src;
  std::fill(expected.begin() + 20, expected.begin() + 30, 0);
  EXPECT_EQ(Target(), expected);
}

TEST_F(FCTest, BlockSizeBelowOneStopsWithAnErrorAndReadsNothing) {
  for (int32_t block : {0, -5}) {
    SCOPED_TRACE(block);
    const Bytes src = PatternBytes(50);
    FakeSource source(src);
    const CopyResult r = Run(source, src.size(), block, false);
    EXPECT_EQ(r.status, CopyStatus::kBadBlockSize);
    EXPECT_TRUE(source.reads.empty());
    EXPECT_TRUE(Target().empty());
  }
}

// A close message stops the copy on a block boundary: after the block in progress, or in the
// chunked loop after the chunk in progress. A resume then gives exactly the copy that was not
// stopped, with the same Percent texts.
TEST_F(FCTest, CloseMessageStopsOnABlockBoundaryAndResumeCompletesTheCopy) {
  const Bytes src = PatternBytes((3 << 20) + 7);
  const std::vector<Damage> damage = {{1000, 300, Fault::kFails},
                                      {(2 << 20) + 5, 1, Fault::kFailsWhole}};
  FakeSource whole(src);
  whole.damage = damage;
  ASSERT_EQ(Run(whole, src.size(), 100, false, {}, BlockLoop::kBlockByBlock).status,
            CopyStatus::kFinished);
  const Bytes expected = Target();
  const std::vector<std::string> expected_percents = channel_.Values("Percent");

  for (const BlockLoop loop : {BlockLoop::kBlockByBlock, BlockLoop::kChunked}) {
    SCOPED_TRACE(loop == BlockLoop::kChunked ? "chunked" : "block by block");
    channel_.puts.clear();
    FakeSource source(src);
    source.damage = damage;
    source.hook = [this](size_t n) {
      if (n == 6) queue_.Post({platform::kMsgClose, SIGTERM, 0});
    };
    const CopyResult stopped = Run(source, src.size(), 100, false, {}, loop);
    EXPECT_EQ(stopped.status, CopyStatus::kStopped);
    EXPECT_EQ(stopped.stop_signal, SIGTERM);
    const Bytes partial = Target();
    ASSERT_GT(partial.size(), 0u);
    ASSERT_LT(partial.size(), src.size());
    EXPECT_EQ(partial.size() % 100, 0u) << "stopped inside a block";
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), expected.begin()));

    source.hook = nullptr;
    EXPECT_EQ(Run(source, src.size(), 100, false, partial, loop).status, CopyStatus::kFinished);
    EXPECT_TRUE(Target() == expected);
    // The resumed copy may write the stopped one's last value again.
    std::vector<std::string> percents = channel_.Values("Percent");
    percents.erase(std::unique(percents.begin(), percents.end()), percents.end());
    EXPECT_EQ(percents, expected_percents);
  }
}

TEST_F(FCTest, ChannelFailureEndsTheCopy) {
  const Bytes src = PatternBytes(1000);
  FakeSource source(src);
  channel_.FailPercent(2);
  const CopyResult r = Run(source, src.size(), 100, false);
  EXPECT_EQ(r.status, CopyStatus::kChannelFailed);
  EXPECT_EQ(source.reads.size(), 2u);
}

TEST_F(FCTest, WriteFailureEndsTheCopyWithTheReason) {
  const Bytes src = PatternBytes(100);
  FakeSource source(src);
  int err = 0;
  File full = File::OpenReadWrite("/dev/full", &err);
  if (!full.is_open()) GTEST_SKIP() << "/dev/full is not available";
  FC fc(channel_, queue_);
  const CopyResult r = fc.CopyBlocks(source, static_cast<int64_t>(src.size()), full, 10, false);
  EXPECT_EQ(r.status, CopyStatus::kWriteFailed);
  EXPECT_NE(r.error.find(platform::ErrorText(ENOSPC)), std::string::npos) << r.error;
  EXPECT_EQ(source.reads.size(), 1u);
  EXPECT_TRUE(channel_.Values("Percent").empty());
}

// ---------------------------------------------------------------------------------------------
// The chunked loop against the block-by-block loop on random media, block sizes and resume
// points: the same target bytes, the same Percent texts and status, and few extra failing reads.

struct RandomCase {
  Bytes source;
  Bytes held;     // the target's bytes before the copy, not the source's
  int32_t block;  // 0: variable speed
  std::vector<Damage> damage;
};

RandomCase MakeRandomCase(uint32_t seed) {
  std::mt19937 random(seed);
  auto uniform = [&random](int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random);
  };
  // Block sizes and source lengths; the lengths keep the block-by-block loop quick.
  const std::vector<std::pair<int32_t, int64_t>> kinds = {
      {1, 20000},
      {100, 200000},
      {0, 30000},
      {static_cast<int32_t>(uniform(2, 64)), 20000},
      {static_cast<int32_t>(uniform(65, 20000)), 200000},
      {static_cast<int32_t>(uniform(1 << 19, 3 << 20)), 4 << 20},  // a chunk or more
  };
  const auto& [block, longest] = kinds[static_cast<size_t>(uniform(0, 5))];
  RandomCase c;
  c.block = block;
  const int64_t length = uniform(1, longest);
  c.source = PatternBytes(static_cast<size_t>(length), seed);
  if (uniform(0, 1) == 1) c.held = PatternBytes(static_cast<size_t>(uniform(0, length + 20)), 7);
  // One kind of medium in three fails whole requests.
  const int medium = static_cast<int>(uniform(0, 2));
  for (int64_t n = uniform(0, 5); n > 0; --n) {
    const int64_t span = uniform(0, 3) == 0 ? uniform(1, 20000) : uniform(1, 300);
    const Fault fault = medium == 2          ? Fault::kFailsWhole
                        : uniform(0, 1) == 0 ? Fault::kFails
                                             : Fault::kEndsShort;
    c.damage.push_back({uniform(0, length - 1), span, fault});
  }
  return c;
}

struct Outcome {
  CopyStatus status;
  Bytes target;
  std::vector<std::pair<std::string, std::string>> puts;
  int failed_reads = 0;
  int failing_stretches = 0;  // runs of reads that failed one after the other
};

class FCDifferentialTest : public FCTest {
 protected:
  Outcome RunCase(const RandomCase& c, BlockLoop loop) {
    FakeSource source(c.source);
    source.damage = c.damage;
    channel_.puts.clear();
    Outcome out;
    out.status = Run(source, c.source.size(), c.block, c.block == 0, c.held, loop).status;
    out.target = Target();
    out.puts = channel_.puts;
    for (size_t i = 0; i < source.failed.size(); ++i) {
      if (!source.failed[i]) continue;
      ++out.failed_reads;
      if (i == 0 || !source.failed[i - 1]) ++out.failing_stretches;
    }
    return out;
  }
};

TEST_F(FCDifferentialTest, ChunkedLoopGivesTheResultOfTheBlockByBlockLoop) {
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    const RandomCase c = MakeRandomCase(seed);
    const bool fails_whole = std::any_of(c.damage.begin(), c.damage.end(), [](const Damage& d) {
      return d.fault == Fault::kFailsWhole;
    });
    SCOPED_TRACE(::testing::Message()
                 << "seed " << seed << ": " << c.source.size() << " bytes, block " << c.block
                 << ", " << c.held.size() << " held, " << c.damage.size() << " damaged ranges");
    const Outcome expected = RunCase(c, BlockLoop::kBlockByBlock);
    const Outcome chunked = RunCase(c, BlockLoop::kChunked);
    ASSERT_EQ(chunked.status, expected.status);
    ASSERT_TRUE(chunked.target == expected.target);
    ASSERT_EQ(chunked.puts, expected.puts);
    // A medium that delivers the bytes before a failure costs one extra failing read per
    // stretch; one that fails whole requests at most one per halving of a chunk, whose
    // fewer than 2^20 bytes hold fewer than 2^20 blocks.
    const int extra_per_stretch = fails_whole ? 1 + 20 : 1;
    ASSERT_LE(chunked.failed_reads,
              expected.failed_reads + extra_per_stretch * expected.failing_stretches);
  }
}

// The whole copy through real files: what reaches the channel, and what happens to the files.
TEST_F(FCTest, CopyReportsStartAndFinishAroundTheBlocks) {
  const Bytes src = PatternBytes(250);
  WriteFileBytes(dir_.Path("source"), src);
  FC fc(channel_, queue_);
  const CopyResult r = fc.Copy(dir_.Path("source"), dir_.Path("out"), 100, false);
  ASSERT_EQ(r.status, CopyStatus::kFinished) << r.error;
  const std::vector<std::pair<std::string, std::string>> expected = {{"Status", "Starting..."},
                                                                     {"Percent", "0.4"},
                                                                     {"Percent", "40.4"},
                                                                     {"Percent", "80.4"},
                                                                     {"Status", "Finished"}};
  EXPECT_EQ(channel_.puts, expected);
  EXPECT_EQ(ReadFileBytes(dir_.Path("out")), src);
  EXPECT_EQ(ReadFileBytes(dir_.Path("source")), src);
}

TEST_F(FCTest, MissingSourceIsNeverCreated) {
  FC fc(channel_, queue_);
  const CopyResult r = fc.Copy(dir_.Path("none"), dir_.Path("out"), 100, false);
  EXPECT_EQ(r.status, CopyStatus::kOpenFailed);
  EXPECT_NE(r.error.find("none"), std::string::npos) << r.error;
  EXPECT_EQ(channel_.puts,
            (std::vector<std::pair<std::string, std::string>>{{"Status", "Starting..."}}));
  int err = 0;
  EXPECT_EQ(platform::FileLength(dir_.Path("none"), &err), -1);
  EXPECT_EQ(platform::FileLength(dir_.Path("out"), &err), -1);
}

}  // namespace
}  // namespace worker
