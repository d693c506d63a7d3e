#include "devices/midi_device.h"

namespace ondelith {

namespace {

void deliver(void* context, uint32_t kind, uint32_t word) {
  midiInputCallback(static_cast<MidiDevice*>(context)->midi, kind, word);
}

void showInputStatus(MidiDevice& device, bool open) {
  if (device.setInputStatus) device.setInputStatus(open ? "MIDI IN" : "No MIDI IN");
}

}  // namespace

int listMidiInputs(MidiDevice& device, std::vector<std::string>& names) {
  names = device.service.listInputs();
  return static_cast<int>(names.size());
}

bool openMidiInput(MidiDevice& device) {
  const bool open =
      device.midiDeviceId >= 0 && device.service.open(device.midiDeviceId, deliver, &device);
  showInputStatus(device, open);
  return open;
}

int openOwnMidiPort(MidiDevice& device) { return device.ownPort.open(deliver, &device); }

bool switchMidiDevice(MidiDevice& device, int position, std::string* reason) {
  device.service.close();
  device.midiDeviceId = position;
  const bool open = openMidiInput(device);
  if (!open && reason) *reason = device.service.lastError();
  return open;
}

}  // namespace ondelith
