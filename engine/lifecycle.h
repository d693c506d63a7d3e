#pragma once
#include <cstdint>
#include <limits>

#include "engine/engine.h"

namespace ondelith {

// What a tick reads of the note messages, read once by its caller.
struct NoteView {
  int32_t gate;
  uint32_t noteSerial;
};
inline NoteView readNoteView(const VoiceState& voice) {
  // Acquire: a tick that sees the gate a key opened also sees its serial.
  const int32_t gate = voice.gate.load(std::memory_order_acquire);
  return {gate, voice.noteSerial.load(std::memory_order_relaxed)};
}

// Whether a tick that sees `view` sets a note up: the gate opened since the
// last set-up.
inline bool setsUpNote(const Engine& engine, const NoteView& view) {
  return view.gate != 0 && view.noteSerial != engine.life.setUpSerial;
}

// The sample count the wobble reads on a frame whose tick saw `view` and
// left the count at n. A repeatable wobble counts a held note's set-up fade
// from its set-up, so that nothing played before reaches the note's start.
inline int32_t wobbleCount(const Engine& engine, const NoteView& view, int32_t n) {
  const bool own = view.gate != 0 && engine.life.fading() &&
                   engine.params.get(Param::WobblePhase) == kWobbleRepeatable;
  return own ? engine.life.gateTicks : n;
}

// A new note's set-up: the wobble tracks and the envelope's times, from the
// parameters as they are now.
void setUpNote(Engine& engine);

// One frame of the note lifecycle and the envelope, with the note state as
// the caller read it (so it can tell beforehand whether a note is set up)
// and sample count n. Inline: the render runs it once a frame.
inline void engineTickSeen(Engine& e, int32_t n, const NoteView& view) {
  NoteLifecycle& s = e.life;
  if (n > kCounterWrap) {
    e.sampleCounter.store(0, std::memory_order_relaxed);
    s.releaseStartLevel = 0;
  }

  if (view.gate == 0) {
    s.releasedAt(e.envelope.releaseLevel(s.releaseStartLevel, s.lastGateSample, n));
    return;
  }

  if (setsUpNote(e, view)) {
    s.setUpSerial = view.noteSerial;
    setUpNote(e);
  }
  if (s.gateTicks < std::numeric_limits<int32_t>::max()) ++s.gateTicks;

  if (s.fading()) {
    s.heldAt((1.0 - s.gateTicks / static_cast<double>(s.fadeTicks)) * s.retriggerLevel, n);
    return;
  }
  // By serial, not by a flag the note entry clears: a release landing
  // while this tick still sees the gate open must not restart the attack.
  if (s.attackSerial != s.setUpSerial) {
    s.attackSerial = s.setUpSerial;
    e.oscillator.restart();
    e.sampleCounter.store(0, std::memory_order_relaxed);
    n = 0;
  }
  s.heldAt(e.envelope.heldLevel(n), n);
}

}  // namespace ondelith
