#include "controls/brain.h"

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

QString Q(const char* text) { return QString::fromUtf8(text); }

QStringList Rows(const QListWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->count(); ++i) rows << list->item(i)->text();
  return rows;
}

int SelectedRow(const QListWidget* list) {
  const QModelIndexList selected = list->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

TEST(BrainTest, LooksUpTheFirstCellThatListsTheInputExactly) {
  Brain brain;
  brain.AddCell(Q("100 Bytes (Default)"), Q("100"));
  brain.AddCell(Q("Alpha;Beta"), Q("ab"));
  brain.AddCell(Q("twice"), Q("earlier"));
  brain.AddCell(Q("Twice;other"), Q("later"));
  brain.AddCell(Q("key"), Q("MiXeD Case"));
  brain.AddCell(Q("no outputs"), QString());
  struct Row {
    const char* input;
    const char* output;
  };
  const Row rows[] = {
      {"100 Bytes (Default)", "100"},
      {"100 bytes (default)", "100"},
      {"100 BYTES (DEFAULT)", "100"},
      {"100 Bytes", ""},             // no partial match
      {" 100 Bytes (Default)", ""},  // no trimming
      {"100 Bytes (Default) ", ""},
      {"alpha", "ab"},
      {"BETA", "ab"},
      {"Alpha;Beta", ""},    // the input is one word, not a list
      {"twice", "earlier"},  // the earlier row wins
      {"other", "later"},
      {"KEY", "MiXeD Case"},  // outputs are returned as stored
      {"no outputs", ""},
      {"", ""},
      {"unknown", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(brain.Response(Q(row.input)).toStdString(), row.output) << row.input;
  }
}

TEST(BrainTest, SplittingKeepsEmptyPiecesButAnEmptyTextHasNone) {
  Brain brain;
  brain.AddCell(Q(""), Q("from empty"));
  EXPECT_EQ(brain.Response(QString()), QString());  // an empty inputs text lists nothing

  brain.AddCell(Q("word;"), Q("trailing"));
  brain.AddCell(Q("a;;b"), Q(";x;"));
  EXPECT_EQ(brain.Response(QString()), Q("trailing"));  // the trailing ";" lists ""
  EXPECT_EQ(brain.Response(Q("word")), Q("trailing"));

  const std::vector<Brain::Cell>& table = brain.cell_table();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].inputs, QStringList());
  EXPECT_EQ(table[1].inputs, (QStringList{Q("word"), Q("")}));
  EXPECT_EQ(table[2].inputs, (QStringList{Q("a"), Q(""), Q("b")}));
  EXPECT_EQ(table[2].outputs, (QStringList{Q(""), Q("x"), Q("")}));
}

TEST(BrainTest, NumbersAreStoredAsDecimalText) {
  Brain brain;
  brain.AddCell(Q("big"), qint64{10485760});
  brain.AddCell(Q("negative"), qint64{-5});
  EXPECT_EQ(Rows(brain.Outputs()), (QStringList{Q("10485760"), Q("-5")}));
  EXPECT_EQ(brain.Response(Q("BIG")), Q("10485760"));
}

TEST(BrainTest, RemoveCellKeepsTheLabelsAndTheLookups) {
  Brain brain;
  brain.AddCell(Q("zero"), Q("0 out"));
  brain.AddCell(Q("one"), Q("1 out"));
  brain.AddCell(Q("two"), Q("2 out"));
  EXPECT_EQ(Rows(brain.Cells()), (QStringList{Q("0"), Q("1"), Q("2")}));

  EXPECT_TRUE(brain.RemoveCell(0));
  EXPECT_EQ(Rows(brain.Cells()), (QStringList{Q("1"), Q("2")}));
  EXPECT_EQ(Rows(brain.Inputs()), (QStringList{Q("one"), Q("two")}));
  EXPECT_EQ(Rows(brain.Outputs()), (QStringList{Q("1 out"), Q("2 out")}));

  brain.AddCell(Q("three"), Q("3 out"));
  EXPECT_EQ(Rows(brain.Cells()), (QStringList{Q("1"), Q("2"), Q("2")}));  // labels can repeat
  EXPECT_EQ(brain.Response(Q("zero")), QString());
  EXPECT_EQ(brain.Response(Q("one")), Q("1 out"));
  EXPECT_EQ(brain.Response(Q("three")), Q("3 out"));
}

