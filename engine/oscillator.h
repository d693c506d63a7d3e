#pragma once
// The oscillator's phase: a whole number of samples per period, so the pitch
// is the rate divided by a whole number. The waveform itself is the pure
// evaluation in bezier.h.

#include <cstdint>

#include "engine/bezier.h"
#include "engine/numeric.h"
#include "engine/sample_rate.h"

namespace ondelith {

// counter / period in floats, by a multiply: with both below 2^24 (periods
// are far shorter: under 40000 samples at 192 kHz) the quotient lies at
// least 2^-49 of itself from any point where float rounding turns, and the
// double product misses it by under 2^-52 of itself, so it rounds to the
// quotient's bits. The divider stays free for the filter.
constexpr int32_t kExactPhasePeriods = 1 << 24;
inline float phaseOf(int32_t counter, double inversePeriod) {
  return static_cast<float>(counter * inversePeriod);
}

class Oscillator {
 public:
  explicit Oscillator(SampleRate rate = {}) : rate_(rate.hz()) {}

  // Samples per period for a frequency in Hz (above 0), reused while it holds.
  int32_t period(double frequency) {
    if (frequency != cachedFrequency_) {
      cachedFrequency_ = frequency;
      cachedPeriod_ = roundEven(rate_ / frequency);
    }
    return cachedPeriod_;
  }
  // The next sample's place in the period (0 to 1) at this frequency.
  float nextPhase(double frequency) {
    const int32_t p = period(frequency);
    phaseCounter_ = nextCounter(phaseCounter_, p);
    return static_cast<float>(phaseCounter_) / static_cast<float>(p);
  }
  // The index after `counter` in a period of `period` samples; a phase past
  // a shortened period wraps to 0.
  static int32_t nextCounter(int32_t counter, int32_t period) {
    counter = counter < period ? counter + 1 : period;
    return counter >= period ? 0 : counter;
  }

  // Samples at one frequency stepped in a row, the period worked out once.
  class Stretch {
   public:
    [[gnu::always_inline]] float next() {
      counter_ = nextCounter(counter_, period_);
      return phaseOf(counter_, inversePeriod_);
    }

   private:
    friend class Oscillator;
    int32_t counter_ = 0, period_ = 1;
    double inversePeriod_ = 1;
  };
  // False, with nothing changed, for a period too long to step this way.
  bool beginStretch(double frequency, Stretch& s) {
    s.period_ = period(frequency);
    if (s.period_ >= kExactPhasePeriods) return false;
    s.counter_ = phaseCounter_;
    s.inversePeriod_ = 1.0 / s.period_;
    return true;
  }
  void endStretch(const Stretch& s) { phaseCounter_ = s.counter_; }

  // Where the oscillator stands, saved and restored whole.
  struct Place {
    int32_t phaseCounter;
  };
  Place place() const { return {phaseCounter_}; }
  void restore(Place p) { phaseCounter_ = p.phaseCounter; }

  // The next phase is 0.
  void restart() { phaseCounter_ = -1; }
  int32_t phaseCounter() const { return phaseCounter_; }
  int32_t lastPeriod() const { return cachedPeriod_; }
  // Places the phase: the next sample is index `counter` + 1.
  void setPhaseCounter(int32_t counter) { phaseCounter_ = counter; }

 private:
  double rate_;
  int32_t phaseCounter_ = 0;  // the sample's index within the period
  double cachedFrequency_ = -1;
  int32_t cachedPeriod_ = 0;
};

// The raw sample: one evaluation of the period, scaled by the volume
// (percent); for any lanes, as bezierRow.
template <typename T>
[[gnu::always_inline]] inline void rawSample(const T& phase, const ControlPoints<T>& p,
                                             const T& volume, T& raw) {
  T row;
  bezierRow(phase, p, row);
  const T height = (200.0f - row) / 200.0f;
  raw = (height - 0.5f) * volume / 100.0f;
}

struct OscillatorInput {
  float phase, x1, y1, x2, y2, volume;
};
inline float oscillatorOutput(const OscillatorInput& in) {
  float raw;
  rawSample(in.phase, ControlPoints<float>{in.x1, in.y1, in.x2, in.y2}, in.volume, raw);
  return raw;
}

}  // namespace ondelith
