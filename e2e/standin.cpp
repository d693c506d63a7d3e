// e2e_standin: the synthesizer's engine behind plain JACK ports, with no
// window, PortAudio or RtMidi. It proves the end-to-end harness (and the
// engine on a real clock) independently of the application's device code:
// a client named "Ondelith" with an audio output "out_0" and a MIDI input
// that, like the application, connects to the first MIDI output port of
// another client found at start-up. Runs until SIGINT/SIGTERM.
#include <jack/midiport.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "app/synth.h"
#include "devices/midi_input.h"
#include "e2e/jack_client.h"
#include "engine/engine.h"
#include "instrument/playback.h"

using namespace ondelith;
using namespace ondelith::e2e;

namespace {

struct Standin {
  jack_client_t* client = nullptr;
  jack_port_t* audio = nullptr;
  jack_port_t* midi = nullptr;
  std::unique_ptr<Synth> synth = std::make_unique<Synth>();
};

int process(jack_nframes_t frames, void* arg) {
  auto& s = *static_cast<Standin*>(arg);
  auto* out = static_cast<float*>(jack_port_get_buffer(s.audio, frames));
  void* in = jack_port_get_buffer(s.midi, frames);
  // Each message lands just before the frame it was timed for.
  Engine& engine = s.synth->engine;
  const uint32_t count = jack_midi_get_event_count(in);
  for (uint32_t k = 0; k < count; ++k) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, in, k) != 0 || event.size == 0 || event.size > 3) continue;
    uint32_t word = 0;
    for (size_t b = 0; b < event.size; ++b) word |= uint32_t{event.buffer[b]} << (8 * b);
    postRendering(engine, midiEvent(engine.frame() + std::min(event.time, frames), word));
  }
  engine.render(out, frames);
  return 0;
}

}  // namespace

int main() {
  constexpr const char* kTool = "e2e_standin";
  stopOnSignals();
  Standin s;
  initSynth(*s.synth);
  s.client = openClient("Ondelith", kTool);
  if (!s.client) return 2;
  if (jack_get_sample_rate(s.client) != 44100) {
    std::fprintf(stderr, "%s: the server must run at 44100 Hz\n", kTool);
    return 2;
  }
  s.audio = jack_port_register(s.client, "out_0", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  s.midi = jack_port_register(s.client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (!s.audio || !s.midi) return 2;
  jack_set_process_callback(s.client, process, &s);
  if (jack_activate(s.client) != 0) return 2;

  const char** sources =
      jack_get_ports(s.client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  const std::string own = std::string(jack_get_client_name(s.client)) + ":";
  for (size_t k = 0; sources && sources[k]; ++k) {
    if (std::strncmp(sources[k], own.c_str(), own.size()) == 0) continue;
    connectPorts(s.client, sources[k], jack_port_name(s.midi), kTool);
    break;
  }
  jack_free(sources);

  while (!stopRequested.load()) usleep(20000);
  if (!serverGone.load()) jack_client_close(s.client);
  return 0;
}
