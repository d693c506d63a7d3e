#include "devices/midi_device.h"

#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

void deliver(void* context, uint32_t kind, uint32_t word) {
  midiInputCallback(static_cast<MidiDevice*>(context)->midi, kind, word);
}

void deliverOwn(void* context, uint32_t kind, uint32_t word) {
  auto* device = static_cast<MidiDevice*>(context);
  if (kind == kMidiData) device->ownPortMessages.fetch_add(1, std::memory_order_relaxed);
  midiInputCallback(device->midi, kind, word);
}

void showInputStatus(MidiDevice& device, bool open) {
  device.inputOpen = open;
  device.shownStatus = open ? "MIDI IN" : "No MIDI IN";
  if (device.setInputStatus) device.setInputStatus(device.shownStatus);
}

// Marks when a count last moved.
void notePlayed(uint32_t count, uint32_t& seen, int64_t& playedMs, int64_t nowMs) {
  if (count != seen) playedMs = nowMs;
  seen = count;
}

bool recently(int64_t playedMs, int64_t nowMs) {
  return playedMs >= 0 && nowMs - playedMs < kOwnPortRecentMs;
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
  const int sequencer = device.ownPort.open(deliverOwn, &device);
  return sequencer + (device.jack && device.jack->open() ? 1 : 0);
}

bool switchMidiDevice(MidiDevice& device, int position, std::string* reason) {
  closeInput(device);
  device.midiDeviceId = position;
  const bool open = openMidiInput(device);
  if (!open && reason) *reason = device.lastError;
  return open;
}

void showMidiStatus(MidiDevice& device, int64_t nowMs) {
  const bool jackOpen = device.jack && device.jack->isOpen();
  notePlayed(jackOpen ? device.jack->messagesReceived() : device.seenJack, device.seenJack,
             device.jackPlayedMs, nowMs);
  notePlayed(device.ownPortMessages.load(std::memory_order_relaxed), device.seenSequencer,
             device.sequencerPlayedMs, nowMs);
  // The chosen device plays into the JACK port too: only the player's own
  // connections, or notes with no device chosen, tell of the port in use.
  const bool jack = jackOpen && (!device.jack->midiConnections().empty() ||
                                 (!device.inputOpen && recently(device.jackPlayedMs, nowMs)));
  const bool sequencer = recently(device.sequencerPlayedMs, nowMs);
  std::string text = device.inputOpen    ? "MIDI IN"
                     : jack && sequencer ? kOwnBothInputText
                     : jack              ? kOwnJackInputText
                     : sequencer         ? kOwnSequencerInputText
                                         : "No MIDI IN";
  if (text == device.shownStatus) return;
  device.shownStatus = std::move(text);
  if (device.setInputStatus) device.setInputStatus(device.shownStatus);
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
