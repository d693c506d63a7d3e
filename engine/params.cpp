#include "engine/params.h"

#include <algorithm>
#include <cmath>

#include "engine/numeric.h"

namespace ondelith {

double limitParam(Param id, double value) {
  const ParamSpec& spec = paramSpec(id);
  if (std::isnan(value)) return spec.start;
  value = std::clamp(value, spec.minimum, spec.maximum);
  return spec.integer ? roundEven(value) : value;
}

void EngineParams::reset() {
  for (const ParamSpec& spec : kParamSpecs)
    values_[static_cast<size_t>(spec.id)].store(spec.start, std::memory_order_relaxed);
}

double EngineParams::set(Param id, double value) {
  const double v = limitParam(id, value);
  values_[static_cast<size_t>(id)].store(v, std::memory_order_relaxed);
  return v;
}

}  // namespace ondelith
