#include "engine/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/envelope.h"
#include "engine/filter.h"
#include "engine/lifecycle.h"
#include "engine/midi_message.h"
#include "engine/oscillator.h"
#include "instrument/instrument.h"
#include "instrument/sound_bank.h"
#include "reference_render.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::engineTick;
using test::filterProcess;
using test::oscillatorStep;

using test::makeSynth;

const int kPitchModeIndex = parameterIndex("pitch_mode");
constexpr int kPitchModes[] = {kPitchPeriods, kPitchExact};

const int kWobblePhaseIndex = parameterIndex("wobble_phase");

// A start-up synthesizer in a pitch mode (and a wobble phase).
std::unique_ptr<Synth> synthIn(int pitchMode, int wobblePhase = kWobbleFree) {
  auto s = makeSynth();
  s->instrument.setValue(kPitchModeIndex, pitchMode);
  s->instrument.setValue(kWobblePhaseIndex, wobblePhase);
  test::settle(*s);
  return s;
}
std::vector<float> renderFreshIn(int pitchMode, const DriverSchedule& d, int64_t frames,
                                 const BlockSizer& blocks) {
  std::vector<float> out;
  renderSchedule(*synthIn(pitchMode), d, frames, blocks, out);
  return out;
}

// A busy minute of playing: wobbles on all four coordinates, drawn curves,
// legato, a pitch wheel's sweep, retriggers, control moves, curve drags and
// a device close.
DriverSchedule busySchedule() {
  DriverSchedule d;
  const int mods[4] = {60, -45, -80, 100};
  for (int row = 0; row < kWobbleRows; ++row) {
    d.control(0, spinModId(row), mods[row]);
    d.control(0, spinCoarseId(row), row + 1);
    d.control(0, spinFineId(row), 13 * row);
  }
  d.control(0, kSliderA, 30);
  d.control(0, kSliderD, 200);
  d.control(0, kSliderR, 300);
  d.control(0, kSpinDurationRange, 1);
  d.movePoint(0, kRowX1, 3, {66, 0});
  d.movePoint(0, kRowY2, 5, {111, 60});
  d.noteOn(10, 57);
  d.noteOn(9000, 64);  // legato
  d.control(12000, kSliderF, 300);
  d.control(12001, kSliderRes, 95);
  d.movePoint(15000, kRowY1, 2, {44, 5});
  for (int k = 0; k <= 16; ++k) {  // up a tone and back, one event every 97 frames
    const int bend = kBendCentre + (k <= 8 ? k : 16 - k) * 1000;
    d.midi(15500 + 97 * k, kMidiPitchBend | (bend & 0x7F) << 8 | (bend >> 7) << 16);
  }
  d.noteOff(20000, 57);
  d.noteOff(20500, 64);
  d.noteOn(23000, 45);  // during the release
  d.replaceCurve(26000, kRowX2, std::vector<CurvePoint>(8, CurvePoint{9000, 80}));
  d.control(27000, kSliderVol, 1500);
  d.closeNotice(30000);
  d.noteOn(33000, 76);
  d.control(34000, kSliderX1, 90);
  d.noteOff(40000, 76);
  return d;
}
constexpr int64_t kBusyFrames = 48000;

TEST(Render, SilentUntilTheFirstNote) {
  auto s = makeSynth();
  std::vector<float> out = test::render(*s, {}, 5000);
  for (float v : out) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(s->engine.sampleCounter, 5000);
}

TEST(Render, ZeroFramesChangeNothing) {
  auto s = makeSynth();
  s->engine.sampleCounter = 77;
  float out = 1.0f;
  s->engine.render(&out, 0);
  EXPECT_EQ(s->engine.sampleCounter, 77);
  EXPECT_EQ(out, 1.0f);
}

TEST(Render, NoteStartsWithFadeAndAttackAtItsFrame) {
  auto s = makeSynth();
  DriverSchedule d;
  d.noteOn(200, 69);
  const std::vector<float> out = test::render(*s, d, 4000);
  // The set-up's fade-out of nothing, 1001 frames, then the attack's first frame: all 0.
  for (int i = 0; i <= 200 + 1001; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], 0.0f) << i;
  bool sounding = false;
  for (int i = 1202; i < 1302; ++i) sounding = sounding || out[static_cast<size_t>(i)] != 0.0f;
  EXPECT_TRUE(sounding);
}

