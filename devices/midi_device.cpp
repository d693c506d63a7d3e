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

void openMidiInput(MidiDevice& device) {
  const bool open =
      device.midiDeviceId >= 0 && device.service.open(device.midiDeviceId, deliver, &device);
  showInputStatus(device, open);
}

void switchMidiDevice(MidiDevice& device, int position) {
  device.service.close();
  device.midiDeviceId = position;
  openMidiInput(device);
}

}  // namespace ondelith
