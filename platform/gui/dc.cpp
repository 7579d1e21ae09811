#include "platform/gui/dc.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/gui/region.h"

namespace gui {

namespace {

using i64 = std::int64_t;

// The part of a rectangle that lies on the surface.
Rect ClipBox(const Surface& surface, i64 left, i64 top, i64 right, i64 bottom) {
  return {static_cast<int>(std::max<i64>(left, 0)), static_cast<int>(std::max<i64>(top, 0)),
          static_cast<int>(std::min<i64>(right, surface.width())),
          static_cast<int>(std::min<i64>(bottom, surface.height()))};
}

// Calls op(pixel&, brush pixel) for every pixel of the box that the brush covers. A hatch bit
// that is clear covers the pixel only with an opaque background.
template <class Op>
void ForEachBrushPixel(Surface& surface, const Rect& box, const Brush& brush, ColorRef bk_color,
                       BkMode bk_mode, Op op) {
  if (box.IsEmpty()) return;
  switch (brush.kind()) {
    case Brush::Kind::kNull:
      return;
    case Brush::Kind::kSolid: {
      const std::uint32_t px = ToPixel(brush.color());
      for (int y = box.top; y < box.bottom; ++y) {
        std::uint32_t* row = surface.Row(y);
        for (int x = box.left; x < box.right; ++x) op(row[x], px);
      }
      return;
    }
    case Brush::Kind::kHatch: {
      const std::uint32_t fore = ToPixel(brush.color());
      const std::uint32_t back = ToPixel(bk_color);
      const bool opaque = bk_mode == BkMode::kOpaque;
      for (int y = box.top; y < box.bottom; ++y) {
        const unsigned bits = HatchRow(brush.hatch_style(), y % 8);
        std::uint32_t* row = surface.Row(y);
        for (int x = box.left; x < box.right; ++x) {
          const bool set = (bits >> (7 - x % 8)) & 1u;
          if (set) {
            op(row[x], fore);
          } else if (opaque) {
            op(row[x], back);
          }
        }
      }
      return;
    }
    case Brush::Kind::kPattern: {
      // The brush holds its own reference to the pixels, so this surface can be its source.
      const Surface& pattern = brush.pattern();
      const int pw = pattern.width();
      const int ph = pattern.height();
      for (int y = box.top; y < box.bottom; ++y) {
        const std::uint32_t* prow = pattern.Row(y % ph);
        std::uint32_t* row = surface.Row(y);
        for (int x = box.left; x < box.right; ++x) op(row[x], prow[x % pw]);
      }
      return;
    }
  }
}

void Copy(std::uint32_t& dst, std::uint32_t src) { dst = src; }

void FillBox(Surface& surface, i64 left, i64 top, i64 right, i64 bottom, ColorRef color) {
  const Rect box = ClipBox(surface, left, top, right, bottom);
  if (box.IsEmpty()) return;
  const std::uint32_t px = ToPixel(color);
  for (int y = box.top; y < box.bottom; ++y) {
    std::uint32_t* row = surface.Row(y);
    std::fill(row + box.left, row + box.right, px);
  }
}

void Put(Surface& surface, i64 x, i64 y, std::uint32_t px) {
  if (x < 0 || y < 0 || x >= surface.width() || y >= surface.height()) return;
  surface.Row(static_cast<int>(y))[x] = px;
}

// The pixels of a line without its end point; see the contract in dc.h. Pixel k along the major
// axis sits q(k) minor steps from the start, q(k) = floor((2km + M - 1 + bias) / 2M), which is
// the Bresenham walk with its direction bias in closed form (m and M are the line's minor and
// major extents, small_m and big_m below). Only the k whose major coordinate lies on the surface
// are visited, so a line far outside costs nothing.
void SolidLine(Surface& surface, i64 x0, i64 y0, i64 x1, i64 y1, std::uint32_t px) {
  const i64 dx = x1 - x0;
  const i64 dy = y1 - y0;
  if (dx == 0 && dy == 0) return;
  // Straight lines, the common case (gradients are made of them), as spans.
  if (dy == 0) {
    FillBox(surface, dx > 0 ? x0 : x1 + 1, y0, dx > 0 ? x1 : x0 + 1, y0 + 1, FromPixel(px));
    return;
  }
  if (dx == 0) {
    FillBox(surface, x0, dy > 0 ? y0 : y1 + 1, x0 + 1, dy > 0 ? y1 : y0 + 1, FromPixel(px));
    return;
  }
  const bool x_major = (dx < 0 ? -dx : dx) > (dy < 0 ? -dy : dy);
  const i64 major_delta = x_major ? dx : dy;
  const i64 minor_delta = x_major ? dy : dx;
  const i64 big_m = major_delta < 0 ? -major_delta : major_delta;
  const i64 small_m = minor_delta < 0 ? -minor_delta : minor_delta;
  const int major_step = major_delta < 0 ? -1 : 1;
  const int minor_step = minor_delta < 0 ? -1 : (minor_delta > 0 ? 1 : 0);
  // A tie goes to the smaller minor coordinate: when the minor coordinate falls, step early.
  const i64 bias = minor_delta < 0 ? 1 : 0;

  const i64 major0 = x_major ? x0 : y0;
  const i64 minor0 = x_major ? y0 : x0;
  const i64 major_size = x_major ? surface.width() : surface.height();
  i64 k_begin = 0;
  i64 k_end = big_m;
  if (major_step > 0) {
    k_begin = std::max<i64>(k_begin, -major0);
    k_end = std::min<i64>(k_end, major_size - major0);
  } else {
    k_begin = std::max<i64>(k_begin, major0 - major_size + 1);
    k_end = std::min<i64>(k_end, major0 + 1);
  }
  if (k_begin >= k_end) return;

  // q and its remainder at k_begin; 2 * k * m can pass 64 bits for lines across the int range.
  __extension__ using i128 = __int128;
  const i128 numerator = i128{2} * k_begin * small_m + big_m - 1 + bias;
  i64 q = static_cast<i64>(numerator / (i128{2} * big_m));
  i64 rem = static_cast<i64>(numerator % (i128{2} * big_m));
  for (i64 k = k_begin; k < k_end; ++k) {
    const i64 major = major0 + major_step * k;
    const i64 minor = minor0 + minor_step * q;
    if (x_major) {
      Put(surface, major, minor, px);
    } else {
      Put(surface, minor, major, px);
    }
    rem += 2 * small_m;
    if (rem >= 2 * big_m) {
      rem -= 2 * big_m;
      ++q;
    }
  }
}

}  // namespace

Dc::Dc(Surface& surface)
    : surface_(&surface), pen_(Pen(0x000000)), brush_(Brush::Solid(0xFFFFFF)) {}

void Dc::FillRect(const Rect& rect, const Brush& brush) {
  const Rect box = ClipBox(*surface_, rect.left, rect.top, rect.right, rect.bottom);
  if (brush.kind() == Brush::Kind::kSolid) {
    FillBox(*surface_, box.left, box.top, box.right, box.bottom, brush.color());
    return;
  }
  ForEachBrushPixel(*surface_, box, brush, bk_color_, bk_mode_, Copy);
}

void Dc::FrameRect(const Rect& rect, const Brush& brush) {
  if (rect.IsEmpty()) return;
  const i64 l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
  const auto paint = [&](i64 left, i64 top, i64 right, i64 bottom) {
    ForEachBrushPixel(*surface_, ClipBox(*surface_, left, top, right, bottom), brush, bk_color_,
                      bk_mode_, Copy);
  };
  paint(l, t, r, t + 1);
  paint(l, b - 1, r, b);
  paint(l, t, l + 1, b);
  paint(r - 1, t, r, b);
}

void Dc::LineTo(int x, int y) {
  const Point from = position_;
  position_ = {x, y};
  if (pen_.IsNull()) return;
  SolidLine(*surface_, from.x, from.y, x, y, ToPixel(pen_.color()));
}

void Dc::SetPixel(int x, int y, ColorRef color) { Put(*surface_, x, y, ToPixel(color)); }

void Dc::DrawEdge(const Rect& rect, Edge edge, EdgeFlags flags) {
  const auto bits = static_cast<unsigned>(edge);
  const bool two_rings = (bits & 0xC) != 0;
  // Outer ring: raised is light over dark shadow, sunken shadow over highlight. Inner ring:
  // raised is highlight over shadow, sunken dark shadow over light.
  const bool outer_raised = (bits & 0x1) != 0;
  const bool inner_raised = (bits & 0x4) != 0;
  const ColorRef outer_tl = GetSysColor(outer_raised ? SysColor::k3dLight : SysColor::kBtnShadow);
  const ColorRef outer_br =
      GetSysColor(outer_raised ? SysColor::k3dDkShadow : SysColor::kBtnHighlight);
  const ColorRef inner_tl =
      GetSysColor(inner_raised ? SysColor::kBtnHighlight : SysColor::k3dDkShadow);
  const ColorRef inner_br = GetSysColor(inner_raised ? SysColor::kBtnShadow : SysColor::k3dLight);

  if (flags != EdgeFlags::kRect || rect.IsEmpty()) return;
  const i64 l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
  Surface& surface = *surface_;
  FillBox(surface, l, t, r, t + 1, outer_tl);
  FillBox(surface, l, t, l + 1, b, outer_tl);
  FillBox(surface, l, b - 1, r, b, outer_br);
  FillBox(surface, r - 1, t, r, b, outer_br);
  if (two_rings) {
    FillBox(surface, l + 1, t + 1, r - 1, t + 2, inner_tl);
    FillBox(surface, l + 1, t + 1, l + 2, b - 1, inner_tl);
    FillBox(surface, l + 1, b - 2, r - 1, b - 1, inner_br);
    FillBox(surface, r - 2, t + 1, r - 1, b - 1, inner_br);
  }
}

void Dc::PatBlt(int x, int y, int width, int height, Rop rop) {
  if (width <= 0 || height <= 0 || rop != Rop::kPatCopy) return;
  ForEachBrushPixel(*surface_, ClipBox(*surface_, x, y, i64{x} + width, i64{y} + height), brush_,
                    bk_color_, bk_mode_, Copy);
}

void Dc::Ellipse(const Rect& rect) {
  if (brush_.kind() != Brush::Kind::kNull) {
    const QRegion inside = CreateEllipticRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1);
    for (const QRect& span : inside) {
      ForEachBrushPixel(*surface_,
                        ClipBox(*surface_, span.left(), span.top(), i64{span.right()} + 1,
                                i64{span.bottom()} + 1),
                        brush_, bk_color_, bk_mode_, Copy);
    }
  }
  if (pen_.IsNull()) return;
  const int w = pen_.width();
  const std::uint32_t px = ToPixel(pen_.color());
  for (const Point& p : EllipseOutline(rect)) {
    const i64 left = i64{p.x} - w / 2;
    const i64 top = i64{p.y} - w / 2;
    if (w == 1) {
      Put(*surface_, left, top, px);
    } else {
      FillBox(*surface_, left, top, left + w, top + w, FromPixel(px));
    }
  }
}

