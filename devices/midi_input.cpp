#include "devices/midi_input.h"

#include <thread>

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
  // Sequentially consistent with the pause: either the pausing thread sees
  // this call in flight, or this call sees the pause.
  m.inFlight.fetch_add(1);
  if (!m.paused.load()) {
    bool known = true;
    if (kind == kMidiCloseNotice) {
      // A device that goes away can no longer lift its pedal or centre its wheel.
      note(m, m.engine.notes.releaseAll());
      m.engine.notes.resetControllers();
    } else if (kind == kMidiData)
      note(m, playMidiMessage(m.engine.notes, word, m.channel.load(kRelaxed)));
    else
      known = false;
    if (known && m.statusHook)
      m.statusHook(m.statusContext, noteStatusText(m.noteStatus.load(kRelaxed)));
  }
  m.inFlight.fetch_sub(1);
}

void playSourceNote(MidiInput& m, int key, bool down, int velocity) {
  const uint32_t word = (down ? kMidiNoteOn : kMidiNoteOff) |
                        static_cast<uint32_t>(key & 0x7F) << 8 |
                        static_cast<uint32_t>(velocity & 0x7F) << 16;
  m.inFlight.fetch_add(1);
  if (!m.paused.load()) {
    note(m, playMidiMessage(m.engine.notes, word, kAllChannels));
    if (m.statusHook) m.statusHook(m.statusContext, noteStatusText(m.noteStatus.load(kRelaxed)));
  }
  m.inFlight.fetch_sub(1);
}

MidiPause::MidiPause(MidiInput& midi) : midi_(midi) {
  midi_.paused.store(true);
  while (midi_.inFlight.load() != 0) std::this_thread::yield();
}

MidiPause::~MidiPause() { midi_.paused.store(false); }

}  // namespace ondelith
