#include "app/control_model.h"

#include <algorithm>

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
    model.text[static_cast<size_t>(s.id)] =
        s.kind == ControlKind::SpinBox ? spinText(s.id, s.start) : std::string(s.text);
  }
}

std::string spinText(int id, int32_t value) {
  const int index = entryOf(id);
  return index >= 0 ? parameterText(index, value) : std::to_string(value);
}

bool readSpinText(int id, const std::string& text, int& value) {
  const int index = entryOf(id);
  int32_t read = 0;
  if (index < 0 || !parseParameterText(index, text, read)) return false;
  value = read;
  return true;
}

std::string controlToolTip(int id, int32_t value) {
  const int index = entryOf(id);
  return index >= 0 ? parameterToolTip(index, value) : std::string();
}

void renderSpinText(ControlModel& model, int id) {
  const ControlInfo* control = findControl(id);
  if (!control || control->kind != ControlKind::SpinBox) return;
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
