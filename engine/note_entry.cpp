#include "engine/note_entry.h"

#include <algorithm>
#include <cmath>

#include "engine/numeric.h"

namespace ondelith {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

double noteFrequencyOf(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

KeyFrequencies equalTemperament() {
  KeyFrequencies keys{};
  for (int note = 0; note < kKeyCount; ++note)
    keys[static_cast<size_t>(note)] = noteFrequencyOf(note);
  return keys;
}

double bendFactor(int bend, double rangeSemitones) {
  if (bend == kBendCentre || !(rangeSemitones > 0)) return 1.0;
  const int offset = std::clamp(bend, 0, kBendMaximum) - kBendCentre;
  const double span = offset > 0 ? kBendMaximum - kBendCentre : kBendCentre;
  return std::pow(2.0, rangeSemitones * offset / span / 12.0);
}

double velocityLevel(int velocity, double sensitivityPercent) {
  const double v = std::clamp(velocity, 1, 127) / 127.0;
  return 1.0 - sensitivityPercent / 100.0 * (1.0 - v);
}

NoteEntry::NoteEntry(VoiceState& voice, const EngineParams& params)
    : voice_(voice), params_(params) {
  for (const NoteSettingInfo& info : kNoteSettingTable)
    settings_[static_cast<size_t>(info.id)].store(info.start, kRelaxed);
}

double NoteEntry::setSetting(NoteSetting id, double value) {
  value = limitTo(noteSettingInfo(id), value);
  settings_[static_cast<size_t>(id)].store(value, kRelaxed);
  if (id == NoteSetting::BendRange || id == NoteSetting::A4)
    publishPitch(voice_.heldKeys.load() == 0);
  return value;
}

void NoteEntry::setKeys(const KeyFrequencies& keys) {
  for (size_t k = 0; k < keys_.size(); ++k)
    keys_[k] = std::isfinite(keys[k]) && keys[k] > 0 ? keys[k] : 0.0;
  publishPitch(voice_.heldKeys.load() == 0);
}

void NoteEntry::publishPitch(bool alsoPrevious) {
  VoiceState& v = voice_;
  for (;;) {
    const uint32_t version = pitchVersion_.load();
    const int note = note_.load();
    if (note < 0) return;
    const double key = keys_[static_cast<size_t>(note)];
    if (key == 0) return;  // a tuning since took the key's pitch away: it keeps the one it had
    // Centred and at A4 = 440 Hz, both factors are exactly 1: equal
    // temperament keeps its pitches to the bit.
    const double frequency = key * (setting(NoteSetting::A4) / 440.0) *
                             bendFactor(bend_.load(), setting(NoteSetting::BendRange));
    v.noteFrequency.store(frequency, kRelaxed);
    for (int row = 0; row < kWobbleRows; ++row)
      v.wobbleRate[static_cast<size_t>(row)].store(
          static_cast<float>(multiplier_[static_cast<size_t>(row)].load(kRelaxed) * frequency),
          kRelaxed);
    // With no key held the release sounds at the bent pitch, and so does the
    // fade of what it leaves when the next key comes.
    if (alsoPrevious) v.previousFrequency.store(frequency, kRelaxed);
    if (pitchVersion_.load() == version) return;
  }
}

GateChange NoteEntry::keyDown(int note, int velocity) {
  note = std::clamp(note, kLowestNote, kHighestNote);
  if (keys_[static_cast<size_t>(note)] == 0) {
    silentDown_[static_cast<size_t>(note / 64)].fetch_or(uint64_t{1} << (note % 64));
    return GateChange::None;
  }
  VoiceState& v = voice_;
  for (int row = 0; row < kWobbleRows; ++row)
    multiplier_[static_cast<size_t>(row)].store(
        params_.get(coarseParam(row)) + params_.get(fineParam(row)) / 100.0, kRelaxed);
  note_.store(note);
  pitchVersion_.fetch_add(1);
  publishPitch(false);
  // Read at the note's set-up, which follows the gate's opening below.
  v.noteLevel.store(velocityLevel(velocity, setting(NoteSetting::VelocitySensitivity)), kRelaxed);
  // Two sources may press keys at once: the count decides which opens the gate.
  // Sequentially consistent with the closing in releaseOne (see there).
  if (v.heldKeys.fetch_add(1) == 0) {
    v.noteSerial.fetch_add(1, kRelaxed);
    v.gate.store(1);  // a tick that sees the gate sees the serial and level
    return GateChange::Opened;
  }
  return GateChange::None;
}

GateChange NoteEntry::keyUp(int note) {
  note = std::clamp(note, kLowestNote, kHighestNote);
  const uint64_t bit = uint64_t{1} << (note % 64);
  if (silentDown_[static_cast<size_t>(note / 64)].fetch_and(~bit) & bit) return GateChange::None;
  // While the pedal is down the release waits for it; one atomic word holds
  // both, so a pedal lifted meanwhile never loses a release.
  uint32_t p = pedal_.load();
  while (p & kPedalDown)
    if (pedal_.compare_exchange_weak(p, p + 1)) return GateChange::None;
  return releaseOne();
}

GateChange NoteEntry::releaseOne() {
  VoiceState& v = voice_;
  int32_t held = v.heldKeys.load();
  while (held > 0 && !v.heldKeys.compare_exchange_weak(held, held - 1)) {
  }
  if (held > 1) return GateChange::None;
  // The last key up. Another source may press a key between the count
  // reaching 0 and the gate closing: its key must not lose the gate, so the
  // count is looked at again after the gate is closed.
  v.previousFrequency.store(v.noteFrequency.load(kRelaxed), kRelaxed);
  v.gate.store(0);
  if (v.heldKeys.load() > 0) v.gate.store(1);
  return GateChange::Closed;
}

GateChange NoteEntry::releaseAll() {
  VoiceState& v = voice_;
  pedal_.fetch_and(kPedalDown);  // nothing held back any more; the pedal stays where it is
  for (std::atomic<uint64_t>& word : silentDown_) word.store(0, kRelaxed);
  v.heldKeys.store(0, kRelaxed);
  v.gate.store(0, kRelaxed);
  v.previousFrequency.store(v.noteFrequency.load(kRelaxed), kRelaxed);
  return GateChange::Closed;
}

void NoteEntry::bend(int value) {
  bend_.store(std::clamp(value, 0, kBendMaximum));
  pitchVersion_.fetch_add(1);
  publishPitch(voice_.heldKeys.load() == 0);
}

GateChange NoteEntry::pedal(bool down) {
  if (down) {
    pedal_.fetch_or(kPedalDown);
    return GateChange::None;
  }
  uint32_t heldBack = pedal_.exchange(0) & ~kPedalDown;
  GateChange change = GateChange::None;
  for (; heldBack > 0; --heldBack)
    if (releaseOne() == GateChange::Closed) change = GateChange::Closed;
  return change;
}

GateChange NoteEntry::resetControllers() {
  if (bend_.load() != kBendCentre) bend(kBendCentre);
  return pedal(false);
}

}  // namespace ondelith
