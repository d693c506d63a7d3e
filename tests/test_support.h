#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_driver.h"
#include "app/synth.h"

namespace ondelith::test {

// A synthesizer in its start-up state, with no window and no devices.
std::unique_ptr<Synth> makeSynth(SampleRate rate = {});

// Renders `frames` frames of a schedule in blocks of `block`.
std::vector<float> render(Synth& synth, const DriverSchedule& schedule, int64_t frames,
                          int64_t block = 512);

// The same schedule rendered on a fresh start-up synthesizer.
std::vector<float> renderFresh(const DriverSchedule& schedule, int64_t frames,
                               const BlockSizer& blocks);

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
