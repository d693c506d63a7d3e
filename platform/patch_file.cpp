#include "platform/patch_file.h"

#include <algorithm>
#include <utility>

#include "platform/files.h"

namespace ondelith {

PatchFileRead readPatch(const std::string& path, Patch& patch, std::string& reason) {
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
  Patch accepted;
  if (!acceptPatchBytes(bytes, accepted, reason)) return PatchFileRead::NotAPatch;
  patch = std::move(accepted);
  return PatchFileRead::Read;
}

bool readPatchFile(const std::string& path, Patch& patch, std::string* error) {
  std::string reason;
  if (readPatch(path, patch, reason) == PatchFileRead::Read) return true;
  if (error) *error = reason;
  return false;
}

bool writePatchFile(const std::string& path, const Patch& patch, std::string* error) {
  return writeFileAtomically(path, formatPatch(patch), error);
}

}  // namespace ondelith
