#include "patches/patch_sound.h"

#include <algorithm>

#include "engine/modulation.h"
#include "engine/numeric.h"

namespace ondelith {

namespace {

constexpr int kFirstControlLine = 4 * kCurveBlockLines;  // the first line after the curves

int32_t patchWobbleSamples(double durationMs) {
  return wobbleSamplesFor(durationMs, kPatchSampleRate);
}

// The curves' ranges for a wobble of `samples` samples.
void setPatchCurveRanges(Engine& e, int32_t samples) {
  for (CurveModel& curve : e.curves)
    setCurveRanges(curve, static_cast<float>(subtractSat(samples, 1)), 100.0f);
}

// Point i's coordinate of block line k: k 0 is point 0's y, k 13 point 7's y,
// and between them the x and y of points 1 to 6.
int32_t& blockCoordinate(std::vector<CurvePoint>& points, int k) {
  if (k == 0) return points[0].y;
  if (k == kCurveBlockLines - 1) return points[7].y;
  CurvePoint& p = points[static_cast<size_t>((k + 1) / 2)];
  return k % 2 ? p.x : p.y;
}

bool isPatchControl(int id) {
  return std::find(kPatchControlIds.begin(), kPatchControlIds.end(), id) != kPatchControlIds.end();
}

}  // namespace

int32_t applyControlValue(PatchControls& controls, EngineParams& params, int id, int32_t value) {
  const int32_t v = controls.set(id, value);
  if (const ControlParam* c = findControlParam(id))
    params.set(c->param, c->divisor == 1 ? v : v / c->divisor);
  return v;
}

void applyPatchValues(PatchControls& c, Engine& e, const PatchValues& values,
                      std::vector<CurvePoint>& buffer) {
  EngineParams& p = e.params;
  const auto line = [&](int n) { return values[static_cast<size_t>(n - 1)]; };

  for (int id = kSpinMod0; id <= spinFineId(kRowY2); ++id)
    applyControlValue(c, p, id, line(57 + id - kSpinMod0));
  for (int row = 0; row < kWobbleRows; ++row)
    applyControlValue(c, p, pointSliderId(row), line(69 + row));
  applyControlValue(c, p, kSliderVol, line(73));

  // The wobble takes the file's Duration as it stands, not the slider's.
  const int32_t duration = line(74);
  const int32_t range = line(75);
  if (range == kDurationRangeX1 || range == kDurationRangeX10) {
    c.setDurationRange(range, duration);
    p.set(Param::WobbleDuration, duration);
  }

  e.applyWobbleDuration();
  setPatchCurveRanges(e, patchWobbleSamples(p.get(Param::WobbleDuration)));

  for (int row = 0; row < kWobbleRows; ++row) {
    CurveModel& curve = e.curves[static_cast<size_t>(row)];
    copyCurveModelToArray(curve, buffer, 1);
    if (buffer.size() != kCurvePointCount) continue;  // no curve of this system's shape
    for (int k = 0; k < kCurveBlockLines; ++k)
      blockCoordinate(buffer, k) = values[static_cast<size_t>(row * kCurveBlockLines + k)];
    copyCurveModelFromArray(curve, buffer, 1);
  }

  constexpr int kLast[] = {kSliderA, kSliderD, kSliderS, kSliderR, kSliderF, kSliderRes};
  for (int k = 0; k < 6; ++k) applyControlValue(c, p, kLast[k], line(76 + k));
}

PatchValues capturePatchValues(const PatchControls& c, Engine& e, std::vector<CurvePoint>& buffer) {
  PatchValues values{};
  setPatchCurveRanges(e, patchWobbleSamples(c.get(kSliderDuration)));
  for (int row = 0; row < kWobbleRows; ++row) {
    copyCurveModelToArray(e.curves[static_cast<size_t>(row)], buffer, 1);
    if (buffer.size() != kCurvePointCount) continue;
    for (int k = 0; k < kCurveBlockLines; ++k)
      values[static_cast<size_t>(row * kCurveBlockLines + k)] = blockCoordinate(buffer, k);
  }
  for (size_t i = 0; i < kPatchControlIds.size(); ++i)
    values[kFirstControlLine + i] = c.get(kPatchControlIds[i]);
  return values;
}

HostControls::HostControls() {
  for (int id : kPatchControlIds) values_[static_cast<size_t>(id)] = findControl(id)->start;
}

int32_t HostControls::set(int id, int32_t value) {
  if (!isPatchControl(id)) return 0;
  const ControlInfo& info = *findControl(id);
  DurationBounds bounds{info.minimum, info.maximum};
  if (id == kSliderDuration) bounds = durationBounds(get(kSpinDurationRange));
  return values_[static_cast<size_t>(id)] = std::clamp(value, bounds.minimum, bounds.maximum);
}

int32_t HostControls::get(int id) const {
  return isPatchControl(id) ? values_[static_cast<size_t>(id)] : 0;
}

void HostControls::setDurationRange(int range, int32_t durationMs) {
  if (range != kDurationRangeX1 && range != kDurationRangeX10) return;
  set(kSpinDurationRange, range);
  set(kSliderDuration, durationMs);
}

bool isPatchText(std::string_view text) {
  if (text.size() > kMaxPatchTextBytes) return false;
  int lines = 0;
  size_t i = 0;
  const auto blank = [&] { return i < text.size() && (text[i] == ' ' || text[i] == '\t'); };
  const auto digit = [&] { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  // One line's end: CR LF, LF or CR; the end of the text ends the last line.
  const auto lineEnd = [&] {
    if (i == text.size()) return true;
    if (text[i] == '\r') {
      ++i;
      if (i < text.size() && text[i] == '\n') ++i;
      return true;
    }
    if (text[i] == '\n') {
      ++i;
      return true;
    }
    return false;
  };
  while (lines < kPatchLines) {
    if (i == text.size()) return false;  // fewer lines than a patch has
    while (blank()) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit()) return false;
    while (digit()) ++i;
    while (blank()) ++i;
    if (!lineEnd()) return false;
    ++lines;
  }
  for (; i < text.size(); ++i)
    if (text[i] != '\r' && text[i] != '\n' && text[i] != ' ' && text[i] != '\t') return false;
  return true;
}

}  // namespace ondelith
