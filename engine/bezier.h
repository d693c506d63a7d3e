#pragma once
// One period of the waveform: a cubic Bezier from (0, 0.5) to (1, 0.5)
// through the two control points, evaluated in 32-bit floats.
//
// Written once for any lanes: T is float, or a vector of floats whose lanes
// each give the scalar's bits (the same operations in the same order). A
// vector crosses these calls by reference, never by value: the render's
// target clones would pass it in different registers.

namespace ondelith {

// The two control points, in the unit square.
template <typename T>
struct ControlPoints {
  T x1, y1, x2, y2;
};

// Lane functions hand their results back through a reference: a vector
// returned by value would change the ABI between the target clones.
template <typename T>
[[gnu::always_inline]] inline void cubicAt(const T& t, const T& a, const T& b, const T& c,
                                           const T& d, T& value) {
  value = a * t * t * t + b * t * t + c * t + d;
}

template <typename T>
[[gnu::always_inline]] inline void inverseSlopeAt(const T& t, const T& a, const T& b, const T& c,
                                                  T& value) {
  value = 1.0f / (3.0f * a * t * t + 2.0f * b * t + c);
}

inline float cubicValue(float t, float a, float b, float c, float d) {
  float v;
  cubicAt(t, a, b, c, d, v);
  return v;
}

inline float cubicInverseSlope(float t, float a, float b, float c) {
  float v;
  inverseSlopeAt(t, a, b, c, v);
  return v;
}

// The curve's height at horizontal position `phase` (0..1), as a row of a
// frame 200 units high: 0 is the top, 100 the zero line, 200 the bottom.
template <typename T>
[[gnu::always_inline]] inline void bezierRow(const T& phase, const ControlPoints<T>& p, T& row) {
  const T zero{};
  const T one = zero + 1.0f, top = zero + 200.0f, dy = zero + 0.5f;
  const T ax = 1.0f - 3.0f * p.x2 + 3.0f * p.x1;
  const T bx = 3.0f * p.x2 - 6.0f * p.x1;
  const T cx = 3.0f * p.x1;
  const T ay = 3.0f * p.y1 - 3.0f * p.y2;
  const T by = 3.0f * p.y2 - 6.0f * p.y1 + 1.5f;
  const T cy = 3.0f * p.y1 - 1.5f;
  // Exactly five Newton steps, unchecked: the cost per sample never varies.
  T t = phase, x, slope;
  for (int step = 0; step < 5; ++step) {
    cubicAt(t, ax, bx, cx, zero, x);
    inverseSlopeAt(t, ax, bx, cx, slope);
    t = t - (x - phase) * slope;
  }
  // Above 1: 1; below 0 or not a number: 0. Written as selects so runs vectorise.
  t = t > one ? one : t;
  t = t >= zero ? t : zero;
  T h;
  cubicAt(t, ay, by, cy, dy, h);
  h = 200.0f * h;
  h = h > top ? top : h;
  row = 200.0f - h;
}

inline float evaluateBezierCycle(float phase, float x1, float y1, float x2, float y2) {
  float row;
  bezierRow(phase, ControlPoints<float>{x1, y1, x2, y2}, row);
  return row;
}

}  // namespace ondelith
