#pragma once
// Note messages from a MIDI service to the engine, as events it applies at
// its next block. Runs on the MIDI service's threads; allocates nothing,
// locks nothing. The note status is the engine's, for the UI to poll.

#include <atomic>
#include <cstdint>

#include "engine/engine.h"
#include "engine/midi_message.h"

namespace ondelith {

// What the MIDI service calls back with: a short message, or a notice that
// the device closed.
constexpr uint32_t kMidiCloseNotice = 962;
constexpr uint32_t kMidiData = 963;

const char* noteStatusText(NoteStatus status);  // "", "On", "Off"

struct MidiInput {
  explicit MidiInput(Engine& e) : engine(e) {}
  Engine& engine;
  // Messages the engine's queue had no room for.
  std::atomic<uint32_t> lost{0};
  // While paused (the engine being made again) messages are dropped; the
  // count tells the pausing thread when no callback is inside the engine.
  std::atomic<bool> paused{false};
  std::atomic<int> inFlight{0};
  // The channel the voice hears (0 to 15, or kAllChannels), for a source
  // that drops what it would not hear before it reaches the queue.
  std::atomic<int> channel{kAllChannels};
};

// Several sources (a device, the program's own port) may call this at once.
void midiInputCallback(MidiInput& midi, uint32_t kind, uint32_t word);

// A note from a source that has no channel (the computer keyboard), heard
// whatever the channel setting.
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
