#include "engine/modulation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/render.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::makeSynth;
using test::noteOnWord;

// Puts every point of a row's curve on one pixel row (0 is the top).
void flatCurve(Synth& s, int row, int pixelRow) {
  CurveModel& ed = *findCurveEditor(s.editors, curveEditorId(s, row))->model;
  for (int i = 0; i < kCurvePointCount; ++i) moveCurvePoint(ed, i, {curvePoint(ed, i).x, pixelRow});
  curveChanged(s.editors, curveEditorId(s, row));
}

struct Range {
  float low, high;
};

// Plays note 69 with the given wobble on one row and reports the range the
// track's position covers once the attack is under way.
Range wobbleRange(Synth& s, int row, int slider, int mod, int coarse, int frames = 20000) {
  applyControlEvent(s, pointSliderId(row), slider);
  applyControlEvent(s, spinModId(row), mod);
  applyControlEvent(s, spinCoarseId(row), coarse);
  test::play(s, noteOnWord(69, 100));
  Range r{1e9f, -1e9f};
  float out;
  const float& position = s.engine.wobble.position[static_cast<size_t>(row)];
  for (int i = 0; i < frames; ++i) {
    s.engine.render(&out, 1);
    r.low = std::min(r.low, position);
    r.high = std::max(r.high, position);
  }
  return r;
}

TEST(Wobble, SamplesOfTheDuration) {
  EXPECT_EQ(wobbleSamplesFor(2000.0f, 44100.0), 88200);
  EXPECT_EQ(wobbleSamplesFor(400.0f, 44100.0), 17640);
  EXPECT_EQ(wobbleSamplesFor(10000.0f, 44100.0), 441000);
  EXPECT_EQ(wobbleSamplesFor(1e30f, 44100.0), std::numeric_limits<int32_t>::max());
}

TEST(Wobble, SetUpSetsTheCurveRangesToTheDuration) {
  auto s = makeSynth();
  applyControlEvent(*s, kSliderDuration, 3000);
  test::play(*s, noteOnWord(69, 100));
  float out;
  s->engine.render(&out, 1);
  EXPECT_EQ(s->engine.wobble.samples, 132300);
  // The voice reads its curves over the duration; the editors' ranges stay the window's.
  for (int row = 0; row < kWobbleRows; ++row)
    EXPECT_EQ(s->engine.wobble.curves[static_cast<size_t>(row)].lookup.limit, 132299);
}

TEST(Wobble, SwingAndSizeOfY1) {
  auto s = makeSynth();
  flatCurve(*s, kRowY1, 0);  // full depth throughout
  Range r = wobbleRange(*s, kRowY1, 20, 50, 1);
  EXPECT_FLOAT_EQ(s->engine.wobble.tracks[kRowY1].swing, 14.5f);
  EXPECT_EQ(r.low, 20.0f);
  EXPECT_EQ(r.high, 34.0f);  // 14.5 rounds to 14

  auto t = makeSynth();
  flatCurve(*t, kRowY1, 0);
  r = wobbleRange(*t, kRowY1, 20, -50, 1);
  EXPECT_FLOAT_EQ(t->engine.wobble.tracks[kRowY1].swing, 9.5f);
  EXPECT_EQ(r.low, 10.0f);  // 9.5 rounds to 10
  EXPECT_EQ(r.high, 20.0f);
}

TEST(Wobble, FullDepthOfX1BothWays) {
  auto s = makeSynth();
  flatCurve(*s, kRowX1, 0);
  Range r = wobbleRange(*s, kRowX1, 50, 100, 3);
  EXPECT_EQ(r.low, 50.0f);
  EXPECT_EQ(r.high, 99.0f);
  EXPECT_FLOAT_EQ(s->engine.wobble.modulated[kRowX1], s->engine.wobble.position[kRowX1] / 100.0f);

  auto t = makeSynth();
  flatCurve(*t, kRowX1, 0);
  r = wobbleRange(*t, kRowX1, 50, -100, 3);
  EXPECT_EQ(r.low, 1.0f);
  EXPECT_EQ(r.high, 50.0f);
}

