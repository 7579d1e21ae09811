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

#include "platform/core/rescue_map.h"
#include "tests/support/temp_dir.h"
#include "worker/rescue_map_file.h"

namespace worker {
namespace {

using platform::File;
using platform::IoResult;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using Bytes = std::vector<unsigned char>;

// Remembers every Percent put, in order; can be told to fail the n-th.
class RecordingChannel final : public ProgressChannel {
 public:
  bool Put(std::string_view key, std::string_view value, std::string* error) override {
    EXPECT_EQ(key, "Percent");
    if (percents.size() + 1 == fail_percent) {
      *error = "store refused";
      return false;
    }
    percents.emplace_back(value);
    return true;
  }

  std::vector<std::string> percents;
  size_t fail_percent = 0;
};

// `texts` joined with spaces; where `expected` ends in " ...", only as much as it shows.
std::string Joined(const std::vector<std::string>& texts, std::string_view expected = "") {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : " ") + text;
  const size_t shown = expected.size() - 4;
  if (!expected.ends_with(" ...") || joined.size() < shown) return joined;
  return joined.substr(0, shown) + " ...";
}

// How a damaged range answers a read that meets it. Each read gives the same answer each time.
enum class Fault {
  kFails,       // the bytes before the range are delivered, then the read fails (EIO)
  kEndsShort,   // the bytes before the range are delivered, then the read ends without an error
  kFailsWhole,  // a read that touches the range fails without delivering anything
  kReplaced,    // as kFails; a look at the source then finds another medium in the drive
};

struct Damage {
  int64_t start;  // 0-based
  int64_t length;
  Fault fault;
};

// Serves a byte vector with `damage`. `hook` runs at every read, with the read's number from 1.
class FakeSource final : public BlockReader {
 public:
  explicit FakeSource(Bytes bytes, std::vector<Damage> damage = {})
      : damage_(std::move(damage)), bytes_(std::move(bytes)) {}

  IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    const auto size = static_cast<int64_t>(buf.size());
    reads.push_back(std::to_string(offset + 1) + ":" + std::to_string(size));
    if (hook) hook(reads.size());
    int64_t stop = std::min(offset + size, std::ssize(bytes_));
    IoResult result;
    bool replaced = false;
    for (const Damage& range : damage_) {
      if (range.start >= offset + size || range.start + range.length <= offset) continue;
      const int64_t at = range.fault == Fault::kFailsWhole ? offset : std::max(range.start, offset);
      if (at < stop) {
        stop = at;
        result.error = range.fault == Fault::kEndsShort ? 0 : EIO;
        replaced = range.fault == Fault::kReplaced;
      }
    }
    replaced_ = replaced_ || replaced;
    result.done = static_cast<size_t>(std::max<int64_t>(stop - offset, 0));
    std::memcpy(buf.data(), bytes_.data() + offset, result.done);
    const bool failed = result.done < buf.size();
    failed_reads += failed;
    failing_stretches += failed && !last_failed_;
    last_failed_ = failed;
    return result;
  }
  int64_t size() const { return bytes_.size(); }
  bool StillThere(std::string* /*why*/) override { return !replaced_; }

  std::vector<std::string> reads;  // "position:size" of each read, 1-based
  int failed_reads = 0;            // reads that came back short
  int failing_stretches = 0;       // runs of such reads one after the other
  std::function<void(size_t)> hook;

 private:
  std::vector<Damage> damage_;
  Bytes bytes_;
  bool replaced_ = false;
  bool last_failed_ = false;
};

class FCTest : public ::testing::Test {
 protected:
  // Runs the block loop from `source` into the target file, which starts as `held`.
  CopyResult Run(FakeSource& source, int32_t block, const Bytes& held = {},
                 BlockLoop loop = BlockLoop::kChunked) {
    // A new file: truncating one that holds data makes the file system flush it on close.
    ::unlink(target_path_.c_str());
    WriteFileBytes(target_path_, held);
    int err = 0;
    File target = File::OpenReadWrite(target_path_, &err);
    EXPECT_TRUE(target.is_open());
    FC fc(channel_, queue_, loop);
    return fc.CopyBlocks(source, std::ssize(source), target, block, block == 0);
  }
  Bytes Target() const { return ReadFileBytes(target_path_); }

