#include "html/effect_plan.h"

#include <algorithm>
#include <cstdint>

#include "base/decimal.h"
#include "base/split.h"

EffectStepClock::EffectStepClock(uint32_t duration, uint32_t interval) {
  // A zero fraction would never reach 1; a zero duration has nothing to spread over.
  done_ = duration == 0 || interval == 0;
  if (!done_) fraction_ = static_cast<double>(interval) / static_cast<double>(duration);
}

std::optional<double> EffectStepClock::Next() {
  if (done_ || t_ >= 1) {
    done_ = true;
    return std::nullopt;
  }
  const double t = t_;
  t_ += fraction_;
  return t;
}

namespace {

// The sums below take page geometry, which a page can make as large as a 32-bit number holds
// (a transformed element's box); they are done in 64 bits and a position beyond the 32-bit range
// stops at its end instead of wrapping around to the other side of the screen.
int Saturated(int64_t value) {
  return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

EffectOrigin At(int64_t x, int64_t y) {
  return EffectOrigin{Saturated(x), Saturated(y)};
}

}  // namespace

std::optional<EffectOrigin> CornerOrigin(int corner, const RECT& box, const RECT& work_area) {
  const RECT& a = work_area;
  switch (corner) {
    case 1:
      return At(a.left, a.top);
    case 2:
      return At(int64_t{a.right} - box.right, a.top);
    case 3:
      return At(a.left, int64_t{a.bottom} - box.bottom);
    case 4:
      return At(int64_t{a.right} - box.right, int64_t{a.bottom} - box.bottom);
    default:
      return std::nullopt;
  }
}

std::optional<EffectOrigin> VerticalMoveOrigin(int corner, const RECT& box, const RECT& work_area,
                                               int offset) {
  const RECT& a = work_area;
  const int64_t rise = int64_t{box.top} - box.bottom + offset;
  const int64_t right = int64_t{a.right} - box.right + box.left;
  switch (corner) {
    case 1:
      return At(a.left, a.top + rise);
    case 2:
      return At(right, a.top + rise);
    case 3:
      return At(a.left, a.bottom + rise);
    case 4:
      return At(right, a.bottom + rise);
    default:
      return std::nullopt;
  }
}

std::vector<int32_t> ParseEffectFields(TextView effect) {
  std::vector<int32_t> fields;
  for (const Text& field : SplitText(effect, u',')) fields.push_back(WToI(field));
  return fields;
}
