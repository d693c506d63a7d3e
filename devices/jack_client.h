#pragma once
// The program's own JACK client, "Ondelith", while a JACK server runs: the
// mono audio output "out" and the MIDI input "MIDI In", registered once and
// kept while the client lives, so their names never change and what the
// player connects to them stays connected, whichever output the window
// plays through. The output plays the engine when it is the chosen output
// and silence otherwise; "MIDI In" always plays into the note entry, each
// message at its frame within the cycle when this client renders. A MIDI
// device chosen in the window is connected to "MIDI In" too.
//
// Everything here runs on the UI thread, but the process callback, which
// runs on JACK's thread and neither allocates, locks nor waits.

#include <jack/jack.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "devices/callback_times.h"
#include "devices/midi_cycle.h"
#include "devices/midi_input.h"
#include "engine/midi_parser.h"

namespace ondelith {

constexpr const char* kJackClientName = "Ondelith";
constexpr const char* kJackOutputPort = "out";
constexpr const char* kJackMidiPort = "MIDI In";

// What to remember of a port's connections: those it has `now`, and those
// `remembered` that are `kept` (their port gone, say), sorted.
std::vector<std::string> mergeConnections(const std::vector<std::string>& remembered,
                                          const std::vector<std::string>& now,
                                          const std::function<bool(const std::string&)>& kept);

class JackClient {
 public:
  explicit JackClient(MidiInput& midi);
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // The connections to make when the client opens: `known` false means none
  // were ever kept (a first start), and the output then goes to the first
  // two physical playback ports.
  void remember(bool known, std::vector<std::string> output, std::vector<std::string> midiIn);

  // Opens and activates the client with its two ports and makes the
  // remembered connections, unless it is open already; true when it is open.
  // A client whose server went away is closed first. Never starts a server.
  bool open();
  // Closes the client (its connections go with it).
  void close();
  // Open, and its server still there.
  bool isOpen() const { return client_ != nullptr && !lost_.load(); }
  // The server went away under the open client.
  bool serverLost() const { return client_ != nullptr && lost_.load(); }
  // The client's name as the server gave it; empty when closed.
  std::string name() const;
  std::string outputPortName() const;
  std::string midiPortName() const;
  // The server's frames per second; 0 when closed.
  double rate() const;
  // How long a sample takes from the output port to the speakers, as the
  // server reckons it, a cycle at least; 0 when closed.
  double outputLatency() const;

  // From the next cycle the engine, made at rate(), renders into the output.
  void startRendering(Engine& engine);
  // From the next cycle the output plays silence; on return no cycle is
  // rendering the engine.
  void stopRendering();
  bool rendering() const { return renderTo_.load() != nullptr; }
  // Every cycle from the next counted in `times` (null: none); it must
  // outlive the client or the next call.
  void timeCallbacks(CallbackTimes* times) { times_.store(times); }

  // What the output and "MIDI In" are connected to (a device the window
  // connected left out); empty when closed.
  std::vector<std::string> outputConnections() const;
  std::vector<std::string> midiConnections() const;
  // What the player connected the ports to, while the program runs: a
  // connection whose other program quit is kept, and made again when that
  // program's port comes back; one the player undid is forgotten. True
  // when the remembered connections changed since the last call, which
  // also reconnects any port that came back. UI thread, polled.
  bool updateRemembered();
  const std::vector<std::string>& rememberedOutput() const { return rememberedOutput_; }
  const std::vector<std::string>& rememberedMidi() const { return rememberedMidi_; }

  // Channel messages that reached "MIDI In" since the client was made.
  uint32_t messagesReceived() const { return received_.load(std::memory_order_relaxed); }

  // Other programs' JACK MIDI outputs, by full port name.
  std::vector<std::string> midiSources() const;
  // Connects a MIDI output to "MIDI In" for the window's MIDI choice; false
  // with the reason when it cannot. Only a connection made here is undone
  // by disconnectMidiSource: one the player made stays.
  bool connectMidiSource(const std::string& port, std::string& reason);
  void disconnectMidiSource();

 private:
  static int process(jack_nframes_t frames, void* self);
  static void shutdown(jack_status_t, const char*, void* self);
  static void portConnect(jack_port_id_t a, jack_port_id_t b, int, void* self);
  static void portRegistration(jack_port_id_t, int, void* self);
  void readMidi(jack_nframes_t frames, Engine* engine, float* out);
  void collectMidi(void* buffer, jack_nframes_t frames, int channel);
  void playCycle(Engine& engine, float* out, jack_nframes_t frames);
  void postCycle();
  // `waitingOnly`: only the remembered ports that were not there before.
  void connectAll(const std::vector<std::string>& output, const std::vector<std::string>& midiIn,
                  bool waitingOnly = false);
  std::vector<std::string> connectionsOf(jack_port_t* port) const;

  MidiInput& midi_;
  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* midiIn_ = nullptr;
  MidiParser parser_;  // the process thread's
  MidiCycle cycle_;    // the process thread's
  std::atomic<Engine*> renderTo_{nullptr};
  std::atomic<CallbackTimes*> times_{nullptr};
  double hz_ = 0;                  // the server's rate, read once at open
  std::atomic<bool> busy_{false};  // a cycle is inside the engine
  std::atomic<bool> lost_{false};
  std::atomic<uint32_t> received_{0};
  std::atomic<bool> connectionsChanged_{false};
  std::atomic<bool> portsChanged_{false};
  bool rememberedKnown_ = false;
  std::vector<std::string> rememberedOutput_, rememberedMidi_;
  std::vector<std::string> waiting_;  // remembered ports not there at the last look
  std::string source_;                // the MIDI device connected for the window
  bool sourceOurs_ = false;           // and whether this client made that connection
};

}  // namespace ondelith
