#pragma once
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// One frame of the note lifecycle and the linear ADSR, for sample count n.
void engineTick(Engine& engine, int32_t n);

}  // namespace ondelith
