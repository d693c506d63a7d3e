#pragma once
// Bytes of MIDI into whole channel messages, by the rules a receiving device
// follows: running status; a system-exclusive message ends at any status
// byte, not only at its F7; real-time bytes (F8 to FF) are ignored wherever
// they fall, inside other messages too; a message that a status byte cuts
// short is dropped. One parser per byte stream; it allocates nothing and
// never waits, so a MIDI or audio thread may feed it.

#include <cstdint>

namespace ondelith {

class MidiParser {
 public:
  enum class Result : uint8_t {
    None,     // the byte was taken; no message is complete
    Message,  // a channel message is complete: word()
    Cut,      // a status byte came before the message begun was whole: that
              // message is dropped, and the byte begins what follows
    Stray,    // a data byte with no status to belong to: ignored
  };

  // The data bytes a channel status takes.
  static constexpr int dataBytes(uint8_t status) { return (status & 0xE0) == 0xC0 ? 1 : 2; }

  Result feed(uint8_t byte) {
    if (byte >= 0xF8) return Result::None;
    if (byte & 0x80) {
      const bool cut = pending_;
      pending_ = false;
      sysex_ = false;
      skip_ = 0;
      have_ = 0;
      if (byte < 0xF0) {
        status_ = byte;
        pending_ = true;
      } else {
        // System messages end running status; their own data is passed over.
        status_ = 0;
        sysex_ = byte == 0xF0;
        skip_ = byte == 0xF2 ? 2 : byte == 0xF1 || byte == 0xF3 ? 1 : 0;
      }
      return cut ? Result::Cut : Result::None;
    }
    if (sysex_) return Result::None;
    if (skip_ > 0) {
      --skip_;
      return Result::None;
    }
    if (status_ == 0) return Result::Stray;
    data_[have_++] = byte;
    if (have_ < dataBytes(status_)) {
      pending_ = true;
      return Result::None;
    }
    word_ = status_ | uint32_t{data_[0]} << 8 | uint32_t{data_[1]} << 16;
    have_ = 0;
    data_[1] = 0;
    pending_ = false;
    return Result::Message;
  }

  // The last complete message: status | data1 << 8 | data2 << 16.
  uint32_t word() const { return word_; }

  // Forgets the running status and any message begun.
  void reset() { *this = MidiParser(); }

 private:
  uint32_t word_ = 0;
  uint8_t status_ = 0;  // the running status: a channel status, or 0
  uint8_t data_[2] = {0, 0};
  uint8_t have_ = 0;      // data bytes of the current message so far
  uint8_t skip_ = 0;      // data bytes of a system common message still to pass over
  bool sysex_ = false;    // inside a system-exclusive message
  bool pending_ = false;  // a message has begun and is not whole
};

}  // namespace ondelith
