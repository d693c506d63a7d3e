#pragma once
// A Scala keyboard map (.kbm): which scale degree each MIDI key plays, and
// the frequency one key is tuned to. Seven numbers, then the mapping, one
// entry a line: a degree, or "x" for a key that plays nothing; entries
// left out at the end are keys that play nothing too.

#include <string_view>
#include <vector>

#include "engine/key_tuning.h"
#include "instrument/scala_text.h"

namespace ondelith {

// Keys of a pattern that repeats: no keyboard has more keys.
constexpr int kMaxMapSize = kKeyCount;
constexpr int kUnmapped = -1;

struct KeyboardMap {
  int size = 0;  // keys in the repeating pattern; 0: key after key, degree after degree
  int firstKey = 0, lastKey = kKeyCount - 1;  // keys outside play nothing
  int middleKey = 60;                         // the key of the pattern's first entry
  int referenceKey = 69;
  double referenceHz = 440.0;  // the reference key's frequency at A4 = 440 Hz
  int octaveDegree = 0;        // the degree each repeat of the pattern starts at
  std::vector<int> degrees;    // size entries: a degree, or kUnmapped
  bool operator==(const KeyboardMap&) const = default;
};

// The standard map: degree 0 at key 60, key 69 at 440 Hz, the scale's own period.
KeyboardMap standardKeyboardMap();

// The whole text read; false, with the line and the reason, for anything
// the format does not allow, `out` then untouched.
bool readKeyboardMap(std::string_view text, KeyboardMap& out, ScalaFault& fault);

}  // namespace ondelith
