#pragma once
// Files for the system's own data: written whole or not at all, read in
// pieces. Failures come back as false with a short reason.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ondelith {

// A file written under a temporary name beside its target and renamed over
// the target only once it is complete and on the disk. Abandoned (or
// destroyed before commit) it leaves no trace and the target untouched.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { abandon(); }

  bool open(const std::string& path, std::string* error = nullptr);
  int descriptor() const { return fd_; }
  bool write(std::string_view data, std::string* error = nullptr);
  bool commit(std::string* error = nullptr);
  void abandon();

 private:
  std::string path_, temp_;
  int fd_ = -1;
};

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
