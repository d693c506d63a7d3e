#pragma once
// The computer keyboard as a small music keyboard. Keys are told apart by
// where they sit (X11 key codes, the same on QWERTY, AZERTY and QWERTZ):
// the home row from the key under the left little finger plays the white
// keys from C, the row above the black keys between them, C to F# an
// octave and a half up; the two keys left of the bottom row shift the octave.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondelith {

// X11 key codes (evdev codes + 8) of the octave keys: Z and X on QWERTY.
constexpr int kOctaveDownKey = 52;
constexpr int kOctaveUpKey = 53;
constexpr int kKeyboardVelocity = 100;  // the keys have no velocity of their own
constexpr int kKeyboardStartBase = 60;  // C4 under the home row's first key
// How long a key's release waits for the press that would make it the X
// server's auto-repeat; the pair comes in one burst.
constexpr int kKeyRepeatWaitMs = 10;

// The note offset from the home row's first key (0 = C), or -1.
int keyboardOffset(int scanCode);
// Every key code the keyboard plays or shifts with.
std::vector<int> keyboardScanCodes();
// "C4" for note 60, "C-1" for 0.
std::string noteName(int note);

class ComputerKeyboard {
 public:
  ComputerKeyboard() { held_.fill(-1); }
  struct Note {
    int note;
    bool down;
  };
  struct Key {
    int scanCode;
    bool pressed;
    bool autoRepeat;    // as the toolkit flagged it
    uint64_t time = 0;  // the window system's, in ms; 0: unknown, and no release waits
  };
  // A key event at `nowMs` (any steady clock); the notes to play or
  // release. Auto-repeat never plays: neither an event the toolkit flags,
  // nor the X server's own, a release and a press of the key at the same
  // time. So a release waits: the next key event, or release() once
  // kKeyRepeatWaitMs have passed, lets it go, unless it is that press. An
  // octave key moves the octave by 12 within the MIDI range.
  std::vector<Note> key(const Key& key, int64_t nowMs);
  // The waiting release, once its wait is over at `nowMs` (or always, with
  // force).
  std::vector<Note> release(int64_t nowMs, bool force = false);
  // When the waiting release is due, if one waits.
  std::optional<int64_t> releaseDue() const;
  // Every note the keyboard holds, released (the window lost the focus).
  std::vector<Note> releaseAll();
  int base() const { return base_; }

 private:
  struct Waiting {
    int scanCode;
    uint64_t time;
    int64_t due;
  };
  int base_ = kKeyboardStartBase;
  std::array<int, 256> held_;  // the note each key holds, -1 for none
  std::optional<Waiting> waiting_;
};

}  // namespace ondelith