TEST(BrainTest, EdgesOfTheTableNeitherCrashNorChangeAnything) {
  Brain brain;
  EXPECT_EQ(brain.Response(Q("anything")), QString());  // before any cell
  EXPECT_EQ(brain.Response(QString()), QString());
  EXPECT_FALSE(brain.RemoveCell(0));

  brain.AddCell(Q("only"), Q("cell"));
  for (int index : {-1, 1, INT_MAX, INT_MIN}) {
    EXPECT_FALSE(brain.RemoveCell(index)) << index;
    EXPECT_EQ(brain.Cells()->count(), 1) << index;
    EXPECT_EQ(brain.Response(Q("only")), Q("cell")) << index;
  }

  EXPECT_TRUE(brain.RemoveCell(0));  // the last cell
  EXPECT_TRUE(brain.cell_table().empty());
  EXPECT_EQ(brain.Inputs()->count(), 0);
  EXPECT_EQ(brain.Response(Q("only")), QString());
}

TEST(BrainTest, TheDrawPicksAnOutputByHalfToEvenRounding) {
  Brain brain;
  brain.AddCell(Q("in"), Q("a;b;c"));
  std::vector<std::uint32_t> start_values;
  double r = 0;
  brain.SetTimeOfDay([] { return std::uint32_t{43210}; });
  brain.SetDraw([&](std::uint32_t start) {
    start_values.push_back(start);
    return r;
  });
  const std::vector<std::pair<double, const char*>> rows = {
      {0.0, "a"},
      {0.2499, "a"},
      {0.25, "a"},  // 0.5 goes to the even index 0
      {0.2501, "b"},
      {0.5, "b"},
      {0.7499, "b"},
      {0.75, "c"},  // 1.5 goes to the even index 2
      {0.9999, "c"},
      // A generator outside [0, 1) is held within the outputs.
      {-1.0, "a"},
      {7.0, "c"},
      {NAN, "a"},
  };
  for (const auto& [value, output] : rows) {
    r = value;
    EXPECT_EQ(brain.Response(Q("in")).toStdString(), output) << value;
  }
  // The generator is initialised afresh from the time of day for every draw.
  EXPECT_EQ(start_values, std::vector<std::uint32_t>(rows.size(), 43210));
}

TEST(BrainTest, ThreeOutputsComeAQuarterAHalfAndAQuarterOfTheTime) {
  Brain brain;
  brain.AddCell(Q("in"), Q("first;middle;last"));
  std::uint32_t second = 0;
  // The real generator, initialised from a different time of day for every lookup.
  brain.SetTimeOfDay([&] { return second++; });
  constexpr int kDraws = 40000;
  std::map<std::string, int> counts;
  for (int i = 0; i < kDraws; ++i) ++counts[brain.Response(Q("in")).toStdString()];
  ASSERT_EQ(counts.size(), 3u);
  EXPECT_NEAR(counts["first"] / double{kDraws}, 0.25, 0.015);
  EXPECT_NEAR(counts["middle"] / double{kDraws}, 0.50, 0.015);
  EXPECT_NEAR(counts["last"] / double{kDraws}, 0.25, 0.015);
}

TEST(BrainTest, ASingleOutputIsAlwaysTheAnswer) {
  Brain brain;
  brain.AddCell(Q("in"), Q("only"));
  std::uint32_t second = 0;
  brain.SetTimeOfDay([&] { return second++; });
  for (int i = 0; i < 200; ++i) ASSERT_EQ(brain.Response(Q("in")), Q("only"));
}

TEST(BrainTest, TheDefaultClockGivesSecondsSinceMidnight) {
  Brain brain;
  brain.AddCell(Q("in"), Q("a;b"));
  std::vector<std::uint32_t> start_values;
  brain.SetDraw([&](std::uint32_t start) {
    start_values.push_back(start);
    return 0.0;
  });
  EXPECT_EQ(brain.Response(Q("in")), Q("a"));
  ASSERT_EQ(start_values.size(), 1u);
  EXPECT_LT(start_values[0], 24u * 60 * 60);
}

