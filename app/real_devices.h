#pragma once
// The devices of the running program: PortAudio output and RtMidi input.

#include "app/app.h"
#include "devices/audio_output.h"
#include "devices/midi_device.h"

namespace ondelith {

class RealDevices : public Devices {
 public:
  RealDevices(App& app) : app_(app), midi_(app.synth.midi) {
    midi_.setInputStatus = [this](const std::string& text) {
      app_.tk.setStatusText(app_.window, 0, text);
    };
  }
  int startAudio() override { return ondelith::startAudio(audio_, app_.synth.engine); }
  std::string audioErrorText(int code) override { return ondelith::audioErrorText(code); }
  std::vector<std::string> audioDeviceNames() override { return audio_.devices.name; }
  void startStream() override { ondelith::startStream(audio_); }
  void switchAudio(int entry) override { switchAudioDevice(audio_, entry); }
  void stopAudio(const std::function<void()>& waitOneMs) override {
    ondelith::stopAudio(audio_, waitOneMs);
  }
  int listMidiInputs(std::vector<std::string>& names) override {
    return ondelith::listMidiInputs(midi_, names);
  }
  void setMidiDeviceId(int id) override { midi_.midiDeviceId = id; }
  void openMidiInput() override { ondelith::openMidiInput(midi_); }
  void switchMidi(int position) override { switchMidiDevice(midi_, position); }

 private:
  App& app_;
  AudioOutput audio_;
  MidiDevice midi_;
};

}  // namespace ondelith
