#include "app/computer_keyboard.h"

#include "engine/note_entry.h"

namespace ondelith {

namespace {

struct KeyNote {
  int scanCode, offset;
};
// Home row: A S D F G H J K L ; '  Row above: W E - T Y U - O P - ]
constexpr KeyNote kKeys[] = {
    {38, 0},  {25, 1},  {39, 2},  {26, 3},  {40, 4},  {41, 5},  {28, 6},
    {42, 7},  {29, 8},  {43, 9},  {30, 10}, {44, 11}, {45, 12}, {32, 13},
    {46, 14}, {33, 15}, {47, 16}, {48, 17}, {35, 18},
};
constexpr int kHighestOffset = 18;
constexpr int kHighestBase = ((kHighestNote - kHighestOffset) / 12) * 12;  // 108: C8

}  // namespace

int keyboardOffset(int scanCode) {
  for (const KeyNote& k : kKeys)
    if (k.scanCode == scanCode) return k.offset;
  return -1;
}

std::vector<int> keyboardScanCodes() {
  std::vector<int> codes = {kOctaveDownKey, kOctaveUpKey};
  for (const KeyNote& k : kKeys) codes.push_back(k.scanCode);
  return codes;
}

std::string noteName(int note) {
  static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                       "F#", "G",  "G#", "A",  "A#", "B"};
  const int octave = (note < 0 ? note - 11 : note) / 12 - 1;
  return std::string(kNames[((note % 12) + 12) % 12]) + std::to_string(octave);
}

std::vector<ComputerKeyboard::Note> ComputerKeyboard::key(int scanCode, bool pressed,
                                                          bool autoRepeat) {
  if (autoRepeat || scanCode < 0 || scanCode >= static_cast<int>(held_.size())) return {};
  if (scanCode == kOctaveDownKey || scanCode == kOctaveUpKey) {
    if (pressed) {
      const int next = base_ + (scanCode == kOctaveUpKey ? 12 : -12);
      if (next >= 0 && next <= kHighestBase) base_ = next;
    }
    return {};
  }
  const int offset = keyboardOffset(scanCode);
  if (offset < 0) return {};
  int& held = held_[static_cast<size_t>(scanCode)];
  if (pressed) {
    if (held >= 0) return {};  // already down: the window missed its release
    held = base_ + offset;
    return {{held, true}};
  }
  if (held < 0) return {};
  const int note = held;
  held = -1;
  return {{note, false}};
}

std::vector<ComputerKeyboard::Note> ComputerKeyboard::releaseAll() {
  std::vector<Note> notes;
  for (int& held : held_) {
    if (held >= 0) notes.push_back({held, false});
    held = -1;
  }
  return notes;
}

}  // namespace ondelith
