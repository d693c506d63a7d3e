#include "instrument/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ondelith {

int32_t limitValue(int index, int32_t value, int durationRange) {
  if (index < 0 || index >= kParameterCount) return 0;
  const Parameter& p = parameter(index);
  if (index == kDurationIndex) {
    const DurationBounds b = durationBounds(durationRange);
    return std::clamp(value, b.minimum, b.maximum);
  }
  return std::clamp(value, p.minimum, p.maximum);
}

double engineValue(int index, int32_t value) {
  const Parameter& p = parameter(index);
  return p.divisor == 1 ? value : value / p.divisor;
}

std::string parameterText(int index, int32_t value) {
  switch (parameter(index).text) {
    case TextRule::Hundredths:
      return (value >= 0 && value < 10 ? ".0" : ".") + std::to_string(value);
    case TextRule::RangeSwitch: return value == kDurationRangeX1 ? "x1" : "x10";
    case TextRule::Channel: return value == kEveryChannel ? "All" : std::to_string(value);
    case TextRule::Decimal: break;
  }
  return std::to_string(value);
}

std::string parameterDisplay(int index, int32_t value) {
  const auto hundredths = [](int32_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%s%d.%02d", n < 0 ? "-" : "", std::abs(n) / 100,
                  std::abs(n) % 100);
    return std::string(text);
  };
  const std::string v = std::to_string(value);
  switch (parameter(index).unit) {
    case Unit::Hundredths: return hundredths(value);
    case Unit::Percent: return v + " %";
    case Unit::Multiple: return v + " x pitch";
    case Unit::MultipleFraction: return hundredths(value) + " x pitch";
    case Unit::Milliseconds: return v + " ms";
    case Unit::Hertz: return v + " Hz";
    case Unit::Semitones: return v + " semitones";
    case Unit::Choice:
      return value == kDurationRangeX1 ? "x1 (100 to 1000 ms)" : "x10 (1000 to 10000 ms)";
    case Unit::Channel: return parameterText(index, value);
  }
  return v;
}

}  // namespace ondelith
