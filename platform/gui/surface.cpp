#include "platform/gui/surface.h"

namespace gui {

Surface::Surface(int width, int height) {
  if (width <= 0 || height <= 0) return;
  image_ = QImage(width, height, QImage::Format_RGB32);
  // A bitmap fresh from the display driver reads as black; QImage leaves it undefined.
  if (!image_.isNull()) image_.fill(0xFF000000u);
}

Surface Surface::FromImage(const QImage& image) {
  if (image.isNull()) return Surface();
  return Surface(image.convertToFormat(QImage::Format_RGB32));
}

ColorRef Surface::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return kInvalidColor;
  return FromPixel(Row(y)[x]);
}

}  // namespace gui
