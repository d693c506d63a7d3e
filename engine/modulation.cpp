#include "engine/modulation.h"

#include <limits>

#include "engine/engine.h"
#include "engine/numeric.h"
#include "engine/wobble_runner.h"

namespace ondelith {

namespace {

// Per row: the top end of the slider's range used, and the offset its
// coordinate counts from (Y2 from the middle line). The bottom end is 1 for all.
struct TrackLayout {
  float sliderOffset;
  float top;
};
constexpr TrackLayout kTracks[kWobbleRows] = {{0, 99}, {0, 49}, {0, 99}, {50, 49}};
constexpr float kBottom = 1;

}  // namespace

int32_t wobbleSamplesFor(double durationMs, double rate) {
  return roundEven(durationMs / 1000.0 * rate);
}

void refreshCurveCache(Engine& e, int row) {
  CurveCache& c = e.wobble.curves[static_cast<size_t>(row)];
  const CurvePoints& curve = e.curves[static_cast<size_t>(row)];
  const uint32_t version = e.curveVersions[static_cast<size_t>(row)];
  const int32_t samples = e.wobble.samples;
  if (c.valid && c.version == version && c.samples == samples) return;
  // The width stands for the wobble's samples, the height for 0 to 100 percent.
  buildCurveLookup(c.lookup, curve.points.data(), curve.count, kCurveGridWidth, kCurveGridHeight,
                   static_cast<float>(subtractSat(samples, 1)), 100.0f, LookupScaled);
  c.version = version;
  c.samples = samples;
  c.valid = true;
  ++c.generation;
  e.wobble.steps.valid = false;
  ++e.wobble.stepsGeneration;
}

void refreshCurveCaches(Engine& e) {
  for (int row = 0; row < kWobbleRows; ++row) refreshCurveCache(e, row);
}

int32_t cachedCurveValue(Engine& e, int row, int32_t position) {
  refreshCurveCache(e, row);
  return lookupCurve(e.wobble.curves[static_cast<size_t>(row)].lookup, position);
}

void setUpWobble(Engine& e) {
  Wobble& w = e.wobble;
  w.steps.valid = false;
  ++w.stepsGeneration;
  const int32_t samples = wobbleSamplesFor(e.params.get(Param::WobbleDuration), e.rate.hz());
  w.samples = samples;
  const int32_t last = subtractSat(samples, 1);

  for (int row = 0; row < kWobbleRows; ++row) {
    const TrackLayout& layout = kTracks[row];
    WobbleTrack& t = w.tracks[static_cast<size_t>(row)];
    const float mod = static_cast<float>(e.params.get(modParam(row)));
    t.base = static_cast<float>(e.params.get(pointParam(row))) - layout.sliderOffset;
    w.position[static_cast<size_t>(row)] = t.base;
    const float depth = mod / 100.0f;
    t.rising = mod > 0;
    w.direction[static_cast<size_t>(row)] = t.rising ? 1 : -1;
    t.swing = t.rising ? depth * (layout.top - t.base) : -depth * (t.base - kBottom);
    t.endFactor = static_cast<float>(cachedCurveValue(e, row, last)) / 100.0f;
  }
}

namespace {

// The curve's value at position n, from the run last found while n stays in it.
int32_t curveValue(const CurveCache& curve, TrackCache& c, int32_t n) {
  if (c.lookupGeneration != curve.generation || n < c.runStart || n > c.runEnd) {
    c.runValue = lookupCurveFrom(curve.lookup, n, c.cursor);
    c.runStart = n;
    c.runEnd = curveRunEnd(curve.lookup, n, c.runValue);
    c.lookupGeneration = curve.generation;
  }
  return c.runValue;
}

// Works out the four sizes and steps for sample count n, and the sample
// counts they hold for.
void computeWobbleSteps(Engine& e, int32_t n, const float (&rates)[4], int32_t samples) {
  WobbleStepCache& w = e.wobble.steps;
  const int64_t last = static_cast<int64_t>(samples) - 1;
  int32_t from = std::numeric_limits<int32_t>::min();
  int32_t to = std::numeric_limits<int32_t>::max();
  for (int row = 0; row < kWobbleRows; ++row) {
    const WobbleTrack& t = e.wobble.tracks[static_cast<size_t>(row)];
    int32_t size = 0;
    // A track that does not move, or has no swing, needs no lookup: its size is unused or 0.
    if (rates[row] > 0 && t.swing != 0) {
      if (n <= last) {
        TrackCache& c = e.wobble.trackCaches[static_cast<size_t>(row)];
        const int32_t value = curveValue(e.wobble.curves[static_cast<size_t>(row)], c, n);
        size = roundEven(t.swing * static_cast<float>(value) / 100.0f);
        from = std::max(from, c.runStart);
        to = std::min(to, static_cast<int32_t>(std::min<int64_t>(c.runEnd, last)));
      } else {
        size = roundEven(t.swing * t.endFactor);
        from = std::max(from, static_cast<int32_t>(last + 1));
      }
    }
    w.rate[static_cast<size_t>(row)] = rates[row];
    w.size[static_cast<size_t>(row)] = size;
    w.magnitude[static_cast<size_t>(row)] =
        rates[row] > 0
            ? static_cast<float>(2 * static_cast<int64_t>(size)) / (e.wobble.rate / rates[row])
            : 0.0f;
  }
  w.validFrom = from;
  w.validTo = to;
  w.wobbleSamples = samples;
  w.valid = true;
}

}  // namespace

WobbleSteps wobbleStepsFor(Engine& e, int32_t n, Float4 rates, int32_t samples, Float4 base,
                           Int4 rising) {
  WobbleStepCache& w = e.wobble.steps;
  const float r[4] = {rates[0], rates[1], rates[2], rates[3]};
  if (!w.valid || n < w.validFrom || n > w.validTo || samples != w.wobbleSamples ||
      r[0] != w.rate[0] || r[1] != w.rate[1] || r[2] != w.rate[2] || r[3] != w.rate[3])
    computeWobbleSteps(e, n, r, samples);
  WobbleSteps steps;
  Int4 size;
  for (int k = 0; k < kWobbleRows; ++k) {
    steps.magnitude[k] = w.magnitude[static_cast<size_t>(k)];
    size[k] = w.size[static_cast<size_t>(k)];
  }
  const Float4 sz = __builtin_convertvector(size, Float4);
  steps.hi = rising ? base + sz : base;
  steps.lo = rising ? base : base - sz;
  steps.validFrom = w.validFrom;
  steps.validTo = w.validTo;
  return steps;
}

void advanceWobbleRun(Engine& e, const int32_t* counter, const uint8_t* active, int from, int to,
                      Float4* position) {
  WobbleRunner runner;
  runner.begin(e, counter, active, position);
  for (int i = from; i < to; ++i) runner.step(i);
  runner.finish();
}

void advanceWobble(Engine& e, int32_t n) {
  const uint8_t active = 1;
  Float4 position;
  advanceWobbleRun(e, &n, &active, 0, 1, &position);
}

}  // namespace ondelith
