// A producer's gestures on a control, apart from any toolkit: the wheel's
// step from the table, a slider's drag changing pace without a jump, a
// double click's timing and a typed value.
#include "editors/control_gestures.h"

#include <gtest/gtest.h>

#include "instrument/registry.h"

namespace ondelith {
namespace {

Bounds wholeRange(int index) { return {parameter(index).minimum, parameter(index).maximum}; }

TEST(ControlGestures, TheWheelCrossesARangeInAboutAHundredNotches) {
  for (int index :
       {kCutoffIndex, kVolumeIndex, kAttackIndex, modIndex(kRowX1), pointIndex(kRowY2)}) {
    SCOPED_TRACE(parameter(index).symbol);
    const Bounds b = wholeRange(index);
    const int32_t coarse = wheelStep(index, b, false), fine = wheelStep(index, b, true);
    EXPECT_LE((b.maximum - b.minimum) / coarse, 100 + (b.maximum - b.minimum) % 100);
    EXPECT_EQ(fine, std::max<int32_t>(parameter(index).step, 1));
    EXPECT_GE(coarse, fine);
  }
  EXPECT_EQ(wheelStep(kChannelIndex, wholeRange(kChannelIndex), false), 1);
}

TEST(ControlGestures, AFineDragMovesATenthAndChangingPaceNeverJumps) {
  const Bounds b{0, 1000};
  SliderDrag d(500, 100, false);
  EXPECT_EQ(d.moved(90, false, b, 100), 600);  // 10 pixels up: a tenth of the range
  EXPECT_EQ(d.moved(90, true, b, 100), 600);   // Shift pressed: no jump
  EXPECT_EQ(d.moved(80, true, b, 100), 610);
  EXPECT_EQ(d.moved(80, false, b, 100), 610);  // released: none either
  EXPECT_EQ(d.moved(-500, false, b, 100), 1000);
}

TEST(ControlGestures, ADoubleClickIsTwoPressesOnOneTargetInTime) {
  DoubleClick c;
  EXPECT_FALSE(c.press(3, 1000));
  EXPECT_TRUE(c.press(3, 1000 + DoubleClick::kDoubleClickMs));
  EXPECT_FALSE(c.press(3, 1500));  // a third press starts afresh
  EXPECT_FALSE(c.press(4, 1600));  // another target
  EXPECT_FALSE(c.press(4, 1600 + DoubleClick::kDoubleClickMs + 1));
}

TEST(ControlGestures, ATypedValueReplacesTheTextAndIsReadAsTheTableReadsIt) {
  ValueEntry e;
  e.begin(pointIndex(kRowX1), 50);
  EXPECT_EQ(e.text(), parameterText(pointIndex(kRowX1), 50));
  e.type('0', "0");
  e.type('.', ".");
  e.type('7', "7");
  e.type('5', "5");
  e.type(8, "");
  EXPECT_EQ(e.text(), "0.7");
  EXPECT_EQ(e.apply(), std::optional<int32_t>(70));
  EXPECT_FALSE(e.active());
  e.begin(kVolumeIndex, 400);
  e.type('x', "x");
  EXPECT_EQ(e.apply(), std::nullopt);
}

TEST(ControlGestures, ACurvePointReadsAsTimeAndDepth) {
  CurveModel m;
  initCurve(m, kCurveGridWidth, kCurveGridHeight, kCurvePointCount, kCurveLayoutMargin);
  moveCurvePoint(m, 7, {kCurveGridWidth, 0});
  EXPECT_EQ(curvePointReadout(m, 7, 2000), "2000 ms, 100 %");
  moveCurvePoint(m, 0, {0, kCurveGridHeight});
  EXPECT_EQ(curvePointReadout(m, 0, 2000), "0 ms, 0 %");
}

}  // namespace
}  // namespace ondelith
