#pragma once
// One period of the waveform: a cubic Bezier from (0, 0.5) to (1, 0.5)
// through the two control points, evaluated in 32-bit floats.

namespace ondelith {

inline float cubicValue(float t, float a, float b, float c, float d) {
  return a * t * t * t + b * t * t + c * t + d;
}

inline float cubicInverseSlope(float t, float a, float b, float c) {
  return 1.0f / (3.0f * a * t * t + 2.0f * b * t + c);
}

// The curve's height at horizontal position `phase` (0..1), as a row of a
// frame 200 units high: 0 is the top, 100 the zero line, 200 the bottom.
inline float evaluateBezierCycle(float phase, float x1, float y1, float x2, float y2) {
  const float ax = 1.0f - 3.0f * x2 + 3.0f * x1;
  const float bx = 3.0f * x2 - 6.0f * x1;
  const float cx = 3.0f * x1;
  const float dx = 0.0f;
  const float ay = 3.0f * y1 - 3.0f * y2;
  const float by = 3.0f * y2 - 6.0f * y1 + 1.5f;
  const float cy = 3.0f * y1 - 1.5f;
  const float dy = 0.5f;
  // Exactly five Newton steps, unchecked: the cost per sample never varies.
  float t = phase;
  t = t - (cubicValue(t, ax, bx, cx, dx) - phase) * cubicInverseSlope(t, ax, bx, cx);
  t = t - (cubicValue(t, ax, bx, cx, dx) - phase) * cubicInverseSlope(t, ax, bx, cx);
  t = t - (cubicValue(t, ax, bx, cx, dx) - phase) * cubicInverseSlope(t, ax, bx, cx);
  t = t - (cubicValue(t, ax, bx, cx, dx) - phase) * cubicInverseSlope(t, ax, bx, cx);
  t = t - (cubicValue(t, ax, bx, cx, dx) - phase) * cubicInverseSlope(t, ax, bx, cx);
  // Above 1: 1; below 0 or not a number: 0. Written as selects so runs vectorise.
  t = t > 1.0f ? 1.0f : t;
  t = t >= 0.0f ? t : 0.0f;
  float h = 200.0f * cubicValue(t, ay, by, cy, dy);
  h = h > 200.0f ? 200.0f : h;
  return 200.0f - h;
}

}  // namespace ondelith
