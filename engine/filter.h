#pragma once
// The resonant four-pole ladder low-pass (Stilson and Smith's digital Moog
// ladder, with a rational stand-in for the resonance scale's exponential and
// a cubic soft clipper on the output).

#include <cstdint>

#include "engine/numeric.h"
#include "engine/sample_rate.h"

namespace ondelith {

class LadderFilter {
 public:
  explicit LadderFilter(SampleRate rate = {}) : rate_(rate.hz()) {}

  // Cutoff in Hz (20 to 5000 from the controls); the coefficients follow
  // when its nearest whole number changes.
  void setCutoff(double hz) { cutoff_ = hz; }
  // Resonance in percent, 0 to 100.
  void setResonance(int32_t percent) { resonance_ = percent; }

  // One sample through the filter.
  inline double process(float in) {
    updateCoefficients();
    return step(in);
  }
  // The two halves of process: a caller whose settings hold for many
  // samples brings the coefficients up to date once, then steps.
  inline void updateCoefficients();
  inline double step(float in);

  // The filter at rest, as made; the settings stay.
  void reset();
  // Everything of `other`, field by field: a whole-object copy of a filter
  // kept in registers is assembled on the stack in halves and read back
  // whole, and that read waits until the halves reach the cache.
  inline void assignFrom(const LadderFilter& other);

  // Beyond this the output has left what the clipper allows.
  static constexpr double kOutputLimit = 1.0;

  struct Coefficients {
    double f, p, k, t, t2, r;
  };
  Coefficients coefficients() const { return {f_, p_, k_, t_, t2_, r_}; }
  // How often the filter had to start afresh since it was made.
  uint32_t restarts() const { return restarts_; }

 private:
  void clearState() { y1_ = y2_ = y3_ = y4_ = oldx_ = oldy1_ = oldy2_ = oldy3_ = 0; }

  double rate_;
  double cutoff_ = 0;
  int32_t resonance_ = 0;
  // Coefficients and the settings they were worked out for (0: not yet).
  double f_ = 0, p_ = 0, k_ = 0, t_ = 0, t2_ = 0, r_ = 0;
  int32_t cachedCutoff_ = 0;
  int32_t cachedResonance_ = 0;
  // Stage outputs and their previous values.
  double y1_ = 0, y2_ = 0, y3_ = 0, y4_ = 0;
  double oldx_ = 0, oldy1_ = 0, oldy2_ = 0, oldy3_ = 0;
  uint32_t restarts_ = 0;
};

inline void LadderFilter::assignFrom(const LadderFilter& o) {
  rate_ = o.rate_;
  cutoff_ = o.cutoff_;
  resonance_ = o.resonance_;
  f_ = o.f_;
  p_ = o.p_;
  k_ = o.k_;
  t_ = o.t_;
  t2_ = o.t2_;
  r_ = o.r_;
  cachedCutoff_ = o.cachedCutoff_;
  cachedResonance_ = o.cachedResonance_;
  y1_ = o.y1_;
  y2_ = o.y2_;
  y3_ = o.y3_;
  y4_ = o.y4_;
  oldx_ = o.oldx_;
  oldy1_ = o.oldy1_;
  oldy2_ = o.oldy2_;
  oldy3_ = o.oldy3_;
  restarts_ = o.restarts_;
}

inline void LadderFilter::updateCoefficients() {
  const int32_t roundedCutoff = roundEven(cutoff_);
  const bool cutoffChanged = roundedCutoff != cachedCutoff_;
  if (cutoffChanged) {
    f_ = cutoff_ * 2.0 / rate_;
    p_ = f_ * (1.8 - 0.8 * f_);
    k_ = p_ + p_ - 1.0;
    t_ = (1.0 - p_) * 1.386249;
    t2_ = 12.0 + t_ * t_;
    cachedCutoff_ = roundedCutoff;
  }
  if (cutoffChanged || resonance_ != cachedResonance_) {
    r_ = (resonance_ / 100.0) * (t2_ + 6.0 * t_) / (t2_ - 6.0 * t_);
    cachedResonance_ = resonance_;
  }
}

inline double LadderFilter::step(float in) {
  const double x = in - r_ * y4_;
  y1_ = (x + oldx_) * p_ - k_ * y1_;
  y2_ = (y1_ + oldy1_) * p_ - k_ * y2_;
  y3_ = (y2_ + oldy2_) * p_ - k_ * y3_;
  y4_ = (y3_ + oldy3_) * p_ - k_ * y4_;
  y4_ = y4_ - y4_ * y4_ * y4_ / 6.0;
  // The clipper keeps every output that the controls can drive within
  // 2 * sqrt(2) / 3 (about 0.943); past 1 (or not a number) it is folding
  // back and the feedback runs away for good, so the filter starts afresh.
  if (!(y4_ <= kOutputLimit && y4_ >= -kOutputLimit)) {
    clearState();
    ++restarts_;
    return 0.0;
  }
  oldx_ = x;
  oldy1_ = y1_;
  oldy2_ = y2_;
  oldy3_ = y3_;
  return y4_;
}

}  // namespace ondelith
