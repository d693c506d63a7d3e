#pragma once
// The MIDI drop-down's devices: listing, opening at start-up, switching.
// Status field 0 ("MIDI IN" / "No MIDI IN") is written through a hook on the
// UI thread; notes go to midiInputCallback on the MIDI thread.

#include <functional>
#include <string>
#include <vector>

#include "devices/midi_input.h"
#include "platform/midi_service.h"

namespace ondelith {

struct MidiDevice {
  explicit MidiDevice(MidiInput& m) : midi(m) {}
  MidiInput& midi;
  MidiService service;
  OwnMidiPort ownPort;  // beside the chosen device, into the same note entry
  int32_t midiDeviceId = -1;
  std::function<void(const std::string&)> setInputStatus;  // status-bar field 0
};

// The names for the drop-down; returns how many devices there are.
int listMidiInputs(MidiDevice& device, std::vector<std::string>& names);

// Start-up: open and start midiDeviceId; field 0 tells how it went. True
// when it opened.
bool openMidiInput(MidiDevice& device);

// Opens the program's own port on every back end that is there and has
// none yet; how many are open.
int openOwnMidiPort(MidiDevice& device);

// The MIDI drop-down's action: close the open input (its close notice
// releases every key), then open entry `position`. False, with the
// library's reason, when it cannot be opened.
bool switchMidiDevice(MidiDevice& device, int position, std::string* reason = nullptr);

}  // namespace ondelith
