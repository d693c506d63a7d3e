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
// are read once, at begin; the steps last found carry over to the next run,
// and through RenderCarry to the next call, while nothing they were worked
// out from has changed. Nothing outside takes the runner's address, so
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
    return {position_, held_.steps.magnitude, held_.steps.hi, held_.steps.lo, direction_,
            positions_};
  }
  WobbleRunner() = default;
  // Starting from steps another runner loaded.
  explicit WobbleRunner(const LoadedSteps& held) : held_(held) {}
  const LoadedSteps& loaded() const { return held_; }
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
  int lastActive_ = -1;
  LoadedSteps held_;
  // Set by begin, before any use.
  Float4 position_, base_;
  Int4 direction_, rising_, moving_;
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
  // Vectors are built in registers, never lane by lane through memory: a
  // read spanning several smaller writes waits until they reach the cache.
  const auto& rates = e.voice.wobbleRate;
  const Float4 rate = {rates[0].load(r), rates[1].load(r), rates[2].load(r), rates[3].load(r)};
  LoadedSteps& h = held_;
  const Int4 sameRate = rate == h.rate;
  h.loaded = h.loaded && h.generation == w.stepsGeneration && h.samples == w.samples &&
             (sameRate[0] & sameRate[1] & sameRate[2] & sameRate[3]);
  h.rate = rate;
  // The motion goes in and out whole, in the size it was written in.
  __builtin_memcpy(&position_, w.position.data(), sizeof position_);
  __builtin_memcpy(&direction_, w.direction.data(), sizeof direction_);
  const auto& t = w.tracks;
  base_ = Float4{t[0].base, t[1].base, t[2].base, t[3].base};
  rising_ = -Int4{t[0].rising, t[1].rising, t[2].rising, t[3].rising};
  h.samples = w.samples;
  const Float4 zero = {0, 0, 0, 0};
  moving_ = rate > zero;
}

inline void WobbleRunner::loadSteps(int32_t n) {
  LoadedSteps& h = held_;
  if (h.loaded && n >= h.steps.validFrom && n <= h.steps.validTo) return;
  h.steps = wobbleStepsFor(*engine_, n, h.rate, h.samples, base_, rising_);
  h.generation = engine_->wobble.stepsGeneration;
  h.loaded = true;
  const Int4 ordered = h.steps.hi >= h.steps.lo;
  h.clamps = (moving_[0] & moving_[1] & moving_[2] & moving_[3] & ordered[0] & ordered[1] &
              ordered[2] & ordered[3]) != 0;
}

inline void WobbleRunner::step(int i) {
  if (!active_[i]) return;
  loadSteps(counter_[i]);
  if (held_.clamps) {
    clampStep(position_, direction_, held_.steps.magnitude, held_.steps.hi, held_.steps.lo);
  } else {
    const Float4 p = position_ + signedStep(held_.steps.magnitude, direction_);
    slowStep(p, p > held_.steps.hi, p < held_.steps.lo);
  }
  positions_[i] = position_;
  lastActive_ = i;
}

inline bool WobbleRunner::stepsCover(int from, int to) {
  loadSteps(counter_[from]);
  return held_.clamps && counter_[to - 1] <= held_.steps.validTo;
}

inline void WobbleRunner::slowStep(Float4 p, Int4 over, Int4 under) {
  const Int4 one = {1, 1, 1, 1};
  // A rising track checks its top first, a falling one its bottom (rising_ is 0 or -1).
  const Int4 hitHi = over & ~(under & ~rising_);
  const Int4 hitLo = under & ~(over & rising_);
  const Float4 moved = hitHi ? held_.steps.hi : (hitLo ? held_.steps.lo : p);
  const Int4 turned = hitHi ? -one : (hitLo ? one : direction_);
  position_ = moving_ ? moved : position_;
  direction_ = moving_ ? turned : direction_;
}

inline void WobbleRunner::finish() {
  if (!engine_ || lastActive_ < 0) return;
  Wobble& w = engine_->wobble;
  __builtin_memcpy(w.position.data(), &position_, sizeof position_);
  __builtin_memcpy(w.direction.data(), &direction_, sizeof direction_);
  const Float4 c = coordinatesOf(positions_[lastActive_]);
  __builtin_memcpy(w.modulated.data(), &c, sizeof c);
  lastActive_ = -1;
}

}  // namespace ondelith
