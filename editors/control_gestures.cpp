#include "editors/control_gestures.h"

#include <algorithm>
#include <cmath>

#include "instrument/registry.h"

namespace ondelith {

int32_t wheelStep(int index, Bounds bounds, bool fine) {
  const Parameter& p = parameter(index);
  if (p.text == TextRule::Choice || p.text == TextRule::Channel) return 1;
  const int32_t step = std::max<int32_t>(p.step, 1);
  if (fine) return step;
  const int32_t hundredth = (bounds.maximum - bounds.minimum) / 100;
  return std::max(step, hundredth / step * step);
}

int32_t SliderDrag::moved(double y, bool fine, Bounds bounds, double span) {
  if (fine != fine_) {  // a new anchor where the pace changes
    value_ = last_;
    y_ = y;
    fine_ = fine;
  }
  const double range = bounds.maximum - bounds.minimum;
  const double pace = span > 0 ? range / span / (fine ? kFineDragDivisor : 1) : 0;
  const double v = value_ + (y_ - y) * pace;
  last_ = static_cast<int32_t>(std::clamp<double>(std::lround(v), bounds.minimum, bounds.maximum));
  return last_;
}

bool DoubleClick::press(int target, uint32_t ms) {
  const bool second = target == target_ && ms - ms_ <= kDoubleClickMs;
  target_ = second ? -1 : target;
  ms_ = ms;
  return second;
}

void ValueEntry::begin(int index, int32_t value) {
  index_ = index;
  text_ = parameterText(index, value);
  fresh_ = true;
}

void ValueEntry::type(uint32_t character, const std::string& utf8) {
  if (!active()) return;
  if (character == 8 || character == 127) {
    fresh_ = false;
    // The last character whole, however many bytes it has.
    size_t n = text_.empty() ? 0 : text_.size() - 1;
    while (n > 0 && (static_cast<unsigned char>(text_[n]) & 0xC0) == 0x80) --n;
    text_.resize(n);
    return;
  }
  if (character < 0x20 || text_.size() > 32) return;
  if (fresh_) text_.clear();
  fresh_ = false;
  text_ += utf8;
}

std::optional<int32_t> ValueEntry::apply() {
  if (!active()) return std::nullopt;
  const int index = index_;
  index_ = -1;
  int32_t value = 0;
  if (!parseParameterText(index, text_, value)) return std::nullopt;
  return value;
}

std::string curvePointReadout(const CurveModel& curve, int point, int32_t wobbleMs) {
  const CurvePoint p = curvePoint(curve, point);
  const double across = curve.width > 0 ? double(p.x) / curve.width : 0;
  const double up = curve.height > 0 ? double(curve.height - p.y) / curve.height : 0;
  return std::to_string(std::lround(across * wobbleMs)) + " ms, " +
         std::to_string(std::lround(std::clamp(up, 0.0, 1.0) * 100)) + " %";
}

}  // namespace ondelith