TEST(Render, FadeInFactors) {
  EXPECT_EQ(applyGain(1.0, 1.0, 0, 100), 0.0f);
  EXPECT_FLOAT_EQ(applyGain(1.0, 1.0, 50, 100), 0.03125f);
  const float q = 0.99f;
  EXPECT_FLOAT_EQ(applyGain(1.0, 1.0, 99, 100), q * q * q * q * q);
  EXPECT_NEAR(applyGain(1.0, 1.0, 99, 100), 0.951, 0.001);
  EXPECT_EQ(applyGain(0.7, 0.5, 100, 100), static_cast<float>(0.35));
  EXPECT_EQ(applyGain(0.7, 0.5, 2000000, 100), static_cast<float>(0.35));
}

// The frame-by-frame order of the render callback, written out plainly.
std::vector<float> referenceRender(Synth& s, const DriverSchedule& d, int64_t frames) {
  std::vector<const DriverEvent*> events;
  for (const DriverEvent& e : d.events) events.push_back(&e);
  std::stable_sort(events.begin(), events.end(),
                   [](auto* a, auto* b) { return a->frame < b->frame; });
  std::vector<float> out;
  size_t next = 0;
  Engine& e = s.engine;
  for (int64_t f = 0; f < frames; ++f) {
    while (next < events.size() && events[next]->frame <= f) applyDriverEvent(s, *events[next++]);
    test::settle(s);
    const NoteView view = readNoteView(e.voice);
    engineTickSeen(e, e.sampleCounter, view);
    const int32_t c = e.sampleCounter;
    const float raw = oscillatorStep(e, wobbleCount(e, view, c));
    const double filtered = filterProcess(e, raw);
    double v = filtered * e.life.envelopeLevel;
    if (c < 100) {
      const float q = static_cast<float>(c) / 100.0f;
      v = (q * q * q * q * q) * v;
    }
    out.push_back(static_cast<float>(v));
    e.sampleCounter = c + 1;
  }
  return out;
}

TEST(Render, BlockRenderMatchesTheFrameByFrameOrder) {
  const DriverSchedule d = busySchedule();
  std::vector<float> byMode[2];
  for (const int mode : kPitchModes) {
    const std::vector<float> expected = referenceRender(*synthIn(mode), d, kBusyFrames);
    const std::vector<float> got = renderFreshIn(mode, d, kBusyFrames, fixedBlocks(512));
    ASSERT_EQ(got.size(), expected.size());
    size_t loud = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i], expected[i]) << "pitch mode " << mode << ", frame " << i;
      loud += std::fabs(got[i]) > 0.01f;
    }
    EXPECT_GT(loud, got.size() / 2);  // the schedule really plays
    byMode[mode] = got;
  }
  EXPECT_NE(byMode[kPitchPeriods], byMode[kPitchExact]);
}

// The repeatable wobble's own counts through the fade reach both paths alike.
TEST(Render, RepeatableWobbleKeepsTheBlockRenderOnThePlainOrder) {
  const DriverSchedule d = busySchedule();
  const std::vector<float> want =
      referenceRender(*synthIn(kPitchPeriods, kWobbleRepeatable), d, kBusyFrames);
  EXPECT_NE(want, referenceRender(*synthIn(kPitchPeriods), d, kBusyFrames));
  for (const int64_t block : {1, 37, 64, 512}) {
    std::vector<float> got;
    renderSchedule(*synthIn(kPitchPeriods, kWobbleRepeatable), d, kBusyFrames, fixedBlocks(block),
                   got);
    ASSERT_EQ(got, want) << "block " << block;
  }
}

TEST(Render, BlockSizesDoNotChangeASample) {
  const DriverSchedule d = busySchedule();
  for (const int mode : kPitchModes) {
    const std::vector<float> base = renderFreshIn(mode, d, kBusyFrames, fixedBlocks(512));
    for (int64_t block : {1, 64, 100, 4096}) {
      const std::vector<float> other = renderFreshIn(mode, d, kBusyFrames, fixedBlocks(block));
      ASSERT_EQ(other, base) << "pitch mode " << mode << ", block " << block;
    }
    std::mt19937 rng(1234);
    const std::vector<float> random = renderFreshIn(mode, d, kBusyFrames, [&rng](int64_t left) {
      return std::min<int64_t>(left, 1 + rng() % 700);
    });
    EXPECT_EQ(random, base) << "pitch mode " << mode;
    // Hosts' usual sizes mixed, so the pipeline passes between a run a call
    // and several in every order.
    const int64_t usual[] = {16, 32, 48, 64, 64, 64, 96, 128, 256, 100};
    const std::vector<float> mixed = renderFreshIn(mode, d, kBusyFrames, [&](int64_t left) {
      return std::min<int64_t>(left, usual[rng() % std::size(usual)]);
    });
    EXPECT_EQ(mixed, base) << "pitch mode " << mode;
  }
}

