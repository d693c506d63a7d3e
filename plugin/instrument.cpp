#include "plugin/instrument.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "engine/midi_message.h"
#include "engine/numeric.h"
#include "platform/files.h"

namespace ondelith::lv2 {

namespace {

// A port's value as its control takes it: within the port's range, rounded
// to the whole steps the window's controls take.
int32_t portValue(const ControlPort& port, float value) {
  return roundEven(std::clamp<double>(value, port.minimum, port.maximum));
}

constexpr size_t kDurationPort = kDurationIndex;
constexpr size_t kDurationRangePort = kDurationRangeIndex;

}  // namespace

void PatchMailbox::publish(const PatchValues& values) {
  const uint32_t s = sequence_.load(std::memory_order_relaxed);
  sequence_.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (size_t i = 0; i < values.size(); ++i) values_[i].store(values[i], std::memory_order_relaxed);
  sequence_.store(s + 2, std::memory_order_release);
}

PatchValues PatchMailbox::read() const {
  PatchValues out{};
  for (;;) {
    const uint32_t before = sequence_.load(std::memory_order_acquire);
    if (!(before & 1u)) {
      for (size_t i = 0; i < out.size(); ++i) out[i] = values_[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (sequence_.load(std::memory_order_relaxed) == before) return out;
    }
    std::this_thread::yield();
  }
}

Instrument::Instrument(SampleRate rate)
    : engine_(std::make_unique<Engine>(rate)), sound_(startSound()) {
  for (size_t i = 0; i < kControlPorts.size(); ++i)
    seen_[i] = static_cast<float>(kControlPorts[i].start);
  applySoundNow(*engine_, sound_);
  publish();
}

void Instrument::publish() { mailbox_.publish(capturePatch(sound_)); }

void Instrument::takePorts(const ControlPortValues& ports) {
  if (adoptPorts_) {
    adoptPorts_ = false;
    for (size_t i = 0; i < ports.size(); ++i)
      if (ports[i] && !std::isnan(*ports[i])) seen_[i] = *ports[i];
    return;
  }
  bool changed = false;
  bool durationChanged = false;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (!ports[i]) continue;
    const float v = *ports[i];
    if (std::isnan(v) || v == seen_[i]) continue;
    seen_[i] = v;
    changed = true;
    if (i == kDurationPort || i == kDurationRangePort) {
      durationChanged = true;
      continue;
    }
    const ControlPort& port = kControlPorts[i];
    const int32_t kept = setSoundValue(sound_, port.index, portValue(port, v));
    engine_->apply(paramEvent(0, paramOf(port.index), engineValue(port.index, kept)));
  }
  if (durationChanged) {
    // The Duration within the range chosen, whichever of the two moved.
    setDurationRange(sound_, portValue(kControlPorts[kDurationRangePort], seen_[kDurationRangePort]),
                     portValue(kControlPorts[kDurationPort], seen_[kDurationPort]));
    sound_.wobbleDurationMs = sound_.values[kDurationIndex];
    engine_->apply(paramEvent(0, Param::WobbleDuration, sound_.wobbleDurationMs));
  }
  if (changed) publish();
}

void Instrument::playMidi(const uint8_t* bytes, uint32_t size) {
  if (size < 3) return;  // no note or controller message is shorter
  const uint32_t word = bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16);
  // Also All Notes Off and All Sound Off, which a host sends when its transport stops.
  engine_->apply(midiEvent(0, word));
}

void Instrument::render(float* out, uint32_t frames) {
  if (frames == 0) return;
  engine_->render(out, frames);
  played_ = true;
}

void Instrument::applyPatch(const PatchValues& values) {
  ondelith::applyPatch(sound_, values);
  applySoundNow(*engine_, sound_);
  publish();
}

void Instrument::resetVoice() {
  if (!played_) return;
  engine_ = std::make_unique<Engine>(engine_->rate);
  applySoundNow(*engine_, sound_);
  played_ = false;
}

bool readPatchText(const std::string& path, PatchValues& values, std::string& reason) {
  InputFile file;
  if (!file.open(path, &reason)) return false;
  std::string text;
  char piece[1024];
  for (;;) {
    size_t got = 0;
    if (!file.read(piece, sizeof piece, got, &reason)) return false;
    if (got == 0) break;
    text.append(piece, got);
    if (text.size() > kMaxPatchTextBytes) break;  // too long for a patch: no need to read on
  }
  if (!isPatchText(text)) {
    reason = "not an Ondelith patch (81 lines of whole numbers)";
    return false;
  }
  values = parsePatch(text);
  return true;
}

}  // namespace ondelith::lv2
