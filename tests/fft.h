#pragma once
// A radix-2 FFT in place (the size a power of two), for the tools that
// look at spectra.

#include <complex>
#include <numbers>
#include <utility>
#include <vector>

namespace ondelith::test {

inline void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step =
        std::polar(1.0, -2 * std::numbers::pi / static_cast<double>(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> u = a[i + k], t = w * a[i + k + len / 2];
        a[i + k] = u + t;
        a[i + k + len / 2] = u - t;
      }
    }
  }
}

}  // namespace ondelith::test
