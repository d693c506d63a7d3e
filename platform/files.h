#pragma once
// Files for the system's own data: written whole or not at all, read in
// pieces. Failures come back as false with a short reason.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ondelith {

// Writes `data` to a new file beside `path`, flushes it to the disk and only
// then renames it over `path`. On any failure the file at `path` (if any) is
// untouched and no temporary file is left.
bool writeFileAtomically(const std::string& path, std::string_view data,
                         std::string* error = nullptr);

// Hands the file's bytes to `consume` piece by piece until the end of the
// file or until `consume` returns false.
bool readFileInPieces(const std::string& path,
                      const std::function<bool(const char*, size_t)>& consume,
                      std::string* error = nullptr);

}  // namespace ondelith
