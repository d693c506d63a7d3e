// The factory bank: its files are patches exactly as Save writes them, and
// the bank compiled into every host is those files, in the list's order,
// found by the numbers and names a player gives.
#include "instrument/sound_bank.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/patch_commands.h"
#include "test_support.h"

namespace ondelith {
namespace {

namespace fs = std::filesystem;

const fs::path kBankDir = fs::path(ONDELITH_SOURCE_DIR) / "data" / "sounds";

struct ListedSound {
  int number;
  std::string category, name;
  fs::path file;
  std::string description, formerName;
};

std::vector<ListedSound> bankList() {
  std::ifstream list(kBankDir / "bank.list");
  std::vector<ListedSound> sounds;
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string number, category, name, path, description, formerName;
    for (std::string* field : {&number, &category, &name, &path, &description, &formerName})
      std::getline(fields, *field, '\t');
    sounds.push_back({std::stoi(number), category, name, kBankDir / path, description, formerName});
  }
  return sounds;
}

TEST(SoundBank, TheCompiledBankIsTheListAndItsFilesAndEachIsWhatSaveWrites) {
  const std::vector<ListedSound> listed = bankList();
  const std::span<const BankSound> bank = factoryBank();
  ASSERT_GE(listed.size(), 32u);
  ASSERT_EQ(bank.size(), listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    const ListedSound& l = listed[i];
    SCOPED_TRACE(l.file.string());
    EXPECT_EQ(bank[i].number, l.number);
    EXPECT_EQ(bank[i].category, l.category);
    EXPECT_EQ(bank[i].name, l.name);
    EXPECT_EQ(bank[i].description, l.description);
    EXPECT_EQ(bank[i].formerName, l.formerName);
    const std::string bytes = test::slurp(l.file);
    ASSERT_EQ(bank[i].patch, bytes);
    Patch patch;
    std::string reason;
    ASSERT_TRUE(acceptPatchBytes(bytes, patch, reason)) << reason;

    auto synth = test::makeSynth();
    applyPatch(*synth, patch);
    EXPECT_EQ(formatPatch(synth->instrument.savedPatch()), bytes) << "the program's Open then Save";
    Instrument host;  // as the renderer and a plugin keep it
    host.applyPatch(patch);
    EXPECT_EQ(formatPatch(host.savedPatch()), bytes) << "a host's Open then Save";
    EXPECT_EQ(bankSound(bank[i]), synth->instrument.sound());
  }
}

TEST(SoundBank, FoundByNumberProgramAndNameAsAPlayerWritesThem) {
  const std::span<const BankSound> bank = factoryBank();
  const BankSound& first = bank.front();
  const BankSound& last = bank.back();
  // Program Change value v is number v + 1.
  EXPECT_EQ(bankSoundForProgram(0), &first);
  EXPECT_EQ(bankSoundForProgram(last.number - 1), &last);
  EXPECT_EQ(bankSoundForProgram(last.number), nullptr);
  EXPECT_EQ(bankSoundForProgram(-1), nullptr);
  EXPECT_EQ(bankSoundForProgram(128), nullptr);
  const std::string upper = [&] {
    std::string s(last.name);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }();
  const struct {
    std::string word;
    const BankSound* found;
  } cases[] = {
      {"1", &first},
      {std::to_string(last.number), &last},
      {std::string(last.name), &last},
      {upper, &last},
      {"0", nullptr},
      {"129", nullptr},
      {"", nullptr},
      {std::string(last.name) + " ", nullptr},
      {std::string(first.formerName), &first},  // for a release after a rename
  };
  for (const auto& c : cases) EXPECT_EQ(findBankSound(c.word), c.found) << '"' << c.word << '"';
  std::vector<std::string_view> categories = bankCategories();
  EXPECT_EQ(categories.size(), 6u);
  EXPECT_EQ(categoryTitle("pluck-keys"), "Pluck and keys");
  EXPECT_EQ(categoryTitle("bass"), "Bass");
}

}  // namespace
}  // namespace ondelith
