#include "devices/audio_output.h"

#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "devices/jack_client.h"
#include "devices/render_callback.h"
#include "engine/engine.h"
#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

constexpr int kMaxShutdownWaitMs = 2000;  // an aborted stream that never goes inactive

// PortAudio's JACK host API would open a JACK client of its own beside the
// program's, and reopen its ports at every stream it opens: while the
// library starts, it is shown a server name that no server has, and so
// finds no JACK. This runs on the UI thread while no other thread of the
// program reads the environment.
PaError initializeWithoutJack() {
  constexpr const char* kServerVariable = "JACK_DEFAULT_SERVER";
  const char* was = std::getenv(kServerVariable);
  const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
  const std::string none = "ondelith-no-server-" + std::to_string(getpid());
  setenv(kServerVariable, none.c_str(), 1);
  const PaError result = Pa_Initialize();
  if (saved)
    setenv(kServerVariable, saved->c_str(), 1);
  else
    unsetenv(kServerVariable);
  return result;
}

PaError initializeLibrary(AudioOutput& audio) {
  quietSoundLibraries();
  const PaError result = initializeWithoutJack();
  audio.initialized = result == paNoError;
  return result;
}

void terminateLibrary(AudioOutput& audio) {
  if (!audio.initialized) return;
  Pa_Terminate();
  audio.initialized = false;
}

bool isJackEntry(const AudioOutput& audio, int k) {
  return k >= 0 && static_cast<size_t>(k) < audio.devices.deviceIndex.size() &&
         audio.devices.deviceIndex[static_cast<size_t>(k)] < 0;
}

bool jackIsCurrent(const AudioOutput& audio) { return isJackEntry(audio, audio.current); }

bool listHasJack(const AudioOutput& audio) {
  for (double index : audio.devices.deviceIndex)
    if (index < 0) return true;
  return false;
}

// Stops whatever plays the engine: the PortAudio stream is closed, the JACK
// client's output falls silent (its ports stay).
void closeStream(AudioOutput& audio) {
  if (jackIsCurrent(audio) && audio.jack) audio.jack->stopRendering();
  if (audio.stream) {
    PaStream* stream = audio.stream;
    audio.stream = nullptr;
    Pa_CloseStream(stream);
  }
  audio.rate = 0;
  audio.current = -1;
}

// What the library's device list depends on that can change while it runs:
// the sound cards. PortAudio lists devices only when it starts, and
// starting it again interrupts the sound, so it is restarted only when this
// changes. A JACK server's coming and going is the JACK client's to see.
std::string deviceSignature() {
  std::ostringstream s;
  std::ifstream cards("/proc/asound/cards");
  s << cards.rdbuf();
  return s.str();
}

std::vector<AudioDeviceInfo> libraryDevices() {
  std::vector<AudioDeviceInfo> devices;
  const int count = Pa_GetDeviceCount();
  for (int i = 0; i < count; ++i) {
    AudioDeviceInfo d;
    if (const PaDeviceInfo* info = Pa_GetDeviceInfo(i)) {
      d.name = info->name ? info->name : "";
      d.maxOutputChannels = info->maxOutputChannels;
      if (const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi))
        d.hostApi = api->name ? api->name : "";
    }
    devices.push_back(std::move(d));
  }
  return devices;
}

bool sameDevice(int index, const std::string& name, const std::string& hostApi) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
  if (!info || info->maxOutputChannels <= 0 || !info->name || name != info->name) return false;
  const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
  return api && api->name && hostApi == api->name;
}

// The library's current index of list entry k, or paNoDevice when it is gone.
int resolveEntry(const AudioOutput& audio, int k) {
  const AudioDeviceList& list = audio.devices;
  if (k < 0 || static_cast<size_t>(k) >= list.deviceIndex.size()) return paNoDevice;
  const int stored = static_cast<int>(std::nearbyint(list.deviceIndex[k]));
  const std::string& name = list.name[k];
  // The placeholder of a system without output devices names no device.
  if (name.empty()) return stored;
  const std::string hostApi = static_cast<size_t>(k) < list.hostApi.size() ? list.hostApi[k] : "";
  if (sameDevice(stored, name, hostApi)) return stored;
  const int count = Pa_GetDeviceCount();
  for (int i = 0; i < count; ++i)
    if (sameDevice(i, name, hostApi)) return i;
  return paNoDevice;
}

}  // namespace

AudioDeviceList buildAudioDeviceList(const std::vector<AudioDeviceInfo>& devices,
                                     int defaultDevice) {
  AudioDeviceList list;
  auto add = [&](int i) {
    list.name.push_back(devices[i].name);
    list.deviceIndex.push_back(i);
    list.hostApi.push_back(devices[i].hostApi);
  };
  const int count = static_cast<int>(devices.size());
  const bool hasDefault =
      defaultDevice >= 0 && defaultDevice < count && devices[defaultDevice].maxOutputChannels > 0;
  if (hasDefault) add(defaultDevice);
  for (int i = 0; i < count; ++i)
    if (devices[i].maxOutputChannels > 0 && !(hasDefault && i == defaultDevice)) add(i);
  if (list.name.empty()) {
    list.name.push_back("");
    list.deviceIndex.push_back(0);
    list.hostApi.push_back("");
  }
  return list;
}

