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
    // A device at another rate: the engine is made again at it, with the
    // stream open but not started.
    audio_.useRate = [this](SampleRate rate) { remakeEngine(app_.synth, rate); };
  }
  int startAudio(const std::string& name, const std::string& hostApi) override {
    return ondelith::startAudio(audio_, app_.synth.engine, name, hostApi);
  }
  std::string audioErrorText(int code) override { return ondelith::audioErrorText(code); }
  std::vector<std::string> audioDeviceNames() override { return audio_.devices.name; }
  std::vector<std::string> audioHostApis() override { return audio_.devices.hostApi; }
  int currentAudioEntry() override { return audio_.current; }
  void startStream() override { ondelith::startStream(audio_); }
  int switchAudio(int entry) override { return switchAudioDevice(audio_, entry); }
  bool refreshAudio() override { return refreshAudioDevices(audio_); }
  void setLatency(double seconds) override { audio_.suggestedLatency = seconds; }
  double outputLatency() override { return ondelith::outputLatency(audio_); }
  void stopAudio(const std::function<void()>& waitOneMs) override {
    ondelith::stopAudio(audio_, waitOneMs);
  }
  int listMidiInputs(std::vector<std::string>& names) override {
    return ondelith::listMidiInputs(midi_, names);
  }
  void setMidiDeviceId(int id) override { midi_.midiDeviceId = id; }
  bool openMidiInput() override { return ondelith::openMidiInput(midi_); }
  int openOwnMidiPort() override { return ondelith::openOwnMidiPort(midi_); }
  bool switchMidi(int position, std::string& reason) override {
    return switchMidiDevice(midi_, position, &reason);
  }

 private:
  App& app_;
  AudioOutput audio_;
  MidiDevice midi_;
};

}  // namespace ondelith
