// Any bytes as a Scala keyboard map: refused with a line and a reason, or
// read into a map whose every key has a degree or none, over any scale.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "instrument/tuning.h"

using namespace ondelith;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  KeyboardMap map;
  map.size = -1;
  ScalaFault fault;
  if (!readKeyboardMap(bytes, map, fault)) {
    if (fault.reason.empty() || fault.line < 0 || map.size != -1) __builtin_trap();
    return 0;
  }
  if (map.size < 0 || map.size > kMaxMapSize ||
      map.degrees.size() != static_cast<size_t>(map.size) || map.firstKey > map.lastKey ||
      map.referenceKey < map.firstKey || map.referenceKey > map.lastKey || !(map.referenceHz > 0))
    __builtin_trap();
  // Over a scale of one degree and over the instrument's own.
  for (const ScalaScale& scale : {ScalaScale{"one", {1200.0}}, equalTemperamentScale()}) {
    const KeyFrequencies keys = keyFrequencies(scale, map);
    for (int key = 0; key < kKeyCount; ++key) {
      const double hz = keys[static_cast<size_t>(key)];
      if (hz != 0 && !(hz >= kLowestKeyHz && hz <= kHighestKeyHz)) __builtin_trap();
      if (hz != 0 && (key < map.firstKey || key > map.lastKey)) __builtin_trap();
    }
  }
  return 0;
}
