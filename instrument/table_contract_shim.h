#pragma once
// Stand-in for the table's contract until it lands; removed at the merge.
#include <charconv>
#include <string>
#include <string_view>

#include "instrument/registry.h"

namespace ondelith {

enum class Owner : uint8_t { Sound, Player };
inline Owner shimOwner(int index) {
  return index < kSoundValueCount ? Owner::Sound : Owner::Player;
}
inline bool isSoundSetting(int index) {
  return shimOwner(index) == Owner::Sound && parameter(index).patchLine == 0;
}
inline std::string parameterToken(int, int32_t value) { return std::to_string(value); }
inline bool parseParameterText(int index, std::string_view text, int32_t& value) {
  int32_t v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (v < parameter(index).minimum || v > parameter(index).maximum) return false;
  value = v;
  return true;
}
inline int parameterIndex(std::string_view symbol) {
  for (int i = 0; i < kParameterCount; ++i)
    if (parameter(i).symbol == symbol) return i;
  return -1;
}

}  // namespace ondelith
