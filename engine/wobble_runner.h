#pragma once
#include <cstdint>

#include "engine/engine.h"
#include "engine/modulation.h"

namespace ondelith {

// Advances the four tracks frame by frame through a run, side by side, one
// lane each, holding their state between frames so the frames can be
// interleaved with other work. The step is the cached magnitude with the
// direction's sign: IEEE division is symmetric in sign, so the bits are those
// of direction * (2 * size) / (sample rate / rate). Limit hits come every few
// samples at high rates, so limits are selects. Rates and the wobble length
// are read once, at begin; the steps last found carry over to the next run
// while nothing they were worked out from has changed. Nothing outside takes the runner's address, so
// its state can stay in registers.
class WobbleRunner {
 public:
  inline void begin(Engine& engine, const int32_t* counter, const uint8_t* active, float* x1,
                    float* y1, float* x2, float* y2);
  // Frame i: skipped unless active[i]; its sample count is counter[i].
  inline void step(int i);
  // Writes the tracks and the coordinates back into the wobble's state.
  inline void finish();

 private:
  Engine* engine_ = nullptr;
  const int32_t* counter_ = nullptr;
  const uint8_t* active_ = nullptr;
  float *x1_ = nullptr, *y1_ = nullptr, *x2_ = nullptr, *y2_ = nullptr;
  int32_t samples_ = 0;
  int lastActive_ = -1;
  bool loaded_ = false;
  uint32_t generation_ = 0;  // the wobble's steps generation steps_ were found in
  WobbleSteps steps_{};
  Float4 position_{}, base_{}, rate_{};
  Int4 direction_{}, rising_{}, moving_{};
  bool clamps_ = false;  // all four move and no top is below its bottom
  inline void slowStep(Float4 p, Int4 over, Int4 under);
  inline void write(int i);
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
  const Wobble& w = e.wobble;
  const auto& rates = e.voice.wobbleRate;
  Float4 rate;
  for (int k = 0; k < kWobbleRows; ++k) rate[k] = rates[static_cast<size_t>(k)].load(r);
  const Int4 sameRate = rate == rate_;
  loaded_ = loaded_ && generation_ == w.stepsGeneration && samples_ == w.samples &&
            (sameRate[0] & sameRate[1] & sameRate[2] & sameRate[3]);
  rate_ = rate;
  for (int k = 0; k < kWobbleRows; ++k) {
    const WobbleTrack& t = w.tracks[static_cast<size_t>(k)];
    position_[k] = t.position;
    base_[k] = t.base;
    direction_[k] = t.direction;
    rising_[k] = t.rising ? -1 : 0;
  }
  samples_ = w.samples;
  const Float4 zero = {0, 0, 0, 0};
  moving_ = rate_ > zero;
}

inline void WobbleRunner::step(int i) {
  if (!active_[i]) return;
  const int32_t n = counter_[i];
  if (!loaded_ || n < steps_.validFrom || n > steps_.validTo) {
    steps_ = wobbleStepsFor(*engine_, n, rate_, samples_, base_, rising_);
    generation_ = engine_->wobble.stepsGeneration;
    loaded_ = true;
    const Int4 ordered = steps_.hi >= steps_.lo;
    clamps_ = (moving_[0] & moving_[1] & moving_[2] & moving_[3] & ordered[0] & ordered[1] &
               ordered[2] & ordered[3]) != 0;
  }
  const Int4 one = {1, 1, 1, 1};
  // The magnitude with the direction's sign, none without a direction: the
  // bits of choosing among magnitude, its negation and 0, in fewer steps.
  const Int4 signBit = direction_ & static_cast<int32_t>(0x80000000u);
  const Float4 step = (Float4)((((Int4)steps_.magnitude) ^ signBit) & (direction_ != 0));
  const Float4 p = position_ + step;
  const Int4 over = p > steps_.hi, under = p < steps_.lo;
  if (clamps_) {
    // Every track moves and no top lies below its bottom, so a track is over
    // or under, never both: the limits are a clamp, min then max, with the
    // same comparisons and so the same bits, on a shorter chain from one
    // frame's position to the next.
    const Float4 capped = steps_.hi < p ? steps_.hi : p;
    position_ = steps_.lo > capped ? steps_.lo : capped;
    direction_ = over ? -one : (under ? one : direction_);
  } else {
    slowStep(p, over, under);
  }
  write(i);
}

inline void WobbleRunner::slowStep(Float4 p, Int4 over, Int4 under) {
  const Int4 one = {1, 1, 1, 1};
  // A rising track checks its top first, a falling one its bottom (rising_ is 0 or -1).
  const Int4 hitHi = over & ~(under & ~rising_);
  const Int4 hitLo = under & ~(over & rising_);
  const Float4 moved = hitHi ? steps_.hi : (hitLo ? steps_.lo : p);
  const Int4 turned = hitHi ? -one : (hitLo ? one : direction_);
  position_ = moving_ ? moved : position_;
  direction_ = moving_ ? turned : direction_;
}

inline void WobbleRunner::write(int i) {
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
  Wobble& w = engine_->wobble;
  for (int k = 0; k < kWobbleRows; ++k) {
    w.tracks[static_cast<size_t>(k)].position = position_[k];
    w.tracks[static_cast<size_t>(k)].direction = direction_[k];
  }
  w.modulated = {x1_[lastActive_], y1_[lastActive_], x2_[lastActive_], y2_[lastActive_]};
  lastActive_ = -1;
}

}  // namespace ondelith
