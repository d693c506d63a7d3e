#pragma once
// Patch files on disk, for every host: read through the one patch reader,
// written whole or not at all.

#include <string>

#include "instrument/patch_format.h"

namespace ondelith {

// A file read as a patch, or why not: it cannot be read, or it is not a
// patch (acceptPatchBytes); `patch` is then untouched.
enum class PatchFileRead { Read, Unreadable, NotAPatch };
PatchFileRead readPatch(const std::string& path, Patch& patch, std::string& reason);

// The same, false with the reason in `error` for either failure.
bool readPatchFile(const std::string& path, Patch& patch, std::string* error = nullptr);

// Written beside the target and renamed over it only when complete, so a
// failure leaves an existing file as it was.
bool writePatchFile(const std::string& path, const Patch& patch, std::string* error = nullptr);

}  // namespace ondelith
