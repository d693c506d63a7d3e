#pragma once
// The rate an engine runs at. The voice's times and pitches were first
// tuned at 44100 Hz; every count of samples that was written for that rate
// scales from it, so other rates keep the same times and pitches.

#include <cstdint>
#include <optional>
#include <string>

namespace ondelith {

constexpr double kDefaultSampleRate = 44100.0;
constexpr double kMinSampleRate = 22050.0;
constexpr double kMaxSampleRate = 192000.0;

class SampleRate {
 public:
  constexpr SampleRate() = default;
  // A rate from kMinSampleRate to kMaxSampleRate in Hz; anything else (or
  // not a number) is refused with a sentence that says why.
  static std::optional<SampleRate> of(double hz, std::string* error = nullptr);

  constexpr double hz() const { return hz_; }
  // This rate `factor` times over: an oversampled voice's, which may pass
  // kMaxSampleRate.
  constexpr SampleRate times(int factor) const { return SampleRate(hz_ * factor); }
  // A count of samples at 44100 Hz, as the same time at this rate.
  int32_t scaledCount(int32_t samplesAt44100) const;

 private:
  constexpr explicit SampleRate(double hz) : hz_(hz) {}
  double hz_ = kDefaultSampleRate;
};

}  // namespace ondelith
