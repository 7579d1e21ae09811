// A 32-bit pixel surface: the bitmap that a device context draws into.
//
// Pixels are QImage::Format_RGB32 (0xFFRRGGBB). Copies share their pixels until one of them is
// written (Qt's implicit sharing), so a surface can be handed out or kept as a brush pattern
// cheaply; every write goes through a detaching accessor.
#pragma once

#include <QImage>

#include <cstdint>
#include <utility>

#include "platform/gui/color.h"

namespace gui {

class Surface {
 public:
  // The null surface: no pixels.
  Surface() = default;
  // A width x height surface, all black. Null when a side is not positive or the memory cannot
  // be had.
  Surface(int width, int height);
  // A copy of `image` converted to the surface format (null for a null image).
  static Surface FromImage(const QImage& image);

  bool IsNull() const { return image_.isNull(); }
  int width() const { return image_.width(); }
  int height() const { return image_.height(); }

  // The colour at (x, y), or kInvalidColor outside the surface.
  static constexpr ColorRef kInvalidColor = 0xFFFFFFFFu;
  ColorRef Pixel(int x, int y) const;

  // Rows of pixels; y must lie in [0, height). The writable form detaches a shared copy.
  std::uint32_t* Row(int y) { return reinterpret_cast<std::uint32_t*>(image_.scanLine(y)); }
  const std::uint32_t* Row(int y) const {
    return reinterpret_cast<const std::uint32_t*>(image_.constScanLine(y));
  }

  const QImage& image() const { return image_; }
  // The pixels for a QPainter, detached from any copy first.
  QImage& MutableImage() {
    image_.detach();
    return image_;
  }

  // Same size and same pixels.
  friend bool operator==(const Surface& a, const Surface& b) { return a.image_ == b.image_; }

 private:
  explicit Surface(QImage image) : image_(std::move(image)) {}

  QImage image_;
};

}  // namespace gui
