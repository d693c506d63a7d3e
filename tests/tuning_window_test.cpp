// The Tuning menu: the player's files listed and chosen, a faulty one
// refused with the tuning kept, and the choice kept for the next start.
#include <filesystem>

#include "app/tuning_menu.h"
#include "window_fixture.h"

namespace ondelith {
namespace {

class TuningMenu : public test::Window {
 protected:
  void SetUp() override {
    Window::SetUp();
    answerDialogs();
  }
  // The menu as it opens: its items' texts, the checked one marked "*".
  std::vector<std::string> items() {
    fillTuningMenu(*app);
    std::vector<std::string> out;
    for (QAction* a : menu()->actions())
      if (!a->isSeparator()) out.push_back((a->isChecked() ? "*" : "") + a->text().toStdString());
    return out;
  }
  void choose(const std::string& item) {
    fillTuningMenu(*app);
    for (QAction* a : menu()->actions())
      if (a->text().toStdString() == item) a->trigger();
    pump();
  }
  QMenu* menu() {
    auto* main = static_cast<QMainWindow*>(tk->nativeWindow(app->window));
    for (QAction* m : main->menuBar()->actions())
      if (m->text() == "Tuning") return m->menu();
    return nullptr;
  }
  std::string file(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dataDir.path / "Ondelith" / "tunings");
    dataDir.file("Ondelith/tunings/" + name, text);
    return text;
  }
};

TEST_F(TuningMenu, FilesAreChosenRefusedAndKeptForTheNextStart) {
  const std::string just = file("just.scl", "Just\n2\n3/2\n2/1\n");
  const std::string white = file("white.kbm", "12\n0\n127\n60\n60\n261.6\n12\n0\nx\n1\n");
  file("bad.scl", "Bad\n2\n3/2\n-2/1\n");
  EXPECT_EQ(items(), (std::vector<std::string>{"*12-TET", "bad.scl", "just.scl",
                                               "*Standard keyboard map", "white.kbm", "Open..."}));
  choose("just.scl");
  choose("white.kbm");
  EXPECT_EQ(app->prefs.tuning, (Tuning{just, white}));
  ScalaScale scale;
  KeyboardMap map;
  ScalaFault fault;
  ASSERT_TRUE(readScalaScale(just, scale, fault) && readKeyboardMap(white, map, fault));
  const KeyFrequencies keys = keyFrequencies(scale, map);
  EXPECT_EQ(app->synth.engine.notes.keys(), keys);
  EXPECT_EQ(items(), (std::vector<std::string>{"12-TET", "bad.scl", "*just.scl",
                                               "Standard keyboard map", "*white.kbm", "Open..."}));

  choose("bad.scl");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_NE(dialogs[0].find("line 4: the ratio -2/1 is negative"), std::string::npos) << dialogs[0];
  EXPECT_NE(dialogs[0].find("The tuning stays as it was"), std::string::npos) << dialogs[0];
  EXPECT_EQ(app->prefs.tuning, (Tuning{just, white}));
  EXPECT_EQ(app->synth.engine.notes.keys(), keys);

  // The texts are kept, not the files: gone, they still play.
  std::filesystem::remove_all(dataDir.path / "Ondelith" / "tunings");
  restart();
  pump();
  EXPECT_EQ(app->prefs.tuning, (Tuning{just, white}));
  EXPECT_EQ(app->synth.engine.notes.keys(), keys);
  choose("12-TET");
  choose("Standard keyboard map");
  EXPECT_EQ(app->synth.engine.notes.keys(), equalTemperament());
  EXPECT_EQ(items()[0], "*12-TET");
}

TEST_F(TuningMenu, TheA4PitchIsKeptWithTheSettings) {
  app->prefs.a4Hz = 432;
  storePreferences(*app->settings, app->prefs);
  restart();
  pump();
  EXPECT_EQ(app->synth.engine.notes.setting(NoteSetting::A4), 432.0);
}

}  // namespace
}  // namespace ondelith
