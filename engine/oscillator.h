#pragma once
// The oscillator's phase. In the instrument's own pitch mode a period lasts
// a whole number of samples, so the pitch is the rate divided by a whole
// number and every period is drawn alike; in exact pitch mode the phase
// moves on by a fraction of a period a sample, so every note, and every
// bend of it, plays at its own frequency. Both modes step by one rule
// (PhaseCourse); the waveform itself is the pure evaluation in bezier.h.

#include <cmath>
#include <cstdint>

#include "engine/bezier.h"
#include "engine/numeric.h"
#include "engine/params.h"
#include "engine/sample_rate.h"

namespace ondelith {

// place / span in floats, by a multiply: with both below 2^24 (periods
// are far shorter: under 40000 samples at 192 kHz) the quotient lies at
// least 2^-49 of itself from any point where float rounding turns, and the
// double product misses it by under 2^-52 of itself, so it rounds to the
// quotient's bits. The divider stays free for the filter.
constexpr int32_t kExactPhasePeriods = 1 << 24;
inline float phaseOf(uint32_t place, double inverseSpan) {
  return static_cast<float>(place * inverseSpan);
}

// Exact pitch counts 2^31 places a period, so a place and a step (under a
// period: higher frequencies fold back) add up within 32 bits. The lowest
// note at 192 kHz steps 91445 places, so the step's rounding leaves every
// note within 0.01 cent of its frequency.
constexpr uint32_t kFineSpan = 1u << 31;
// A hair short of 1 / span: a period's last places would round up to phase 1.
constexpr double kFineInverse = (1.0 - 0x1p-24) / kFineSpan;

// How the phase moves on at one frequency: `step` places a sample, `span`
// places a period; `inverse` turns a place into the phase (0 to 1). Whole
// samples: step 1, span the period.
struct PhaseCourse {
  uint32_t step = 1, span = 1;
  double inverse = 1;
  bool exact = false;
};

// The place a course goes on from: one before the period (a restart) or
// past it (the pitch rose) starts the period over at the next step.
inline uint32_t enteredPlace(int32_t place, const PhaseCourse& c) {
  return place < 0 || static_cast<uint32_t>(place) >= c.span ? c.span - c.step
                                                             : static_cast<uint32_t>(place);
}
// The next sample's place, from an entered one.
[[gnu::always_inline]] inline uint32_t steppedPlace(uint32_t place, const PhaseCourse& c) {
  place += c.step;
  return place >= c.span ? place - c.span : place;
}

class Oscillator {
 public:
  // The pitch mode is the parameters' PitchMode as each step finds it. An
  // oversampled voice's whole-sample periods are whole samples of the
  // output rate, `periodFactor` of its own each, so they keep their pitch.
  Oscillator(SampleRate rate, const EngineParams& params, int periodFactor = 1)
      : rate_(rate.hz()), params_(params), periodFactor_(periodFactor) {}

  // Whole samples per period for a frequency in Hz (above 0), in either mode.
  int32_t period(double frequency) {
    course(frequency);
    return cachedPeriod_;
  }
  // The next sample's place in the period (0 to 1) at this frequency.
  float nextPhase(double frequency) {
    const PhaseCourse& c = course(frequency);
    const uint32_t place = steppedPlace(enteredPlace(place_, c), c);
    place_ = static_cast<int32_t>(place);
    // Whole-sample periods of any length divide; phaseOf for the rest.
    return c.exact ? phaseOf(place, c.inverse)
                   : static_cast<float>(place) / static_cast<float>(c.span);
  }

  // Samples at one frequency stepped in a row, the course worked out once.
  class Stretch {
   public:
    [[gnu::always_inline]] float next() {
      place_ = steppedPlace(place_, course_);
      return phaseOf(place_, course_.inverse);
    }

   private:
    friend class Oscillator;
    uint32_t place_ = 0;
    PhaseCourse course_;
  };
  // False, with nothing changed, for a whole-sample period too long to step
  // this way. At least one step must follow before endStretch.
  bool beginStretch(double frequency, Stretch& s) {
    const PhaseCourse& c = course(frequency);
    if (!c.exact && c.span >= static_cast<uint32_t>(kExactPhasePeriods)) return false;
    s.course_ = c;
    s.place_ = enteredPlace(place_, c);
    return true;
  }
  void endStretch(const Stretch& s) { place_ = static_cast<int32_t>(s.place_); }

  // Where the oscillator stands, saved and restored whole.
  struct Place {
    int32_t phaseCounter;
  };
  Place place() const { return {place_}; }
  void restore(Place p) { place_ = p.phaseCounter; }

  // The next phase is 0.
  void restart() { place_ = -1; }
  // The sample's index within the period; in exact pitch mode its place
  // in kFineSpan places. A change of mode while a note sounds takes the
  // number as it stands, which starts the period over, or near its start.
  int32_t phaseCounter() const { return place_; }
  int32_t lastPeriod() const { return cachedPeriod_; }
  // Places the phase: the next sample is index `counter` + 1.
  void setPhaseCounter(int32_t counter) { place_ = counter; }

 private:
  // The course at this frequency in the mode the parameters give, reused
  // while both hold.
  const PhaseCourse& course(double frequency) {
    const bool exact = params_.get(Param::PitchMode) == kPitchExact;
    if (frequency != cachedFrequency_ || exact != course_.exact) {
      cachedFrequency_ = frequency;
      cachedPeriod_ = roundEven(rate_ / periodFactor_ / frequency) * periodFactor_;
      course_ = exact ? fineCourse(frequency)
                      : PhaseCourse{1, static_cast<uint32_t>(cachedPeriod_), 1.0 / cachedPeriod_};
    }
    return course_;
  }
  // Above the rate a frequency folds back, as sampling folds it.
  PhaseCourse fineCourse(double frequency) const {
    const double turns = frequency / rate_;
    const double places = (turns - std::floor(turns)) * kFineSpan;
    return {static_cast<uint32_t>(roundEven(places)) & (kFineSpan - 1), kFineSpan, kFineInverse,
            true};
  }

  double rate_;
  const EngineParams& params_;
  int periodFactor_;
  int32_t place_ = 0;  // see phaseCounter()
  double cachedFrequency_ = -1;
  int32_t cachedPeriod_ = 0;
  PhaseCourse course_;
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
