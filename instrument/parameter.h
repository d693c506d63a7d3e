#pragma once
// What one parameter is, as every host sees it. The rows themselves are in
// instrument/parameter_rows.h; the rules that read them in registry.h.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

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
  Channel,
  Count
};

struct UnitInfo {
  std::string_view symbol;  // as a plugin host shows it beside the number
  std::string_view suffix;  // after the value in texts for people, "" for none
  bool hundredths;          // people read the value as hundredths: "0.05"
};

// By Unit.
inline constexpr std::array<UnitInfo, static_cast<size_t>(Unit::Count)> kUnits = {{
    {"/100", "", true},
    {"%", " %", false},
    {"x", " x pitch", false},
    {"x/100", " x pitch", true},
    {"ms", " ms", false},
    {"Hz", " Hz", false},
    {"semitones", " semitones", false},
    {"", "", false},
    {"", "", false},
}};

constexpr const UnitInfo& unitInfo(Unit unit) { return kUnits[static_cast<size_t>(unit)]; }

// How a value is written: "-35"; ".05" (hundredths); a choice's own word;
// "All" / "1".."16".
enum class TextRule : uint8_t { Decimal, Hundredths, Choice, Channel };

// What a value sets: an engine parameter (value / divisor), a note setting,
// the MIDI channel heard, or another row's range (a range switch).
enum class Target : uint8_t { Param, Setting, Channel, RangeSwitch };

// Who keeps the value: the sound (patch, preset, program, undo) or the
// player (the program's settings, never a sound).
enum class Owner : uint8_t { Sound, Player };

// How a host's knob or automation lane spreads the range.
enum class Taper : uint8_t { Linear, Logarithmic };

enum class Group : uint8_t {
  Waveform,
  WobbleX1,
  WobbleY1,
  WobbleX2,
  WobbleY2,
  Envelope,
  Filter,
  Output,
  Playing,
  Count
};

struct GroupInfo {
  std::string_view name;    // for people
  std::string_view symbol;  // stable: plugin port groups use it
};

// By Group.
inline constexpr std::array<GroupInfo, static_cast<size_t>(Group::Count)> kGroups = {{
    {"Waveform points", "waveform"},
    {"X1 wobble", "wobble_x1"},
    {"Y1 wobble", "wobble_y1"},
    {"X2 wobble", "wobble_x2"},
    {"Y2 wobble", "wobble_y2"},
    {"Envelope", "envelope"},
    {"Filter", "filter"},
    {"Output", "output"},
    {"Playing", "playing"},
}};

constexpr const GroupInfo& groupInfo(Group group) { return kGroups[static_cast<size_t>(group)]; }

struct Bounds {
  int32_t minimum, maximum;
  bool operator==(const Bounds&) const = default;
};

// One value of a choice row. A range switch's choice also gives the row it
// switches its range, and the value that row takes when the switch moves.
struct Choice {
  int32_t value;
  std::string_view token;  // in patches' keyed lines and on command lines
  std::string_view text;   // as the window and the panel show it
  Bounds switched{0, 0};
  int32_t switchedStart = 0;
};

struct Parameter {
  std::string_view symbol{};  // stable and machine-readable: ports, keys, --set
  std::string_view name{};    // for people
  std::string_view label{};   // short, as the window's caption writes it
  Unit unit = Unit::Percent;
  int32_t minimum = 0, maximum = 0, start = 0;
  int32_t step = 1;
  TextRule text = TextRule::Decimal;
  Target target = Target::Param;
  int targetId = 0;    // the Param or NoteSetting
  double divisor = 1;  // the voice takes value / divisor
  int patchLine = 0;   // 1..81, or 0 for what the 81 lines do not hold
  bool automatable = true;
  Group group = Group::Output;
  Owner owner = Owner::Sound;
  Taper taper = Taper::Linear;
  std::string_view help{};            // one sentence, for Help and tooltips
  std::span<const Choice> choices{};  // a choice row's values, in order
  std::string_view rangeBy{};         // the range switch that sets this row's range, or ""
};

}  // namespace ondelith
