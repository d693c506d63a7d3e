#pragma once
// The Tuning menu: twelve equal steps (the instrument's own), the player's
// Scala scales and keyboard maps from the tunings folder, and Open... for a
// file anywhere. The tuning is a player setting: kept as the files' texts
// in the settings, never in a sound.

#include "app/app.h"

namespace ondelith {

constexpr int kCmdTwelveTet = 60;
constexpr int kCmdStandardMap = 61;
constexpr int kCmdOpenTuning = 62;
// A tunings-folder file: this plus its place in App::tunings.
constexpr int kCmdFirstTuningFile = 3000;

// The menu made anew: the folder as it is now, the tuning in force checked.
void fillTuningMenu(App& app);
// Carries out a Tuning menu command; false for a command that is none of its.
bool tuningCommand(App& app, int command);
// The remembered tuning into the voice. Texts that no longer read (a
// settings file edited by hand) give 12-TET and the standard map.
void applyTuning(App& app);

}  // namespace ondelith
