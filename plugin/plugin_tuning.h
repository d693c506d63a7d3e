#pragma once
// The tuning inside a plugin: the Scala texts a state or the panel gives,
// kept for the host's state, and their keys for the audio thread, which
// takes them without a lock. A tuning is the player's: presets and
// programs never touch it.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "instrument/tuning.h"

namespace ondelith::plugin {

// The state keys: each holds a file's text, never its path.
inline constexpr const char* kScaleKey = "scale";
inline constexpr const char* kKeyboardMapKey = "keyboard-map";

class SharedTuning {
 public:
  SharedTuning();

  // Not the audio thread: a scale's or a keyboard map's text; empty for
  // the instrument's own. False, nothing changed, with the reason for a
  // text that does not read.
  bool set(bool map, std::string_view text, std::string& reason);
  Tuning tuning() const;

  // Audio thread: the keys, when they changed since the count `seen`
  // (which then moves on); false while a writer is at work or nothing changed.
  bool takeKeys(uint32_t& seen, KeyFrequencies& keys) const;

 private:
  mutable std::mutex writer_;
  Tuning tuning_;  // behind writer_
  // Each change counts two, odd while the keys are written.
  std::atomic<uint32_t> sequence_{0};
  std::array<std::atomic<double>, kKeyCount> keys_;
};

}  // namespace ondelith::plugin
