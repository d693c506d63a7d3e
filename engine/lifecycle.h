#pragma once
#include <cstdint>

#include "engine/engine.h"

namespace ondelith {

// What a tick reads of the note messages, read once by its caller.
struct NoteView {
  int32_t gate;
  uint32_t noteSerial;
};
inline NoteView readNoteView(const VoiceState& voice) {
  // Acquire: a tick that sees the gate a key opened also sees its serial.
  const int32_t gate = voice.gate.load(std::memory_order_acquire);
  return {gate, voice.noteSerial.load(std::memory_order_relaxed)};
}

// Whether a tick that sees `view` sets a note up: the gate opened since the
// last set-up.
inline bool setsUpNote(const Engine& engine, const NoteView& view) {
  return view.gate != 0 && view.noteSerial != engine.life.setUpSerial;
}

// One frame of the note lifecycle and the envelope, with the note state as
// the caller read it (so it can tell beforehand whether a note is set up)
// and sample count n.
void engineTickSeen(Engine& engine, int32_t n, const NoteView& view);

}  // namespace ondelith