int findAudioEntry(const AudioDeviceList& list, const std::string& name,
                   const std::string& hostApi) {
  if (name.empty()) return -1;
  for (size_t k = 0; k < list.name.size(); ++k)
    if (list.name[k] == name && k < list.hostApi.size() && list.hostApi[k] == hostApi)
      return static_cast<int>(k);
  for (size_t k = 0; k < list.name.size(); ++k)
    if (list.name[k] == name) return static_cast<int>(k);
  // A device of PortAudio's JACK host API, as earlier versions kept it, is
  // the program's own JACK client now.
  if (hostApi == kJackHostApi)
    for (size_t k = 0; k < list.name.size(); ++k)
      if (list.deviceIndex[k] < 0) return static_cast<int>(k);
  return -1;
}

namespace {

// PortAudio's outputs, behind the JACK client's when it is open.
void buildList(AudioOutput& audio) {
  audio.signature = deviceSignature();
  AudioDeviceList list;
  if (audio.initialized)
    list = buildAudioDeviceList(libraryDevices(), Pa_GetDefaultOutputDevice());
  else
    list = buildAudioDeviceList({}, paNoDevice);
  if (audio.jack && audio.jack->isOpen()) {
    if (list.name.size() == 1 && list.name[0].empty()) list = {};  // the stand-in goes
    list.name.insert(list.name.begin(), kJackEntryName);
    list.deviceIndex.insert(list.deviceIndex.begin(), -1);
    list.hostApi.insert(list.hostApi.begin(), kJackHostApi);
  }
  audio.devices = std::move(list);
}

// The JACK client as the output: the engine made at the server's rate, not
// rendering yet.
int openJackOutput(AudioOutput& audio, int k) {
  if (!audio.jack || !audio.jack->open()) return paDeviceUnavailable;
  const std::optional<SampleRate> rate = SampleRate::of(audio.jack->rate());
  if (!rate) return paInvalidSampleRate;
  audio.current = k;
  audio.rate = rate->hz();
  if (rate->hz() != audio.engine->rate.hz() && audio.useRate) audio.useRate(*rate);
  return paNoError;
}

}  // namespace

int startAudio(AudioOutput& audio, Engine& engine, const std::string& name,
               const std::string& hostApi) {
  audio.engine = &engine;
  if (audio.jack) audio.jack->open();
  // Playing through the JACK client, the library's outputs are listed once
  // the window is up (completeAudioList): starting the library probes every
  // sound card and sound server, and the first sound needs none of them.
  if (audio.jack && audio.jack->isOpen()) {
    buildList(audio);
    if ((name.empty() || findAudioEntry(audio.devices, name, hostApi) == 0) &&
        openOutputStream(audio, 0) == paNoError)
      return paNoError;
  }
  const PaError init = initializeLibrary(audio);
  // With a JACK server the program plays without the library.
  if (init != paNoError && !(audio.jack && audio.jack->isOpen())) return init;
  buildList(audio);
  const int preferred = findAudioEntry(audio.devices, name, hostApi);
  if (preferred >= 0 && openOutputStream(audio, preferred) == paNoError) return paNoError;
  PaError result = paInvalidDevice;
  for (size_t k = 0; k < audio.devices.name.size(); ++k) {
    result = openOutputStream(audio, static_cast<int>(k));
    if (result == paNoError) break;
  }
  return result;
}

int openOutputStream(AudioOutput& audio, int k) {
  closeStream(audio);
  if (isJackEntry(audio, k)) return openJackOutput(audio, k);
  if (!audio.initialized) return paNotInitialized;
  const int device = resolveEntry(audio, k);
  if (device == paNoDevice) return paInvalidDevice;
  PaStreamParameters& p = audio.outputParameters;
  p.device = device;
  p.channelCount = 1;
  p.sampleFormat = paFloat32;
  p.suggestedLatency = audio.suggestedLatency;
  p.hostApiSpecificStreamInfo = nullptr;
  // 44100 Hz where the device takes it; a sound server takes only its own rate.
  double hz = kDefaultSampleRate;
  if (Pa_IsFormatSupported(nullptr, &p, hz) != paFormatIsSupported) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) return paInvalidDevice;
    hz = info->defaultSampleRate;
  }
  const std::optional<SampleRate> rate = SampleRate::of(hz);
  if (!rate) return paInvalidSampleRate;
  PaStream* stream = nullptr;
  const PaError result =
      Pa_OpenStream(&stream, nullptr, &p, rate->hz(), paFramesPerBufferUnspecified, paNoFlag,
                    renderCallback, audio.engine);
  if (result != paNoError) {
    // Some host APIs hand back a half-made stream with the error.
    if (stream) Pa_CloseStream(stream);
    return result;
  }
  audio.stream = stream;
  audio.rate = rate->hz();
  audio.current = k;
  // Not started yet: nothing renders while the engine is made again.
  if (rate->hz() != audio.engine->rate.hz() && audio.useRate) audio.useRate(*rate);
  return paNoError;
}

