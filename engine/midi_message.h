#pragma once
// Short MIDI messages into the note entry: the one reading of note-on and
// note-off that every host shares.

#include <cstdint>

#include "engine/note_entry.h"

namespace ondelith {

// Status kinds (high nibble of the status byte).
constexpr uint32_t kMidiNoteOff = 0x80;
constexpr uint32_t kMidiNoteOn = 0x90;

// The channel argument that hears all sixteen.
constexpr int kAllChannels = -1;

// A short message packed as status | data1 << 8 | data2 << 16. Note-on
// (velocity above 0) and note-off (or note-on at velocity 0) on `channel`
// (0 to 15, or kAllChannels) play; everything else is ignored.
GateChange playMidiMessage(NoteEntry& notes, uint32_t word, int channel = 0);

}  // namespace ondelith
