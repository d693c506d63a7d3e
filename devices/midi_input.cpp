#include "devices/midi_input.h"

#include <cmath>

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void report(MidiInput& m) {
  if (m.statusHook) m.statusHook(m.statusContext, noteStatusText(m.noteStatus.load(kRelaxed)));
}

// Every key up: the gate closes and the next note gets its own set-up.
void releaseAllKeys(MidiInput& m) {
  VoiceState& v = m.engine.voice;
  v.heldKeys.store(0, kRelaxed);
  v.gate.store(0, kRelaxed);
  m.noteStatus.store(NoteStatus::Off, kRelaxed);
  v.noteSetUp.store(0, kRelaxed);
  v.attackBegun.store(0, kRelaxed);
  v.previousFrequency.store(v.noteFrequency.load(kRelaxed), kRelaxed);
}

float wobbleRate(const MidiInput& m, int row, double frequency) {
  const ControlMirror& c = m.engine.controls;
  const double multiplier =
      readControl(c, spinCoarseId(row)) + readControl(c, spinFineId(row)) / 100.0;
  return static_cast<float>(multiplier * frequency);
}

void noteOn(MidiInput& m, int note) {
  VoiceState& v = m.engine.voice;
  const double frequency = noteFrequencyOf(note);
  v.noteFrequency.store(frequency, kRelaxed);
  v.wobbleRateX1.store(wobbleRate(m, kRowX1, frequency), kRelaxed);
  v.wobbleRateX2.store(wobbleRate(m, kRowX2, frequency), kRelaxed);
  v.wobbleRateY1.store(wobbleRate(m, kRowY1, frequency), kRelaxed);
  v.wobbleRateY2.store(wobbleRate(m, kRowY2, frequency), kRelaxed);
  if (v.heldKeys.load(kRelaxed) == 0) {
    v.noteSerial.fetch_add(1, kRelaxed);
    v.gate.store(1, std::memory_order_release);  // a tick that sees the gate sees the serial
    m.noteStatus.store(NoteStatus::On, kRelaxed);
  }
  v.heldKeys.fetch_add(1, kRelaxed);
}

void noteOff(MidiInput& m) {
  VoiceState& v = m.engine.voice;
  const int32_t held = v.heldKeys.load(kRelaxed);
  if (held > 0) v.heldKeys.store(held - 1, kRelaxed);
  if (v.heldKeys.load(kRelaxed) == 0) releaseAllKeys(m);
}

}  // namespace

const char* noteStatusText(NoteStatus status) {
  switch (status) {
    case NoteStatus::On: return "On";
    case NoteStatus::Off: return "Off";
    default: return "";
  }
}

double noteFrequencyOf(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

void midiInputCallback(MidiInput& m, uint32_t kind, uint32_t word) {
  if (kind == kMidiCloseNotice) {
    releaseAllKeys(m);
    report(m);
    return;
  }
  if (kind != kMidiData) return;
  const uint32_t status = word & 0xFFu;
  const int note = static_cast<int>((word >> 8) & 0xFFu);
  const uint32_t velocity = (word >> 16) & 0xFFu;
  if (status == 0x90 && velocity != 0)
    noteOn(m, note);
  else if (status == 0x90 || status == 0x80)
    noteOff(m);
  report(m);
}

}  // namespace ondelith
