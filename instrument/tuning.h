#pragma once
// A tuning as the player chooses it: a Scala scale and a keyboard map, each
// kept as its file's text (empty for the instrument's own: twelve equal
// steps an octave, and the standard map), and what it gives each key. A
// tuning belongs to the player, never to a sound.

#include <string>

#include "engine/key_tuning.h"
#include "instrument/keyboard_map.h"
#include "instrument/scala_scale.h"

namespace ondelith {

// Keys whose pitch lands outside this play nothing: below it no pitch is
// heard, above it none is.
constexpr double kLowestKeyHz = 1.0;
constexpr double kHighestKeyHz = 20000.0;

struct Tuning {
  std::string scale;  // a .scl file's text, or empty
  std::string map;    // a .kbm file's text, or empty
  bool operator==(const Tuning&) const = default;
};

// Each key's frequency at A4 = 440 Hz (the A4 setting moves them all), or 0
// for a key that plays nothing. Pitches are counted in cents from the
// reference key, so twelve steps of 100 cents give equal temperament to
// the bit.
KeyFrequencies keyFrequencies(const ScalaScale& scale, const KeyboardMap& map);

// A tuning's keys; false, `keys` untouched, when a text does not read, and
// `reason` then says which file and why.
bool tuningKeys(const Tuning& tuning, KeyFrequencies& keys, std::string& reason);

// What the player reads for it: the scale's description, or its first
// words, or "12-TET"; with " (mapped)" for a keyboard map of its own.
std::string tuningName(const Tuning& tuning);

// The instrument's own scale, as a Scala scale.
ScalaScale equalTemperamentScale();

}  // namespace ondelith