TEST(Wobble, Y2CountsFromTheMiddleLine) {
  auto s = makeSynth();
  flatCurve(*s, kRowY2, 0);
  const Range r = wobbleRange(*s, kRowY2, 60, -100, 2);
  EXPECT_EQ(r.low, 1.0f);  // slider 51, not 50
  EXPECT_EQ(r.high, 10.0f);
  EXPECT_GE(s->engine.wobble.modulated[kRowY2], 0.51f);
}

TEST(Wobble, NoDepthOrNoRateHoldsThePoint) {
  auto s = makeSynth();
  flatCurve(*s, kRowX2, 0);
  Range r = wobbleRange(*s, kRowX2, 40, 0, 5);
  EXPECT_EQ(s->engine.wobble.tracks[kRowX2].swing, 0.0f);
  EXPECT_EQ(r.low, 40.0f);
  EXPECT_EQ(r.high, 40.0f);

  auto t = makeSynth();
  flatCurve(*t, kRowX2, 0);
  r = wobbleRange(*t, kRowX2, 40, 100, 0);
  EXPECT_EQ(r.low, 40.0f);
  EXPECT_EQ(r.high, 40.0f);
}

TEST(Wobble, BottomRowCurveReadsOnePerCent) {
  // Swing 49 (X1 at 50, +100%): 49 * 1 / 100 rounds to 0, so nothing moves.
  auto s = makeSynth();
  flatCurve(*s, kRowX1, 69);
  Range r = wobbleRange(*s, kRowX1, 50, 100, 3);
  EXPECT_EQ(r.high, 50.0f);
  // Swing 98 (X1 at 1, +100%) gives size 1.
  auto t = makeSynth();
  flatCurve(*t, kRowX1, 69);
  r = wobbleRange(*t, kRowX1, 1, 100, 3);
  EXPECT_EQ(r.low, 1.0f);
  EXPECT_EQ(r.high, 2.0f);
}

TEST(Wobble, NegativeSwingAtTheBottomHoldsOneAboveBase) {
  auto s = makeSynth();
  flatCurve(*s, kRowY1, 0);
  const Range r = wobbleRange(*s, kRowY1, 0, -100, 1);
  EXPECT_FLOAT_EQ(s->engine.wobble.tracks[kRowY1].swing, -1.0f);
  EXPECT_EQ(r.high, 1.0f);
  EXPECT_EQ(s->engine.wobble.position[kRowY1], 1.0f);
}

TEST(Wobble, AfterTheDurationTheSizeHoldsAtTheCurvesEnd) {
  auto s = makeSynth();
  applyControlEvent(*s, kSpinDurationRange, kDurationRangeX1);  // 400 ms
  CurveModel& ed = *findCurveEditor(s->editors, curveEditorId(*s, kRowX1))->model;
  for (int i = 0; i < 7; ++i) moveCurvePoint(ed, i, {curvePoint(ed, i).x, 0});
  moveCurvePoint(ed, 7, {159, 35});  // ends at half depth
  // Past 17640 samples the size is round(49 * 0.5) = 24: 50 .. 74.
  wobbleRange(*s, kRowX1, 50, 100, 1, 17640 + 1001 + 10);
  Range r{1e9f, -1e9f};
  float out;
  for (int i = 0; i < 5000; ++i) {
    s->engine.render(&out, 1);
    r.low = std::min(r.low, s->engine.wobble.position[kRowX1]);
    r.high = std::max(r.high, s->engine.wobble.position[kRowX1]);
  }
  EXPECT_FLOAT_EQ(s->engine.wobble.tracks[kRowX1].endFactor, 0.5f);
  EXPECT_EQ(r.low, 50.0f);
  EXPECT_EQ(r.high, 74.0f);
}

TEST(Wobble, TriangleAtTheWobbleRate) {
  // X1 50..99 at 440 Hz: a single step of 2 * 49 / (44100 / 440) slider units.
  auto s = makeSynth();
  flatCurve(*s, kRowX1, 0);
  wobbleRange(*s, kRowX1, 50, 100, 1, 1);  // set-up, then the first step up from the base
  EXPECT_FLOAT_EQ(s->engine.wobble.position[kRowX1], 50.0f + 98.0f / (44100.0f / 440.0f));
}

