// The settings page generated from the table's rows: its fields, and the
// window's "Sound settings" dialog, tried with row lists of the test's own
// and with the shipped one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

#include "app/patch_commands.h"
#include "app/sound_settings.h"
#include "window_fixture.h"

namespace ondelith {
namespace {

TEST(SettingsPage, EachFieldTakesItsKindRangeTextAndHelpFromItsRow) {
  const int rows[] = {kDurationRangeIndex, kChannelIndex, fineIndex(kRowX1), kCutoffIndex};
  const std::vector<SettingsField> page = settingsPage(rows);
  ASSERT_EQ(page.size(), 4u);
  const SettingsField &range = page[0], &channel = page[1], &fine = page[2], &cutoff = page[3];

  EXPECT_TRUE(range.choice);
  EXPECT_EQ(range.choices, (std::vector<std::string>{"x1", "x10"}));
  EXPECT_EQ(range.label, "Wobble duration range");
  EXPECT_TRUE(channel.choice);
  ASSERT_EQ(channel.choices.size(), 17u);
  EXPECT_EQ(channel.choices.front(), "All");
  EXPECT_EQ(channel.choices.back(), "16");

  EXPECT_FALSE(cutoff.choice);
  EXPECT_EQ(cutoff.minimum, 20);
  EXPECT_EQ(cutoff.maximum, 5000);
  EXPECT_EQ(cutoff.suffix, " Hz");
  EXPECT_EQ(cutoff.tip, "The low-pass filter's cutoff frequency.");
  const struct {
    int32_t from;
    int steps;
    int32_t to;
  } steps[] = {{4999, 1, 5000}, {5000, 1, 5000}, {21, -3, 20}, {1500, -10, 1490}};
  for (const auto& s : steps) EXPECT_EQ(steppedValue(cutoff, s.from, s.steps), s.to) << s.from;
  EXPECT_EQ(steppedValue(range, 1, 5), 2);

  // A number's text both ways by its row's rule, as the window's spin boxes.
  EXPECT_EQ(formField(fine, 5).kind, FormField::Kind::Number);
  const FieldRule f = fieldRule(fine);
  EXPECT_EQ(f.text(5), ".05");
  EXPECT_EQ(f.text(50), ".50");
  int v = -1;
  EXPECT_TRUE(f.read(".07", v));
  EXPECT_EQ(v, 7);
  EXPECT_FALSE(f.read("lots", v));
  EXPECT_EQ(v, 7);
  const FormField c = formField(channel, 3);
  EXPECT_EQ(c.kind, FormField::Kind::Choice);
  EXPECT_EQ(c.value, 3);  // "All" first

  // The shipped page: the sound settings, none of which the window shows.
  for (int index : soundSettingEntries()) {
    EXPECT_TRUE(isSoundSetting(index));
    for (const ControlParam& p : kControlParams) EXPECT_NE(p.index, index);
  }
}

class SoundSettings : public test::Window {
 protected:
  // The dialog for `rows`, worked by `answer` while it is shown.
  bool run(std::span<const int> rows, std::function<void(QWidget*)> answer) {
    tk->postToUi([answer] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      answer(dialog);
    });
    return soundSettingsCommand(*tk, app->window, app->synth, rows);
  }
};

TEST_F(SoundSettings, AChangeOnThePageIsASoundChangeToUndo) {
  const int rows[] = {kCutoffIndex, kDurationRangeIndex};
  EXPECT_TRUE(run(rows, [](QWidget* dialog) {
    auto* cutoff = dialog->findChild<QSpinBox*>("Filter cutoff");
    auto* range = dialog->findChild<QComboBox*>("Wobble duration range");
    ASSERT_NE(cutoff, nullptr);
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(cutoff->text().toStdString(), "1500 Hz");
    EXPECT_EQ(cutoff->toolTip().toStdString(), "The low-pass filter's cutoff frequency.");
    EXPECT_EQ(cutoff->maximum(), 5000);
    EXPECT_EQ(range->count(), 2);
    EXPECT_EQ(range->currentText().toStdString(), "x10");
    cutoff->setValue(2200);
    range->setCurrentIndex(0);
    QTest::keyClick(dialog, Qt::Key_Return);
  }));
  pump();
  EXPECT_EQ(app->synth.instrument.value(kCutoffIndex), 2200);
  EXPECT_EQ(app->synth.instrument.value(kDurationRangeIndex), kDurationRangeX1);
  EXPECT_TRUE(currentState(app->synth).changed());
  showSound(app->synth);
  EXPECT_EQ(controlValue(app->synth.controls, kSliderF), 2200);

  // Both moves are one step back; Cancel changes nothing.
  ASSERT_TRUE(undoSound(app->synth));
  EXPECT_EQ(app->synth.instrument.value(kCutoffIndex), 1500);
  EXPECT_EQ(app->synth.instrument.value(kDurationRangeIndex), kDurationRangeX10);
  EXPECT_FALSE(app->synth.history.canUndo());
  EXPECT_FALSE(run(rows, [](QWidget* dialog) {
    dialog->findChild<QSpinBox*>("Filter cutoff")->setValue(99);
    QTest::keyClick(dialog, Qt::Key_Escape);
  }));
  EXPECT_EQ(app->synth.instrument.value(kCutoffIndex), 1500);
}

// The shipped page: a field for each sound setting, named and with its Help
// sentence as its tooltip (or a note when there is nothing to set); the
// pitch mode chosen on it reaches the voice and is a step to undo.
TEST_F(SoundSettings, TheShippedPageShowsEachSoundSetting) {
  const std::vector<int> entries = soundSettingEntries();
  constexpr int pitch = parameterIndex("pitch_mode");
  tk->postToUi([entries] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Sound settings");
    for (int i : entries) {
      const std::string name(parameter(i).name);
      auto* field = dialog->findChild<QWidget*>(QString::fromStdString(name));
      ASSERT_NE(field, nullptr) << name;
      EXPECT_EQ(field->toolTip().toStdString(), parameter(i).help) << name;
    }
    auto* note = dialog->findChild<QLabel*>("note");
    EXPECT_EQ(note && note->text().toStdString() == kNothingToSet, entries.empty());
    if (auto* mode = dialog->findChild<QComboBox*>(
            QString::fromStdString(std::string(parameter(pitch).name)))) {
      ASSERT_EQ(mode->count(), 2);
      EXPECT_EQ(mode->currentText().toStdString(), "Whole-sample periods");
      EXPECT_EQ(mode->itemText(1).toStdString(), "Exact");
      mode->setCurrentIndex(1);
    }
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  dispatch(*app, UiEvent{UiEvent::Kind::Menu, kCmdSoundSettings, app->window});
  pump();
  EXPECT_EQ(app->synth.instrument.value(pitch), kPitchExact);
  test::settle(app->synth);
  EXPECT_EQ(app->synth.engine.params.get(Param::PitchMode), kPitchExact);
  ASSERT_TRUE(undoSound(app->synth));
  EXPECT_EQ(app->synth.instrument.value(pitch), kPitchPeriods);
}

// What of an opened patch's keyed lines could not be read is told in the
// status bar, until a patch opens with nothing to tell.
TEST_F(SoundSettings, OpenTellsWhatOfThePatchWasNotRead) {
  const std::string plain = formatPatch(capturePatch(startSound()));
  const std::string bad = dataDir.file("bad.vx", plain + "ondelith-settings=1\r\nno value\r\n");
  const std::string good = dataDir.file("good.vx", plain + "ondelith-settings=1\r\nk=v\r\n");
  std::string answer;
  tk->setDialogResponder(
      [&answer](const std::string&, const std::string&, const std::string&) { return answer; });
  const std::string before = tk->statusText(app->window, 3);
  for (const std::string& path : {bad, good}) {
    answer = path;
    dispatch(*app, UiEvent{UiEvent::Kind::Menu, kCmdOpen, app->window});
    pump();
    EXPECT_EQ(tk->statusText(app->window, 3),
              path == bad ? "Sound settings: \"no value\" is not key=value" : before);
  }
  EXPECT_EQ(currentState(app->synth).sound.unknown, (std::vector<KeyedLine>{{"k", "v"}}));
}

}  // namespace
}  // namespace ondelith
