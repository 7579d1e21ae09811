#include "worker/fc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/number_text.h"
#include "platform/core/progress_channel.h"
#include "worker/rescue_map_file.h"
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

// The open source file as the copy loop reads it: through the page cache where it reads, a
// failing area directly, each bad unit read once.
class FileReader final : public BlockReader {
 public:
  // `path` named `file`, whose identity was `id` and length `length` when the copy began.
  FileReader(const File& file, const std::string& path, platform::FileIdentity id, int64_t length)
      : file_(file), reader_(file), path_(path), id_(id), length_(length) {}
  platform::IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    return reader_.ReadAt(buf, offset);
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
  SourceReader reader_;
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

// The layout rule of the block-by-block loop: blocks start `step` bytes apart; a block that would
// run past `end` is cut to what remains, and that size stays; in variable speed a
// block that reads in full doubles the size while it is below 10000.
struct Layout {
  int64_t end;   // blocks end by here: the source's length, or a retried area's end
  int64_t step;  // from one block's start to the next: the block size the copy began with
  bool variable;

  // The longest run of at most `max_count` blocks from the block at `from` (0-based), whose
  // size before fitting is `size`, in which every block ends by `limit`; with `at_least_one`,
  // the first block counts even if it ends later. Costs a few steps whatever the count: blocks
  // of one size are counted at once, not one by one.
  BlockRun Plan(int64_t from, int64_t first_size, int64_t limit, int64_t max_count,
                bool at_least_one) const {
    int64_t pos = from;
    int64_t size = first_size;
    BlockRun run{0, from, from, first_size};
    if (at_least_one && pos < end) limit = std::max(limit, pos + std::min(size, end - pos));
    while (pos < end && run.count < max_count) {
      if (pos + size > end) size = end - pos;
      if (pos + size > limit) break;
      if (!variable || size >= kVariableGrowBelow) {
        // The size holds until the end cuts it: every block up to the last start that keeps
        // within both the source's end and the limit.
        const int64_t blocks =
            std::min((std::min(end, limit) - size - pos) / step + 1, max_count - run.count);
        run.count += blocks;
        run.end = pos + (blocks - 1) * step + size;
        pos += blocks * step;
      } else {
        run.count += 1;
        run.end = pos + size;
        pos += step;
        size *= 2;  // read in full: the next block is twice as large
      }
    }
    run.next = pos;
    run.size_next = size;
    return run;
  }
};

// Percent of the block at the 1-based `position`, in hundredths: percent_per_byte × position
// rounded to two places.
int64_t PercentHundredths(int64_t position, double percent_per_byte) {
  return static_cast<int64_t>(
      platform::RoundHalfEven(percent_per_byte * static_cast<double>(position) * 100.0));
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

CopyResult FC::Copy(const std::string& source_path, const std::string& target_path,
                    int32_t block_length, bool variable_speed) {
  std::string error;
  if (!channel_.Put(platform::kStatusKey, platform::kStatusStarting, &error)) {
    return {CopyStatus::kChannelFailed, error};
  }

  // The source is never created: a missing source is a file that cannot be opened. Only what
  // holds bytes at positions can be rescued; a FIFO or a device that streams would give a copy
  // that is no copy, and a directory gives nothing at all. All are refused before the target is
  // touched.
  int err = 0;
  File source = File::OpenRead(source_path, &err);
  if (!source.is_open())
    return {CopyStatus::kOpenFailed, Describe("cannot open", source_path, err)};
  platform::FileInfo info;
  if (!source.Info(&info, &err)) {
    return {CopyStatus::kOpenFailed, Describe("cannot examine", source_path, err)};
  }
  if (!info.holds_data) {
    return {CopyStatus::kOpenFailed, "cannot copy '" + source_path + "': it is " + info.kind +
                                         "; only a regular file or a block device can be rescued"};
  }
  const platform::FileIdentity source_id = info.id;
  File target = File::OpenReadWrite(target_path, &err);
  if (!target.is_open())
    return {CopyStatus::kOpenFailed, Describe("cannot open", target_path, err)};
  // The channel's own file as the target would be replaced under the copy by the next progress
  // write: "Finished" over a target that holds settings text.
  if (!target.Info(&info, &err)) {
    return {CopyStatus::kOpenFailed, Describe("cannot examine", target_path, err)};
  }
  if (channel_.Holds(info.id)) {
    return {CopyStatus::kOpenFailed,
            "cannot copy into '" + target_path + "': it is where vrel keeps its progress"};
  }
  const int64_t source_length = source.Length(&err);
  if (source_length < 0)
    return {CopyStatus::kOpenFailed, Describe("cannot measure", source_path, err)};

  // A block size that is refused touches nothing more, the map included.
  std::unique_ptr<RescueRecorder> recorder;
  if (variable_speed || block_length > 0)
    recorder = OpenRescueMap(source_path, source_length, target_path, target);

  FileReader reader(source, source_path, source_id, source_length);
  CopyResult result =
      CopyBlocks(reader, source_length, target, block_length, variable_speed, recorder.get());
  // The map is saved before "Finished", also for a copy that failed: what it rescued is known.
  if (recorder) recorder->End(result.status == CopyStatus::kFinished);
  if (result.status != CopyStatus::kFinished && result.status != CopyStatus::kStopped &&
      result.status != CopyStatus::kSourceGone) {
    return result;  // the files close as they go out of scope
  }

  // "Finished" promises that the copy is on the disk; a copy that stopped or lost its source is
  // flushed too, so that a resume after a power loss finds what was rescued.
  if ((err = target.Sync()) != 0 || (err = target.Close()) != 0) {
    return {CopyStatus::kWriteFailed, Describe("cannot flush", target_path, err)};
  }
  // The source was only read: its close cannot lose data.
  source.Close();
  if (result.status == CopyStatus::kStopped) return result;
  if (result.status == CopyStatus::kSourceGone) {
    result.error = "the source '" + source_path + "' is no longer there (" + result.error +
                   "): an ejected disc or an unplugged disk? Run the copy again once it is back.";
    return result;
  }

  if (!channel_.Put(platform::kStatusKey, platform::kStatusFinished, &error)) {
    return {CopyStatus::kChannelFailed, error};
  }
  return result;
}

// What both loops work on. Positions in the loops are 0-based offsets (`pos`) or, where a block
// is reported, 1-based (`position`, as in Percent).
struct FC::Loop {
  BlockReader& source;
  const File& target;
  Layout layout;            // where blocks end, the step between them, and the mode
  int64_t start;            // 0-based start of the first block: the target's length when the
                            // copy began, or the start of the area a retry pass reads
  double percent_per_byte;  // 100 / the source's length
  BlockBuffer buffer;
  // In a retry pass the loops copy one area of the map: blocks start at `start`, the area's
  // start, and end by layout.end, the area's end. Zeros are written only from zeros_from on
  // (`start` in a copy, the area's end in a retry pass: never), and the recorder, when there is
  // one, learns each write.
  int64_t zeros_from = start;
  RescueRecorder* recorder = nullptr;
  int64_t source_length = layout.end;  // what the Percent texts and the chunk size reckon with
};

CopyResult FC::CopyBlocks(BlockReader& source, int64_t source_length, const File& target,
                          int32_t block_length, bool variable_speed, RescueRecorder* recorder) {
  const int64_t block_size = variable_speed ? kVariableStartBlock : block_length;
  int err = 0;
  const int64_t target_length = target.Length(&err);
  if (target_length < 0)
    return {CopyStatus::kOpenFailed, "cannot measure the target: " + platform::ErrorText(err)};
  if (block_size < 1) {
    return {CopyStatus::kBadBlockSize, "the block size " + std::to_string(block_length) +
                                           " is not a positive number of bytes"};
  }
  if (target_length >= source_length) {
    // Nothing to copy: the target is left as it is, but for what its map asks to read again.
    return recorder != nullptr
               ? RetryPass(source, source_length, target, block_size, variable_speed, *recorder)
               : CopyResult{};
  }

  Loop loop{source,
            target,
            Layout{source_length, block_size, variable_speed},
            target_length,
            100.0 / static_cast<double>(source_length),
            {}};
  loop.recorder = recorder;
  return loop_ == BlockLoop::kBlockByBlock ? CopyBlockByBlock(loop) : CopyInChunks(loop);
}

CopyResult FC::CopyBlockByBlock(Loop& loop) {
  const int64_t blocks_end = loop.layout.end;
  const int64_t step = loop.layout.step;
  const bool variable_speed = loop.layout.variable;
  int64_t block_size = step;
  int64_t target_end = loop.zeros_from;
  DoEvent& events = Events();
  std::string error;

  // One turn per block: fit the block to the source's end, read it, write it, adapt the block
  // size in variable speed, let one waiting message through, report the position. Positions
  // advance by the starting size whatever the block size has become.
  for (int64_t position = loop.start + 1; position <= blocks_end; position += step) {
    if (position + block_size - 1 > blocks_end) block_size = blocks_end - position + 1;
    const std::span<std::byte> block = loop.buffer.Block(static_cast<size_t>(block_size));
    size_t delivered = 0;
    int read_error = 0;
    const uint8_t ok = GD(loop.source, position, block, &delivered, &read_error);
    if (ok == 0 && SourceGone(loop.source, read_error, &error)) {
      return {CopyStatus::kSourceGone, error};
    }
    if (!WriteBlock(loop.target, block, position - 1, delivered, &target_end, &error,
                    loop.recorder)) {
      return {CopyStatus::kWriteFailed, error};
    }
    if (variable_speed) {
      if (ok == 0) {
        block_size = kVariableStartBlock;
      } else if (block_size < kVariableGrowBelow) {
        block_size *= 2;
      }
    }
    events.Fastest();
    if (!PutPercent(position, loop.percent_per_byte, &error))
      return {CopyStatus::kChannelFailed, error};
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
  const int64_t step = layout.step;
  const int64_t chunk_blocks =
      std::max<int64_t>(1, loop.source_length / 10000 * kPercentsPerChunk / step);
  const int64_t chunk_reach = kChunkBytes + (layout.variable ? kVariableLargestBlock : 0);
  int64_t pos = loop.start;   // 0-based start of the next block
  int64_t block_size = step;  // its size before fitting to the source's end
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
        layout.Plan(pos, block_size, pos + static_cast<int64_t>(written), run.count, false);
    failure = PutPercents(pos + 1, made.count, step, loop.percent_per_byte, &error)
                  ? CopyResult{CopyStatus::kWriteFailed, write_error}
                  : CopyResult{CopyStatus::kChannelFailed, error};
    return false;
  };

  while (pos < layout.end) {
    int64_t limit = pos + reach;
    if (alone) {
      limit = pos;
    } else if (suspect_end > pos) {
      limit = pos + (suspect_end - pos) / 2;
    }
    // Blocks cut to the source's end all end there: `alone` must also limit the count.
    const BlockRun run = layout.Plan(pos, block_size, limit, alone ? 1 : chunk_blocks, true);
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
            layout.Plan(pos, block_size, pos + static_cast<int64_t>(delivered), run.count, false);
        const std::string why = error;
        if (made.count > 0 && !write_run(made, bytes)) return failure;
        if (!PutPercents(pos + 1, made.count, step, loop.percent_per_byte, &error)) {
          return {CopyStatus::kChannelFailed, error};
        }
        return {CopyStatus::kSourceGone, why};
      } else if (run.count == 1) {
        if (!WriteBlock(loop.target, bytes, pos, delivered, &target_end, &error, loop.recorder)) {
          return {CopyStatus::kWriteFailed, error};
        }
        done.next = pos + step;
        done.size_next = layout.variable ? kVariableStartBlock : block_size;
        reach = 0;
        suspect_end = 0;
        alone = false;
      } else {
        done =
            layout.Plan(pos, block_size, pos + static_cast<int64_t>(delivered), run.count, false);
        if (done.count > 0 && !write_run(done, bytes)) return failure;
        suspect_end = run.end;
        alone = true;
      }
    }
    if (!PutPercents(pos + 1, done.count, step, loop.percent_per_byte, &error)) {
      return {CopyStatus::kChannelFailed, error};
    }
    pos = done.next;
    block_size = done.size_next;
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
CopyResult FC::RetryPass(BlockReader& source, int64_t source_length, const File& target,
                         int64_t block_size, bool variable_speed, RescueRecorder& recorder) {
  const std::vector<platform::MapArea> areas = recorder.AreasToRetry();
  if (!areas.empty()) recorder.StartRetry();
  const double percent_per_byte = 100.0 / static_cast<double>(source_length);
  for (const platform::MapArea& area : areas) {
    Loop loop{source,   target,           Layout{area.end(), block_size, variable_speed},
              area.pos, percent_per_byte, {}};
    loop.zeros_from = area.end();
    loop.recorder = &recorder;
    loop.source_length = source_length;
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

uint8_t FC::GD(BlockReader& source, int64_t position, std::span<std::byte> buffer,
               size_t* delivered, int* error) {
  const platform::IoResult result = source.ReadAt(buffer, position - 1);
  *delivered = result.done;
  *error = result.error;
  if (result.done == buffer.size()) return 1;
  // What the read could not deliver is unknown: zeros, never bytes of an earlier block.
  std::memset(buffer.data() + result.done, 0, buffer.size() - result.done);
  return 0;
}

bool FC::PutPercent(int64_t position, double percent_per_byte, std::string* error) {
  const int64_t hundredths = PercentHundredths(position, percent_per_byte);
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

bool FC::PutPercents(int64_t position, int64_t count, int64_t step, double percent_per_byte,
                     std::string* error) {
  // Percent never falls as the position grows, so each value is written by the first block that
  // has it; halving finds where the value changes instead of visiting every block.
  int64_t i = 0;
  while (i < count) {
    if (!PutPercent(position + i * step, percent_per_byte, error)) return false;
    int64_t same = i;        // a block with the value just written
    int64_t higher = count;  // the first block with a higher value lies in (same, higher]
    while (higher - same > 1) {
      const int64_t mid = same + (higher - same) / 2;
      (PercentHundredths(position + mid * step, percent_per_byte) > last_percent_hundredths_
           ? higher
           : same) = mid;
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
