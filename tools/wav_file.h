#pragma once
// The renderer's output: a mono 32-bit float WAV file, written beside its
// target under a temporary name and renamed over it once complete. A RIFF
// WAVE file while it fits in 4 GiB, an RF64 file (EBU Tech 3306) past that;
// the header keeps room for the RF64 sizes either way, so the samples start
// at the same place. The format chunk carries its extension size, as readers
// of non-PCM WAV files expect.

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace ondelith {

constexpr uint64_t kWavHeaderBytes = 94;

// The header of a file of `frames` frames at `rate` frames per second.
std::string wavHeader(int rate, uint64_t frames);

class WavFile {
 public:
  // False, with the system's reason, when the temporary file cannot be made.
  // The disk space for `frames` is set aside at once, where the file system
  // can: one allocation instead of one a page as the samples arrive.
  bool open(const std::string& path, int rate, uint64_t frames, std::string& reason);
  bool write(const float* samples, int64_t count, std::string& reason);
  // Writes the header for what was written and renames the file over its
  // target; on failure nothing is left and the target is untouched.
  bool commit(std::string& reason);
  void abandon() { file_.abandon(); }

 private:
  AtomicFile file_;
  int rate_ = 0;
  uint64_t frames_ = 0;
};

}  // namespace ondelith
