#pragma once
// Program Change: the voice holds no sounds of its own, so it only tells
// its host which program was asked for; the host's bank does the rest.

#include <cstdint>

#include "engine/midi_message.h"

namespace ondelith {

constexpr uint32_t kMidiProgramChange = 0xC0;

// The program (0 to 127) `word` asks for when it is a Program Change on
// `channel` (0 to 15, or kAllChannels); -1 otherwise.
constexpr int programChangeOf(uint32_t word, int channel) {
  if ((word & 0xF0) != kMidiProgramChange) return -1;
  if (channel != kAllChannels && static_cast<int>(word & 0x0F) != channel) return -1;
  const uint32_t program = (word >> 8) & 0xFF;
  return program < 128 ? static_cast<int>(program) : -1;
}

}  // namespace ondelith
