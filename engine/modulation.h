#pragma once
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// The wobble duration in samples for a duration in milliseconds.
int32_t wobbleSamplesFor(float durationMs);

// At note set-up: the tracks' base, depth, swing and end factor from the
// controls and curves, and the curves' ranges set to the wobble duration.
void setUpWobble(Engine& engine);

// One sample of the four triangle wobbles; refreshes modulatedX1..Y2. The
// curves are looked up in the audio thread's copies as last refreshed.
void advanceWobble(Engine& engine, int32_t n);

// advanceWobble for frames from..to-1 of a run, skipping frames whose
// `active` is 0 (no note, so the oscillator does not advance). Frame i's
// sample count is counter[i]; its four coordinates go to x1[i]..y2[i]. The
// rates and the wobble length are read once, as if for the first frame.
void advanceWobbleRun(Engine& engine, const int32_t* counter, const uint8_t* active, int from,
                      int to, float* x1, float* y1, float* x2, float* y2);

// Refreshes all four copies: at the start of every run of frames.
void refreshCurveCaches(Engine& engine);

// Brings the audio thread's copy of curve `row` up to date if its editor's
// points or ranges changed. A change caught half done keeps the old copy.
void refreshCurveCache(Engine& engine, int row);

// curveValueAt in range units, through the audio thread's copy.
int32_t cachedCurveValue(Engine& engine, int row, int32_t position);

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// The four tracks' steps and limits for a stretch of sample counts.
struct WobbleSteps {
  Float4 magnitude, hi, lo;
  int32_t validFrom, validTo;
};

// The steps for sample count n (rates and wobble length as given), from the
// engine's cache or worked out afresh; base and rising are the tracks'.
WobbleSteps wobbleStepsFor(Engine& engine, int32_t n, Float4 rates, int32_t samples, Float4 base,
                           Int4 rising);

// Advances the four tracks frame by frame through a run, side by side, one
// lane each, holding their state between frames so the frames can be
// interleaved with other work. The step is the cached magnitude with the
// direction's sign: IEEE division is symmetric in sign, so the bits are those
// of direction * (2 * size) / (44100 / rate). Limit hits come every few
// samples at high rates, so limits are selects. Rates and the wobble length
// are read once, at begin. Nothing outside takes the runner's address, so
// its state can stay in registers.
class WobbleRunner {
 public:
  inline void begin(Engine& engine, const int32_t* counter, const uint8_t* active, float* x1,
                    float* y1, float* x2, float* y2);
  // Frame i: skipped unless active[i]; its sample count is counter[i].
  inline void step(int i);
  // Writes the tracks and modulatedX1..Y2 back into the engine's state.
  inline void finish();

 private:
  Engine* engine_ = nullptr;
  const int32_t* counter_ = nullptr;
  const uint8_t* active_ = nullptr;
  float *x1_ = nullptr, *y1_ = nullptr, *x2_ = nullptr, *y2_ = nullptr;
  int32_t samples_ = 0;
  int lastActive_ = -1;
  bool loaded_ = false;
  WobbleSteps steps_{};
  Float4 position_{}, base_{}, rate_{};
  Int4 direction_{}, rising_{}, moving_{};
};

inline void WobbleRunner::begin(Engine& e, const int32_t* counter, const uint8_t* active, float* x1,
                                float* y1, float* x2, float* y2) {
  constexpr auto r = std::memory_order_relaxed;
  engine_ = &e;
  counter_ = counter;
  active_ = active;
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  lastActive_ = -1;
  loaded_ = false;
  const EngineState& s = e.state;
  const VoiceState& v = e.voice;
  rate_ = Float4{v.wobbleRateX1.load(r), v.wobbleRateY1.load(r), v.wobbleRateX2.load(r),
                 v.wobbleRateY2.load(r)};
  samples_ = s.wobbleSamples.load(r);
  position_ =
      Float4{s.trackX1.position, s.trackY1.position, s.trackX2.position, s.trackY2.position};
  base_ = Float4{s.trackX1.base, s.trackY1.base, s.trackX2.base, s.trackY2.base};
  direction_ =
      Int4{s.trackX1.direction, s.trackY1.direction, s.trackX2.direction, s.trackY2.direction};
  const Float4 zero = {0, 0, 0, 0};
  rising_ = Float4{s.modPercentX1, s.modPercentY1, s.modPercentX2, s.modPercentY2} > zero;
  moving_ = rate_ > zero;
}

inline void WobbleRunner::step(int i) {
  if (!active_[i]) return;
  const int32_t n = counter_[i];
  if (!loaded_ || n < steps_.validFrom || n > steps_.validTo) {
    steps_ = wobbleStepsFor(*engine_, n, rate_, samples_, base_, rising_);
    loaded_ = true;
  }
  const Float4 zero = {0, 0, 0, 0};
  const Int4 one = {1, 1, 1, 1};
  const Float4 step =
      direction_ > 0 ? steps_.magnitude : (direction_ < 0 ? -steps_.magnitude : zero);
  const Float4 p = position_ + step;
  const Int4 over = p > steps_.hi, under = p < steps_.lo;
  const Int4 hitHi = rising_ ? over : (~under & over);
  const Int4 hitLo = rising_ ? (~over & under) : under;
  const Float4 moved = hitHi ? steps_.hi : (hitLo ? steps_.lo : p);
  const Int4 turned = hitHi ? -one : (hitLo ? one : direction_);
  position_ = moving_ ? moved : position_;
  direction_ = moving_ ? turned : direction_;
  // Y2 counts from the middle line.
  const Float4 middle = {0, 0, 0, 50};
  const Int4 isY2 = {0, 0, 0, -1};
  const Float4 hundred = {100, 100, 100, 100};
  const Float4 coordinate = (isY2 ? position_ + middle : position_) / hundred;
  x1_[i] = coordinate[0];
  y1_[i] = coordinate[1];
  x2_[i] = coordinate[2];
  y2_[i] = coordinate[3];
  lastActive_ = i;
}

inline void WobbleRunner::finish() {
  if (!engine_ || lastActive_ < 0) return;
  EngineState& s = engine_->state;
  s.trackX1.position = position_[0];
  s.trackY1.position = position_[1];
  s.trackX2.position = position_[2];
  s.trackY2.position = position_[3];
  s.trackX1.direction = direction_[0];
  s.trackY1.direction = direction_[1];
  s.trackX2.direction = direction_[2];
  s.trackY2.direction = direction_[3];
  s.modulatedX1 = x1_[lastActive_];
  s.modulatedY1 = y1_[lastActive_];
  s.modulatedX2 = x2_[lastActive_];
  s.modulatedY2 = y2_[lastActive_];
  lastActive_ = -1;
}

}  // namespace ondelith
