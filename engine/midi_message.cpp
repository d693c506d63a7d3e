#include "engine/midi_message.h"

namespace ondelith {

GateChange playMidiMessage(NoteEntry& notes, uint32_t word, int channel) {
  const uint32_t status = word & 0xFFu;
  if (status < 0x80u || status >= 0xF0u) return GateChange::None;
  if (channel != kAllChannels && (status & 0x0Fu) != static_cast<uint32_t>(channel))
    return GateChange::None;
  const uint32_t data1 = (word >> 8) & 0xFFu;
  const uint32_t data2 = (word >> 16) & 0xFFu;
  // A data byte of 0x80 or above is a status byte: no message holds one.
  if (data1 > 127 || data2 > 127) return GateChange::None;
  const uint32_t kind = status & 0xF0u;
  if (kind == kMidiNoteOn && data2 != 0)
    return notes.keyDown(static_cast<int>(data1), static_cast<int>(data2));
  if (kind == kMidiNoteOn || kind == kMidiNoteOff) return notes.keyUp(static_cast<int>(data1));
  if (kind != kMidiPitchBend && kind != kMidiControlChange) return GateChange::None;
  if (kind == kMidiPitchBend) {
    notes.bend(static_cast<int>(data1 | data2 << 7));
    return GateChange::None;
  }
  switch (static_cast<int>(data1)) {
    case kSustainPedal: return notes.pedal(data2 >= 64);
    case kAllSoundOff:
    case kAllNotesOff: return notes.releaseAll();
    case kResetAllControllers: return notes.resetControllers();
    default: return GateChange::None;
  }
}

}  // namespace ondelith
