#include "engine/oversampling.h"

#include <algorithm>
#include <new>

#include "engine/render.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// What the note entry left for the voice, as the outer engine's tick would
// read it now: the gate last, so the voice sees it with its serial.
void copyVoiceState(const VoiceState& from, VoiceState& to) {
  const int32_t gate = from.gate.load(std::memory_order_acquire);
  to.noteFrequency.store(from.noteFrequency.load(kRelaxed), kRelaxed);
  to.previousFrequency.store(from.previousFrequency.load(kRelaxed), kRelaxed);
  for (size_t row = 0; row < to.wobbleRate.size(); ++row)
    to.wobbleRate[row].store(from.wobbleRate[row].load(kRelaxed), kRelaxed);
  to.heldKeys.store(from.heldKeys.load(kRelaxed), kRelaxed);
  to.noteSerial.store(from.noteSerial.load(kRelaxed), kRelaxed);
  to.noteLevel.store(from.noteLevel.load(kRelaxed), kRelaxed);
  to.gate.store(gate, kRelaxed);
}

// The outer engine's own voice as made, the notes kept: a note that sounds
// is set up again on its next frame.
void restartVoice(Engine& e) {
  e.life.restore(NoteCourse{});
  e.oscillator.restart();
  e.filter.reset();
  e.sampleCounter.store(0, kRelaxed);
  e.renderCarry.discard();
}

}  // namespace

int oversamplingDelayFrames(double setting) {
  return Decimator::delayFrames(oversamplingFactor(setting));
}

OversampledVoice::OversampledVoice(SampleRate outputRate) : outputRate_(outputRate) {}

OversampledVoice::~OversampledVoice() { endInner(); }

void OversampledVoice::endInner() {
  if (made_) inner().~Engine();
  made_ = false;
}

void OversampledVoice::switchTo(Engine& outer, int factor) {
  endInner();
  factor_ = factor;
  decimator_.setFactor(factor);
  if (factor == 1) {
    restartVoice(outer);
    return;
  }
  // Placed, not allocated: this runs on the audio thread.
  Engine* v = new (storage_.data()) Engine(outputRate_, factor);
  made_ = true;
  for (int p = 0; p < kParamCount; ++p)
    v->params.set(static_cast<Param>(p), outer.params.get(static_cast<Param>(p)));
  v->curves = outer.curves;
  v->curveVersions = outer.curveVersions;
  v->wobble.samples = wobbleSamplesFor(v->params.get(Param::WobbleDuration), v->rate.hz());
}

void OversampledVoice::follow(Engine& outer, const EngineEvent& e) {
  const int factor = oversamplingFactor(outer.params.get(Param::Oversampling));
  if (factor != factor_) {
    switchTo(outer, factor);
    return;
  }
  const bool voiceEvent = e.kind == EventKind::Param || e.kind == EventKind::Curve ||
                          e.kind == EventKind::WobbleDurationNow;
  if (made_ && voiceEvent) inner().apply(e);
}

void OversampledVoice::render(Engine& outer, float* out, int64_t frames, bool carryOn) {
  Engine& v = inner();
  copyVoiceState(outer.voice, v.voice);
  while (frames > 0) {
    const int64_t n = std::min(frames, kScratchFrames);
    renderFrames(v, scratch_.data(), n * factor_, carryOn || n < frames);
    decimator_.process(scratch_.data(), out, n);
    out += n;
    frames -= n;
  }
}

}  // namespace ondelith
