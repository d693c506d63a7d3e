#pragma once
// The sound kept from one run to the next: written whole at the end, read
// at the start, with where it came from.

#include <string>
#include <string_view>

#include "instrument/sound_history.h"

namespace ondelith {

std::string formatKeptSound(const SoundState& state);
// False (`state` untouched) for text that is no kept sound.
bool parseKeptSound(std::string_view text, SoundState& state);

}  // namespace ondelith
