#pragma once
// Patch files on disk, for every host: read through the one patch reader,
// written whole or not at all.

#include <string>

#include "instrument/patch_format.h"

namespace ondelith {

// False, with the reason in `error`, when the file cannot be read.
bool readPatchFile(const std::string& path, PatchValues& values, std::string* error = nullptr);

// Written beside the target and renamed over it only when complete, so a
// failure leaves an existing file as it was.
bool writePatchFile(const std::string& path, const PatchValues& values,
                    std::string* error = nullptr);

}  // namespace ondelith
