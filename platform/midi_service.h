#pragma once
// MIDI input ports of the ALSA sequencer by name and position, on RtMidi
// (JACK's are the program's own JACK client's business). Opening a port
// starts delivery of every channel message, read from the port's bytes by
// the MIDI rules, to a callback on the MIDI service's thread; closing it
// delivers a close notice the same way.

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

  // The sequencer's input ports, in its order; none without a sequencer.
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

// The program's own MIDI input on the ALSA sequencer, named after it, so
// that a sequencer, a patchbay or a virtual keyboard can connect to it. It
// delivers as MidiService does, on the sequencer's thread.
constexpr const char* kOwnPortName = "MIDI In";

class OwnMidiPort {
 public:
  using Callback = MidiService::Callback;
  OwnMidiPort();
  ~OwnMidiPort();
  OwnMidiPort(const OwnMidiPort&) = delete;
  OwnMidiPort& operator=(const OwnMidiPort&) = delete;

  // Opens the port when there is a sequencer and it is not open yet; 1 when
  // it is open, else 0.
  int open(Callback callback, void* context);
  // Closes it; no message is delivered after it returns.
  void close();
  bool isOpen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ondelith
