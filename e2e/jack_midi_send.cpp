// jack_midi_send: a JACK client with one MIDI output port that sends the
// short messages it is told on standard input, each in the next process
// cycle at offset 0, and prints the JACK frame time at which it went out:
//   on NOTE VELOCITY   ->  sent on NOTE VELOCITY frame=N
//   off NOTE [VEL]     ->  sent off NOTE frame=N
//   raw B0 [B1 [B2]]   ->  sent raw ... frame=N   (hexadecimal bytes)
//   time               ->  time frame=N   (the current frame time, nothing sent)
//   quit (or end of input)
// Prints "ready" once its port exists and is connected.
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <iostream>
#include <sstream>
#include <vector>

#include "e2e/jack_client.h"

using namespace ondelith::e2e;

namespace {

constexpr const char* kTool = "jack_midi_send";

struct Message {
  std::array<unsigned char, 3> bytes{};
  uint32_t size = 0;
};

struct Sender {
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  jack_ringbuffer_t* outbox = nullptr;  // Message, main thread to process thread
  jack_ringbuffer_t* sent = nullptr;    // jack_nframes_t, process thread to main thread
};

int process(jack_nframes_t frames, void* arg) {
  auto& s = *static_cast<Sender*>(arg);
  void* buffer = jack_port_get_buffer(s.port, frames);
  jack_midi_clear_buffer(buffer);
  const jack_nframes_t now = jack_last_frame_time(s.client);
  Message m;
  while (jack_ringbuffer_read_space(s.outbox) >= sizeof m &&
         jack_ringbuffer_write_space(s.sent) >= sizeof now) {
    jack_ringbuffer_read(s.outbox, reinterpret_cast<char*>(&m), sizeof m);
    jack_midi_event_write(buffer, 0, m.bytes.data(), m.size);
    jack_ringbuffer_write(s.sent, reinterpret_cast<const char*>(&now), sizeof now);
  }
  return 0;
}

// Parses one command line into a message; false with a reason otherwise.
bool parse(const std::string& line, int channel, Message& m, std::string& reason) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  const auto status = [channel](int kind) { return static_cast<unsigned char>(kind | channel); };
  const auto dataByte = [](int v) { return v >= 0 && v <= 127; };
  if (verb == "on" || verb == "off") {
    std::vector<int> values;
    for (int v; in >> v;) values.push_back(v);
    if (verb == "off" && values.size() == 1) values.push_back(0);
    if (!in.eof() || values.size() != 2 || !dataByte(values[0]) || !dataByte(values[1])) {
      reason = "expected '" + verb + " NOTE" + (verb == "on" ? " VELOCITY'" : " [VELOCITY]'");
      return false;
    }
    m.bytes = {status(verb == "on" ? 0x90 : 0x80), static_cast<unsigned char>(values[0]),
               static_cast<unsigned char>(values[1])};
    m.size = 3;
    return true;
  }
  if (verb == "raw") {
    m.size = 0;
    unsigned value = 0;
    bool valid = true;
    while (in >> std::hex >> value) {
      valid = valid && m.size < 3 && value <= 0xFF;
      if (valid) m.bytes[m.size++] = static_cast<unsigned char>(value);
    }
    if (!valid || !in.eof() || m.size == 0 || !(m.bytes[0] & 0x80)) {
      reason = "expected 'raw STATUS [DATA [DATA]]' in hexadecimal";
      return false;
    }
    return true;
  }
  reason = "unknown command '" + verb + "'";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = "e2e_midi_send";
  std::vector<std::string> destinations;
  int channel = 1;
  CLI::App app{"Sends MIDI messages read from standard input through a JACK MIDI port."};
  app.name(kTool);
  app.add_option("--name", name, "JACK client name")->default_val(name);
  app.add_option("--connect", destinations, "MIDI input port(s) to connect to");
  app.add_option("--channel", channel, "MIDI channel for on/off")
      ->default_val(1)
      ->check(CLI::Range(1, 16));
  CLI11_PARSE(app, argc, argv);
  stopOnSignals();

  Sender s;
  s.client = openClient(name, kTool);
  if (!s.client) return 2;
  s.port = jack_port_register(s.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  s.outbox = jack_ringbuffer_create(64 * sizeof(Message));
  s.sent = jack_ringbuffer_create(64 * sizeof(jack_nframes_t));
  if (!s.port || !s.outbox || !s.sent) {
    std::fprintf(stderr, "%s: cannot register the port\n", kTool);
    return 2;
  }
  jack_set_process_callback(s.client, process, &s);
  if (jack_activate(s.client) != 0) {
    std::fprintf(stderr, "%s: cannot activate\n", kTool);
    return 2;
  }
  for (const auto& destination : destinations)
    if (!connectPorts(s.client, jack_port_name(s.port), destination, kTool)) return 2;
  std::printf("ready\n");
  std::fflush(stdout);

  int status = 0;
  std::string line;
  while (!stopRequested.load() && std::getline(std::cin, line)) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    if (line.compare(first, 4, "quit") == 0) break;
    if (line.compare(first, 4, "time") == 0) {
      std::printf("time frame=%u\n", jack_frame_time(s.client));
      std::fflush(stdout);
      continue;
    }
    Message m;
    std::string reason;
    if (!parse(line, channel - 1, m, reason)) {
      std::fprintf(stderr, "%s: %s\n", kTool, reason.c_str());
      status = 1;
      continue;
    }
    jack_ringbuffer_write(s.outbox, reinterpret_cast<const char*>(&m), sizeof m);
    // One message at a time, so each line of output answers one command.
    jack_nframes_t frame = 0;
    while (jack_ringbuffer_read_space(s.sent) < sizeof frame && !stopRequested.load()) usleep(500);
    if (stopRequested.load()) break;
    jack_ringbuffer_read(s.sent, reinterpret_cast<char*>(&frame), sizeof frame);
    std::printf("sent %s frame=%u\n", line.c_str() + first, frame);
    std::fflush(stdout);
  }
  if (serverGone.load()) {
    std::fprintf(stderr, "%s: the JACK server went away\n", kTool);
    return 3;
  }
  jack_client_close(s.client);
  return status;
}
