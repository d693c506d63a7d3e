#include "platform/patch_file.h"

#include <algorithm>

#include "platform/files.h"

namespace ondelith {

PatchFileRead readPatch(const std::string& path, PatchValues& values, std::string& reason) {
  std::string bytes;
  // One byte past the limit tells a file too large to be a patch: the rest is never read.
  const bool read = readFileInPieces(
      path,
      [&bytes](const char* data, size_t size) {
        bytes.append(data, std::min(size, kMaxPatchFileBytes + 1 - bytes.size()));
        return bytes.size() <= kMaxPatchFileBytes;
      },
      &reason);
  if (!read) return PatchFileRead::Unreadable;
  PatchValues accepted;
  if (!acceptPatchBytes(bytes, accepted, reason)) return PatchFileRead::NotAPatch;
  values = accepted;
  return PatchFileRead::Read;
}

bool readPatchFile(const std::string& path, PatchValues& values, std::string* error) {
  std::string reason;
  if (readPatch(path, values, reason) == PatchFileRead::Read) return true;
  if (error) *error = reason;
  return false;
}

bool writePatchFile(const std::string& path, const PatchValues& values, std::string* error) {
  return writeFileAtomically(path, formatPatch(values), error);
}

}  // namespace ondelith
