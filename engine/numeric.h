#pragma once
// Rounding that never invokes undefined behaviour: out-of-range values
// saturate and NaN becomes 0.

#include <cmath>
#include <cstdint>
#include <limits>

namespace ondelith {

inline int32_t saturate(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Both roundings run once or more per sample, so they avoid library calls.

// Nearest integer, halves to even.
inline int32_t roundEven(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  // Adding 1.5 * 2^52 leaves no fraction bits: the sum is rounded to an
  // integer, halves to even, and the difference is exact.
  // IEEE arithmetic (no -ffast-math) keeps the compiler from folding the pair.
  constexpr double kShift = 6755399441055744.0;
  return static_cast<int32_t>((v + kShift) - kShift);
}

// Nearest integer, halves away from zero.
inline int32_t roundAway(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  int64_t i = static_cast<int64_t>(v);                 // toward zero
  const double fraction = v - static_cast<double>(i);  // exact
  if (fraction >= 0.5) ++i;
  if (fraction <= -0.5) --i;
  return saturate(i);
}

// a - b without overflow.
inline int32_t subtractSat(int32_t a, int32_t b) {
  return saturate(static_cast<int64_t>(a) - static_cast<int64_t>(b));
}

}  // namespace ondelith