  TempDir dir_;
  std::string target_path_ = dir_.Path("target");
  RecordingChannel channel_;
  platform::MessageQueue queue_;
};

// Expected values worked out by hand from the copy rule: blocks start `block` bytes apart after
// the target's end (10 in variable speed, where the block doubles after a whole read while below
// 10000 and is 10 again after a failed one); a block is cut to what remains of the source and the
// cut size stays; a failed block keeps what its read delivered, and is zeros after it only where
// it extends the target.
struct BlockRow {
  const char* name;      // the fault the row catches
  int64_t length;        // source bytes
  int64_t held;          // target bytes before the copy, none of them the source's
  int32_t block;         // 0: variable speed
  const char* reads;     // block by block, "position:size ..."; a closing " ..." ends a prefix
  const char* percents;  // the same form
  Fault fault = Fault::kFails;
  int64_t damaged_from = 0, damaged_length = 0;  // 0-based
  int64_t zeros_from = 0, zeros_to = 0;          // [from, to) 0-based: zeros in the target
};

TEST_F(FCTest, BothLoopsFollowTheCopyRule) {
  const BlockRow rows[] = {
      {"short last block; a failed block holds what its read delivered, then zeros", 250, 0, 100,
       "1:100 101:100 201:50", "0.4 40.4 80.4", Fault::kFails, 150, 20, 150, 200},
      {"resume after the target's end, its bytes kept", 250, 120, 100, "121:100 221:30",
       "48.4 88.4"},
      {"last block on the last byte", 101, 0, 100, "1:100 101:1", "0.99 100"},
      {"Percent written only when its text changes (0.005 and 0.025 round to the even 0 and 0.02)",
       20000, 0, 1, "1:1 2:1 3:1 4:1 5:1 6:1 7:1 ...", "0 0.01 0.02 0.03 0.04 ..."},
      {"variable speed: 10 apart, cut at the end, the cut size kept", 100, 0, 0,
       "1:10 11:20 21:40 31:70 41:60 51:50 61:40 71:30 81:20 91:10",
       "1 11 21 31 41 51 61 71 81 91"},
      {"variable speed stops doubling at 10240", 10370, 0, 0,
       "1:10 11:20 21:40 31:80 41:160 51:320 61:640 71:1280 81:2560 91:5120 101:10240 111:10240 "
       "121:10240 131:10240 141:10230 151:10220 ...",
       "0.01 0.11 0.2 0.3 0.4 0.49 ..."},
      {"a read that ends short without an error fails: back to 10, the failed start not read again",
       100, 0, 0, "1:10 11:20 21:40 31:10 41:10 51:20 61:40 71:30 81:20 91:10",
       "1 11 21 31 41 51 61 71 81 91", Fault::kEndsShort, 35, 1, 35, 40},
      {"variable speed: a failed block never zeros bytes rescued before it", 100, 0, 0,
       "1:10 11:20 21:40 31:70 41:10 51:20 61:10 71:10 81:20 91:10", "1 11 21 31 41 51 61 71 81 91",
       Fault::kFailsWhole, 60, 1, 60, 70},
      {"resumed, a failed last block still gives the target the source's length", 30, 20, 0,
       "21:10", "70", Fault::kFailsWhole, 25, 1, 20, 30},
  };
  for (const BlockRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes source_bytes = PatternBytes(static_cast<size_t>(row.length));
    const Bytes held = PatternBytes(static_cast<size_t>(row.held), 7);
    Bytes expected = held;
    expected.insert(expected.end(), source_bytes.begin() + row.held, source_bytes.end());
    std::fill(expected.begin() + row.zeros_from, expected.begin() + row.zeros_to, 0);
    std::vector<Damage> damage;
    if (row.damaged_length > 0) damage.push_back({row.damaged_from, row.damaged_length, row.fault});
    for (const BlockLoop loop : {BlockLoop::kBlockByBlock, BlockLoop::kChunked}) {
      SCOPED_TRACE(loop == BlockLoop::kChunked ? "chunked" : "block by block");
      channel_.percents.clear();
      FakeSource source(source_bytes, damage);
      const CopyResult result = Run(source, row.block, held, loop);
      EXPECT_EQ(result.status, CopyStatus::kFinished) << result.error;
      if (loop == BlockLoop::kBlockByBlock) {
        EXPECT_EQ(Joined(source.reads, row.reads), row.reads);
      }
      EXPECT_EQ(Joined(channel_.percents, row.percents), row.percents);
      EXPECT_TRUE(Target() == expected);
    }
  }
}

