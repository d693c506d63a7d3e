#include "engine/engine.h"

namespace ondelith {

Engine::Engine(SampleRate r) : rate(r) {
  voice.previousFrequency.store(100.0, std::memory_order_relaxed);
  for (CurveModel& curve : curves)
    initCurve(curve, kCurveWidth, kCurveHeight, kCurvePointCount, kCurveLayoutMargin);
}

void Engine::applyWobbleDuration() {
  wobble.samples.store(wobbleSamplesFor(params.get(Param::WobbleDuration), rate.hz()),
                       std::memory_order_relaxed);
}

void Engine::takeSettingsFrom(const Engine& other) {
  for (const ParamInfo& info : kParamTable) params.set(info.id, other.params.get(info.id));
  for (const NoteSettingInfo& info : kNoteSettingTable)
    notes.setSetting(info.id, other.notes.setting(info.id));
  for (size_t row = 0; row < curves.size(); ++row) {
    const CurveModel& from = other.curves[row];
    CurveModel& to = curves[row];
    to.pointCount = from.pointCount;
    to.points = from.points;
    publishCurve(to);
    setCurveRanges(to, from.rangeX.load(std::memory_order_relaxed),
                   from.rangeY.load(std::memory_order_relaxed));
  }
}

}  // namespace ondelith
