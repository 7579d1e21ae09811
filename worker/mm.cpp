#include "worker/mm.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

#include "platform/core/file_io.h"
#include "platform/core/message_queue.h"
#include "platform/core/number_text.h"
#include "worker/fc.h"
#include "worker/store_channel.h"

namespace worker {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

// A whole number in 32 bits: optional blanks around an optional sign and decimal digits.
// Anything else, or a number out of range, is no number.
bool ToWholeNumber(std::string_view text, int32_t* value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

CommandLine ParseCommandLine(std::string_view text) {
  const std::vector<std::string_view> parts = Split(text, ';');
  CommandLine parsed;
  parsed.source = std::string(parts[0]);
  if (parts.size() > 1) parsed.target = std::string(parts[1]);
  if (parts.size() > 2) {
    parsed.length_text = std::string(parts[2]);
    parsed.length_is_number = ToWholeNumber(parts[2], &parsed.length);
    if (!parsed.length_is_number) parsed.length = 0;
    parsed.variable_speed = parts[2] == "0";
  }
  parsed.complete =
      !parsed.source.empty() && !parsed.target.empty() && parts.size() > 2 && !parts[2].empty();
  return parsed;
}

int Main(int argc, const char* const* argv, BlockLoop loop) {
  // Before any file is opened: one opened on a free 0, 1 or 2 would receive what is meant for
  // standard error.
  if (!platform::OpenStandardDescriptors()) return kExitCopyFailed;
  // Without the user's locale both programs fall back to the same C format: nothing to report.
  (void)platform::InitUserLocale();
  platform::MessageQueue& queue = platform::MessageQueue::Process();
  if (!platform::BridgeTerminationSignals(queue)) {
    // The copy still works; a termination signal would then end it between two writes, which
    // a resume also repairs.
    (void)std::fprintf(stderr, "vrel: cannot handle termination signals: %s\n",
                       platform::ErrorText(errno).c_str());
  }

  const CommandLine command = ParseCommandLine(JoinArguments(argc, argv));
  if (!command.complete) {
    (void)std::fprintf(
        stderr, "usage: vrel <source>;<target>;<block size in bytes, 0 for variable speed>\n");
    return kExitBadCommandLine;
  }
  // A zero block size would never advance, and a text that is no number would count as zero:
  // refused before any file, the channel included, is touched.
  if (!command.variable_speed && (!command.length_is_number || command.length == 0)) {
    (void)std::fprintf(stderr,
                       "vrel: the block size '%s' is not a whole number of bytes from 1 to "
                       "2147483647, nor 0 for variable speed\n",
                       command.length_text.c_str());
    return kExitBadCommandLine;
  }

  // One copy at a time for a user: two would show each other's progress in the one channel, and
  // could write the same target. Refused before any file, the channel included, is touched; the
  // lock is held until the process ends.
  StoreChannel channel;
  CopyResult result;
  using RunLock = platform::SettingsStore::RunLock;
  const RunLock lock = channel.TakeRunLock(&result.error);
  if (lock == RunLock::kBusy) {
    (void)std::fprintf(stderr,
                       "vrel: another copy is running for this user, and only one can run at a "
                       "time. Try again once it has ended.\n");
    return kExitCopyFailed;
  }
  if (lock == RunLock::kTaken) {
    FC fc(channel, queue, loop);
    result = fc.Copy(command.source, command.target, command.length, command.variable_speed);
  } else {
    result.status = CopyStatus::kChannelFailed;
  }
  if (result.status == CopyStatus::kFinished) return kExitFinished;
  if (result.status == CopyStatus::kBadBlockSize) {
    result.error = "the block size '" + command.length_text + "' is not a positive number of bytes";
  }
  if (result.status != CopyStatus::kStopped) {
    (void)std::fprintf(stderr, "vrel: %s\n", result.error.c_str());
  }
  // A copy asked to end, stopped after its block or failed while it waited (for the channel's
  // lock, say), ends by that signal, so the status tells why it ended.
  const int signal = result.stop_signal != 0 ? result.stop_signal : platform::TerminationSignal();
  if (signal != 0) platform::ReraiseSignal(signal);
  return kExitCopyFailed;
}

}  // namespace worker
