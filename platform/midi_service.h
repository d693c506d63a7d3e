#pragma once
// MIDI input ports by name and position, on RtMidi: the ALSA sequencer's
// ports when there is a sequencer, and JACK's when a server runs. Opening a
// port starts delivery of every short message to a callback on the MIDI
// service's thread; closing it delivers a close notice the same way.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ondelith {

class MidiService {
 public:
  // kind is kMidiData (963) with the message packed as status | data1 << 8 |
  // data2 << 16, or kMidiCloseNotice (962) with word 0.
  using Callback = void (*)(void* context, uint32_t kind, uint32_t word);

  MidiService();
  ~MidiService();
  MidiService(const MidiService&) = delete;
  MidiService& operator=(const MidiService&) = delete;

  // The input ports of every available back end, in a fixed order; each
  // entry keeps its own back end and port, whatever happens to the others.
  std::vector<std::string> listInputs();

  // Opens entry `position` of the last list and starts delivery. False if
  // it cannot be opened or started.
  bool open(int position, Callback callback, void* context);

  // Stops and closes the open port, if any; the close notice reaches the
  // callback before this returns.
  void close();

  bool isOpen() const;

  // Why the last open failed, in the library's words where it gave any.
  const std::string& lastError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The program's own MIDI input, named after it, so that a sequencer, a
// patchbay or a virtual keyboard can connect to it: a port on the ALSA
// sequencer when there is one and on JACK when a server runs. It delivers
// as MidiService does, on the back end's own thread.
constexpr const char* kOwnPortName = "MIDI In";

class OwnMidiPort {
 public:
  using Callback = MidiService::Callback;
  OwnMidiPort();
  ~OwnMidiPort();
  OwnMidiPort(const OwnMidiPort&) = delete;
  OwnMidiPort& operator=(const OwnMidiPort&) = delete;

  // Opens the port on each back end that is there and has none yet (a JACK
  // server that started since is taken up); how many ports are open.
  int open(Callback callback, void* context);
  // Closes every port; no message is delivered after it returns.
  void close();
  // "ALSA", "JACK": where the port is open.
  std::vector<std::string> backEnds() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ondelith
