#include "engine/params.h"

namespace ondelith {

void EngineParams::reset() {
  for (const ParamInfo& info : kParamTable) values_[static_cast<size_t>(info.id)] = info.start;
}

double EngineParams::set(Param id, double value) {
  const double v = limitParam(id, value);
  values_[static_cast<size_t>(id)] = v;
  return v;
}

}  // namespace ondelith
