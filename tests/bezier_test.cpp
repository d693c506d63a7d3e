#include "engine/bezier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/oscillator.h"
#include "engine/render.h"
#include "reference_render.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::oscillatorStep;

TEST(Bezier, StartPointsDipThenRise) {
  const float row25 = evaluateBezierCycle(0.25f, 0.5f, 0.06f, 0.75f, 0.95f);
  const float row75 = evaluateBezierCycle(0.75f, 0.5f, 0.06f, 0.75f, 0.95f);
  EXPECT_NEAR(row25, 124.8f, 0.05f);
  EXPECT_NEAR((200.0f - row25) / 200.0f, 0.376f, 0.0005f);
  EXPECT_NEAR(row75, 78.6f, 0.05f);
  EXPECT_NEAR((200.0f - row75) / 200.0f, 0.607f, 0.0005f);
}

TEST(Bezier, EveryPeriodStartsOnTheZeroLine) {
  for (float x1 : {0.01f, 0.5f, 0.99f})
    for (float x2 : {0.01f, 0.75f, 0.99f})
      EXPECT_EQ(evaluateBezierCycle(0.0f, x1, 0.0f, x2, 0.99f), 100.0f);
}

TEST(Bezier, FlatControlPointsAreSilent) {
  for (float phase = 0; phase <= 1.0f; phase += 0.0625f)
    for (float x1 : {0.01f, 0.3f, 0.99f})
      EXPECT_FLOAT_EQ(evaluateBezierCycle(phase, x1, 0.5f, 1.0f - x1, 0.5f), 100.0f);
}

TEST(Bezier, CubicHelpers) {
  EXPECT_FLOAT_EQ(cubicValue(2.0f, 1.0f, 2.0f, 3.0f, 4.0f), 8.0f + 8.0f + 6.0f + 4.0f);
  EXPECT_FLOAT_EQ(cubicInverseSlope(2.0f, 1.0f, 2.0f, 3.0f), 1.0f / (12.0f + 8.0f + 3.0f));
}

TEST(Bezier, HeightIsLimitedAtTheTopOnly) {
  // Control points far above the square push the curve past the top: clamped at row 0.
  EXPECT_EQ(evaluateBezierCycle(0.5f, 0.3f, 5.0f, 0.7f, 5.0f), 0.0f);
  // Far below there is no limit.
  EXPECT_GT(evaluateBezierCycle(0.5f, 0.3f, -5.0f, 0.7f, -5.0f), 200.0f);
}

TEST(Bezier, NonFiniteInputsLandOnTheZeroLineOrStayFinite) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(evaluateBezierCycle(nan, 0.5f, 0.06f, 0.75f, 0.95f), 100.0f);
  EXPECT_EQ(evaluateBezierCycle(inf, 0.5f, 0.06f, 0.75f, 0.95f), 100.0f);
  // Reversed abscissas: Newton stops short but the result stays a number.
  EXPECT_TRUE(std::isfinite(evaluateBezierCycle(0.45f, 0.99f, 0.2f, 0.01f, 0.8f)));
}

TEST(Oscillator, PeriodsOfMidiNotes) {
  auto s = test::makeSynth();
  EXPECT_EQ(s->engine.oscillator.period(440.0), 100);
  EXPECT_EQ(s->engine.oscillator.period(noteFrequencyOf(127)), 4);
  EXPECT_EQ(s->engine.oscillator.period(noteFrequencyOf(0)), 5394);
  EXPECT_EQ(s->engine.oscillator.period(0.0), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s->engine.oscillator.period(std::nan("")), 0);
}

// The pitch the oscillator plays, counted from its phase: whole periods (the
// phase falling back) and the part of one where the count ends, over
// `samples` steps from a restart.
double countedFrequency(Oscillator& o, double frequency, double rate, int samples) {
  o.restart();
  float last = o.nextPhase(frequency);  // 0: no step counted yet
  int64_t wraps = 0;
  for (int i = 1; i < samples; ++i) {
    const float phase = o.nextPhase(frequency);
    wraps += phase < last;
    last = phase;
  }
  return (static_cast<double>(wraps) + last) * rate / (samples - 1);
}
double centsBetween(double f, double g) { return 1200.0 * std::log2(f / g); }

// Every MIDI note at the rates hosts use: exact pitch mode within 0.1 cent of
// the note, whole-sample periods exactly the rate over the rounded period.
TEST(Oscillator, EveryNotePlaysItsPitchInEachModeAtEveryRate) {
  for (const double hz : {22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0}) {
    Engine e(*SampleRate::of(hz));
    double worst = 0;
    for (int note = kLowestNote; note <= kHighestNote; ++note) {
      const double f = 440.0 * std::exp2((note - 69) / 12.0);
      const int samples = static_cast<int>(hz / 4);  // the lowest note wraps twice
      e.params.set(Param::PitchMode, kPitchExact);
      const double cents = centsBetween(countedFrequency(e.oscillator, f, hz, samples), f);
      ASSERT_LE(std::fabs(cents), 0.1) << "note " << note << " at " << hz << " Hz";
      worst = std::max(worst, std::fabs(cents));
      e.params.set(Param::PitchMode, kPitchPeriods);
      const double whole = hz / std::nearbyint(hz / f);
      ASSERT_NEAR(centsBetween(countedFrequency(e.oscillator, f, hz, samples), whole), 0, 1e-4)
          << "note " << note << " at " << hz << " Hz";
    }
    std::printf("exact pitch at %g Hz: every note within %.4f cent\n", hz, worst);
  }
}

