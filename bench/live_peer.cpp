// A trivial JACK client for the live runs: a sine on "out" (to the first
// playback port) and nothing else, unless asked for more:
//   live_peer NAME [notes=PORT] [every=MS] [listen=PORT]
// notes=: a key's press or release every MS ms (250) on "notes", connected
// to PORT; listen=: "in" connected from PORT, counting the samples heard
// that are not silent. Ends on SIGINT or SIGTERM, printing "xruns N" (as
// the server reported them to it) and, listening, "heard N".
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> running{true};
std::atomic<int> xruns{0};
std::atomic<long> heard{0};

struct Peer {
  jack_port_t* out = nullptr;
  jack_port_t* notes = nullptr;
  jack_port_t* in = nullptr;
  double phase = 0, step = 0;
  jack_nframes_t framesPerNote = 0;  // 0: no notes
  jack_nframes_t untilNext = 0;
  int key = 48;
  bool down = false;
};

int process(jack_nframes_t frames, void* arg) {
  auto* p = static_cast<Peer*>(arg);
  auto* out = static_cast<float*>(jack_port_get_buffer(p->out, frames));
  for (jack_nframes_t i = 0; i < frames; ++i) {
    out[i] = 0.1f * static_cast<float>(std::sin(p->phase));
    p->phase = std::fmod(p->phase + p->step, 2 * M_PI);
  }
  if (p->in) {
    const auto* in = static_cast<const float*>(jack_port_get_buffer(p->in, frames));
    long loud = 0;
    for (jack_nframes_t i = 0; i < frames; ++i) loud += in[i] != 0.0f;
    heard.fetch_add(loud, std::memory_order_relaxed);
  }
  if (!p->notes) return 0;
  void* midi = jack_port_get_buffer(p->notes, frames);
  jack_midi_clear_buffer(midi);
  if (p->framesPerNote == 0) return 0;
  if (p->untilNext >= frames) {
    p->untilNext -= frames;
    return 0;
  }
  // Alternately a key's press and its release, walking up two octaves.
  const jack_midi_data_t message[3] = {static_cast<jack_midi_data_t>(p->down ? 0x80 : 0x90),
                                       static_cast<jack_midi_data_t>(p->key), 100};
  jack_midi_event_write(midi, p->untilNext, message, 3);
  if (p->down) p->key = p->key >= 72 ? 48 : p->key + 1;
  p->down = !p->down;
  p->untilNext += p->framesPerNote - frames;
  return 0;
}

int onXrun(void*) {
  xruns.fetch_add(1);
  return 0;
}

void stop(int) { running.store(false); }

}  // namespace

// The value of "key=value" among the arguments, or empty.
std::string option(int argc, char** argv, const std::string& key) {
  for (int i = 2; i < argc; ++i)
    if (std::string(argv[i]).starts_with(key + "=")) return argv[i] + key.size() + 1;
  return {};
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: live_peer NAME [notes=PORT] [every=MS] [listen=PORT]\n");
    return 2;
  }
  const std::string target = option(argc, argv, "notes");
  const std::string source = option(argc, argv, "listen");
  const std::string every = option(argc, argv, "every");
  jack_status_t status{};
  jack_client_t* client = jack_client_open(argv[1], JackNoStartServer, &status);
  if (!client) {
    std::fprintf(stderr, "live_peer: no JACK server\n");
    return 1;
  }
  Peer peer;
  const double rate = jack_get_sample_rate(client);
  peer.step = 2 * M_PI * 220.0 / rate;
  peer.out = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (!target.empty()) {
    peer.notes = jack_port_register(client, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    const double noteMs = every.empty() ? 250.0 : std::atof(every.c_str());
    peer.framesPerNote = static_cast<jack_nframes_t>(std::max(1.0, noteMs * rate / 1000.0));
  }
  if (!source.empty())
    peer.in = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client, process, &peer);
  jack_set_xrun_callback(client, onXrun, nullptr);
  signal(SIGINT, stop);
  signal(SIGTERM, stop);
  if (jack_activate(client) != 0) return 1;
  if (const char** playback = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                             JackPortIsPhysical | JackPortIsInput)) {
    if (playback[0]) jack_connect(client, jack_port_name(peer.out), playback[0]);
    jack_free(playback);
  }
  // The other ports may not be there yet: the program starts beside us.
  bool notesConnected = target.empty(), inConnected = source.empty();
  while (running.load()) {
    if (!notesConnected && jack_port_by_name(client, target.c_str()))
      notesConnected = jack_connect(client, jack_port_name(peer.notes), target.c_str()) == 0;
    if (!inConnected && jack_port_by_name(client, source.c_str()))
      inConnected = jack_connect(client, source.c_str(), jack_port_name(peer.in)) == 0;
    usleep(50000);
  }
  jack_deactivate(client);
  jack_client_close(client);
  std::printf("xruns %d\n", xruns.load());
  if (peer.in) std::printf("heard %ld\n", heard.load());
  return 0;
}
