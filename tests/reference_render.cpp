#include "reference_render.h"

#include "engine/lifecycle.h"
#include "engine/render.h"

namespace ondelith::test {

void engineTick(Engine& e, int32_t n) { engineTickSeen(e, n, readNoteView(e.voice)); }

float oscillatorStep(Engine& e, int32_t n) {
  refreshCurveCaches(e);
  OscillatorInput in;
  if (!oscillatorPhase(e, in.phase, in.volume)) return 0.0f;
  advanceWobble(e, n);
  const auto& m = e.wobble.modulated;
  in.x1 = m[kRowX1];
  in.y1 = m[kRowY1];
  in.x2 = m[kRowX2];
  in.y2 = m[kRowY2];
  return oscillatorOutput(in);
}

double filterProcess(Engine& e, float in) {
  e.filter.setCutoff(e.params.get(Param::Cutoff));
  e.filter.setResonance(static_cast<int32_t>(e.params.get(Param::Resonance)));
  return e.filter.process(in);
}

void renderReference(Engine& e, float* out, int64_t frames) {
  for (int64_t i = 0; i < frames; ++i) {
    const NoteView view = readNoteView(e.voice);
    engineTickSeen(e, e.sampleCounter.load(), view);
    const int32_t c = e.sampleCounter.load();
    const float raw = oscillatorStep(e, wobbleCount(e, view, c));
    const double filtered = filterProcess(e, raw);
    out[i] = applyGain(filtered, e.life.envelopeLevel, c, e.life.fadeInSamples);
    e.sampleCounter.store(static_cast<int32_t>(static_cast<uint32_t>(c) + 1u));
  }
}

}  // namespace ondelith::test
