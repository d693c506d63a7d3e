#include "instrument/settings_page.h"

#include <algorithm>

#include "instrument/registry.h"

namespace ondelith {

std::vector<int> soundSettingEntries() {
  std::vector<int> entries;
  for (int i = 0; i < kParameterCount; ++i)
    if (isSoundSetting(i)) entries.push_back(i);
  return entries;
}

std::vector<int> playerSettingEntries() {
  std::vector<int> entries;
  for (int i = 0; i < kParameterCount; ++i)
    if (parameter(i).owner == Owner::Player) entries.push_back(i);
  return entries;
}

std::vector<SettingsField> settingsPage(std::span<const int> entries) {
  std::vector<SettingsField> page;
  for (int index : entries) {
    if (index < 0 || index >= kParameterCount) continue;
    const Parameter& p = parameter(index);
    SettingsField f;
    f.index = index;
    f.label = std::string(p.name);
    f.tip = std::string(p.help);
    f.choice = p.text == TextRule::Choice || p.text == TextRule::Channel;
    f.minimum = p.minimum;
    f.maximum = p.maximum;
    f.step = std::max(p.step, int32_t{1});
    if (f.choice) {
      for (int32_t v = p.minimum; v <= p.maximum; ++v) f.choices.push_back(parameterText(index, v));
    } else {
      f.suffix = std::string(unitInfo(p.unit).suffix);
    }
    page.push_back(std::move(f));
  }
  return page;
}

int32_t steppedValue(const SettingsField& field, int32_t value, int steps) {
  const int64_t moved = int64_t{value} + int64_t{steps} * (field.choice ? 1 : field.step);
  return static_cast<int32_t>(std::clamp<int64_t>(moved, field.minimum, field.maximum));
}

}  // namespace ondelith
