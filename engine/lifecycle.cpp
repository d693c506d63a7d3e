#include "engine/lifecycle.h"

#include <limits>

namespace ondelith {

void setUpNote(Engine& e) {
  // The fade starts where the sound was left, also when the release and this
  // key came within one tick and no released tick updated the level.
  e.life.retriggerLevel = e.life.envelopeLevel;
  e.life.gateTicks = -1;
  setUpWobble(e);
  const EngineParams& p = e.params;
  e.envelope.setUp(p.get(Param::Attack), p.get(Param::Decay), p.get(Param::Sustain),
                   p.get(Param::Release), e.voice.noteLevel.load(std::memory_order_relaxed));
}

}  // namespace ondelith
