#pragma once
// What each MIDI key plays: its frequency with A4 at 440 Hz, or nothing.
// Equal temperament until a host hands the voice a tuning; the A4 setting
// then moves every key by the same factor.

#include <array>

namespace ondelith {

constexpr int kKeyCount = 128;
// Hz by key; 0 for a key that plays nothing.
using KeyFrequencies = std::array<double, kKeyCount>;

// A tuning reaches the voice in events of this many keys each; the last
// one puts the whole tuning in place, so no note hears half of it.
constexpr int kKeysAnEvent = 8;
static_assert(kKeyCount % kKeysAnEvent == 0);

// Note 69 at 440 Hz, twelve keys an octave: the instrument's own tuning.
KeyFrequencies equalTemperament();

}  // namespace ondelith
