#include "instrument/sound_history.h"

namespace ondelith {

SoundState bankState(const BankSound& entry) {
  SoundState state;
  state.sound = bankSound(entry);
  state.origin.kind = SoundOrigin::Kind::Bank;
  state.origin.bankNumber = entry.number;
  state.origin.name = std::string(entry.name);
  state.origin.sound = state.sound;
  return state;
}

SoundHistory::SoundHistory(const SoundState& present) { reset(present); }

void SoundHistory::reset(const SoundState& present) {
  steps_.assign(1, present);
  at_ = 0;
  lastKey_ = 0;
}

bool SoundHistory::record(const SoundState& state, int mergeKey, int64_t atMs) {
  if (state == present()) return false;
  const bool merge = mergeKey != 0 && mergeKey == lastKey_ && atMs - lastMs_ <= kMergeMs &&
                     atMs >= lastMs_ && at_ > 0 && !canRedo();
  lastKey_ = mergeKey;
  lastMs_ = atMs;
  if (merge) {
    steps_[at_] = state;
    // Dragged back to where it started: no step at all.
    if (steps_[at_] == steps_[at_ - 1]) {
      steps_.pop_back();
      --at_;
      lastKey_ = 0;
    }
    return true;
  }
  steps_.erase(steps_.begin() + static_cast<std::ptrdiff_t>(at_) + 1, steps_.end());
  steps_.push_back(state);
  if (steps_.size() > kUndoSteps + 1) steps_.pop_front();
  at_ = steps_.size() - 1;
  return true;
}

void SoundHistory::amend(const SoundOrigin& origin) {
  steps_[at_].origin = origin;
  lastKey_ = 0;
}

const SoundState* SoundHistory::undo() {
  if (!canUndo()) return nullptr;
  lastKey_ = 0;
  return &steps_[--at_];
}

const SoundState* SoundHistory::redo() {
  if (!canRedo()) return nullptr;
  lastKey_ = 0;
  return &steps_[++at_];
}

}  // namespace ondelith
