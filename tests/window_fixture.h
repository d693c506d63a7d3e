#pragma once
// The main window on Qt's offscreen platform with devices that only record
// what they are asked: shared by the window test files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include "app/app.h"
#include "test_support.h"

namespace ondelith::test {

// Devices that record what start-up and the loop ask of them.
class FakeDevices : public Devices {
 public:
  explicit FakeDevices(App& a) : app(a) {}
  App& app;
  std::vector<std::string> calls;
  bool everyControlExistedAtStart = false;
  int audioError = 0;
  int midiDeviceId = -2;

  std::vector<std::string> audioNames = {"default", "system"};
  std::vector<std::string> midiNames = {"Keyboard A", "Keyboard B"};
  int audioEntry = -1;
  std::set<int> failingAudio;  // entries whose open fails
  std::set<int> failingMidi;
  double latency = 0;

  int startAudio(const std::string& name, const std::string&) override {
    calls.push_back("startAudio " + name);
    const auto it = std::find(audioNames.begin(), audioNames.end(), name);
    audioEntry = audioError ? -1 : it == audioNames.end() ? 0 : int(it - audioNames.begin());
    return audioError;
  }
  std::string audioErrorText(int) override { return "Invalid device"; }
  std::vector<std::string> audioDeviceNames() override { return audioNames; }
  std::vector<std::string> audioHostApis() override {
    return std::vector<std::string>(audioNames.size(), "JACK");
  }
  int currentAudioEntry() override { return audioEntry; }
  bool refreshAudio() override { return true; }
  std::vector<std::string> laterAudioNames;  // what completeAudioList adds
  bool completeAudioList() override {
    if (laterAudioNames.empty()) return false;
    audioNames.insert(audioNames.end(), laterAudioNames.begin(), laterAudioNames.end());
    laterAudioNames.clear();
    return true;
  }
  void setLatency(double seconds) override { latency = seconds; }
  double outputLatency() override { return audioEntry >= 0 ? latency * 1.25 : 0; }
  int openOwnMidiPort() override { return 1; }
  void startStream() override {
    calls.push_back("startStream");
    everyControlExistedAtStart = true;
    for (const ControlInfo& s : kControlTable)
      everyControlExistedAtStart = everyControlExistedAtStart && app.tk.exists(s.id);
    for (int row = 0; row < kWobbleRows; ++row)
      everyControlExistedAtStart =
          everyControlExistedAtStart && app.tk.exists(curveEditorId(app.synth, row));
    everyControlExistedAtStart = everyControlExistedAtStart && app.tk.hasStatusBar(app.window);
  }
  int switchAudio(int entry) override {
    calls.push_back("switchAudio " + std::to_string(entry));
    audioEntry = failingAudio.count(entry) ? -1 : entry;
    return audioEntry < 0 ? -9996 : 0;
  }
  void stopAudio(const std::function<void()>& waitOneMs) override {
    calls.push_back("stopAudio");
    waitOneMs();
  }
  int listMidiInputs(std::vector<std::string>& names) override {
    names = midiNames;
    return static_cast<int>(names.size());
  }
  void setMidiDeviceId(int id) override { midiDeviceId = id; }
  bool openMidiInput() override {
    calls.push_back("openMidiInput " + std::to_string(midiDeviceId));
    app.tk.setStatusText(app.window, 0, "MIDI IN");
    return true;
  }
  bool switchMidi(int position, std::string& reason) override {
    calls.push_back("switchMidi " + std::to_string(position));
    if (!failingMidi.count(position)) return true;
    reason = "the port is gone";
    return false;
  }
};

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never the user's own sounds, nor a sound another test kept.
    setenv("XDG_DATA_HOME", dataDir.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", settingsDir.path.c_str(), 1);
    tk = std::make_unique<Toolkit>(argc, argv);
    restart();
  }
  // A program run of its own on the same settings; `prepare` sets up its
  // devices before start-up.
  void restart(const std::function<void(FakeDevices&)>& prepare = {}) {
    if (app) {
      shutDown(*app);
      tk->destroyWindow(app->window);
      QCoreApplication::processEvents();
    }
    devices.reset();
    app = std::make_unique<App>(*tk);
    app->settingsPath = settingsFile();
    devices = std::make_unique<FakeDevices>(*app);
    app->devices = devices.get();
    if (prepare) prepare(*devices);
    int status = -1;
    ASSERT_TRUE(startUp(*app, status));
  }
  void TearDown() override {
    QCoreApplication::processEvents();
    devices.reset();
    app.reset();
    tk.reset();
  }
  QWidget* widget(int id) { return static_cast<QWidget*>(tk->nativeWidget(id)); }
  // Handles every event the toolkit has queued; then the audio thread's
  // next block (the fake devices run none) and the loop's look at the voice.
  void pump() {
    UiEvent e;
    while (tk->waitEventFor(5, e)) dispatch(*app, e);
    app->synth.engine.render(nullptr, 0);
    pollVoice(*app);
  }
  void key(int id, Qt::Key k, int times = 1) {
    for (int i = 0; i < times; ++i) QTest::keyClick(widget(id), k);
    pump();
  }
  bool white(int canvas, int x, int y) { return tk->canvasPixel(canvas, x, y) == 0xFFFFFF; }
  // Every field of the status bar shows its whole text.
  void expectStatusFits() {
    auto* bar = static_cast<QMainWindow*>(tk->nativeWindow(app->window))->statusBar();
    for (const QLabel* field : bar->findChildren<QLabel*>())
      EXPECT_LE(QFontMetrics(field->font()).horizontalAdvance(field->text()),
                field->contentsRect().width())
          << field->text().toStdString();
  }
  // Dialogs answered here instead of by a person: each kept in `dialogs` as
  // "kind: title: text", and `answer` given back.
  void answerDialogs() {
    tk->setDialogResponder(
        [this](const std::string& kind, const std::string& title, const std::string& text) {
          dialogs.push_back(kind + ": " + title + ": " + text);
          return answer;
        });
  }
  std::string answer;
  std::vector<std::string> dialogs;

  // Never the user's own settings.
  std::string settingsFile() const { return (settingsDir.path / "Ondelith.conf").string(); }

  int argc = 1;
  char name[9] = "ondelith";
  char* argv[2] = {name, nullptr};
  test::TempDir settingsDir;
  test::TempDir dataDir;
  std::unique_ptr<Toolkit> tk;
  std::unique_ptr<App> app;
  std::unique_ptr<FakeDevices> devices;
};

}  // namespace ondelith::test
