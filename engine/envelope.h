#pragma once
// The linear ADSR: a rise over the attack, a fall to the sustain level over
// the decay, the sustain level while held, a fall to 0 over the release.
// Times are taken once per note and counted in samples at the engine's rate.

#include <cstdint>

#include "engine/sample_rate.h"

namespace ondelith {

class Envelope {
 public:
  explicit Envelope(SampleRate rate = {}) : rate_(rate.hz()) {}

  // Attack, decay and release in seconds (0.001 and up), sustain as a level
  // 0..1; the whole envelope scaled by the note's level (its velocity's).
  void setUp(double attackSeconds, double decaySeconds, double sustainLevel, double releaseSeconds,
             double noteLevel = 1.0);

  // The level n samples after the attack began, while the key is held. At
  // level 1 the product is exact: full-level notes keep their bits.
  double heldLevel(int32_t n) const { return noteLevel_ * unscaledLevel(n); }
  // The level at sample n of a release that began at sample `from` at `startLevel`.
  double releaseLevel(double startLevel, int32_t from, int32_t n) const {
    const double remaining = releaseSamples_ + static_cast<double>(from) - static_cast<double>(n);
    // No release length yet (before the first note) means silence, not 0/0.
    if (remaining < 0 || !(releaseSamples_ > 0)) return 0;
    return startLevel * remaining / releaseSamples_;
  }

  double attackSamples() const { return attackSamples_; }
  double decaySamples() const { return decaySamples_; }
  double sustain() const { return sustain_; }
  double releaseSamples() const { return releaseSamples_; }
  double noteLevel() const { return noteLevel_; }

 private:
  double unscaledLevel(int32_t n) const {
    if (n <= attackEnd_) return attackSamples_ > 0 ? n / attackSamples_ : 1.0;
    if (n <= decayEnd_)
      return sustain_ + (1.0 - sustain_) * (attackSamples_ + decaySamples_ - n) / decaySamples_;
    return sustain_;
  }

  double rate_;
  // Lengths in samples, not rounded; the turns compare with their nearest integers.
  double attackSamples_ = 0, decaySamples_ = 0, sustain_ = 0, releaseSamples_ = 0;
  double noteLevel_ = 1.0;
  int32_t attackEnd_ = 0, decayEnd_ = 0;
};

}  // namespace ondelith
