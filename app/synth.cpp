#include "app/synth.h"

#include <memory>

namespace ondelith {

void remakeEngine(Synth& s, SampleRate rate) {
  MidiPause pause(s.midi);
  const auto saved = std::make_unique<Engine>(s.engine.rate);
  saved->takeSettingsFrom(s.engine);
  // Everything that refers to the engine (the MIDI input, the editors, the
  // stream's user data) keeps referring to it.
  std::destroy_at(&s.engine);
  std::construct_at(&s.engine, rate);
  s.engine.takeSettingsFrom(*saved);
}

int curveEditorId(const Synth& s, int row) { return s.curveEditors[static_cast<size_t>(row)]; }

void initRecords(Synth& s) {
  s.curveBuffer.assign(2, CurvePoint{0, 0});
  s.engine.params.reset();
  initControls(s.controls);
}

void createCurveEditors(Synth& s, CanvasHost* host) {
  s.editors.host = host;
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurveEditorPlace place = curveEditorPlace(row);
    const int id = createCurveEditor(
        s.editors, -1, place.x, place.y, place.w, place.h, kCurvePointCount, kCurveLineColor,
        kCurveBackgroundColor, kCurveDisabledColor, &s.engine.curves[static_cast<size_t>(row)]);
    setCurveEditorProperty(s.editors, id, HandleRadius, kCurveHandleRadius);
    setCurveEditorProperty(s.editors, id, GrabTolerance, kCurveGrabTolerance);
    setCurveEditorProperty(s.editors, id, RangeX, kCurveStartRangeX);
    setCurveEditorProperty(s.editors, id, RangeY, kCurveStartRangeY);
    s.curveEditors[static_cast<size_t>(row)] = id;
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
  s.engine.params.set(Param::WobbleDuration, durationMs);
}

bool applyControlEvent(Synth& s, int id, int32_t value) {
  const int32_t v = setControlValue(s.controls, id, value);
  if (const ControlParam* c = findControlParam(id)) {
    s.engine.params.set(c->param, c->divisor == 1 ? v : v / c->divisor);
    if (id >= kSpinMod0 && id <= spinFineId(kRowY2)) renderSpinText(s.controls, id);
    return id >= kSliderX1 && id <= kSliderY2;
  }
  if (id == kSpinDurationRange) {
    if (v == kDurationRangeX1) setDurationRange(s, v, 400);
    if (v == kDurationRangeX10) setDurationRange(s, v, 2000);
  }
  return false;
}

DisplayPoints displayPoints(const Synth& s) {
  const EngineParams& p = s.engine.params;
  const auto at = [&p](Param id) { return static_cast<float>(p.get(id)) / 100.0f; };
  return {at(Param::PointX1), at(Param::PointY1), at(Param::PointX2), at(Param::PointY2)};
}

}  // namespace ondelith
