// The effect text page script hands to ShowEffect ("duration,interval,kind,mode,corner,start,
// end"), read into numbers and planned the way an effect runs: its steps, taken one at a time,
// and its corner origins. The seed corpus holds "-1,1,0,0,1,0,0", a duration of 4294967295 ms in
// 1 ms steps, whose steps were once all computed ahead and ran out of memory.
#include "fuzz_input.h"
#include "html/effect_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<int32_t> fields = ParseEffectFields(Utf16Units(data, size));
  auto field = [&](size_t i) { return i < fields.size() ? fields[i] : 0; };
  EffectStepClock clock(static_cast<uint32_t>(field(0)), static_cast<uint32_t>(field(1)));
  double last = -1;
  // Enough steps to see the walk; a long animation is not run to its end here.
  for (int i = 0; i < 4096; ++i) {
    std::optional<double> t = clock.Next();
    if (!t) break;
    FUZZ_CHECK(*t >= 0 && *t < 1 && *t > last);
    last = *t;
  }
  const RECT box{field(2), field(3), field(4), field(5)};
  const RECT area{0, 0, 1920, 1040};
  (void)CornerOrigin(field(4), box, area);
  (void)VerticalMoveOrigin(field(4), box, area, field(6));
  return 0;
}
