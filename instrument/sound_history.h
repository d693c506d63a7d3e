#pragma once
// A host's sound with where it came from (so it can be named, and told
// apart from the sound as it came), and the steps of its undo history.

#include <cstdint>
#include <deque>
#include <string>

#include "instrument/sound.h"
#include "instrument/sound_bank.h"

namespace ondelith {

struct SoundOrigin {
  enum class Kind : uint8_t { StartUp, Bank, File };
  Kind kind = Kind::StartUp;
  int bankNumber = 0;          // Bank
  std::string name;            // Bank and File; "" for the start-up sound
  std::string path;            // File
  Sound sound = startSound();  // the sound as it came
  // A file that held fewer numbers than a patch: not the sound it meant.
  bool partial = false;
  bool operator==(const SoundOrigin&) const = default;
};

struct SoundState {
  Sound sound = startSound();
  SoundOrigin origin;
  // Whether it differs from the sound it came from.
  bool changed() const { return !(sound == origin.sound); }
  bool operator==(const SoundState&) const = default;
};

// A bank sound as it comes.
SoundState bankState(const BankSound& entry);

// Whole states, each the state after one change. Changes of one control in
// quick succession (a slider's drag, a spin box held down) make one step.
class SoundHistory {
 public:
  static constexpr size_t kUndoSteps = 200;
  static constexpr int64_t kMergeMs = 800;  // longest pause inside one step

  explicit SoundHistory(const SoundState& present = {});

  const SoundState& present() const { return steps_[at_]; }
  // Forgets every step: `present` is all there is.
  void reset(const SoundState& present);
  // The state after a change, which forgets the steps ahead. A change with
  // the same nonzero `mergeKey` as the one before, at most kMergeMs later
  // (`atMs` on any steady clock), takes that change's step. False when
  // nothing changed.
  bool record(const SoundState& state, int mergeKey = 0, int64_t atMs = 0);
  // The present given another origin, with no step (a Save names the sound).
  void amend(const SoundOrigin& origin);

  bool canUndo() const { return at_ > 0; }
  bool canRedo() const { return at_ + 1 < steps_.size(); }
  // The state to go back or forward to, now the present; nullptr at either end.
  const SoundState* undo();
  const SoundState* redo();

 private:
  std::deque<SoundState> steps_;
  size_t at_ = 0;
  int lastKey_ = 0;
  int64_t lastMs_ = 0;
};

}  // namespace ondelith
