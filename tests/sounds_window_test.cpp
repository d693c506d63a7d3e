// Sounds in the window: the bank's menu and the player's own sounds,
// previous and next, Program Change, the title's name and mark, undo and
// redo, files refused, and the sound kept from one run to the next.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QMenu>
#include <fstream>

#include "app/file_menu.h"
#include "app/patch_commands.h"
#include "platform/exit_file.h"
#include "window_fixture.h"

namespace ondelith {
namespace {

namespace fs = std::filesystem;

class Sounds : public test::Window {
 protected:
  void SetUp() override {
    Window::SetUp();
    answerDialogs();
  }
  void answerDialogs() {
    tk->setDialogResponder(
        [this](const std::string& kind, const std::string& title, const std::string& text) {
          dialogs.push_back(kind + ": " + title + ": " + text);
          return answer;
        });
  }
  QMainWindow* main() { return static_cast<QMainWindow*>(tk->nativeWindow(app->window)); }
  QMenu* menu(const QString& title) {
    for (QAction* a : main()->menuBar()->actions())
      if (a->text() == title) return a->menu();
    return nullptr;
  }
  // The items of a menu, as the player sees them when it opens.
  std::vector<std::string> items(QMenu* m) {
    emit m->aboutToShow();
    std::vector<std::string> texts;
    for (QAction* a : m->actions())
      if (!a->isSeparator()) texts.push_back(a->text().replace("&&", "&").toStdString());
    return texts;
  }
  // Triggers the item at the end of a path of menu titles.
  void choose(const std::vector<QString>& path) {
    QMenu* m = menu(path[0]);
    ASSERT_NE(m, nullptr) << path[0].toStdString();
    emit m->aboutToShow();
    for (size_t i = 1; i < path.size(); ++i) {
      QAction* found = nullptr;
      for (QAction* a : m->actions())
        if (a->text() == path[i]) found = a;
      ASSERT_NE(found, nullptr) << path[i].toStdString();
      if (found->menu()) {
        m = found->menu();
      } else {
        found->trigger();
      }
    }
    pump();
  }
  void keys(Qt::Key k, Qt::KeyboardModifiers mods) {
    QTest::keyClick(main(), k, mods);
    pump();
  }
  std::string title() { return tk->windowTitle(app->window); }
  SoundState state() { return currentState(app->synth); }
  QString bankItem(int number) {
    const BankSound& b = *bankSoundNumbered(number);
    return QString::fromStdString(std::to_string(b.number) + "  " + std::string(b.name));
  }
  QString category(int number) {
    return QString::fromStdString(categoryTitle(bankSoundNumbered(number)->category));
  }
  std::string name(int number) { return std::string(bankSoundNumbered(number)->name); }

