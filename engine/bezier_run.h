#pragma once
// The Bezier unit's vector path: many frames' raw samples at once, with the
// scalar's bits (bezier.h and the oscillator's rawSample on vector lanes).

#include "engine/modulation.h"

namespace ondelith {

// The raw samples of n frames, the points given as the wobble's positions
// (pointsOf), the volume in percent; the same bits as one at a time.
void evaluateBezierRun(int n, const float* phase, const Float4* position, const float* volume,
                       float* raw);

}  // namespace ondelith
