#pragma once
// What a plugin host plays, apart from the plugin API: an engine at the
// host's rate, the sound it plays (set from the host's control ports or from
// a patch), and the patch as last published for a state save. The host's
// audio thread drives the engine itself, so it applies changes directly.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "instrument/sound.h"
#include "plugin/ports.h"

namespace ondelith::lv2 {

// A patch published whole by the thread that changes the sound, read by
// another (a state save) without ever holding up the writer: the reader
// tries again while a publication is under way.
class PatchMailbox {
 public:
  void publish(const PatchValues& values);
  PatchValues read() const;

 private:
  std::atomic<uint32_t> sequence_{0};  // odd while being written
  std::array<std::atomic<int32_t>, kPatchLines> values_{};
};

using ControlPortValues = std::array<const float*, kControlPortCount>;

class Instrument {
 public:
  explicit Instrument(SampleRate rate);

  // Audio thread; none of these allocates, locks or waits.
  // Control ports whose values moved since they were last seen set their
  // controls and parameters, limited to the ports' ranges. The Duration and
  // its range switch go together: the Duration within the range chosen.
  void takePorts(const ControlPortValues& ports);
  // One MIDI message: note-on and note-off on channel 1, as the program
  // plays them; All Notes Off and All Sound Off there release the voice.
  void playMidi(const uint8_t* bytes, uint32_t size);
  void render(float* out, uint32_t frames);

  // A patch applied as Open applies it. Audio thread, or while nothing runs.
  void applyPatch(const PatchValues& values);
  // After a state restore: the ports' next values are taken as they stand,
  // so that ports a host restores after (or before) the patch never undo it.
  void adoptPorts() { adoptPorts_ = true; }

  // While nothing runs: the voice starts afresh with the same sound.
  void resetVoice();

  // Any thread: the sound as last published, for a state save.
  PatchValues patch() const { return mailbox_.read(); }

  const Engine& engine() const { return *engine_; }

 private:
  void publish();

  std::unique_ptr<Engine> engine_;
  Sound sound_;  // the audio thread's: the sound the voice plays
  std::array<float, kControlPortCount> seen_{};
  bool adoptPorts_ = false;
  bool played_ = false;  // the voice has rendered since it was made
  PatchMailbox mailbox_;
};

// Reads a patch file for the plugin: a regular file (never waited on) whose
// text is a patch (isPatchText). False with the reason otherwise. Not for the
// audio thread.
bool readPatchText(const std::string& path, PatchValues& values, std::string& reason);

}  // namespace ondelith::lv2
