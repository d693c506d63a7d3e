#include "devices/midi_cycle.h"

#include <array>

#include "engine/midi_message.h"
#include "engine/program_change.h"

namespace ondelith {

namespace {

uint32_t kindOf(uint32_t word) { return word & 0xF0u; }
uint32_t channelOf(uint32_t word) { return word & 0x0Fu; }
uint32_t data1Of(uint32_t word) { return (word >> 8) & 0xFFu; }
uint32_t data2Of(uint32_t word) { return (word >> 16) & 0xFFu; }

bool isNoteOn(uint32_t word) { return kindOf(word) == kMidiNoteOn && data2Of(word) != 0; }

}  // namespace

bool voiceReads(uint32_t word, int channel) {
  const uint32_t status = word & 0xFFu;
  if (status < 0x80u || status >= 0xF0u || data1Of(word) > 127 || data2Of(word) > 127) return false;
  if (channel != kAllChannels && channelOf(word) != static_cast<uint32_t>(channel)) return false;
  switch (kindOf(word)) {
    case kMidiNoteOn:
    case kMidiNoteOff:
    case kMidiPitchBend:
    case kMidiProgramChange: return true;
    case kMidiControlChange: {
      const int controller = static_cast<int>(data1Of(word));
      return controller == kSustainPedal || controller == kAllSoundOff ||
             controller == kResetAllControllers || controller == kAllNotesOff;
    }
    default: return false;
  }
}

MidiCycle::MidiCycle()
    : messages_(std::make_unique<CycleMessage[]>(kCapacity)),
      keep_(std::make_unique<bool[]>(kCapacity)) {}

void MidiCycle::add(uint32_t word, uint32_t frame, int channel) {
  if (!voiceReads(word, channel)) return;
  if (count_ == kCapacity) fit(kCapacity / 2);
  if (count_ == kCapacity) {
    ++refused_;
    return;
  }
  messages_[count_++] = {word, frame};
}

void MidiCycle::fit(size_t budget) {
  if (count_ <= budget) return;
  coalesce();
  if (count_ > budget) dropNoteOns(budget);
}

void MidiCycle::compact(const bool* keep) {
  size_t to = 0;
  for (size_t i = 0; i < count_; ++i)
    if (keep[i]) messages_[to++] = messages_[i];
  count_ = to;
}

// The last bend and the last program of each channel stand for the rest; a
// pedal message that leaves the pedal as the one before it did changes
// nothing.
void MidiCycle::coalesce() {
  uint32_t bendSeen = 0, programSeen = 0;
  for (size_t i = count_; i-- > 0;) {
    const uint32_t word = messages_[i].word;
    const uint32_t bit = 1u << channelOf(word);
    uint32_t* seen = kindOf(word) == kMidiPitchBend       ? &bendSeen
                     : kindOf(word) == kMidiProgramChange ? &programSeen
                                                          : nullptr;
    keep_[i] = !seen || !(*seen & bit);
    if (seen) *seen |= bit;
  }
  std::array<int, 16> pedal;  // -1: not seen yet this cycle
  pedal.fill(-1);
  for (size_t i = 0; i < count_; ++i) {
    const uint32_t word = messages_[i].word;
    if (kindOf(word) != kMidiControlChange || data1Of(word) != kSustainPedal) continue;
    const int down = data2Of(word) >= 64 ? 1 : 0;
    int& was = pedal[channelOf(word)];
    keep_[i] = was != down;
    was = down;
  }
  compact(keep_.get());
}

// The latest note-ons are the ones the player hears last: they stay.
void MidiCycle::dropNoteOns(size_t budget) {
  size_t others = 0;
  for (size_t i = 0; i < count_; ++i) others += isNoteOn(messages_[i].word) ? 0 : 1;
  size_t room = budget > others ? budget - others : 0;
  for (size_t i = count_; i-- > 0;) {
    keep_[i] = !isNoteOn(messages_[i].word) || room > 0;
    if (isNoteOn(messages_[i].word) && room > 0) --room;
  }
  compact(keep_.get());
}

}  // namespace ondelith
