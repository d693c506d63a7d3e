#include "engine/bezier_run.h"

#include "engine/oscillator.h"
#include "engine/target_clones.h"

namespace ondelith {

namespace {

// Sixteen lanes of float, built from rows of eight; the AVX-512 clone runs
// them whole, the others in halves or quarters. No function here takes or
// returns them by value: the clones would pass them in different registers,
// which clang refuses and GCC warns of. Only pointers, references and ints
// cross a call, and the lanes live inside one.
typedef float Lanes __attribute__((vector_size(32)));
typedef float Wide __attribute__((vector_size(64)));
constexpr int kLanes = 16;

// Frames i to i + 7 hold four positions each, turned into one row of eight
// a position. They are read a frame at a time, as the wobble wrote them just
// before: a read across two writes would wait for both to reach the cache.
[[gnu::always_inline]] inline void rowsOf(const Float4* positions, int i, Lanes& x1, Lanes& y1,
                                          Lanes& x2, Lanes& y2) {
  const Float4* p = positions + i;
  const Lanes r0 = __builtin_shufflevector(p[0], p[4], 0, 1, 2, 3, 4, 5, 6, 7);  // frames 0 | 4
  const Lanes r1 = __builtin_shufflevector(p[1], p[5], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes r2 = __builtin_shufflevector(p[2], p[6], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes r3 = __builtin_shufflevector(p[3], p[7], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes t0 = __builtin_shufflevector(r0, r1, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes t1 = __builtin_shufflevector(r2, r3, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes t2 = __builtin_shufflevector(r0, r1, 2, 10, 3, 11, 6, 14, 7, 15);
  const Lanes t3 = __builtin_shufflevector(r2, r3, 2, 10, 3, 11, 6, 14, 7, 15);
  x1 = __builtin_shufflevector(t0, t1, 0, 1, 8, 9, 4, 5, 12, 13);
  y1 = __builtin_shufflevector(t0, t1, 2, 3, 10, 11, 6, 7, 14, 15);
  x2 = __builtin_shufflevector(t2, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  y2 = __builtin_shufflevector(t2, t3, 2, 3, 10, 11, 6, 7, 14, 15);
}

// The raw samples of the sixteen frames from `i`: the scalar's rules
// (pointsOf, rawSample) on sixteen lanes, so each lane gives its bits.
[[gnu::always_inline]] inline void evaluateLanes(int i, const float* phases,
                                                 const Float4* positions, const float* volumes,
                                                 float* raw) {
  Wide phase, volume;
  __builtin_memcpy(&phase, phases + i, sizeof phase);
  __builtin_memcpy(&volume, volumes + i, sizeof volume);
  Lanes x1a, y1a, x2a, y2a, x1b, y1b, x2b, y2b;
  rowsOf(positions, i, x1a, y1a, x2a, y2a);
  rowsOf(positions, i + 8, x1b, y1b, x2b, y2b);
#define ONDELITH_JOIN(a, b) \
  __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)
  const Wide x1 = ONDELITH_JOIN(x1a, x1b), y1 = ONDELITH_JOIN(y1a, y1b);
  const Wide x2 = ONDELITH_JOIN(x2a, x2b), y2 = ONDELITH_JOIN(y2a, y2b);
#undef ONDELITH_JOIN
  ControlPoints<Wide> points;
  pointsOf(x1, y1, x2, y2, points);
  Wide out;
  rawSample(phase, points, volume, out);
  __builtin_memcpy(raw + i, &out, sizeof out);
}

// The clones stay inside this file: clang 14 drops the attribute from a
// function declared before without it, and names its dispatcher so that
// other files' calls would miss it.
ONDELITH_CLONES void evaluateRun(int n, const float* phase, const Float4* position,
                                 const float* volume, float* raw) {
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) evaluateLanes(i, phase, position, volume, raw);
  for (; i < n; ++i) {
    const Float4& p = position[i];
    ControlPoints<float> points;
    pointsOf(p[0], p[1], p[2], p[3], points);
    rawSample(phase[i], points, volume[i], raw[i]);
  }
}

}  // namespace

void evaluateBezierRun(int n, const float* phase, const Float4* position, const float* volume,
                       float* raw) {
  evaluateRun(n, phase, position, volume, raw);
}

}  // namespace ondelith
