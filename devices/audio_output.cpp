#include "devices/audio_output.h"

#include <jack/jack.h>
#include <pa_jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "devices/jack_watch.h"
#include "devices/render_callback.h"
#include "engine/engine.h"
#include "platform/quiet_libraries.h"

namespace ondelith {

namespace {

constexpr int kMaxShutdownWaitMs = 2000;  // an aborted stream that never goes inactive

PaError initializeLibrary(AudioOutput& audio) {
  quietSoundLibraries();
  PaJack_SetClientName("Ondelith");
  startCapturingJackClient();
  const PaError result = Pa_Initialize();
  stopCapturingJackClient();
  audio.initialized = result == paNoError;
  return result;
}

void terminateLibrary(AudioOutput& audio) {
  if (!audio.initialized) return;
  Pa_Terminate();
  audio.initialized = false;
}

void closeStream(AudioOutput& audio) {
  if (!audio.stream) return;
  PaStream* stream = audio.stream;
  audio.stream = nullptr;
  audio.rate = 0;
  audio.current = -1;
  withJackWatch([stream] { return Pa_CloseStream(stream); });
}

// What the library's device list depends on that can change while it runs:
// the sound cards and whether a JACK server answers. PortAudio lists devices
// only when it starts, and starting it again interrupts the sound, so it is
// restarted only when this changes.
std::string deviceSignature() {
  std::ostringstream s;
  std::ifstream cards("/proc/asound/cards");
  s << cards.rdbuf();
  jack_status_t status;
  jack_client_t* probe = jack_client_open("Ondelith probe", JackNoStartServer, &status);
  s << "\njack " << (probe != nullptr);
  if (probe) jack_client_close(probe);
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
  return -1;
}

namespace {

void buildList(AudioOutput& audio) {
  audio.signature = deviceSignature();
  audio.devices = buildAudioDeviceList(libraryDevices(), Pa_GetDefaultOutputDevice());
}

}  // namespace

int startAudio(AudioOutput& audio, Engine& engine, const std::string& name,
               const std::string& hostApi) {
  audio.engine = &engine;
  const PaError init = initializeLibrary(audio);
  if (init != paNoError) return init;
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
  const PaError result = withJackWatch([&] {
    return Pa_OpenStream(&stream, nullptr, &p, rate->hz(), paFramesPerBufferUnspecified, paNoFlag,
                         renderCallback, audio.engine);
  });
  if (result != paNoError) {
    // Some host APIs hand back a half-made stream with the error.
    if (stream) withJackWatch([stream] { return Pa_CloseStream(stream); });
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
  if (!audio.stream) return;
  PaStream* stream = audio.stream;
  withJackWatch([stream] { return Pa_StartStream(stream); });
}

int switchAudioDevice(AudioOutput& audio, int k) {
  closeStream(audio);
  // A library whose JACK server went away cannot reach it again, nor a
  // device that appeared after it started; only a fresh start can.
  if (!audio.initialized || jackServerLost() || resolveEntry(audio, k) == paNoDevice) {
    terminateLibrary(audio);
    initializeLibrary(audio);
  }
  const int result = openOutputStream(audio, k);
  if (result == paNoError) startStream(audio);
  return result;
}

bool refreshAudioDevices(AudioOutput& audio) {
  if (audio.initialized && !jackServerLost() && deviceSignature() == audio.signature) return false;
  const bool running = audio.stream != nullptr;
  std::string name, hostApi;
  if (audio.current >= 0 && static_cast<size_t>(audio.current) < audio.devices.name.size()) {
    name = audio.devices.name[static_cast<size_t>(audio.current)];
    hostApi = audio.devices.hostApi[static_cast<size_t>(audio.current)];
  }
  closeStream(audio);
  terminateLibrary(audio);
  if (initializeLibrary(audio) != paNoError) return true;
  buildList(audio);
  const int entry = findAudioEntry(audio.devices, name, hostApi);
  if (running && entry >= 0 && openOutputStream(audio, entry) == paNoError) startStream(audio);
  return true;
}

double outputLatency(const AudioOutput& audio) {
  if (!audio.stream) return 0;
  const PaStreamInfo* info = Pa_GetStreamInfo(audio.stream);
  return info ? info->outputLatency : 0;
}

void stopAudio(AudioOutput& audio, const std::function<void()>& waitOneMs) {
  if (audio.stream) {
    PaStream* stream = audio.stream;
    withJackWatch([stream] { return Pa_AbortStream(stream); });
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
  AudioOutput audio;
  if (initializeLibrary(audio) != paNoError) return {};
  std::vector<std::string> names =
      buildAudioDeviceList(libraryDevices(), Pa_GetDefaultOutputDevice()).name;
  terminateLibrary(audio);
  std::erase(names, std::string());  // the stand-in of an empty list
  return names;
}

std::string audioErrorText(int code) {
  const char* text = Pa_GetErrorText(code);
  return text ? text : "";
}

}  // namespace ondelith
