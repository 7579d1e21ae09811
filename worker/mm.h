// The worker's start-up: reads the command line, runs one copy, and picks the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "worker/fc.h"

namespace worker {

// Exit statuses of vrel. A copy stopped by SIGTERM, SIGINT or SIGHUP ends by that signal instead
// (the default action is restored and the signal raised again), so the status tells the truth.
// kExitCopyFailed: a file could not be opened or written, a source that holds no data, a target
// that is the channel's file, a negative block size, the channel failed, the source went away
// during the copy, or another copy of the same user runs (then nothing was touched).
// kExitBadCommandLine: source, target or block size missing, an unknown option, or a block size
// that is no whole number of bytes (nor exactly "0"); nothing done. --help and --version exit
// with kExitFinished.
inline constexpr int kExitFinished = 0;  // "Finished" was written
inline constexpr int kExitCopyFailed = 1;
inline constexpr int kExitBadCommandLine = 2;

// The command line `<source>;<target>;<length>`, or its three parts given as options.
struct CommandLine {
  std::string source;
  std::string target;
  std::string length_text;        // the length part as given
  int32_t length = 0;             // 0 when the part is not a whole number in range
  bool length_is_number = false;  // blanks, an optional sign and decimal digits, within 32 bits
  bool variable_speed = false;    // the length part is exactly "0"
  bool complete = false;  // source and target given, and a length part present and not empty
};

// The argument text: argv[1..] joined with single blanks.
std::string JoinArguments(int argc, const char* const* argv);

CommandLine ParseCommandLine(std::string_view text);

// What vrel's arguments ask for. A copy is given either as the joined text
// `<source>;<target>;<length>` (argv[1..] joined with blanks), or, when the first argument is one
// of the options, as `--source PATH --target PATH --block-size N` (each also as `--name=value`),
// which lets a path hold ";". "--help" or "--version" alone, or among the options, asks for the
// usage or the version.
struct Invocation {
  enum class Kind { kCopy, kHelp, kVersion };
  Kind kind = Kind::kCopy;
  CommandLine command;  // for kCopy; not complete when an option was wrong
  std::string error;    // options form: what was wrong (an unknown, repeated or empty option)
};
Invocation ParseArguments(int argc, const char* const* argv);

// The whole worker; returns the exit status. `loop` picks the copy loop: vrel-reference, which
// tests and benchmarks compare vrel with, runs the block-by-block one.
int Main(int argc, const char* const* argv, BlockLoop loop = BlockLoop::kChunked);

}  // namespace worker
