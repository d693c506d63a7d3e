#include "engine/params.h"

#include <algorithm>
#include <cmath>

#include "engine/numeric.h"

namespace ondelith {

double limitParam(Param id, double value) {
  const ParamInfo& info = paramInfo(id);
  if (std::isnan(value)) return info.start;
  value = std::clamp(value, info.minimum, info.maximum);
  return info.integer ? roundEven(value) : value;
}

void EngineParams::reset() {
  for (const ParamInfo& info : kParamTable) values_[static_cast<size_t>(info.id)] = info.start;
}

double EngineParams::set(Param id, double value) {
  const double v = limitParam(id, value);
  values_[static_cast<size_t>(id)] = v;
  return v;
}

}  // namespace ondelith