TEST(Wobble, RatesAboveHalfTheSampleRateJumpBetweenLimits) {
  auto t = makeSynth();
  flatCurve(*t, kRowX1, 0);
  applyControlEvent(*t, kSliderX1, 50);
  applyControlEvent(*t, spinModId(kRowX1), 100);
  applyControlEvent(*t, spinCoarseId(kRowX1), 15);
  test::play(*t, noteOnWord(100, 100));  // 2637 Hz x 15 = 39558 Hz
  float out;
  for (int i = 0; i < 1100; ++i) t->engine.render(&out, 1);
  for (int i = 0; i < 6; ++i) {
    const float a = t->engine.wobble.position[kRowX1];
    t->engine.render(&out, 1);
    const float b = t->engine.wobble.position[kRowX1];
    EXPECT_TRUE((a == 50.0f && b == 99.0f) || (a == 99.0f && b == 50.0f)) << a << " " << b;
  }
}

// With all four tracks moving the limits are met by a faster path than with
// one held: the same limits, turns and jumps as each track alone above.
TEST(Wobble, AllFourTracksMovingKeepTheirLimits) {
  struct RowSetting {
    int slider, mod, coarse;
    Range expected;
  };
  const RowSetting cases[][kWobbleRows] = {
      {{50, 100, 3, {50, 99}},
       {20, 50, 1, {20, 34}},
       {50, 100, 15, {50, 99}},
       {60, -100, 2, {1, 10}}},
      {{50, -100, 15, {1, 50}},
       {20, -50, 3, {10, 20}},
       {50, -100, 1, {1, 50}},
       {60, -100, 7, {1, 10}}},
  };
  for (const auto& rows : cases) {
    auto s = makeSynth();
    for (int row = 0; row < kWobbleRows; ++row) {
      flatCurve(*s, row, 0);
      applyControlEvent(*s, pointSliderId(row), rows[row].slider);
      applyControlEvent(*s, spinModId(row), rows[row].mod);
      applyControlEvent(*s, spinCoarseId(row), rows[row].coarse);
    }
    test::play(*s, noteOnWord(100, 100));  // 2637 Hz: x15 jumps from limit to limit
    Range seen[kWobbleRows];
    for (Range& r : seen) r = {1e9f, -1e9f};
    float out;
    for (int i = 0; i < 20000; ++i) {
      const float before = s->engine.wobble.position[kRowX2];
      s->engine.render(&out, 1);
      for (int row = 0; row < kWobbleRows; ++row) {
        const float p = s->engine.wobble.position[static_cast<size_t>(row)];
        seen[row] = {std::min(seen[row].low, p), std::max(seen[row].high, p)};
      }
      if (i > 1100 && rows[kRowX2].coarse == 15) {
        const float after = s->engine.wobble.position[kRowX2];
        const Range x2 = rows[kRowX2].expected;
        EXPECT_TRUE((before == x2.low && after == x2.high) ||
                    (before == x2.high && after == x2.low))
            << before << " " << after;
      }
    }
    for (int row = 0; row < kWobbleRows; ++row) {
      EXPECT_EQ(seen[row].low, rows[row].expected.low) << "row " << row;
      EXPECT_EQ(seen[row].high, rows[row].expected.high) << "row " << row;
    }
  }
}

TEST(Wobble, CurveDrawnDuringTheNoteIsFollowed) {
  auto s = makeSynth();
  flatCurve(*s, kRowX1, 69);  // size 0 at swing 49
  wobbleRange(*s, kRowX1, 50, 100, 1, 1200);
  EXPECT_EQ(s->engine.wobble.position[kRowX1], 50.0f);
  flatCurve(*s, kRowX1, 0);
  Range r{1e9f, -1e9f};
  float out;
  for (int i = 0; i < 400; ++i) {
    s->engine.render(&out, 1);
    r.high = std::max(r.high, s->engine.wobble.position[kRowX1]);
  }
  EXPECT_EQ(r.high, 99.0f);
}

}  // namespace
}  // namespace ondelith
