#include "engine/filter.h"

namespace ondelith {

double filterProcess(Engine& e, float in) {
  return ladderFilterStep(e.filter, in, e.params.filterCutoff.load(std::memory_order_relaxed),
                          e.params.filterResonance.load(std::memory_order_relaxed));
}

}  // namespace ondelith
