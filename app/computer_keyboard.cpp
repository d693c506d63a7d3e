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

std::vector<ComputerKeyboard::Note> ComputerKeyboard::key(const Key& k, int64_t nowMs) {
  std::vector<Note> notes;
  if (waiting_) {
    const bool repeat = k.pressed && k.scanCode == waiting_->scanCode &&
                        (k.autoRepeat || (k.time != 0 && k.time == waiting_->time));
    if (repeat) {
      waiting_.reset();  // the key never went up
      return notes;
    }
    notes = release(nowMs, true);
  }
  if (k.autoRepeat || k.scanCode < 0 || k.scanCode >= static_cast<int>(held_.size())) return notes;
  if (k.scanCode == kOctaveDownKey || k.scanCode == kOctaveUpKey) {
    if (k.pressed) {
      const int next = base_ + (k.scanCode == kOctaveUpKey ? 12 : -12);
      if (next >= 0 && next <= kHighestBase) base_ = next;
    }
    return notes;
  }
  const int offset = keyboardOffset(k.scanCode);
  if (offset < 0) return notes;
  int& held = held_[static_cast<size_t>(k.scanCode)];
  if (k.pressed) {
    if (held >= 0) return notes;  // already down: the window missed its release
    held = base_ + offset;
    notes.push_back({held, true});
  } else if (held >= 0 && k.time != 0) {
    waiting_ = Waiting{k.scanCode, k.time, nowMs + kKeyRepeatWaitMs};
  } else if (held >= 0) {
    // No time to tell a repeat's release by: the toolkit's flag is all there is.
    notes.push_back({held, false});
    held = -1;
  }
  return notes;
}

std::vector<ComputerKeyboard::Note> ComputerKeyboard::release(int64_t nowMs, bool force) {
  if (!waiting_ || (!force && nowMs < waiting_->due)) return {};
  int& held = held_[static_cast<size_t>(waiting_->scanCode)];
  waiting_.reset();
  if (held < 0) return {};
  const int note = held;
  held = -1;
  return {{note, false}};
}

std::optional<int64_t> ComputerKeyboard::releaseDue() const {
  if (!waiting_) return std::nullopt;
  return waiting_->due;
}

std::vector<ComputerKeyboard::Note> ComputerKeyboard::releaseAll() {
  waiting_.reset();
  std::vector<Note> notes;
  for (int& held : held_) {
    if (held >= 0) notes.push_back({held, false});
    held = -1;
  }
  return notes;
}

}  // namespace ondelith
