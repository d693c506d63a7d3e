#include "engine/engine.h"

#include <algorithm>

#include "engine/midi_message.h"
#include "engine/oversampling.h"
#include "engine/program_change.h"

namespace ondelith {

Engine::Engine(SampleRate r) : Engine(r, 1) {
  oversampled_ = std::make_unique<OversampledVoice>(r);
}

Engine::Engine(SampleRate outputRate, int factor)
    : rate(outputRate.times(factor)), outputRate(outputRate), periodFactor(factor) {
  voice.previousFrequency.store(100.0, std::memory_order_relaxed);
  curves.fill(startCurvePoints());
}

Engine::~Engine() = default;

void Engine::noteChange(GateChange change) {
  if (change == GateChange::Opened) noteStatus.store(NoteStatus::On, std::memory_order_relaxed);
  if (change == GateChange::Closed) noteStatus.store(NoteStatus::Off, std::memory_order_relaxed);
}

void Engine::applyMidi(uint32_t word, bool anyChannel) {
  const int channel = anyChannel ? kAllChannels : midiChannel;
  noteChange(playMidiMessage(notes, word, channel));
  if (const int program = programChangeOf(word, channel); program >= 0) {
    uint32_t count = ((programRequest.load(std::memory_order_relaxed) >> 8) + 1) & 0xFFFFFF;
    if (count == 0) count = 1;  // never 0, which means none
    programRequest.store(count << 8 | static_cast<uint32_t>(program), std::memory_order_relaxed);
  }
}

void Engine::applyCurve(int row, const CurvePoints& curve) {
  if (row < 0 || row >= kWobbleRows || curve.count < 0 || curve.count > kCurvePointCount) return;
  curves[static_cast<size_t>(row)] = curve;
  ++curveVersions[static_cast<size_t>(row)];
}

void Engine::applyKeys(const EngineEvent& e) {
  if (e.a < 0 || e.a > kKeyCount - kKeysAnEvent || e.a % kKeysAnEvent != 0) return;
  std::copy(e.keys.begin(), e.keys.end(), stagedKeys_.begin() + e.a);
  if (e.a == kKeyCount - kKeysAnEvent) notes.setKeys(stagedKeys_);
}

void Engine::apply(const EngineEvent& e) {
  renderCarry.discard();
  switch (e.kind) {
    case EventKind::Midi: applyMidi(static_cast<uint32_t>(e.a), e.b != 0); break;
    case EventKind::DeviceClosed:
      // A device that goes away can no longer lift its pedal or centre its wheel.
      noteChange(notes.releaseAll());
      notes.resetControllers();
      break;
    case EventKind::Param:
      if (e.a >= 0 && e.a < kParamCount) params.set(static_cast<Param>(e.a), e.value);
      break;
    case EventKind::Setting:
      if (e.a >= 0 && e.a < kNoteSettingCount)
        notes.setSetting(static_cast<NoteSetting>(e.a), e.value);
      break;
    case EventKind::Channel: midiChannel = e.a >= 0 && e.a < 16 ? e.a : kAllChannels; break;
    case EventKind::Curve: applyCurve(e.a, e.curve); break;
    case EventKind::WobbleDurationNow:
      wobble.samples = wobbleSamplesFor(params.get(Param::WobbleDuration), rate.hz());
      break;
    case EventKind::Keys: applyKeys(e); break;
  }
  if (oversampled_) oversampled_->follow(*this, e);
}

void Engine::renderVoice(float* out, int64_t frames, bool carryOn) {
  if (oversampled_ && oversampled_->active())
    oversampled_->render(*this, out, frames, carryOn);
  else
    renderFrames(*this, out, frames, carryOn);
}

void Engine::render(float* out, int64_t frames) {
  const int64_t end = frame_ + std::max<int64_t>(frames, 0);
  for (;;) {
    while (hasNext_ || events_.pop(next_)) {
      hasNext_ = true;
      if (next_.frame > frame_) break;
      apply(next_);
      hasNext_ = false;
    }
    const int64_t until = hasNext_ ? std::min(next_.frame, end) : end;
    if (until > frame_) {
      // Frames carried ahead are wasted if an event lands at or just after the end.
      const bool carryOn = until == end && !(hasNext_ && next_.frame < end + 2 * kRunFrames);
      renderVoice(out, until - frame_, carryOn);
      out += until - frame_;
      frame_ = until;
    }
    if (frame_ >= end) return;
  }
}

}  // namespace ondelith
