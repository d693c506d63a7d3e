#include "engine/envelope.h"

#include <gtest/gtest.h>

#include "engine/lifecycle.h"
#include "engine/render.h"
#include "reference_render.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::makeSynth;
using test::noteOffWord;
using test::noteOnWord;

// Renders frame by frame, keeping each frame's envelope level.
std::vector<double> levels(Synth& s, int frames) {
  std::vector<double> out;
  float sample;
  for (int i = 0; i < frames; ++i) {
    s.engine.render(&sample, 1);
    out.push_back(s.engine.life.envelopeLevel);
  }
  return out;
}

void setEnvelope(Synth& s, int a, int d, int sustain, int r) {
  applyControlEvent(s, kSliderA, a);
  applyControlEvent(s, kSliderD, d);
  applyControlEvent(s, kSliderS, sustain);
  applyControlEvent(s, kSliderR, r);
}

TEST(Envelope, SilentBeforeTheFirstNote) {
  auto s = makeSynth();
  for (double v : levels(*s, 3000)) ASSERT_EQ(v, 0.0);
}

TEST(Envelope, WorkedNoteFadeAttackDecaySustainRelease) {
  auto s = makeSynth();
  setEnvelope(*s, 10, 100, 50, 1000);
  test::play(*s, noteOnWord(69, 100));
  const std::vector<double> on = levels(*s, 88200);
  // Fade-out of nothing for 1001 ticks, then the attack starts at 0.
  for (int i = 0; i <= 1000; ++i) ASSERT_EQ(on[static_cast<size_t>(i)], 0.0) << i;
  EXPECT_EQ(on[1001], 0.0);
  // 441 rising samples, the last reaching 1.
  for (int n = 1; n <= 441; ++n) ASSERT_DOUBLE_EQ(on[static_cast<size_t>(1001 + n)], n / 441.0);
  // 4410 falling, the last reaching the sustain level.
  for (int n = 442; n <= 441 + 4410; ++n) {
    const double expected = 0.5 + 0.5 * (441.0 + 4410.0 - n) / 4410.0;
    ASSERT_DOUBLE_EQ(on[static_cast<size_t>(1001 + n)], expected) << n;
  }
  EXPECT_DOUBLE_EQ(on[1001 + 4851], 0.5);
  for (size_t i = 1001 + 4852; i < on.size(); ++i) ASSERT_EQ(on[i], 0.5);

  test::play(*s, noteOffWord(69));
  const std::vector<double> off = levels(*s, 44200);
  // A straight fall from 0.5 to 0 over 44100 samples.
  EXPECT_NEAR(off[0], 0.5 * 44099.0 / 44100.0, 1e-12);
  EXPECT_NEAR(off[22049], 0.25, 1e-12);
  EXPECT_EQ(off[44099], 0.0);
  for (size_t i = 44099; i < off.size(); ++i) ASSERT_EQ(off[i], 0.0);
  for (size_t i = 1; i < 44099; ++i) ASSERT_LT(off[i], off[i - 1]);
}

TEST(Envelope, SetUpTakesTheTimesOnceAndKeepsThem) {
  auto s = makeSynth();
  setEnvelope(*s, 20, 300, 25, 2000);
  test::play(*s, noteOnWord(60, 1));
  levels(*s, 1);
  setEnvelope(*s, 1, 1, 100, 1);  // after set-up: the next note's
  EXPECT_DOUBLE_EQ(s->engine.envelope.attackSamples(), 0.02 * 44100);
  EXPECT_DOUBLE_EQ(s->engine.envelope.decaySamples(), 0.3 * 44100);
  EXPECT_DOUBLE_EQ(s->engine.envelope.sustain(), 0.25);
  EXPECT_DOUBLE_EQ(s->engine.envelope.releaseSamples(), 2.0 * 44100);
}

TEST(Envelope, KeyDuringReleaseFadesTheOldSoundThenAttacks) {
  auto s = makeSynth();
  setEnvelope(*s, 1, 1, 100, 1000);
  test::play(*s, noteOnWord(69, 100));
  levels(*s, 3000);
  test::play(*s, noteOffWord(69));
  const double reached = levels(*s, 10000).back();
  ASSERT_GT(reached, 0.5);
  test::play(*s, noteOnWord(81, 100));
  const std::vector<double> v = levels(*s, 1100);
  EXPECT_DOUBLE_EQ(v[0], reached);  // gateTicks 0: the whole retrigger level
  EXPECT_DOUBLE_EQ(v[500], 0.5 * reached);
  EXPECT_EQ(v[1000], 0.0);
  EXPECT_EQ(s->engine.voice.previousFrequency.load(), 440.0);
  EXPECT_EQ(s->engine.life.gateTicks, 1099);
  EXPECT_EQ(s->engine.sampleCounter, 99);  // the attack began at tick 1001
}

