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
  // The channel heard: 0 to 15, or kAllChannels. Any thread may change it.
  std::atomic<int> channel{0};
  std::atomic<NoteStatus> noteStatus{NoteStatus::None};
  // Receives the note status text; called on the MIDI thread.
  void (*statusHook)(void* context, const char* text) = nullptr;
  void* statusContext = nullptr;
  // While paused (the engine being made again) messages are dropped; the
  // count tells the pausing thread when no callback is inside the engine.
  std::atomic<bool> paused{false};
  std::atomic<int> inFlight{0};
};

// Several sources (a device, the program's own port) may call this at once.
void midiInputCallback(MidiInput& midi, uint32_t kind, uint32_t word);

// A note from a source that has no channel (the computer keyboard): the same
// note entry, status and hook as a MIDI message, on the caller's thread.
void playSourceNote(MidiInput& midi, int note, bool down, int velocity);

// Keeps every MIDI thread out of the engine while it lives: on return from
// the constructor no callback is inside it. UI thread.
class MidiPause {
 public:
  explicit MidiPause(MidiInput& midi);
  ~MidiPause();
  MidiPause(const MidiPause&) = delete;
  MidiPause& operator=(const MidiPause&) = delete;

 private:
  MidiInput& midi_;
};

}  // namespace ondelith
