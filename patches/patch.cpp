#include "patches/patch.h"

#include "engine/modulation.h"
#include "engine/numeric.h"
#include "engine/sample_rate.h"
#include "platform/files.h"

namespace ondelith {

namespace {

constexpr int kFirstControlLine = 4 * kCurveBlockLines;  // the first line after the curves

// A patch's curves count their width in samples at this rate, whatever rate
// the engine runs at, so files move between machines unchanged.
constexpr double kPatchSampleRate = kDefaultSampleRate;

int32_t patchWobbleSamples(double durationMs) {
  return wobbleSamplesFor(durationMs, kPatchSampleRate);
}

// The editors' ranges for a wobble of `samples` samples, X1 to Y2.
void setCurveRangesFor(Synth& s, int32_t samples) {
  for (int row = 0; row < kWobbleRows; ++row) {
    setCurveEditorProperty(s.editors, curveEditorId(s, row), RangeX, subtractSat(samples, 1));
    setCurveEditorProperty(s.editors, curveEditorId(s, row), RangeY, 100);
  }
}

// Point i's coordinate of block line k: k 0 is point 0's y, k 13 point 7's y,
// and between them the x and y of points 1 to 6.
int32_t& blockCoordinate(std::vector<CurvePoint>& points, int k) {
  if (k == 0) return points[0].y;
  if (k == kCurveBlockLines - 1) return points[7].y;
  CurvePoint& p = points[static_cast<size_t>((k + 1) / 2)];
  return k % 2 ? p.x : p.y;
}

int32_t setAndRead(Synth& s, int id, int32_t value) {
  return setControlValue(s.controls, id, value);
}

}  // namespace

PatchValues capturePatch(Synth& s) {
  PatchValues values{};
  setCurveRangesFor(s, patchWobbleSamples(controlValue(s.controls, kSliderDuration)));
  for (int row = 0; row < kWobbleRows; ++row) {
    copyCurveToArray(s.editors, curveEditorId(s, row), s.curveBuffer, 1);
    if (s.curveBuffer.size() != kCurvePointCount) continue;  // no curve of this system's shape
    for (int k = 0; k < kCurveBlockLines; ++k)
      values[static_cast<size_t>(row * kCurveBlockLines + k)] = blockCoordinate(s.curveBuffer, k);
  }
  for (size_t i = 0; i < kPatchControlIds.size(); ++i)
    values[kFirstControlLine + i] = controlValue(s.controls, kPatchControlIds[i]);
  return values;
}

void applyPatch(Synth& s, const PatchValues& values) {
  EngineParams& p = s.engine.params;
  const auto setParam = [&](int id, int32_t value) {
    const int32_t v = setAndRead(s, id, value);
    const ControlParam* c = findControlParam(id);
    p.set(c->param, c->divisor == 1 ? v : v / c->divisor);
    return v;
  };
  const auto line = [&](int n) { return values[static_cast<size_t>(n - 1)]; };

  for (int id = kSpinMod0; id <= spinFineId(kRowY2); ++id) {
    setParam(id, line(57 + id - kSpinMod0));
    renderSpinText(s.controls, id);
  }

  for (int row = 0; row < kWobbleRows; ++row) setParam(pointSliderId(row), line(69 + row));
  setParam(kSliderVol, line(73));

  const int32_t duration = line(74);
  const int32_t range = line(75);
  if (range == kDurationRangeX1 || range == kDurationRangeX10) {
    setDurationRange(s, range, duration);
    setControlValue(s.controls, kSpinDurationRange, range);
  }

  s.engine.applyWobbleDuration();
  setCurveRangesFor(s, patchWobbleSamples(p.get(Param::WobbleDuration)));

  for (int row = 0; row < kWobbleRows; ++row) {
    const int id = curveEditorId(s, row);
    copyCurveToArray(s.editors, id, s.curveBuffer, 1);
    if (s.curveBuffer.size() != kCurvePointCount) continue;
    for (int k = 0; k < kCurveBlockLines; ++k)
      blockCoordinate(s.curveBuffer, k) = values[static_cast<size_t>(row * kCurveBlockLines + k)];
    copyCurveFromArray(s.editors, id, s.curveBuffer, 1);
  }

  setParam(kSliderA, line(76));
  setParam(kSliderD, line(77));
  setParam(kSliderS, line(78));
  setParam(kSliderR, line(79));
  setParam(kSliderF, line(80));
  setParam(kSliderRes, line(81));
}

bool savePatchFile(Synth& s, const std::string& path, std::string* error) {
  return writeFileAtomically(path, formatPatch(capturePatch(s)), error);
}

bool readPatchFile(const std::string& path, PatchValues& values, std::string* error) {
  PatchReader reader;
  if (!readFileInPieces(
          path, [&](const char* data, size_t size) { return reader.feed(data, size); }, error))
    return false;
  values = reader.finish();
  return true;
}

bool openPatchFile(Synth& s, const std::string& path, std::string* error) {
  PatchValues values;
  if (!readPatchFile(path, values, error)) return false;
  applyPatch(s, values);
  return true;
}

}  // namespace ondelith
