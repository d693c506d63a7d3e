#include "engine/render.h"

#include <algorithm>

#include "engine/envelope.h"
#include "engine/filter.h"
#include "engine/modulation.h"
#include "engine/oscillator.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kChunk = 64;

// Eight lanes of float; the generic build runs them as two halves. Every
// function taking or returning them is inlined into one clone, so the ABI
// difference the compiler warns of never arises.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float Lanes __attribute__((vector_size(32)));
constexpr int kLanes = 8;

[[gnu::always_inline]] inline Lanes splat(float f) { return Lanes{f, f, f, f, f, f, f, f}; }

[[gnu::always_inline]] inline Lanes cubicLanes(Lanes t, Lanes a, Lanes b, Lanes c, Lanes d) {
  return a * t * t * t + b * t * t + c * t + d;
}

// evaluateBezierCycle and the oscillator's scaling, lane by lane, with the
// same operations in the same order, so each lane gives the scalar's bits.
[[gnu::always_inline]] inline Lanes evaluateLanes(Lanes phase, Lanes x1, Lanes y1, Lanes x2, Lanes y2, Lanes volume) {
  const Lanes one = splat(1.0f), two = splat(2.0f), three = splat(3.0f), six = splat(6.0f);
  const Lanes ax = one - three * x2 + three * x1;
  const Lanes bx = three * x2 - six * x1;
  const Lanes cx = three * x1;
  const Lanes dx = splat(0.0f);
  const Lanes ay = three * y1 - three * y2;
  const Lanes by = three * y2 - six * y1 + splat(1.5f);
  const Lanes cy = three * y1 - splat(1.5f);
  const Lanes dy = splat(0.5f);
  Lanes t = phase;
  for (int k = 0; k < 5; ++k)
    t = t - (cubicLanes(t, ax, bx, cx, dx) - phase) * (one / (three * ax * t * t + two * bx * t + cx));
  t = t > one ? one : t;
  t = t >= splat(0.0f) ? t : splat(0.0f);
  const Lanes top = splat(200.0f);
  Lanes h = top * cubicLanes(t, ay, by, cy, dy);
  h = h > top ? top : h;
  const Lanes row = top - h;
  const Lanes height = (top - row) / top;
  return (height - splat(0.5f)) * volume / splat(100.0f);
}

}  // namespace

#ifdef ONDELITH_NO_TARGET_CLONES
#define ONDELITH_CLONES
#else
#define ONDELITH_CLONES __attribute__((target_clones("avx2", "default")))
#endif

ONDELITH_CLONES void evaluateBezierRun(
    int n, const float* phase, const float* x1, const float* y1, const float* x2,
    const float* y2, const float* volume, float* raw) {
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    Lanes p, a, b, c, d, v;
    __builtin_memcpy(&p, phase + i, sizeof p);
    __builtin_memcpy(&a, x1 + i, sizeof a);
    __builtin_memcpy(&b, y1 + i, sizeof b);
    __builtin_memcpy(&c, x2 + i, sizeof c);
    __builtin_memcpy(&d, y2 + i, sizeof d);
    __builtin_memcpy(&v, volume + i, sizeof v);
    const Lanes r = evaluateLanes(p, a, b, c, d, v);
    __builtin_memcpy(raw + i, &r, sizeof r);
  }
  for (; i < n; ++i)
    raw[i] = oscillatorOutput({phase[i], x1[i], y1[i], x2[i], y2[i], volume[i]});
}

namespace {

// One run of frames. The lifecycle, phase and wobble run first, frame by
// frame, recording what each frame's evaluation and filter step need; then
// the evaluations; then the filter, whose recursion is the only chain that
// must stay serial.
void renderChunk(Engine& e, float* out, int n) {
  alignas(32) float phase[kChunk], x1[kChunk], y1[kChunk], x2[kChunk], y2[kChunk], volume[kChunk];
  alignas(32) float raw[kChunk];
  double envelope[kChunk];
  double cutoff[kChunk];
  int32_t resonance[kChunk];
  int32_t counter[kChunk];

  refreshCurveCaches(e);
  for (int i = 0; i < n; ++i) {
    engineTick(e, e.voice.sampleCounter.load(kRelaxed));
    const int32_t c = e.voice.sampleCounter.load(kRelaxed);
    OscillatorInput in;
    if (oscillatorAdvance(e, c, in)) {
      phase[i] = in.phase;
      x1[i] = in.x1;
      y1[i] = in.y1;
      x2[i] = in.x2;
      y2[i] = in.y2;
      volume[i] = in.volume;
    } else {  // no note yet: a silent sample
      phase[i] = 0.0f;
      x1[i] = y1[i] = x2[i] = y2[i] = 0.5f;
      volume[i] = 0.0f;
    }
    envelope[i] = e.state.envelopeLevel;
    cutoff[i] = e.params.filterCutoff.load(kRelaxed);
    resonance[i] = e.params.filterResonance.load(kRelaxed);
    counter[i] = c;
    e.voice.sampleCounter.store(static_cast<int32_t>(static_cast<uint32_t>(c) + 1u), kRelaxed);
  }
  evaluateBezierRun(n, phase, x1, y1, x2, y2, volume, raw);
  for (int i = 0; i < n; ++i)
    out[i] = applyGain(ladderFilterStep(e.filter, raw[i], cutoff[i], resonance[i]), envelope[i],
                       counter[i]);
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
