#include "devices/jack_watch.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "devices/jack_client.h"

namespace ondelith {

bool jackServerAnswers() {
  const char* name = std::getenv("JACK_DEFAULT_SERVER");
  const std::string server = name && *name ? name : "default";
  std::error_code error;
  return std::filesystem::exists("/dev/shm/jack_" + server + "_" + std::to_string(getuid()) + "_0",
                                 error);
}

namespace {

void noteTheLoss(JackWatch& watch, AudioOutput& audio, MidiDevice& midi) {
  watch.gone = true;
  watch.wasOutput = playsThroughJack(audio);
  watch.midiSource.clear();
  if (midi.jackSourceOpen && midi.midiDeviceId >= 0 &&
      static_cast<size_t>(midi.midiDeviceId) < midi.names.size())
    watch.midiSource = midi.names[static_cast<size_t>(midi.midiDeviceId)];
  // Closes the lost client and lists the outputs without it.
  refreshAudioDevices(audio);
}

void comeBack(JackWatch& watch, AudioOutput& audio, MidiDevice& midi) {
  watch.gone = false;
  refreshAudioDevices(audio);  // lists it again
  if (watch.wasOutput) {
    const int entry = findAudioEntry(audio.devices, kJackEntryName, kJackHostApi);
    if (entry >= 0) switchAudioDevice(audio, entry);
  }
  std::string ignored;
  if (!watch.midiSource.empty() && midi.jackSourceOpen)
    audio.jack->connectMidiSource(watch.midiSource, ignored);
}

}  // namespace

JackChange watchJackServer(JackWatch& watch, AudioOutput& audio, MidiDevice& midi, int64_t nowMs) {
  JackClient* jack = audio.jack;
  if (!jack) return JackChange::None;
  if (!watch.gone) {
    if (!jack->serverLost()) return JackChange::None;
    noteTheLoss(watch, audio, midi);
    watch.nextTryMs = nowMs + kJackRetryMs;
    return JackChange::Gone;
  }
  if (nowMs < watch.nextTryMs) return JackChange::None;
  watch.nextTryMs = nowMs + kJackRetryMs;
  if (!jackServerAnswers() || !jack->open()) return JackChange::None;
  comeBack(watch, audio, midi);
  return JackChange::Back;
}

}  // namespace ondelith
