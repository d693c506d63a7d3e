#pragma once
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// One frame of the note lifecycle and the linear ADSR, for sample count n.
void engineTick(Engine& engine, int32_t n);

// What a tick reads of the note messages, read once by its caller.
struct NoteView {
  int32_t gate;
  uint32_t noteSerial;
};
inline NoteView readNoteView(const VoiceState& voice) {
  // Acquire: a tick that sees the gate a note-on opened also sees its serial.
  const int32_t gate = voice.gate.load(std::memory_order_acquire);
  return {gate, voice.noteSerial.load(std::memory_order_relaxed)};
}

// Whether a tick that sees `view` sets a note up: the gate opened since the
// last set-up. The set-up flag is not asked, as a release may clear it
// between the tick's reads; the gate's serial tells the same story whole.
inline bool setsUpNote(const Engine& engine, const NoteView& view) {
  return view.gate != 0 && view.noteSerial != engine.setUpSerial;
}

// The tick with the note state as the caller read it, so the caller can tell
// beforehand whether it sets a note up.
void engineTickSeen(Engine& engine, int32_t n, const NoteView& view);

}  // namespace ondelith
