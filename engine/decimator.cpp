#include "engine/decimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/target_clones.h"

namespace ondelith {

namespace {

typedef float Row __attribute__((vector_size(kTapLanes * sizeof(float))));

// The clones stay inside this file (see bezier_run.cpp).
ONDELITH_CLONES float dot(const float* h, const float* x, int n) {
  Row sum{};
  for (int i = 0; i < n; i += kTapLanes) {
    Row a, b;
    __builtin_memcpy(&a, h + i, sizeof a);
    __builtin_memcpy(&b, x + i, sizeof b);
    sum += a * b;
  }
  float total = 0;
  for (int i = 0; i < kTapLanes; ++i) total += sum[i];
  return total;
}

constexpr int padded(int taps) { return (taps + kTapLanes - 1) / kTapLanes * kTapLanes; }

// Kaiser's window shape for a stop band `decibels` down.
double kaiserBeta(double decibels) {
  if (decibels > 50) return 0.1102 * (decibels - 8.7);
  if (decibels >= 21) return 0.5842 * std::pow(decibels - 21, 0.4) + 0.07886 * (decibels - 21);
  return 0;
}

// A newest-first ring stored twice over: `at` moves back one place a
// sample and the newest kPaddedTaps always lie in one row from it.
void push(std::array<float, 2 * kPaddedTaps>& ring, int& at, float x) {
  at = at == 0 ? kPaddedTaps - 1 : at - 1;
  ring[static_cast<size_t>(at)] = x;
  ring[static_cast<size_t>(at + kPaddedTaps)] = x;
}

}  // namespace

void designLowPass(double* h, int taps, double cutoff, double decibels) {
  const int centre = (taps - 1) / 2;
  const double beta = kaiserBeta(decibels);
  double sum = 0;
  for (int k = 0; k < taps; ++k) {
    const double t = k - centre;
    const double x = 2 * cutoff * t;
    const double sinc = t == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
    const double r = t / centre;
    const double window = std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1 - r * r))) /
                          std::cyl_bessel_i(0.0, beta);
    h[k] = 2 * cutoff * sinc * window;
    sum += h[k];
  }
  for (int k = 0; k < taps; ++k) h[k] /= sum;
}

void DecimatorStage::design(int taps, double cutoff, double decibels, bool halfband) {
  taps_ = std::min(taps, kLastTaps);
  halfband_ = halfband;
  centre_ = (taps_ - 1) / 2;
  double response[kLastTaps];
  designLowPass(response, taps_, halfband ? 0.25 : cutoff, decibels);
  h_.fill(0);
  // A half-band's taps at even distances from the centre are 0 but for the
  // centre's own, near 1/2, which sits at an odd delay (the taps number 4k
  // + 3): the even delays are the newer sample of each pair, the centre an
  // older one.
  centreTap_ = static_cast<float>(response[centre_]);
  if (halfband) {
    for (int k = 0; k < taps_; k += 2)
      h_[static_cast<size_t>(k / 2)] = static_cast<float>(response[k]);
    worked_ = padded((taps_ + 1) / 2);
  } else {
    for (int k = 0; k < taps_; ++k) h_[static_cast<size_t>(k)] = static_cast<float>(response[k]);
    worked_ = padded(taps_);
  }
  reset();
}

void DecimatorStage::reset() {
  ring_.fill(0);
  other_.fill(0);
  at_ = otherAt_ = 0;
}

float DecimatorStage::full(float a, float b) {
  push(ring_, at_, a);
  push(ring_, at_, b);
  return dot(h_.data(), ring_.data() + at_, worked_);
}

float DecimatorStage::half(float a, float b) {
  push(other_, otherAt_, a);
  push(ring_, at_, b);
  const float centre = other_[static_cast<size_t>(otherAt_ + (centre_ - 1) / 2)];
  return centreTap_ * centre + dot(h_.data(), ring_.data() + at_, worked_);
}

void DecimatorStage::process(const float* in, float* out, int pairs) {
  if (halfband_) {
    for (int i = 0; i < pairs; ++i) out[i] = half(in[2 * i], in[2 * i + 1]);
  } else {
    for (int i = 0; i < pairs; ++i) out[i] = full(in[2 * i], in[2 * i + 1]);
  }
}

Decimator::Decimator() {
  // The last stage runs at twice the output rate: flat to the pass edge,
  // down from the output's Nyquist frequency (a quarter of its own rate),
  // its cutoff between them. The half-bands before it keep the audible
  // band and stop what would fold onto it: from 1.5 times the output rate
  // at 4x, 3.5 times at 8x, which their lengths reach.
  last_.design(kLastTaps, (kPassEdge / 2 + 0.25) / 2, kStopDecibels, false);
  halfband_.design(kHalfbandTaps, 0.25, kStopDecibels, true);
  first_.design(kFirstTaps, 0.25, kStopDecibels, true);
}

void Decimator::setFactor(int factor) {
  factor_ = factor == 2 || factor == 4 || factor == 8 ? factor : 1;
  stageCount_ = 0;
  if (factor_ >= 8) order_[static_cast<size_t>(stageCount_++)] = &first_;
  if (factor_ >= 4) order_[static_cast<size_t>(stageCount_++)] = &halfband_;
  if (factor_ >= 2) order_[static_cast<size_t>(stageCount_++)] = &last_;
  first_.reset();
  halfband_.reset();
  last_.reset();
}

void Decimator::process(float* samples, float* out, int64_t frames) {
  if (stageCount_ == 0) {
    std::copy(samples, samples + frames, out);
    return;
  }
  int64_t n = frames * factor_;
  for (int s = 0; s < stageCount_; ++s) {
    n /= 2;
    float* to = s + 1 == stageCount_ ? out : samples;
    order_[static_cast<size_t>(s)]->process(samples, to, static_cast<int>(n));
  }
}

int Decimator::delayFrames(int factor) {
  // A stage of L taps delays by (L - 1) / 2 of its input's samples; each
  // output frame is worked from the factor's samples up to the last of
  // them. The tap counts make the sum come out whole.
  const int taps[] = {kFirstTaps, kHalfbandTaps, kLastTaps};
  int delay = 0;
  for (int s = 0, rate = 8; rate >= 2; ++s, rate /= 2)
    if (factor >= rate) delay += (taps[s] - 1) / 2 * (factor / rate);
  return factor > 1 ? (delay - (factor - 1)) / factor : 0;
}

}  // namespace ondelith
