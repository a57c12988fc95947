#include "html/effect_plan.h"

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

std::optional<EffectOrigin> CornerOrigin(int corner, const RECT& box, const RECT& work_area) {
  const RECT& a = work_area;
  switch (corner) {
    case 1:
      return EffectOrigin{a.left, a.top};
    case 2:
      return EffectOrigin{a.right - box.right, a.top};
    case 3:
      return EffectOrigin{a.left, a.bottom - box.bottom};
    case 4:
      return EffectOrigin{a.right - box.right, a.bottom - box.bottom};
    default:
      return std::nullopt;
  }
}

std::optional<EffectOrigin> VerticalMoveOrigin(int corner, const RECT& box, const RECT& work_area,
                                               int offset) {
  const RECT& a = work_area;
  const int rise = box.top - box.bottom + offset;
  switch (corner) {
    case 1:
      return EffectOrigin{a.left, a.top + rise};
    case 2:
      return EffectOrigin{a.right - box.right + box.left, a.top + rise};
    case 3:
      return EffectOrigin{a.left, a.bottom + rise};
    case 4:
      return EffectOrigin{a.right - box.right + box.left, a.bottom + rise};
    default:
      return std::nullopt;
  }
}

std::vector<int32_t> ParseEffectFields(TextView effect) {
  std::vector<int32_t> fields;
  for (const Text& field : SplitText(effect, u',')) fields.push_back(WToI(field));
  return fields;
}
