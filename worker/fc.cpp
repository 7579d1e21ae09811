#include "worker/fc.h"

#include <algorithm>
#include <cstring>

#include "platform/core/number_text.h"
#include "worker/source_reader.h"

namespace worker {

namespace {

using platform::File;

constexpr int64_t kVariableStartBlock = 10;  // also the size a failed read falls back to
constexpr int64_t kVariableGrowBelow = 10000;
constexpr int64_t kVariableLargestBlock = 10240;  // 10 doubled while below 10000

// The chunked loop reads at most this many bytes at once (in variable speed one largest block
// more), or one block where a block is larger: enough that system calls cost little, little
// enough that the bytes stay in the processor's cache between the read and the write.
// 255 pages, not 256: measured on an ext4 disk of a virtual machine, 2 GiB written in pieces of
// exactly 1 MiB at 1 MiB boundaries took the disk 5.6 to 6.1 s (dd bs=1M alike), in pieces of
// 1020 KiB 1.8 to 1.9 s; the page cache seems to keep aligned pieces in larger units, which
// that disk takes worse. Elsewhere the one page less costs nothing.
constexpr int64_t kChunkBytes = int64_t{255} * 4096;
// It also reads at most as many blocks as make this many Percent texts, so that the store
// writes of one chunk delay a close message by a few milliseconds at most.
constexpr int64_t kPercentsPerChunk = 64;

std::string Describe(const char* what, const std::string& path, int error) {
  return std::string(what) + " '" + path + "': " + platform::ErrorText(error);
}

// Writes all of `bytes`; on failure *written tells how many leading bytes made it.
bool WriteAll(const File& target, std::span<const std::byte> bytes, int64_t offset,
              std::string* error, size_t* written = nullptr) {
  const platform::IoResult result = target.WriteAt(bytes, offset);
  if (written != nullptr) *written = result.done;
  if (result.error == 0) return true;
  *error = "cannot write the target at byte " + std::to_string(offset + 1 + int64_t(result.done)) +
           ": " + platform::ErrorText(result.error);
  return false;
}

// Writes one block at the 0-based `offset`. A block read in full is written whole. Of a failed
// block, the bytes the read delivered are written, and its zeros only where they extend the
// target: blocks overlap in variable speed, and zeros must never replace bytes that an earlier
// read rescued. In fixed mode a block always starts at the target's end, so it is written whole.
bool WriteBlock(const File& target, std::span<const std::byte> block, int64_t offset,
                size_t delivered, int64_t* target_end, std::string* error) {
  const int64_t block_end = offset + static_cast<int64_t>(block.size());
  if (delivered == block.size() || offset + static_cast<int64_t>(delivered) >= *target_end) {
    if (!WriteAll(target, block, offset, error)) return false;
  } else {
    if (delivered > 0 && !WriteAll(target, block.first(delivered), offset, error)) return false;
    const int64_t zeros_from = *target_end - offset;
    if (zeros_from < static_cast<int64_t>(block.size()) &&
        !WriteAll(target, block.subspan(static_cast<size_t>(zeros_from)), *target_end, error)) {
      return false;
    }
  }
  *target_end = std::max(*target_end, block_end);
  return true;
}

// Consecutive blocks as the block-by-block loop would make them if every read succeeded.
// Offsets are 0-based.
struct BlockRun {
  int64_t count = 0;      // blocks in the run
  int64_t end = 0;        // one past the last byte the run's blocks cover
  int64_t next = 0;       // where the block after the run starts
  int64_t size_next = 0;  // the block size carried on to it, before fitting to the source's end
};

// The layout rule of the block-by-block loop: blocks start `s` bytes apart; a block that would
// run past the source's end L is cut to what remains, and that size stays; in variable speed a
// block that reads in full doubles the size while it is below 10000.
struct Layout {
  int64_t L;
  int64_t s;
  bool variable;

