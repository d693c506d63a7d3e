#include "engine/filter.h"

namespace ondelith {

void LadderFilter::reset() {
  LadderFilter fresh;
  fresh.rate_ = rate_;
  fresh.cutoff_ = cutoff_;
  fresh.resonance_ = resonance_;
  *this = fresh;
}

}  // namespace ondelith
