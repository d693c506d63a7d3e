// The player's messages beyond note-on and note-off: pitch bend, the sustain
// pedal, all notes off, velocity; read as MIDI and heard in the output.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/midi_message.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::noteOffWord;
using test::noteOnWord;

uint32_t bendWord(int value, int channel = 0) {
  return (kMidiPitchBend | channel) | static_cast<uint32_t>(value & 0x7F) << 8 |
         static_cast<uint32_t>(value >> 7) << 16;
}
uint32_t controlWord(int controller, int value, int channel = 0) {
  return (kMidiControlChange | channel) | static_cast<uint32_t>(controller) << 8 |
         static_cast<uint32_t>(value) << 16;
}

double rms(const std::vector<float>& v, int64_t from, int64_t to) {
  double sum = 0;
  for (int64_t i = from; i < to; ++i) sum += double{v[i]} * v[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

double peak(const std::vector<float>& v, int64_t from, int64_t to) {
  double p = 0;
  for (int64_t i = from; i < to; ++i) p = std::max(p, std::abs(double{v[i]}));
  return p;
}

// The period in samples: the lag of the best normalised autocorrelation
// from 50 to 150 samples (notes from about 300 to 880 Hz).
int periodOf(const std::vector<float>& v, int64_t from, int64_t to) {
  int bestLag = 0;
  double best = -2;
  for (int lag = 50; lag <= 150; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    for (int64_t i = from; i + lag < to; ++i) {
      xy += double{v[i]} * v[i + lag];
      xx += double{v[i]} * v[i];
      yy += double{v[i + lag]} * v[i + lag];
    }
    const double r = xy / std::sqrt(xx * yy);
    if (r > best) best = r, bestLag = lag;
  }
  return bestLag;
}

TEST(PitchBend, BendsTheNoteAndItsWobbleRatesOverTheRange) {
  const struct {
    int bend, range;
    double semitones;
  } cases[] = {{kBendMaximum, 2, 2}, {0, 2, -2},     {kBendCentre, 2, 0},   {kBendMaximum, 0, 0},
               {0, 24, -24},         {4096, 12, -6}, {kBendMaximum, 24, 24}};
  for (const auto& c : cases) {
    auto s = test::makeSynth();
    applyControlEvent(*s, spinCoarseId(kRowX1), 2);
    s->engine.notes.setSetting(NoteSetting::BendRange, c.range);
    test::play(*s, noteOnWord(69, 100));
    test::play(*s, bendWord(c.bend));
    const double hz = 440.0 * std::pow(2.0, c.semitones / 12.0);
    EXPECT_NEAR(s->engine.voice.noteFrequency.load(), hz, hz * 1e-12) << c.bend << " " << c.range;
    EXPECT_FLOAT_EQ(s->engine.voice.wobbleRate[kRowX1].load(), static_cast<float>(2 * hz));
  }
}

TEST(PitchBend, ThePeriodShrinksToTwoSemitonesUpAndRangeZeroChangesNothing) {
  const int64_t frames = 20000;
  DriverSchedule plain;
  plain.noteOn(0, 69);
  DriverSchedule bent = plain;
  bent.midi(5000, bendWord(kBendMaximum));
  const std::vector<float> unbent = test::renderFresh(plain, frames, fixedBlocks(256));
  EXPECT_EQ(periodOf(unbent, 10000, frames), 100);  // 44100 / 440

  auto two = test::makeSynth();
  const std::vector<float> up = test::render(*two, bent, frames);
  EXPECT_EQ(std::vector<float>(up.begin(), up.begin() + 5000),
            std::vector<float>(unbent.begin(), unbent.begin() + 5000));
  EXPECT_NEAR(periodOf(up, 10000, frames), 44100 / (440 * std::pow(2.0, 2 / 12.0)), 1.0);

  auto zero = test::makeSynth();
  zero->engine.notes.setSetting(NoteSetting::BendRange, 0);
  EXPECT_EQ(test::render(*zero, bent, frames), unbent);
}

TEST(PitchBend, HoldsForTheNextNotesUntilTheWheelReturns) {
  auto s = test::makeSynth();
  VoiceState& v = s->engine.voice;
  const auto play = [&](uint32_t w) { test::play(*s, w); };
  play(bendWord(kBendMaximum));  // before any note: nothing sounds, nothing bends yet
  EXPECT_EQ(v.noteFrequency.load(), 0.0);
  play(noteOnWord(69, 100));
  play(noteOffWord(69));
  const double twoUp = std::pow(2.0, 2 / 12.0);
  EXPECT_DOUBLE_EQ(v.previousFrequency.load(), 440 * twoUp);
  play(bendWord(0));  // during the release the sounding pitch follows
  EXPECT_DOUBLE_EQ(v.previousFrequency.load(), 440 / twoUp);
  play(noteOnWord(60, 100));
  EXPECT_DOUBLE_EQ(v.noteFrequency.load(), noteFrequencyOf(60) / twoUp);
  play(bendWord(kBendCentre));
  EXPECT_EQ(v.noteFrequency.load(), noteFrequencyOf(60));  // to the bit
  // Data bytes beyond 127 make no message; the wheel stays.
  play(0x7F80E0u);
  play(0x807FE0u);
  EXPECT_EQ(s->engine.notes.bendValue(), kBendCentre);
}

TEST(SustainPedal, HoldsTheReleaseUntilPedalUpThenTheReleaseRuns) {
  DriverSchedule sch;
  sch.control(0, kSliderD, 10);  // in the sustain from about 1900 samples on
  sch.control(0, kSliderR, 20);  // 20 ms release
  sch.noteOn(0, 69);
  sch.midi(100, controlWord(kSustainPedal, 127));
  sch.noteOff(5000, 69);
  sch.midi(20000, controlWord(kSustainPedal, 0));
  const std::vector<float> out = test::renderFresh(sch, 30000, fixedBlocks(512));
  const double held = rms(out, 4000, 4900);
  EXPECT_GT(held, 0.01);
  EXPECT_NEAR(rms(out, 15000, 19900), held, held * 0.05);  // past the note-off
  EXPECT_EQ(peak(out, 20000 + 882 + 10, 30000), 0.0);      // the 20 ms release ran
}

TEST(SustainPedal, KeysAndEdgeCases) {
  auto s = test::makeSynth();
  VoiceState& v = s->engine.voice;
  const auto play = [&](uint32_t w) { test::play(*s, w); };
  const auto state = [&] { return std::make_pair(v.heldKeys.load(), v.gate.load()); };
  using State = std::pair<int32_t, int32_t>;

  play(controlWord(kSustainPedal, 0));  // up with nothing down
  play(controlWord(kSustainPedal, 100));
  play(controlWord(kSustainPedal, 0));  // down and up without a note
  EXPECT_EQ(state(), State(0, 0));

  play(noteOnWord(69, 100));
  play(controlWord(kSustainPedal, 64));
  play(noteOffWord(69));
  EXPECT_EQ(state(), State(1, 1));
  // A new key while a release is held back: legato, no new note.
  const uint32_t serial = v.noteSerial.load();
  play(noteOnWord(72, 100));
  EXPECT_EQ(v.noteSerial.load(), serial);
  EXPECT_EQ(v.noteFrequency.load(), noteFrequencyOf(72));
  play(noteOnWord(72, 0));  // velocity 0: a note-off, held back too
  EXPECT_EQ(state(), State(2, 1));
  play(controlWord(kSustainPedal, 0x80));  // not a value: the pedal stays down
  EXPECT_TRUE(s->engine.notes.pedalDown());
  play(controlWord(kSustainPedal, 63));
  EXPECT_EQ(state(), State(0, 0));

  // Pedal up with a key still down releases only what was held back.
  play(noteOnWord(60, 100));
  play(controlWord(kSustainPedal, 127));
  play(noteOnWord(62, 100));
  play(noteOffWord(62));
  play(controlWord(kSustainPedal, 0));
  EXPECT_EQ(state(), State(1, 1));
  play(noteOffWord(60));
  EXPECT_EQ(state(), State(0, 0));
}

TEST(AllNotesOff, ReleasesAStuckSequenceAndSilenceFollowsTheRelease) {
  for (const int controller : {kAllNotesOff, kAllSoundOff}) {
    for (const bool pedal : {false, true}) {
      DriverSchedule sch;
      sch.control(0, kSliderR, 20);
      if (pedal) sch.midi(0, controlWord(kSustainPedal, 127));
      sch.noteOn(0, 60);
      sch.noteOn(100, 62);
      sch.noteOff(200, 62);                           // 60 is never released
      sch.midi(3000, controlWord(controller, 0, 1));  // another channel: not heard
      sch.midi(5000, controlWord(controller, 0));
      auto s = test::makeSynth();
      const std::vector<float> out = test::render(*s, sch, 12000);
      EXPECT_GT(rms(out, 4000, 5000), 0.01) << controller;
      EXPECT_EQ(peak(out, 5000 + 882 + 10, 12000), 0.0) << controller << pedal;
      EXPECT_EQ(s->engine.voice.heldKeys.load(), 0);
      // Nothing held back survives it either: the next note releases at once.
      test::play(*s, controlWord(kSustainPedal, 0));
      EXPECT_EQ(s->engine.voice.gate.load(), 0);
    }
  }
}

TEST(Velocity, LevelFollowsVelocityAtFullSensitivityAndNotAtNone) {
  const auto sustainPeak = [](int velocity, int sensitivity) {
    auto s = test::makeSynth();
    s->engine.notes.setSetting(NoteSetting::VelocitySensitivity, sensitivity);
    DriverSchedule sch;
    sch.noteOn(0, 69, velocity);
    const std::vector<float> out = test::render(*s, sch, 60000);
    return std::make_pair(peak(out, 50000, 60000), out);
  };
  const auto [loud, loudOut] = sustainPeak(127, 100);
  const auto [soft, softOut] = sustainPeak(32, 100);
  EXPECT_NEAR(soft / loud, 32.0 / 127.0, 1e-5);
  const auto [half, halfOut] = sustainPeak(32, 50);
  EXPECT_NEAR(half / loud, 1 - 0.5 * (1 - 32.0 / 127.0), 1e-5);
  // Off (the default): every velocity sounds as before, to the bit.
  EXPECT_EQ(sustainPeak(32, 0).second, sustainPeak(127, 0).second);
  EXPECT_EQ(sustainPeak(127, 100).second, sustainPeak(127, 0).second);
}

TEST(NoteEntryMessages, CentredWheelAndAnUnusedPedalChangeNoSample) {
  DriverSchedule plain;
  plain.noteOn(100, 60);
  plain.noteOn(9000, 67);
  plain.noteOff(15000, 60);
  plain.noteOff(16000, 67);
  DriverSchedule busy = plain;
  busy.midi(0, bendWord(kBendCentre));
  busy.midi(50, controlWord(kSustainPedal, 0));
  busy.midi(8000, bendWord(kBendCentre));
  busy.midi(12000, controlWord(7, 100));
  EXPECT_EQ(test::renderFresh(busy, 30000, fixedBlocks(333)),
            test::renderFresh(plain, 30000, fixedBlocks(333)));
}

TEST(NoteEntrySettings, LimitedToTheirRanges) {
  auto s = test::makeSynth();
  NoteEntry& n = s->engine.notes;
  EXPECT_EQ(n.setting(NoteSetting::BendRange), 2);
  EXPECT_EQ(n.setting(NoteSetting::VelocitySensitivity), 0);
  EXPECT_EQ(n.setSetting(NoteSetting::BendRange, 30), 24);
  EXPECT_EQ(n.setSetting(NoteSetting::BendRange, -1), 0);
  EXPECT_EQ(n.setSetting(NoteSetting::BendRange, 2.6), 3);
  EXPECT_EQ(n.setSetting(NoteSetting::VelocitySensitivity, NAN), 0);
  EXPECT_EQ(n.setSetting(NoteSetting::VelocitySensitivity, 150), 100);
}

}  // namespace
}  // namespace ondelith
