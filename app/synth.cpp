#include "app/synth.h"

namespace ondelith {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

int curveEditorId(const Synth& s, int row) {
  return s.engine.params.curveEditors[static_cast<size_t>(row)].load(kRelaxed);
}

void initRecords(Synth& s) {
  s.curveBuffer.assign(2, CurvePoint{0, 0});
  initEngine(s.engine);
  initControls(s.controls);
}

void createCurveEditors(Synth& s, CanvasHost* host) {
  s.editors.host = host;
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurveEditorPlace place = curveEditorPlace(row);
    const int id =
        createCurveEditor(s.editors, -1, place.x, place.y, place.w, place.h, kCurvePointCount,
                          kCurveLineColor, kCurveBackgroundColor, kCurveDisabledColor);
    setCurveEditorProperty(s.editors, id, HandleRadius, kCurveHandleRadius);
    setCurveEditorProperty(s.editors, id, GrabTolerance, kCurveGrabTolerance);
    setCurveEditorProperty(s.editors, id, RangeX, kCurveStartRangeX);
    setCurveEditorProperty(s.editors, id, RangeY, kCurveStartRangeY);
    s.engine.params.curveEditors[static_cast<size_t>(row)].store(id, kRelaxed);
  }
}

void initSynth(Synth& s, CanvasHost* host) {
  initRecords(s);
  createCurveEditors(s, host);
}

void setDurationRange(Synth& s, int range, int32_t durationMs) {
  if (range == kDurationRangeX1)
    setControlRange(s.controls, kSliderDuration, 100, 1000);
  else if (range == kDurationRangeX10)
    setControlRange(s.controls, kSliderDuration, 1000, 10000);
  else
    return;
  s.controls.text[kSpinDurationRange] = range == kDurationRangeX1 ? "x1" : "x10";
  setControlValue(s.controls, kSliderDuration, durationMs);
  s.engine.params.wobbleDuration.store(static_cast<float>(durationMs), kRelaxed);
}

bool applyControlEvent(Synth& s, int id, int32_t value) {
  EngineParams& p = s.engine.params;
  const int32_t v = setControlValue(s.controls, id, value);
  switch (id) {
    case kSliderF: p.filterCutoff.store(v, kRelaxed); return false;
    case kSliderRes: p.filterResonance.store(v, kRelaxed); return false;
    case kSliderA: p.attackTime.store(v / 1000.0, kRelaxed); return false;
    case kSliderD: p.decayTime.store(v / 1000.0, kRelaxed); return false;
    case kSliderS: p.sustainLevel.store(v / 100.0, kRelaxed); return false;
    case kSliderR: p.releaseTime.store(v / 1000.0, kRelaxed); return false;
    case kSliderX1: p.pointX1.store(static_cast<float>(v) / 100.0f, kRelaxed); return true;
    case kSliderY1: p.pointY1.store(static_cast<float>(v) / 100.0f, kRelaxed); return true;
    case kSliderX2: p.pointX2.store(static_cast<float>(v) / 100.0f, kRelaxed); return true;
    case kSliderY2: p.pointY2.store(static_cast<float>(v) / 100.0f, kRelaxed); return true;
    case kSliderVol: p.volume.store(static_cast<float>(v), kRelaxed); return false;
    case kSliderDuration: p.wobbleDuration.store(static_cast<float>(v), kRelaxed); return false;
    case kSpinDurationRange:
      if (v == kDurationRangeX1) setDurationRange(s, v, 400);
      if (v == kDurationRangeX10) setDurationRange(s, v, 2000);
      return false;
    default:
      // The wobble spin boxes change no engine field: the engine and the MIDI
      // input read them when a note starts.
      if (id >= kSpinMod0 && id <= spinFineId(kRowY2)) renderSpinText(s.controls, id);
      return false;
  }
}

}  // namespace ondelith
