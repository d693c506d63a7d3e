#pragma once
// A Standard MIDI File read into timed channel messages (notes, controllers,
// program changes, pitch bend): format 0 and 1,
// ticks-per-quarter and SMPTE divisions, every tempo change honoured.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sample_rate.h"
#include "instrument/playback.h"

namespace ondelith {

// Applied just before its frame is rendered.
using TimedMidiMessage = TimedMidi;

struct MidiFileContents {
  // Note, controller, program change and pitch-bend messages, in play order.
  std::vector<TimedMidiMessage> notes;
  long double lastEventFrames = 0;  // the time of the last event of any kind, in frames
};

// Reads the file's bytes; false with a one-line reason for anything that is
// not a complete, well-formed MIDI file (a track must end with its End of
// Track event; running status holds for channel messages only).
// Frames count at `sampleRate` frames per second.
bool readMidiFile(std::string_view bytes, MidiFileContents& out, std::string& reason,
                  int sampleRate = static_cast<int>(kDefaultSampleRate));

// round(numerator / denominator), halves to even; denominator > 0.
int64_t roundRatioHalfEven(__int128 numerator, __int128 denominator);

}  // namespace ondelith
