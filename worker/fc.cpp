#include "worker/fc.h"

#include <algorithm>
#include <cstring>

#include "platform/core/number_text.h"

namespace worker {

namespace {

using platform::File;

constexpr int64_t kVariableStartBlock = 10;  // also the size a failed read falls back to
constexpr int64_t kVariableGrowBelow = 10000;

// The open source file as the copy loop reads it.
class FileReader final : public BlockReader {
 public:
  explicit FileReader(const File& file) : file_(file) {}
  platform::IoResult ReadAt(std::span<std::byte> buf, int64_t offset) override {
    return file_.ReadAt(buf, offset);
  }

 private:
  const File& file_;
};

std::string Describe(const char* what, const std::string& path, int error) {
  return std::string(what) + " '" + path + "': " + platform::ErrorText(error);
}

bool WriteAll(const File& target, std::span<const std::byte> bytes, int64_t offset,
              std::string* error) {
  const platform::IoResult r = target.WriteAt(bytes, offset);
  if (r.error == 0) return true;
  *error = "cannot write the target at byte " + std::to_string(offset + 1 + int64_t(r.done)) +
           ": " + platform::ErrorText(r.error);
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

}  // namespace

FC::FC(ProgressChannel& channel, platform::MessageQueue& queue) : channel_(channel), queue_(queue) {
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

  FileReader reader(source);
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

CopyResult FC::CopyBlocks(BlockReader& source, int64_t L, const File& target, int32_t copyLen,
                          bool VariableSpeed) {
  int64_t a = VariableSpeed ? kVariableStartBlock : copyLen;
  int err = 0;
  const int64_t T = target.Length(&err);
  if (T < 0)
    return {CopyStatus::kOpenFailed, "cannot measure the target: " + platform::ErrorText(err)};
  if (a < 1) {
    return {CopyStatus::kBadBlockSize,
            "the block size " + std::to_string(copyLen) + " is not a positive number of bytes"};
  }
  if (T >= L) return {};  // nothing to copy: the target is left as it is

  const double q = 100.0 / static_cast<double>(L);
  const int64_t s = a;
  int64_t target_end = T;
  BlockBuffer buffer;
  DoEvent& events = Events();
  std::string error;

  // One turn per block: fit the block to the source's end, read it, write it, adapt the block
  // size in variable speed, let one waiting message through, report the position. Positions
  // advance by the starting size whatever the block size has become.
  for (int64_t p = T + 1; p <= L; p += s) {
    if (p + a - 1 > L) a = L - p + 1;
    const std::span<std::byte> block = buffer.Block(static_cast<size_t>(a));
    size_t delivered = 0;
    const uint8_t ok = GD(source, p, block, &delivered);
    if (!WriteBlock(target, block, p - 1, delivered, &target_end, &error)) {
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
    if (!PutPercent(p, q, &error)) return {CopyStatus::kChannelFailed, error};
    if (stop_requested_) return {CopyStatus::kStopped, "stopped by a close message", stop_signal_};
  }
  return {};
}

uint8_t FC::GD(BlockReader& FN, int64_t sPoint, std::span<std::byte> BUFF, size_t* delivered) {
  const platform::IoResult r = FN.ReadAt(BUFF, sPoint - 1);
  *delivered = r.done;
  if (r.done == BUFF.size()) return 1;
  // What the read could not deliver is unknown: zeros, never bytes of an earlier block.
  std::memset(BUFF.data() + r.done, 0, BUFF.size() - r.done);
  return 0;
}

bool FC::PutPercent(int64_t p, double q, std::string* error) {
  const double hundredths = platform::RoundHalfEven(q * static_cast<double>(p) * 100.0);
  const auto key = static_cast<int64_t>(hundredths);
  // The same text again would tell a reader nothing; skipping it bounds the store writes of a
  // copy to about 10,001 whatever the block size.
  if (key == last_percent_hundredths_) return true;
  if (!channel_.Put("Percent", platform::NumberText(hundredths / 100.0), error)) return false;
  last_percent_hundredths_ = key;
  return true;
}

}  // namespace worker
