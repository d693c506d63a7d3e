#pragma once
// Files for the system's own data: written whole or not at all, read in
// pieces. Failures come back as false with a short reason.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ondelith {

// $XDG_DATA_HOME/Ondelith/, else ~/.local/share/Ondelith/; "" with neither.
std::string userDataDirectory();
// The player's own sounds: "sounds/" in that folder; "" with no data folder.
std::string userSoundsDirectory();

// A file written under a temporary name beside its target and renamed over
// the target only once it is complete and on the disk. The temporary name is
// hidden and holds the target's and the process's id; for a name too long
// for that, it is cut to the target's length. Abandoned (or
// destroyed before commit) it leaves no trace and the target untouched.
//
// A symbolic link is followed: the file it leads to is replaced and the link
// stays. A file that is replaced keeps its permissions (and, where the
// process may set it, its owner). Anything at the path that is not a regular
// file (a folder, a device, a FIFO, a socket) is refused, never replaced.
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
  int signalSlot_ = -1;
};

// Whether a write to `path` may replace what is there: nothing, or a regular
// file at the end of its symbolic links that is not read-only. False with
// the reason otherwise.
bool mayReplace(const std::string& path, std::string* error = nullptr);

// Whether both paths lead to one file (after links; hard links count too).
bool sameFile(const std::string& a, const std::string& b);

// Makes every signal whose default action ends the process (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGABRT, SIGUSR1, SIGALRM, SIGPIPE, SIGXFSZ, the
// real-time ones...) remove the temporary files of the AtomicFiles still
// open, then end the process by that signal as before. A signal the process
// ignores stays ignored; a fault signal that something else (a sanitizer)
// handles stays with it. For single-threaded programs.
void removeTemporaryFilesOnSignals();

// Removes the temporary files beside `path` (after its links) that a write
// of it left when its process was killed: those of a process that no longer
// runs, and those of earlier versions' naming (no process id) untouched for
// a minute. Never one whose writer still runs. How many it removed.
int removeStaleTemporaryFiles(const std::string& path);

// Writes `data` to a new file beside `path`, flushes it to the disk and only
// then renames it over `path`. On any failure the file at `path` (if any) is
// untouched and no temporary file is left.
bool writeFileAtomically(const std::string& path, std::string_view data,
                         std::string* error = nullptr);

// A regular file opened for reading. Opening never waits (a FIFO with no
// writer would hold the caller forever) and anything but a regular file is
// refused, as a file that cannot be read.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool open(const std::string& path, std::string* error = nullptr);
  uint64_t size() const { return size_; }  // when it was opened
  // Up to `capacity` bytes; `got` is 0 at the end of the file.
  bool read(char* data, size_t capacity, size_t& got, std::string* error = nullptr);

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Hands the file's bytes to `consume` piece by piece until the end of the
// file or until `consume` returns false.
bool readFileInPieces(const std::string& path,
                      const std::function<bool(const char*, size_t)>& consume,
                      std::string* error = nullptr);

}  // namespace ondelith
