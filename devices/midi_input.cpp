#include "devices/midi_input.h"

#include "engine/midi_message.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void note(MidiInput& m, GateChange change) {
  if (change == GateChange::Opened) m.noteStatus.store(NoteStatus::On, kRelaxed);
  if (change == GateChange::Closed) m.noteStatus.store(NoteStatus::Off, kRelaxed);
}

}  // namespace

const char* noteStatusText(NoteStatus status) {
  switch (status) {
    case NoteStatus::On: return "On";
    case NoteStatus::Off: return "Off";
    default: return "";
  }
}

void midiInputCallback(MidiInput& m, uint32_t kind, uint32_t word) {
  if (kind == kMidiCloseNotice)
    note(m, m.engine.notes.releaseAll());
  else if (kind == kMidiData)
    note(m, playMidiMessage(m.engine.notes, word));
  else
    return;
  if (m.statusHook) m.statusHook(m.statusContext, noteStatusText(m.noteStatus.load(kRelaxed)));
}

}  // namespace ondelith
