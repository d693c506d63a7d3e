// The program with its real devices on a JACK server of the test's own: its
// one JACK client, the ports' names and the player's connections as the
// first start, Settings and the next start leave them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <fstream>
#include <sstream>

#include "app/app.h"
#include "app/real_devices.h"
#include "jack_fixture.h"
#include "platform/quiet_libraries.h"
#include "test_files.h"

namespace ondelith {
namespace {

using namespace test;
using Names = std::vector<std::string>;

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    quietSoundLibraries();
    server = std::make_unique<JackServer>();
    useServer(server->name());
    ASSERT_TRUE(server->start()) << "jackd did not come up";
    looker = jack_client_open("Looker", JackNoStartServer, nullptr);
    ASSERT_NE(looker, nullptr);
    sink = std::make_unique<TestClient>("Sink", 1, false);
    keyboard = std::make_unique<TestClient>("Keyboard", 0, true);
    keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
    ASSERT_TRUE(sink->ok() && keyboard->ok() && keyboard2->ok());
    tk = std::make_unique<Toolkit>(argc, argv);
  }
  void TearDown() override {
    stop();
    tk.reset();
    keyboard.reset();
    keyboard2.reset();
    sink.reset();
    if (looker) jack_client_close(looker);
    server.reset();
  }
  // A run of the program on the test's settings file.
  void start() {
    app = std::make_unique<App>(*tk);
    app->settingsPath = (settingsDir.path / "Ondelith.conf").string();
    devices = std::make_unique<RealDevices>(*app);
    app->devices = devices.get();
    int status = -1;
    ASSERT_TRUE(startUp(*app, status)) << status;
  }
  void stop() {
    if (!app) return;
    shutDown(*app);
    tk->destroyWindow(app->window);
    QCoreApplication::processEvents();
    devices.reset();
    app.reset();
  }
  // The event loop for a while.
  void run(std::chrono::milliseconds time) {
    const auto end = Clock::now() + time;
    while (Clock::now() < end) {
      UiEvent e;
      if (tk->waitEventFor(kVoicePollMs, e)) dispatch(*app, e);
      pollVoice(*app);
    }
  }
  // Settings, OK with the latency choice `latency`.
  void settingsWithLatency(int latency) {
    tk->postToUi([latency] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      dialog->findChild<QComboBox*>("Latency")->setCurrentIndex(latency);
      QTest::keyClick(dialog, Qt::Key_Return);
    });
    dispatch(*app, UiEvent{UiEvent::Kind::Menu, kCmdSettings, app->window});
  }
  Names out() { return connectionsOf(looker, "Ondelith:out"); }
  Names midiIn() { return connectionsOf(looker, "Ondelith:MIDI In"); }
  // The event loop until `done`, `limit` at most.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > end) return false;
      run(20ms);
    }
    return true;
  }
  std::string settingsText() {
    std::ifstream in(settingsDir.path / "Ondelith.conf");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string field(int k) { return tk->statusText(app->window, k); }
  bool sinkHearsMore() {
    const long before = sink->nonZeroSamples();
    return waitFor([&] { return sink->nonZeroSamples() > before + 4410; });
  }

  std::unique_ptr<JackServer> server;
  jack_client_t* looker = nullptr;
  std::unique_ptr<TestClient> sink, keyboard, keyboard2;
  int argc = 1;
  char name[9] = "ondelith";
  char* argv[2] = {name, nullptr};
  TempDir settingsDir;
  std::unique_ptr<Toolkit> tk;
  std::unique_ptr<App> app;
  std::unique_ptr<RealDevices> devices;
};

const Names kOwnPorts = {"Ondelith:MIDI In", "Ondelith:out"};

