// Elliptic shapes by the classic raster rules: the pixels of an ellipse's outline and the
// region an elliptic window keeps.
#pragma once

#include <QRegion>

#include <vector>

#include "platform/gui/geometry.h"

namespace gui {

// The one-pixel outline of the ellipse whose leftmost, topmost, rightmost and bottommost pixels
// lie on the columns left and right - 1 and the rows top and bottom - 1 of `box` (the pixels of
// Ellipse(box) with a one-pixel pen). Points may repeat. Empty for an empty box, and for a box
// wider or taller than 32767 pixels.
std::vector<Point> EllipseOutline(const Rect& box);

// The region of CreateEllipticRgn(left, top, right, bottom): the ellipse inscribed in the box
// one pixel narrower and shorter, [left, right - 1) x [top, bottom - 1), each row a whole span.
// A box less than three pixels wide or high gives that smaller rectangle. W = 8, H = 6 keeps
//   ..###...
//   #######.
//   #######.
//   #######.
//   ..###...
QRegion CreateEllipticRgn(int left, int top, int right, int bottom);

}  // namespace gui
