#pragma once
// The voice at a multiple of the output rate: the oscillator, the wobble and
// the filter with its clipper make harmonics past the output's Nyquist
// frequency, which would fold back as inharmonic tones; run faster and
// decimated, they are filtered away first. The oversampled voice is an
// engine of its own at the higher rate. The outer engine keeps the notes
// (its note entry plays the MIDI) and hands it the voice state before each
// run, the parameters and curves as they change.

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/decimator.h"
#include "engine/engine.h"

namespace ondelith {

// Frames by which the output lags the voice at an Oversampling setting:
// the decimator's delay, 0 at 1x. A renderer starts that much later; a
// plugin reports it as latency.
int oversamplingDelayFrames(double setting);

class OversampledVoice {
 public:
  explicit OversampledVoice(SampleRate outputRate);
  ~OversampledVoice();
  OversampledVoice(const OversampledVoice&) = delete;
  OversampledVoice& operator=(const OversampledVoice&) = delete;

  bool active() const { return factor_ > 1; }
  // After every event the outer engine applied: a changed factor makes a
  // fresh voice at the new rate (a sounding note starts over), otherwise
  // parameters and curves go on to the running one.
  void follow(Engine& outer, const EngineEvent& e);
  // `frames` output frames from the oversampled voice, decimated.
  void render(Engine& outer, float* out, int64_t frames, bool carryOn);

 private:
  static constexpr int64_t kScratchFrames = 256;
  Engine& inner() { return *reinterpret_cast<Engine*>(storage_.data()); }
  void switchTo(Engine& outer, int factor);
  void endInner();

  const SampleRate outputRate_;
  int factor_ = 1;
  bool made_ = false;
  Decimator decimator_;
  alignas(Engine) std::array<std::byte, sizeof(Engine)> storage_;
  alignas(32) std::array<float, kScratchFrames * kMaxOversampling> scratch_{};
};

}  // namespace ondelith
