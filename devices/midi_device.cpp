#include "devices/midi_device.h"

#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

void deliver(void* context, uint32_t kind, uint32_t word) {
  midiInputCallback(static_cast<MidiDevice*>(context)->midi, kind, word);
}

void showInputStatus(MidiDevice& device, bool open) {
  if (device.setInputStatus) device.setInputStatus(open ? "MIDI IN" : "No MIDI IN");
}

// Closes whichever input is open; its close notice releases every key.
void closeInput(MidiDevice& device) {
  device.service.close();
  if (device.jackSourceOpen) {
    device.jackSourceOpen = false;
    if (device.jack) device.jack->disconnectMidiSource();
    midiInputCallback(device.midi, kMidiCloseNotice, 0);
  }
}

}  // namespace

int listMidiInputs(MidiDevice& device, std::vector<std::string>& names) {
  names = device.service.listInputs();
  device.sequencerPorts = names.size();
  if (device.jack && device.jack->open()) {
    std::vector<std::string> jack = device.jack->midiSources();
    names.insert(names.end(), jack.begin(), jack.end());
  }
  device.names = names;
  return static_cast<int>(names.size());
}

bool openMidiInput(MidiDevice& device) {
  bool open = false;
  device.lastError.clear();
  const int id = device.midiDeviceId;
  if (id >= 0 && static_cast<size_t>(id) < device.sequencerPorts) {
    open = device.service.open(id, deliver, &device);
    if (!open) device.lastError = device.service.lastError();
  } else if (id >= 0 && static_cast<size_t>(id) < device.names.size() && device.jack) {
    open = device.jack->connectMidiSource(device.names[static_cast<size_t>(id)], device.lastError);
    device.jackSourceOpen = open;
  } else {
    device.lastError = "no such MIDI input";
  }
  showInputStatus(device, open);
  return open;
}

int openOwnMidiPort(MidiDevice& device) {
  const int sequencer = device.ownPort.open(deliver, &device);
  return sequencer + (device.jack && device.jack->open() ? 1 : 0);
}

bool switchMidiDevice(MidiDevice& device, int position, std::string* reason) {
  closeInput(device);
  device.midiDeviceId = position;
  const bool open = openMidiInput(device);
  if (!open && reason) *reason = device.lastError;
  return open;
}

std::vector<std::string> listMidiInputNames() {
  std::vector<std::string> names = MidiService().listInputs();
  quietSoundLibraries();
  jack_status_t status{};
  if (jack_client_t* probe = jack_client_open("Ondelith list", JackNoStartServer, &status)) {
    const char** ports = jack_get_ports(probe, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    for (int i = 0; ports && ports[i]; ++i) names.emplace_back(ports[i]);
    if (ports) jack_free(ports);
    jack_client_close(probe);
  }
  return names;
}

}  // namespace ondelith