TEST_F(FCTest, ChannelFailureEndsTheCopy) {
  const Bytes source_bytes = PatternBytes(1000);
  FakeSource source(source_bytes);
  channel_.fail_percent = 2;
  EXPECT_EQ(Run(source, 100).status, CopyStatus::kChannelFailed);
  EXPECT_EQ(source.reads.size(), 2u);
}

// The chunked loop against the block-by-block loop on random media, block sizes and resume
// points: the same target bytes, the same Percent texts and status, and few extra failing reads.
// A medium taken out ends both after the same block, neither writing the failing one. A close
// message stops either loop on a block boundary (the chunked one after the chunk in progress), and
// a resume then gives the same copy and Percent texts as one that was not stopped.
TEST_F(FCTest, ChunkedLoopGivesTheResultOfTheBlockByBlockLoopAndStopsCleanly) {
  int stops = 0;
  for (uint32_t case_number = 1; case_number <= 150; ++case_number) {
    std::mt19937 random(case_number);
    auto uniform = [&random](int64_t low, int64_t high) {
      return std::uniform_int_distribution<int64_t>(low, high)(random);
    };
    // Kinds of case: block sizes (0: variable speed, the last a chunk or more) and the longest
    // sources, which keep the block-by-block loop quick.
    const int64_t blocks[] = {
        1, 100, 0, uniform(2, 64), uniform(65, 20000), uniform(1 << 19, 3 << 20)};
    const int64_t longest[] = {20000, 200000, 30000, 20000, 200000, 4 << 20};
    const int64_t kind = uniform(0, 5);
    const auto block = static_cast<int32_t>(blocks[kind]);
    const int64_t length = uniform(1, longest[kind]);
    const Bytes source_bytes = PatternBytes(static_cast<size_t>(length), case_number);
    const Bytes held = uniform(0, 1) == 1
                           ? PatternBytes(static_cast<size_t>(uniform(0, length + 20)), 7)
                           : Bytes{};
    const bool fails_whole = uniform(0, 2) == 2;  // one kind of medium in three
    std::vector<Damage> damage;
    for (int64_t n = uniform(0, 5); n > 0; --n) {
      const int64_t span = uniform(0, 3) == 0 ? uniform(1, 20000) : uniform(1, 300);
      const Fault fault = fails_whole          ? Fault::kFailsWhole
                          : uniform(0, 1) == 0 ? Fault::kFails
                                               : Fault::kEndsShort;
      damage.push_back({uniform(0, length - 1), span, fault});
    }
    // One medium in four is taken out: another is read from there on.
    if (case_number % 4 == 0) damage.push_back({uniform(0, length - 1), length, Fault::kReplaced});
    SCOPED_TRACE(::testing::Message()
                 << "case " << case_number << ": " << length << " bytes, block " << block << ", "
                 << held.size() << " held, " << damage.size() << " damaged ranges");
    struct Outcome {
      CopyStatus status;
      Bytes target;
      std::vector<std::string> percents;
      int failed_reads, failing_stretches;
    } outcomes[2];
    for (const BlockLoop loop : {BlockLoop::kBlockByBlock, BlockLoop::kChunked}) {
      Outcome& out = outcomes[loop == BlockLoop::kChunked ? 1 : 0];
      FakeSource source(source_bytes, damage);
      channel_.percents.clear();
      out = {Run(source, block, held, loop).status, Target(), channel_.percents,
             source.failed_reads, source.failing_stretches};
    }
    const auto& [expected, chunked] = outcomes;
    ASSERT_EQ(chunked.status, expected.status);
    ASSERT_TRUE(chunked.target == expected.target);
    ASSERT_EQ(chunked.percents, expected.percents);
    // A medium that delivers the bytes before a failure costs one extra failing read per
    // stretch; one that fails whole requests at most one per halving of a chunk, whose
    // fewer than 2^20 bytes hold fewer than 2^20 blocks.
    ASSERT_LE(chunked.failed_reads,
              expected.failed_reads + (fails_whole ? 21 : 1) * expected.failing_stretches);

    // In variable speed blocks overlap, and a resume starts after the last one: another layout.
    for (const BlockLoop loop : {BlockLoop::kBlockByBlock, BlockLoop::kChunked}) {
      if (block == 0) break;
      FakeSource stopped(source_bytes, damage);
      stopped.hook = [this, stop_read = static_cast<size_t>(uniform(1, 4))](size_t read_number) {
        if (read_number == stop_read) queue_.Post({platform::kMsgClose, SIGTERM, 0});
      };
      channel_.percents.clear();
      const CopyResult result = Run(stopped, block, held, loop);
      queue_.ProcessAll();  // a message posted as the copy came to its end
      if (result.status != CopyStatus::kStopped) continue;
      ++stops;
      ASSERT_EQ(result.stop_signal, SIGTERM);
      const Bytes partial = Target();
      ASSERT_TRUE(std::ssize(partial) == length ||
                  (std::ssize(partial) - std::ssize(held)) % block == 0)
          << "stopped inside a block";
      FakeSource rest(source_bytes, damage);
      ASSERT_EQ(Run(rest, block, partial, loop).status, expected.status);
      ASSERT_TRUE(Target() == expected.target);
      // The resumed copy may write the stopped one's last value again.
      std::vector<std::string> percents = channel_.percents;
      percents.erase(std::unique(percents.begin(), percents.end()), percents.end());
      ASSERT_EQ(percents, expected.percents);
    }
  }
  EXPECT_GT(stops, 150) << "few copies were stopped: the stop is hardly tested";
}

