#pragma once
// The one way notes reach the voice, whatever their source (a MIDI device,
// the program's own port, a file, a plugin host): key down, key up, release
// all. Any thread may call these; they never wait. The audio thread reads
// what they write once per frame.

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/params.h"

namespace ondelith {

// What the note messages leave for the audio thread. Each field is read
// and written whole; no ordering between fields is promised, except that a
// tick that sees the gate a key opened also sees that key's serial.
struct VoiceState {
  std::atomic<double> noteFrequency{0};      // Hz; 0 until the first note
  std::atomic<double> previousFrequency{0};  // Hz; what a retriggered note fades out at
  std::array<std::atomic<float>, kWobbleRows> wobbleRate{};  // Hz, by row
  std::atomic<int32_t> gate{0};
  std::atomic<int32_t> heldKeys{0};
  // Counts the gate's openings: the audio thread tells a new note by it, so
  // a release and a new first key landing while a tick runs are never
  // mistaken for one note, and a release alone never restarts an attack.
  std::atomic<uint32_t> noteSerial{0};
};

// What a note message did to the gate, for a host's "On" / "Off" display.
enum class GateChange : uint8_t { None, Opened, Closed };

constexpr int kLowestNote = 0;
constexpr int kHighestNote = 127;
double noteFrequencyOf(int note);  // equal temperament, note 69 = 440 Hz

class NoteEntry {
 public:
  NoteEntry(VoiceState& voice, const EngineParams& params) : voice_(voice), params_(params) {}

  // The pitch and the wobble rates (from the Coarse and Fine parameters) go
  // to the new key at once; only the first held key opens the gate, later
  // ones play legato.
  GateChange keyDown(int note);
  // The last held key up (or a key up with none held) releases the voice.
  GateChange keyUp(int note);
  GateChange releaseAll();

 private:
  VoiceState& voice_;
  const EngineParams& params_;
};

}  // namespace ondelith
