#include "engine/engine.h"

namespace ondelith {

Engine::Engine(SampleRate r) : rate(r) {
  voice.previousFrequency.store(100.0, std::memory_order_relaxed);
  for (CurveModel& curve : curves)
    initCurve(curve, kCurveWidth, kCurveHeight, kCurvePointCount, kCurveLayoutMargin);
}

void Engine::applyWobbleDuration() {
  wobble.samples.store(wobbleSamplesFor(params.get(Param::WobbleDuration), rate.hz()),
                       std::memory_order_relaxed);
}

}  // namespace ondelith
