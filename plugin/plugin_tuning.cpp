#include "plugin/plugin_tuning.h"

namespace ondelith::plugin {

SharedTuning::SharedTuning() {
  const KeyFrequencies start = equalTemperament();
  for (size_t k = 0; k < keys_.size(); ++k) keys_[k].store(start[k], std::memory_order_relaxed);
}

bool SharedTuning::set(bool map, std::string_view text, std::string& reason) {
  const std::lock_guard<std::mutex> lock(writer_);
  Tuning next = tuning_;
  // As the program keeps it: UTF-8, read as the file would be.
  (map ? next.map : next.scale) = scalaTextAsUtf8(text);
  KeyFrequencies keys{};
  if (!tuningKeys(next, keys, reason)) return false;
  tuning_ = std::move(next);
  const uint32_t s = sequence_.load(std::memory_order_relaxed);
  sequence_.store(s + 1, std::memory_order_relaxed);
  // Release stores: a reader that sees any new key also sees the odd count.
  for (size_t k = 0; k < keys_.size(); ++k) keys_[k].store(keys[k], std::memory_order_release);
  sequence_.store(s + 2, std::memory_order_release);
  return true;
}

Tuning SharedTuning::tuning() const {
  const std::lock_guard<std::mutex> lock(writer_);
  return tuning_;
}

bool SharedTuning::takeKeys(uint32_t& seen, KeyFrequencies& keys) const {
  const uint32_t before = sequence_.load(std::memory_order_acquire);
  if (before == seen || (before & 1u)) return false;
  for (size_t k = 0; k < keys_.size(); ++k) keys[k] = keys_[k].load(std::memory_order_acquire);
  if (sequence_.load(std::memory_order_relaxed) != before) return false;
  seen = before;
  return true;
}

}  // namespace ondelith::plugin
