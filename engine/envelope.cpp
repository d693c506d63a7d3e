#include "engine/envelope.h"

#include <limits>

#include "engine/modulation.h"
#include "engine/numeric.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int32_t kCounterWrap = 2147483640;
constexpr int32_t kFadeOutTicks = 1000;

void setUpNote(Engine& e) {
  EngineState& s = e.state;
  EngineParams& p = e.params;
  e.voice.noteSetUp.store(1, kRelaxed);
  s.gateTicks = -1;
  setUpWobble(e);
  const double attack = readControl(e.controls, kSliderA) / 1000.0;
  const double decay = readControl(e.controls, kSliderD) / 1000.0;
  const double sustain = readControl(e.controls, kSliderS) / 100.0;
  const double release = readControl(e.controls, kSliderR) / 1000.0;
  p.attackTime.store(attack, kRelaxed);
  p.decayTime.store(decay, kRelaxed);
  p.sustainLevel.store(sustain, kRelaxed);
  p.releaseTime.store(release, kRelaxed);
  s.attackSamples = attack * kSampleRate;
  s.decaySamples = decay * kSampleRate;
  s.noteSustain = sustain;
  s.releaseSamples = release * kSampleRate;
  e.attackEnd = roundEven(s.attackSamples);
  e.decayEnd = roundEven(s.attackSamples + s.decaySamples);
}

}  // namespace

void engineTick(Engine& e, int32_t n) { engineTickSeen(e, n, readNoteView(e.voice)); }

void engineTickSeen(Engine& e, int32_t n, const NoteView& view) {
  EngineState& s = e.state;
  VoiceState& v = e.voice;
  if (n > kCounterWrap) {
    v.sampleCounter.store(0, kRelaxed);
    s.releaseStartLevel = 0;
  }

  if (view.gate == 0) {
    const double remaining =
        s.releaseSamples + static_cast<double>(s.lastGateSample) - static_cast<double>(n);
    // No release length yet (before the first note) means silence, not 0/0.
    if (remaining < 0 || !(s.releaseSamples > 0))
      s.envelopeLevel = 0;
    else
      s.envelopeLevel = s.releaseStartLevel * remaining / s.releaseSamples;
    s.retriggerLevel = s.envelopeLevel;
    return;
  }

  // A gate opened since the last set-up is a new note, whatever the flag says.
  if (setsUpNote(e, view)) {
    e.setUpSerial = view.noteSerial;
    setUpNote(e);
  }
  if (s.gateTicks < std::numeric_limits<int32_t>::max()) ++s.gateTicks;

  if (s.gateTicks <= kFadeOutTicks) {
    s.envelopeLevel = (1.0 - s.gateTicks / 1000.0) * s.retriggerLevel;
  } else {
    // By serial, not by the attack flag: a release clearing the flag while
    // this tick still sees the gate open must not restart the attack at 0.
    if (e.attackSerial != e.setUpSerial) {
      e.attackSerial = e.setUpSerial;
      s.phaseCounter = -1;
      v.attackBegun.store(1, kRelaxed);
      v.sampleCounter.store(0, kRelaxed);
      n = 0;
      e.params.filterCutoff.store(readControl(e.controls, kSliderF), kRelaxed);
    }
    const double a = s.attackSamples;
    const double d = s.decaySamples;
    const double sustain = s.noteSustain;
    if (n <= e.attackEnd)
      s.envelopeLevel = a > 0 ? n / a : 1.0;
    else if (n <= e.decayEnd)
      s.envelopeLevel = sustain + (1.0 - sustain) * (a + d - n) / d;
    else
      s.envelopeLevel = sustain;
  }
  s.releaseStartLevel = s.envelopeLevel;
  s.lastGateSample = n;
}

}  // namespace ondelith
