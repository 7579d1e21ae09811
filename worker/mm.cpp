#include "worker/mm.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "platform/core/file_io.h"
#include "platform/core/message_queue.h"
#include "platform/core/number_text.h"
#include "platform/core/version.h"
#include "worker/fc.h"
#include "worker/store_channel.h"

namespace worker {

namespace {

constexpr char kUsage[] =
    "usage: vrel --source PATH --target PATH --block-size BYTES\n"
    "   or: vrel <source>;<target>;<block size in bytes, 0 for variable speed>\n";

constexpr char kHelpText[] =
    "Usage: vrel --source PATH --target PATH --block-size BYTES\n"
    "  or:  vrel SOURCE;TARGET;BYTES\n"
    "Copy the readable contents of a damaged file into TARGET, block by block. A block that\n"
    "cannot be read is written all the same (what the read delivered, then zeros), so every\n"
    "readable block lands at its own offset. A target that already holds bytes is continued\n"
    "after them.\n"
    "\n"
    "  --source PATH         the file to rescue: a regular file or a block device\n"
    "  --target PATH         the file that receives the copy\n"
    "  --block-size BYTES    bytes per block, 1 to 2147483647, or 0 for variable speed\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "In the second form the three values are one text split at ';' (the arguments are joined\n"
    "with blanks first), so a path there cannot hold ';'.\n"
    "Progress goes to ${XDG_CONFIG_HOME:-~/.config}/Vrel/settings.ini, section [Info].\n"
    "SIGTERM, SIGINT and SIGHUP stop the copy at a block boundary; running it again resumes.\n"
    "\n"
    "Exit status: 0 when the copy finished, 1 when a file could not be opened or written,\n"
    "2 when the command line is incomplete or wrong.\n";

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

// Fills the length fields of `parsed` from the block-size text `part`.
void ParseLength(std::string_view part, CommandLine* parsed) {
  parsed->length_text = std::string(part);
  parsed->length_is_number = ToWholeNumber(part, &parsed->length);
  if (!parsed->length_is_number) parsed->length = 0;
  parsed->variable_speed = part == "0";
}

constexpr char kSourceOption[] = "--source";
constexpr char kTargetOption[] = "--target";
constexpr char kBlockSizeOption[] = "--block-size";
constexpr char kHelpOption[] = "--help";
constexpr char kVersionOption[] = "--version";

// The option that `argument` names, as "--name" or "--name=value"; empty for none of the three.
std::string_view CopyOption(std::string_view argument) {
  for (const std::string_view option : {kSourceOption, kTargetOption, kBlockSizeOption}) {
    if (argument.starts_with(option) &&
        (argument.size() == option.size() || argument[option.size()] == '=')) {
      return option;
    }
  }
  return {};
}

// `--source PATH --target PATH --block-size N`, in any order, each once.
Invocation ParseOptions(int argc, const char* const* argv) {
  Invocation invocation;
  std::optional<std::string> values[3];  // source, target, block size
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == kHelpOption || argument == kVersionOption) {
      invocation.kind =
          argument == kHelpOption ? Invocation::Kind::kHelp : Invocation::Kind::kVersion;
      return invocation;
    }
    const std::string_view option = CopyOption(argument);
    if (option.empty()) {
      if (invocation.error.empty())
        invocation.error = "unknown argument '" + std::string(argument) + "'";
      continue;
    }
    std::optional<std::string>& value = values[option == kSourceOption   ? 0
                                               : option == kTargetOption ? 1
                                                                         : 2];
    std::string text;
    if (argument.size() > option.size()) {
      text = std::string(argument.substr(option.size() + 1));
    } else if (i + 1 < argc) {
      text = argv[++i];
    } else if (invocation.error.empty()) {
      invocation.error = "option '" + std::string(option) + "' needs a value";
      continue;
    }
    if (value.has_value() && invocation.error.empty()) {
      invocation.error = "option '" + std::string(option) + "' given twice";
    }
    value = std::move(text);
  }
  CommandLine& parsed = invocation.command;
  parsed.source = values[0].value_or("");
  parsed.target = values[1].value_or("");
  if (values[2].has_value()) ParseLength(*values[2], &parsed);
  parsed.complete = invocation.error.empty() && !parsed.source.empty() && !parsed.target.empty() &&
                    !parsed.length_text.empty();
  if (!parsed.complete && invocation.error.empty()) {
    invocation.error = "--source, --target and --block-size each need a value";
  }
  return invocation;
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
  if (parts.size() > 2) ParseLength(parts[2], &parsed);
  parsed.complete =
      !parsed.source.empty() && !parsed.target.empty() && parts.size() > 2 && !parts[2].empty();
  return parsed;
}

Invocation ParseArguments(int argc, const char* const* argv) {
  if (argc == 2 &&
      (std::string_view(argv[1]) == kHelpOption || std::string_view(argv[1]) == kVersionOption)) {
    Invocation invocation;
    invocation.kind = std::string_view(argv[1]) == kHelpOption ? Invocation::Kind::kHelp
                                                               : Invocation::Kind::kVersion;
    return invocation;
  }
  if (argc > 1 && !CopyOption(argv[1]).empty()) return ParseOptions(argc, argv);
  Invocation invocation;
  invocation.command = ParseCommandLine(JoinArguments(argc, argv));
  return invocation;
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

  const Invocation invocation = ParseArguments(argc, argv);
  if (invocation.kind == Invocation::Kind::kHelp) {
    (void)std::fputs(kHelpText, stdout);
    return std::fflush(stdout) == 0 ? kExitFinished : kExitCopyFailed;
  }
  if (invocation.kind == Invocation::Kind::kVersion) {
    (void)std::printf("vrel (Mendra) %s\n", platform::kVersion);
    return std::fflush(stdout) == 0 ? kExitFinished : kExitCopyFailed;
  }
  const CommandLine& command = invocation.command;
  if (!command.complete) {
    if (!invocation.error.empty())
      (void)std::fprintf(stderr, "vrel: %s\n", invocation.error.c_str());
    (void)std::fputs(kUsage, stderr);
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
