#pragma once
// A patch taken from and applied to the program's records: what Save writes
// and what Open changes, without dialogs.

#include <string>

#include "app/synth.h"
#include "instrument/patch_format.h"
#include "platform/patch_file.h"

namespace ondelith {

// Save's capture, from the instrument's sound.
PatchValues capturePatch(Synth& synth);

// Open's application to the instrument, and the window's controls, spin
// box texts, Duration range and curve editors brought up to date.
void applyPatch(Synth& synth, const Patch& patch);

// The window's controls set from the instrument's sound.
void showSound(Synth& synth);

// Save to a file, whole or not at all; the sound then goes by the file's
// name. False, with the reason in `error`.
bool savePatchFile(Synth& synth, const std::string& path, std::string* error = nullptr);

// Open from a file, a step to undo; false (nothing changed) when it cannot
// be read or is not a patch, with the reason in `error`. `report`: what of
// its keyed lines was not read ("" when all was).
bool openPatchFile(Synth& synth, const std::string& path, std::string* error = nullptr,
                   std::string* report = nullptr);

}  // namespace ondelith
