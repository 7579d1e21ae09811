#include "worker/fc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/number_text.h"
#include "platform/core/progress_channel.h"
#include "worker/rescue_map_file.h"

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

// The open source file as the copy loop reads it.
class FileReader final : public BlockReader {
 public:
  // `path` named `file`, whose identity was `id` and length `length` when the copy began.
  FileReader(const File& file, const std::string& path, platform::FileIdentity id, int64_t length)
      : file_(file), path_(path), id_(id), length_(length) {}
  platform::IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    return file_.ReadAt(buf, offset);
  }
  // Another disc in the drive, a disk plugged in again as another device, or a file replaced or
  // cut short: reading on would copy another file's bytes, or none.
  bool StillThere(std::string* why) override {
    int err = 0;
    platform::FileIdentity now;
    if (!platform::IdentityAt(path_, &now, &err)) {
      *why = platform::ErrorText(err);
      return false;
    }
    if (now != id_) {
      *why = "another file is at its name now";
      return false;
    }
    const int64_t length = file_.Length(&err);
    if (length < 0) {
      *why = platform::ErrorText(err);
      return false;
    }
    if (length != length_) {
      *why = "its length changed from " + std::to_string(length_) + " to " +
             std::to_string(length) + " bytes";
      return false;
    }
    return true;
  }

 private:
  const File& file_;
  const std::string& path_;
  const platform::FileIdentity id_;
  const int64_t length_;
};

