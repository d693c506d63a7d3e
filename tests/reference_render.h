#pragma once
// The engine frame by frame in its plain order (tick, oscillator with its
// wobble, filter, gain), as tests and the benchmark use it to prove the
// pipelined render and to look at one step alone.

#include <cstdint>

#include "engine/engine.h"

namespace ondelith::test {

// One lifecycle and envelope tick for sample count n.
void engineTick(Engine& engine, int32_t n);
// The raw sample with the wobble at sample count n: phase, wobble,
// evaluation, volume.
float oscillatorStep(Engine& engine, int32_t n);
// One sample through the engine's filter at the current parameters.
double filterProcess(Engine& engine, float in);
// `frames` samples in that order, one at a time.
void renderReference(Engine& engine, float* out, int64_t frames);

}  // namespace ondelith::test
