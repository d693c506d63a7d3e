// Going through sounds without a window: the undo history's steps, the
// choices in order, the title's name and mark, the sound kept between runs
// and Program Change.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/sound_commands.h"
#include "engine/program_change.h"
#include "test_support.h"

namespace ondelith {
namespace {

// A sound told apart by its volume.
SoundState withVolume(int32_t volume) {
  SoundState s;
  setSoundValue(s.sound, kVolumeIndex, volume);
  return s;
}

int32_t volumeOf(const SoundState* s) { return s ? s->sound.values[kVolumeIndex] : -1; }

TEST(SoundHistory, OneStepPerChangeOrQuickRunOfOneControlAndRedoForgottenByAChange) {
  SoundHistory h(withVolume(100));
  EXPECT_FALSE(h.record(withVolume(100)));  // nothing changed
  const struct {
    int32_t volume;
    int key;
    int64_t ms;
  } changes[] = {
      {101, 0, 0},      // a choice
      {102, 17, 0},     // a slider's drag...
      {103, 17, 500},   // ...goes on: the same step
      {104, 17, 1400},  // the slider again after a pause: a step
      {105, 18, 1500},  // another control: a step
      {106, 0, 1500},   // keyless changes never merge
      {107, 0, 1500},
  };
  for (const auto& c : changes) EXPECT_TRUE(h.record(withVolume(c.volume), c.key, c.ms));
  for (int32_t back : {106, 105, 104, 103, 101, 100}) EXPECT_EQ(volumeOf(h.undo()), back);
  EXPECT_EQ(h.undo(), nullptr);
  EXPECT_EQ(volumeOf(h.redo()), 101);
  EXPECT_EQ(volumeOf(h.redo()), 103);
  h.record(withVolume(200));  // a change here: what lay ahead is gone
  EXPECT_FALSE(h.canRedo());
  EXPECT_EQ(volumeOf(h.undo()), 103);

  // A drag back to where it started leaves no step.
  SoundHistory d(withVolume(100));
  d.record(withVolume(150), 21, 0);
  d.record(withVolume(100), 21, 100);
  EXPECT_FALSE(d.canUndo());

  // The oldest steps go first, and only past the depth kept.
  SoundHistory deep(withVolume(0));
  for (int32_t v = 1; v <= 250; ++v) deep.record(withVolume(v));
  int undone = 0;
  while (deep.undo()) ++undone;
  EXPECT_EQ(undone, static_cast<int>(SoundHistory::kUndoSteps));
  EXPECT_GE(SoundHistory::kUndoSteps, 100u);
  EXPECT_EQ(volumeOf(&deep.present()), 50);
}

TEST(SoundChoices, TheBankThenThePlayersFilesByNameAndStepsRoundTheList) {
  test::TempDir dir;
  for (const char* name : {"b.vx", "A.VX", "notes.txt", "c.vx.bak"}) dir.file(name, "1\r\n");
  std::filesystem::create_directory(dir.path / "folder.vx");
  const std::vector<SoundChoice> own = playerSounds(dir.path.string());
  ASSERT_EQ(own.size(), 2u);
  EXPECT_EQ(own[0].name, "A");
  EXPECT_EQ(own[1].name, "b");
  EXPECT_EQ(own[1].path, (dir.path / "b.vx").string());
  const std::vector<SoundChoice> all = soundChoices(dir.path.string());
  const int bank = static_cast<int>(factoryBank().size());
  ASSERT_EQ(all.size(), factoryBank().size() + 2);
  EXPECT_EQ(all[0].bankNumber, 1);
  EXPECT_EQ(all[static_cast<size_t>(bank)].name, "A");

  SoundOrigin fromBank;
  fromBank.kind = SoundOrigin::Kind::Bank;
  fromBank.bankNumber = factoryBank().back().number;
  SoundOrigin fromFile;
  fromFile.kind = SoundOrigin::Kind::File;
  fromFile.path = own[1].path;
  SoundOrigin elsewhere = fromFile;
  elsewhere.path = "/somewhere/else.vx";
  const struct {
    const char* what;
    SoundOrigin origin;
    int direction, to;
  } cases[] = {
      {"the bank's last, on", fromBank, 1, bank},
      {"the bank's last, back", fromBank, -1, bank - 2},
      {"the list's last, on: round to the first", fromFile, 1, 0},
      {"the start-up sound, on", SoundOrigin{}, 1, 0},
      {"the start-up sound, back", SoundOrigin{}, -1, bank + 1},
      {"a file elsewhere, on", elsewhere, 1, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(stepChoice(all, c.origin, c.direction), c.to) << c.what;
  EXPECT_EQ(stepChoice({}, fromBank, 1), -1);
}

TEST(WindowTitle, NamesTheSoundAndMarksAChange) {
  const BankSound& b = factoryBank().front();
  SoundState bank = bankState(b);
  SoundState changedBank = bank;
  setSoundValue(changedBank.sound, kCutoffIndex, 300);
  SoundState file;
  file.origin.kind = SoundOrigin::Kind::File;
  file.origin.name = "Song";
  SoundState changedStart = withVolume(3);
  const std::string name(b.name);
  const struct {
    SoundState state;
    std::string title;
  } cases[] = {
      {SoundState{}, "Ondelith"},        {changedStart, "Ondelith \u2014 Start-up sound *"},
      {bank, "Ondelith \u2014 " + name}, {changedBank, "Ondelith \u2014 " + name + " *"},
      {file, "Ondelith \u2014 Song"},
  };
  for (const auto& c : cases) EXPECT_EQ(windowTitle(c.state), c.title);
}

TEST(KeptSound, ReadsBackExactlyWhatItWroteAndRefusesAnythingElse) {
  SoundState bank = bankState(factoryBank()[3]);
  setSoundValue(bank.sound, kAttackIndex, 77);
  // Open's wobble length beyond the Duration slider's range, and drawn curves.
  SoundState file;
  PatchValues v = capturePatch(file.sound);
  v[73] = 5000;  // Duration
  v[74] = 1;     // range x1: the slider stops at 1000
  v[3] = 70;
  applyPatch(file.sound, v);
  ASSERT_NE(file.sound.wobbleDurationMs, file.sound.values[kDurationIndex]);
  file.sound.curves[2].points[4] = {90, 12};
  file.origin.kind = SoundOrigin::Kind::File;
  file.origin.name = "My Sound";
  file.origin.path = "/home/me/My Sound.vx";
  for (const SoundState& s : {SoundState{}, withVolume(1), bank, file}) {
    SoundState read;
    ASSERT_TRUE(parseKeptSound(formatKeptSound(s), read));
    EXPECT_EQ(read, s);
    EXPECT_EQ(windowTitle(read), windowTitle(s));
  }
  const std::string good = formatKeptSound(bank);
  const size_t sound = good.find("sound ");
  const std::string wrong[] = {
      "",
      "Ondelith kept sound\n",
      good.substr(0, good.find("as-it-came")),                      // cut short
      "Ondelith kept sound\nfrom bank 200\n" + good.substr(sound),  // no such bank sound
      good.substr(0, sound) + "sound 2000 1 2 3\n" + good.substr(good.find("as-it-came")),
      good.substr(0, sound) + "sound x" + good.substr(sound + 6),
  };
  for (const std::string& text : wrong) {
    SoundState read = withVolume(9);
    EXPECT_FALSE(parseKeptSound(text, read)) << text;
    EXPECT_EQ(read, withVolume(9));
  }
}

TEST(ProgramChange, OnTheChannelHeardItChoosesTheBanksSoundsInOrder) {
  EXPECT_EQ(programChangeOf(0x0503C0, 0), 3);  // a stray second data byte is no matter
  EXPECT_EQ(programChangeOf(0x7FC5, 5), 127);
  EXPECT_EQ(programChangeOf(0x7FC5, kAllChannels), 127);
  EXPECT_EQ(programChangeOf(0x03C1, 0), -1);
  EXPECT_EQ(programChangeOf(0x0390, 0), -1);

  auto s = test::makeSynth();
  const auto programChange = [&](int program, int channel = 0) {
    test::play(*s, 0xC0u | static_cast<uint32_t>(channel) | static_cast<uint32_t>(program) << 8);
    return takeProgramChange(*s);
  };
  const std::span<const BankSound> bank = factoryBank();
  for (int program : {4, 0, static_cast<int>(bank.size()) - 1}) {
    ASSERT_TRUE(programChange(program));
    EXPECT_EQ(currentState(*s), bankState(bank[static_cast<size_t>(program)])) << program;
  }
  const SoundState before = currentState(*s);
  EXPECT_FALSE(takeProgramChange(*s));                         // nothing new heard
  EXPECT_FALSE(programChange(2, 3));                           // another channel
  EXPECT_FALSE(programChange(static_cast<int>(bank.size())));  // past the bank
  EXPECT_EQ(currentState(*s), before);
  // The same program again brings its sound back as it came.
  s->instrument.setValue(kVolumeIndex, 3);
  ASSERT_TRUE(programChange(static_cast<int>(bank.size()) - 1));
  EXPECT_EQ(currentState(*s), before);
}

}  // namespace
}  // namespace ondelith
