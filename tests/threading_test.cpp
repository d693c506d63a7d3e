// Three threads on one set of records, as in the running system: the audio
// thread renders while the MIDI thread plays and the UI thread moves
// controls and curves. Run under ThreadSanitizer, any race is reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "app/patch_commands.h"
#include "engine/modulation.h"
#include "engine/render.h"
#include "test_support.h"

namespace ondelith {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Threading, RenderWhileNotesControlsAndCurvesChange) {
  auto s = test::makeSynth();
  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::atomic<bool> finite{true};

  std::thread audio([&] {
    float out[256];
    while (!stop.load()) {
      s->engine.render(out, 256);
      for (float v : out)
        if (!std::isfinite(v)) finite = false;
      blocks.fetch_add(1);
    }
  });
  std::thread midi([&] {
    std::mt19937 rng(1);
    while (!stop.load()) {
      const int note = 30 + static_cast<int>(rng() % 70);
      switch (rng() % 6) {
        case 0: midiInputCallback(s->midi, kMidiCloseNotice, 0); break;
        case 1:
        case 2: midiInputCallback(s->midi, kMidiData, test::noteOffWord(note)); break;
        default: midiInputCallback(s->midi, kMidiData, test::noteOnWord(note, 100)); break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    }
  });
  std::thread ui([&] {
    std::mt19937 rng(2);
    const int sliders[] = {kSliderF,  kSliderRes, kSliderA,   kSliderD,
                           kSliderS,  kSliderR,   kSliderX1,  kSliderY1,
                           kSliderX2, kSliderY2,  kSliderVol, kSliderDuration};
    while (!stop.load()) {
      const int row = static_cast<int>(rng() % kWobbleRows);
      const int id = curveEditorId(*s, row);
      switch (rng() % 7) {
        case 0:
          applyControlEvent(*s, sliders[rng() % 12], static_cast<int32_t>(rng() % 6000));
          break;
        case 1:
          applyControlEvent(*s, kSpinMod0 + static_cast<int>(rng() % 12),
                            static_cast<int32_t>(rng() % 201) - 100);
          break;
        case 2:
          applyControlEvent(*s, kSpinDurationRange, 1 + static_cast<int32_t>(rng() % 2));
          break;
        case 3: {
          CurveEditor& ed = *findCurveEditor(s->editors, id);
          const int i = static_cast<int>(rng() % kCurvePointCount);
          moveCurvePoint(ed, i, {curvePoint(ed, i).x, static_cast<int32_t>(rng() % 70)});
          break;
        }
        case 4: {
          std::vector<CurvePoint> a;
          copyCurveToArray(s->editors, id, a, 1);
          for (CurvePoint& p : a) p.y = static_cast<int32_t>(rng() % 101);
          copyCurveFromArray(s->editors, id, a, 1);
          break;
        }
        case 5:  // Save, and Open of what was saved, while notes sound
          applyPatch(*s, capturePatch(*s));
          break;
        default: curveValueAt(s->editors, id, LookupScaled, static_cast<int>(rng() % 1000)); break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 500));
    }
  });

  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop = true;
  audio.join();
  midi.join();
  ui.join();
  EXPECT_GT(blocks.load(), 100);
  EXPECT_TRUE(finite.load());
}

// Notes released at random moments while the audio thread ticks: however a
// release falls among the tick's reads, the level only ever falls as far as
// the release (or a new note's fade-out) lets it in one frame, never to 0.
TEST(Threading, ReleasesLandingMidTickNeverCutTheSound) {
  auto s = test::makeSynth();
  applyControlEvent(*s, kSliderA, 10);
  applyControlEvent(*s, kSliderD, 10);
  applyControlEvent(*s, kSliderS, 50);
  applyControlEvent(*s, kSliderR, 1000);
  std::atomic<bool> stop{false};
  std::atomic<int64_t> frames{0};
  std::atomic<int64_t> cuts{0};
  double largestFall = 0;

  std::thread audio([&] {
    double before = 0;
    float sample;
    while (!stop.load(std::memory_order_relaxed)) {
      s->engine.render(&sample, 1);  // the tick runs once per frame
      const double level = s->engine.life.envelopeLevel;
      largestFall = std::max(largestFall, before - level);
      if (before - level > 0.01) cuts.fetch_add(1);
      before = level;
      frames.fetch_add(1, std::memory_order_release);
    }
  });
  const auto waitFrames = [&](int64_t n) {
    const int64_t until = frames.load(std::memory_order_acquire) + n;
    while (frames.load(std::memory_order_acquire) < until) std::this_thread::yield();
  };
  std::mt19937 rng(3);
  constexpr int kNotes = 400;
  for (int k = 0; k < kNotes; ++k) {
    midiInputCallback(s->midi, kMidiData, test::noteOnWord(69, 100));
    waitFrames(1000 + 441 + 441 + 50);  // past the fade-out, attack and decay
    // Spin a little so the release lands anywhere within a frame.
    volatile unsigned sink = 0;
    for (unsigned spin = rng() % 512; spin > 0; --spin) sink = sink + 1;
    midiInputCallback(s->midi, kMidiData, test::noteOffWord(69));
    waitFrames(200);
  }
  stop = true;
  audio.join();
  EXPECT_EQ(cuts.load(), 0) << "largest fall in one frame: " << largestFall;
  EXPECT_GT(largestFall, 0.0);
}

