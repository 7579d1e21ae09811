#include "app/displaysize.h"

#include <QFile>
#include <QFileInfo>

#include <array>

#include "platform/core/file_io.h"
#include "platform/core/number_text.h"

namespace {

struct Unit {
  double bytes;
  const char* name;
};

constexpr double kKb = 1024.0;
// Largest first: a count is shown in the first unit it reaches.
constexpr std::array<Unit, 4> kUnits = {{
    {kKb * kKb * kKb * kKb, " Tb"},
    {kKb * kKb * kKb, " Gb"},
    {kKb * kKb, " Mb"},
    {kKb, " Kb"},
}};

}  // namespace

QString DisplaySize(std::int64_t count) {
  for (const Unit& unit : kUnits) {
    if (static_cast<double>(count) < unit.bytes) continue;
    const double hundredths =
        platform::RoundHalfEven(static_cast<double>(count) / unit.bytes * 100);
    return QString::fromStdString(platform::NumberText(hundredths / 100)) +
           QLatin1String(unit.name);
  }
  return QString::number(count) + QLatin1String(" Bytes");
}

std::int64_t LengthOf(const QString& path) {
  int error = 0;
  return platform::FileLength(QFile::encodeName(path).toStdString(), &error);
}

bool FileExist(const QString& Path) { return !QFileInfo(Path).isDir() && LengthOf(Path) > 0; }
