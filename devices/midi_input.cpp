#include "devices/midi_input.h"

#include <thread>

#include "engine/midi_message.h"

namespace ondelith {

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
    bool posted = true;
    if (kind == kMidiCloseNotice)
      posted = m.engine.post(simpleEvent(0, EventKind::DeviceClosed));
    else if (kind == kMidiData)
      posted = m.engine.post(midiEvent(0, word));
    if (!posted) m.lost.fetch_add(1, std::memory_order_relaxed);
  }
  m.inFlight.fetch_sub(1);
}

void playSourceNote(MidiInput& m, int key, bool down, int velocity) {
  const uint32_t word = (down ? kMidiNoteOn : kMidiNoteOff) |
                        static_cast<uint32_t>(key & 0x7F) << 8 |
                        static_cast<uint32_t>(velocity & 0x7F) << 16;
  m.inFlight.fetch_add(1);
  if (!m.paused.load() && !m.engine.post(midiEvent(0, word, true)))
    m.lost.fetch_add(1, std::memory_order_relaxed);
  m.inFlight.fetch_sub(1);
}

MidiPause::MidiPause(MidiInput& midi) : midi_(midi) {
  midi_.paused.store(true);
  while (midi_.inFlight.load() != 0) std::this_thread::yield();
}

MidiPause::~MidiPause() { midi_.paused.store(false); }

}  // namespace ondelith
