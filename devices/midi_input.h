#pragma once
// Note messages from a MIDI service into the engine's note entry. Runs on
// the MIDI service's thread and hands the note status text to a hook.

#include <atomic>
#include <cstdint>

#include "engine/engine.h"

namespace ondelith {

// What the MIDI service calls back with: a short message, or a notice that
// the device closed.
constexpr uint32_t kMidiCloseNotice = 962;
constexpr uint32_t kMidiData = 963;

enum class NoteStatus : int32_t { None, On, Off };
const char* noteStatusText(NoteStatus status);  // "", "On", "Off"

struct MidiInput {
  explicit MidiInput(Engine& e) : engine(e) {}
  Engine& engine;
  std::atomic<NoteStatus> noteStatus{NoteStatus::None};
  // Receives the note status text; called on the MIDI thread.
  void (*statusHook)(void* context, const char* text) = nullptr;
  void* statusContext = nullptr;
};

void midiInputCallback(MidiInput& midi, uint32_t kind, uint32_t word);

}  // namespace ondelith
