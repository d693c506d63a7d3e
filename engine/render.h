#pragma once
#include <portaudio.h>

#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// Renders `frames` mono samples: per frame the lifecycle tick, the
// oscillator, the filter, the envelope gain and the fade-in of a note's
// first 100 samples. Allocates nothing, locks nothing, never waits.
void renderFrames(Engine& engine, float* out, int64_t frames);

// PortAudio's stream callback; userData is the Engine.
int renderCallback(const void* input, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags statusFlags,
                   void* userData);

// oscillatorOutput for n frames given as separate arrays, evaluated several
// at a time; the same bits as one at a time.
void evaluateBezierRun(int n, const float* phase, const float* x1, const float* y1, const float* x2,
                       const float* y2, const float* volume, float* raw);

// The gain stage: the envelope, and the fade-in while the counter is below 100.
inline float applyGain(double filtered, double envelopeLevel, int32_t counter) {
  if (counter >= 100) return static_cast<float>(filtered * envelopeLevel);
  const float q = static_cast<float>(counter) / 100.0f;
  const float fade = q * q * q * q * q;
  return static_cast<float>(fade * (filtered * envelopeLevel));
}

}  // namespace ondelith
