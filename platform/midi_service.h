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

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ondelith
