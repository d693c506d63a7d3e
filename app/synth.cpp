#include "app/synth.h"

#include <memory>

namespace ondelith {

void remakeEngine(Synth& s, SampleRate rate) {
  MidiPause pause(s.midi);
  // Everything that refers to the engine (the MIDI input, the stream's user
  // data) keeps referring to it.
  std::destroy_at(&s.engine);
  std::construct_at(&s.engine, rate);
  s.programSeen = 0;
  s.instrument.attach(&s.engine);
}

int curveEditorId(const Synth& s, int row) { return s.curveEditors[static_cast<size_t>(row)]; }

void initRecords(Synth& s) {
  s.curveBuffer.assign(2, CurvePoint{0, 0});
  s.instrument.setSound(startSound());
  s.history.reset({});
  for (int i = 0; i < kParameterCount; ++i)
    if (parameter(i).owner == Owner::Player) s.instrument.setValue(i, parameter(i).start);
  initControls(s.controls);
}

void createCurveEditors(Synth& s, CanvasHost* host) {
  s.editors.host = host;
  s.editors.changed = nullptr;
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurveEditorPlace place = curveEditorPlace(row);
    const int id = createCurveEditor(s.editors, -1, place.x, place.y, place.w, place.h,
                                     kCurvePointCount, kCurveLineColor, kCurveBackgroundColor,
                                     kCurveDisabledColor, &s.instrument.curve(row));
    setCurveEditorProperty(s.editors, id, HandleRadius, kCurveHandleRadius);
    setCurveEditorProperty(s.editors, id, GrabTolerance, kCurveGrabTolerance);
    setCurveEditorProperty(s.editors, id, RangeX, kCurveStartRangeX);
    setCurveEditorProperty(s.editors, id, RangeY, kCurveStartRangeY);
    s.curveEditors[static_cast<size_t>(row)] = id;
    s.instrument.curveEdited(row);
  }
  s.editors.changed = [&s](int id) {
    for (int row = 0; row < kWobbleRows; ++row)
      if (curveEditorId(s, row) == id) s.instrument.curveEdited(row);
  };
}

void initSynth(Synth& s, CanvasHost* host) {
  initRecords(s);
  createCurveEditors(s, host);
}

void setDurationRange(Synth& s, int range, int32_t durationMs) {
  if (!choiceOf(kDurationRangeIndex, range)) return;
  const Bounds b = durationBounds(range);
  setControlRange(s.controls, kSliderDuration, b.minimum, b.maximum);
  s.controls.text[kSpinDurationRange] = parameterText(kDurationRangeIndex, range);
  s.instrument.setDurationRange(range, durationMs);
  setControlValue(s.controls, kSliderDuration, s.instrument.value(kDurationIndex));
}

bool applyControlEvent(Synth& s, int id, int32_t value) {
  const int32_t v = setControlValue(s.controls, id, value);
  const int index = entryOf(id);
  if (index < 0) return false;
  if (parameter(index).target == Target::RangeSwitch) {
    // The switch puts the Duration at its new range's own start.
    if (const Choice* c = choiceOf(index, v)) setDurationRange(s, v, c->switchedStart);
    return false;
  }
  s.instrument.setValue(index, v);
  renderSpinText(s.controls, id);
  return parameter(index).group == Group::Waveform;
}

DisplayPoints displayPoints(const Synth& s) {
  const auto at = [&s](int row) {
    return static_cast<float>(s.instrument.value(pointIndex(row))) / 100.0f;
  };
  return {at(kRowX1), at(kRowY1), at(kRowX2), at(kRowY2)};
}

}  // namespace ondelith