// A retry pass writes no zeros: an untried byte whose read fails again keeps what the target
// held, and becomes unreadable only where that is a zero. Worked out by hand: 4-byte blocks from
// the untried area's start, bytes 60..67 damaged (a read that starts on them fails whole).
TEST_F(FCTest, RetryPassWritesNoZerosOverUntriedBytes) {
  using S = platform::AreaStatus;
  const Bytes source_bytes = PatternBytes(100);
  Bytes held = source_bytes;
  std::fill(held.begin() + 60, held.begin() + 65, 0);
  std::fill(held.begin() + 65, held.begin() + 70, 0xEE);  // an older copy's bytes
  WriteFileBytes(target_path_, held);
  int err = 0;
  const File target = File::OpenReadWrite(target_path_, &err);
  platform::RescueMap map("/src", 100);
  map.Mark(0, 50, S::kRescued);
  map.Mark(70, 30, S::kRescued);
  RescueRecorder recorder(std::move(map), target, platform::UniqueFd(), "map");
  FakeSource source(source_bytes, {{60, 8, Fault::kFails}});
  FC fc(channel_, queue_);
  ASSERT_EQ(fc.CopyBlocks(source, 100, target, 4, false, &recorder).status, CopyStatus::kFinished);
  EXPECT_EQ(Joined(channel_.percents), "51 55 59 63 67");
  const std::vector<platform::MapArea> areas = {
      {0, 60, S::kRescued}, {60, 5, S::kUnreadable}, {65, 5, S::kUntried}, {70, 30, S::kRescued}};
  EXPECT_EQ(recorder.map().areas(), areas);
  EXPECT_TRUE(Target() == held);
}

// One waiting message per call, oldest first; an empty queue is no error.
TEST(DoEventTest, FastestHandlesOneWaitingMessagePerCall) {
  platform::MessageQueue queue;
  std::vector<uintptr_t> dispatched;
  queue.SetHandler(platform::kMsgUser,
                   [&](const platform::Message& msg) { dispatched.push_back(msg.wparam); });
  DoEvent events(queue);
  events.Fastest();
  for (uintptr_t i = 1; i <= 3; ++i) queue.Post({platform::kMsgUser, i, 0});
  events.Fastest();
  events.Fastest();
  EXPECT_EQ(dispatched, (std::vector<uintptr_t>{1, 2}));
  EXPECT_EQ(queue.size(), 1u);
}

}  // namespace
}  // namespace worker
