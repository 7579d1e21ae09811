#include "app/buffersizes.h"

#include <QComboBox>
#include <QListWidget>

#include <gtest/gtest.h>

#include "app/copy_launcher.h"
#include "controls/brain.h"

namespace {

struct Entry {
  const char* label;
  qint32 bytes;
};

// The list as the user sees it, in order.
constexpr Entry kExpected[] = {
    {"Variable Speed", 0}, {"1 Byte (The safer way to rescue)", 1},
    {"10 Bytes", 10},      {"100 Bytes (Default)", 100},
    {"500 Bytes", 500},    {"1 Kb", 1024},
    {"10 Kb", 10240},      {"100 Kb", 102400},
    {"500 Kb", 512000},    {"1 Mb", 1048576},
    {"5 Mb", 5242880},     {"10 Mb (The quickest way)", 10485760},
};

class BufferSizesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillBufferSizeList(BS_);
    InitBrain(brain_, BS_);
  }
  Brain brain_;
  QComboBox BS_;
};

TEST_F(BufferSizesTest, EveryEntryGivesItsByteCount) {
  ASSERT_EQ(BS_.count(), static_cast<int>(std::size(kExpected)));
  for (int i = 0; i < BS_.count(); ++i) {
    const Entry& entry = kExpected[i];
    EXPECT_EQ(BS_.itemText(i), QString::fromUtf8(entry.label)) << "position " << i;
    EXPECT_EQ(BufferByteCount(brain_, BS_.itemText(i)), entry.bytes) << entry.label;
  }
  EXPECT_EQ(brain_.Cells()->count(), BS_.count());
}

TEST_F(BufferSizesTest, StartsWithTheDefaultOf100Bytes) {
  EXPECT_EQ(BS_.currentIndex(), 3);
  EXPECT_EQ(BS_.currentText(), QStringLiteral("100 Bytes (Default)"));
  EXPECT_EQ(BufferByteCount(brain_, BS_.currentText()), 100);
}

TEST_F(BufferSizesTest, VariableSpeedEndsTheCommandInZero) {
  const std::optional<qint32> bytes = BufferByteCount(brain_, QStringLiteral("Variable Speed"));
  ASSERT_EQ(bytes, 0);
  const WorkerCommand command =
      CopyCommand(QStringLiteral("/opt/tools"), QStringLiteral("/s"), QStringLiteral("/t"), *bytes);
  EXPECT_TRUE(command.argument.endsWith(QStringLiteral(";0"))) << command.argument.toStdString();
}

TEST_F(BufferSizesTest, LabelsThatAreNotInTheListGiveNoCount) {
  EXPECT_EQ(BufferByteCount(brain_, QStringLiteral("1 kb")), 1024);  // the lookup ignores case
  EXPECT_EQ(BufferByteCount(brain_, QStringLiteral("2 Kb")), std::nullopt);
  EXPECT_EQ(BufferByteCount(brain_, QString()), std::nullopt);

  Brain odd;
  odd.AddCell(QStringLiteral("words"), QStringLiteral("ten"));
  odd.AddCell(QStringLiteral("huge"), QStringLiteral("2147483648"));  // past 32 bits
  odd.AddCell(QStringLiteral("edge"), QStringLiteral("2147483647"));
  EXPECT_EQ(BufferByteCount(odd, QStringLiteral("words")), std::nullopt);
  EXPECT_EQ(BufferByteCount(odd, QStringLiteral("huge")), std::nullopt);
  EXPECT_EQ(BufferByteCount(odd, QStringLiteral("edge")), 2147483647);
}

}  // namespace