// Work done ahead for the next call never shows: between calls the state is
// the one frame-by-frame rendering leaves, through a held note and its release.
TEST(Render, StateBetweenCallsIsWhereTheCallEnded) {
  const std::pair<int, int64_t> cases[] = {{kPitchPeriods, 64},  {kPitchPeriods, 96},
                                           {kPitchPeriods, 100}, {kPitchPeriods, 4096},
                                           {kPitchExact, 64},    {kPitchExact, 100}};
  for (const auto& c : cases) {
    const int mode = c.first;
    const int64_t block = c.second;
    DriverSchedule d = busySchedule();
    auto a = synthIn(mode);
    auto b = synthIn(mode);
    int64_t frame = 0;
    std::vector<float> got, want;
    const auto step = [&](int64_t n) {
      renderSchedule(*a, d, n, fixedBlocks(block), got);
      renderSchedule(*b, d, n, fixedBlocks(1), want);
      ASSERT_EQ(got, want) << "pitch mode " << mode << ", block " << block << ", frame " << frame;
      const Engine& x = a->engine;
      const Engine& y = b->engine;
      EXPECT_EQ(x.sampleCounter, y.sampleCounter);
      EXPECT_EQ(x.life.envelopeLevel, y.life.envelopeLevel);
      EXPECT_EQ(x.life.gateTicks, y.life.gateTicks);
      EXPECT_EQ(x.oscillator.phaseCounter(), y.oscillator.phaseCounter());
      EXPECT_EQ(x.wobble.modulated, y.wobble.modulated);
      for (int k = 0; k < kWobbleRows; ++k)
        EXPECT_EQ(x.wobble.position[static_cast<size_t>(k)],
                  y.wobble.position[static_cast<size_t>(k)]);
      frame += n;
      d = {};  // the schedule plays once
    };
    step(30000);  // a note held since 23000
    for (int i = 0; i < 3; ++i) step(block);
  }
}

TEST(Render, CurveDragDuringAHeldNoteChangesTheSoundFromItsFrame) {
  DriverSchedule held;
  held.control(0, spinModId(kRowY1), 100);
  held.control(0, spinCoarseId(kRowY1), 1);
  held.noteOn(0, 60);
  DriverSchedule dragged = held;
  dragged.movePoint(6000, kRowY1, 1, {22, 0});  // the segment the note is in
  const std::vector<float> a = test::renderFresh(held, 12000, fixedBlocks(256));
  const std::vector<float> b = test::renderFresh(dragged, 12000, fixedBlocks(256));
  for (size_t i = 0; i < 6000; ++i) ASSERT_EQ(a[i], b[i]) << i;
  size_t differing = 0;
  for (size_t i = 6000; i < 12000; ++i) differing += a[i] != b[i];
  EXPECT_GT(differing, 3000u);
}

TEST(Render, VolumeReachesTheSoundOnTheNextSample) {
  DriverSchedule d;
  d.noteOn(0, 60);
  DriverSchedule louder = d;
  louder.control(5000, kSliderVol, 800);
  const std::vector<float> a = test::renderFresh(d, 8000, fixedBlocks(512));
  const std::vector<float> b = test::renderFresh(louder, 8000, fixedBlocks(512));
  EXPECT_EQ(std::vector<float>(a.begin(), a.begin() + 5000),
            std::vector<float>(b.begin(), b.begin() + 5000));
  EXPECT_NE(a[5001], b[5001]);
}