  // The longest run of at most `max_count` blocks from the block at `from` (0-based), whose
  // size before fitting is `size`, in which every block ends by `limit`; with `at_least_one`,
  // the first block counts even if it ends later. Costs a few steps whatever the count: blocks
  // of one size are counted at once, not one by one.
  BlockRun Plan(int64_t from, int64_t size, int64_t limit, int64_t max_count,
                bool at_least_one) const {
    int64_t pos = from;
    int64_t a = size;
    BlockRun run{0, from, from, size};
    if (at_least_one && pos < L) limit = std::max(limit, pos + std::min(a, L - pos));
    while (pos < L && run.count < max_count) {
      if (pos + a > L) a = L - pos;
      if (pos + a > limit) break;
      if (!variable || a >= kVariableGrowBelow) {
        // The size holds until the end cuts it: every block up to the last start that keeps
        // within both the source's end and the limit.
        const int64_t blocks =
            std::min((std::min(L, limit) - a - pos) / s + 1, max_count - run.count);
        run.count += blocks;
        run.end = pos + (blocks - 1) * s + a;
        pos += blocks * s;
      } else {
        run.count += 1;
        run.end = pos + a;
        pos += s;
        a *= 2;  // read in full: the next block is twice as large
      }
    }
    run.next = pos;
    run.size_next = a;
    return run;
  }
};

// Percent of the block at the 1-based position p, in hundredths: q × p rounded to two places.
int64_t PercentHundredths(int64_t p, double q) {
  return static_cast<int64_t>(platform::RoundHalfEven(q * static_cast<double>(p) * 100.0));
}

}  // namespace

FC::FC(ProgressChannel& channel, platform::MessageQueue& queue, BlockLoop loop)
    : channel_(channel), queue_(queue), loop_(loop) {
  queue_.SetHandler(platform::kMsgClose, [this](const platform::Message& msg) {
    stop_requested_ = true;
    stop_signal_ = static_cast<int>(msg.wparam);
  });
}

FC::~FC() { queue_.SetHandler(platform::kMsgClose, nullptr); }

DoEvent& FC::Events() {
  if (!events_) events_.emplace(queue_);
  return *events_;
}

CopyResult FC::Copy(const std::string& FileSource, const std::string& FileTarget, int32_t copyLen,
                    bool VariableSpeed) {
  std::string error;
  if (!channel_.Put("Status", "Starting...", &error)) {
    return {CopyStatus::kChannelFailed, error};
  }

  // The source is never created: a missing source is a file that cannot be opened. Only what
  // holds bytes at positions can be rescued; a FIFO or a device that streams would give a copy
  // that is no copy, and a directory gives nothing at all. All are refused before the target is
  // touched.
  int err = 0;
  File source = File::OpenRead(FileSource, &err);
  if (!source.is_open()) return {CopyStatus::kOpenFailed, Describe("cannot open", FileSource, err)};
  platform::FileInfo info;
  if (!source.Info(&info, &err)) {
    return {CopyStatus::kOpenFailed, Describe("cannot examine", FileSource, err)};
  }
  if (!info.holds_data) {
    return {CopyStatus::kOpenFailed, "cannot copy '" + FileSource + "': it is " + info.kind +
                                         "; only a regular file or a block device can be rescued"};
  }
  File target = File::OpenReadWrite(FileTarget, &err);
  if (!target.is_open()) return {CopyStatus::kOpenFailed, Describe("cannot open", FileTarget, err)};
  // The channel's own file as the target would be replaced under the copy by the next progress
  // write: "Finished" over a target that holds settings text.
  if (!target.Info(&info, &err)) {
    return {CopyStatus::kOpenFailed, Describe("cannot examine", FileTarget, err)};
  }
  if (channel_.Holds(info.id)) {
    return {CopyStatus::kOpenFailed,
            "cannot copy into '" + FileTarget + "': it is where vrel keeps its progress"};
  }
  const int64_t L = source.Length(&err);
  if (L < 0) return {CopyStatus::kOpenFailed, Describe("cannot measure", FileSource, err)};

  // Through the page cache where it reads; a failing area directly, each bad unit read once.
  SourceReader reader(source);
  CopyResult result = CopyBlocks(reader, L, target, copyLen, VariableSpeed);
  if (result.status != CopyStatus::kFinished && result.status != CopyStatus::kStopped) {
    return result;  // the files close as they go out of scope
  }

  // "Finished" promises that the copy is on the disk; a stopped copy is flushed too, so that a
  // resume after a power loss finds what was rescued.
  if ((err = target.Sync()) != 0 || (err = target.Close()) != 0) {
    return {CopyStatus::kWriteFailed, Describe("cannot flush", FileTarget, err)};
  }
  // The source was only read: its close cannot lose data.
  source.Close();
  if (result.status == CopyStatus::kStopped) return result;

  if (!channel_.Put("Status", "Finished", &error)) return {CopyStatus::kChannelFailed, error};
  return result;
}

// What both loops work on. The copy keeps the design's names for its state: L the source's
// length, T the target's length when the copy began, q = 100 / L, s the step from one block to
// the next (the block size it started with), a the current block size, p the 1-based position
// of a block's first byte.
struct FC::Loop {
  BlockReader& source;
  const File& target;
  Layout layout;  // L, the step s (the starting block size) and the mode
  int64_t T;      // the target's length when the copy began
  double q;       // 100 / L
  BlockBuffer buffer;
};

CopyResult FC::CopyBlocks(BlockReader& source, int64_t L, const File& target, int32_t copyLen,
                          bool VariableSpeed) {
  const int64_t a = VariableSpeed ? kVariableStartBlock : copyLen;
  int err = 0;
  const int64_t T = target.Length(&err);
  if (T < 0)
    return {CopyStatus::kOpenFailed, "cannot measure the target: " + platform::ErrorText(err)};
  if (a < 1) {
    return {CopyStatus::kBadBlockSize,
            "the block size " + std::to_string(copyLen) + " is not a positive number of bytes"};
  }
  if (T >= L) return {};  // nothing to copy: the target is left as it is

  Loop loop{source, target, Layout{L, a, VariableSpeed}, T, 100.0 / static_cast<double>(L), {}};
  return loop_ == BlockLoop::kBlockByBlock ? CopyBlockByBlock(loop) : CopyInChunks(loop);
}

CopyResult FC::CopyBlockByBlock(Loop& loop) {
  const int64_t L = loop.layout.L;
  const int64_t s = loop.layout.s;
  const bool VariableSpeed = loop.layout.variable;
  int64_t a = s;
  int64_t target_end = loop.T;
  DoEvent& events = Events();
  std::string error;

  // One turn per block: fit the block to the source's end, read it, write it, adapt the block
  // size in variable speed, let one waiting message through, report the position. Positions
  // advance by the starting size whatever the block size has become.
  for (int64_t p = loop.T + 1; p <= L; p += s) {
    if (p + a - 1 > L) a = L - p + 1;
    const std::span<std::byte> block = loop.buffer.Block(static_cast<size_t>(a));
    size_t delivered = 0;
    const uint8_t ok = GD(loop.source, p, block, &delivered);
    if (!WriteBlock(loop.target, block, p - 1, delivered, &target_end, &error)) {
      return {CopyStatus::kWriteFailed, error};
    }
    if (VariableSpeed) {
      if (ok == 0) {
        a = kVariableStartBlock;
      } else if (a < kVariableGrowBelow) {
        a *= 2;
      }
    }
    events.Fastest();
    if (!PutPercent(p, loop.q, &error)) return {CopyStatus::kChannelFailed, error};
    if (stop_requested_) return {CopyStatus::kStopped, "stopped by a close message", stop_signal_};
  }
  return {};
}

// One turn reads a run of blocks with one read. Where it reads in full, the run is written with
// one write and its Percent texts are found in memory. Where it fails, the blocks before the
// failure are kept and the block at the failure is read on its own next: a block that fails at
// its own size is written exactly as the block-by-block loop writes it, and the runs after it
// start again at one block and double. Should that block read in full after all, the failure lies
// further on and the rest of the failed run is narrowed down by halving.
//
// Failing reads beyond those of the block-by-block loop: at most one per stretch of failing
// blocks where a failed read delivers the bytes before the failure (as reads of a file or of a
// disk through the page cache do); where a medium fails whole requests, at most one more per
// halving, so 1 + log2(blocks per chunk), at most 21, per stretch.
CopyResult FC::CopyInChunks(Loop& loop) {
  const Layout& layout = loop.layout;
  const int64_t s = layout.s;
  const int64_t chunk_blocks = std::max<int64_t>(1, layout.L / 10000 * kPercentsPerChunk / s);
  const int64_t chunk_reach = kChunkBytes + (layout.variable ? kVariableLargestBlock : 0);
  int64_t pos = loop.T;  // 0-based start of the next block
  int64_t a = s;         // its size before fitting to the source's end
  int64_t target_end = loop.T;
  int64_t reach = chunk_reach;  // how far past `pos` the next read may reach
  int64_t suspect_end = 0;      // a failed read ended here: a block before it fails
  bool alone = false;           // the next block is read on its own
  std::string error;
  std::string write_error;
  CopyResult failure;  // set by write_run when it fails

  // Writes the leading blocks of `run` held in `bytes`. On failure reports those that made it,
  // as the block-by-block loop would have before its failing write, and sets `failure`.
  auto write_run = [&](const BlockRun& run, std::span<const std::byte> bytes) {
    size_t written = 0;
    if (WriteAll(loop.target, bytes.first(static_cast<size_t>(run.end - pos)), pos, &write_error,
                 &written)) {
      target_end = std::max(target_end, run.end);
      return true;
    }
    const BlockRun made =
        layout.Plan(pos, a, pos + static_cast<int64_t>(written), run.count, false);
    failure = PutPercents(pos + 1, made.count, s, loop.q, &error)
                  ? CopyResult{CopyStatus::kWriteFailed, write_error}
                  : CopyResult{CopyStatus::kChannelFailed, error};
    return false;
  };

  while (pos < layout.L) {
    int64_t limit = pos + reach;
    if (alone) {
      limit = pos;
    } else if (suspect_end > pos) {
      limit = pos + (suspect_end - pos) / 2;
    }
    // Blocks cut to the source's end all end there: `alone` must also limit the count.
    const BlockRun run = layout.Plan(pos, a, limit, alone ? 1 : chunk_blocks, true);
    BlockRun done = run;  // the blocks this turn copies

    // A block larger than a chunk goes through in chunk-sized pieces, which disks take much
    // better than one large write. Should a piece fail, the block is read at its own size.
    bool copied = false;
    if (run.count == 1 && run.end - pos > kChunkBytes && reach > 0) {
      const PiecesResult pieces = CopyInPieces(loop, pos, run.end, &error);
      if (pieces == PiecesResult::kWriteFailed) return {CopyStatus::kWriteFailed, error};
      copied = pieces == PiecesResult::kCopied;
      if (copied) {
        target_end = std::max(target_end, run.end);
      } else {
        reach = 0;
      }
    }

    if (!copied) {
      const std::span<std::byte> bytes = loop.buffer.Block(static_cast<size_t>(run.end - pos));
      size_t delivered = 0;
      GD(loop.source, pos + 1, bytes, &delivered);
      if (delivered == bytes.size()) {
        if (!write_run(run, bytes)) return failure;
        reach = std::min(std::max(reach, 2 * (run.end - pos)), chunk_reach);
        alone = false;
      } else if (run.count == 1) {
        if (!WriteBlock(loop.target, bytes, pos, delivered, &target_end, &error)) {
          return {CopyStatus::kWriteFailed, error};
        }
        done.next = pos + s;
        done.size_next = layout.variable ? kVariableStartBlock : a;
        reach = 0;
        suspect_end = 0;
        alone = false;
      } else {
        done = layout.Plan(pos, a, pos + static_cast<int64_t>(delivered), run.count, false);
        if (done.count > 0 && !write_run(done, bytes)) return failure;
        suspect_end = run.end;
        alone = true;
      }
    }
    if (!PutPercents(pos + 1, done.count, s, loop.q, &error)) {
      return {CopyStatus::kChannelFailed, error};
    }
    pos = done.next;
    a = done.size_next;
    if (PumpAndCheckStop(done.count)) {
      return {CopyStatus::kStopped, "stopped by a close message", stop_signal_};
    }
  }
  return {};
}

FC::PiecesResult FC::CopyInPieces(Loop& loop, int64_t from, int64_t end, std::string* error) {
  for (int64_t at = from; at < end; at += kChunkBytes) {
    const std::span<std::byte> piece =
        loop.buffer.Block(static_cast<size_t>(std::min(kChunkBytes, end - at)));
    size_t delivered = 0;
    if (GD(loop.source, at + 1, piece, &delivered) == 0) return PiecesResult::kReadFailed;
    if (!WriteAll(loop.target, piece, at, error)) return PiecesResult::kWriteFailed;
  }
  return PiecesResult::kCopied;
}

uint8_t FC::GD(BlockReader& FN, int64_t sPoint, std::span<std::byte> BUFF, size_t* delivered) {
  const platform::IoResult result = FN.ReadAt(BUFF, sPoint - 1);
  *delivered = result.done;
  if (result.done == BUFF.size()) return 1;
  // What the read could not deliver is unknown: zeros, never bytes of an earlier block.
  std::memset(BUFF.data() + result.done, 0, BUFF.size() - result.done);
  return 0;
}

bool FC::PutPercent(int64_t p, double q, std::string* error) {
  const int64_t hundredths = PercentHundredths(p, q);
  // The same text again would tell a reader nothing; skipping it bounds the store writes of a
  // copy to about 10,001 whatever the block size.
  if (hundredths == last_percent_hundredths_) return true;
  if (!channel_.Put("Percent", platform::NumberText(static_cast<double>(hundredths) / 100.0),
                    error)) {
    return false;
  }
  last_percent_hundredths_ = hundredths;
  return true;
}

bool FC::PutPercents(int64_t p, int64_t count, int64_t s, double q, std::string* error) {
  // Percent never falls as the position grows, so each value is written by the first block that
  // has it; halving finds where the value changes instead of visiting every block.
  int64_t i = 0;
  while (i < count) {
    if (!PutPercent(p + i * s, q, error)) return false;
    int64_t same = i;        // a block with the value just written
    int64_t higher = count;  // the first block with a higher value lies in (same, higher]
    while (higher - same > 1) {
      const int64_t mid = same + (higher - same) / 2;
      (PercentHundredths(p + mid * s, q) > last_percent_hundredths_ ? higher : same) = mid;
    }
    i = higher;
  }
  return true;
}

bool FC::PumpAndCheckStop(int64_t blocks) {
  DoEvent& events = Events();
  for (int64_t n = 0; n < blocks && queue_.size() > 0; ++n) events.Fastest();
  return stop_requested_;
}

}  // namespace worker
