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
  inline void begin(Engine& engine, const int32_t* counter, const uint8_t* active,
                    Float4* positions);
  // Frame i: skipped unless active[i]; its sample count is counter[i].
  inline void step(int i);
  // Writes the tracks and the coordinates back into the wobble's state.
  inline void finish();

  // A stretch of frames that step() takes all on its shortest path: every
  // frame active, on consecutive counts one set of steps covers, every
  // track moving with its limits in order. Its state lives in the caller's
  // locals meanwhile, where the compiler keeps it in registers.
  struct Stretch {
    Float4 position, magnitude, hi, lo;
    Int4 direction;
    Float4* positions;
    [[gnu::always_inline]] inline void step(int i) {
      clampStep(position, direction, magnitude, hi, lo);
      positions[i] = position;
    }
  };
  // Whether frames from..to-1, known to be active on consecutive counts,
  // make such a stretch; nothing but the steps' cache changes if not.
  inline bool stepsCover(int from, int to);
  Stretch stretch() const {
    return {position_, steps_.magnitude, steps_.hi, steps_.lo, direction_, positions_};
  }
  // Back from a stretch whose last frame was `last`.
  void resume(const Stretch& s, int last) {
    position_ = s.position;
    direction_ = s.direction;
    lastActive_ = last;
  }

 private:
  Engine* engine_ = nullptr;
  const int32_t* counter_ = nullptr;
  const uint8_t* active_ = nullptr;
  Float4* positions_ = nullptr;
  int32_t samples_ = 0;
  int lastActive_ = -1;
  bool loaded_ = false;
  uint32_t generation_ = 0;  // the wobble's steps generation steps_ were found in
  WobbleSteps steps_{};
  Float4 position_{}, base_{}, rate_{};
  Int4 direction_{}, rising_{}, moving_{};
  bool clamps_ = false;  // all four move and no top is below its bottom
  inline void slowStep(Float4 p, Int4 over, Int4 under);
  inline void loadSteps(int32_t n);

  // The magnitude with the direction's sign, none without a direction: the
  // bits of choosing among magnitude, its negation and 0, in fewer steps.
  [[gnu::always_inline]] static inline Float4 signedStep(Float4 magnitude, Int4 direction) {
    const Int4 signBit = direction & static_cast<int32_t>(0x80000000u);
    return (Float4)((((Int4)magnitude) ^ signBit) & (direction != 0));
  }
  // Every track moves and no top lies below its bottom, so a track is over
  // or under, never both: the limits are a clamp, min then max, with the
  // same comparisons and so the same bits, on a shorter chain from one
  // frame's position to the next.
  [[gnu::always_inline]] static inline void clampStep(Float4& position, Int4& direction,
                                                     Float4 magnitude, Float4 hi, Float4 lo) {
    const Int4 one = {1, 1, 1, 1};
    const Float4 p = position + signedStep(magnitude, direction);
    const Int4 over = p > hi, under = p < lo;
    const Float4 capped = hi < p ? hi : p;
    position = lo > capped ? lo : capped;
    direction = over ? -one : (under ? one : direction);
  }
};

inline void WobbleRunner::begin(Engine& e, const int32_t* counter, const uint8_t* active,
                                Float4* positions) {
  constexpr auto r = std::memory_order_relaxed;
  engine_ = &e;
  counter_ = counter;
  active_ = active;
  positions_ = positions;
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

inline void WobbleRunner::loadSteps(int32_t n) {
  if (loaded_ && n >= steps_.validFrom && n <= steps_.validTo) return;
  steps_ = wobbleStepsFor(*engine_, n, rate_, samples_, base_, rising_);
  generation_ = engine_->wobble.stepsGeneration;
  loaded_ = true;
  const Int4 ordered = steps_.hi >= steps_.lo;
  clamps_ = (moving_[0] & moving_[1] & moving_[2] & moving_[3] & ordered[0] & ordered[1] &
             ordered[2] & ordered[3]) != 0;
}

inline void WobbleRunner::step(int i) {
  if (!active_[i]) return;
  loadSteps(counter_[i]);
  if (clamps_) {
    clampStep(position_, direction_, steps_.magnitude, steps_.hi, steps_.lo);
  } else {
    const Float4 p = position_ + signedStep(steps_.magnitude, direction_);
    slowStep(p, p > steps_.hi, p < steps_.lo);
  }
  positions_[i] = position_;
  lastActive_ = i;
}

inline bool WobbleRunner::stepsCover(int from, int to) {
  loadSteps(counter_[from]);
  return clamps_ && counter_[to - 1] <= steps_.validTo;
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

inline void WobbleRunner::finish() {
  if (!engine_ || lastActive_ < 0) return;
  Wobble& w = engine_->wobble;
  for (int k = 0; k < kWobbleRows; ++k) {
    w.tracks[static_cast<size_t>(k)].position = position_[k];
    w.tracks[static_cast<size_t>(k)].direction = direction_[k];
  }
  const Float4 c = coordinatesOf(positions_[lastActive_]);
  w.modulated = {c[0], c[1], c[2], c[3]};
  lastActive_ = -1;
}

}  // namespace ondelith
