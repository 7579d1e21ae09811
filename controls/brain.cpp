#include "controls/brain.h"

#include <QEvent>
#include <QListWidget>
#include <QLocale>
#include <QPalette>
#include <QTime>

#include <memory>
#include <random>

#include "platform/core/number_text.h"

namespace {

// The layout is given in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

constexpr QSize kDesignSize(Px(6870), Px(4365));
constexpr int kListTop = Px(0);
constexpr int kListHeight = Px(3765);
constexpr QRect kCellsPlace(Px(0), kListTop, Px(825), kListHeight);
constexpr QRect kInputsPlace(Px(855), kListTop, Px(2760), kListHeight);
constexpr QRect kOutputsPlace(Px(3645), kListTop, Px(2760), kListHeight);
constexpr QColor kBackground(128, 128, 128);

std::uint32_t SecondsSinceMidnight() {
  return static_cast<std::uint32_t>(QTime::currentTime().msecsSinceStartOfDay() / 1000);
}

double DrawFrom(std::uint32_t start_value) {
  std::mt19937 generator(start_value);
  // 53 random bits scaled into [0, 1): unlike a rounded conversion this can never give 1.
  const double high = static_cast<double>(generator() >> 5);
  const double low = static_cast<double>(generator() >> 6);
  return (high * 67108864.0 + low) / 9007199254740992.0;
}

// The pieces of a ";"-joined text. Empty pieces count, but an empty text has none.
QStringList Pieces(const QString& text) {
  if (text.isEmpty()) return {};
  return text.split(QLatin1Char(';'), Qt::KeepEmptyParts);
}

QString RowText(const QListWidget* list, int row) {
  const QListWidgetItem* item = list->item(row);
  return item != nullptr ? item->text() : QString();
}

int SelectedRow(const QListWidget* list) {
  const QModelIndexList selected = list->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void SelectRow(QListWidget* list, int row) {
  if (row >= 0 && row < list->count()) {
    list->setCurrentRow(row);
  } else {
    list->setCurrentRow(-1);
    list->clearSelection();
  }
}

QListWidget* MakeList(const char* name, const QRect& place, QWidget* parent) {
  // Owned by `parent`, as Qt widgets are.
  auto* list = new QListWidget(parent);  // NOLINT(cppcoreguidelines-owning-memory)
  list->setObjectName(QLatin1String(name));
  list->setGeometry(place);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setMouseTracking(true);
  list->viewport()->setMouseTracking(true);
  return list;
}

}  // namespace

Brain::Brain(QWidget* parent)
    : QWidget(parent),
      cells_(MakeList("Cells", kCellsPlace, this)),
      inputs_(MakeList("Inputs", kInputsPlace, this)),
      outputs_(MakeList("Outputs", kOutputsPlace, this)),
      time_of_day_(SecondsSinceMidnight),
      draw_(DrawFrom) {
  QPalette background = palette();
  background.setColor(QPalette::Window, kBackground);
  setPalette(background);
  setAutoFillBackground(true);

  setTabOrder(inputs_, outputs_);
  setTabOrder(outputs_, cells_);

  for (QListWidget* list : {cells_, inputs_, outputs_}) {
    list->viewport()->installEventFilter(this);
    // The filter sees a press before the list acts on it; this follows up once the press has
    // moved the selection, so a click shows the same row in all three lists at once.
    connect(list, &QAbstractItemView::pressed, this, [this, list] { FollowSelection(list); });
  }
}

void Brain::AddCell(const QString& sInputs, const QString& sOutputs) {
  cells_->addItem(QString::number(cells_->count()));
  inputs_->addItem(sInputs);
  outputs_->addItem(sOutputs);
  RebuildBrain();
}

void Brain::AddCell(const QString& sInputs, qint64 sOutputs) {
  AddCell(sInputs, QString::number(sOutputs));
}

void Brain::RebuildBrain() {
  const int rows = cells_->count();
  table_.assign(static_cast<size_t>(rows), Cell{});
  for (int i = 0; i < rows; ++i) {
    Cell& cell = table_[static_cast<size_t>(i)];
    cell.inputs = Pieces(RowText(inputs_, i));
    cell.outputs = Pieces(RowText(outputs_, i));
  }
}

QString Brain::Response(const QString& input) {
  const QLocale locale;
  const QString wanted = locale.toLower(input);
  for (const Cell& cell : table_) {
    for (const QString& piece : cell.inputs) {
      if (locale.toLower(piece) != wanted) continue;
      const qsizetype n = cell.outputs.size();
      if (n == 0) return {};
      if (n == 1) return cell.outputs.front();
      const double r = draw_(time_of_day_());
      const double index = platform::RoundHalfEven(r * static_cast<double>(n - 1));
      // `!(index > 0)` also catches a NaN from a stray generator.
      if (!(index > 0)) return cell.outputs.front();
      if (index >= static_cast<double>(n - 1)) return cell.outputs.back();
      return cell.outputs.at(static_cast<qsizetype>(index));
    }
  }
  return {};
}

bool Brain::RemoveCell(int Index) {
  if (Index < 0 || Index >= cells_->count()) return false;
  for (QListWidget* list : {cells_, inputs_, outputs_}) {
    // takeItem hands the item over (nullptr for a row the list lacks); it is ours to delete.
    const std::unique_ptr<QListWidgetItem> gone(list->takeItem(Index));
  }
  RebuildBrain();
  return true;
}

void Brain::SetTimeOfDay(TimeOfDay time_of_day) { time_of_day_ = std::move(time_of_day); }

void Brain::SetDraw(Draw draw) { draw_ = std::move(draw); }

QSize Brain::sizeHint() const { return kDesignSize; }

bool Brain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove) {
    for (const QListWidget* list : {cells_, inputs_, outputs_}) {
      if (watched == list->viewport()) FollowSelection(list);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Brain::FollowSelection(const QListWidget* from) {
  const int row = SelectedRow(from);
  for (QListWidget* list : {cells_, inputs_, outputs_}) {
    if (list != from) SelectRow(list, row);
  }
}
