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
      return;
    }
  }
  if (!pointsChanged && !rangesChanged && c.valid) return;
  buildCurveLookup(c.lookup, c.snapshots[static_cast<size_t>(c.current)], ed.width, ed.height, rx, ry, LookupScaled);
  c.rangeX = rx;
  c.rangeY = ry;
  c.valid = true;
  ++c.generation;
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
  const int32_t samples = wobbleSamplesFor(e.params.wobbleDuration.load(kRelaxed));
  s.wobbleSamples.store(samples, kRelaxed);
  const int32_t last = subtractSat(samples, 1);
  for (int row = 0; row < kWobbleRows; ++row)
    if (CurveEditor* ed = findCurveEditor(e.editors, e.params.curveEditors[static_cast<size_t>(row)].load(kRelaxed)))
      setCurveRanges(*ed, static_cast<float>(last), 100.0f);

  s.modPercentX1 = static_cast<float>(readControl(e.controls, spinModId(kRowX1)));
  s.modPercentX2 = static_cast<float>(readControl(e.controls, spinModId(kRowX2)));
  s.modPercentY1 = static_cast<float>(readControl(e.controls, spinModId(kRowY1)));
  s.modPercentY2 = static_cast<float>(readControl(e.controls, spinModId(kRowY2)));

  for (int row = 0; row < kWobbleRows; ++row) {
    const TrackSpec& spec = kTracks[row];
    WobbleTrack& t = track(s, row);
    const float mod = modPercent(s, row);
    t.base = static_cast<float>(readControl(e.controls, spec.slider)) - spec.sliderOffset;
    t.position = t.base;
    t.depth = mod / 100.0f;
    if (mod > 0) {
      t.direction = 1;
      t.swing = t.depth * (spec.top - t.base);
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

// round(swing * value / 100), remembered while swing and value hold.
int32_t wobbleSize(TrackCache& c, float swing, int32_t value) {
  if (value != c.curveValue || swing != c.sizeSwing) {
    c.curveValue = value;
    c.sizeSwing = swing;
    c.size = roundEven(swing * static_cast<float>(value) / 100.0f);
  }
  return c.size;
}

// (2 * size) / (44100 / rate), remembered while its inputs hold. The step
// is this with the direction's sign: IEEE division is symmetric in sign, so
// the bits are those of direction * (2 * size) / (44100 / rate).
float stepMagnitude(TrackCache& c, int32_t size, float rate) {
  if (rate != c.rate || size != c.stepSize) {
    c.rate = rate;
    c.stepSize = size;
    c.step = static_cast<float>(2 * static_cast<int64_t>(size)) / (44100.0f / rate);
  }
  return c.step;
}

// One sample of one track. Limit hits come every few samples at high wobble
// rates, so the limits are applied as selects rather than branches.
inline void moveTrack(WobbleTrack& t, TrackCache& c, float rate, float mod, int32_t size) {
  if (!(rate > 0)) return;
  const float magnitude = stepMagnitude(c, size, rate);
  const float step = t.direction > 0 ? magnitude : (t.direction < 0 ? -magnitude : 0.0f);
  float p = t.position + step;
  int32_t d = t.direction;
  const float sz = static_cast<float>(size);
  if (mod > 0) {  // between base and base + size
    const float hi = t.base + sz, lo = t.base;
    const bool overHi = p > hi;
    const bool underLo = !overHi && p < lo;
    p = overHi ? hi : (underLo ? lo : p);
    d = overHi ? -1 : (underLo ? 1 : d);
  } else {  // between base - size and base
    const float lo = t.base - sz, hi = t.base;
    const bool underLo = p < lo;
    const bool overHi = !underLo && p > hi;
    p = underLo ? lo : (overHi ? hi : p);
    d = underLo ? 1 : (overHi ? -1 : d);
  }
  t.position = p;
  t.direction = d;
}

}  // namespace

void advanceWobble(Engine& e, int32_t n) {
  EngineState& s = e.state;
  const int64_t lastPosition = static_cast<int64_t>(s.wobbleSamples.load(kRelaxed)) - 1;
  WobbleTrack* const tracks[kWobbleRows] = {&s.trackX1, &s.trackY1, &s.trackX2, &s.trackY2};
  const float mods[kWobbleRows] = {s.modPercentX1, s.modPercentY1, s.modPercentX2, s.modPercentY2};
  const VoiceState& v = e.voice;
  const float rates[kWobbleRows] = {v.wobbleRateX1.load(kRelaxed), v.wobbleRateY1.load(kRelaxed),
                                    v.wobbleRateX2.load(kRelaxed), v.wobbleRateY2.load(kRelaxed)};
  int32_t size[kWobbleRows];
  for (int row = 0; row < kWobbleRows; ++row) {
    const WobbleTrack& t = *tracks[row];
    // A track that does not move, or has no swing, needs no lookup: its size is unused or 0.
    if (!(rates[row] > 0) || t.swing == 0) {
      size[row] = 0;
    } else if (n <= lastPosition) {
      TrackCache& c = e.trackCaches[static_cast<size_t>(row)];
      size[row] = wobbleSize(c, t.swing, curveValue(e.curves[static_cast<size_t>(row)], c, n));
    } else {
      size[row] = roundEven(t.swing * t.endFactor);
    }
  }
  for (int row = 0; row < kWobbleRows; ++row)
    moveTrack(*tracks[row], e.trackCaches[static_cast<size_t>(row)], rates[row], mods[row], size[row]);
  s.modulatedX1 = s.trackX1.position / 100.0f;
  s.modulatedY1 = s.trackY1.position / 100.0f;
  s.modulatedX2 = s.trackX2.position / 100.0f;
  s.modulatedY2 = (s.trackY2.position + 50.0f) / 100.0f;
}

}  // namespace ondelith
