#pragma once
// The instrument's parameters as every host sees them, and the rules that
// read them: ranges, what the voice takes, and texts both ways. The rows
// are in instrument/parameter_rows.h; hosts derive every fact from there.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/midi_message.h"
#include "instrument/parameter_rows.h"

namespace ondelith {

inline constexpr auto& kRegistry = rows::kRows;
constexpr int kParameterCount = static_cast<int>(kRegistry.size());

constexpr const Parameter& parameter(int index) { return kRegistry[static_cast<size_t>(index)]; }

// The row of a symbol, or -1.
constexpr int parameterIndex(std::string_view symbol) {
  for (int i = 0; i < kParameterCount; ++i)
    if (parameter(i).symbol == symbol) return i;
  return -1;
}

namespace registry_detail {
// Not a constant expression when no row matches: a compile error, not -1.
constexpr int rowWhere(auto&& match) {
  for (int i = 0; i < kParameterCount; ++i)
    if (match(parameter(i))) return i;
  throw "no such row";
}
constexpr int rowOf(Param p) {
  return rowWhere([p](const Parameter& r) {
    return r.target == Target::Param && r.targetId == static_cast<int>(p);
  });
}
constexpr int rowOf(NoteSetting s) {
  return rowWhere([s](const Parameter& r) {
    return r.target == Target::Setting && r.targetId == static_cast<int>(s);
  });
}
constexpr int rowOf(Target t) {
  return rowWhere([t](const Parameter& r) { return r.target == t; });
}
}  // namespace registry_detail

// Rows that code names, found in the table rather than numbered by hand.
constexpr int modIndex(int row) { return registry_detail::rowOf(modParam(row)); }
constexpr int coarseIndex(int row) { return registry_detail::rowOf(coarseParam(row)); }
constexpr int fineIndex(int row) { return registry_detail::rowOf(fineParam(row)); }
constexpr int pointIndex(int row) { return registry_detail::rowOf(pointParam(row)); }
constexpr int kVolumeIndex = registry_detail::rowOf(Param::Volume);
constexpr int kDurationIndex = registry_detail::rowOf(Param::WobbleDuration);
constexpr int kDurationRangeIndex = registry_detail::rowOf(Target::RangeSwitch);
constexpr int kAttackIndex = registry_detail::rowOf(Param::Attack);
constexpr int kDecayIndex = registry_detail::rowOf(Param::Decay);
constexpr int kSustainIndex = registry_detail::rowOf(Param::Sustain);
constexpr int kReleaseIndex = registry_detail::rowOf(Param::Release);
constexpr int kCutoffIndex = registry_detail::rowOf(Param::Cutoff);
constexpr int kResonanceIndex = registry_detail::rowOf(Param::Resonance);
constexpr int kChannelIndex = registry_detail::rowOf(Target::Channel);
constexpr int kBendRangeIndex = registry_detail::rowOf(NoteSetting::BendRange);
constexpr int kVelocityIndex = registry_detail::rowOf(NoteSetting::VelocitySensitivity);
constexpr int kOversamplingIndex = registry_detail::rowOf(Param::Oversampling);
constexpr int kA4Index = registry_detail::rowOf(NoteSetting::A4);

// What every row must hold, checked as the table is built: a start within
// its range, a choice row's values filling it, a range switch that exists
// and a patch line no other row takes.
constexpr bool rowsWhole() {
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    if (p.symbol.empty() || parameterIndex(p.symbol) != i) return false;
    if (p.start < p.minimum || p.start > p.maximum) return false;
    if ((p.text == TextRule::Choice) != !p.choices.empty()) return false;
    // A choice's values run from the row's minimum up, one apart.
    for (size_t k = 0; k < p.choices.size(); ++k)
      if (p.choices[k].value != p.minimum + static_cast<int32_t>(k)) return false;
    if (!p.choices.empty() && p.choices.back().value != p.maximum) return false;
    if (!p.rangeBy.empty() && parameterIndex(p.rangeBy) < 0) return false;
    if (p.patchLine < 0 || p.patchLine > 81 || (p.patchLine > 0 && p.owner != Owner::Sound))
      return false;
    for (int k = 0; k < i; ++k)
      if (p.patchLine > 0 && parameter(k).patchLine == p.patchLine) return false;
  }
  return true;
}
static_assert(rowsWhole(), "a row of instrument/parameter_rows.h is not whole");

// The rows the 81 lines hold.
constexpr int kSoundValueCount = [] {
  int n = 0;
  for (const Parameter& p : kRegistry) n += p.patchLine > 0;
  return n;
}();
// Until every reader keys on the rows' fields: a sound's values by position.
static_assert([] {
  for (int i = 0; i < kParameterCount; ++i)
    if ((i < kSoundValueCount) != (parameter(i).patchLine > 0)) return false;
  return true;
}());

