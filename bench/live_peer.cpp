// A trivial JACK client for the live runs: a sine on "out" (to the first
// playback port), and, given a target port, a note every so often on "notes"
// connected to it. It counts the xruns the server reports to it.
//   live_peer NAME [MIDI-TARGET-PORT] [NOTE-MS]
// Ends on SIGINT or SIGTERM, printing "xruns N".
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> running{true};
std::atomic<int> xruns{0};

struct Peer {
  jack_port_t* out = nullptr;
  jack_port_t* notes = nullptr;
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
  if (!p->notes) return 0;
  void* midi = jack_port_get_buffer(p->notes, frames);
  jack_midi_clear_buffer(midi);
  if (p->framesPerNote == 0) return 0;
  if (p->untilNext >= frames) {
    p->untilNext -= frames;
    return 0;
  }
  // Alternately a key's press and its release, walking up two octaves.
  const jack_midi_data_t message[3] = {
      static_cast<jack_midi_data_t>(p->down ? 0x80 : 0x90), static_cast<jack_midi_data_t>(p->key),
      100};
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

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: live_peer NAME [MIDI-TARGET-PORT] [NOTE-MS]\n");
    return 2;
  }
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
  const bool playsNotes = argc > 2;
  if (playsNotes) {
    peer.notes = jack_port_register(client, "notes", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    const double noteMs = argc > 3 ? std::atof(argv[3]) : 250.0;
    peer.framesPerNote = static_cast<jack_nframes_t>(std::max(1.0, noteMs * rate / 1000.0));
  }
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
  // The target may not be there yet: the program starts beside us.
  bool connected = !playsNotes;
  while (running.load()) {
    if (!connected && jack_port_by_name(client, argv[2]))
      connected = jack_connect(client, jack_port_name(peer.notes), argv[2]) == 0;
    usleep(50000);
  }
  jack_deactivate(client);
  jack_client_close(client);
  std::printf("xruns %d\n", xruns.load());
  return 0;
}