void startStream(AudioOutput& audio) {
  if (jackIsCurrent(audio) && audio.jack && audio.engine) {
    audio.jack->startRendering(*audio.engine);
    return;
  }
  if (audio.stream) Pa_StartStream(audio.stream);
}

int switchAudioDevice(AudioOutput& audio, int k) {
  // The JACK client playing already: its ports and their connections stay
  // just as they are, whatever asked for the switch (a new latency too:
  // the server's period is not the program's to choose).
  if (isJackEntry(audio, k) && audio.current == k && audio.jack && audio.jack->isOpen() &&
      audio.jack->rendering())
    return paNoError;
  closeStream(audio);
  // A device that appeared after the library started can only be found by
  // starting it afresh.
  if (!isJackEntry(audio, k) && (!audio.initialized || resolveEntry(audio, k) == paNoDevice)) {
    terminateLibrary(audio);
    initializeLibrary(audio);
  }
  const int result = openOutputStream(audio, k);
  if (result == paNoError) startStream(audio);
  return result;
}

bool completeAudioList(AudioOutput& audio) {
  if (audio.initialized || !jackIsCurrent(audio)) return false;
  if (initializeLibrary(audio) != paNoError) return false;
  buildList(audio);  // the JACK client's entry stays first, and current
  return true;
}

bool refreshAudioDevices(AudioOutput& audio) {
  std::string name, hostApi;
  if (audio.current >= 0 && static_cast<size_t>(audio.current) < audio.devices.name.size()) {
    name = audio.devices.name[static_cast<size_t>(audio.current)];
    hostApi = audio.devices.hostApi[static_cast<size_t>(audio.current)];
  }
  const bool jackPlaying = jackIsCurrent(audio);
  bool jackChanged = false;
  if (audio.jack) {
    // A server that went away, or one that started (again) since.
    const bool lost = audio.jack->serverLost();
    if (lost && jackPlaying) closeStream(audio);
    audio.jack->open();
    jackChanged = lost || listHasJack(audio) != audio.jack->isOpen();
  }
  const bool cardsChanged = !audio.initialized || deviceSignature() != audio.signature;
  if (!jackChanged && !cardsChanged) return false;
  const bool streaming = audio.stream != nullptr;
  if (cardsChanged) {
    if (!jackPlaying) closeStream(audio);
    terminateLibrary(audio);
    initializeLibrary(audio);
  }
  buildList(audio);
  const int entry = findAudioEntry(audio.devices, name, hostApi);
  if (jackPlaying && audio.jack && audio.jack->rendering()) {
    audio.current = entry;  // the JACK client played on throughout
  } else if ((streaming || jackPlaying) && entry >= 0 &&
             openOutputStream(audio, entry) == paNoError) {
    startStream(audio);
  }
  return true;
}

bool playsThroughJack(const AudioOutput& audio) { return jackIsCurrent(audio); }

double outputLatency(const AudioOutput& audio) {
  if (jackIsCurrent(audio)) return audio.jack ? audio.jack->outputLatency() : 0;
  if (!audio.stream) return 0;
  const PaStreamInfo* info = Pa_GetStreamInfo(audio.stream);
  return info ? info->outputLatency : 0;
}

void stopAudio(AudioOutput& audio, const std::function<void()>& waitOneMs) {
  if (jackIsCurrent(audio)) closeStream(audio);
  if (audio.stream) {
    PaStream* stream = audio.stream;
    Pa_AbortStream(stream);
    for (int waited = 0; Pa_IsStreamActive(stream) == 1 && waited < kMaxShutdownWaitMs; ++waited) {
      if (waitOneMs)
        waitOneMs();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    closeStream(audio);
  }
  terminateLibrary(audio);
}

std::vector<std::string> listAudioOutputs() {
  std::vector<std::string> names;
  // A JACK server answering: the program's own client would play there.
  quietSoundLibraries();
  jack_status_t status{};
  if (jack_client_t* probe = jack_client_open("Ondelith list", JackNoStartServer, &status)) {
    jack_client_close(probe);
    names.push_back(kJackEntryName);
  }
  AudioOutput audio;
  if (initializeLibrary(audio) == paNoError) {
    for (std::string& name :
         buildAudioDeviceList(libraryDevices(), Pa_GetDefaultOutputDevice()).name)
      if (!name.empty()) names.push_back(std::move(name));  // not the stand-in of an empty list
    terminateLibrary(audio);
  }
  return names;
}

std::string audioErrorText(int code) {
  const char* text = Pa_GetErrorText(code);
  return text ? text : "";
}

}  // namespace ondelith
