#pragma once
// A Scala scale (.scl): a description line, the number of degrees, then
// each degree above the first (which is 1/1) as cents ("701.955", any
// number with a point) or a ratio ("3/2", "2"); the last degree is the
// interval the scale repeats at, usually the octave.

#include <string>
#include <string_view>
#include <vector>

#include "instrument/scala_text.h"

namespace ondelith {

constexpr int kMaxScaleDegrees = 1024;
// Further than any pitch a key could sound at: keeps every sum finite.
constexpr double kMaxScaleCents = 1000000.0;

struct ScalaScale {
  std::string description;
  // Degrees 1 to n in cents above degree 0; the last is the period. None:
  // every key plays degree 0.
  std::vector<double> cents;
  bool operator==(const ScalaScale&) const = default;
};

// The whole text read; false, with the line and the reason, for anything
// the format does not allow, `out` then untouched.
bool readScalaScale(std::string_view text, ScalaScale& out, ScalaFault& fault);

// One pitch as a degree line writes it, in cents; false with the reason.
bool readScalaPitch(std::string_view word, double& cents, std::string& reason);

}  // namespace ondelith
