// The arithmetic of window effects: the step fractions of an animation, where a window goes at
// a corner of the work area, and the vertical move of a slide. Thread-safe: pure.
#pragma once

#include <optional>
#include <vector>

#include "base/text.h"
#include "base/win_types.h"

struct EffectOrigin {
  int x;
  int y;
  friend bool operator==(const EffectOrigin&, const EffectOrigin&) = default;
};

// The values of t for which a step runs, one at a time as the animation goes (a duration of
// 4294967295 ms has a hundred million steps; none is computed ahead): 0, then t plus
// interval / duration (both unsigned, accumulated by repeated addition) while t < 1. A duration
// or interval of 0 gives no steps: the effect goes straight to its final state.
class EffectStepClock {
 public:
  EffectStepClock(uint32_t duration, uint32_t interval);
  // The next step's t, or nothing once the steps are over.
  [[nodiscard]] std::optional<double> Next();

 private:
  double fraction_ = 0;
  double t_ = 0;
  bool done_ = false;
};

// The window origin that puts `box` (the container box, in window coordinates) at `corner` of
// the work area: 1 top-left, 2 top-right, 3 bottom-left, 4 bottom-right. Left and top align the
// window's edge, right and bottom the box's right and bottom. Other corners: none.
[[nodiscard]] std::optional<EffectOrigin> CornerOrigin(int corner, const RECT& box,
                                                       const RECT& work_area);

// Slide mode 0: the window drops from above the work area into a top corner, or sinks below its
// bottom edge at a bottom corner, `offset` pixels of the container's height C.bottom along the
// way. Corner 3 mirrors corner 4 on the left edge. Other corners: none.
[[nodiscard]] std::optional<EffectOrigin> VerticalMoveOrigin(int corner, const RECT& box,
                                                             const RECT& work_area, int offset);

// The fields of an effect text ("duration,interval,kind,mode,corner,start,end"), each read as
// _wtoi reads a number; empty fields between commas count, a trailing empty field does not.
[[nodiscard]] std::vector<int32_t> ParseEffectFields(TextView effect);
