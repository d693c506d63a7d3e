#include "engine/engine_state.h"

namespace ondelith {

void initEngine(Engine& e) {
  constexpr auto r = std::memory_order_relaxed;
  e.params.pointX1.store(0.5f, r);
  e.params.pointY1.store(0.06f, r);
  e.params.pointX2.store(0.75f, r);
  e.params.pointY2.store(0.95f, r);
  e.params.wobbleDuration.store(2000.0f, r);
  e.params.filterCutoff.store(1500.0, r);
  e.params.filterResonance.store(50, r);
  e.params.volume.store(400.0f, r);
  e.voice.previousFrequency.store(100.0, r);
  e.voice.noteSetUp.store(0, r);
  e.voice.attackBegun.store(0, r);
  e.voice.gate.store(0, r);
  e.state.gateTicks = 0;
  e.state.retriggerLevel = 0;
}

}  // namespace ondelith