TEST(Render, LoudResonantSettingsStayFinite) {
  DriverSchedule d;
  d.control(0, kSliderVol, 1500);
  d.control(0, kSliderRes, 100);
  d.control(0, kSliderF, 5000);
  d.control(0, kSliderY2, 99);
  d.control(0, kSliderY1, 0);
  d.noteOn(0, 30);
  const std::vector<float> out = test::renderFresh(d, 44100, fixedBlocks(512));
  for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

// A note held or released as the sample count nears its wrap: the stretches
// of frames the render takes in one go stop short of it, in any block.
TEST(Render, NearTheCounterWrapBlocksMatchTheFrameByFrameOrder) {
  for (const bool held : {true, false}) {
    for (const int64_t block : {64, 700, 1000}) {
      auto a = makeSynth();
      auto b = makeSynth();
      for (Synth* s : {a.get(), b.get()}) {
        test::play(*s, test::noteOnWord(69, 100));
        std::vector<float> warm(6000);
        s->engine.render(warm.data(), static_cast<int64_t>(warm.size()));
        if (!held) test::play(*s, test::noteOffWord(69));
        s->engine.sampleCounter = kCounterWrap - 300;
      }
      constexpr int64_t kFrames = 1000;  // past the wrap
      std::vector<float> got(kFrames), want(kFrames);
      for (int64_t at = 0; at < kFrames; at += block)
        a->engine.render(got.data() + at, std::min(block, kFrames - at));
      test::renderReference(b->engine, want.data(), kFrames);
      EXPECT_EQ(got, want) << (held ? "held" : "released") << ", block " << block;
      EXPECT_EQ(a->engine.sampleCounter, b->engine.sampleCounter);
      EXPECT_LT(a->engine.sampleCounter, 5000);  // it wrapped
    }
  }
}

// A factory sound played through a note, legato, a release and a note
// struck during it: in blocks of `block` frames, or with block 0 in the
// plain per-sample order, events applied between frames.
std::vector<float> playBankSound(const BankSound& entry, SampleRate rate, int64_t block,
                                 int pitchMode) {
  struct Strike {
    double seconds;
    uint32_t word;
  };
  const Strike strikes[] = {{0.0, test::noteOnWord(57, 100)},  {0.12, test::noteOnWord(64, 90)},
                            {0.2, test::noteOffWord(57)},      {0.26, test::noteOffWord(64)},
                            {0.29, test::noteOnWord(45, 127)}, {0.4, test::noteOffWord(45)}};
  const int64_t frames = roundEven(0.45 * rate.hz());
  Engine e(rate);
  Instrument instrument;
  instrument.attach(&e);
  Sound sound = bankSound(entry);
  setSoundValue(sound, kPitchModeIndex, pitchMode);
  instrument.setSound(sound);
  e.render(nullptr, 0);
  std::vector<float> out(static_cast<size_t>(frames));
  if (block > 0) {
    for (const Strike& s : strikes) e.post(midiEvent(roundEven(s.seconds * rate.hz()), s.word));
    for (int64_t at = 0; at < frames; at += block)
      e.render(out.data() + at, std::min(block, frames - at));
    return out;
  }
  int64_t at = 0;
  for (const Strike& s : strikes) {
    const int64_t until = roundEven(s.seconds * rate.hz());
    test::renderReference(e, out.data() + at, until - at);
    at = until;
    e.apply(midiEvent(at, s.word));
  }
  test::renderReference(e, out.data() + at, frames - at);
  return out;
}

// Every factory sound at the rates hosts use, in each pitch mode, in a
// plugin's 64-frame runs, in odd blocks and in long ones: the plain
// per-sample order's bits.
TEST(Render, EveryBankSoundAtEveryRateMatchesThePlainOrder) {
  for (const double hz : {22050.0, 44100.0, 48000.0, 96000.0}) {
    const SampleRate rate = *SampleRate::of(hz);
    for (const BankSound& entry : factoryBank()) {
      for (const int mode : kPitchModes) {
        const std::vector<float> want = playBankSound(entry, rate, 0, mode);
        ASSERT_GT(std::count_if(want.begin(), want.end(), [](float v) { return v != 0.0f; }),
                  static_cast<std::ptrdiff_t>(want.size() / 2))
            << entry.name;
        for (const int64_t block : {64, 37, 4096})
          ASSERT_EQ(playBankSound(entry, rate, block, mode), want)
              << entry.name << " at " << hz << " Hz, pitch mode " << mode << ", in blocks of "
              << block;
      }
    }
  }
}

// Work a call did ahead is used only while every unit still stands where
// that work began: a unit's state changed between calls throws it away.
TEST(Render, AUnitChangedBetweenCallsDiscardsTheWorkDoneAhead) {
  const std::pair<const char*, void (*)(Engine&)> changes[] = {
      {"oscillator",
       [](Engine& e) { e.oscillator.setPhaseCounter(e.oscillator.phaseCounter() / 2); }},
      {"note course",
       [](Engine& e) {
         e.life.gateTicks = 500;  // back into the retrigger fade
         e.life.retriggerLevel = 0.7;
       }},
      {"wobble", [](Engine& e) { e.wobble.position[kRowX1] += 3; }},
      {"sample count", [](Engine& e) { e.sampleCounter = 100; }},
  };
  for (const auto& [unit, change] : changes) {
    std::vector<float> got(7040), want(7040);
    Engine a, b;
    for (Engine* e : {&a, &b}) {
      e->params.set(Param::ModX1, 80);
      e->params.set(Param::CoarseX1, 2);
      e->apply(midiEvent(0, test::noteOnWord(60, 100)));
    }
    for (int64_t at = 0; at < 6400; at += 64) a.render(got.data() + at, 64);
    test::renderReference(b, want.data(), 6400);
    change(a);
    change(b);
    for (int64_t at = 6400; at < 7040; at += 64) a.render(got.data() + at, 64);
    test::renderReference(b, want.data() + 6400, 640);
    EXPECT_EQ(got, want) << unit;
    EXPECT_TRUE(std::any_of(want.begin() + 6400, want.end(), [](float v) { return v != 0.0f; }))
        << unit;
  }
}

// Two seconds of one note (C4, a second long) struck at frame `at`, after
// the strikes of `before`, in a wobble phase; Falling Sweep (formerly
// Nils), whose wobble runs long.
std::vector<float> noteAfter(const std::vector<std::pair<int64_t, uint32_t>>& before, int64_t at,
                             int wobblePhase) {
  Engine e;
  Instrument instrument;
  instrument.attach(&e);
  Sound sound = bankSound(*findBankSound("Falling Sweep"));
  setSoundValue(sound, kWobblePhaseIndex, wobblePhase);
  instrument.setSound(sound);
  for (const auto& [frame, word] : before) e.post(midiEvent(frame, word));
  e.post(midiEvent(at, test::noteOnWord(60, 100)));
  e.post(midiEvent(at + 44100, test::noteOffWord(60)));
  std::vector<float> out(static_cast<size_t>(at + 88200));
  for (int64_t done = 0; done < std::ssize(out); done += 4096)
    e.render(out.data() + done, std::min<int64_t>(4096, std::ssize(out) - done));
  return {out.begin() + at, out.end()};
}

float peakDifference(const std::vector<float>& a, const std::vector<float>& b) {
  float peak = 0;
  for (size_t i = 0; i < a.size(); ++i) peak = std::max(peak, std::fabs(a[i] - b[i]));
  return peak;
}

// A free wobble's set-up fade runs on the count since the last attack (or
// the start); a repeatable one on its own, so a note struck anywhere on a
// silent voice is the same, as a bounce started anywhere must be.
TEST(Render, ARepeatableNoteStartsAlikeWhereverItIsStruck) {
  const std::vector<float> first = noteAfter({}, 0, kWobbleRepeatable);
  for (const int64_t at : {1000, 44100, 100000, 200000})
    EXPECT_EQ(noteAfter({}, at, kWobbleRepeatable), first) << "struck at " << at;
  EXPECT_EQ(noteAfter({}, 0, kWobbleFree), first);
  EXPECT_GT(peakDifference(noteAfter({}, 44100, kWobbleFree), first), 0.1f);
}

// After an earlier note and a second's silence past its release, only the
// filter's state remains of it: with this sound's low resonance the
// difference is below a millionth (measured 7.5e-8); a free wobble's is
// the whole note's.
TEST(Render, ARepeatableNoteAfterSilenceKeepsOnlyTheFiltersResidue) {
  const std::vector<std::pair<int64_t, uint32_t>> before = {{0, test::noteOnWord(48, 100)},
                                                            {4410, test::noteOffWord(48)}};
  const int64_t at = 2 * 44100;
  const std::vector<float> alone = noteAfter({}, at, kWobbleRepeatable);
  EXPECT_LT(peakDifference(noteAfter(before, at, kWobbleRepeatable), alone), 1e-6f);
  EXPECT_GT(peakDifference(noteAfter(before, at, kWobbleFree), noteAfter({}, at, kWobbleFree)),
            0.1f);
}

}  // namespace
}  // namespace ondelith
