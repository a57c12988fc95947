#include <gtest/gtest.h>

#include <climits>

#include "html/effect_plan.h"

namespace {

// Page geometry at the ends of the 32-bit range (found by fuzzing the effect text): a position
// beyond the range stops at its end instead of wrapping to the far side.
TEST(EffectExtremesTest, PositionsBeyondTheRangeStopAtItsEnds) {
  const RECT area{1, 1, 1920, 1040};
  EXPECT_EQ(VerticalMoveOrigin(1, RECT{0, 0, 0, 0}, area, INT_MAX), (EffectOrigin{1, INT_MAX}));
  EXPECT_EQ(VerticalMoveOrigin(4, RECT{INT_MIN, INT_MAX, INT_MAX, INT_MIN}, area, INT_MAX),
            (EffectOrigin{INT_MIN, INT_MAX}));
  EXPECT_EQ(CornerOrigin(4, RECT{0, 0, INT_MIN, INT_MIN}, area), (EffectOrigin{INT_MAX, INT_MAX}));
  EXPECT_EQ(CornerOrigin(2, RECT{0, 0, INT_MAX, 0}, RECT{-2, 0, -2, 0}),
            (EffectOrigin{INT_MIN, 0}));
}

}  // namespace
