#include "platform/patch_file.h"

#include "platform/files.h"

namespace ondelith {

bool readPatchFile(const std::string& path, PatchValues& values, std::string* error) {
  PatchReader reader;
  if (!readFileInPieces(
          path, [&](const char* data, size_t size) { return reader.feed(data, size); }, error))
    return false;
  values = reader.finish();
  return true;
}

bool writePatchFile(const std::string& path, const PatchValues& values, std::string* error) {
  return writeFileAtomically(path, formatPatch(values), error);
}

}  // namespace ondelith
