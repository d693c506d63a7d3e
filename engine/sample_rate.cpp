#include "engine/sample_rate.h"

#include <cstdio>

#include "engine/numeric.h"

namespace ondelith {

std::optional<SampleRate> SampleRate::of(double hz, std::string* error) {
  if (hz >= kMinSampleRate && hz <= kMaxSampleRate) return SampleRate(hz);
  if (error) {
    char text[160];
    std::snprintf(text, sizeof text, "sample rate %g Hz is not supported (%g to %g Hz)", hz,
                  kMinSampleRate, kMaxSampleRate);
    *error = text;
  }
  return std::nullopt;
}

int32_t SampleRate::scaledCount(int32_t samplesAt44100) const {
  if (hz_ == kDefaultSampleRate) return samplesAt44100;
  return roundEven(static_cast<double>(samplesAt44100) * hz_ / kDefaultSampleRate);
}

}  // namespace ondelith
