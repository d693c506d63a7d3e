// Any bytes as a MIDI file for the offline renderer: read, and if readable
// played through the synthesizer for a short while.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "app/headless_driver.h"
#include "tools/midi_file.h"

using namespace ondelith;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MidiFileContents midi;
  std::string reason;
  if (!readMidiFile(std::string_view(reinterpret_cast<const char*>(data), size), midi, reason)) {
    if (reason.empty() || reason.find('\n') != std::string::npos) __builtin_trap();
    return 0;
  }
  if (!(midi.lastEventFrames >= 0)) __builtin_trap();
  DriverSchedule schedule;
  int64_t previous = 0;
  for (const TimedMidiMessage& m : midi.notes) {
    if (m.frame < previous) __builtin_trap();  // play order is time order
    previous = m.frame;
    schedule.midi(m.frame, m.word);
  }
  auto synth = std::make_unique<Synth>();
  initSynth(*synth);
  std::vector<float> out;
  renderSchedule(*synth, schedule, std::min<int64_t>(previous + 2048, 8192), fixedBlocks(512), out);
  return 0;
}
