#include "engine/render.h"

#include <algorithm>

#include "engine/envelope.h"
#include "engine/filter.h"
#include "engine/oscillator.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kChunk = 64;

// One run of frames. The lifecycle, phase and wobble run first, frame by
// frame, recording what each frame's evaluation and filter step need; then
// the Bezier evaluations, which do not depend on one another, run as one
// loop the processor can overlap; then the filter, whose recursion is the
// only chain that must stay serial.
void renderChunk(Engine& e, float* out, int n) {
  OscillatorInput osc[kChunk];
  bool sounding[kChunk];
  double envelope[kChunk];
  double cutoff[kChunk];
  int32_t resonance[kChunk];
  int32_t counter[kChunk];
  float raw[kChunk];

  for (int i = 0; i < n; ++i) {
    engineTick(e, e.voice.sampleCounter.load(kRelaxed));
    const int32_t c = e.voice.sampleCounter.load(kRelaxed);
    sounding[i] = oscillatorAdvance(e, c, osc[i]);
    if (!sounding[i]) osc[i] = {0.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f};
    envelope[i] = e.state.envelopeLevel;
    cutoff[i] = e.params.filterCutoff.load(kRelaxed);
    resonance[i] = e.params.filterResonance.load(kRelaxed);
    counter[i] = c;
    e.voice.sampleCounter.store(static_cast<int32_t>(static_cast<uint32_t>(c) + 1u), kRelaxed);
  }
  for (int i = 0; i < n; ++i) raw[i] = oscillatorOutput(osc[i]);
  for (int i = 0; i < n; ++i) {
    const double s = ladderFilterStep(e.filter, sounding[i] ? raw[i] : 0.0f, cutoff[i], resonance[i]);
    out[i] = applyGain(s, envelope[i], counter[i]);
  }
}

}  // namespace

void renderFrames(Engine& e, float* out, int64_t frames) {
  while (frames > 0) {
    const int n = static_cast<int>(std::min<int64_t>(frames, kChunk));
    renderChunk(e, out, n);
    out += n;
    frames -= n;
  }
}

int renderCallback(const void*, void* output, unsigned long frameCount,
                   const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData) {
  if (frameCount == 0 || !output || !userData) return paContinue;
  renderFrames(*static_cast<Engine*>(userData), static_cast<float*>(output),
               static_cast<int64_t>(frameCount));
  return paContinue;
}

}  // namespace ondelith
