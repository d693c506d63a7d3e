#pragma once
// The plugin's ports and names: one atom input for MIDI and patch messages,
// one mono audio output, and one control input for each value a sound
// holds, in the registry's order and units (A, D and R in ms, S in percent),
// so that a host's automation and a patch file agree. The plugin and its
// data files are both made from here.

#include <array>
#include <cstdint>
#include <string_view>

#include "instrument/registry.h"

namespace ondelith::lv2 {

constexpr std::string_view kPluginUri = "urn:ondelith:lv2";
constexpr std::string_view kPatchFileUri = "urn:ondelith:lv2#patch-file";  // a path property
constexpr std::string_view kPatchStateUri = "urn:ondelith:lv2#patch";      // the saved .vx text
constexpr std::string_view kHundredthsUri = "urn:ondelith:lv2#hundredths";
constexpr std::string_view kBundleName = "ondelith.lv2";
constexpr std::string_view kBinaryName = "ondelith.so";

constexpr uint32_t kMidiInPort = 0;
constexpr uint32_t kAudioOutPort = 1;
constexpr uint32_t kFirstControlPort = 2;
constexpr uint32_t kControlPortCount = kSoundValueCount;
constexpr uint32_t kPortCount = kFirstControlPort + kControlPortCount;

enum class PortUnit : uint8_t { None, Hundredths, Coefficient, Percent, Milliseconds, Hertz };

struct ScalePoint {
  std::string_view label;
  int32_t value;
};

struct ControlPort {
  int index;  // in the registry
  std::string_view symbol;
  std::string_view name;
  int32_t minimum, maximum, start;  // every window control takes whole values
  PortUnit unit;
  std::array<ScalePoint, 2> choices;  // an enumeration when the labels are set
  bool enumeration() const { return !choices[0].label.empty(); }
};

// A registry unit as the plugin names it.
constexpr PortUnit portUnit(Unit unit) {
  switch (unit) {
    case Unit::Hundredths: return PortUnit::Hundredths;
    case Unit::Percent: return PortUnit::Percent;
    case Unit::Multiple: return PortUnit::Coefficient;
    case Unit::MultipleFraction: return PortUnit::Hundredths;
    case Unit::Milliseconds: return PortUnit::Milliseconds;
    case Unit::Hertz: return PortUnit::Hertz;
    default: return PortUnit::None;
  }
}

// The Duration's port spans both of its ranges; the range switch chooses within.
constexpr ControlPort controlPort(int index) {
  const Parameter& p = parameter(index);
  ControlPort port{index, p.symbol, p.name, p.minimum, p.maximum, p.start, portUnit(p.unit), {}};
  if (p.text == TextRule::RangeSwitch)
    port.choices = {{{"x1", kDurationRangeX1}, {"x10", kDurationRangeX10}}};
  return port;
}

constexpr std::array<ControlPort, kControlPortCount> makeControlPorts() {
  std::array<ControlPort, kControlPortCount> ports{};
  for (size_t i = 0; i < ports.size(); ++i) ports[i] = controlPort(static_cast<int>(i));
  return ports;
}

// Port kFirstControlPort + i is kControlPorts[i].
inline constexpr std::array<ControlPort, kControlPortCount> kControlPorts = makeControlPorts();

}  // namespace ondelith::lv2