TEST_F(Session, PortsAndThePlayersConnectionsStayThroughSettingsAndComeBackAtTheNextStart) {
  start();
  // One client, named after the program, with both ports; the output on
  // both speakers; the first MIDI output as the chosen device.
  EXPECT_EQ(portsOf(looker, "Ondelith"), kOwnPorts);
  EXPECT_EQ(out(), (Names{"system:playback_1", "system:playback_2"}));
  EXPECT_EQ(midiIn(), Names{"Keyboard:out"});

  // The player patches: the sink instead of the right speaker, a second
  // keyboard beside the chosen one.
  ASSERT_EQ(jack_disconnect(looker, "Ondelith:out", "system:playback_2"), 0);
  ASSERT_EQ(jack_connect(looker, "Ondelith:out", "Sink:in_1"), 0);
  ASSERT_EQ(jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  run(200ms);
  keyboard2->send({0x90, 69, 100});
  EXPECT_TRUE(sinkHearsMore());

  for (const int latency : {2, 0, 5}) {
    settingsWithLatency(latency);
    run(100ms);
    EXPECT_EQ(portsOf(looker, "Ondelith"), kOwnPorts) << latency;
    EXPECT_EQ(out(), (Names{"Sink:in_1", "system:playback_1"})) << latency;
    EXPECT_EQ(midiIn(), (Names{"Keyboard2:out", "Keyboard:out"})) << latency;
    EXPECT_EQ(tk->statusText(app->window, 1), "On") << latency;
    EXPECT_TRUE(sinkHearsMore()) << latency;
  }
  keyboard2->send({0x80, 69, 0});
  stop();
  EXPECT_EQ(portsOf(looker, "Ondelith"), Names{});

  // The next start connects what the player left, not the first start's choice.
  start();
  EXPECT_EQ(portsOf(looker, "Ondelith"), kOwnPorts);
  EXPECT_EQ(out(), (Names{"Sink:in_1", "system:playback_1"}));
  EXPECT_EQ(midiIn(), (Names{"Keyboard2:out", "Keyboard:out"}));
  keyboard->send({0x90, 60, 100});
  EXPECT_TRUE(sinkHearsMore());

  // Connections the player took away stay away.
  ASSERT_EQ(jack_disconnect(looker, "Ondelith:out", "Sink:in_1"), 0);
  ASSERT_EQ(jack_disconnect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  run(200ms);
  stop();
  start();
  EXPECT_EQ(out(), Names{"system:playback_1"});
  EXPECT_EQ(midiIn(), Names{"Keyboard:out"});
}

// The server goes while the program plays: the status bar says so; once
// it is back the program's ports come back by themselves, with the
// player's connections, and play.
TEST_F(Session, TheServerGoingIsToldAndThePortsComeBackWithItsReturn) {
  start();
  ASSERT_EQ(jack_connect(looker, "Ondelith:out", "Sink:in_1"), 0);
  ASSERT_EQ(jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  run(200ms);
  EXPECT_TRUE(closeClient(looker));
  looker = nullptr;
  sink.reset();
  keyboard.reset();
  keyboard2.reset();
  server->stop();
  EXPECT_TRUE(runUntil([&] { return field(3) == kJackGoneNotice; }, 3000ms));

  ASSERT_TRUE(server->start());
  looker = jack_client_open("Looker", JackNoStartServer, nullptr);
  ASSERT_NE(looker, nullptr);
  sink = std::make_unique<TestClient>("Sink", 1, false);
  keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
  ASSERT_TRUE(sink->ok() && keyboard2->ok());
  const auto back = Clock::now();
  EXPECT_TRUE(runUntil([&] {
    return portsOf(looker, "Ondelith") == kOwnPorts && midiIn() == Names{"Keyboard2:out"} &&
           out() == (Names{"Sink:in_1", "system:playback_1", "system:playback_2"});
  }));
  RecordProperty("seconds_to_reconnect", std::to_string(secondsSince(back)));
  EXPECT_EQ(field(3), kJackBackNotice);
  keyboard2->send({0x90, 69, 100});
  EXPECT_TRUE(sinkHearsMore());
}

// A connection to a program that quits first is still the player's: it is
// made again when that program comes back, and kept for the next start.
TEST_F(Session, AConnectionOutlivesTheOtherProgramQuittingFirst) {
  start();
  ASSERT_EQ(jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  run(200ms);
  keyboard2.reset();
  run(1200ms);
  EXPECT_NE(settingsText().find("Keyboard2:out"), std::string::npos);
  keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
  ASSERT_TRUE(keyboard2->ok());
  EXPECT_TRUE(runUntil([&] { return midiIn() == (Names{"Keyboard2:out", "Keyboard:out"}); }));
  keyboard2.reset();
  run(200ms);
  stop();
  keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
  ASSERT_TRUE(keyboard2->ok());
  start();
  EXPECT_EQ(midiIn(), (Names{"Keyboard2:out", "Keyboard:out"}));
}

// Another program patching in a flood: the settings are written at most
// once a second, and the last state at exit.
TEST_F(Session, AFloodOfConnectionChangesWritesTheSettingsAtMostOnceASecond) {
  start();
  const std::filesystem::path file = settingsDir.path / "Ondelith.conf";
  const auto version = [&] {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return std::pair<long, long>{0, 0};
    return std::pair<long, long>{static_cast<long>(st.st_ino), st.st_mtim.tv_nsec};
  };
  auto seen = version();
  int writes = 0;
  const auto t0 = Clock::now();
  for (int k = 0; k < 60; ++k) {
    if (k % 2 == 0)
      jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In");
    else
      jack_disconnect(looker, "Keyboard2:out", "Ondelith:MIDI In");
    run(40ms);
    if (version() != seen) ++writes;
    seen = version();
  }
  const double seconds = secondsSince(t0);
  RecordProperty("writes", std::to_string(writes));
  EXPECT_GE(writes, 1);
  EXPECT_LE(writes, static_cast<int>(seconds) + 1) << seconds << " s";
  ASSERT_EQ(jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  run(60ms);
  stop();
  EXPECT_NE(settingsText().find("Keyboard2:out"), std::string::npos);
}

// With no device chosen, notes on the program's own port show it in use.
TEST_F(Session, TheOwnPortInUseIsShownNeverNoMidiIn) {
  keyboard.reset();
  keyboard2.reset();
  start();
  EXPECT_EQ(field(0), "No MIDI IN");
  keyboard = std::make_unique<TestClient>("Keyboard", 0, true);
  ASSERT_TRUE(keyboard->ok());
  ASSERT_EQ(jack_connect(looker, "Keyboard:out", "Ondelith:MIDI In"), 0);
  keyboard->send({0x90, 69, 100});
  EXPECT_TRUE(runUntil([&] { return field(1) == "On"; }, 2000ms));
  EXPECT_EQ(field(0), kOwnJackInputText);
  keyboard->send({0x80, 69, 0});
  ASSERT_EQ(jack_disconnect(looker, "Keyboard:out", "Ondelith:MIDI In"), 0);
  run(100ms);
  EXPECT_EQ(field(0), kOwnJackInputText);  // it played just now
}

}  // namespace
}  // namespace ondelith