void Dc::DrawFocusRect(const Rect& rect) {
  if (rect.IsEmpty()) return;
  Surface& surface = *surface_;
  const std::uint32_t odd = ToPixel(bk_color_) & 0x00FFFFFFu;
  const std::uint32_t even = ToPixel(text_color_) & 0x00FFFFFFu;
  const auto band = [&](i64 left, i64 top, i64 right, i64 bottom) {
    const Rect box = ClipBox(surface, left, top, right, bottom);
    for (int y = box.top; y < box.bottom; ++y) {
      std::uint32_t* row = surface.Row(y);
      for (int x = box.left; x < box.right; ++x) row[x] ^= (x + y) % 2 != 0 ? odd : even;
    }
  };
  const i64 l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
  // Four bands as four inverting pattern fills: top, bottom, then the sides between them.
  band(l, t, r, t + 1);
  band(l, b - 1, r, b);
  band(l, t + 1, l + 1, b - 1);
  band(r - 1, t + 1, r, b - 1);
}

void Dc::BitBlt(int x, int y, int width, int height, const Surface& source, int x_src, int y_src) {
  if (width <= 0 || height <= 0 || source.IsNull()) return;
  Surface& dst = *surface_;
  // Offsets within the block that land inside both surfaces.
  const i64 dx_begin = std::max<i64>({0, -i64{x}, -i64{x_src}});
  const i64 dx_end = std::min<i64>({width, i64{dst.width()} - x, i64{source.width()} - x_src});
  const i64 dy_begin = std::max<i64>({0, -i64{y}, -i64{y_src}});
  const i64 dy_end = std::min<i64>({height, i64{dst.height()} - y, i64{source.height()} - y_src});
  if (dx_begin >= dx_end || dy_begin >= dy_end) return;
  const auto count = static_cast<size_t>(dx_end - dx_begin);
  // A copy within one surface that moves rows down must go bottom-up not to read its own output;
  // memmove handles the overlap within a row. A different surface that merely shares pixels
  // with this one keeps them: writing detaches this one first.
  const bool bottom_up = &source == surface_ && y > y_src;
  for (i64 i = 0; i < dy_end - dy_begin; ++i) {
    const i64 dy = bottom_up ? dy_end - 1 - i : dy_begin + i;
    std::uint32_t* to = dst.Row(static_cast<int>(y + dy)) + (x + dx_begin);
    const std::uint32_t* from = source.Row(static_cast<int>(y_src + dy)) + (x_src + dx_begin);
    std::memmove(to, from, count * sizeof(std::uint32_t));
  }
}

}  // namespace gui
