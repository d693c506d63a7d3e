// The program on a musician's own set-up: remembered devices and settings,
// the Settings dialog, failed switches, readable controls, the command line.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <fstream>
#include <sstream>

#include "engine/midi_message.h"
#include "ondelith_version.h"
#include "window_fixture.h"

namespace ondelith {
namespace {

using test::FakeDevices;
using test::Window;

TEST(MidiChoice, RememberedByNameElseTheFirstThatIsNoThroughPort) {
  const std::vector<std::string> alsa = {"Midi Through:Midi Through Port-0 14:0",
                                         "USB Keys:USB Keys MIDI 1 20:0", "Pads 24:0"};
  const struct {
    std::vector<std::string> names;
    std::string remembered;
    int expected;
  } cases[] = {
      {alsa, "Pads 24:0", 2},
      {alsa, "", 1},
      {alsa, "Gone 30:0", 1},  // falls back without a word
      {{"Midi Through:Midi Through Port-0 14:0"}, "", 0},
      {{"e2e_keys:out", "Midi Through Port"}, "", 0},
      {{}, "Pads 24:0", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(chooseMidiEntry(c.names, c.remembered), c.expected) << c.remembered;
}

TEST(Preferences, MissingOutOfRangeWrongTypeOrDamagedGiveTheDefaults) {
  const Preferences defaults;
  const std::string comments(kMaxSettingsBytes + 1000, ';');
  const struct {
    std::string file;
    int latency, channel, bend;
    std::string midi;
    bool damaged;
  } cases[] = {
      {"", defaults.latencyMs, defaults.midiChannel, 2, "", false},
      {"[audio]\nlatencyMs=12\n[midi]\nchannel=all\ndevice=\"Keys, 2\"\n", 12, kEveryChannel, 2,
       "Keys, 2", false},
      {"[audio]\nlatencyMs=500\n[midi]\nchannel=17\n", defaults.latencyMs, 1, 2, "", false},
      {"[audio]\nlatencyMs=fast\n[midi]\nchannel=2.5\ndevice=@Variant(\\0\\0\\0\\x7f)\n",
       defaults.latencyMs, 1, 2, "", false},
      {"[audio]\nlatencyMs=nan\n[midi]\nchannel=inf\n", defaults.latencyMs, 1, 2, "", false},
      // One damaged line: the rest is still read.
      {"[audio]\nlatencyMs=12\nno setting here\n[midi]\nchannel=5\n[play]\nbendRange=12\n", 12, 5,
       12, "", true},
      {std::string("\xff\xfe\x00[[[\x01\n=\n\\", 11), defaults.latencyMs, 1, 2, "", true},
      // Over the limit: what its first part holds is still read.
      {"[midi]\nchannel=3\n" + comments + "\n[play]\nbendRange=7\n", defaults.latencyMs, 3, 2, "",
       true},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string path = (dir.path / "Ondelith.conf").string();
    if (!c.file.empty()) dir.file("Ondelith.conf", c.file);
    const auto check = [&](const SettingsStore& store, const char* run) {
      const Preferences p = loadPreferences(store);
      EXPECT_EQ(p.latencyMs, c.latency) << run << c.file.substr(0, 40);
      EXPECT_EQ(p.midiChannel, c.channel) << run << c.file.substr(0, 40);
      EXPECT_EQ(p.bendRange, c.bend) << run << c.file.substr(0, 40);
      EXPECT_EQ(p.midiDevice, c.midi) << run << c.file.substr(0, 40);
    };
    const SettingsStore store(path);
    check(store, "first run: ");
    EXPECT_EQ(store.notice(), c.damaged ? "Damaged settings kept as Ondelith.conf.bad" : "");
    if (!c.damaged) continue;
    // Kept as it was beside a new file that holds what could be read, and
    // told only once.
    EXPECT_EQ(test::slurp(path + ".bad"), c.file);
    const SettingsStore again(path);
    EXPECT_EQ(again.notice(), "");
    check(again, "next run: ");
  }
}

TEST(Preferences, ReadAndWrittenAsTheToolkitsSettingsWereBefore) {
  const std::string values[] = {"hw:0,0",
                                " Keys ",
                                "@Variant(x)",
                                "a\"b\\c;d=e",
                                "Ünïcode Keys",
                                "tab\there\x01"
                                "2",
                                ""};
  test::TempDir dir;
  const QString older = QString::fromStdString((dir.path / "older.conf").string());
  {
    QSettings qt(older, QSettings::IniFormat);
    for (size_t i = 0; i < std::size(values); ++i)
      qt.setValue("midi/k" + QString::number(i), QString::fromStdString(values[i]));
  }
  SettingsStore store(older.toStdString());
  EXPECT_EQ(store.notice(), "");
  const std::string newer = (dir.path / "newer.conf").string();
  SettingsStore written(newer);
  for (size_t i = 0; i < std::size(values); ++i) {
    const std::string key = "midi/k" + std::to_string(i);
    EXPECT_EQ(store.text(key), values[i]) << i;
    written.set(key, values[i]);
  }
  ASSERT_TRUE(written.save());
  const QSettings qt(QString::fromStdString(newer), QSettings::IniFormat);
  EXPECT_EQ(qt.status(), QSettings::NoError);
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(qt.value("midi/k" + QString::number(i)).toString().toStdString(), values[i]) << i;
}

TEST(Preferences, AFifoAtThePathIsNeverWaitedOn) {
  test::TempDir dir;
  const std::string fifo = (dir.path / "Ondelith.conf").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // In a process of its own: a wait for a writer would last for ever.
  const pid_t child = fork();
  if (child == 0) {
    SettingsStore store(fifo);
    const bool defaults = loadPreferences(store).latencyMs == kDefaultLatencyMs;
    storePreferences(store, Preferences{});
    _exit(defaults && store.notice() == "Ondelith.conf is a FIFO: settings not kept" ? 0 : 1);
  }
  int status = -1;
  for (int ms = 0; ms < 1000 && waitpid(child, &status, WNOHANG) == 0; ms += 10) usleep(10000);
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "still waiting on the FIFO after a second";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"Ondelith.conf"});
  struct stat st {};
  EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

#ifdef ONDELITH_SOURCE_DIR
TEST(Preferences, OneFileNameInTheCodeTheReadmeAndTheManual) {
  test::TempDir home;
  setenv("XDG_CONFIG_HOME", home.path.c_str(), 1);
  const std::string own = SettingsStore().path();
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(own, (home.path / "Ondelith" / kSettingsFileName).string());
  const std::string shown = std::string("~/.config/Ondelith/") + kSettingsFileName;
  for (const char* doc : {"/README.md", "/data/ondelith.1"}) {
    const std::string text = test::slurp(std::string(ONDELITH_SOURCE_DIR) + doc);
    EXPECT_NE(text.find(shown), std::string::npos) << doc;
  }
}
#endif

TEST_F(Window, ADamagedOrUnusableSettingsFileIsToldInTheStatusBar) {
  EXPECT_EQ(tk->statusText(app->window, 3), "");
  std::ofstream(settingsFile(), std::ios::binary) << "[midi]\nchannel=4\n\x01\x02\n";
  restart();
  EXPECT_EQ(tk->statusText(app->window, 3), "Damaged settings kept as Ondelith.conf.bad");
  EXPECT_EQ(app->synth.instrument.value(kChannelIndex), 4);
  expectStatusFits();
  restart();  // told once
  EXPECT_EQ(tk->statusText(app->window, 3), "");
  EXPECT_EQ(app->synth.instrument.value(kChannelIndex), 4);
  std::filesystem::remove(settingsFile());
  ASSERT_EQ(mkfifo(settingsFile().c_str(), 0600), 0);
  restart();
  EXPECT_EQ(tk->statusText(app->window, 3), "Ondelith.conf is a FIFO: settings not kept");
  expectStatusFits();
  std::filesystem::remove(settingsFile());
  std::filesystem::create_symlink("Ondelith.conf", settingsFile());
  restart();
  EXPECT_EQ(tk->statusText(app->window, 3), "Ondelith.conf: a loop of links, not kept");
  expectStatusFits();
}

TEST_F(Window, RememberedDevicesAreChosenAgainWhereverTheyAreListed) {
  // First run: the second entry of each list chosen by the player.
  key(kMidiInputList, Qt::Key_Down);
  key(kAudioOutputList, Qt::Key_Down);
  EXPECT_EQ(tk->text(kMidiInputList), "Keyboard B");
  EXPECT_EQ(tk->text(kAudioOutputList), "system");

  // Second run: other devices came, the order changed.
  restart([](FakeDevices& d) {
    d.midiNames = {"Midi Through Port-0", "Keyboard C", "Keyboard B", "Keyboard A"};
    d.audioNames = {"system", "pulse", "default"};
  });
  EXPECT_EQ(tk->text(kMidiInputList), "Keyboard B");
  EXPECT_EQ(devices->midiDeviceId, 2);
  EXPECT_EQ(devices->calls.front(), "startAudio system");
  EXPECT_EQ(tk->text(kAudioOutputList), "system");

  // Third run: the keyboard is gone; the first port that is not a through.
  restart([](FakeDevices& d) { d.midiNames = {"Midi Through Port-0", "Keyboard C"}; });
  EXPECT_EQ(tk->text(kMidiInputList), "Keyboard C");
  EXPECT_EQ(devices->midiDeviceId, 1);
}

TEST_F(Window, ListsAreReadAgainWhenTheyOpen) {
  devices->midiNames = {"Keyboard B", "New Keys"};
  devices->audioNames = {"default", "system", "USB"};
  for (int id : {kMidiInputList, kAudioOutputList}) {
    QTest::mouseClick(widget(id), Qt::LeftButton);
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    pump();
  }
  EXPECT_EQ(tk->entryCount(kMidiInputList), 2);
  EXPECT_EQ(tk->entryCount(kAudioOutputList), 3);
  // The device in use stays chosen where it now is; one that went, none.
  EXPECT_EQ(tk->text(kAudioOutputList), "default");
  EXPECT_EQ(tk->value(kMidiInputList), -1);
}

TEST_F(Window, AFailedSwitchSaysWhyAndTheDeviceBeforeStays) {
  std::vector<std::string> boxes;
  tk->setDialogResponder([&](const std::string&, const std::string& title, const std::string& t) {
    boxes.push_back(title + ": " + t);
    return std::string();
  });
  devices->failingAudio = {1};
  devices->failingMidi = {1};
  key(kAudioOutputList, Qt::Key_Down);
  key(kMidiInputList, Qt::Key_Down);
  EXPECT_EQ(boxes, (std::vector<std::string>{
                       "Audio output: Ondelith cannot play through \"system\":\rInvalid device",
                       "MIDI input: Ondelith cannot take notes from \"Keyboard B\":\rthe port is "
                       "gone"}));
  EXPECT_EQ(tk->value(kAudioOutputList), 0);
  EXPECT_EQ(devices->audioEntry, 0);
  EXPECT_EQ(tk->value(kMidiInputList), 0);
  EXPECT_EQ(devices->calls.back(), "switchMidi 0");
  // Nothing remembered from a failure.
  restart();
  EXPECT_EQ(devices->calls.front(), "startAudio ");
}

TEST_F(Window, SettingsDialogReopensTheStreamAndSetsTheChannel) {
  std::string note;
  tk->postToUi([&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    note = dialog->findChild<QLabel*>("note")->text().toStdString();
    dialog->findChild<QComboBox*>("Latency")->setCurrentIndex(2);       // 12 ms
    dialog->findChild<QComboBox*>("MIDI channel")->setCurrentIndex(0);  // All
    dialog->findChild<QSpinBox*>("Pitch bend range")->setValue(7);
    dialog->findChild<QSpinBox*>("Velocity sensitivity")->setValue(50);
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  auto* main = static_cast<QMainWindow*>(tk->nativeWindow(app->window));
  QAction* file = main->menuBar()->actions()[0];
  EXPECT_EQ(file->menu()->actions().back()->text().toStdString(), "Settings...");
  file->menu()->actions().back()->trigger();
  pump();
  EXPECT_EQ(note, "The audio output reports 94 ms of latency now.");  // 75 ms asked
  EXPECT_DOUBLE_EQ(devices->latency, 0.012);
  EXPECT_EQ(devices->calls.back(), "switchAudio 0");
  EXPECT_EQ(app->synth.instrument.value(kChannelIndex), kEveryChannel);
  // Kept for the next run.
  restart();
  EXPECT_DOUBLE_EQ(devices->latency, 0.012);
  EXPECT_EQ(app->synth.instrument.value(kChannelIndex), kEveryChannel);
  EXPECT_EQ(app->synth.instrument.value(kBendRangeIndex), 7);
  EXPECT_EQ(app->synth.instrument.value(kVelocityIndex), 50);
}

TEST_F(Window, SliderToolTipFollowsADragAndEveryCaptionFits) {
  auto* f = static_cast<QSlider*>(widget(kSliderF));
  EXPECT_EQ(tk->toolTip(kSliderF), "Filter cutoff: 1500 Hz");
  const QPoint handle = f->rect().center();
  QTest::mousePress(f, Qt::LeftButton, {}, handle);
  for (int dy : {10, 25, -30}) {
    QTest::mouseMove(f, handle + QPoint(0, dy));
    pump();
    EXPECT_EQ(tk->toolTip(kSliderF), "Filter cutoff: " + std::to_string(f->value()) + " Hz") << dy;
  }
  QTest::mouseRelease(f, Qt::LeftButton, {}, handle + QPoint(0, -30));
  pump();
  EXPECT_NE(f->value(), 1500);
  const std::pair<int, std::string> tips[] = {{kSliderA, "Attack: 1 ms"},
                                              {kSliderS, "Sustain: 50 %"},
                                              {kSliderX1, "X1 point: 0.50"},
                                              {kSliderDuration, "Wobble duration: 2000 ms"},
                                              {spinFineId(1), "Y1 wobble rate, fine: 0.00 x pitch"},
                                              {kMidiInputList, "MIDI input"},
                                              {kAudioOutputList, "Audio output"}};
  for (const auto& [id, tip] : tips) EXPECT_EQ(tk->toolTip(id), tip) << id;
  for (const ControlInfo& s : kControlTable) {
    if (s.kind != ControlKind::Label) continue;
    auto* label = static_cast<QLabel*>(widget(s.id));
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
        << s.text;
  }
}

TEST(CommandLine, OptionsAndMistakesInTheProgramsOwnWords) {
  const char* takesMs = ": takes milliseconds from 3 to 75\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;  // the whole line after "ondelith: "
  } cases[] = {
      {{}, -1, ""},
      {{"--patch", "a.vx", "--midi-in", "Keys", "--audio-out", "system", "--latency", "12.5"},
       -1,
       ""},
      {{"--list-devices"}, -1, ""},
      {{"--list-devices", "extra"},
       2,
       "--list-devices lists and ends: \"extra\" is not used (give --list-devices alone)\n"},
      {{"--help"}, 0, ""},
      {{"--version"}, 0, ""},
      {{"--bogus"}, 2, "--bogus is not an option (see --help)\n"},
      {{"--latency", "100", "--patch", "--bogus"}, 2, "--bogus is not an option (see --help)\n"},
      {{"--latency", "100"}, 2, std::string("--latency \"100\"") + takesMs},
      {{"--latency", "abc"}, 2, std::string("--latency \"abc\"") + takesMs},
      {{"--latency=nan"}, 2, std::string("--latency \"nan\"") + takesMs},
      {{"--latency", "-inf"}, 2, std::string("--latency \"-inf\"") + takesMs},
      {{"--midi-in"},
       2,
       "--midi-in needs a value: it takes the name of a MIDI input (see --list-devices)\n"},
      {{"--audio-out", ""},
       2,
       "--audio-out \"\": takes the name of an audio output (see --list-devices)\n"},
      {{"--patch", "a.vx", "--patch", "b.vx"},
       2,
       "--patch is given twice (\"a.vx\", \"b.vx\"): give it once\n"},
      {{"a.vx", "b.vx"},
       2,
       "\"b.vx\": one word too many, only one FILE.vx is taken (see --help)\n"},
      {{"a.vx", "--patch", "b.vx"},
       2,
       "two patches to open, \"a.vx\" and --patch \"b.vx\": give one\n"},
      {{"--list-devices=yes"}, 2, "--list-devices takes no value\n"},
      {{"--set", "cutoff=800", "--set=x1_fine=.25"}, -1, ""},
      {{"--list-parameters"}, 0, ""},
      {{"--set", "cutof=800"},
       2,
       "--set \"cutof=800\": there is no parameter \"cutof\" (see --list-parameters)\n"},
      {{"--set", "cutoff=1"}, 2, "--set \"cutoff=1\": cutoff takes 20 to 5000 Hz\n"},
      {{"--set"},
       2,
       "--set needs a value: it takes SYMBOL=VALUE, as \"cutoff=800\" (see --list-parameters)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> words = {"ondelith"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    CommandLine line;
    std::ostringstream out, err;
    EXPECT_EQ(parseCommandLine(static_cast<int>(argv.size()), argv.data(), line, out, err),
              c.status)
        << words.back();
    EXPECT_EQ(err.str(), c.err.empty() ? "" : "ondelith: " + c.err);
    if (c.status == 0) {
      EXPECT_FALSE(out.str().empty());
    }
  }
  std::ostringstream out, err;
  char name[] = "ondelith", version[] = "--version", file[] = "b.vx", list[] = "--list-devices";
  char* versionArgv[] = {name, version};
  parseCommandLine(2, versionArgv, *std::make_unique<CommandLine>(), out, err);
  EXPECT_EQ(out.str(), "ondelith " + std::string(kVersion) + "\nLicense GPL-3.0-or-later\n");
  CommandLine line;
  char* fileArgv[] = {name, file};
  EXPECT_EQ(parseCommandLine(2, fileArgv, line, out, err), -1);
  EXPECT_EQ(line.patch, "b.vx");  // the one word is the patch, as --patch gives it
  CommandLine listing;
  char* listArgv[] = {name, list};
  EXPECT_EQ(parseCommandLine(2, listArgv, listing, out, err), -1);
  EXPECT_TRUE(listing.listDevices);
  char set[] = "--set", cutoff[] = "cutoff=800", mod[] = "x1_mod=-35";
  char* setArgv[] = {name, set, cutoff, set, mod};
  CommandLine sets;
  EXPECT_EQ(parseCommandLine(5, setArgv, sets, out, err), -1);
  EXPECT_EQ(sets.settings.size(), 2u);
  EXPECT_EQ(sets.settings[1].index, modIndex(kRowX1));
  EXPECT_EQ(sets.settings[1].value, -35);
}

TEST_F(Window, ADeviceNameThatIsNotThereEndsStartUpWithOneLine) {
  const struct {
    std::string midi, audio, line;
  } cases[] = {
      {"Nope", "", "--midi-in \"Nope\": no MIDI input of that name (see --list-devices)"},
      {"", "Gone", "--audio-out \"Gone\": no audio output of that name (see --list-devices)"},
  };
  for (const auto& c : cases) {
    App other(*tk);
    other.settingsPath = settingsFile();
    FakeDevices fake(other);
    other.devices = &fake;
    other.commandLine.midiIn = c.midi;
    other.commandLine.audioOut = c.audio;
    int status = -1;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startUp(other, status));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ondelith: " + c.line + "\n");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(other.window, 0);
  }
}

#ifdef ONDELITH_PROGRAM
// The program's status and everything it wrote.
std::pair<int, std::string> runProgram(const std::string& environment, const std::string& args) {
  // Settings and sounds of its own, never the user's.
  const test::TempDir home;
  const std::string own =
      " XDG_CONFIG_HOME=" + home.path.string() + " XDG_DATA_HOME=" + home.path.string();
  FILE* pipe = popen((environment + own + " " ONDELITH_PROGRAM " " + args + " 2>&1").c_str(), "r");
  if (!pipe) return {-1, ""};
  std::string output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
}

TEST(CommandLine, AWrongOptionOrNoDisplayEndsWithOneLineAndStatusTwo) {
  test::TempDir dir;
  const std::string patch = dir.file("x.vx", "50\r\n");
  const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb";
  const struct {
    std::string environment, args, says;
  } cases[] = {
      // No display at all: a window would fail to open, not end with status 2.
      {noDisplay, "--latency 1", "--latency \"1\""},
      {noDisplay, "--patch " + patch, "no display"},
      {noDisplay, patch, "no display"},
      {"env -u WAYLAND_DISPLAY DISPLAY=:ondelith-none QT_QPA_PLATFORM=xcb", patch, "display"},
  };
  for (const auto& c : cases) {
    const auto [status, output] = runProgram(c.environment, c.args);
    EXPECT_EQ(status, 2) << c.args << ": " << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_EQ(output.rfind("ondelith: ", 0), 0u) << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
}
#endif

}  // namespace
}  // namespace ondelith
