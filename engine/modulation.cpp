#include "engine/modulation.h"

#include <bit>
#include <limits>

#include "engine/numeric.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

struct TrackSpec {
  int slider;
  float sliderOffset;  // Y2 counts from the middle line
  float top;
  int modSpin;
};
// Rows in curve-editor order: X1, Y1, X2, Y2.
constexpr TrackSpec kTracks[4] = {
    {kSliderX1, 0, 99, spinModId(kRowX1)},
    {kSliderY1, 0, 49, spinModId(kRowY1)},
    {kSliderX2, 0, 99, spinModId(kRowX2)},
    {kSliderY2, 50, 49, spinModId(kRowY2)},
};
constexpr float kBottom = 1;

WobbleTrack& track(EngineState& s, int row) {
  switch (row) {
    case kRowX1: return s.trackX1;
    case kRowY1: return s.trackY1;
    case kRowX2: return s.trackX2;
    default: return s.trackY2;
  }
}

float modPercent(const EngineState& s, int row) {
  switch (row) {
    case kRowX1: return s.modPercentX1;
    case kRowY1: return s.modPercentY1;
    case kRowX2: return s.modPercentX2;
    default: return s.modPercentY2;
  }
}

}  // namespace

int32_t wobbleSamplesFor(float durationMs) {
  return roundEven(static_cast<double>(durationMs) / 1000.0 * kSampleRate);
}

void refreshCurveCache(Engine& e, int row) {
  CurveCache& c = e.curves[static_cast<size_t>(row)];
  const int id = e.params.curveEditors[static_cast<size_t>(row)].load(kRelaxed);
  if (id != c.editorId || !c.editor) {
    c.editorId = id;
    c.editor = findCurveEditor(e.editors, id);
    c.valid = false;
  }
  if (!c.editor) {
    c.lookup.count = 0;
    ++c.generation;
    e.wobbleSteps.valid = false;
    return;
  }
  const CurveEditor& ed = *c.editor;
  const float rx = ed.rangeX.load(kRelaxed);
  const float ry = ed.rangeY.load(kRelaxed);
  const bool rangesChanged = std::bit_cast<uint32_t>(rx) != std::bit_cast<uint32_t>(c.rangeX) ||
                             std::bit_cast<uint32_t>(ry) != std::bit_cast<uint32_t>(c.rangeY);
  bool pointsChanged = false;
  if (!c.valid || ed.pointsVersion.load(kRelaxed) != c.version) {
    // A copy fails only when the UI thread publishes twice during it; before
    // the first good copy a few more tries are worth it, later the old copy serves.
    CurveSnapshot& next = c.snapshots[static_cast<size_t>(1 - c.current)];
    for (int attempt = 0; attempt < (c.valid ? 1 : 16) && !pointsChanged; ++attempt)
      pointsChanged = trySnapshotCurve(ed, next, c.version);
    if (pointsChanged) {
      c.current = 1 - c.current;
    } else if (!c.valid) {
      c.lookup.count = 0;
      ++c.generation;
      e.wobbleSteps.valid = false;
      return;
    }
  }
  if (!pointsChanged && !rangesChanged && c.valid) return;
  buildCurveLookup(c.lookup, c.snapshots[static_cast<size_t>(c.current)], ed.width, ed.height, rx,
                   ry, LookupScaled);
  c.rangeX = rx;
  c.rangeY = ry;
  c.valid = true;
  ++c.generation;
  e.wobbleSteps.valid = false;
}

void refreshCurveCaches(Engine& e) {
  for (int row = 0; row < kWobbleRows; ++row) refreshCurveCache(e, row);
}

int32_t cachedCurveValue(Engine& e, int row, int32_t position) {
  refreshCurveCache(e, row);
  return lookupCurve(e.curves[static_cast<size_t>(row)].lookup, position);
}

void setUpWobble(Engine& e) {
  EngineState& s = e.state;
  e.wobbleSteps.valid = false;
  const int32_t samples = wobbleSamplesFor(e.params.wobbleDuration.load(kRelaxed));
  s.wobbleSamples.store(samples, kRelaxed);
  const int32_t last = subtractSat(samples, 1);
  for (int row = 0; row < kWobbleRows; ++row)
    if (CurveEditor* ed = findCurveEditor(
            e.editors, e.params.curveEditors[static_cast<size_t>(row)].load(kRelaxed)))
      setCurveRanges(*ed, static_cast<float>(last), 100.0f);

  s.modPercentX1 = static_cast<float>(readControl(e.controls, spinModId(kRowX1)));
  s.modPercentX2 = static_cast<float>(readControl(e.controls, spinModId(kRowX2)));
  s.modPercentY1 = static_cast<float>(readControl(e.controls, spinModId(kRowY1)));
  s.modPercentY2 = static_cast<float>(readControl(e.controls, spinModId(kRowY2)));

  for (int row = 0; row < kWobbleRows; ++row) {
    const TrackSpec& layout = kTracks[row];
    WobbleTrack& t = track(s, row);
    const float mod = modPercent(s, row);
    t.base = static_cast<float>(readControl(e.controls, layout.slider)) - layout.sliderOffset;
    t.position = t.base;
    t.depth = mod / 100.0f;
    if (mod > 0) {
      t.direction = 1;
      t.swing = t.depth * (layout.top - t.base);
    } else {
      t.direction = -1;
      t.swing = -t.depth * (t.base - kBottom);
    }
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
  WobbleStepCache& w = e.wobbleSteps;
  const EngineState& s = e.state;
  const WobbleTrack* const tracks[kWobbleRows] = {&s.trackX1, &s.trackY1, &s.trackX2, &s.trackY2};
  const int64_t last = static_cast<int64_t>(samples) - 1;
  int32_t from = std::numeric_limits<int32_t>::min();
  int32_t to = std::numeric_limits<int32_t>::max();
  for (int row = 0; row < kWobbleRows; ++row) {
    const WobbleTrack& t = *tracks[row];
    int32_t size = 0;
    // A track that does not move, or has no swing, needs no lookup: its size is unused or 0.
    if (rates[row] > 0 && t.swing != 0) {
      if (n <= last) {
        TrackCache& c = e.trackCaches[static_cast<size_t>(row)];
        const int32_t value = curveValue(e.curves[static_cast<size_t>(row)], c, n);
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
            ? static_cast<float>(2 * static_cast<int64_t>(size)) / (44100.0f / rates[row])
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
  WobbleStepCache& w = e.wobbleSteps;
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
                      float* x1, float* y1, float* x2, float* y2) {
  WobbleRunner runner;
  runner.begin(e, counter, active, x1, y1, x2, y2);
  for (int i = from; i < to; ++i) runner.step(i);
  runner.finish();
}

void advanceWobble(Engine& e, int32_t n) {
  const uint8_t active = 1;
  float x1, y1, x2, y2;
  advanceWobbleRun(e, &n, &active, 0, 1, &x1, &y1, &x2, &y2);
}

}  // namespace ondelith
