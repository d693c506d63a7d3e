#pragma once
// The instrument's parameters as every host sees them: each sound control
// and each player setting with a stable symbol, a name for people, its unit,
// range, default, how its value is shown, what it sets in the voice, the
// patch line it is kept on and whether a host may automate it. Entries are
// only ever appended: plugin formats key parameters on position and symbol.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/midi_message.h"
#include "engine/note_entry.h"
#include "engine/params.h"

namespace ondelith {

// The unit a value counts in, as the player sets it.
enum class Unit : uint8_t {
  Hundredths,  // of the unit square (the control points)
  Percent,
  Multiple,          // whole multiples of the pitch
  MultipleFraction,  // hundredths of a multiple of the pitch
  Milliseconds,
  Hertz,
  Semitones,
  Choice,
  Channel
};

// How a value is written: "-35"; ".05" (hundredths); "x1" / "x10"; "All" / "1".."16".
enum class TextRule : uint8_t { Decimal, Hundredths, RangeSwitch, Channel };

// What a value sets: an engine parameter (value / divisor), a note setting,
// the MIDI channel heard, or the Duration's range.
enum class Target : uint8_t { Param, Setting, Channel, DurationRange };

enum class Group : uint8_t {
  Waveform,
  WobbleX1,
  WobbleY1,
  WobbleX2,
  WobbleY2,
  Envelope,
  Filter,
  Output,
  Playing
};

struct Parameter {
  std::string_view symbol;  // stable and machine-readable
  std::string_view name;    // for people
  Unit unit;
  int32_t minimum, maximum, start;
  TextRule text;
  Target target;
  int targetId;  // the Param or NoteSetting
  double divisor;
  int patchLine;  // 1..81, or 0 for what a patch does not hold
  bool automatable;
  Group group;
};

// The Duration's two ranges, chosen by its range switch.
constexpr int kDurationRangeX1 = 1;
constexpr int kDurationRangeX10 = 2;
struct DurationBounds {
  int32_t minimum, maximum;
};
constexpr DurationBounds durationBounds(int range) {
  return range == kDurationRangeX1 ? DurationBounds{100, 1000} : DurationBounds{1000, 10000};
}

// Positions in the registry. A sound's 25 values come first, in the order
// of the patch lines that follow its curves; the player settings after them.
constexpr int modIndex(int row) { return 3 * row; }
constexpr int coarseIndex(int row) { return 3 * row + 1; }
constexpr int fineIndex(int row) { return 3 * row + 2; }
constexpr int pointIndex(int row) { return 12 + row; }
constexpr int kVolumeIndex = 16;
constexpr int kDurationIndex = 17;
constexpr int kDurationRangeIndex = 18;
constexpr int kAttackIndex = 19;
constexpr int kDecayIndex = 20;
constexpr int kSustainIndex = 21;
constexpr int kReleaseIndex = 22;
constexpr int kCutoffIndex = 23;
constexpr int kResonanceIndex = 24;
constexpr int kSoundValueCount = 25;
constexpr int kChannelIndex = 25;
constexpr int kBendRangeIndex = 26;
constexpr int kVelocityIndex = 27;
constexpr int kParameterCount = 28;

// The channel setting's value that hears all sixteen; 1 to 16 name one.
constexpr int kEveryChannel = 0;

namespace registry_detail {

constexpr int32_t whole(double v) { return static_cast<int32_t>(v < 0 ? v - 0.5 : v + 0.5); }

constexpr Parameter sound(Param p, std::string_view name, Unit unit, TextRule text, double divisor,
                          int index, Group group) {
  const ParamInfo& info = paramInfo(p);
  return {info.symbol,
          name,
          unit,
          whole(info.minimum * divisor),
          whole(info.maximum * divisor),
          whole(info.start * divisor),
          text,
          Target::Param,
          static_cast<int>(p),
          divisor,
          57 + index,
          true,
          group};
}

constexpr Parameter setting(NoteSetting s, Unit unit) {
  const NoteSettingInfo& info = kNoteSettingTable[static_cast<size_t>(s)];
  return {info.symbol,
          info.name,
          unit,
          whole(info.minimum),
          whole(info.maximum),
          whole(info.start),
          TextRule::Decimal,
          Target::Setting,
          static_cast<int>(s),
          1,
          0,
          true,
          Group::Playing};
}

constexpr Group rowGroup(int row) {
  return static_cast<Group>(static_cast<int>(Group::WobbleX1) + row);
}

constexpr std::array<Parameter, kParameterCount> makeRegistry() {
  constexpr std::string_view depth[] = {"X1 wobble depth", "Y1 wobble depth", "X2 wobble depth",
                                        "Y2 wobble depth"};
  constexpr std::string_view coarse[] = {"X1 wobble rate", "Y1 wobble rate", "X2 wobble rate",
                                         "Y2 wobble rate"};
  constexpr std::string_view fine[] = {"X1 wobble rate, fine", "Y1 wobble rate, fine",
                                       "X2 wobble rate, fine", "Y2 wobble rate, fine"};
  constexpr std::string_view point[] = {"X1 point", "Y1 point", "X2 point", "Y2 point"};
  std::array<Parameter, kParameterCount> r{};
  for (int row = 0; row < kWobbleRows; ++row) {
    r[modIndex(row)] = sound(modParam(row), depth[row], Unit::Percent, TextRule::Decimal, 1,
                             modIndex(row), rowGroup(row));
    r[coarseIndex(row)] = sound(coarseParam(row), coarse[row], Unit::Multiple, TextRule::Decimal, 1,
                                coarseIndex(row), rowGroup(row));
    r[fineIndex(row)] = sound(fineParam(row), fine[row], Unit::MultipleFraction,
                              TextRule::Hundredths, 1, fineIndex(row), rowGroup(row));
    r[pointIndex(row)] = sound(pointParam(row), point[row], Unit::Hundredths, TextRule::Decimal, 1,
                               pointIndex(row), Group::Waveform);
  }
  r[kVolumeIndex] = sound(Param::Volume, "Volume", Unit::Percent, TextRule::Decimal, 1,
                          kVolumeIndex, Group::Output);
  r[kDurationIndex] = sound(Param::WobbleDuration, "Wobble duration", Unit::Milliseconds,
                            TextRule::Decimal, 1, kDurationIndex, Group::Output);
  r[kDurationRangeIndex] = {"duration_range",
                            "Wobble duration range",
                            Unit::Choice,
                            kDurationRangeX1,
                            kDurationRangeX10,
                            kDurationRangeX10,
                            TextRule::RangeSwitch,
                            Target::DurationRange,
                            0,
                            1,
                            57 + kDurationRangeIndex,
                            true,
                            Group::Output};
  r[kAttackIndex] = sound(Param::Attack, "Attack", Unit::Milliseconds, TextRule::Decimal, 1000,
                          kAttackIndex, Group::Envelope);
  r[kDecayIndex] = sound(Param::Decay, "Decay", Unit::Milliseconds, TextRule::Decimal, 1000,
                         kDecayIndex, Group::Envelope);
  r[kSustainIndex] = sound(Param::Sustain, "Sustain", Unit::Percent, TextRule::Decimal, 100,
                           kSustainIndex, Group::Envelope);
  r[kReleaseIndex] = sound(Param::Release, "Release", Unit::Milliseconds, TextRule::Decimal, 1000,
                           kReleaseIndex, Group::Envelope);
  r[kCutoffIndex] = sound(Param::Cutoff, "Filter cutoff", Unit::Hertz, TextRule::Decimal, 1,
                          kCutoffIndex, Group::Filter);
  r[kResonanceIndex] = sound(Param::Resonance, "Filter resonance", Unit::Percent, TextRule::Decimal,
                             1, kResonanceIndex, Group::Filter);
  r[kChannelIndex] = {"midi_channel",
                      "MIDI channel",
                      Unit::Channel,
                      kEveryChannel,
                      16,
                      1,
                      TextRule::Channel,
                      Target::Channel,
                      0,
                      1,
                      0,
                      false,
                      Group::Playing};
  r[kBendRangeIndex] = setting(NoteSetting::BendRange, Unit::Semitones);
  r[kVelocityIndex] = setting(NoteSetting::VelocitySensitivity, Unit::Percent);
  return r;
}

}  // namespace registry_detail

inline constexpr std::array<Parameter, kParameterCount> kRegistry = registry_detail::makeRegistry();

constexpr const Parameter& parameter(int index) { return kRegistry[static_cast<size_t>(index)]; }

// A value brought into the entry's range (the Duration's within `durationRange`).
int32_t limitValue(int index, int32_t value, int durationRange = kDurationRangeX10);

// What the voice takes for a value of an entry that targets a parameter or
// a setting: the value divided by the entry's divisor.
double engineValue(int index, int32_t value);

// The value as the window's spin boxes and the plugin's panel write it.
std::string parameterText(int index, int32_t value);

// The value with its unit, for people: "1500 Hz", "10 ms", "0.50", "x10".
std::string parameterDisplay(int index, int32_t value);

// The MIDI channel setting (kEveryChannel, or 1 to 16) as the voice takes it.
constexpr int engineChannel(int channelSetting) {
  return channelSetting >= 1 && channelSetting <= 16 ? channelSetting - 1 : kAllChannels;
}

// The Param of an engine-backed entry.
constexpr Param paramOf(int index) { return static_cast<Param>(parameter(index).targetId); }

}  // namespace ondelith
