#include "app/frmmap.h"

#include <QFile>
#include <QPainter>

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "app/displaysize.h"
#include "platform/gui/brush.h"
#include "platform/gui/dc.h"
#include "platform/gui/font.h"

namespace {

using platform::AreaStatus;

constexpr int kWidth = 420;
constexpr int kHeight = 336;
constexpr int kMargin = 10;
constexpr int kCellSize = 6;
constexpr int kPitch = kCellSize + 1;
constexpr int kGridBottom = kMargin + kMapRows * kPitch - 1;
constexpr int kLegendTop = kGridBottom + 12;
constexpr int kLineHeight = 16;
constexpr int kPathTop = kLegendTop + 3 * kLineHeight + 6;

constexpr gui::ColorRef kWhite = gui::Rgb(255, 255, 255);
constexpr gui::ColorRef kBlack = gui::Rgb(0, 0, 0);
constexpr gui::ColorRef kFrame = gui::Rgb(128, 128, 128);
constexpr gui::ColorRef kRescuedColor = gui::Rgb(52, 168, 83);
constexpr gui::ColorRef kUnreadableColor = gui::Rgb(214, 40, 40);
constexpr gui::ColorRef kUntriedColor = gui::Rgb(210, 210, 210);

// A map larger than this is no map of ours (ours hold a few lines per damaged spot).
constexpr qint64 kLargestMap = 64LL * 1024 * 1024;

gui::ColorRef ColorOf(AreaStatus status) {
  switch (status) {
    case AreaStatus::kRescued:
      return kRescuedColor;
    case AreaStatus::kUnreadable:
      return kUnreadableColor;
    case AreaStatus::kUntried:
      break;
  }
  return kUntriedColor;
}

// The first byte of cell `cell` of `cells` over `size` bytes: size * cell / cells without
// overflow.
std::int64_t CellStart(std::int64_t size, int cell, int cells) {
  return size / cells * cell + size % cells * cell / cells;
}

int CellCount(const platform::RescueMap& map) {
  return static_cast<int>(std::min<std::int64_t>(kMapColumns * kMapRows, map.source_size()));
}

// A count as the size labels show it, with the exact number of bytes from 1 Kb on.
QString Bytes(std::int64_t count) {
  const QString shown = DisplaySize(count);
  return count < 1024 ? shown : QStringLiteral("%1 (%2 bytes)").arg(shown).arg(count);
}

void Text(gui::Dc& dc, const QString& text, gui::Rect rect, gui::TextFormat format) {
  dc.DrawText(text.toStdString(), &rect, format);
}

void DrawLegend(const platform::RescueMap& map, gui::Dc& dc) {
  const std::int64_t unreadable_areas = map.Count(AreaStatus::kUnreadable);
  const struct {
    AreaStatus status;
    QString text;
  } rows[] = {
      {AreaStatus::kRescued, QStringLiteral("Rescued: ") + Bytes(map.Bytes(AreaStatus::kRescued))},
      {AreaStatus::kUnreadable,
       QStringLiteral("Unreadable: %1 in %2 %3")
           .arg(Bytes(map.Bytes(AreaStatus::kUnreadable)))
           .arg(unreadable_areas)
           .arg(unreadable_areas == 1 ? QStringLiteral("area") : QStringLiteral("areas"))},
      {AreaStatus::kUntried,
       QStringLiteral("Not tried: ") + Bytes(map.Bytes(AreaStatus::kUntried))},
  };
  int top = kLegendTop;
  for (const auto& row : rows) {
    dc.FillRect({kMargin, top + 2, kMargin + 10, top + 12}, gui::Brush::Solid(ColorOf(row.status)));
    dc.FrameRect({kMargin, top + 2, kMargin + 10, top + 12}, gui::Brush::Solid(kFrame));
    Text(dc, row.text, {kMargin + 16, top, kWidth - kMargin, top + kLineHeight},
         gui::TextFormat::kSingleLine);
    top += kLineHeight;
  }
}

}  // namespace

