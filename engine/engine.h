#pragma once
// The instrument: one voice made at a given sample rate, set through its
// parameter set, played through its note entry, drawn on through its four
// curves, and rendered by the audio thread. It knows nothing of windows,
// devices or hosts; each host makes its own.

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/curve_model.h"
#include "engine/envelope.h"
#include "engine/filter.h"
#include "engine/modulation.h"
#include "engine/note_entry.h"
#include "engine/oscillator.h"
#include "engine/params.h"
#include "engine/sample_rate.h"

namespace ondelith {

// The note's course from gate to gate: set-up, the fade of what sounded
// before (at the previous pitch), the attack and the release. Audio thread.
struct NoteLifecycle {
  explicit NoteLifecycle(SampleRate rate)
      : fadeTicks(rate.scaledCount(1001) - 1), fadeInSamples(rate.scaledCount(100)) {}
  // The retrigger fade runs over ticks 0 to fadeTicks: 1001 ticks at 44100 Hz.
  const int32_t fadeTicks;
  const int32_t fadeInSamples;  // a note's first samples that fade in: 100 at 44100 Hz
  double envelopeLevel = 0;
  double retriggerLevel = 0;     // where the next note's fade starts
  double releaseStartLevel = 0;  // where a release starts
  int32_t lastGateSample = 0;    // the sample count of the last tick with the gate open
  int32_t gateTicks = 0;         // ticks since the note's set-up
  uint32_t setUpSerial = 0;      // the gate opening the current set-up belongs to
  uint32_t attackSerial = 0;     // the gate opening whose attack has begun
};

struct Engine {
  explicit Engine(SampleRate rate = {});
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const SampleRate rate;
  EngineParams params;
  VoiceState voice;
  NoteEntry notes{voice, params};
  // The wobble curves by row. Their owner (a window's editors, a host)
  // changes the points; the audio thread reads published copies.
  std::array<CurveModel, kWobbleRows> curves;

  // Opening a patch while a note sounds: the note's wobble takes the new
  // duration at once. Any thread.
  void applyWobbleDuration();

  // Everything a player set on `other` (parameters, note settings, the
  // curves' points and ranges), for an engine made afresh, at the same or
  // another rate, to go on where `other` was. The curves' owner's thread.
  void takeSettingsFrom(const Engine& other);

  // Samples since the attack began (or the start). Only the audio thread
  // writes it; others may watch it.
  std::atomic<int32_t> sampleCounter{0};

  // The audio thread's alone.
  NoteLifecycle life{rate};
  Envelope envelope{rate};
  Oscillator oscillator{rate};
  Wobble wobble{static_cast<float>(rate.hz())};
  LadderFilter filter{rate};
};

// Renders `frames` mono samples: per frame the lifecycle tick, the
// oscillator, the filter, the envelope gain and the fade-in of a note's
// first samples. Audio thread; allocates nothing, locks nothing, never waits.
void renderFrames(Engine& engine, float* out, int64_t frames);

}  // namespace ondelith
