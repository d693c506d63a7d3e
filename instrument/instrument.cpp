#include "instrument/instrument.h"

#include "engine/numeric.h"

namespace ondelith {

Instrument::Instrument() : sound_(startSound()) {
  for (int i = 0; i < kParameterCount; ++i) settings_[static_cast<size_t>(i)] = parameter(i).start;
  for (int row = 0; row < kWobbleRows; ++row) {
    CurveModel& c = curve(row);
    initCurve(c, kCurveGridWidth, kCurveGridHeight, kCurvePointCount, kCurveLayoutMargin);
    setCurvePoints(c, sound_.curves[static_cast<size_t>(row)]);
  }
}

Sound Instrument::sound() const {
  Sound s = sound_;
  for (int row = 0; row < kWobbleRows; ++row)
    s.curves[static_cast<size_t>(row)] = curvePointsOf(curve(row));
  return s;
}

void Instrument::attach(Engine* engine) {
  engine_ = engine;
  unsent_ = false;
  postAll(true);
}

int32_t Instrument::value(int index) const {
  if (index < 0 || index >= kParameterCount) return 0;
  if (soundOwned(index)) return sound_.values[static_cast<size_t>(index)];
  return settings_[static_cast<size_t>(index)];
}

void Instrument::post(const EngineEvent& event) {
  if (engine_ && !unsent_ && !engine_->post(event)) unsent_ = true;
}

void Instrument::postSetting(int index) {
  if (index < 0 || index >= kParameterCount || soundOwned(index)) return;
  const int32_t v = value(index);
  const Parameter& p = parameter(index);
  if (p.target == Target::Channel) post(channelEvent(0, engineChannel(v)));
  if (p.target == Target::Setting)
    post(settingEvent(0, static_cast<NoteSetting>(p.targetId), engineValue(index, v)));
}

void Instrument::postAll(bool now) {
  forEachSoundEvent(sound_, 0, now, [this](const EngineEvent& e) { post(e); });
  for (int i = 0; i < kParameterCount; ++i) postSetting(i);
  keysEvents(0, keys_, [this](const EngineEvent& e) { post(e); });
}

void Instrument::setKeys(const KeyFrequencies& keys) {
  keys_ = keys;
  keysEvents(0, keys_, [this](const EngineEvent& e) { post(e); });
}

int32_t Instrument::setValue(int index, int32_t v) {
  if (index < 0 || index >= kParameterCount) return 0;
  if (!soundOwned(index)) {
    const int32_t kept = limitValue(index, v);
    settings_[static_cast<size_t>(index)] = kept;
    postSetting(index);
    return kept;
  }
  const int32_t kept = setSoundValue(sound_, index, v);
  sendValue(sound_, index, 0, [this](const EngineEvent& e) { post(e); });
  return kept;
}

void Instrument::setDurationRange(int range, int32_t durationMs) {
  ondelith::setDurationRange(sound_, range, durationMs);
  post(paramEvent(0, Param::WobbleDuration, engineValue(kDurationIndex, sound_.wobbleDurationMs)));
}

void Instrument::curveEdited(int row) {
  if (row < 0 || row >= kWobbleRows) return;
  CurvePoints& points = sound_.curves[static_cast<size_t>(row)];
  points = curvePointsOf(curve(row));
  post(curveEvent(0, row, points));
}

void Instrument::setSound(const Sound& sound) {
  sound_ = sound;
  for (int row = 0; row < kWobbleRows; ++row)
    setCurvePoints(curve(row), sound_.curves[static_cast<size_t>(row)]);
  forEachSoundEvent(sound_, 0, true, [this](const EngineEvent& e) { post(e); });
}

void Instrument::setPatchRanges(int32_t durationMs) {
  const float last =
      static_cast<float>(subtractSat(wobbleSamplesFor(durationMs, kPatchSampleRate), 1));
  for (CurveModel& c : curves_) setCurveRanges(c, last, 100.0f);
}

void Instrument::applyPatch(const Patch& patch, std::string* report) {
  Sound next = sound();
  ondelith::applyPatch(next, patch, report);
  setSound(next);
  setPatchRanges(sound_.wobbleDurationMs);
}

PatchValues Instrument::capturePatch() {
  setPatchRanges(sound_.values[kDurationIndex]);
  return ondelith::capturePatch(sound());
}

Patch Instrument::savedPatch() {
  setPatchRanges(sound_.values[kDurationIndex]);
  return ondelith::savedPatch(sound());
}

bool Instrument::flush() {
  if (!unsent_) return true;
  unsent_ = false;
  postAll(false);
  return !unsent_;
}

}  // namespace ondelith
