#include "instrument/registry.h"

#include <algorithm>

namespace ondelith {

int32_t limitValue(int index, int32_t value, int32_t switchValue) {
  if (index < 0 || index >= kParameterCount) return 0;
  const Bounds b = boundsOf(index, switchValue);
  return std::clamp(value, b.minimum, b.maximum);
}

double engineValue(int index, int32_t value) {
  const Parameter& p = parameter(index);
  return p.divisor == 1 ? value : value / p.divisor;
}

}  // namespace ondelith