AreaStatus CellStatus(const platform::RescueMap& map, int cell, int cells) {
  const std::int64_t begin = CellStart(map.source_size(), cell, cells);
  const std::int64_t end = CellStart(map.source_size(), cell + 1, cells);
  const auto& areas = map.areas();
  auto area =
      std::upper_bound(areas.begin(), areas.end(), begin,
                       [](std::int64_t at, const platform::MapArea& a) { return at < a.end(); });
  AreaStatus worst = AreaStatus::kRescued;
  for (; area != areas.end() && area->pos < end; ++area) {
    if (area->status == AreaStatus::kUnreadable) return AreaStatus::kUnreadable;
    if (area->status == AreaStatus::kUntried) worst = AreaStatus::kUntried;
  }
  return worst;
}

gui::Surface DrawRescueMap(const MapPicture& picture) {
  gui::Surface surface(picture.width, picture.height);
  if (surface.IsNull()) return surface;
  gui::Dc dc(surface);
  dc.FillRect({0, 0, picture.width, picture.height}, gui::Brush::Solid(kWhite));
  const gui::ScopedSelect font(dc, gui::Font(gui::FontDesc{}));
  dc.SetTextColor(kBlack);
  dc.SetBkMode(gui::BkMode::kTransparent);

  const gui::Rect grid{kMargin, kMargin, kMargin + kMapColumns * kPitch - 1, kGridBottom};
  dc.FrameRect({grid.left - 2, grid.top - 2, grid.right + 2, grid.bottom + 2},
               gui::Brush::Solid(kFrame));
  if (picture.map) {
    const int cells = CellCount(*picture.map);
    for (int cell = 0; cell < cells; ++cell) {
      const int left = grid.left + cell % kMapColumns * kPitch;
      const int top = grid.top + cell / kMapColumns * kPitch;
      dc.FillRect({left, top, left + kCellSize, top + kCellSize},
                  gui::Brush::Solid(ColorOf(CellStatus(*picture.map, cell, cells))));
    }
    DrawLegend(*picture.map, dc);
  } else {
    const int middle = (grid.top + grid.bottom) / 2;
    Text(dc, picture.problem, {grid.left + 8, middle - 20, grid.right - 8, middle + 40},
         gui::TextFormat::kCenter | gui::TextFormat::kWordBreak);
  }
  Text(dc, QStringLiteral("Map: ") + picture.map_path,
       {kMargin, kPathTop, picture.width - kMargin, picture.height - 4},
       gui::TextFormat::kWordBreak);
  return surface;
}

QString MapPathOf(const QString& target) { return target + QStringLiteral(".map"); }

std::optional<platform::RescueMap> ReadRescueMap(const QString& path, QString* problem) {
  QFile file(path);
  if (!file.exists()) {
    *problem = QStringLiteral("There is no rescue map yet.");
    return std::nullopt;
  }
  if (file.size() > kLargestMap) {
    *problem = QStringLiteral("This file is too large to be a rescue map.");
    return std::nullopt;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    *problem = QStringLiteral("Cannot read the rescue map: ") + file.errorString();
    return std::nullopt;
  }
  const QByteArray text = file.readAll();
  std::string error;
  std::optional<platform::RescueMap> map = platform::RescueMap::Parse(
      std::string_view(text.constData(), static_cast<size_t>(text.size())), &error);
  if (!map)
    *problem = QStringLiteral("This file is not a rescue map: ") + QString::fromStdString(error);
  return map;
}

frmMap::frmMap(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Rescue Map"));
  setFixedSize(kWidth, kHeight);
  // An open map window does not keep the program running once the main window has closed.
  setAttribute(Qt::WA_QuitOnClose, false);
  picture_.width = kWidth;
  picture_.height = kHeight;
  map_timer_.setInterval(500);
  connect(&map_timer_, &QTimer::timeout, this, &frmMap::MapTimer_Timer);
}

void frmMap::Follow(const QString& map_path) {
  picture_.map_path = map_path;
  read_stamp_.reset();
  MapTimer_Timer();
  map_timer_.start();
}

void frmMap::MapTimer_Timer() {
  const Stamp stamp = StampOf(picture_.map_path);
  if (read_stamp_ && *read_stamp_ == stamp) return;
  read_stamp_ = stamp;
  Read();
  surface_ = DrawRescueMap(picture_);
  update();
}

frmMap::Stamp frmMap::StampOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino, st.st_size,
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void frmMap::Read() { picture_.map = ReadRescueMap(picture_.map_path, &picture_.problem); }

void frmMap::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, surface_.image());
}

void frmMap::hideEvent(QHideEvent*) { map_timer_.stop(); }
