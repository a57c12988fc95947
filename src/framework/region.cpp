#include "framework/region.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

WindowRegion WindowRegion::RoundRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                     int32_t ellipse_width, int32_t ellipse_height) {
  WindowRegion region;
  if (right <= left || bottom <= top) return region;
  const int64_t width = int64_t(right) - left;
  const int64_t height = int64_t(bottom) - top;
  // The ellipse cannot be larger than the rectangle; a negative size counts by its magnitude.
  const double ew = std::min<double>(std::abs(double(ellipse_width)), double(width));
  const double eh = std::min<double>(std::abs(double(ellipse_height)), double(height));
  const double rx = ew / 2.0, ry = eh / 2.0;
  region.spans_.reserve(static_cast<size_t>(height));
  for (int64_t row = 0; row < height; ++row) {
    int64_t inset = 0;
    if (rx >= 1.0 && ry >= 1.0) {
      // Distance of the row's pixel centre from the nearer corner ellipse's centre line.
      double cy = row + 0.5;
      double dy = 0;
      if (cy < ry)
        dy = ry - cy;
      else if (cy > height - ry)
        dy = cy - (height - ry);
      if (dy > 0) {
        double t = 1.0 - (dy * dy) / (ry * ry);
        double dx = t > 0 ? rx * std::sqrt(t) : 0.0;
        inset = static_cast<int64_t>(std::lround(rx - dx));
      }
    }
    if (2 * inset >= width) continue;
    region.spans_.push_back(Span{static_cast<int32_t>(top + row),
                                 static_cast<int32_t>(left + inset),
                                 static_cast<int32_t>(right - inset)});
  }
  return region;
}

bool WindowRegion::Contains(int32_t x, int32_t y) const {
  for (const Span& s : spans_)
    if (s.y == y && x >= s.left && x < s.right) return true;
  return false;
}

RECT WindowRegion::Bounds() const {
  if (spans_.empty()) return RECT{};
  RECT r{spans_.front().left, spans_.front().y, spans_.front().right, spans_.back().y + 1};
  for (const Span& s : spans_) {
    r.left = std::min(r.left, s.left);
    r.right = std::max(r.right, s.right);
  }
  return r;
}
