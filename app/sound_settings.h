#pragma once
// The "Sound settings" dialog: the table's entries that the window has no
// control for, on one page generated from their rows.

#include <span>
#include <vector>

#include "app/synth.h"
#include "instrument/settings_page.h"
#include "platform/toolkit.h"

namespace ondelith {

// A page's field as the dialog shows it, at a value, and its rule.
FormField formField(const SettingsField& field, int32_t value);
FieldRule fieldRule(const SettingsField& field);

// The dialog for `entries` (registry positions). On OK each value moved is
// set as a control sets it, the voice told; all of them one step to undo.
// True when the sound changed.
bool soundSettingsCommand(Toolkit& tk, int window, Synth& synth, std::span<const int> entries);

}  // namespace ondelith