// After a read that did not deliver in full: whether the source has gone away rather than having
// a bad spot there, with *why set. Costs a look at the source only on the failing path.
bool SourceGone(BlockReader& source, int read_error, std::string* why) {
  if (platform::MeansSourceGone(read_error)) {
    *why = platform::ErrorText(read_error);
    return true;
  }
  return !source.StillThere(why);
}

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
// The rescue map, where one is kept, learns what the block's bytes now are.
bool WriteBlock(const File& target, std::span<const std::byte> block, int64_t offset,
                size_t delivered, int64_t* target_end, std::string* error,
                RescueRecorder* recorder) {
  const int64_t block_end = offset + static_cast<int64_t>(block.size());
  const int64_t zeros_from = *target_end;
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
  if (recorder != nullptr) {
    recorder->Block(offset, offset + static_cast<int64_t>(delivered), block_end, zeros_from);
  }
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
  if (!channel_.Put(platform::kStatusKey, platform::kStatusStarting, &error)) {
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
  const platform::FileIdentity source_id = info.id;
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

  // A block size that is refused touches nothing more, the map included.
  std::unique_ptr<RescueRecorder> recorder;
  if (VariableSpeed || copyLen > 0) recorder = OpenRescueMap(FileSource, L, FileTarget, target);

  FileReader reader(source, FileSource, source_id, L);
  CopyResult result = CopyBlocks(reader, L, target, copyLen, VariableSpeed, recorder.get());
  // The map is saved before "Finished", also for a copy that failed: what it rescued is known.
  if (recorder) recorder->End(result.status == CopyStatus::kFinished);
  if (result.status != CopyStatus::kFinished && result.status != CopyStatus::kStopped &&
      result.status != CopyStatus::kSourceGone) {
    return result;  // the files close as they go out of scope
  }

  // "Finished" promises that the copy is on the disk; a copy that stopped or lost its source is
  // flushed too, so that a resume after a power loss finds what was rescued.
  if ((err = target.Sync()) != 0 || (err = target.Close()) != 0) {
    return {CopyStatus::kWriteFailed, Describe("cannot flush", FileTarget, err)};
  }
  // The source was only read: its close cannot lose data.
  source.Close();
  if (result.status == CopyStatus::kStopped) return result;
  if (result.status == CopyStatus::kSourceGone) {
    result.error = "the source '" + FileSource + "' is no longer there (" + result.error +
                   "): an ejected disc or an unplugged disk? Run the copy again once it is back.";
    return result;
  }

  if (!channel_.Put(platform::kStatusKey, platform::kStatusFinished, &error)) {
    return {CopyStatus::kChannelFailed, error};
  }
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
  // In a retry pass the loops copy one area of the map: blocks start at T, the area's start,
  // and end by layout.L, the area's end. Zeros are written only from zeros_from on (T in a copy,
  // the area's end in a retry pass: never), and the recorder, when there is one, learns each write.
  int64_t zeros_from = T;
  RescueRecorder* recorder = nullptr;
  int64_t source_length = layout.L;  // what Percent is reckoned on
};

CopyResult FC::CopyBlocks(BlockReader& source, int64_t L, const File& target, int32_t copyLen,
                          bool VariableSpeed, RescueRecorder* recorder) {
  const int64_t a = VariableSpeed ? kVariableStartBlock : copyLen;
  int err = 0;
  const int64_t T = target.Length(&err);
  if (T < 0)
    return {CopyStatus::kOpenFailed, "cannot measure the target: " + platform::ErrorText(err)};
  if (a < 1) {
    return {CopyStatus::kBadBlockSize,
            "the block size " + std::to_string(copyLen) + " is not a positive number of bytes"};
  }
  if (T >= L) {
    // Nothing to copy: the target is left as it is, but for what its map asks to read again.
    return recorder != nullptr ? RetryPass(source, L, target, a, VariableSpeed, *recorder)
                               : CopyResult{};
  }

  Loop loop{source, target, Layout{L, a, VariableSpeed}, T, 100.0 / static_cast<double>(L), {}};
  loop.recorder = recorder;
  return loop_ == BlockLoop::kBlockByBlock ? CopyBlockByBlock(loop) : CopyInChunks(loop);
}

CopyResult FC::CopyBlockByBlock(Loop& loop) {
  const int64_t L = loop.layout.L;
  const int64_t s = loop.layout.s;
  const bool VariableSpeed = loop.layout.variable;
  int64_t a = s;
  int64_t target_end = loop.zeros_from;
  DoEvent& events = Events();
  std::string error;

  // One turn per block: fit the block to the source's end, read it, write it, adapt the block
  // size in variable speed, let one waiting message through, report the position. Positions
  // advance by the starting size whatever the block size has become.
  for (int64_t p = loop.T + 1; p <= L; p += s) {
    if (p + a - 1 > L) a = L - p + 1;
    const std::span<std::byte> block = loop.buffer.Block(static_cast<size_t>(a));
    size_t delivered = 0;
    int read_error = 0;
    const uint8_t ok = GD(loop.source, p, block, &delivered, &read_error);
    if (ok == 0 && SourceGone(loop.source, read_error, &error)) {
      return {CopyStatus::kSourceGone, error};
    }
    if (!WriteBlock(loop.target, block, p - 1, delivered, &target_end, &error, loop.recorder)) {
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
  const int64_t chunk_blocks =
      std::max<int64_t>(1, loop.source_length / 10000 * kPercentsPerChunk / s);
  const int64_t chunk_reach = kChunkBytes + (layout.variable ? kVariableLargestBlock : 0);
  int64_t pos = loop.T;  // 0-based start of the next block
  int64_t a = s;         // its size before fitting to the source's end
  int64_t target_end = loop.zeros_from;
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
      if (loop.recorder != nullptr) loop.recorder->Read(pos, run.end);
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
      if (pieces == PiecesResult::kSourceGone) return {CopyStatus::kSourceGone, error};
      copied = pieces == PiecesResult::kCopied;
      if (copied) {
        target_end = std::max(target_end, run.end);
        if (loop.recorder != nullptr) loop.recorder->Read(pos, run.end);
      } else {
        reach = 0;
      }
    }

    if (!copied) {
      const std::span<std::byte> bytes = loop.buffer.Block(static_cast<size_t>(run.end - pos));
      size_t delivered = 0;
      int read_error = 0;
      GD(loop.source, pos + 1, bytes, &delivered, &read_error);
      if (delivered == bytes.size()) {
        if (!write_run(run, bytes)) return failure;
        reach = std::min(std::max(reach, 2 * (run.end - pos)), chunk_reach);
        alone = false;
      } else if (SourceGone(loop.source, read_error, &error)) {
        // The blocks that read in full are kept, as the block-by-block loop would have written
        // them before it met the failing one; nothing from that one on.
        const BlockRun made =
            layout.Plan(pos, a, pos + static_cast<int64_t>(delivered), run.count, false);
        const std::string why = error;
        if (made.count > 0 && !write_run(made, bytes)) return failure;
        if (!PutPercents(pos + 1, made.count, s, loop.q, &error)) {
          return {CopyStatus::kChannelFailed, error};
        }
        return {CopyStatus::kSourceGone, why};
      } else if (run.count == 1) {
        if (!WriteBlock(loop.target, bytes, pos, delivered, &target_end, &error, loop.recorder)) {
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

// Each unreadable or untried area of the map is copied on its own as the loops copy the rest of
// a source: blocks of the given size from the area's start, cut at its end, growing in variable
// speed. What now reads is written in place; no zeros are written, so nothing that was rescued
// is lost, and an untried byte whose read fails keeps what the target held.
CopyResult FC::RetryPass(BlockReader& source, int64_t L, const File& target, int64_t a,
                         bool VariableSpeed, RescueRecorder& recorder) {
  const std::vector<platform::MapArea> areas = recorder.AreasToRetry();
  if (!areas.empty()) recorder.StartRetry();
  const double q = 100.0 / static_cast<double>(L);
  for (const platform::MapArea& area : areas) {
    Loop loop{source, target, Layout{area.end(), a, VariableSpeed}, area.pos, q, {}};
    loop.zeros_from = area.end();
    loop.recorder = &recorder;
    loop.source_length = L;
    const CopyResult result =
        loop_ == BlockLoop::kBlockByBlock ? CopyBlockByBlock(loop) : CopyInChunks(loop);
    if (result.status != CopyStatus::kFinished) return result;
  }
  return {};
}

FC::PiecesResult FC::CopyInPieces(Loop& loop, int64_t from, int64_t end, std::string* error) {
  for (int64_t at = from; at < end; at += kChunkBytes) {
    const std::span<std::byte> piece =
        loop.buffer.Block(static_cast<size_t>(std::min(kChunkBytes, end - at)));
    size_t delivered = 0;
    int read_error = 0;
    if (GD(loop.source, at + 1, piece, &delivered, &read_error) == 0) {
      if (!SourceGone(loop.source, read_error, error)) return PiecesResult::kReadFailed;
      // The block did not read in full: the pieces of it written so far go, so that the target
      // ends on a block boundary. The block starts at the target's end (pieces are used in fixed
      // mode only, where blocks are adjacent), so this cuts nothing that was there before.
      const int err = at > from ? loop.target.SetLength(from) : 0;
      if (err != 0) {
        *error = "cannot cut the target back to its last whole block (" + std::to_string(from) +
                 " bytes): " + platform::ErrorText(err);
        return PiecesResult::kWriteFailed;
      }
      return PiecesResult::kSourceGone;
    }
    if (!WriteAll(loop.target, piece, at, error)) return PiecesResult::kWriteFailed;
  }
  return PiecesResult::kCopied;
}

uint8_t FC::GD(BlockReader& FN, int64_t sPoint, std::span<std::byte> BUFF, size_t* delivered,
               int* error) {
  const platform::IoResult result = FN.ReadAt(BUFF, sPoint - 1);
  *delivered = result.done;
  *error = result.error;
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
  if (!channel_.Put(platform::kPercentKey,
                    platform::NumberText(static_cast<double>(hundredths) / 100.0), error)) {
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
