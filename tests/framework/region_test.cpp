#include "framework/region.h"

#include <gtest/gtest.h>

TEST(WindowRegionTest, SquareCornersCoverTheRectangleWithExclusiveEdges) {
  WindowRegion r = WindowRegion::RoundRect(0, 0, 600, 400, 0, 0);
  EXPECT_EQ(r.Bounds(), (RECT{0, 0, 600, 400}));
  EXPECT_TRUE(r.Contains(0, 0));
  EXPECT_TRUE(r.Contains(599, 399));
  EXPECT_FALSE(r.Contains(600, 0));
  EXPECT_FALSE(r.Contains(0, 400));
}

TEST(WindowRegionTest, RoundedCornersAreCutSymmetrically) {
  // A 300 x 200 container with one extra pixel each way and 10-pixel corner ellipses.
  WindowRegion r = WindowRegion::RoundRect(0, 0, 301, 201, 10, 10);
  EXPECT_EQ(r.Bounds(), (RECT{0, 0, 301, 201}));
  EXPECT_FALSE(r.Contains(0, 0));
  EXPECT_FALSE(r.Contains(300, 0));
  EXPECT_FALSE(r.Contains(0, 200));
  EXPECT_FALSE(r.Contains(300, 200));
  EXPECT_TRUE(r.Contains(5, 0));    // top edge reaches the ellipse's middle
  EXPECT_TRUE(r.Contains(0, 100));  // left edge is whole away from the corners
  EXPECT_TRUE(r.Contains(150, 100));
  for (const Span& s : r.spans()) {
    SCOPED_TRACE(s.y);
    const Span& mirror = r.spans()[r.spans().size() - 1 - static_cast<size_t>(s.y)];
    EXPECT_EQ(s.left, mirror.left);    // top and bottom match
    EXPECT_EQ(s.left, 301 - s.right);  // left and right match
  }
}

TEST(WindowRegionTest, DegenerateInputs) {
  EXPECT_TRUE(WindowRegion::RoundRect(0, 0, 0, 0, 0, 0).empty());  // unreadable box
  EXPECT_TRUE(WindowRegion::RoundRect(10, 10, 5, 20, 0, 0).empty());
  // An ellipse larger than the rectangle rounds it fully but keeps it inside its bounds.
  WindowRegion pill = WindowRegion::RoundRect(0, 0, 40, 20, 500, 500);
  EXPECT_EQ(pill.Bounds(), (RECT{0, 0, 40, 20}));
  EXPECT_TRUE(pill.Contains(20, 10));
  EXPECT_FALSE(pill.Contains(0, 0));
  // Offsets are kept: the region sits where the container sits in the window.
  EXPECT_EQ(WindowRegion::RoundRect(70, 50, 390, 290, 0, 0).Bounds(), (RECT{70, 50, 390, 290}));
}
