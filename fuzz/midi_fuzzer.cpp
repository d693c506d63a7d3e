// Any bytes as a MIDI file for the offline renderer: read, and if readable
// played through the synthesizer for a short while.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "instrument/instrument.h"
#include "instrument/playback.h"
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
  int64_t previous = 0;
  for (const TimedMidiMessage& m : midi.notes) {
    if (m.frame < previous) __builtin_trap();  // play order is time order
    previous = m.frame;
  }
  auto engine = std::make_unique<Engine>();
  Instrument instrument;
  instrument.attach(engine.get());
  playMidi(*engine, midi.notes.data(), midi.notes.size(), std::min<int64_t>(previous + 2048, 8192),
           512, [](const float*, int64_t) { return true; });
  return 0;
}
