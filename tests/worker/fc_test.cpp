#include "worker/fc.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <functional>
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

// Serves a byte vector; `unreadable` marks bytes a read cannot get past: a read that meets one
// delivers the bytes before it and fails, as a scratched disc does. `hook` runs at every read.
class FakeSource final : public BlockReader {
 public:
  explicit FakeSource(Bytes bytes) : bytes_(std::move(bytes)) {}

  IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    reads.emplace_back(offset + 1, static_cast<int64_t>(buf.size()));
    if (hook) hook(reads.size());
    IoResult r;
    if (fail_read_number == static_cast<int>(reads.size())) {
      r.error = EIO;
      return r;
    }
    for (auto at = static_cast<size_t>(offset); r.done < buf.size(); ++at, ++r.done) {
      if (at >= bytes_.size()) return r;
      if (unreadable && unreadable(at)) {
        r.error = EIO;
        return r;
      }
      buf[r.done] = static_cast<std::byte>(bytes_[at]);
    }
    return r;
  }

  std::vector<std::pair<int64_t, int64_t>> reads;  // 1-based position and size of each read
  std::function<bool(size_t)> unreadable;
  std::function<void(size_t)> hook;  // called with the read's number, from 1
  int fail_read_number = 0;          // this read (from 1) fails whole, whatever its bytes

 private:
  Bytes bytes_;
};

class FCTest : public ::testing::Test {
 protected:
  // Runs the block loop from `source` into the target file, which starts as `target_start`.
  CopyResult Run(FakeSource& source, size_t source_length, int32_t block, bool variable,
                 const Bytes& target_start = {}) {
    WriteFileBytes(target_path_, target_start);
    int err = 0;
    File target = File::OpenReadWrite(target_path_, &err);
    EXPECT_TRUE(target.is_open());
    FC fc(channel_, queue_);
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
    const CopyResult r = Run(source, src.size(), row.block, row.variable, start);
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
  source.unreadable = [](size_t at) { return at >= 150 && at < 170; };
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
  source.unreadable = [](size_t at) { return at == 200; };
  ASSERT_EQ(Run(source, src.size(), 100, false).status, CopyStatus::kFinished);
  Bytes expected = src;
  std::fill(expected.begin() + 200, expected.end(), 0);
  EXPECT_EQ(Target(), expected);
}

TEST_F(FCTest, VariableSpeedFallsBackAndDoesNotReadTheFailedStartAgain) {
  const Bytes src = PatternBytes(100);
  FakeSource source(src);
  source.unreadable = [](size_t at) { return at == 35; };
  ASSERT_EQ(Run(source, src.size(), 0, true).status, CopyStatus::kFinished);
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
  ASSERT_EQ(Run(source, src.size(), 0, true).status, CopyStatus::kFinished);
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
  ASSERT_EQ(Run(source, src.size(), 0, true, start).status, CopyStatus::kFinished);
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

TEST_F(FCTest, CloseMessageStopsAfterTheCurrentBlock) {
  const Bytes src = PatternBytes(1000);
  FakeSource source(src);
  source.hook = [this](size_t n) {
    if (n == 3) queue_.Post({platform::kMsgClose, SIGTERM, 0});
  };
  const CopyResult r = Run(source, src.size(), 100, false);
  EXPECT_EQ(r.status, CopyStatus::kStopped);
  EXPECT_EQ(r.stop_signal, SIGTERM);
  EXPECT_EQ(source.reads.size(), 3u);
  EXPECT_EQ(Target(), Bytes(src.begin(), src.begin() + 300));
  EXPECT_EQ(channel_.Values("Percent"), (std::vector<std::string>{"0.1", "10.1", "20.1"}));
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
