#include "engine/oscillator.h"

#include "engine/modulation.h"
#include "engine/numeric.h"

namespace ondelith {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

int32_t oscillatorPeriod(Engine& e, double frequency) {
  if (frequency != e.cachedPeriodFrequency) {
    e.cachedPeriodFrequency = frequency;
    e.cachedPeriod = roundEven(kSampleRate / frequency);
  }
  return e.cachedPeriod;
}

bool oscillatorPhase(Engine& e, float& phase, float& volume) {
  const double noteFrequency = e.voice.noteFrequency.load(kRelaxed);
  if (!(noteFrequency > 0)) return false;
  EngineState& s = e.state;
  // The previous pitch goes on while the previous sound fades out.
  const double frequency =
      s.gateTicks > 1000 ? noteFrequency : e.voice.previousFrequency.load(kRelaxed);
  const int32_t period = oscillatorPeriod(e, frequency);
  s.phaseCounter = s.phaseCounter < period ? s.phaseCounter + 1 : period;
  if (s.phaseCounter >= period) s.phaseCounter = 0;
  phase = static_cast<float>(s.phaseCounter) / static_cast<float>(period);
  volume = e.params.volume.load(kRelaxed);
  return true;
}

bool oscillatorAdvance(Engine& e, int32_t n, OscillatorInput& in) {
  if (!oscillatorPhase(e, in.phase, in.volume)) return false;
  advanceWobble(e, n);
  const EngineState& s = e.state;
  in.x1 = s.modulatedX1;
  in.y1 = s.modulatedY1;
  in.x2 = s.modulatedX2;
  in.y2 = s.modulatedY2;
  return true;
}

float oscillatorStep(Engine& e, int32_t n) {
  refreshCurveCaches(e);
  OscillatorInput in;
  if (!oscillatorAdvance(e, n, in)) return 0.0f;
  return oscillatorOutput(in);
}

}  // namespace ondelith
