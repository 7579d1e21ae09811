// Brain: a lookup control that maps an input text to an output text through an ordered list of
// cells.
//
// Each cell lists input words and output texts, both as texts joined by ";". A lookup returns one
// of the outputs of the first cell that lists the input. The cells live as parallel rows of three
// list boxes (`Cells`, `Inputs`, `Outputs`); the cell table derived from them is rebuilt after
// every change. The main window keeps one, hidden, as its buffer-size dictionary.
//
// How the cases at the edges behave:
// - Splitting keeps empty pieces ("a;;b" has three inputs, "a;" answers "" as well), but an empty
//   text has no pieces at all: a cell with an empty inputs text answers nothing, not even "".
// - A hit on a cell with an empty outputs text answers the empty text (there is nothing to pick).
// - Response before any cell exists, or after the last one was removed, answers the empty text.
// - RemoveCell with an index outside the rows changes nothing and returns false.
// - An index drawn from a generator that strays outside [0, 1) is held within the outputs.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QListWidget;

class Brain : public QWidget {
  Q_OBJECT

 public:
  // One record of the cell table: the pieces of a row's inputs and outputs texts, in order.
  struct Cell {
    QStringList inputs;
    QStringList outputs;
  };

  // Seconds since midnight, the value the generator is initialised from before each draw.
  using TimeOfDay = std::function<std::uint32_t()>;
  // Initialises a uniform generator from the given value and draws one number in [0, 1).
  using Draw = std::function<double(std::uint32_t)>;

  explicit Brain(QWidget* parent = nullptr);

  // Appends one cell: `Cells` gets the current row count as decimal text (a label only, never
  // read back), `Inputs` and `Outputs` get the texts as given. Rebuilds the table.
  void AddCell(const QString& sInputs, const QString& sOutputs);
  // The same with a number as the only output, stored as its decimal text.
  void AddCell(const QString& sInputs, qint64 sOutputs);

  // Rebuilds the cell table from the rows of the three lists.
  void RebuildBrain();

  // An output of the first cell (in row order) that lists `input`, compared in lower case by the
  // user's locale, exactly (no trimming, no partial match). With n outputs the generator is
  // initialised from the time of day and one r in [0, 1) picks the output at r × (n − 1), rounded
  // to the nearest index with halves to the even one. The empty text when no cell matches.
  QString Response(const QString& input);

  // Removes row `Index` (counted from 0) from the three lists and rebuilds the table. The labels
  // in `Cells` are not renumbered. False, and nothing changed, when there is no such row.
  bool RemoveCell(int Index);

  QListWidget* Cells() const { return cells_; }
  QListWidget* Inputs() const { return inputs_; }
  QListWidget* Outputs() const { return outputs_; }
  const std::vector<Cell>& cell_table() const { return table_; }

  // Replace the clock and the generator, so that a test can make the draw predictable.
  void SetTimeOfDay(TimeOfDay time_of_day);
  void SetDraw(Draw draw);

  QSize sizeHint() const override;

 protected:
  // Mouse presses and moves over a list carry its selected row to the other two.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FollowSelection(const QListWidget* from);

  QListWidget* cells_;
  QListWidget* inputs_;
  QListWidget* outputs_;
  std::vector<Cell> table_;
  TimeOfDay time_of_day_;
  Draw draw_;
};