  std::string answer;
  std::vector<std::string> dialogs;
  test::TempDir dir;
};

TEST_F(Sounds, EachBankItemShowsItsDescriptionAsItsTip) {
  QMenu* sounds = menu("Sounds");
  ASSERT_NE(sounds, nullptr);
  emit sounds->aboutToShow();
  size_t tipped = 0;
  for (QAction* c : sounds->actions()) {
    if (!c->menu() || c->text().startsWith("My sounds")) continue;
    EXPECT_TRUE(c->menu()->toolTipsVisible()) << c->text().toStdString();
    for (QAction* item : c->menu()->actions()) {
      const BankSound* b = findBankSound(item->text().section("  ", 0, 0).toStdString());
      ASSERT_NE(b, nullptr) << item->text().toStdString();
      EXPECT_EQ(item->toolTip().toStdString(), b->description);
      ++tipped;
    }
  }
  EXPECT_EQ(tipped, factoryBank().size());
}

TEST_F(Sounds, TheMenuHasTheBankByCategoryThenThePlayersOwnAndEachItemChoosesItsSound) {
  std::vector<std::string> expected = {"Previous sound", "Next sound"};
  for (std::string_view c : bankCategories()) expected.push_back(categoryTitle(c));
  expected.push_back("My sounds (none saved yet)");
  expected.push_back("Start-up sound");
  EXPECT_EQ(items(menu("Sounds")), expected);
  EXPECT_EQ(patchDirectory(), dataDir.path.string() + "/Ondelith/sounds/");
  EXPECT_TRUE(fs::is_directory(patchDirectory()));

  choose({"Sounds", category(5), bankItem(5)});
  EXPECT_EQ(state(), bankState(*bankSoundNumbered(5)));
  EXPECT_EQ(tk->value(kSliderF), bankState(*bankSoundNumbered(5)).sound.values[kCutoffIndex]);
  EXPECT_EQ(title(), "Ondelith \u2014 " + name(5));

  // Saved into the player's folder, a sound is listed after the bank's.
  answer = patchDirectory() + "Mine & Yours";
  choose({"File", "Save"});
  EXPECT_EQ(title(), "Ondelith \u2014 Mine & Yours");
  dir.file("other.txt", "");
  expected[expected.size() - 2] = "My sounds";
  EXPECT_EQ(items(menu("Sounds")), expected);
  choose({"Sounds", category(1), bankItem(1)});
  choose({"Sounds", "My sounds", "Mine && Yours"});
  EXPECT_EQ(title(), "Ondelith \u2014 Mine & Yours");
  EXPECT_EQ(state().sound, bankState(*bankSoundNumbered(5)).sound);

  // One that is no patch any more is refused with a box, and nothing changes.
  std::ofstream(patchDirectory() + "Broken.vx", std::ios::binary) << "\x01\x02";
  const SoundState before = state();
  dialogs.clear();
  choose({"Sounds", "My sounds", "Broken"});
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(
      dialogs[0].find("message: Not a patch: \"" + patchDirectory() + "Broken.vx\" is not a patch"),
      std::string::npos)
      << dialogs[0];
  EXPECT_EQ(state(), before);
  choose({"Sounds", "Start-up sound"});
  EXPECT_EQ(title(), "Ondelith");
  EXPECT_EQ(state(), SoundState{});
}

// File names that are not UTF-8 or hold a tab are listed, each an item of
// its own that chooses its sound, and titled with what Qt can show.
TEST_F(Sounds, NamesOfAnyBytesAreListedChosenAndTitled) {
  const std::string patch = formatPatch(capturePatch(bankState(*bankSoundNumbered(5)).sound));
  for (const char* file : {"bad\xFFname.vx", "good.vx", "tab\tname.vx"})
    std::ofstream(patchDirectory() + file, std::ios::binary) << patch;
  const std::vector<std::string> shown = {"bad\uFFFDname", "good", "tab\u2409name"};
  for (const std::string& name : shown) {
    SCOPED_TRACE(name);
    choose({"Sounds", category(1), bankItem(1)});
    choose({"Sounds", "My sounds", QString::fromStdString(name)});
    EXPECT_EQ(title(), "Ondelith \u2014 " + name);
    EXPECT_EQ(state().sound, bankState(*bankSoundNumbered(5)).sound);
  }
}

TEST_F(Sounds, PreviousAndNextByShortcutsThatPlayNoNoteGoRoundTheList) {
  const int last = factoryBank().back().number;
  keys(Qt::Key_PageDown, Qt::ControlModifier);  // from the start-up sound: the first
  EXPECT_EQ(state().origin.bankNumber, 1);
  keys(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(state().origin.bankNumber, 2);
  keys(Qt::Key_PageUp, Qt::ControlModifier);
  keys(Qt::Key_PageUp, Qt::ControlModifier);  // round to the end
  EXPECT_EQ(state().origin.bankNumber, last);
  EXPECT_EQ(title(), "Ondelith \u2014 " + name(last));
  EXPECT_EQ(app->synth.engine.noteStatus.load(), NoteStatus::None);
  // The note keys play with the sound chosen, and choose nothing.
  QTest::keyClick(main(), Qt::Key_A);
  pump();
  EXPECT_EQ(state().origin.bankNumber, last);
}

// A file that is refused is stepped over both ways, told in the status bar
// and never in a box: no file stops the way round.
TEST_F(Sounds, PreviousAndNextStepOverFilesThatAreRefused) {
  const std::string folder = patchDirectory();
  std::ofstream(folder + "a good.vx", std::ios::binary) << formatPatch(capturePatch(app->synth));
  std::ofstream(folder + "b huge sparse name that is long.vx", std::ios::binary) << "\x01\x02";
  std::ofstream(folder + "c good.vx", std::ios::binary) << formatPatch(capturePatch(app->synth));
  const int last = factoryBank().back().number;
  choose({"Sounds", category(last), bankItem(last)});
  const struct {
    Qt::Key key;
    std::string origin;  // the file's name, "" for the first bank sound
    std::string said;
  } steps[] = {
      {Qt::Key_PageDown, "a good", ""},
      {Qt::Key_PageDown, "c good", "Skipped b huge sparse name that...: no patch"},
      {Qt::Key_PageUp, "a good", "Skipped b huge sparse name that...: no patch"},
      {Qt::Key_PageUp, "", ""},
  };
  for (const auto& step : steps) {
    tk->setStatusText(app->window, 3, "");
    keys(step.key, Qt::ControlModifier);
    EXPECT_EQ(state().origin.name, step.origin.empty() ? name(last) : step.origin);
    EXPECT_EQ(tk->statusText(app->window, 3), step.said) << step.origin;
    expectStatusFits();
  }
  EXPECT_EQ(dialogs, std::vector<std::string>{});
  // From the bank's end, round past the refused file to its start.
  fs::remove(folder + "a good.vx");
  fs::remove(folder + "c good.vx");
  keys(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(state().origin.bankNumber, 1);
  EXPECT_EQ(tk->statusText(app->window, 3), "Skipped b huge sparse name that...: no patch");
}

TEST_F(Sounds, ProgramChangeOnThePlayersChannelChoosesTheBanksSound) {
  midiInputCallback(app->synth.midi, kMidiData, 0x04C0);  // value 4: number 5
  pump();
  EXPECT_EQ(state(), bankState(*bankSoundNumbered(5)));
  EXPECT_EQ(tk->value(kSliderVol), state().sound.values[kVolumeIndex]);
  EXPECT_EQ(title(), "Ondelith \u2014 " + name(5));
  midiInputCallback(app->synth.midi, kMidiData, 0x01C5);  // channel 6: not the player's
  pump();
  EXPECT_EQ(state().origin.bankNumber, 5);
}

TEST_F(Sounds, UndoAndRedoStepThroughControlsCurvesOpenAndChoices) {
  const SoundState start = state();
  key(kSliderF, Qt::Key_Up, 5);  // one drag's worth of moves: one step
  const SoundState moved = state();
  EXPECT_EQ(title(), "Ondelith \u2014 Start-up sound *");
  // A curve dragged with the pointer: one step however far it moved.
  QWidget* canvas = widget(curveEditorId(app->synth, 1));
  QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(44, 35));
  pump();
  for (int y : {30, 20, 10}) {
    QTest::mouseMove(canvas, QPoint(44, y));
    pump();
  }
  QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(44, 10));
  pump();
  const SoundState dragged = state();
  ASSERT_NE(dragged.sound.curves[1], moved.sound.curves[1]);
  // Open of a file with a wobble length beyond its slider: undo gives back
  // the sound it replaced exactly, and redo the file's.
  PatchValues v = capturePatch(bankSound(*bankSoundNumbered(3)));
  v[73] = 3000;
  v[74] = 1;
  answer = dir.file("far.vx", formatPatch(v));
  choose({"File", "Open"});
  const SoundState opened = state();
  EXPECT_EQ(title(), "Ondelith \u2014 far");
  choose({"Sounds", category(2), bankItem(2)});

  const SoundState back[] = {opened, dragged, moved, start};
  for (const SoundState& s : back) {
    keys(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state(), s);
  }
  EXPECT_EQ(title(), "Ondelith");
  EXPECT_EQ(tk->value(kSliderF), start.sound.values[kCutoffIndex]);
  // The keys reach the menu from a focused control too.
  widget(spinFineId(0))->setFocus();
  QTest::keyClick(widget(spinFineId(0)), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  pump();
  EXPECT_EQ(state(), moved);
  keys(Qt::Key_Z, Qt::ControlModifier);
  keys(Qt::Key_Z, Qt::ControlModifier);  // nothing before the start
  EXPECT_EQ(state(), start);
  for (const SoundState& s : {moved, dragged, opened}) {
    keys(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(state(), s);
  }

  // More than a hundred steps back, one control after another.
  for (int i = 0; i < 110; ++i) key(i % 2 ? kSliderD : kSliderA, Qt::Key_Up);
  for (int i = 0; i < 110; ++i) keys(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(state(), opened);
}

TEST_F(Sounds, FilesThatAreNotPatchesAreRefusedWithABoxAndTheSoundStays) {
  choose({"Sounds", category(4), bankItem(4)});
  key(kSliderRes, Qt::Key_Down, 3);
  const SoundState before = state();
  std::string png = "\x89PNG\r\n\x1A\n";
  png.resize(300, '\0');
  const struct {
    std::string file, bytes, why;
  } files[] = {
      {"phrase.mid",
       test::slurp(fs::path(ONDELITH_SOURCE_DIR) / "tests/data/sound_bank_phrase.mid"),
       "byte 8 is 0x06"},
      {"picture.vx", png, "byte 1 is 0x89"},
      {"big.vx", std::string(10 << 20, '1'), "larger than 64 kB"},
  };
  for (const auto& f : files) {
    answer = dir.file(f.file, f.bytes);
    dialogs.clear();
    choose({"File", "Open"});
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].rfind("message: Not a patch: \"" + answer + "\" is not a patch: ", 0), 0u)
        << dialogs[1];
    EXPECT_NE(dialogs[1].find(f.why), std::string::npos) << dialogs[1];
    EXPECT_EQ(state(), before);
  }
  EXPECT_EQ(title(), "Ondelith \u2014 " + name(4) + " *");
  // A byte-order mark is no reason: the patch opens as it would without it.
  answer = dir.file("marked.vx", "\xEF\xBB\xBF" + std::string(bankSoundNumbered(7)->patch));
  choose({"File", "Open"});
  EXPECT_EQ(state().sound, bankSound(*bankSoundNumbered(7)));
}

TEST_F(Sounds, TheSoundAtTheEndIsTheSoundAtTheNextStartWithItsNameAndMark) {
  choose({"Sounds", category(3), bankItem(3)});
  key(kSliderD, Qt::Key_Down, 4);
  const SoundState kept = state();
  EXPECT_EQ(exitFileBytes(), formatKeptSound(kept));  // what a signal would keep now
  QTest::keyClick(main(), Qt::Key_Escape);
  runEventLoop(*app);
  EXPECT_TRUE(fs::is_regular_file(keptSoundPath()));
  EXPECT_EQ(fs::path(keptSoundPath()).parent_path(), dataDir.path / "Ondelith");

  restart();
  answerDialogs();
  EXPECT_EQ(state(), kept);
  EXPECT_EQ(title(), "Ondelith \u2014 " + name(3) + " *");
  EXPECT_EQ(tk->value(kSliderD), kept.sound.values[kDecayIndex]);
  // A patch asked for at the start goes over it, a step that undo takes back.
  const std::string patch = dir.file("asked.vx", std::string(bankSoundNumbered(9)->patch));
  restart([&](test::FakeDevices& d) { d.app.commandLine.patch = patch; });
  answerDialogs();
  EXPECT_EQ(title(), "Ondelith \u2014 asked");
  keys(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(state(), kept);
  // The close box keeps it too; back to the start-up sound, the next start is plain.
  choose({"Sounds", "Start-up sound"});
  main()->close();
  runEventLoop(*app);
  restart();
  EXPECT_EQ(title(), "Ondelith");
  EXPECT_EQ(state(), SoundState{});
  // A kept file that is damaged gives the plain start, and says nothing.
  std::ofstream(keptSoundPath(), std::ios::binary) << "Ondelith kept sound\nsound 1 2\n";
  restart();
  EXPECT_EQ(state(), SoundState{});
}

// Files may grow to no more than a few bytes while this lives: every write
// of the sound or the settings fails, as on a full disk, even for root.
struct FullDisk {
  rlimit before{};
  FullDisk() {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit tiny{16, before.rlim_max};
    setrlimit(RLIMIT_FSIZE, &tiny);
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, SIG_DFL);
  }
};

TEST_F(Sounds, WhatCannotBeWrittenIsToldAndTheNextStartHasTheLastGoodCopy) {
  choose({"Sounds", category(3), bankItem(3)});
  key(kMidiInputList, Qt::Key_Down);  // settings written: the second input
  const SoundState kept = state();
  QTest::keyClick(main(), Qt::Key_Escape);
  runEventLoop(*app);
  EXPECT_EQ(dialogs, std::vector<std::string>{});  // all was kept: no word

  restart();
  answerDialogs();
  ASSERT_EQ(state(), kept);
  {
    const FullDisk full;
    key(kSliderD, Qt::Key_Down, 4);
    key(kMidiInputList, Qt::Key_Up);
    EXPECT_EQ(tk->statusText(app->window, 3), "Settings not kept: File too large");
    expectStatusFits();
    QTest::keyClick(main(), Qt::Key_Escape);
    runEventLoop(*app);
  }
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].rfind("message: Not kept: The sound in the window could not be kept", 0), 0u)
      << dialogs[0];
  EXPECT_NE(dialogs[0].find(settingsFile() + " (cannot write: File too large)"), std::string::npos)
      << dialogs[0];

