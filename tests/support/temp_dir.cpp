#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testing_support {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  path_ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/mendra-test-XXXXXX";
  if (::mkdtemp(path_.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << path_;
    std::abort();
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
  out.close();
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<unsigned char> PatternBytes(size_t n, unsigned salt) {
  std::vector<unsigned char> bytes(n);
  // A xorshift generator: fast, and the same bytes on every machine.
  uint32_t state = 2463534242u ^ (salt * 0x9E3779B9u);
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<unsigned char>(1 + state % 255);  // never 0
  }
  return bytes;
}

}  // namespace testing_support
