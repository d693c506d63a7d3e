#include <gtest/gtest.h>

#include "app/synth.h"
#include "test_support.h"

namespace ondelith {
namespace {

TEST(Controls, EveryIdOnceAndOnlyValidIds) {
  int count = 0;
  for (int id = -5; id < 200; ++id) {
    const ControlInfo* s = findControl(id);
    if (!s) continue;
    ++count;
    EXPECT_EQ(s->id, id);
    EXPECT_TRUE(id >= 2 && id < kControlIdLimit && id != 23) << id;
  }
  EXPECT_EQ(count, kControlIdLimit - 3);  // every id but 0, 1 and 23
}

TEST(Controls, WobbleGridRowsRepeatEightyPixelsDown) {
  for (int r = 0; r < kWobbleRows; ++r) {
    const ControlInfo* mod = findControl(spinModId(r));
    const ControlInfo* coarse = findControl(spinCoarseId(r));
    const ControlInfo* fine = findControl(spinFineId(r));
    ASSERT_TRUE(mod && coarse && fine);
    EXPECT_EQ(mod->y, 260 + 80 * r);
    EXPECT_EQ(coarse->y, 260 + 80 * r);
    EXPECT_EQ(fine->y, 260 + 80 * r);
    EXPECT_EQ(findControl(kLabelMod0 + r)->y, 240 + 80 * r);
    EXPECT_EQ(findControl(kLabelCoarse0 + 2 * r)->y, 240 + 80 * r);
    EXPECT_EQ(findControl(kLabelFine0 + 2 * r)->y, 240 + 80 * r);
    EXPECT_EQ(curveEditorPlace(r).y, 240 + 80 * r);
    EXPECT_EQ(mod->minimum, -100);
    EXPECT_EQ(coarse->maximum, 15);
    EXPECT_EQ(fine->maximum, 99);
  }
}

TEST(Controls, SlidersStopAtTheirEnds) {
  ControlModel m;
  initControls(m);
  EXPECT_EQ(setControlValue(m, kSliderY2, 150), 99);
  EXPECT_EQ(setControlValue(m, kSliderY2, 0), 50);
  EXPECT_EQ(setControlValue(m, kSliderY1, 60), 49);
  EXPECT_EQ(setControlValue(m, kSliderY1, -3), 0);
  EXPECT_EQ(setControlValue(m, spinModId(0), -101), -100);
  EXPECT_EQ(setControlValue(m, kSliderA, std::numeric_limits<int32_t>::min()), 1);
  EXPECT_EQ(controlValue(m, kSliderA), 1);
  EXPECT_EQ(setControlValue(m, 23, 5), 0);  // no such control
  EXPECT_EQ(readControl(m.mirror, -1), 0);
  EXPECT_EQ(readControl(m.mirror, 999), 0);
}

TEST(Controls, StartState) {
  auto s = test::makeSynth();
  EXPECT_EQ(controlValue(s->controls, kSliderY1), 5);
  EXPECT_FLOAT_EQ(displayPoints(*s).y1, 0.05f);
  EXPECT_EQ(s->engine.params.get(Param::Volume), 400.0f);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 2000.0f);
  EXPECT_EQ(s->engine.params.get(Param::Cutoff), 1500.0);
  EXPECT_EQ(s->engine.params.get(Param::Resonance), 50);
  EXPECT_EQ(s->engine.params.get(Param::Attack), 0.001);
  EXPECT_EQ(s->engine.voice.previousFrequency.load(), 100.0);
  EXPECT_EQ(s->curveBuffer.size(), 2u);
  EXPECT_EQ(controlValue(s->controls, kSpinDurationRange), 2);
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurveEditor* ed = findCurveEditor(s->editors, curveEditorId(*s, row));
    ASSERT_NE(ed, nullptr);
    EXPECT_EQ(ed->handleRadius, 3);
    EXPECT_EQ(ed->grabTolerance, 10);
    EXPECT_EQ(ed->model->rangeX, 380.0f);
    EXPECT_EQ(ed->model->rangeY, 10000.0f);
    EXPECT_EQ(ed->model->pointCount, 8);
    EXPECT_EQ(curvePoint(*ed, 4).x, 89);  // laid out with the creation radius
  }
}

