#include "engine/lifecycle.h"

#include <limits>

namespace ondelith {

namespace {

// Past this the sample count starts again (about 13.5 hours at 44100 Hz).
constexpr int32_t kCounterWrap = 2147483640;

void setUpNote(Engine& e) {
  e.life.gateTicks = -1;
  setUpWobble(e);
  const EngineParams& p = e.params;
  e.envelope.setUp(p.get(Param::Attack), p.get(Param::Decay), p.get(Param::Sustain),
                   p.get(Param::Release), e.voice.noteLevel.load(std::memory_order_relaxed));
}

}  // namespace

void engineTickSeen(Engine& e, int32_t n, const NoteView& view) {
  NoteLifecycle& s = e.life;
  if (n > kCounterWrap) {
    e.sampleCounter.store(0, std::memory_order_relaxed);
    s.releaseStartLevel = 0;
  }

  if (view.gate == 0) {
    s.envelopeLevel = e.envelope.releaseLevel(s.releaseStartLevel, s.lastGateSample, n);
    s.retriggerLevel = s.envelopeLevel;
    return;
  }

  if (setsUpNote(e, view)) {
    s.setUpSerial = view.noteSerial;
    setUpNote(e);
  }
  if (s.gateTicks < std::numeric_limits<int32_t>::max()) ++s.gateTicks;

  if (s.gateTicks <= s.fadeTicks) {
    s.envelopeLevel = (1.0 - s.gateTicks / static_cast<double>(s.fadeTicks)) * s.retriggerLevel;
  } else {
    // By serial, not by a flag the note entry clears: a release landing
    // while this tick still sees the gate open must not restart the attack.
    if (s.attackSerial != s.setUpSerial) {
      s.attackSerial = s.setUpSerial;
      e.oscillator.restart();
      e.sampleCounter.store(0, std::memory_order_relaxed);
      n = 0;
    }
    s.envelopeLevel = e.envelope.heldLevel(n);
  }
  s.releaseStartLevel = s.envelopeLevel;
  s.lastGateSample = n;
}

}  // namespace ondelith
