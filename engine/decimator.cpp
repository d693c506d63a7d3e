#include "engine/decimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/target_clones.h"

namespace ondelith {

namespace {

typedef float Row __attribute__((vector_size(kTapLanes * sizeof(float))));

// out[i] += the sum over j < count of h[j] * x[i - j], for i < n: eight
// outputs side by side in each vector, so no sum runs across lanes, and
// four sums for taps in turn, so no add waits on the one before. The
// clones stay inside this file (see bezier_run.cpp).
ONDELITH_CLONES void convolveAdd(const float* h, int count, const float* x, float* out, int n) {
  int i = 0;
  const auto mac = [&](Row& sum, int at, int j) {
    Row v;
    __builtin_memcpy(&v, x + at - j, sizeof v);
    sum += h[j] * v;
  };
  for (; i + kTapLanes <= n; i += kTapLanes) {
    Row s0, s1{}, s2{}, s3{};
    __builtin_memcpy(&s0, out + i, sizeof s0);
    int j = 0;
    for (; j + 4 <= count; j += 4) {
      mac(s0, i, j);
      mac(s1, i, j + 1);
      mac(s2, i, j + 2);
      mac(s3, i, j + 3);
    }
    for (; j < count; ++j) mac(s0, i, j);
    const Row sum = (s0 + s1) + (s2 + s3);
    __builtin_memcpy(out + i, &sum, sizeof sum);
  }
  for (; i < n; ++i)
    for (int j = 0; j < count; ++j) out[i] += h[j] * x[i - j];
}

// Kaiser's window shape for a stop band `decibels` down.
double kaiserBeta(double decibels) {
  if (decibels > 50) return 0.1102 * (decibels - 8.7);
  if (decibels >= 21) return 0.5842 * std::pow(decibels - 21, 0.4) + 0.07886 * (decibels - 21);
  return 0;
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
  taps = std::min(taps, kLastTaps);
  double response[kLastTaps];
  designLowPass(response, taps, halfband ? 0.25 : cutoff, decibels);
  // Tap k reads the sample k back: the newer of the pair k / 2 back for
  // an even k, the older of the pair (k - 1) / 2 back for an odd one.
  newer_.taps.fill(0);
  older_.taps.fill(0);
  for (int k = 0; k < taps; ++k)
    (k % 2 == 0 ? newer_ : older_).taps[static_cast<size_t>(k / 2)] =
        static_cast<float>(response[k]);
  newer_.first = 0;
  newer_.count = (taps + 1) / 2;
  // A half-band's odd taps are 0 but the centre's (the taps number 4k + 3,
  // so the centre's delay is odd).
  const int centre = (taps - 1) / 2;
  older_.first = halfband ? centre / 2 : 0;
  older_.count = halfband ? 1 : taps / 2;
  reset();
}

void DecimatorStage::reset() {
  newer_.x.fill(0);
  older_.x.fill(0);
}

void DecimatorStage::block(const float* in, float* out, int pairs) {
  constexpr int kept = kPhaseTaps - 1;
  for (int i = 0; i < pairs; ++i) {
    older_.x[static_cast<size_t>(kept + i)] = in[2 * i];
    newer_.x[static_cast<size_t>(kept + i)] = in[2 * i + 1];
  }
  std::fill(out, out + pairs, 0.0f);
  for (Phase* p : {&older_, &newer_}) {
    convolveAdd(p->taps.data() + p->first, p->count, p->x.data() + kept - p->first, out, pairs);
    std::copy(p->x.begin() + pairs, p->x.begin() + pairs + kept, p->x.begin());
  }
}

void DecimatorStage::process(const float* in, float* out, int pairs) {
  for (int done = 0; done < pairs;) {
    const int n = std::min(pairs - done, kBlockPairs);
    block(in + 2 * done, out + done, n);
    done += n;
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
