#include "app/displaysize.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ScopedLocale;

constexpr std::int64_t kTb = 1024LL * 1024 * 1024 * 1024;

TEST(DisplaySizeTest, CountsInTheLargestUnitReached) {
  const struct {
    std::int64_t count;
    const char* text;
  } rows[] = {
      {0, "0 Bytes"},
      {1, "1 Bytes"},  // no singular
      {1023, "1023 Bytes"},
      {1024, "1 Kb"},
      {1152, "1.12 Kb"},  // 1.125: a half goes to the even digit, down here ...
      {1408, "1.38 Kb"},  // ... and up here (1.375)
      {1536, "1.5 Kb"},
      {1048575, "1024 Kb"},  // the rounding reaches 1024 below the Mb threshold
      {1048576, "1 Mb"},
      {2147483647, "2 Gb"},
      {4700000000, "4.38 Gb"},  // past 32 bits
      {kTb - 1, "1024 Gb"},
      {kTb, "1 Tb"},
      {kTb + kTb / 2, "1.5 Tb"},
      {std::numeric_limits<std::int64_t>::max(), "8388608 Tb"},
  };
  {
    ScopedLocale c("C");
    for (const auto& row : rows) EXPECT_EQ(DisplaySize(row.count).toStdString(), row.text);
  }
  ScopedLocale comma(testing_support::kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  EXPECT_EQ(DisplaySize(1152).toStdString(), "1,12 Kb");
}

TEST(FileExistTest, OnlyAFileWithBytesCounts) {
  const testing_support::TempDir dir;
  std::ofstream(dir.Path("one byte")) << "x";
  std::ofstream(dir.Path("empty"));
  std::filesystem::create_directory(dir.Path("folder"));
  // Sparse, so it costs no disk space: 4 GiB, whose length is 0 in 32 bits.
  std::ofstream(dir.Path("4 GiB"));
  ASSERT_EQ(::truncate(dir.Path("4 GiB").c_str(), 4LL * 1024 * 1024 * 1024), 0);
  const struct {
    std::string path;
    bool exists;
  } rows[] = {
      {dir.Path("one byte"), true},
      {dir.Path("4 GiB"), true},
      {dir.Path("empty"), false},
      {dir.Path("missing"), false},
      {dir.Path("folder"), false},
      {dir.Path("missing folder/file"), false},
      {"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(FileExist(QString::fromStdString(row.path)), row.exists) << row.path;
}

}  // namespace
