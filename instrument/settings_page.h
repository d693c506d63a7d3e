#pragma once
// The page of the table's entries that the window's fixed layout has no
// place for, built from the rows alone: a new row appears there with no
// code of its own. The window shows it as a dialog, the plugin's panel as a
// view of its own.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ondelith {

struct SettingsField {
  int index = 0;                     // the registry entry
  std::string label;                 // its name
  std::string tip;                   // its Help sentence
  bool choice = false;               // a list of named values; else a number
  std::vector<std::string> choices;  // a choice's texts, from its minimum up
  int32_t minimum = 0, maximum = 0, step = 1;
  std::string suffix;  // a number's unit, after its text
};

// The sound settings, in table order.
std::vector<int> soundSettingEntries();

// The player's settings (never part of a sound), in table order.
std::vector<int> playerSettingEntries();

// The page's fields for the entries, in their order.
std::vector<SettingsField> settingsPage(std::span<const int> entries);

// What the page says when it has no field.
inline constexpr std::string_view kNothingToSet =
    "This version of Ondelith has no sound settings beyond the controls in view: "
    "there is nothing to set here.";

// A value moved by `steps` of the field's step, kept within its range.
int32_t steppedValue(const SettingsField& field, int32_t value, int steps);

}  // namespace ondelith
