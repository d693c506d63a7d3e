#pragma once
// One audio cycle's MIDI from the program's own JACK port, kept to what the
// voice reads: messages on channels it does not hear, and kinds it never
// reads, go at once. A flood that would overflow the voice's queue is made
// to fit by keeping only the last bend and program of each channel and
// each change of the pedal; note-offs and the controllers that end notes
// are never dropped, and note-ons only when nothing else is left to drop.
// The audio thread's: allocates nothing after it is made, never waits.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace ondelith {

struct CycleMessage {
  uint32_t word;   // status | data1 << 8 | data2 << 16
  uint32_t frame;  // within the cycle
};

class MidiCycle {
 public:
  // More than the largest MIDI buffer a JACK server hands a cycle can hold
  // in messages of two bytes (running status).
  static constexpr size_t kCapacity = 16384;

  MidiCycle();
  void clear() { count_ = 0; }
  // Keeps the message if the voice reads it on `channel` (0 to 15, or
  // kAllChannels). When the cycle is full it is made to fit first.
  void add(uint32_t word, uint32_t frame, int channel);
  // Down to `budget` messages where the rules above allow; the order kept.
  void fit(size_t budget);
  std::span<const CycleMessage> messages() const { return {messages_.get(), count_}; }
  // Messages that could not be kept (a cycle of nothing but notes beyond
  // kCapacity); 0 in any real cycle.
  uint32_t refused() const { return refused_; }

 private:
  void coalesce();
  void dropNoteOns(size_t budget);
  void compact(const bool* keep);

  std::unique_ptr<CycleMessage[]> messages_;
  std::unique_ptr<bool[]> keep_;
  size_t count_ = 0;
  uint32_t refused_ = 0;
};

// Whether the voice reads `word` on `channel`: note-on and -off, pitch
// bend, program change, and controllers 64, 120, 121 and 123.
bool voiceReads(uint32_t word, int channel);

}  // namespace ondelith