// A row the sound owns that the 81 lines do not hold: kept in a patch as a
// keyed line after them.
constexpr bool isSoundSetting(int index) {
  return index >= 0 && index < kParameterCount && parameter(index).owner == Owner::Sound &&
         parameter(index).patchLine == 0;
}

// The range switch that sets a row's range, or -1.
constexpr int rangeSwitchOf(int index) {
  const std::string_view by = parameter(index).rangeBy;
  return by.empty() ? -1 : parameterIndex(by);
}

// Where a value stands among a choice row's choices, or -1. By position,
// not pointer: GCC's undefined-behaviour checks turn a constant pointer's
// comparison with null into something no constant expression may hold.
constexpr int choicePlace(int index, int32_t value) {
  const std::span<const Choice> choices = parameter(index).choices;
  for (size_t k = 0; k < choices.size(); ++k)
    if (choices[k].value == value) return static_cast<int>(k);
  return -1;
}

// The choice of a choice row with a value, or nullptr.
constexpr const Choice* choiceOf(int index, int32_t value) {
  const int k = choicePlace(index, value);
  return k < 0 ? nullptr : &parameter(index).choices[static_cast<size_t>(k)];
}

// A row's range, under the value its range switch stands at (when it has
// one; a switch value that is no choice gives the row's whole range).
constexpr Bounds boundsOf(int index, int32_t switchValue) {
  const Parameter& p = parameter(index);
  const int by = rangeSwitchOf(index);
  const int k = by >= 0 ? choicePlace(by, switchValue) : -1;
  if (k >= 0) return parameter(by).choices[static_cast<size_t>(k)].switched;
  return {p.minimum, p.maximum};
}

// A row's range as it starts: under its switch's start.
constexpr Bounds startBounds(int index) {
  const int by = rangeSwitchOf(index);
  return boundsOf(index, by >= 0 ? parameter(by).start : 0);
}

// The Duration's two ranges, chosen by its range switch.
using DurationBounds = Bounds;
constexpr Bounds durationBounds(int range) { return boundsOf(kDurationIndex, range); }

// A value brought into the row's range (under `switchValue`, for a row
// that has a range switch).
int32_t limitValue(int index, int32_t value, int32_t switchValue = kDurationRangeX10);

// What the voice takes for a value of a row that targets a parameter or a
// setting: the value divided by the row's divisor.
double engineValue(int index, int32_t value);

// The value as the window's spin boxes and the plugin's panel write it:
// "-35", ".05", "x10", "All".
std::string parameterText(int index, int32_t value);

// The value as patches' keyed lines and command lines write it: the
// decimal value, a choice's own token, "all" for every channel.
std::string parameterToken(int index, int32_t value);

// Reads a value of a row from its token or its shown text (hundredths
// also as "0.05"). False, value untouched, for a text that is no value of
// the row or lies outside the row's whole range.
bool parseParameterText(int index, std::string_view text, int32_t& value);

// The value with its unit, for people: "1500 Hz", "10 ms", "0.50", "x10
// (1000 to 10000 ms)".
std::string parameterDisplay(int index, int32_t value);

// What a control shows while the pointer rests on it, in the window and
// the panel alike: "Filter cutoff: 1500 Hz".
std::string parameterToolTip(int index, int32_t value);

// A row's range for people, under its switch's value: "20 to 5000 Hz",
// "x1 or x10", "All or 1 to 16".
std::string rangeText(int index, int32_t switchValue = kDurationRangeX10);

// A row's whole range for people, whatever its switch: "100 to 10000 ms".
std::string wholeRangeText(int index);

// A row's value set by its symbol, as command lines give it: "cutoff=800".
struct ParameterValue {
  int index;
  int32_t value;
};

// Reads "SYMBOL=VALUE", the value as parseParameterText reads it. False on a
// mistake, which `mistake` then says in a few words: `there is no parameter
// "cutof"`, "cutoff takes 20 to 5000 Hz".
bool readParameterValue(std::string_view word, ParameterValue& out, std::string& mistake);

// Every row as --list-parameters prints it, one a line: symbol, range,
// default, name, separated by tabs.
std::string parameterList();

// Empty when a value lies within its row's range under its switch's value;
// else what the row takes: "duration takes 100 to 1000 ms while
// duration_range is x1".
std::string rangeMistake(int index, int32_t value, int32_t switchValue);

// The MIDI channel setting (kEveryChannel, or 1 to 16) as the voice takes it.
constexpr int engineChannel(int channelSetting) {
  return channelSetting >= 1 && channelSetting <= 16 ? channelSetting - 1 : kAllChannels;
}

// The Param of an engine-backed row.
constexpr Param paramOf(int index) { return static_cast<Param>(parameter(index).targetId); }

}  // namespace ondelith
