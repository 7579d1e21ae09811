// The record that the test program argv_recorder writes about how it was started.
//
// argv_recorder stands in for the copy worker: it writes the record into the file named by the
// environment variable MENDRA_ARGV_RECORD (whole: written aside, then renamed into place) and
// ends; given the one argument "wait", or with MENDRA_ARGV_WAIT set, it then waits until it is
// killed. The record's fields are
// separated by NUL bytes: argv[0], the number of arguments, each argument, the working folder, the
// targets of descriptors 0, 1 and 2, and the number of other open descriptors.
#pragma once

#include <array>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

inline constexpr char kArgvRecordVariable[] = "MENDRA_ARGV_RECORD";
inline constexpr char kWaitArgument[] = "wait";
inline constexpr char kWaitVariable[] = "MENDRA_ARGV_WAIT";

struct ArgvRecord {
  std::string program;
  std::vector<std::string> arguments;
  std::string working_folder;
  std::array<std::string, 3> standard_files;  // what descriptors 0, 1 and 2 point at
  int other_descriptors = 0;
};

// The record at `path`; std::nullopt while it is absent or when it is malformed.
inline std::optional<ArgvRecord> ReadArgvRecord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(text.substr(start, end - start));
  }
  if (fields.size() < 2) return std::nullopt;
  const size_t count = std::stoul(fields[1]);
  if (fields.size() != 2 + count + 5) return std::nullopt;
  ArgvRecord record;
  record.program = fields[0];
  record.arguments.assign(fields.begin() + 2, fields.begin() + 2 + static_cast<long>(count));
  size_t next = 2 + count;
  record.working_folder = fields[next++];
  for (std::string& file : record.standard_files) file = fields[next++];
  record.other_descriptors = std::stoi(fields[next]);
  return record;
}

}  // namespace testing_support
