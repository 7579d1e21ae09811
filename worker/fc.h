// Block copy with read-error recovery.
//
// Copies a damaged source into a target block by block. A block that cannot be read is still
// written, so the target keeps the source's layout; a copy resumes after the bytes the target
// already holds. In variable-speed mode the block grows while reads succeed and falls back to
// 10 bytes after a failed read. Progress goes to the channel after every block. A source that
// goes away (an ejected disc, an unplugged disk, a server that died) is no bad spot: its reads
// would all fail and leave zeros that a resume never reads again, so the copy ends after the last
// block it read, and a resume continues there once the source is back.
//
// Two loops give that result. The block-by-block loop reads, writes and reports each block on
// its own. The chunked loop, the one vrel uses, reads many blocks at once and does the per-block
// work in memory wherever such a read succeeds, so small blocks copy healthy regions at the
// speed of the medium; it reads a block on its own only where it fails. On a medium whose reads
// give the same answer each time, and where a range read in full also reads in full in parts,
// both leave the same target bytes and write the same Percent texts in the same order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/core/file_io.h"
#include "platform/core/message_queue.h"
#include "worker/doevent.h"

namespace worker {

class RescueRecorder;

// Where the source's blocks come from: the open source file, or a fake in tests.
class BlockReader {
 public:
  virtual ~BlockReader() = default;
  // Reads buf.size() bytes at the 0-based `offset`; see platform::File::ReadAt.
  virtual platform::IoResult ReadAt(std::span<std::byte> buf, int64_t offset) = 0;
  // Asked after a read that did not deliver in full: whether the source is still the file the
  // copy opened, with the length it had then. False with *why set (for a person) when it has
  // changed or can no longer be examined: another disc or disk, a file cut short.
  virtual bool StillThere(std::string* /*why*/) { return true; }
};

// The block buffer: grows to the largest size asked for, never shrinks, and starts on a memory
// page. Bytes past what a read delivered are zeroed by GD, so a block never carries another
// block's bytes and growing needs no zeroing.
class BlockBuffer {
 public:
  std::span<std::byte> Block(size_t size) {
    if (size > memory_.size()) memory_ = platform::PageBuffer(size);
    return {memory_.data(), size};
  }

 private:
  platform::PageBuffer memory_;
};

// The progress channel's writer: the values "Status" and "Percent".
class ProgressChannel {
 public:
  virtual ~ProgressChannel() = default;
  // Replaces one value; false with *error set when it could not be stored.
  virtual bool Put(std::string_view key, std::string_view value, std::string* error) = 0;
  // Whether the file `id` is where the channel keeps its values: a copy into it is refused.
  virtual bool Holds(const platform::FileIdentity& /*id*/) const { return false; }
};

enum class CopyStatus {
  kFinished,       // every block copied, target flushed, "Finished" written
  kOpenFailed,     // the source or the target could not be opened or measured, the source
                   // holds no data (a directory, a FIFO, a device other than a block device),
                   // or the target is the progress channel's own file
  kBadBlockSize,   // a fixed block size below 1
  kWriteFailed,    // a write to the target failed (a full disk, say), or its flush or close
  kChannelFailed,  // the progress channel could not be written
  kStopped,        // a close message arrived; the copy stopped after a whole block
  kSourceGone,     // the source went away (an ejected disc, an unplugged disk) or changed; the
                   // copy ended after the last block it could read, target flushed
};

struct CopyResult {
  CopyStatus status = CopyStatus::kFinished;
  std::string error;    // for a person: what failed, with the system's reason
  int stop_signal = 0;  // with kStopped: the signal behind the close message, or 0
};

// Which loop a copy runs; see the top of this file.
enum class BlockLoop { kChunked, kBlockByBlock };

class FC {
 public:
  FC(ProgressChannel& channel, platform::MessageQueue& queue, BlockLoop loop = BlockLoop::kChunked);
  ~FC();
  FC(const FC&) = delete;
  FC& operator=(const FC&) = delete;

  // One whole copy: Status "Starting...", open both files, the block loop, flush and close,
  // Status "Finished". `block_length` is the block size in bytes; ignored when `variable_speed`.
  CopyResult Copy(const std::string& source_path, const std::string& target_path,
                  int32_t block_length, bool variable_speed);

  // The block loop over an open source of `source_length` bytes and an open target, starting after
  // the target's current end. Copy calls it; tests call it with a fake source. The chunked loop
  // honours a close message after the chunk in progress (a block boundary, a few milliseconds
  // later on a healthy medium) instead of after the block in progress.
  // With a `recorder`, every write is recorded in the rescue map, and a target that already
  // holds the whole source gets a retry pass over the map's unreadable and untried areas.
  CopyResult CopyBlocks(BlockReader& source, int64_t source_length, const platform::File& target,
                        int32_t block_length, bool variable_speed,
                        RescueRecorder* recorder = nullptr);

  // Reads one block at the 1-based `position` into `buffer`. Returns 1 when the whole block was
  // read, 0 when the read failed or met the end of the file early; *delivered tells how many
  // leading bytes of `buffer` hold source bytes, and the bytes after them are zeroed; *error is the
  // errno value of a failed read (0 when it met the end of the file).
  static uint8_t GD(BlockReader& source, int64_t position, std::span<std::byte> buffer,
                    size_t* delivered, int* error);

 private:
  struct Loop;
  enum class PiecesResult { kCopied, kReadFailed, kWriteFailed, kSourceGone };

  DoEvent& Events();
  CopyResult CopyBlockByBlock(Loop& loop);
  CopyResult CopyInChunks(Loop& loop);
  // Reads again what the map lists as unreadable or untried, in blocks of `block_size` bytes.
  CopyResult RetryPass(BlockReader& source, int64_t source_length, const platform::File& target,
                       int64_t block_size, bool variable_speed, RescueRecorder& recorder);
  // Reads and writes the 0-based bytes [from, end) in chunk-sized pieces, up to the first piece
  // that does not read in full. When the source has gone, the target is cut back to `from`, its
  // length before, and *error says why.
  PiecesResult CopyInPieces(Loop& loop, int64_t from, int64_t end, std::string* error);
  bool PutPercent(int64_t position, double percent_per_byte, std::string* error);
  // Percent for `count` blocks whose 1-based positions start at `position` and step by `step`.
  bool PutPercents(int64_t position, int64_t count, int64_t step, double percent_per_byte,
                   std::string* error);
  // Lets waiting messages through, at most one for each of `blocks` blocks. True when a close
  // message has asked the copy to stop.
  bool PumpAndCheckStop(int64_t blocks);

  ProgressChannel& channel_;
  platform::MessageQueue& queue_;
  const BlockLoop loop_;
  std::optional<DoEvent> events_;  // created the first time it is needed
  int stop_signal_ = 0;
  bool stop_requested_ = false;
  int64_t last_percent_hundredths_ = -1;  // the Percent this object wrote last, in 1/100
};

}  // namespace worker