TEST(Envelope, LegatoKeepsTheEnvelopeGoing) {
  auto s = makeSynth();
  test::play(*s, noteOnWord(69, 100));
  levels(*s, 5000);
  const int32_t counter = s->engine.sampleCounter;
  test::play(*s, noteOnWord(72, 100));
  levels(*s, 10);
  EXPECT_EQ(s->engine.sampleCounter, counter + 10);
  EXPECT_EQ(s->engine.voice.heldKeys.load(), 2);
  EXPECT_EQ(s->engine.oscillator.lastPeriod(), 84);  // 523.25 Hz at once
}

TEST(Envelope, NoteOffDuringTheFadeOutReleasesFromItsLevel) {
  auto s = makeSynth();
  setEnvelope(*s, 1, 1, 100, 1000);
  test::play(*s, noteOnWord(69, 100));
  levels(*s, 5000);
  test::play(*s, noteOffWord(69));
  levels(*s, 100);
  test::play(*s, noteOnWord(69, 100));
  const double faded = levels(*s, 300).back();
  test::play(*s, noteOffWord(69));
  const std::vector<double> v = levels(*s, 2);
  EXPECT_NEAR(v[0], faded * (44100.0 - 1) / 44100.0, 1e-12);
}

TEST(Envelope, CounterWrapRestartsSilentWithTheGateOff) {
  auto s = makeSynth();
  s->engine.life.releaseStartLevel = 0.8;
  s->engine.envelope.setUp(0.001, 1, 0.5, 1e12 / 44100);
  s->engine.sampleCounter = 2147483641;
  test::engineTick(s->engine, 2147483641);
  EXPECT_EQ(s->engine.sampleCounter, 0);
  EXPECT_EQ(s->engine.life.releaseStartLevel, 0.0);
  EXPECT_EQ(s->engine.life.envelopeLevel, 0.0);
}

TEST(Envelope, CounterNearTheWrapDoesNotOverflow) {
  auto s = makeSynth();
  s->engine.sampleCounter = 2147483640;
  float out[8];
  s->engine.render(out, 8);
  EXPECT_EQ(s->engine.sampleCounter, 7);
}

TEST(Envelope, CloseNoticeLetsTheNextNoteStartFresh) {
  auto s = makeSynth();
  test::play(*s, noteOnWord(69, 100));
  levels(*s, 20000);
  test::closeNotice(*s);
  levels(*s, 100);
  test::play(*s, noteOnWord(60, 100));
  levels(*s, 1);
  EXPECT_EQ(s->engine.life.gateTicks, 0);  // a new set-up, not the old envelope
  levels(*s, 1001);
  EXPECT_EQ(s->engine.sampleCounter, 1);
  EXPECT_EQ(s->engine.life.attackSerial, s->engine.life.setUpSerial);
}

}  // namespace
}  // namespace ondelith

namespace ondelith {
namespace {

// A release and a new first key that arrive between two ticks: the new
// note still gets its own set-up and attack.
TEST(Envelope, LateFlagsDoNotSwallowANewNote) {
  auto s = test::makeSynth();
  test::play(*s, test::noteOnWord(69, 100));
  levels(*s, 3000);
  test::play(*s, test::noteOffWord(69));
  test::play(*s, test::noteOnWord(72, 100));
  levels(*s, 1);
  EXPECT_EQ(s->engine.life.gateTicks, 0);  // set up afresh
  levels(*s, 1001);
  EXPECT_EQ(s->engine.sampleCounter, 1);             // its attack began
  EXPECT_EQ(s->engine.oscillator.lastPeriod(), 84);  // at the new pitch
}

// A release that lands while a tick runs: the tick read the open gate, then
// the MIDI thread released the key before the tick went on. The note must
// release from where it was, not restart its attack and fall from silence.
TEST(Envelope, AReleaseDuringATickReleasesFromTheHeldLevel) {
  auto s = test::makeSynth();
  Engine& e = s->engine;
  setEnvelope(*s, 10, 100, 50, 1000);
  test::play(*s, test::noteOnWord(69, 100));
  const double held = levels(*s, 20000).back();
  ASSERT_NEAR(held, 0.5, 1e-9);
  const NoteView seen = readNoteView(e.voice);
  ASSERT_EQ(seen.gate, 1);
  const int32_t ticksBefore = e.life.gateTicks;
  test::play(*s, test::noteOffWord(69));
  engineTickSeen(e, e.sampleCounter, seen);
  ++e.sampleCounter;
  EXPECT_EQ(e.life.gateTicks, ticksBefore + 1);   // no second set-up
  EXPECT_NEAR(e.life.envelopeLevel, held, 1e-9);  // no second attack
  const std::vector<double> release = levels(*s, 4410);
  EXPECT_NEAR(release.front(), held, 1e-3);
  EXPECT_NEAR(release[2205], held * (1.0 - 2206.0 / 44100.0), 1e-3);  // a 1 s fall
}

}  // namespace
}  // namespace ondelith
