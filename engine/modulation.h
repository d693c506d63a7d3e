#pragma once
// The wobble: each of the four control-point coordinates (rows X1, Y1, X2,
// Y2) moves in a triangle wave between its slider position and a limit, at
// a multiple of the note's pitch, its size shaped over time by a drawn curve.

#include <array>
#include <cstdint>

#include "engine/bezier.h"
#include "engine/curve_model.h"
#include "engine/params.h"

namespace ondelith {

struct Engine;

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// The control points' coordinates (unit square) from the four tracks'
// positions (slider units, Y2 counted from the middle line); for any lanes.
template <typename T>
[[gnu::always_inline]] inline void pointsOf(const T& x1, const T& y1, const T& x2, const T& y2,
                                            ControlPoints<T>& p) {
  p = {x1 / 100.0f, y1 / 100.0f, x2 / 100.0f, (y2 + 50.0f) / 100.0f};
}
inline Float4 coordinatesOf(Float4 position) {
  ControlPoints<float> c;
  pointsOf(position[0], position[1], position[2], position[3], c);
  return Float4{c.x1, c.y1, c.x2, c.y2};
}
// Positions that put every coordinate at 0.5.
constexpr Float4 kCentredPosition = {50, 50, 50, 0};

// One coordinate's wobble as its note's set-up left it, in slider units
// (hundredths of the unit square; Y2 counted from the middle line).
struct WobbleTrack {
  float base = 0;
  float swing = 0;
  float endFactor = 0;  // the curve's value at the end of the duration, 0..1
  bool rising = false;  // a positive depth: the track runs above its base
};

// The audio thread's lookup of one curve, rebuilt only when the points or
// the wobble length change.
struct CurveCache {
  uint32_t version = 0;  // the curve's change count it was built from
  int32_t samples = 0;   // the wobble length it was built for
  bool valid = false;
  uint32_t generation = 0;  // moves on whenever `lookup` is rebuilt
  CurveLookup lookup;
};

// What one track remembers between samples: the curve segment last used and
// the run of positions that read the same value.
struct TrackCache {
  int32_t cursor = 1;
  uint32_t lookupGeneration = 0;  // the curve copy the run below was read from
  int32_t runStart = 1;           // positions runStart..runEnd read runValue
  int32_t runEnd = 0;
  int32_t runValue = 0;
};

// The four tracks' sizes and steps, which hold for every sample count from
// validFrom to validTo while the rates and the wobble set-up stay the same.
struct WobbleStepCache {
  bool valid = false;
  int32_t validFrom = 0;
  int32_t validTo = -1;
  int32_t wobbleSamples = 0;
  std::array<float, kWobbleRows> rate{};
  std::array<int32_t, kWobbleRows> size{};
  std::array<float, kWobbleRows> magnitude{};  // 2 * size / (sample rate / rate)
};

// The four tracks' steps and limits for a stretch of sample counts.
struct WobbleSteps {
  Float4 magnitude, hi, lo;
  int32_t validFrom, validTo;
};

// The steps a wobble runner last loaded, with what they were worked out for.
// They hold from one render call to the next while none of that changes, so
// a host's short blocks need not look them up again each call.
struct LoadedSteps {
  WobbleSteps steps{};
  Float4 rate{};
  uint32_t generation = 0;  // the wobble's steps generation they were found in
  int32_t samples = 0;
  bool loaded = false;
  bool clamps = false;  // all four move and no top is below its bottom
};

// Where the tracks stand: all that a sample moves on, saved and restored
// whole (compared bit for bit, so no padding).
struct WobbleMotion {
  std::array<float, kWobbleRows> position{};     // by row, in the tracks' slider units
  std::array<int32_t, kWobbleRows> direction{};  // by row: +1 rising, -1 falling
  std::array<float, kWobbleRows> modulated{};    // the coordinates passed on, unit square
};
static_assert(sizeof(WobbleMotion) == 3 * kWobbleRows * 4);

// The wobble's state. The audio thread owns all of it.
struct Wobble : WobbleMotion {
  explicit Wobble(float sampleRate) : rate(sampleRate) {}
  const float rate;  // the engine's sample rate, as the steps divide by it
  std::array<WobbleTrack, kWobbleRows> tracks;
  WobbleMotion motion() const { return *this; }
  void restore(const WobbleMotion& m) { static_cast<WobbleMotion&>(*this) = m; }
  // The duration in samples: set at note set-up, and by opening a patch.
  int32_t samples = 0;
  std::array<CurveCache, kWobbleRows> curves;
  std::array<TrackCache, kWobbleRows> trackCaches;
  WobbleStepCache steps;
  // Moves on whenever `steps` is cleared: steps worked out before are stale.
  uint32_t stepsGeneration = 0;
  // The steps the render's last runner loaded, for its next one: they hold
  // from one call to the next while nothing they were found for changes.
  LoadedSteps carriedSteps;
};

// The wobble duration in samples at `rate` for a duration in milliseconds.
int32_t wobbleSamplesFor(double durationMs, double rate);

// At note set-up: the tracks' base, depth, swing and end factor from the
// parameters and curves, and the curves' ranges set to the wobble duration.
void setUpWobble(Engine& engine);

// One sample of the four triangle wobbles; refreshes `modulated`. The
// curves are looked up in the audio thread's copies as last refreshed.
void advanceWobble(Engine& engine, int32_t n);

// advanceWobble for frames from..to-1 of a run, skipping frames whose
// `active` is 0 (no note, so the oscillator does not advance). Frame i's
// sample count is counter[i]; its four positions go to position[i]. The
// rates and the wobble length are read once, as if for the first frame.
void advanceWobbleRun(Engine& engine, const int32_t* counter, const uint8_t* active, int from,
                      int to, Float4* position);

// Refreshes all four lookups: at the start of every run of frames.
void refreshCurveCaches(Engine& engine);

// Brings the lookup of curve `row` up to date if its points or the wobble
// length changed.
void refreshCurveCache(Engine& engine, int row);

// The curve's value in percent at sample `position` of the wobble.
int32_t cachedCurveValue(Engine& engine, int row, int32_t position);

// The steps for sample count n (rates and wobble length as given), from the
// engine's cache or worked out afresh; base and rising are the tracks'.
WobbleSteps wobbleStepsFor(Engine& engine, int32_t n, Float4 rates, int32_t samples, Float4 base,
                           Int4 rising);

}  // namespace ondelith
