#include "engine/midi_message.h"

namespace ondelith {

GateChange playMidiMessage(NoteEntry& notes, uint32_t word, int channel) {
  const uint32_t status = word & 0xFFu;
  if (channel != kAllChannels && (status & 0x0Fu) != static_cast<uint32_t>(channel))
    return GateChange::None;
  const int note = static_cast<int>((word >> 8) & 0x7Fu);
  const uint32_t velocity = (word >> 16) & 0xFFu;
  const uint32_t kind = status & 0xF0u;
  if (kind == kMidiNoteOn && velocity != 0) return notes.keyDown(note);
  if (kind == kMidiNoteOn || kind == kMidiNoteOff) return notes.keyUp(note);
  return GateChange::None;
}

}  // namespace ondelith