  restart();
  EXPECT_EQ(state(), kept);
  EXPECT_EQ(tk->text(kMidiInputList), "Keyboard B");
  // Nothing half written is left beside them.
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dataDir.path / "Ondelith"))
    left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"kept-sound.txt", "sounds"}));
  EXPECT_EQ(settingsDir.entries(), std::vector<std::string>{"Ondelith.conf"});

  // A data folder that cannot be made is told at the start.
  const std::string blocked = dir.file("not-a-folder", "");
  setenv("XDG_DATA_HOME", blocked.c_str(), 1);
  restart();
  answerDialogs();
  setenv("XDG_DATA_HOME", dataDir.path.c_str(), 1);
  EXPECT_EQ(tk->statusText(app->window, 3), "Sound not kept: Not a directory");
  main()->close();
  runEventLoop(*app);
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(dialogs[0].find("could not be kept"), std::string::npos) << dialogs[0];
}

// What a run killed while writing left is removed at the next start; what a
// copy still running writes is not.
TEST_F(Sounds, TemporaryFilesOfKilledRunsAreRemovedAtTheStart) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child), live = std::to_string(getpid());
  const fs::path data = dataDir.path / "Ondelith";
  const struct {
    fs::path path;
    bool stays;
  } files[] = {
      {data / (".kept-sound.txt." + dead), false},  // a signal's, cut short
      {data / (".kept-sound.txt." + dead + ".x1Y2z3"), false},
      {data / (".kept-sound.txt." + live + ".x1Y2z3"), true},
      {settingsDir.path / (".Ondelith.conf." + dead + ".x1Y2z3"), false},
      {settingsDir.path / (".Ondelith.conf." + live), true},
  };
  for (const auto& f : files) std::ofstream(f.path) << "partial";
  restart();
  for (const auto& f : files) EXPECT_EQ(fs::exists(f.path), f.stays) << f.path;
}

