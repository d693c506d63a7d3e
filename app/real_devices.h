#pragma once
// The devices of the running program: its own JACK client while a JACK
// server runs, PortAudio for every other output, and the ALSA sequencer's
// MIDI ports on RtMidi.

#include "app/app.h"
#include "devices/audio_output.h"
#include "devices/jack_client.h"
#include "devices/jack_watch.h"
#include "devices/midi_device.h"

namespace ondelith {

class RealDevices : public Devices {
 public:
  RealDevices(App& app) : app_(app), jack_(app.synth.midi), midi_(app.synth.midi, &jack_) {
    audio_.jack = &jack_;
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
  bool completeAudioList() override { return ondelith::completeAudioList(audio_); }
  void setLatency(double seconds) override { audio_.suggestedLatency = seconds; }
  double outputLatency() override { return ondelith::outputLatency(audio_); }
  void stopAudio(const std::function<void()>& waitOneMs) override {
    ondelith::stopAudio(audio_, waitOneMs);
    jack_.close();
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
  void setJackConnections(const std::optional<JackConnections>& c) override {
    jack_.remember(c.has_value(), c ? c->output : std::vector<std::string>{},
                   c ? c->midiIn : std::vector<std::string>{});
  }
  // A debug run's measure of the JACK client's cycles.
  void timeCallbacks(CallbackTimes* times) { jack_.timeCallbacks(times); }
  std::optional<JackConnections> changedJackConnections() override {
    if (!jack_.updateRemembered()) return std::nullopt;
    return JackConnections{jack_.rememberedOutput(), jack_.rememberedMidi()};
  }
  std::optional<std::string> watchDevices(int64_t nowMs) override {
    showMidiStatus(midi_, nowMs);
    switch (watchJackServer(jackWatch_, audio_, midi_, nowMs)) {
      case JackChange::Gone: return std::string(kJackGoneNotice);
      case JackChange::Back: return std::string(kJackBackNotice);
      case JackChange::None: break;
    }
    return std::nullopt;
  }

 private:
  App& app_;
  JackClient jack_;
  AudioOutput audio_;
  MidiDevice midi_;
  JackWatch jackWatch_;
};

}  // namespace ondelith
