#pragma once
// The factory bank: the sounds every host carries, compiled in from the
// bank's list and its .vx files, each under a program number that never
// changes once released. Program Change value v selects number v + 1.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "instrument/sound.h"

namespace ondelith {

struct BankSound {
  int number;                         // 1 to 128, rising through the bank
  std::string_view category;          // "bass", "pluck-keys": a folder name
  std::string_view name;              // for people: "Glass Pluck"
  std::string_view patch;             // the .vx file's bytes, exactly as Save writes them
  std::string_view description = {};  // one line for menus: what it sounds like, and how
  std::string_view formerName = {};  // what it was called before ("" for none), still found by name
};

// The bank in the order of its numbers.
std::span<const BankSound> factoryBank();

// nullptr when there is none.
const BankSound* bankSoundNumbered(int number);
// By name, ignoring the case of ASCII letters.
const BankSound* bankSoundNamed(std::string_view name);
// By the name a sound had in the release before, ignoring case.
const BankSound* bankSoundFormerlyNamed(std::string_view name);
// The sound a MIDI Program Change value (0 to 127) selects.
const BankSound* bankSoundForProgram(int program);
// A name or a program number as a player writes it: "12", "glass pluck",
// or a former name.
const BankSound* findBankSound(std::string_view nameOrNumber);

// The categories in the order their first sounds come in the bank.
std::vector<std::string_view> bankCategories();
// A category as people read it: "pluck-keys" is "Pluck and keys".
std::string categoryTitle(std::string_view category);

// The sound as Open gives it from the file, over the start-up sound.
Sound bankSound(const BankSound& entry);

}  // namespace ondelith