TEST(BrainTest, ListsSitAtTheirPlacesOnAGreyBackground) {
  Brain brain;
  EXPECT_EQ(brain.sizeHint(), QSize(458, 291));
  EXPECT_EQ(brain.Cells()->geometry(), QRect(0, 0, 55, 251));
  EXPECT_EQ(brain.Inputs()->geometry(), QRect(57, 0, 184, 251));
  EXPECT_EQ(brain.Outputs()->geometry(), QRect(243, 0, 184, 251));

  brain.resize(brain.sizeHint());
  const QImage image = brain.grab().toImage();
  const QRgb grey = qRgb(128, 128, 128);
  EXPECT_EQ(image.pixel(56, 100), grey);   // between Cells and Inputs
  EXPECT_EQ(image.pixel(242, 100), grey);  // between Inputs and Outputs
  EXPECT_EQ(image.pixel(200, 270), grey);  // below the lists
  EXPECT_EQ(image.pixel(450, 100), grey);  // right of Outputs
}

TEST(BrainTest, TabGoesFromInputsToOutputsToCells) {
  Brain brain;
  std::vector<QWidget*> order;
  QWidget* widget = brain.Inputs();
  do {
    if (widget == brain.Cells() || widget == brain.Inputs() || widget == brain.Outputs()) {
      order.push_back(widget);
    }
    widget = widget->nextInFocusChain();
  } while (widget != brain.Inputs() && order.size() < 10);
  EXPECT_EQ(order, (std::vector<QWidget*>{brain.Inputs(), brain.Outputs(), brain.Cells()}));
}

class BrainMouseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i) brain_.AddCell(QString::number(i * 10), QString::number(i * 100));
    brain_.resize(brain_.sizeHint());
    brain_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&brain_));
  }

  static QPoint RowCentre(const QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
  }
  // A move with no button held, as the mouse passes over a list.
  static void MoveOver(QListWidget* list, QPoint where) {
    QMouseEvent move(QEvent::MouseMove, where, list->viewport()->mapToGlobal(where), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
  }

  Brain brain_;
};

TEST_F(BrainMouseTest, APressSelectsTheSameRowInAllLists) {
  QTest::mouseClick(brain_.Outputs()->viewport(), Qt::LeftButton, {},
                    RowCentre(brain_.Outputs(), 3));
  EXPECT_EQ(SelectedRow(brain_.Outputs()), 3);
  EXPECT_EQ(SelectedRow(brain_.Cells()), 3);
  EXPECT_EQ(SelectedRow(brain_.Inputs()), 3);

  QTest::mousePress(brain_.Cells()->viewport(), Qt::LeftButton, {}, RowCentre(brain_.Cells(), 1));
  EXPECT_EQ(SelectedRow(brain_.Inputs()), 1);
  EXPECT_EQ(SelectedRow(brain_.Outputs()), 1);
  QTest::mouseRelease(brain_.Cells()->viewport(), Qt::LeftButton, {}, RowCentre(brain_.Cells(), 1));
}

TEST_F(BrainMouseTest, AMoveOverAListCarriesItsSelectionToTheOthers) {
  brain_.Outputs()->setCurrentRow(3);  // chosen without the mouse: the others do not follow yet
  EXPECT_EQ(SelectedRow(brain_.Cells()), -1);

  MoveOver(brain_.Outputs(), RowCentre(brain_.Outputs(), 0));  // the row under the mouse is not it
  EXPECT_EQ(SelectedRow(brain_.Cells()), 3);
  EXPECT_EQ(SelectedRow(brain_.Inputs()), 3);

  brain_.Inputs()->setCurrentRow(4);
  QTest::mousePress(brain_.Inputs()->viewport(), Qt::LeftButton, {}, RowCentre(brain_.Inputs(), 4));
  QTest::mouseMove(brain_.Inputs()->viewport(), RowCentre(brain_.Inputs(), 4));  // button held
  QTest::mouseRelease(brain_.Inputs()->viewport(), Qt::LeftButton, {},
                      RowCentre(brain_.Inputs(), 4));
  EXPECT_EQ(SelectedRow(brain_.Cells()), 4);
  EXPECT_EQ(SelectedRow(brain_.Outputs()), 4);
}

TEST_F(BrainMouseTest, NoSelectionClearsTheOthers) {
  QTest::mouseClick(brain_.Outputs()->viewport(), Qt::LeftButton, {},
                    RowCentre(brain_.Outputs(), 2));
  ASSERT_EQ(SelectedRow(brain_.Inputs()), 2);

  brain_.Outputs()->clearSelection();
  MoveOver(brain_.Outputs(), RowCentre(brain_.Outputs(), 2));
  EXPECT_EQ(SelectedRow(brain_.Cells()), -1);
  EXPECT_EQ(SelectedRow(brain_.Inputs()), -1);
}

}  // namespace
