#include "html/effect_plan.h"

#include <gtest/gtest.h>

#include "html/script_literal.h"

namespace {

std::vector<double> AllSteps(uint32_t duration, uint32_t interval) {
  std::vector<double> steps;
  EffectStepClock clock(duration, interval);
  while (auto t = clock.Next()) steps.push_back(*t);
  EXPECT_FALSE(clock.Next());  // over stays over
  return steps;
}

TEST(EffectStepsTest, AccumulatedFractionDecidesTheStepCount) {
  EXPECT_EQ(AllSteps(300, 30).size(), 11u);  // ten additions of 0.1 stay below 1
  EXPECT_EQ(AllSteps(1000, 40).size(), 25u);
  EXPECT_EQ(AllSteps(500, 25).size(), 20u);
  EXPECT_EQ(AllSteps(100, 100), std::vector<double>{0.0});
  EXPECT_EQ(AllSteps(100, 500), std::vector<double>{0.0});
  EXPECT_TRUE(AllSteps(300, 0).empty());
  EXPECT_TRUE(AllSteps(0, 30).empty());
  // A negative number is read as a huge unsigned one: one step, not a loop or a crash.
  EXPECT_EQ(AllSteps(300, static_cast<uint32_t>(-1)).size(), 1u);
}

TEST(EffectStepsTest, StepsOfAnEndlessDurationComeOneByOne) {
  EffectStepClock clock(static_cast<uint32_t>(-1), 10);  // "-1": 4294967295 ms
  EXPECT_EQ(clock.Next(), 0.0);
  EXPECT_DOUBLE_EQ(*clock.Next(), 10.0 / 4294967295.0);
  EXPECT_DOUBLE_EQ(*clock.Next(), 20.0 / 4294967295.0);
}

TEST(EffectPlacementTest, CornersAlignWindowEdgesAndBoxEdges) {
  const RECT work{0, 0, 1920, 1040};
  const RECT box{0, 0, 300, 200};
  EXPECT_EQ(CornerOrigin(1, box, work), (EffectOrigin{0, 0}));
  EXPECT_EQ(CornerOrigin(2, box, work), (EffectOrigin{1620, 0}));
  EXPECT_EQ(CornerOrigin(3, box, work), (EffectOrigin{0, 840}));
  EXPECT_EQ(CornerOrigin(4, box, work), (EffectOrigin{1620, 840}));
  EXPECT_EQ(CornerOrigin(4, RECT{0, 0, 150, 200}, work), (EffectOrigin{1770, 840}));
  EXPECT_FALSE(CornerOrigin(0, box, work));
  EXPECT_FALSE(CornerOrigin(5, box, work));
}

TEST(EffectPlacementTest, VerticalMoveDropsAtTopAndSinksAtBottom) {
  const RECT work{10, 20, 1930, 1060};
  const RECT box{0, 0, 300, 200};
  EXPECT_EQ(VerticalMoveOrigin(1, box, work, 0), (EffectOrigin{10, -180}));
  EXPECT_EQ(VerticalMoveOrigin(1, box, work, 200), (EffectOrigin{10, 20}));
  EXPECT_EQ(VerticalMoveOrigin(2, box, work, 200), (EffectOrigin{1630, 20}));
  EXPECT_EQ(VerticalMoveOrigin(4, box, work, 0), (EffectOrigin{1630, 860}));
  EXPECT_EQ(VerticalMoveOrigin(4, box, work, 200), (EffectOrigin{1630, 1060}));
  EXPECT_EQ(VerticalMoveOrigin(3, box, work, 0), (EffectOrigin{10, 860}));
  EXPECT_EQ(VerticalMoveOrigin(3, box, work, 200), (EffectOrigin{10, 1060}));
  EXPECT_FALSE(VerticalMoveOrigin(7, box, work, 0));
}

TEST(EffectFieldsTest, FieldsAreReadAsLeadingNumbers) {
  EXPECT_EQ(ParseEffectFields(u"300,30,0,0,4,0,255"),
            (std::vector<int32_t>{300, 30, 0, 0, 4, 0, 255}));
  EXPECT_EQ(ParseEffectFields(u" 500x,,1,-2,4,"), (std::vector<int32_t>{500, 0, 1, -2, 4}));
  EXPECT_TRUE(ParseEffectFields(u"").empty());
}

TEST(ScriptLiteralTest, NothingInTheTextCanEndTheLiteral) {
  EXPECT_EQ(EscapeForScriptLiteral(u"It's"), u"It\\'s");
  EXPECT_EQ(EscapeForScriptLiteral(u"a\\b\"c"), u"a\\\\b\\\"c");
  EXPECT_EQ(EscapeForScriptLiteral(u"1\n2\r3\u20284</script>"),
            u"1\\n2\\r3\\u20284\\u003c/script>");
  EXPECT_EQ(EscapeForScriptLiteral(u"\x01"), u"\\u0001");
  EXPECT_EQ(EscapeForScriptLiteral(u"标题"), u"标题");
}

}  // namespace
