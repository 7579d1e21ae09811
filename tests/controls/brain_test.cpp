#include "controls/brain.h"

#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <set>
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

// Inputs compare in lower case, exactly (no partial match, no trimming); the earlier row wins;
// an input is one word, not a list; outputs come back as stored; a trailing ";" lists the
// empty word, but an empty inputs text lists nothing.
TEST(BrainTest, LooksUpTheFirstCellThatListsTheInputExactly) {
  Brain brain;
  // Inputs|outputs.
  for (const char* cell :
       {"|from an empty inputs text", "100 Bytes (Default)|100", "Alpha;Beta|ab", "twice|earlier",
        "Twice;other|later", "key|MiXeD Case", "word;|trailing"})
    brain.AddCell(Q(cell).section(u'|', 0, 0), Q(cell).section(u'|', 1));
  brain.AddCell(Q("no outputs"), QString());
  brain.AddCell(Q("big"), qint64{10485760});
  // Input|expected output.
  for (const char* row :
       {"100 Bytes (Default)|100", "100 bytes (default)|100", "100 Bytes|", " 100 Bytes (Default)|",
        "alpha|ab", "BETA|ab", "Alpha;Beta|", "twice|earlier", "other|later", "KEY|MiXeD Case",
        "no outputs|", "|trailing", "BIG|10485760", "unknown|"}) {
    const QStringList input_output = Q(row).split(u'|');
    EXPECT_EQ(brain.Response(input_output[0]), input_output[1]) << row;
  }
  brain.AddCell(Q("a;;b"), Q(";x;"));  // empty pieces count
  EXPECT_EQ(brain.cell_table().back().inputs, (QStringList{Q("a"), Q(""), Q("b")}));
  EXPECT_EQ(brain.cell_table().back().outputs, (QStringList{Q(""), Q("x"), Q("")}));
}

TEST(BrainTest, RemoveCellKeepsTheLabelsAndTheLookups) {
  Brain brain;
  EXPECT_FALSE(brain.RemoveCell(0));
  brain.AddCell(Q("zero"), Q("0 out"));
  brain.AddCell(Q("one"), Q("1 out"));
  brain.AddCell(Q("two"), Q("2 out"));
  for (int index : {-1, 3, INT_MAX, INT_MIN}) EXPECT_FALSE(brain.RemoveCell(index)) << index;
  EXPECT_TRUE(brain.RemoveCell(0));
  EXPECT_EQ(Rows(brain.Inputs()), (QStringList{Q("one"), Q("two")}));
  brain.AddCell(Q("three"), Q("3 out"));
  EXPECT_EQ(Rows(brain.Cells()), (QStringList{Q("1"), Q("2"), Q("2")}));  // labels can repeat
  EXPECT_EQ(brain.Response(Q("zero")), QString());
  EXPECT_EQ(brain.Response(Q("three")), Q("3 out"));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(brain.RemoveCell(0));
  EXPECT_EQ(brain.Response(Q("one")), QString());  // after the last cell
}

TEST(BrainTest, TheDrawPicksAnOutputByHalfToEvenRounding) {
  Brain brain;
  brain.AddCell(Q("in"), Q("a;b;c"));
  std::vector<std::uint32_t> start_values;
  double drawn = 0;
  brain.SetTimeOfDay([] { return std::uint32_t{43210}; });
  brain.SetDraw([&](std::uint32_t start) { return start_values.push_back(start), drawn; });
  // 0.25 x 2 = 0.5 goes to the even index 0, 0.75 x 2 = 1.5 to 2; a generator outside [0, 1)
  // is held within the outputs.
  const std::pair<double, const char*> rows[] = {{0.0, "a"},    {0.25, "a"}, {0.2501, "b"},
                                                 {0.7499, "b"}, {0.75, "c"}, {0.9999, "c"},
                                                 {-1.0, "a"},   {7.0, "c"},  {NAN, "a"}};
  for (const auto& [value, output] : rows) {
    drawn = value;
    EXPECT_EQ(brain.Response(Q("in")).toStdString(), output) << value;
  }
  // The generator is initialised afresh from the time of day for every draw.
  EXPECT_EQ(start_values, std::vector<std::uint32_t>(std::size(rows), 43210));
}

TEST(BrainTest, TheRealClockAndGeneratorReachEveryOutput) {
  Brain brain;
  brain.AddCell(Q("in"), Q("first;middle;last"));
  std::uint32_t second = 0;
  brain.SetTimeOfDay([&] { return second++; });
  std::set<QString> seen;
  for (int i = 0; i < 50; ++i) seen.insert(brain.Response(Q("in")));
  EXPECT_EQ(seen.size(), 3u);

  Brain clocked;
  clocked.AddCell(Q("in"), Q("a;b"));
  std::uint32_t start = UINT32_MAX;
  clocked.SetDraw([&](std::uint32_t value) { return start = value, 0.0; });
  clocked.Response(Q("in"));
  EXPECT_LT(start, 24u * 60 * 60);  // seconds since midnight
}

// A move with no button held, as the mouse passes over a list.
void MoveOver(QListWidget* list, QPoint where) {
  QMouseEvent move(QEvent::MouseMove, where, list->viewport()->mapToGlobal(where), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &move);
}

TEST(BrainTest, APressOrAMoveCarriesTheSelectionToTheOtherLists) {
  Brain brain;
  for (int i = 0; i < 5; ++i) brain.AddCell(QString::number(i * 10), QString::number(i * 100));
  brain.resize(brain.sizeHint());
  brain.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&brain));
  QListWidget *inputs = brain.Inputs(), *outputs = brain.Outputs();
  const auto row = [](const QListWidget* list, int index) {
    return list->visualItemRect(list->item(index)).center();
  };
  const auto selected = [&] {  // in Cells, Inputs and Outputs
    return std::vector<int>{SelectedRow(brain.Cells()), SelectedRow(inputs), SelectedRow(outputs)};
  };
  QTest::mouseClick(outputs->viewport(), Qt::LeftButton, {}, row(outputs, 3));
  EXPECT_EQ(selected(), (std::vector<int>{3, 3, 3}));

  outputs->setCurrentRow(4);  // chosen without the mouse: the others do not follow yet
  EXPECT_EQ(selected(), (std::vector<int>{3, 3, 4}));
  MoveOver(outputs, row(outputs, 0));  // the row under the mouse is not what counts
  EXPECT_EQ(selected(), (std::vector<int>{4, 4, 4}));

  inputs->setCurrentRow(2);  // a move with the button held carries it too
  QTest::mousePress(inputs->viewport(), Qt::LeftButton, {}, row(inputs, 2));
  QTest::mouseMove(inputs->viewport(), row(inputs, 2));
  QTest::mouseRelease(inputs->viewport(), Qt::LeftButton, {}, row(inputs, 2));
  EXPECT_EQ(selected(), (std::vector<int>{2, 2, 2}));

  outputs->clearSelection();  // no selection clears the others
  MoveOver(outputs, row(outputs, 2));
  EXPECT_EQ(selected(), (std::vector<int>{-1, -1, -1}));
}

}  // namespace
