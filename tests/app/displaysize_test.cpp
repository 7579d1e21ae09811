#include "app/displaysize.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/core/file_io.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::kCommaLocale;
using testing_support::ScopedLocale;
using testing_support::TempDir;

struct Row {
  std::int64_t count;
  const char* point_text;
  const char* comma_text;
};

constexpr std::int64_t kTb = 1024LL * 1024 * 1024 * 1024;

constexpr Row kRows[] = {
    {0, "0 Bytes", "0 Bytes"},
    {1, "1 Bytes", "1 Bytes"},
    {1023, "1023 Bytes", "1023 Bytes"},
    {1024, "1 Kb", "1 Kb"},
    {1152, "1.12 Kb", "1,12 Kb"},  // 1.125: the half goes to the even digit
    {1408, "1.38 Kb", "1,38 Kb"},  // 1.375
    {1536, "1.5 Kb", "1,5 Kb"},
    {1048575, "1024 Kb", "1024 Kb"},  // rounds up to 1024 below the Mb threshold
    {1048576, "1 Mb", "1 Mb"},
    {2147483647, "2 Gb", "2 Gb"},
    {2147483648, "2 Gb", "2 Gb"},
    {4700000000, "4.38 Gb", "4,38 Gb"},
    {kTb - 1, "1024 Gb", "1024 Gb"},
    {kTb, "1 Tb", "1 Tb"},
    {kTb + kTb / 2, "1.5 Tb", "1,5 Tb"},
    {std::numeric_limits<std::int64_t>::max(), "8388608 Tb", "8388608 Tb"},
};

TEST(DisplaySizeTest, CountsInTheLargestUnitReached) {
  {
    ScopedLocale c("C");
    for (const Row& row : kRows) EXPECT_EQ(DisplaySize(row.count).toStdString(), row.point_text);
  }
  ScopedLocale comma(kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  for (const Row& row : kRows) EXPECT_EQ(DisplaySize(row.count).toStdString(), row.comma_text);
}

class FileExistTest : public ::testing::Test {
 protected:
  QString Path(const char* name) const { return QString::fromStdString(dir_.Path(name)); }
  TempDir dir_;
};

TEST_F(FileExistTest, OnlyAFileWithBytesCounts) {
  std::ofstream(dir_.Path("some bytes.bin")) << "x";
  std::ofstream(dir_.Path("empty.bin"));
  std::filesystem::create_directory(dir_.Path("folder"));
  struct Case {
    QString path;
    bool exists;
  };
  const Case cases[] = {
      {Path("some bytes.bin"), true}, {Path("empty.bin"), false},
      {Path("missing.bin"), false},   {Path("missing folder/file.bin"), false},
      {Path("folder"), false},        {QString(), false},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExist(c.path), c.exists) << c.path.toStdString();
}

TEST_F(FileExistTest, FilesPast2GiBKeepTheirRealSize) {
  ScopedLocale c("C");
  const std::string path = dir_.Path("disc image.iso");
  { std::ofstream create(path); }
  // Sparse: no disk space is spent on the length.
  ASSERT_EQ(::truncate(path.c_str(), 4700000000), 0);
  EXPECT_TRUE(FileExist(QString::fromStdString(path)));
  int error = 0;
  const std::int64_t length = platform::FileLength(path, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(DisplaySize(length).toStdString(), "4.38 Gb");
}

}  // namespace