// A signal that ends the program writes what was kept ready: whole, or not at all.
TEST(ExitFile, EndingSignalsWriteTheKeptBytesWholeOrNotAtAll) {
  test::TempDir dir;
  const std::string path = (dir.path / "kept.txt").string();
  ASSERT_TRUE(writeFileOnEndingSignals(path));
  const auto endBy = [](int sig, rlim_t fileSize = RLIM_INFINITY) {
    const pid_t child = fork();
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileSize, fileSize};
      setrlimit(RLIMIT_FSIZE, &limit);
      raise(sig);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  };
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    const std::string bytes = "kept by " + std::to_string(sig) + "\n";
    ASSERT_TRUE(setExitFileBytes(bytes));
    EXPECT_EQ(endBy(sig), sig);
    EXPECT_EQ(test::slurp(path), bytes);
  }
  // A write cut short leaves the file before it and nothing else.
  ASSERT_TRUE(setExitFileBytes(std::string(4096, 'x')));
  EXPECT_EQ(endBy(SIGTERM, 100), SIGTERM);
  EXPECT_EQ(test::slurp(path), "kept by " + std::to_string(SIGINT) + "\n");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"kept.txt"});
  EXPECT_FALSE(setExitFileBytes(std::string(kMaxExitFileBytes + 1, 'x')));
  EXPECT_EQ(exitFileBytes(), std::string(4096, 'x'));
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) signal(sig, SIG_DFL);
}

}  // namespace
}  // namespace ondelith
