#pragma once
// Folders, files and MIDI words for tests, with nothing of the program.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ondelith::test {

// A folder of its own for a test, removed with everything in it afterwards.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Writes a file in the folder and returns its path.
  std::string file(const std::string& name, const std::string& bytes) const;
  // The names in the folder, sorted.
  std::vector<std::string> entries() const;
  std::filesystem::path path;
};

// A file's whole content.
std::string slurp(const std::filesystem::path& path);

// MIDI words.
uint32_t noteOnWord(int note, int velocity, int channel = 0);
uint32_t noteOffWord(int note, int channel = 0);

}  // namespace ondelith::test
