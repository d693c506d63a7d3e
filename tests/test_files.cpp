#include "test_files.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/midi_message.h"

namespace ondelith::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ondelith-test-XXXXXX").string();
  path = mkdtemp(pattern.data());
}

TempDir::~TempDir() { std::filesystem::remove_all(path); }

std::string TempDir::file(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path p = path / name;
  std::ofstream(p, std::ios::binary) << bytes;
  return p.string();
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

uint32_t noteOnWord(int note, int velocity, int channel) {
  return (kMidiNoteOn | static_cast<uint32_t>(channel)) | (static_cast<uint32_t>(note) << 8) |
         (static_cast<uint32_t>(velocity) << 16);
}

uint32_t noteOffWord(int note, int channel) {
  return (kMidiNoteOff | static_cast<uint32_t>(channel)) | (static_cast<uint32_t>(note) << 8);
}

}  // namespace ondelith::test
