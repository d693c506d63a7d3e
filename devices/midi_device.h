#pragma once
// The MIDI drop-down's devices: the ALSA sequencer's ports (through the MIDI
// service) and, while a JACK server runs, other programs' JACK MIDI outputs
// (connected to the program's own client's "MIDI In"); listing, opening at
// start-up, switching. Status field 0 ("MIDI IN" / "No MIDI IN") is written
// through a hook on the UI thread; notes reach the engine on the MIDI threads.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "devices/jack_client.h"
#include "devices/midi_input.h"
#include "platform/midi_service.h"

namespace ondelith {

struct MidiDevice {
  explicit MidiDevice(MidiInput& m, JackClient* j = nullptr) : midi(m), jack(j) {}
  MidiInput& midi;
  MidiService service;             // the sequencer's ports
  OwnMidiPort ownPort;             // the program's own port on the sequencer
  JackClient* jack;                // JACK's side, when the program may have a client
  std::vector<std::string> names;  // the last list: the sequencer's ports, then JACK's
  size_t sequencerPorts = 0;
  bool jackSourceOpen = false;  // the open input is a JACK port
  int32_t midiDeviceId = -1;
  std::string lastError;
  std::function<void(const std::string&)> setInputStatus;  // status-bar field 0
  // Messages that reached the program's own sequencer port (its MIDI thread
  // counts); what field 0 shows, and when each own port last played.
  std::atomic<uint32_t> ownPortMessages{0};
  bool inputOpen = false;  // the device chosen in the drop-down
  std::string shownStatus;
  uint32_t seenJack = 0, seenSequencer = 0;
  int64_t jackPlayedMs = -1, sequencerPlayedMs = -1;
};

// Texts of field 0 when no device is chosen but the program's own port is
// in use: connected, or played within kOwnPortRecentMs.
constexpr const char* kOwnJackInputText = "MIDI In (JACK)";
constexpr const char* kOwnSequencerInputText = "MIDI In (ALSA)";
constexpr const char* kOwnBothInputText = "MIDI In (JACK, ALSA)";
constexpr int64_t kOwnPortRecentMs = 10000;

// Field 0 as the inputs are now: "MIDI IN" with the chosen device open,
// else the own port's text while it is in use, else "No MIDI IN"; written
// only when it changes. UI thread, polled.
void showMidiStatus(MidiDevice& device, int64_t nowMs);

// The names for the drop-down; returns how many devices there are. Opens the
// JACK client when a server runs, so that its ports are listed.
int listMidiInputs(MidiDevice& device, std::vector<std::string>& names);

// Start-up: open and start midiDeviceId; field 0 tells how it went. True
// when it opened.
bool openMidiInput(MidiDevice& device);

// Opens the program's own port on the sequencer and the JACK client (a JACK
// server may have started since) where they are not open yet; on how many
// back ends the program now has its own MIDI input.
int openOwnMidiPort(MidiDevice& device);

// The MIDI drop-down's action: close the open input (its close notice
// releases every key), then open entry `position`. False, with the
// library's reason, when it cannot be opened.
bool switchMidiDevice(MidiDevice& device, int position, std::string* reason = nullptr);

// The names --midi-in takes, for a listing with no window: the sequencer's
// ports and, when a JACK server runs, its MIDI outputs.
std::vector<std::string> listMidiInputNames();

}  // namespace ondelith