// Two sources (a device and the program's own port) play into one note
// entry at once, while the audio thread renders. Rounds of random note-ons
// and note-offs end with each source holding one key: the gate must then
// be open with two keys counted; released, closed with none.
TEST(Threading, TwoSourcesInterleavingLeaveNoStuckKeyAndNoDroppedGate) {
  auto s = test::makeSynth();
  constexpr int kRounds = 300;
  int held = 0, open = 0, idle = 0;
  // Each step the two sources take side by side; this thread, the audio
  // thread here, then renders the block that applies what both sent.
  std::atomic<int> step{0};
  std::atomic<int> done{0};
  const auto source = [&](unsigned seed) {
    std::mt19937 rng(seed);
    for (int k = 1; k <= 2 * kRounds; ++k) {
      while (step.load() < k) std::this_thread::yield();
      if (k % 2) {
        for (int n = static_cast<int>(rng() % 16); n > 0; --n) {
          const int note = 40 + static_cast<int>(rng() % 40);
          midiInputCallback(s->midi, kMidiData, test::noteOnWord(note, 100));
          midiInputCallback(s->midi, kMidiData, test::noteOffWord(note));
        }
        midiInputCallback(s->midi, kMidiData, test::noteOnWord(60, 100));
      } else {
        midiInputCallback(s->midi, kMidiData, test::noteOffWord(60));
      }
      done.fetch_add(1);
    }
  };
  std::thread device(source, 11u), ownPort(source, 12u);
  const VoiceState& voice = s->engine.voice;
  float out[64];
  for (int k = 1; k <= 2 * kRounds; ++k) {
    step.store(k);
    while (done.load() < 2 * k) {
      s->engine.render(out, 64);  // blocks go on while the sources send
      std::this_thread::yield();
    }
    s->engine.render(out, 64);
    if (k % 2) {
      held += voice.heldKeys.load() == 2;
      open += voice.gate.load() == 1;
    } else {
      idle += voice.heldKeys.load() == 0 && voice.gate.load() == 0;
    }
  }
  device.join();
  ownPort.join();
  EXPECT_EQ(s->midi.lost.load(), 0u);
  EXPECT_EQ(held, kRounds);
  EXPECT_EQ(open, kRounds);
  EXPECT_EQ(idle, kRounds);
}

// While whole curves are replaced, every lookup sees one of them, never a mix.
TEST(Threading, LookupsSeeWholeCurves) {
  auto s = test::makeSynth();
  const int id = curveEditorId(*s, kRowX1);
  setCurveEditorProperty(s->editors, id, RangeX, 1000);
  setCurveEditorProperty(s->editors, id, RangeY, 100);
  s->engine.wobble.samples = 1001;  // the engine reads over the same 1000
  std::atomic<bool> stop{false};
  std::atomic<long> torn{0};
  std::atomic<long> lookups{0};
  const std::vector<CurvePoint> top(8, CurvePoint{500, 100});
  const std::vector<CurvePoint> bottom(8, CurvePoint{500, 1});
  copyCurveFromArray(s->editors, id, top, 1);

  std::thread reader([&] {  // the audio thread
    while (!stop.load()) {
      s->engine.render(nullptr, 0);
      for (int pos = 1; pos < 1000; pos += 37) {
        const int32_t cached = cachedCurveValue(s->engine, kRowX1, pos);
        if (cached != 1 && cached != 100) torn.fetch_add(1);
        lookups.fetch_add(1);
      }
    }
  });
  const auto until = Clock::now() + std::chrono::seconds(1);
  for (int i = 0; Clock::now() < until; ++i) {
    copyCurveFromArray(s->editors, id, i % 2 ? top : bottom, 1);
    s->instrument.flush();
    const int direct = curveValueAt(s->editors, id, LookupScaled, 1 + i % 999);
    if (direct != 1 && direct != 100) torn.fetch_add(1);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(lookups.load(), 1000);
}

}  // namespace
}  // namespace ondelith

namespace ondelith {
namespace {

// Save while notes start, at a rate other than the patch's: every capture
// writes the same bytes, since Save reads the instrument's sound and the
// voice's own reading of its curves never reaches it.
TEST(Threading, SavesWhileNotesStartWriteTheSoundAsSet) {
  auto s = test::makeSynth(*SampleRate::of(48000));
  applyControlEvent(*s, kSliderDuration, 7500);
  for (int row = 0; row < kWobbleRows; ++row) {
    applyControlEvent(*s, spinModId(row), 40 + 10 * row);
    CurveEditor& ed = *findCurveEditor(s->editors, curveEditorId(*s, row));
    for (int i = 0; i < kCurvePointCount; ++i)
      moveCurvePoint(ed, i, {curvePoint(ed, i).x, (9 * i + 13 * row) % 70});
  }
  const PatchValues expected = capturePatch(*s);
  std::atomic<bool> stop{false};
  test::AudioThread audio(s->engine);
  std::thread notes([&] {
    for (int k = 0; !stop.load(); ++k) {
      midiInputCallback(s->midi, kMidiData, test::noteOnWord(40 + k % 40, 100));
      midiInputCallback(s->midi, kMidiData, test::noteOffWord(40 + k % 40));
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  // At least 8000 saves, and 200 notes set up by the voice meanwhile.
  int wrong = 0, saves = 0;
  const auto until = Clock::now() + std::chrono::seconds(20);
  while ((saves < 8000 || s->engine.voice.noteSerial.load() < 200) && Clock::now() < until) {
    wrong += capturePatch(*s) != expected;
    ++saves;
  }
  stop = true;
  notes.join();
  EXPECT_EQ(wrong, 0) << "of " << saves;
  EXPECT_GE(s->engine.voice.noteSerial.load(), 200u);
}

}  // namespace
}  // namespace ondelith
