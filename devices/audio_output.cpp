#include "devices/audio_output.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <jack/jack.h>
#include <pa_jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <thread>

#include "devices/render_callback.h"
#include "engine/engine.h"

// PortAudio's JACK host API (19.6) stops and opens streams by waiting up to
// ten minutes for a process cycle of its JACK client, and its clean-up
// asserts that port and client calls succeed. Once the JACK server has gone
// away neither holds: stopping the dead stream hangs, closing it aborts the
// process. So the library's JACK client is watched here: its shutdown notice
// is kept, sent again while a stream call waits for a cycle that will never
// come, and the clean-up calls on the dead client are let through.
namespace {

struct JackWatch {
  std::atomic<jack_client_t*> client{nullptr};
  std::atomic<JackShutdownCallback> callback{nullptr};
  std::atomic<void*> arg{nullptr};
  std::atomic<bool> down{false};
};

JackWatch jackWatch;
// Only the library's own client is watched: the one it registers while this
// thread initialises it.
thread_local bool capturing = false;

template <typename F>
F realJack(const char* symbol) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, symbol));
}

void onJackShutdown(void*) {
  jackWatch.down.store(true);
  if (auto cb = jackWatch.callback.load()) cb(jackWatch.arg.load());
}

bool isDeadClient(jack_client_t* client) {
  return client && client == jackWatch.client.load() && jackWatch.down.load();
}

}  // namespace

extern "C" {

void jack_on_shutdown(jack_client_t* client, JackShutdownCallback function, void* arg) {
  static const auto real =
      realJack<void (*)(jack_client_t*, JackShutdownCallback, void*)>("jack_on_shutdown");
  if (!real) return;
  if (!capturing) {
    real(client, function, arg);
    return;
  }
  jackWatch.callback.store(function);
  jackWatch.arg.store(arg);
  jackWatch.down.store(false);
  jackWatch.client.store(client);
  real(client, onJackShutdown, nullptr);
}

int jack_port_unregister(jack_client_t* client, jack_port_t* port) {
  static const auto real = realJack<int (*)(jack_client_t*, jack_port_t*)>("jack_port_unregister");
  if (isDeadClient(client)) return 0;  // the server took the port with it
  return real ? real(client, port) : -1;
}

int jack_deactivate(jack_client_t* client) {
  static const auto real = realJack<int (*)(jack_client_t*)>("jack_deactivate");
  if (isDeadClient(client)) return 0;
  return real ? real(client) : -1;
}

int jack_client_close(jack_client_t* client) {
  static const auto real = realJack<int (*)(jack_client_t*)>("jack_client_close");
  const bool dead = isDeadClient(client);
  const int result = real ? real(client) : -1;
  if (client && client == jackWatch.client.load()) {
    jackWatch.client.store(nullptr);
    jackWatch.callback.store(nullptr);
    jackWatch.down.store(false);
  }
  return dead ? 0 : result;  // the client's memory is released all the same
}

}  // extern "C"

namespace ondelith {

namespace {

constexpr double kSuggestedLatency = 0.075;
constexpr int kMaxShutdownWaitMs = 2000;  // an aborted stream that never goes inactive

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

// The library's chatter about absent sound cards and servers has no reader.
void silenceLibraries() {
  snd_lib_error_set_handler(quietAlsa);
  jack_set_error_function(quietJack);
  jack_set_info_function(quietJack);
}

// Runs a library call that may wait for a JACK cycle; if the server is gone,
// or goes while it waits, the kept shutdown notice ends the wait.
template <typename F>
PaError withJackWatch(F call) {
  std::atomic<bool> done{false};
  std::thread waker([&done] {
    while (!done.load()) {
      if (jackWatch.down.load()) {
        if (auto cb = jackWatch.callback.load()) cb(jackWatch.arg.load());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const PaError result = call();
  done.store(true);
  waker.join();
  return result;
}

PaError initializeLibrary(AudioOutput& audio) {
  silenceLibraries();
  PaJack_SetClientName("Ondelith");
  capturing = true;
  const PaError result = Pa_Initialize();
  capturing = false;
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
  withJackWatch([stream] { return Pa_CloseStream(stream); });
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

int startAudio(AudioOutput& audio, Engine& engine) {
  audio.engine = &engine;
  const PaError init = initializeLibrary(audio);
  if (init != paNoError) return init;
  audio.devices = buildAudioDeviceList(libraryDevices(), Pa_GetDefaultOutputDevice());
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
  p.suggestedLatency = kSuggestedLatency;
  p.hostApiSpecificStreamInfo = nullptr;
  PaStream* stream = nullptr;
  const PaError result = withJackWatch([&] {
    return Pa_OpenStream(&stream, nullptr, &p, audio.engine->rate.hz(),
                         paFramesPerBufferUnspecified, paNoFlag, renderCallback, audio.engine);
  });
  if (result != paNoError) {
    // Some host APIs hand back a half-made stream with the error.
    if (stream) withJackWatch([stream] { return Pa_CloseStream(stream); });
    return result;
  }
  audio.stream = stream;
  return paNoError;
}

void startStream(AudioOutput& audio) {
  if (!audio.stream) return;
  PaStream* stream = audio.stream;
  withJackWatch([stream] { return Pa_StartStream(stream); });
}

void switchAudioDevice(AudioOutput& audio, int k) {
  closeStream(audio);
  // A library whose JACK server went away cannot reach it again, nor a
  // device that appeared after it started; only a fresh start can.
  if (!audio.initialized || jackWatch.down.load() || resolveEntry(audio, k) == paNoDevice) {
    terminateLibrary(audio);
    initializeLibrary(audio);
  }
  if (openOutputStream(audio, k) == paNoError) startStream(audio);
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

std::string audioErrorText(int code) {
  const char* text = Pa_GetErrorText(code);
  return text ? text : "";
}

}  // namespace ondelith
