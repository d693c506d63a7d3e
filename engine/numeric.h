#pragma once
// Rounding that never invokes undefined behaviour: out-of-range values
// saturate and NaN becomes 0.

#include <cmath>
#include <cstdint>
#include <limits>

namespace ondelith {

constexpr double kSampleRate = 44100.0;

// Nearest integer, halves to even.
inline int32_t roundEven(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::nearbyint(v));
}

// Nearest integer, halves away from zero.
inline int32_t roundAway(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::round(v));
}

inline int32_t saturate(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// a - b without overflow.
inline int32_t subtractSat(int32_t a, int32_t b) {
  return saturate(static_cast<int64_t>(a) - static_cast<int64_t>(b));
}

}  // namespace ondelith
