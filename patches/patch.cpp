#include "patches/patch.h"

#include "engine/modulation.h"
#include "engine/numeric.h"
#include "platform/files.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kFirstControlLine = 4 * kCurveBlockLines;  // index of line 57

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
  setCurveRangesFor(
      s, wobbleSamplesFor(static_cast<float>(controlValue(s.controls, kSliderDuration))));
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
  const auto line = [&](int n) { return values[static_cast<size_t>(n - 1)]; };

  for (int id = kSpinMod0; id <= spinFineId(kRowY2); ++id) {
    setAndRead(s, id, line(57 + id - kSpinMod0));
    renderSpinText(s.controls, id);
  }

  const int32_t x1 = setAndRead(s, kSliderX1, line(69));
  const int32_t y1 = setAndRead(s, kSliderY1, line(70));
  const int32_t x2 = setAndRead(s, kSliderX2, line(71));
  const int32_t y2 = setAndRead(s, kSliderY2, line(72));
  p.pointX1.store(static_cast<float>(x1) / 100.0f, kRelaxed);
  p.pointY1.store(static_cast<float>(y1) / 100.0f, kRelaxed);
  p.pointX2.store(static_cast<float>(x2) / 100.0f, kRelaxed);
  p.pointY2.store(static_cast<float>(y2) / 100.0f, kRelaxed);

  p.volume.store(static_cast<float>(setAndRead(s, kSliderVol, line(73))), kRelaxed);

  const int32_t duration = line(74);
  const int32_t range = line(75);
  if (range == kDurationRangeX1 || range == kDurationRangeX10) {
    setDurationRange(s, range, duration);
    setControlValue(s.controls, kSpinDurationRange, range);
  }

  const int32_t samples = wobbleSamplesFor(p.wobbleDuration.load(kRelaxed));
  s.engine.state.wobbleSamples.store(samples, kRelaxed);
  setCurveRangesFor(s, samples);

  for (int row = 0; row < kWobbleRows; ++row) {
    const int id = curveEditorId(s, row);
    copyCurveToArray(s.editors, id, s.curveBuffer, 1);
    if (s.curveBuffer.size() != kCurvePointCount) continue;
    for (int k = 0; k < kCurveBlockLines; ++k)
      blockCoordinate(s.curveBuffer, k) = values[static_cast<size_t>(row * kCurveBlockLines + k)];
    copyCurveFromArray(s.editors, id, s.curveBuffer, 1);
  }

  p.attackTime.store(setAndRead(s, kSliderA, line(76)) / 1000.0, kRelaxed);
  p.decayTime.store(setAndRead(s, kSliderD, line(77)) / 1000.0, kRelaxed);
  p.sustainLevel.store(setAndRead(s, kSliderS, line(78)) / 100.0, kRelaxed);
  p.releaseTime.store(setAndRead(s, kSliderR, line(79)) / 1000.0, kRelaxed);

  p.filterCutoff.store(setAndRead(s, kSliderF, line(80)), kRelaxed);
  p.filterResonance.store(setAndRead(s, kSliderRes, line(81)), kRelaxed);
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
