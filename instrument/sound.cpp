#include "instrument/sound.h"

#include <algorithm>

#include "engine/numeric.h"

namespace ondelith {

namespace {

// A curve model for converting one curve between the grid and the units
// of a wobble of `durationMs` at the patch's rate.
CurveModel patchCurve(const CurvePoints& points, int32_t durationMs) {
  CurveModel m;
  initCurve(m, kCurveGridWidth, kCurveGridHeight, kCurvePointCount, kCurveLayoutMargin);
  const int32_t samples = wobbleSamplesFor(durationMs, kPatchSampleRate);
  setCurveRanges(m, static_cast<float>(subtractSat(samples, 1)), 100.0f);
  setCurvePoints(m, points);
  return m;
}

// Point i's coordinate of block line k: k 0 is point 0's y, k 13 point 7's y,
// and between them the x and y of points 1 to 6.
template <typename Points>
auto& blockCoordinate(Points& points, int k) {
  if (k == 0) return points[0].y;
  if (k == kCurveBlockLines - 1) return points[7].y;
  auto& p = points[static_cast<size_t>((k + 1) / 2)];
  return k % 2 ? p.x : p.y;
}

int32_t& valueOf(Sound& s, int index) { return s.values[static_cast<size_t>(index)]; }

}  // namespace

Sound startSound() {
  Sound s;
  for (int i = 0; i < kSoundValueCount; ++i) valueOf(s, i) = parameter(i).start;
  s.wobbleDurationMs = s.values[kDurationIndex];
  s.curves.fill(startCurvePoints());
  return s;
}

int32_t setSoundValue(Sound& s, int index, int32_t value) {
  if (index < 0 || index >= kSoundValueCount) return 0;
  const int32_t v = limitValue(index, value, s.values[kDurationRangeIndex]);
  valueOf(s, index) = v;
  if (index == kDurationIndex) s.wobbleDurationMs = v;
  if (index == kDurationRangeIndex) setSoundValue(s, kDurationIndex, s.values[kDurationIndex]);
  return v;
}

void setDurationRange(Sound& s, int range, int32_t durationMs) {
  if (range != kDurationRangeX1 && range != kDurationRangeX10) return;
  valueOf(s, kDurationRangeIndex) = range;
  setSoundValue(s, kDurationIndex, durationMs);
  // The wobble takes the Duration asked for, even where the slider stops short of it.
  s.wobbleDurationMs = static_cast<int32_t>(limitParam(Param::WobbleDuration, durationMs));
}

void applyPatch(Sound& s, const PatchValues& values) {
  const auto line = [&](int n) { return values[static_cast<size_t>(n - 1)]; };
  for (int i = 0; i < kSoundValueCount; ++i) {
    if (i == kDurationIndex || i == kDurationRangeIndex) continue;
    setSoundValue(s, i, line(parameter(i).patchLine));
  }
  const int32_t duration = line(parameter(kDurationIndex).patchLine);
  const int32_t range = line(parameter(kDurationRangeIndex).patchLine);
  if (range == kDurationRangeX1 || range == kDurationRangeX10) {
    // The wobble takes the file's Duration as it stands, not the slider's.
    setDurationRange(s, range, duration);
  }
  // No room is made here: a plugin applies patches on its audio thread.
  for (int row = 0; row < kWobbleRows; ++row) {
    CurvePoints& points = s.curves[static_cast<size_t>(row)];
    if (points.count != kCurvePointCount) continue;  // no curve of this system's shape
    const CurveModel m = patchCurve(points, s.wobbleDurationMs);
    std::array<CurvePoint, kCurvePointCount> scaled{};
    for (int k = 0; k < kCurveBlockLines; ++k)
      blockCoordinate(scaled, k) = values[static_cast<size_t>(row * kCurveBlockLines + k)];
    for (int i = 0; i < kCurvePointCount; ++i) {
      const CurvePoint p = fromRangeUnits(m, scaled[static_cast<size_t>(i)]);
      CurvePoint& to = points.points[static_cast<size_t>(i)];
      // End points keep their x.
      if (i > 0 && i < kCurvePointCount - 1) to.x = p.x;
      to.y = p.y;
    }
  }
}

PatchValues capturePatch(const Sound& s) {
  PatchValues values{};
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurvePoints& points = s.curves[static_cast<size_t>(row)];
    if (points.count != kCurvePointCount) continue;
    const CurveModel m = patchCurve(points, s.values[kDurationIndex]);
    std::array<CurvePoint, kCurvePointCount> scaled{};
    for (int i = 0; i < kCurvePointCount; ++i)
      scaled[static_cast<size_t>(i)] = toRangeUnits(m, points.points[static_cast<size_t>(i)]);
    for (int k = 0; k < kCurveBlockLines; ++k)
      values[static_cast<size_t>(row * kCurveBlockLines + k)] = blockCoordinate(scaled, k);
  }
  for (int i = 0; i < kSoundValueCount; ++i)
    values[static_cast<size_t>(parameter(i).patchLine - 1)] = s.values[static_cast<size_t>(i)];
  return values;
}

void applySoundNow(Engine& engine, const Sound& sound) {
  forEachSoundEvent(sound, 0, true, [&](const EngineEvent& e) { engine.apply(e); });
}

}  // namespace ondelith
