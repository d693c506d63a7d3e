#pragma once
// A file written as a signal ends the process (SIGTERM, SIGHUP, SIGINT),
// for what must outlive a logout or a kill: its bytes are kept ready here,
// and the signal's handler writes them beside the file and renames them
// over it (whole or not at all) before the signal ends the process as it
// would have. The handler formats and allocates nothing.

#include <cstddef>
#include <string>
#include <string_view>

namespace ondelith {

constexpr size_t kMaxExitFileBytes = 64 * 1024;

// From now on the signals write `path` (once bytes are set). False when the
// path is too long to keep.
bool writeFileOnEndingSignals(const std::string& path);

// The bytes a signal writes from now on. False (the bytes before stay) when
// there are more than kMaxExitFileBytes. One thread at a time.
bool setExitFileBytes(std::string_view bytes);

// What a signal would write now.
std::string exitFileBytes();

}  // namespace ondelith
