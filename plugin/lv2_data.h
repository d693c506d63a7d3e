#pragma once
// What the LV2 bundle's data says beside what the framework writes: the unit
// renders hosts format a port's float with, and the presets' labels.

#include <cstdio>
#include <string>

#include "instrument/registry.h"
#include "plugin/plugin_core.h"

namespace ondelith::plugin {

// Every value is whole, so a host's float is shown without decimals.
inline std::string lv2UnitRender(int index) {
  return std::string("%.0f ").append(unitInfo(parameter(index).unit).symbol);
}

// "025 Falling Sweep": the bank's number first, so hosts that sort by label list the
// sounds in the bank's order (the start-up sound, 000, ahead of them).
inline std::string lv2PresetLabel(const Program& program) {
  char number[8];
  std::snprintf(number, sizeof number, "%03d ", program.number);
  return std::string(number) + program.name;
}

}  // namespace ondelith::plugin