// In exact pitch mode the wheel moves the pitch by as little as it moves
// (here a cent a step), the phase running on through each change; the
// wobble rates follow.
TEST(Oscillator, ExactPitchFollowsTheWheelSmoothly) {
  Engine e;
  e.params.set(Param::PitchMode, kPitchExact);
  e.params.set(Param::CoarseX1, 3);
  e.notes.keyDown(108);  // 4186 Hz: whole-sample periods of 10 and 11 samples
  e.life.gateTicks = 2000;
  float phase = 0, volume = 0;
  for (int bend = kBendCentre; bend <= kBendMaximum; bend += 41) {
    e.notes.bend(bend);
    const double f = noteFrequencyOf(108) * bendFactor(bend, 2);
    const float before = phase;
    ASSERT_TRUE(oscillatorPhase(e, phase, volume));
    ASSERT_NEAR(phase - before + (phase < before), f / 44100.0, 1e-6) << "bend " << bend;
    const double counted = countedFrequency(e.oscillator, e.life.pitch(e.voice), 44100.0, 44100);
    ASSERT_LE(std::fabs(centsBetween(counted, f)), 0.1) << "bend " << bend;
    ASSERT_NEAR(e.voice.wobbleRate[kRowX1].load() / counted, 3.0, 1e-5) << "bend " << bend;
    ASSERT_TRUE(oscillatorPhase(e, phase, volume));
  }
}

TEST(Oscillator, SilentAndStillBeforeTheFirstNote) {
  auto s = test::makeSynth();
  for (int n = 0; n < 300; ++n) EXPECT_EQ(oscillatorStep(s->engine, n), 0.0f);
  EXPECT_EQ(s->engine.oscillator.phaseCounter(), 0);
}

TEST(Oscillator, RaisingThePitchWrapsAPhasePastTheNewPeriod) {
  auto s = test::makeSynth();
  Engine& e = s->engine;
  e.voice.noteFrequency.store(110.0);  // period 401
  e.life.gateTicks = 2000;
  e.oscillator.setPhaseCounter(-1);
  for (int n = 0; n < 250; ++n) oscillatorStep(e, n);
  EXPECT_EQ(e.oscillator.phaseCounter(), 249);
  e.voice.noteFrequency.store(440.0);  // period 100: the next sample wraps to 0
  oscillatorStep(e, 250);
  EXPECT_EQ(e.oscillator.phaseCounter(), 0);
  for (int n = 0; n < 100; ++n) oscillatorStep(e, n);
  EXPECT_EQ(e.oscillator.phaseCounter(), 0);
}

TEST(Oscillator, PreviousPitchDuringTheFadeOut) {
  auto s = test::makeSynth();
  Engine& e = s->engine;
  e.voice.noteFrequency.store(440.0);
  e.voice.previousFrequency.store(220.5);  // period 200
  e.life.gateTicks = 1000;
  e.oscillator.setPhaseCounter(150);
  oscillatorStep(e, 0);
  EXPECT_EQ(e.oscillator.phaseCounter(), 151);  // still counting the old period
  e.life.gateTicks = 1001;
  oscillatorStep(e, 0);
  EXPECT_EQ(e.oscillator.phaseCounter(), 0);
}

TEST(Oscillator, RawSampleSpansHalfTheVolumePerCent) {
  auto s = test::makeSynth();
  Engine& e = s->engine;
  e.voice.noteFrequency.store(440.0);
  e.life.gateTicks = 2000;
  e.oscillator.setPhaseCounter(24);  // next sample: phase 0.25
  // With rates 0 the tracks keep their positions; point them at the start values.
  e.wobble.position[kRowX1] = 50;
  e.wobble.position[kRowY1] = 6;
  e.wobble.position[kRowX2] = 75;
  e.wobble.position[kRowY2] = 45;
  const float raw = oscillatorStep(e, 0);
  const float row = evaluateBezierCycle(0.25f, 0.5f, 0.06f, 0.75f, 0.95f);
  EXPECT_FLOAT_EQ(raw, ((200.0f - row) / 200.0f - 0.5f) * 400.0f / 100.0f);
  EXPECT_NEAR(raw, (0.376f - 0.5f) * 4.0f, 0.002f);
}

}  // namespace
}  // namespace ondelith
