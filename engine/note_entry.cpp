#include "engine/note_entry.h"

#include <cmath>

namespace ondelith {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

double noteFrequencyOf(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

GateChange NoteEntry::keyDown(int note) {
  VoiceState& v = voice_;
  const double frequency = noteFrequencyOf(note);
  v.noteFrequency.store(frequency, kRelaxed);
  for (int row = 0; row < kWobbleRows; ++row) {
    const double multiplier = params_.get(coarseParam(row)) + params_.get(fineParam(row)) / 100.0;
    v.wobbleRate[static_cast<size_t>(row)].store(static_cast<float>(multiplier * frequency),
                                                 kRelaxed);
  }
  // Two sources may press keys at once: the count decides which opens the gate.
  // Sequentially consistent with keyUp's closing (see there).
  if (v.heldKeys.fetch_add(1) == 0) {
    v.noteSerial.fetch_add(1, kRelaxed);
    v.gate.store(1);  // a tick that sees the gate sees the serial
    return GateChange::Opened;
  }
  return GateChange::None;
}

GateChange NoteEntry::keyUp(int) {
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
  v.heldKeys.store(0, kRelaxed);
  v.gate.store(0, kRelaxed);
  v.previousFrequency.store(v.noteFrequency.load(kRelaxed), kRelaxed);
  return GateChange::Closed;
}

}  // namespace ondelith
