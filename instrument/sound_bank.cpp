#include "instrument/sound_bank.h"

#include <algorithm>

namespace ondelith {

// Made at build time from the bank's list (instrument/sound_bank.cmake).
namespace bank_data {
extern const BankSound kSounds[];
extern const size_t kSoundCount;
}  // namespace bank_data

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::span<const BankSound> factoryBank() { return {bank_data::kSounds, bank_data::kSoundCount}; }

const BankSound* bankSoundNumbered(int number) {
  for (const BankSound& s : factoryBank())
    if (s.number == number) return &s;
  return nullptr;
}

const BankSound* bankSoundNamed(std::string_view name) {
  for (const BankSound& s : factoryBank())
    if (sameName(s.name, name)) return &s;
  return nullptr;
}

const BankSound* bankSoundFormerlyNamed(std::string_view name) {
  for (const BankSound& s : factoryBank())
    if (!s.formerName.empty() && sameName(s.formerName, name)) return &s;
  return nullptr;
}

const BankSound* bankSoundForProgram(int program) {
  return program >= 0 && program <= 127 ? bankSoundNumbered(program + 1) : nullptr;
}

const BankSound* findBankSound(std::string_view word) {
  const bool digits =
      !word.empty() && word.size() <= 3 &&
      std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) {
    int number = 0;
    for (char c : word) number = number * 10 + (c - '0');
    if (const BankSound* s = bankSoundNumbered(number)) return s;
  }
  if (const BankSound* s = bankSoundNamed(word)) return s;
  return bankSoundFormerlyNamed(word);
}

std::vector<std::string_view> bankCategories() {
  std::vector<std::string_view> categories;
  for (const BankSound& s : factoryBank())
    if (std::find(categories.begin(), categories.end(), s.category) == categories.end())
      categories.push_back(s.category);
  return categories;
}

std::string categoryTitle(std::string_view category) {
  std::string title;
  for (char c : category) {
    if (c == '-')
      title += " and ";
    else
      title += c;
  }
  if (!title.empty() && title[0] >= 'a' && title[0] <= 'z')
    title[0] = static_cast<char>(title[0] - 'a' + 'A');
  return title;
}

Sound bankSound(const BankSound& entry) {
  Sound sound = startSound();
  applyPatch(sound, readPatchText(entry.patch));
  return sound;
}

}  // namespace ondelith
