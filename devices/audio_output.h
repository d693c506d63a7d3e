#pragma once
// Audio output on PortAudio: the list of output devices, the one mono
// float32 stream that renderCallback fills, switching devices, and taking
// the stream down at shutdown. A stream opens at 44100 Hz where the device
// takes it, else at the device's own rate (a JACK or PipeWire server's);
// the engine is then made again at that rate before the stream starts.
// Runs on the UI thread.

#include <portaudio.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace ondelith {

// Output-capable devices: the library's default output device first, then
// every other device with output channels in library order. Never empty:
// with no device it holds one entry with an empty name and index 0.
struct AudioDeviceList {
  std::vector<std::string> name;
  std::vector<double> deviceIndex;  // a whole number: the library's device index
  // The device's host API, so that the device can be found again by name
  // once the library has had to start afresh (after its server went away).
  std::vector<std::string> hostApi;
};

// One device as the library describes it.
struct AudioDeviceInfo {
  std::string name;
  std::string hostApi;
  int maxOutputChannels = 0;
};

// The list from the library's device table (position = device index) and its
// default output device (paNoDevice when it has none).
AudioDeviceList buildAudioDeviceList(const std::vector<AudioDeviceInfo>& devices,
                                     int defaultDevice);

// The entry of the device with this name and host API; failing that, the
// first with this name on any host API; -1 when there is none.
int findAudioEntry(const AudioDeviceList& list, const std::string& name,
                   const std::string& hostApi);

constexpr double kDefaultLatency = 0.075;  // seconds

struct AudioOutput {
  AudioDeviceList devices;
  PaStream* stream = nullptr;  // absent until a device opens
  PaStreamParameters outputParameters{};
  Engine* engine = nullptr;  // handed to renderCallback as its user data
  bool initialized = false;
  double suggestedLatency = kDefaultLatency;  // seconds, for the next open
  double rate = 0;   // the open stream's frames per second; 0 with no stream
  int current = -1;  // the list entry of the open stream
  // Called when a stream has opened at a rate other than the engine's, before
  // it starts: the engine must then be made again at that rate (at the same
  // address, which the stream hands to renderCallback).
  std::function<void(SampleRate)> useRate;
  std::string signature;  // what the device list was built from
};

// Start-up: names the JACK client "Ondelith", Pa_Initialize, builds the list,
// opens (does not start) the stream on the entry named `name` (and
// `hostApi`) when there is one, else on entry 0, else on the next entries in
// order. 0 on success; otherwise the library's error code of the failure
// that ends start-up (Pa_Initialize's, or the last open's).
int startAudio(AudioOutput& audio, Engine& engine, const std::string& name = {},
               const std::string& hostApi = {});

// Opens the stream on list entry k (closing any open stream first); the
// library's result code. A failed open leaves no stream. An entry whose
// device is no longer where the list found it is looked up by name and host
// API; paInvalidDevice when it is gone.
int openOutputStream(AudioOutput& audio, int k);

// Pa_StartStream on the open stream, if any; its result is not checked.
void startStream(AudioOutput& audio);

// The Audio drop-down's action: abort and close the stream, open entry k,
// start it; the open's result code. On failure there is no stream: the
// caller decides whether to go back. The library starts afresh only when
// its JACK server went away or the entry's device cannot be found, so that
// a server that is back can be reached.
int switchAudioDevice(AudioOutput& audio, int k);

// Builds the list again when the machine's sound devices may have changed
// (a card or a JACK server came or went) since it was built, and reopens the
// device in use on the new list. True when the list was built again.
bool refreshAudioDevices(AudioOutput& audio);

// The open stream's output latency as the library reports it, in seconds; 0
// with no stream.
double outputLatency(const AudioOutput& audio);

// Shutdown: abort the stream, wait in 1 ms steps (`waitOneMs` keeps the
// window's own message handling going; empty: sleep) until it is inactive or
// reports an error, 2 s at most, close it, then Pa_Terminate.
void stopAudio(AudioOutput& audio, const std::function<void()>& waitOneMs);

// The library's text for an error code.
std::string audioErrorText(int code);

// The names of the audio outputs, as --audio-out and startAudio take them,
// for a listing: the library is started and ended again. Empty when there
// is none or the library cannot start.
std::vector<std::string> listAudioOutputs();

}  // namespace ondelith
