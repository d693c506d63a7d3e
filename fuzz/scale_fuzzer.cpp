// Any bytes as a Scala scale: refused with a line and a reason, or read
// into degrees that every key can be tuned from.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "instrument/tuning.h"

using namespace ondelith;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ScalaScale untouched{"untouched", {1.0}};
  ScalaScale scale = untouched;
  ScalaFault fault;
  if (!readScalaScale(bytes, scale, fault)) {
    if (fault.reason.empty() || fault.line < 0 || !(scale == untouched)) __builtin_trap();
    return 0;
  }
  if (size > kMaxScalaBytes || scale.cents.size() > static_cast<size_t>(kMaxScaleDegrees))
    __builtin_trap();
  for (double c : scale.cents)
    if (!std::isfinite(c) || std::abs(c) > kMaxScaleCents) __builtin_trap();
  // Kept as UTF-8, the text reads as the same degrees, where it still fits.
  const std::string utf8 = scalaTextAsUtf8(bytes);
  ScalaScale again;
  if (utf8.size() <= kMaxScalaBytes &&
      (!readScalaScale(utf8, again, fault) || again.cents != scale.cents))
    __builtin_trap();
  for (double hz : keyFrequencies(scale, standardKeyboardMap()))
    if (hz != 0 && !(hz >= kLowestKeyHz && hz <= kHighestKeyHz)) __builtin_trap();
  return 0;
}
