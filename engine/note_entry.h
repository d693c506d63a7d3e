#pragma once
// The one way notes reach the voice, whatever their source (a MIDI device,
// the program's own port, the computer keyboard, a file, a plugin host):
// key down, key up, release all, and the player's controllers: pitch bend
// and the sustain pedal. Any thread may call these; they never wait. The
// audio thread reads what they write once per frame.

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/key_tuning.h"
#include "engine/params.h"

namespace ondelith {

// What the note messages leave for the audio thread. Each field is read
// and written whole; no ordering between fields is promised, except that a
// tick that sees the gate a key opened also sees that key's serial and level.
struct VoiceState {
  std::atomic<double> noteFrequency{0};      // Hz, bent; 0 until the first note
  std::atomic<double> previousFrequency{0};  // Hz; what a retriggered note fades out at
  std::array<std::atomic<float>, kWobbleRows> wobbleRate{};  // Hz, by row
  std::atomic<int32_t> gate{0};
  std::atomic<int32_t> heldKeys{0};  // keys down, and keys the pedal holds
  // Counts the gate's openings: the audio thread tells a new note by it, so
  // a release and a new first key landing while a tick runs are never
  // mistaken for one note, and a release alone never restarts an attack.
  std::atomic<uint32_t> noteSerial{0};
  // The peak of the note's envelope, from the velocity of the key that
  // opened the gate: 1 unless velocity sensitivity is on.
  std::atomic<double> noteLevel{1.0};
};

// What a note message did to the gate, for a host's "On" / "Off" display.
enum class GateChange : uint8_t { None, Opened, Closed };

constexpr int kLowestNote = 0;
constexpr int kHighestNote = 127;
double noteFrequencyOf(int note);  // equal temperament, note 69 = 440 Hz

// The player's settings of the note entry: how notes are played rather than
// how they sound, so a patch does not carry them. Units as the parameters'.
enum class NoteSetting : int { BendRange, VelocitySensitivity, A4, Count };
constexpr int kNoteSettingCount = static_cast<int>(NoteSetting::Count);

using NoteSettingInfo = EngineRow<NoteSetting>;

// Bend range: how far the wheel at either end bends, in semitones (it also
// bends the wobble rates, which follow the pitch). Velocity sensitivity: at
// 100 % a note's level is velocity / 127, at 0 % every note is at full level.
// A4: the concert pitch in Hz; every key, a tuning's too, moves by A4 / 440.
inline constexpr std::array<NoteSettingInfo, kNoteSettingCount> kNoteSettingTable = {{
    {NoteSetting::BendRange, 0, 24, 2, true},
    {NoteSetting::VelocitySensitivity, 0, 100, 0, true},
    {NoteSetting::A4, 400, 480, 440, true},
}};

static_assert(rowsInOrder(kNoteSettingTable));

constexpr const NoteSettingInfo& noteSettingInfo(NoteSetting id) {
  return kNoteSettingTable[static_cast<size_t>(id)];
}

constexpr int kBendCentre = 8192;  // the wheel at rest; 0 and 16383 are its ends
constexpr int kBendMaximum = 16383;

// The pitch factor of a bend value (0 to 16383) at a range in semitones;
// both ends reach the whole range, the centre gives exactly 1.
double bendFactor(int bend, double rangeSemitones);

// The envelope's peak for a velocity (1 to 127) at a sensitivity in percent.
double velocityLevel(int velocity, double sensitivityPercent);

class NoteEntry {
 public:
  NoteEntry(VoiceState& voice, const EngineParams& params);

  // The pitch and the wobble rates (from the Coarse and Fine parameters, as
  // they are now) go to the new key at once, bent as the wheel stands; only
  // the first held key opens the gate (and sets the note's level from its
  // velocity), later ones play legato. A key the tuning leaves silent plays
  // nothing, and its key up is no release.
  GateChange keyDown(int note, int velocity = 127);
  // The last held key up (or a key up with none held) releases the voice;
  // while the pedal is down the release is held back.
  GateChange keyUp(int note);
  // The tuning: the thread that plays the keys (the audio thread). A held
  // note whose key still plays takes its new pitch at once.
  void setKeys(const KeyFrequencies& keys);
  const KeyFrequencies& keys() const { return keys_; }
  // Every key, and what the pedal holds back, let go at once.
  GateChange releaseAll();
  // The wheel: 0 to 16383, kBendCentre at rest. Bends the sounding note
  // and the next ones.
  void bend(int value);
  // The sustain pedal. Up releases what it held back, one key-up each.
  GateChange pedal(bool down);
  // The wheel to its centre and the pedal up, as a source that goes away
  // leaves them.
  GateChange resetControllers();

  // A setting, limited to its range and rounded; not a number gives the start.
  double setSetting(NoteSetting id, double value);
  double setting(NoteSetting id) const {
    return settings_[static_cast<size_t>(id)].load(std::memory_order_relaxed);
  }
  int bendValue() const { return bend_.load(std::memory_order_relaxed); }
  bool pedalDown() const { return (pedal_.load(std::memory_order_relaxed) & kPedalDown) != 0; }

 private:
  static constexpr uint32_t kPedalDown = 0x80000000u;
  // Publishes the current key's pitch and wobble rates, bent; again if a
  // key or the wheel moved meanwhile, so the last mover's pitch stays.
  void publishPitch(bool alsoPrevious);
  GateChange releaseOne();

  VoiceState& voice_;
  const EngineParams& params_;
  KeyFrequencies keys_ = equalTemperament();
  // Keys down that the tuning left silent, a bit each: their key ups are ignored.
  std::array<std::atomic<uint64_t>, kKeyCount / 64> silentDown_{};
  std::array<std::atomic<double>, kNoteSettingCount> settings_{};
  std::atomic<int32_t> note_{-1};                              // the last key down
  std::array<std::atomic<double>, kWobbleRows> multiplier_{};  // its wobble multiples
  std::atomic<int32_t> bend_{kBendCentre};
  std::atomic<uint32_t> pitchVersion_{0};
  std::atomic<uint32_t> pedal_{0};  // kPedalDown | the count of releases held back
};

}  // namespace ondelith
