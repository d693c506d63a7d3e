#pragma once
#include <cstdint>

#include "engine/bezier.h"
#include "engine/engine_state.h"

namespace ondelith {

// The raw sample for sample count n: advances the phase and the wobble,
// evaluates the period and scales it by the volume.
float oscillatorStep(Engine& engine, int32_t n);

// The two halves of oscillatorStep. The first carries everything that runs
// from sample to sample (phase, wobble) and reports whether the voice sounds;
// the second is the pure evaluation, so a run of samples can be evaluated
// independently of one another.
struct OscillatorInput {
  float phase, x1, y1, x2, y2, volume;
};
bool oscillatorAdvance(Engine& engine, int32_t n, OscillatorInput& in);

// The first half without the wobble: the phase and the volume. The wobble
// (advanceWobble) must follow for every sample where this returns true.
bool oscillatorPhase(Engine& engine, float& phase, float& volume);

inline float oscillatorOutput(const OscillatorInput& in) {
  const float row = evaluateBezierCycle(in.phase, in.x1, in.y1, in.x2, in.y2);
  const float height = (200.0f - row) / 200.0f;
  return (height - 0.5f) * in.volume / 100.0f;
}

// Samples per period for a frequency, reused while the frequency holds.
int32_t oscillatorPeriod(Engine& engine, double frequency);

}  // namespace ondelith
