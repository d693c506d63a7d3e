#pragma once
// Note messages from the MIDI input, turned into the voice's state. Runs on
// the MIDI service's thread; reads the Coarse and Fine values from the
// control mirror and hands the note status text to a hook.

#include <atomic>
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

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

double noteFrequencyOf(int note);

void midiInputCallback(MidiInput& midi, uint32_t kind, uint32_t word);

}  // namespace ondelith
