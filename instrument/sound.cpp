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

// One keyed line applied: a sound setting taken, an unknown key kept, or a
// problem to tell.
void readSetting(Sound& s, const KeyedLine& line, std::vector<std::string>& problems) {
  const int index = parameterIndex(line.key);
  if (index < 0) {
    s.unknown.push_back(line);
    return;
  }
  const std::string quoted = "\"" + line.key + "=" + line.value + "\"";
  int32_t v = 0;
  if (!isSoundSetting(index)) {
    problems.push_back(quoted + " is not a sound setting");
  } else if (!parseParameterText(index, line.value, v)) {
    problems.push_back(quoted + ": " + std::string(parameter(index).name) + " takes " +
                       rangeText(index) + "; kept " + parameterToken(index, valueOf(s, index)));
  } else {
    setSoundValue(s, index, v);
  }
}

void applySettings(Sound& s, const Patch& patch, std::string* report) {
  for (int i = 0; i < kParameterCount; ++i)
    if (isSoundSetting(i)) valueOf(s, i) = parameter(i).start;
  s.unknown.clear();
  std::vector<std::string> problems;
  for (const std::string& line : patch.unread)
    problems.push_back("\"" + line + "\" is not key=value");
  for (const KeyedLine& line : patch.keyed) readSetting(s, line, problems);
  if (!report) return;
  report->clear();
  // A few, so that a file of nonsense still gives one line to read.
  constexpr size_t kTold = 3;
  for (size_t i = 0; i < std::min(problems.size(), kTold); ++i)
    *report += (i == 0 ? "Sound settings: " : "; ") + problems[i];
  if (problems.size() > kTold)
    *report += "; and " + std::to_string(problems.size() - kTold) + " more lines not read";
}

}  // namespace

Sound startSound() {
  Sound s;
  for (int i = 0; i < kParameterCount; ++i) valueOf(s, i) = parameter(i).start;
  s.wobbleDurationMs = s.values[kDurationIndex];
  s.curves.fill(startCurvePoints());
  return s;
}

int32_t setSoundValue(Sound& s, int index, int32_t value) {
  if (!soundOwned(index)) return 0;
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

void applyPatch(Sound& s, const Patch& patch, std::string* report) {
  const PatchValues& values = patch.values;
  const auto line = [&](int n) { return values[static_cast<size_t>(n - 1)]; };
  for (int i = 0; i < kParameterCount; ++i) {
    if (i == kDurationIndex || i == kDurationRangeIndex || parameter(i).patchLine == 0) continue;
    if (soundOwned(i)) setSoundValue(s, i, line(parameter(i).patchLine));
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
  applySettings(s, patch, report);
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
  for (int i = 0; i < kParameterCount; ++i)
    if (soundOwned(i) && parameter(i).patchLine > 0)
      values[static_cast<size_t>(parameter(i).patchLine - 1)] = s.values[static_cast<size_t>(i)];
  return values;
}

Patch savedPatch(const Sound& s) {
  Patch patch(capturePatch(s));
  for (int i = 0; i < kParameterCount; ++i) {
    const int32_t v = s.values[static_cast<size_t>(i)];
    if (isSoundSetting(i) && v != parameter(i).start)
      patch.keyed.push_back({std::string(parameter(i).symbol), parameterToken(i, v)});
  }
  patch.keyed.insert(patch.keyed.end(), s.unknown.begin(), s.unknown.end());
  return patch;
}

void applySoundNow(Engine& engine, const Sound& sound) {
  forEachSoundEvent(sound, 0, true, [&](const EngineEvent& e) { engine.apply(e); });
}

}  // namespace ondelith
