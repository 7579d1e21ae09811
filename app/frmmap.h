// frmMap: the "Rescue Map" window. It shows the map vrel keeps beside the target as a grid of
// cells over the whole source, each coloured by what its bytes are (a cell with any unreadable
// byte shows as unreadable, else one with any untried byte as not tried), a legend with the byte
// counts of each kind, and the map's path. It can stay open while a copy runs: a timer re-reads
// the map whenever the file has changed (the worker replaces it atomically).
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <sys/types.h>
#include <cstdint>
#include <optional>

#include "platform/core/rescue_map.h"
#include "platform/gui/surface.h"

// Everything the window's picture is drawn from.
struct MapPicture {
  int width = 0;
  int height = 0;
  QString map_path;
  std::optional<platform::RescueMap> map;
  QString problem;  // shown instead of the grid when there is no map to draw
};

// The grid: kMapColumns x kMapRows cells (fewer bytes than cells: one cell per byte).
inline constexpr int kMapColumns = 57;
inline constexpr int kMapRows = 32;

// What cell `cell` of `cells` shows: the worst status among its bytes.
platform::AreaStatus CellStatus(const platform::RescueMap& map, int cell, int cells);

// The picture of `picture`, drawn through the raster layer.
gui::Surface DrawRescueMap(const MapPicture& picture);

// "<target>.map": where vrel keeps the map of a target.
QString MapPathOf(const QString& target);

// The map in the file at `path`; std::nullopt with *problem saying why (no file yet, not a map,
// cannot be read) in words for the user.
std::optional<platform::RescueMap> ReadRescueMap(const QString& path, QString* problem);

class frmMap : public QWidget {
  Q_OBJECT

 public:
  // A window of its own (`parent` only ties its life to the main window's).
  explicit frmMap(QWidget* parent);

  // Shows the map at `map_path` from now on, read at once and again whenever it changes.
  void Follow(const QString& map_path);

  // One refresh: reads the map again when its file has changed (another file, size or time).
  void MapTimer_Timer();

  const MapPicture& picture() const { return picture_; }
  const QTimer& MapTimer() const { return map_timer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // A hidden window reads nothing; Follow starts the timer again.
  void hideEvent(QHideEvent* event) override;

 private:
  // What tells a replaced or rewritten file: its identity, size and modification time.
  struct Stamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  static Stamp StampOf(const QString& path);
  void Read();

  MapPicture picture_;
  std::optional<Stamp> read_stamp_;
  gui::Surface surface_;
  QTimer map_timer_;
};
