// A window clip region as horizontal spans, rasterised the way the platform's round-rectangle
// regions are: right and bottom edges exclusive, corners cut by an ellipse of the given size.
// Pure data; safe on any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "base/win_types.h"

struct Span {
  int32_t y;
  int32_t left;   // inclusive
  int32_t right;  // exclusive
  friend bool operator==(const Span&, const Span&) = default;
};

class WindowRegion {
 public:
  WindowRegion() = default;
  // The rectangle (left, top) .. (right, bottom), corners rounded by an ellipse `ellipse_width` ×
  // `ellipse_height` (0 for square corners). An empty or inverted rectangle gives an empty region.
  static WindowRegion RoundRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                int32_t ellipse_width, int32_t ellipse_height);

  [[nodiscard]] const std::vector<Span>& spans() const { return spans_; }
  [[nodiscard]] bool empty() const { return spans_.empty(); }
  [[nodiscard]] bool Contains(int32_t x, int32_t y) const;
  [[nodiscard]] RECT Bounds() const;

 private:
  std::vector<Span> spans_;
};
