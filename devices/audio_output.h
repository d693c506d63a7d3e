#pragma once
// The audio output: the program's own JACK client while a JACK server runs,
// and PortAudio for every other output (its JACK host API left unused). The
// list of outputs, the one mono float32 stream that the engine renders,
// switching outputs, and taking them down at shutdown. A PortAudio stream
// opens at 44100 Hz where the device takes it, else at the device's own
// rate (a PipeWire server's); JACK plays at its server's rate. The engine is
// made again at the rate opened before anything renders. Runs on the UI
// thread.

#include <portaudio.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace ondelith {

class JackClient;

// The entry of the program's own JACK client in the list of outputs.
constexpr const char* kJackEntryName = "JACK";
constexpr const char* kJackHostApi = "JACK";

// Output-capable devices: the JACK client when it is open, then the
// library's default output device, then every other device with output
// channels in library order. Never empty: with no device it holds one entry
// with an empty name and index 0.
struct AudioDeviceList {
  std::vector<std::string> name;
  // A whole number: the library's device index; -1 for the JACK client.
  std::vector<double> deviceIndex;
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
// first with this name on any host API; failing that, for a device of the
// JACK host API, the JACK client's; -1 when there is none.
int findAudioEntry(const AudioDeviceList& list, const std::string& name,
                   const std::string& hostApi);

constexpr double kDefaultLatency = 0.075;  // seconds

struct AudioOutput {
  AudioDeviceList devices;
  PaStream* stream = nullptr;  // absent until a device opens
  PaStreamParameters outputParameters{};
  Engine* engine = nullptr;    // handed to renderCallback as its user data
  JackClient* jack = nullptr;  // the program's own JACK client, if it may have one
  bool initialized = false;
  double suggestedLatency = kDefaultLatency;  // seconds, for the next open
  double rate = 0;   // the open stream's frames per second; 0 with no stream
  int current = -1;  // the list entry of the open stream
  // Called when a stream has opened at a rate other than the engine's, before
  // it starts: the engine must then be made again at that rate (at the same
  // address, which the stream hands to renderCallback).
  std::function<void(SampleRate)> useRate;
  std::string signature;  // the sound cards the library's list was built from
};

// Start-up: opens the JACK client when a server runs, Pa_Initialize, builds
// the list, opens (does not start) the output on the entry named `name`
// (and `hostApi`) when there is one, else on entry 0, else on the next
// entries in order. 0 on success; otherwise the library's error code of the
// failure that ends start-up (Pa_Initialize's, or the last open's). When
// the JACK client is the output chosen, the library is left for
// completeAudioList and the list holds the JACK client alone.
int startAudio(AudioOutput& audio, Engine& engine, const std::string& name = {},
               const std::string& hostApi = {});

// After start-up: the library's outputs added behind the JACK client that
// plays on untouched, when startAudio left them out; true when the list grew.
bool completeAudioList(AudioOutput& audio);

// Opens the output on list entry k (closing or silencing the one open
// first); the library's result code. A failed open leaves no output. An
// entry whose device is no longer where the list found it is looked up by
// name and host API; paInvalidDevice when it is gone. The JACK client's
// entry only makes the engine ready for it.
int openOutputStream(AudioOutput& audio, int k);

// Pa_StartStream on the open stream, if any (its result is not checked), or
// the JACK client renders.
void startStream(AudioOutput& audio);

// The Audio drop-down's action: abort and close the stream, open entry k,
// start it; the open's result code. On failure there is no stream: the
// caller decides whether to go back. The library starts afresh only when the
// entry's device cannot be found. The JACK client that is playing already
// plays on untouched.
int switchAudioDevice(AudioOutput& audio, int k);

// Builds the list again when the machine's sound devices may have changed
// (a card or a JACK server came or went) since it was built, and reopens the
// device in use on the new list (the JACK client too, when its server is
// back). True when the list was built again.
bool refreshAudioDevices(AudioOutput& audio);

// Whether the program's own JACK client is the output in use.
bool playsThroughJack(const AudioOutput& audio);

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
// for a listing ("JACK" first when a server runs): the library is started
// and ended again. Empty when there is none.
std::vector<std::string> listAudioOutputs();

}  // namespace ondelith
