#pragma once
// The computer keyboard as a small music keyboard. Keys are told apart by
// where they sit (X11 key codes, the same on QWERTY, AZERTY and QWERTZ):
// the home row from the key under the left little finger plays the white
// keys from C, the row above the black keys between them, C to F# an
// octave and a half up; the two keys left of the bottom row shift the octave.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ondelith {

// X11 key codes (evdev codes + 8) of the octave keys: Z and X on QWERTY.
constexpr int kOctaveDownKey = 52;
constexpr int kOctaveUpKey = 53;
constexpr int kKeyboardVelocity = 100;  // the keys have no velocity of their own
constexpr int kKeyboardStartBase = 60;  // C4 under the home row's first key

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
  // A key event; the note to play or release, if any. Auto-repeat never
  // plays; an octave key moves the octave by 12 within the MIDI range.
  std::vector<Note> key(int scanCode, bool pressed, bool autoRepeat);
  // Every note the keyboard holds, released (the window lost the focus).
  std::vector<Note> releaseAll();
  int base() const { return base_; }

 private:
  int base_ = kKeyboardStartBase;
  std::array<int, 256> held_;  // the note each key holds, -1 for none
};

}  // namespace ondelith
