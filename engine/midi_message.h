#pragma once
// Short MIDI messages into the note entry: the one reading of the channel
// messages that every host shares (the window's devices and own port, the
// renderer's files, a plugin's events).

#include <cstdint>

#include "engine/note_entry.h"

namespace ondelith {

// Status kinds (high nibble of the status byte).
constexpr uint32_t kMidiNoteOff = 0x80;
constexpr uint32_t kMidiNoteOn = 0x90;
constexpr uint32_t kMidiControlChange = 0xB0;
constexpr uint32_t kMidiPitchBend = 0xE0;

// Controllers read.
constexpr int kSustainPedal = 64;          // 64 and up: down
constexpr int kAllSoundOff = 120;          // both let every key go
constexpr int kResetAllControllers = 121;  // the wheel centred, the pedal up
constexpr int kAllNotesOff = 123;

// The channel argument that hears all sixteen.
constexpr int kAllChannels = -1;

// A short message packed as status | data1 << 8 | data2 << 16, on `channel`
// (0 to 15, or kAllChannels); other channels are ignored. Note-on (velocity
// above 0) and note-off (or note-on at velocity 0) play; pitch bend bends;
// controllers 64, 120, 121 and 123 as named above. A message whose data
// bytes are not all 0..127 is no message and is ignored, as is every other
// status.
GateChange playMidiMessage(NoteEntry& notes, uint32_t word, int channel = 0);

}  // namespace ondelith
