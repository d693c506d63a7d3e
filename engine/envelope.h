#pragma once
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// One frame of the note lifecycle and the linear ADSR, for sample count n.
void engineTick(Engine& engine, int32_t n);

// The same tick with the gate and the set-up flag as the caller read them,
// so a caller can tell beforehand whether this tick sets a note up.
void engineTickSeen(Engine& engine, int32_t n, int32_t gate, int32_t noteSetUp);

}  // namespace ondelith
