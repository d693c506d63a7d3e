#pragma once
// The JACK server going away under the running program and coming back:
// the client closed when it goes, and opened again once it answers (asked
// at most once a second), with its ports' connections, its place as the
// output when it was playing, and the MIDI device the window had connected.
// UI thread, polled.

#include <cstdint>
#include <string>

#include "devices/audio_output.h"
#include "devices/midi_device.h"

namespace ondelith {

constexpr int64_t kJackRetryMs = 1000;

enum class JackChange { None, Gone, Back };

struct JackWatch {
  bool gone = false;
  bool wasOutput = false;  // the client was the output when the server went
  std::string midiSource;  // the device the window had connected through it
  int64_t nextTryMs = 0;
};

JackChange watchJackServer(JackWatch& watch, AudioOutput& audio, MidiDevice& midi, int64_t nowMs);

// Whether the server the program's client would open on is up: its socket
// is there. Opening a client while a server is still starting can crash the
// client, so none is opened before.
bool jackServerAnswers();

}  // namespace ondelith
