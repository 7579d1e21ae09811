// A temporary folder that is removed, with everything in it, when the object goes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class TempDir {
 public:
  TempDir();  // under $TMPDIR or /tmp; aborts the test on failure
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Whole-file helpers for tests; they fail the current test on error.
std::vector<unsigned char> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// n bytes of a fixed pseudo-random pattern that depends on `salt` (no zero bytes, so a zeroed
// byte in a copy is always visible).
std::vector<unsigned char> PatternBytes(size_t n, unsigned salt = 1);

}  // namespace testing_support