TEST(Controls, EventsFeedTheirFields) {
  auto s = test::makeSynth();
  EngineParams& p = s->engine.params;
  applyControlEvent(*s, kSliderF, 800);
  applyControlEvent(*s, kSliderRes, 77);
  applyControlEvent(*s, kSliderA, 250);
  applyControlEvent(*s, kSliderD, 4000);
  applyControlEvent(*s, kSliderS, 35);
  applyControlEvent(*s, kSliderR, 5000);
  applyControlEvent(*s, kSliderVol, 1500);
  applyControlEvent(*s, kSliderDuration, 7000);
  test::settle(*s);
  EXPECT_EQ(p.get(Param::Cutoff), 800.0);
  EXPECT_EQ(p.get(Param::Resonance), 77);
  EXPECT_DOUBLE_EQ(p.get(Param::Attack), 0.25);
  EXPECT_DOUBLE_EQ(p.get(Param::Decay), 4.0);
  EXPECT_DOUBLE_EQ(p.get(Param::Sustain), 0.35);
  EXPECT_DOUBLE_EQ(p.get(Param::Release), 5.0);
  EXPECT_EQ(p.get(Param::Volume), 1500.0f);
  EXPECT_EQ(p.get(Param::WobbleDuration), 7000.0f);
  EXPECT_TRUE(applyControlEvent(*s, kSliderX1, 17));
  EXPECT_FLOAT_EQ(displayPoints(*s).x1, 0.17f);
  EXPECT_TRUE(applyControlEvent(*s, kSliderY2, 200));  // stops at 99
  EXPECT_FLOAT_EQ(displayPoints(*s).y2, 0.99f);
  // Spin boxes change no engine field.
  EXPECT_FALSE(applyControlEvent(*s, spinModId(1), 30));
  EXPECT_EQ(controlValue(s->controls, spinModId(1)), 30);
  test::settle(*s);
  EXPECT_EQ(p.get(Param::Cutoff), 800.0);
}

TEST(Controls, SpinTexts) {
  EXPECT_EQ(spinText(spinFineId(0), 5), ".05");
  EXPECT_EQ(spinText(spinFineId(1), 10), ".10");
  EXPECT_EQ(spinText(spinFineId(2), 99), ".99");
  EXPECT_EQ(spinText(spinFineId(3), 0), ".00");
  EXPECT_EQ(spinText(spinModId(0), -100), "-100");
  EXPECT_EQ(spinText(spinModId(3), -35), "-35");
  EXPECT_EQ(spinText(spinCoarseId(2), 12), "12");
  EXPECT_EQ(spinText(spinCoarseId(2), 0), "0");
}

TEST(Controls, DurationRangeSwitchesBothWays) {
  auto s = test::makeSynth();
  applyControlEvent(*s, kSliderDuration, 9000);
  applyControlEvent(*s, kSpinDurationRange, 1);
  EXPECT_EQ(s->controls.range[kSliderDuration].minimum, 100);
  EXPECT_EQ(s->controls.range[kSliderDuration].maximum, 1000);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 400);
  test::settle(*s);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 400.0f);
  applyControlEvent(*s, kSpinDurationRange, 2);
  EXPECT_EQ(s->controls.range[kSliderDuration].minimum, 1000);
  EXPECT_EQ(s->controls.range[kSliderDuration].maximum, 10000);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 2000);
  test::settle(*s);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 2000.0f);
  // Another range does nothing.
  setDurationRange(*s, 3, 50);
  test::settle(*s);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 2000);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 2000.0f);
}

}  // namespace
}  // namespace ondelith
