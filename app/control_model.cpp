#include "app/control_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace ondelith {

bool hasRange(int id) {
  const ControlInfo* control = findControl(id);
  return control && (control->kind == ControlKind::Slider || control->kind == ControlKind::SpinBox);
}

void initControls(ControlModel& model) {
  for (auto& r : model.range) r = {};
  for (auto& t : model.text) t.clear();
  for (auto& v : model.mirror.value) v.store(0, std::memory_order_relaxed);
  for (const ControlInfo& s : kControlTable) {
    model.range[static_cast<size_t>(s.id)] = {s.minimum, s.maximum};
    model.mirror.value[static_cast<size_t>(s.id)].store(s.start, std::memory_order_relaxed);
    model.text[static_cast<size_t>(s.id)] = std::string(s.text);
  }
}

std::string spinText(int id, int32_t value) {
  const bool fine = id >= kSpinFine0 && id <= spinFineId(kRowY2) && (id - kSpinFine0) % 3 == 0;
  if (!fine) return std::to_string(value);
  return (value >= 0 && value < 10 ? ".0" : ".") + std::to_string(value);
}

std::string controlToolTip(int id, int32_t value) {
  const std::string v = std::to_string(value);
  const auto hundredths = [](int32_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%s%d.%02d", n < 0 ? "-" : "", std::abs(n) / 100,
                  std::abs(n) % 100);
    return std::string(text);
  };
  if (id == kSpinDurationRange)
    return value == kDurationRangeX1 ? "Duration range: x1 (100 to 1000 ms)"
                                     : "Duration range: x10 (1000 to 10000 ms)";
  const ControlParam* c = findControlParam(id);
  if (!c) return {};
  if (parameter(c->index).target != Target::Param) return {};
  const ParamInfo& info = paramInfo(paramOf(c->index));
  const std::string name(info.name);
  if (id >= kSliderX1 && id <= kSliderY2) return name + ": " + hundredths(value);
  if (id >= kSpinMod0 && id <= spinFineId(kRowY2)) {
    const int row = (id - kSpinMod0) / 3;
    const std::string point(paramInfo(pointParam(row)).name);
    switch ((id - kSpinMod0) % 3) {
      case 0: return point + " Mod: " + v + " %";
      case 1: return point + " Coarse: " + v + " x pitch";
      default: return point + " Fine: " + hundredths(value) + " x pitch";
    }
  }
  switch (info.unit) {
    case ParamUnit::Seconds: return name + ": " + v + " ms";  // the sliders count milliseconds
    case ParamUnit::Level:
    case ParamUnit::Percent: return name + ": " + v + " %";
    case ParamUnit::Milliseconds: return name + ": " + v + " ms";
    case ParamUnit::Hertz: return name + ": " + v + " Hz";
    default: return name + ": " + v;
  }
}

void renderSpinText(ControlModel& model, int id) {
  if (!findControl(id)) return;
  model.text[static_cast<size_t>(id)] = spinText(id, controlValue(model, id));
}

int32_t setControlValue(ControlModel& model, int id, int32_t value) {
  if (!findControl(id)) return 0;
  if (hasRange(id)) {
    const ControlRange& r = model.range[static_cast<size_t>(id)];
    value = std::clamp(value, r.minimum, std::max(r.minimum, r.maximum));
  }
  model.mirror.value[static_cast<size_t>(id)].store(value, std::memory_order_relaxed);
  return value;
}

int32_t controlValue(const ControlModel& model, int id) { return readControl(model.mirror, id); }

void setControlRange(ControlModel& model, int id, int32_t minimum, int32_t maximum) {
  if (!hasRange(id)) return;
  model.range[static_cast<size_t>(id)] = {minimum, maximum};
  setControlValue(model, id, controlValue(model, id));
}

}  // namespace ondelith
