#pragma once
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/numeric.h"

namespace ondelith {

// One sample through the resonant four-pole ladder low-pass.
double filterProcess(Engine& engine, float in);

// The same with the settings passed in; inline, since the render loop runs
// it once per sample.
inline double ladderFilterStep(LadderFilter& lf, float in, double cutoff, int32_t resonance) {
  const int32_t roundedCutoff = roundEven(cutoff);
  const bool cutoffChanged = roundedCutoff != lf.cachedCutoff;
  if (cutoffChanged) {
    lf.f = cutoff * 2.0 / kSampleRate;
    lf.p = lf.f * (1.8 - 0.8 * lf.f);
    lf.k = lf.p + lf.p - 1.0;
    lf.t = (1.0 - lf.p) * 1.386249;
    lf.t2 = 12.0 + lf.t * lf.t;
    lf.cachedCutoff = roundedCutoff;
  }
  if (cutoffChanged || resonance != lf.cachedResonance) {
    lf.r = (resonance / 100.0) * (lf.t2 + 6.0 * lf.t) / (lf.t2 - 6.0 * lf.t);
    lf.cachedResonance = resonance;
  }
  lf.x = in - lf.r * lf.y4;
  lf.y1 = (lf.x + lf.oldx) * lf.p - lf.k * lf.y1;
  lf.y2 = (lf.y1 + lf.oldy1) * lf.p - lf.k * lf.y2;
  lf.y3 = (lf.y2 + lf.oldy2) * lf.p - lf.k * lf.y3;
  lf.y4 = (lf.y3 + lf.oldy3) * lf.p - lf.k * lf.y4;
  lf.y4 = lf.y4 - lf.y4 * lf.y4 * lf.y4 / 6.0;
  lf.oldx = lf.x;
  lf.oldy1 = lf.y1;
  lf.oldy2 = lf.y2;
  lf.oldy3 = lf.y3;
  return lf.y4;
}

}  // namespace ondelith
