#pragma once
// A patch taken from and applied to the running records: what Save writes
// and what Open changes, in their order, without dialogs.

#include <string>

#include "app/synth.h"
#include "patches/patch_file.h"
#include "patches/patch_sound.h"

namespace ondelith {

// Save's capture: the curve editors' ranges set from the Duration slider,
// each curve taken through curveBuffer, then the 25 control values.
PatchValues capturePatch(Synth& synth);

// Open's application, in Open's order: spin boxes (with their texts), point
// sliders, volume, the Duration and its range, the wobble length and the
// editors' ranges, the curves through curveBuffer, the envelope, the filter.
void applyPatch(Synth& synth, const PatchValues& values);

// Save to a file: written beside the target and renamed over it only when
// complete, so a failure leaves an existing file as it was. False, with the
// reason in `error`, when the patch could not be written.
bool savePatchFile(Synth& synth, const std::string& path, std::string* error = nullptr);

// Open from a file; false (nothing changed) when it cannot be read.
bool openPatchFile(Synth& synth, const std::string& path, std::string* error = nullptr);

// Reads a patch file's values without applying them.
bool readPatchFile(const std::string& path, PatchValues& values, std::string* error = nullptr);

}  // namespace ondelith
