#pragma once
// The plugin's ports and names: one atom input for MIDI and patch messages,
// one mono audio output, and one control input for each control a patch
// holds, in the patch's order and in the window's units (A, D and R in ms,
// S in percent), so that a host's automation and a patch file agree. Ranges,
// starts and units come from the window's control table and the engine's
// parameter table; the plugin and its data files are both made from here.

#include <array>
#include <cstdint>
#include <string_view>

#include "app/controls.h"
#include "patches/patch_sound.h"

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
constexpr uint32_t kControlPortCount = kPatchControlIds.size();
constexpr uint32_t kPortCount = kFirstControlPort + kControlPortCount;

enum class PortUnit : uint8_t { None, Hundredths, Coefficient, Percent, Milliseconds, Hertz };

struct ScalePoint {
  std::string_view label;
  int32_t value;
};

struct ControlPort {
  int controlId;
  std::string_view symbol;
  std::string_view name;
  int32_t minimum, maximum, start;  // every window control takes whole values
  PortUnit unit;
  std::array<ScalePoint, 2> choices;  // an enumeration when the labels are set
  bool enumeration() const { return !choices[0].label.empty(); }
};

// A parameter's unit as the window's control counts it.
constexpr PortUnit windowUnit(const ControlParam& c) {
  const ParamUnit unit = paramInfo(c.param).unit;
  if (unit == ParamUnit::Seconds && c.divisor == 1000) return PortUnit::Milliseconds;
  if (unit == ParamUnit::Level && c.divisor == 100) return PortUnit::Percent;
  if (c.divisor != 1) throw "a control whose unit the plugin cannot name";
  switch (unit) {
    case ParamUnit::Hundredths: return PortUnit::Hundredths;
    case ParamUnit::Percent: return PortUnit::Percent;
    case ParamUnit::Multiple: return PortUnit::Coefficient;
    case ParamUnit::Milliseconds: return PortUnit::Milliseconds;
    case ParamUnit::Hertz: return PortUnit::Hertz;
    default: throw "a parameter unit the plugin cannot name";
  }
}

constexpr ControlPort controlPort(int id) {
  const ControlInfo& info = *findControl(id);
  if (id == kSpinDurationRange)
    return {id,
            "duration_range",
            "Duration range",
            info.minimum,
            info.maximum,
            info.start,
            PortUnit::None,
            {{{"x1", kDurationRangeX1}, {"x10", kDurationRangeX10}}}};
  const ControlParam& c = *findControlParam(id);
  const ParamInfo& p = paramInfo(c.param);
  // The Duration slider's range follows the range switch: the port spans both.
  if (id == kSliderDuration)
    return {id,
            p.symbol,
            p.name,
            durationBounds(kDurationRangeX1).minimum,
            durationBounds(kDurationRangeX10).maximum,
            info.start,
            windowUnit(c),
            {}};
  return {id, p.symbol, p.name, info.minimum, info.maximum, info.start, windowUnit(c), {}};
}

constexpr std::array<ControlPort, kControlPortCount> makeControlPorts() {
  std::array<ControlPort, kControlPortCount> ports{};
  for (size_t i = 0; i < ports.size(); ++i) ports[i] = controlPort(kPatchControlIds[i]);
  return ports;
}

// Port kFirstControlPort + i is kControlPorts[i].
inline constexpr std::array<ControlPort, kControlPortCount> kControlPorts = makeControlPorts();

}  // namespace ondelith::lv2
