#pragma once
// The pieces of a frame that the pipelined render (renderFrames) and the
// tests' per-sample reference share.

#include <cstdint>

#include "engine/engine.h"

namespace ondelith {

// The oscillator's phase for this frame and the volume (percent); false,
// with nothing advanced, while no note has been played. The previous pitch
// goes on while the previous sound fades out. The wobble (advanceWobble)
// must follow for every frame where this returns true.
inline bool oscillatorPhase(Engine& e, float& phase, float& volume) {
  constexpr auto kRelaxed = std::memory_order_relaxed;
  const double noteFrequency = e.voice.noteFrequency.load(kRelaxed);
  if (!(noteFrequency > 0)) return false;
  phase = e.oscillator.nextPhase(e.life.pitch(e.voice));
  volume = static_cast<float>(e.params.get(Param::Volume));
  return true;
}

// The gain stage: the envelope, and the fade-in while the counter is below
// `fadeIn` samples.
inline float applyGain(double filtered, double envelopeLevel, int32_t counter, int32_t fadeIn) {
  if (counter >= fadeIn) return static_cast<float>(filtered * envelopeLevel);
  const float q = static_cast<float>(counter) / static_cast<float>(fadeIn);
  const float fade = q * q * q * q * q;
  return static_cast<float>(fade * (filtered * envelopeLevel));
}

}  // namespace ondelith
