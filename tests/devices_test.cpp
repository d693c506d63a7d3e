// The devices against real libraries: PortAudio and RtMidi on a JACK server
// with the dummy back end that each test starts under a name of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devices/audio_output.h"
#include "devices/midi_device.h"
#include "platform/quiet_libraries.h"
#include "test_support.h"

namespace ondelith {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A name no server uses.
std::string unusedServerName() { return "ondelith-devtest-none-" + std::to_string(getpid()); }

// Clients find the server through the environment, as the app's libraries do.
void useServer(const std::string& name) {
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
}

// A jackd of the test's own. It dies with the test process, even on a crash.
// JACK keeps at most eight servers in its registry and frees the entry of a
// server that died without leaving only when one of the same name starts; so
// names come from a small set, each held through a lock file by one test
// process at a time, and a crashed run's entry is taken over by the next.
class JackServer {
 public:
  explicit JackServer(int rate = 44100) : rate_(std::to_string(rate)) {
    for (int k = 0; k < 16 && name_.empty(); ++k) {
      const std::string lock = "/tmp/ondelith-devtest-jack-" + std::to_string(k) + ".lock";
      lockFd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
      if (lockFd_ >= 0 && flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        name_ = "ondelith-devtest-" + std::to_string(k);
      } else if (lockFd_ >= 0) {
        ::close(lockFd_);
        lockFd_ = -1;
      }
    }
  }
  ~JackServer() {
    stop();
    if (lockFd_ >= 0) ::close(lockFd_);
  }
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Starts jackd and waits until it takes clients; retries while the
  // registry is full (other test runs).
  bool start() {
    if (name_.empty()) return false;
    // Servers share the machine's JACK state (a registry of shared memory,
    // the metadata store), which starting servers rewrite: one start at a
    // time, should test processes ever run side by side.
    const int startLock =
        ::open("/tmp/ondelith-devtest-jack-start.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (startLock >= 0) flock(startLock, LOCK_EX);
    const bool up = startUnlocked();
    if (startLock >= 0) ::close(startLock);
    return up;
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000ms)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  const std::string& name() const { return name_; }

 private:
  bool startUnlocked() {
    const auto end = Clock::now() + 30s;
    while (Clock::now() < end) {
      if (launch()) return true;
      std::this_thread::sleep_for(200ms);
    }
    return false;
  }

  bool launch() {
    // The name is ours; a socket left under it is a dead server's.
    std::error_code ignored;
    std::filesystem::remove(socketPath(), ignored);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("jackd", "jackd", "-n", name_.c_str(), "-d", "dummy", "-r", rate_.c_str(), "-p", "256",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return false;
    bool exited = false;
    const bool up = waitFor(
        [&] {
          if (waitpid(pid_, nullptr, WNOHANG) == pid_) return exited = true;
          return std::filesystem::exists(socketPath()) && probe();
        },
        10000ms);
    if (up && !exited) return true;
    if (!exited) stop();
    pid_ = -1;
    return false;
  }

  // The server's request socket, which appears once its shared state (the
  // metadata store every JACK program maps) is set up. A client that comes
  // sooner may set that store up itself, racing the server: a program then
  // dies of SIGBUS, and an interrupted store kills every later one.
  std::string socketPath() const {
    return "/dev/shm/jack_" + name_ + "_" + std::to_string(getuid()) + "_0";
  }

  // Whether a client can open on the server, asked from a child process so
  // that a SIGBUS ends the child, not the test.
  bool probe() const {
    const pid_t child = fork();
    if (child == 0) {
      jack_status_t status;
      jack_client_t* c =
          jack_client_open("probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                           &status, name_.c_str());
      if (!c) _exit(1);
      jack_client_close(c);
      _exit(0);
    }
    if (child < 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string rate_;
  std::string name_;
  int lockFd_ = -1;
  pid_t pid_ = -1;
};

// Another program on the server: audio inputs that count the non-zero samples
// reaching them (PortAudio lists it as an output device), and a MIDI output
// that sends queued messages in its next cycle.
class TestClient {
 public:
  TestClient(const std::string& name, int audioInputs, bool midiOutput) {
    // JACK's registry of shared memory is one for every server on the
    // machine; while another test's server starts, an open can fail once.
    for (int attempt = 0; attempt < 20 && !client_; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(100ms);
      client_ = jack_client_open(name.c_str(), JackNoStartServer, &status_);
    }
    if (!client_) return;
    for (int i = 0; i < audioInputs; ++i)
      audioIn_.push_back(jack_port_register(client_, ("in_" + std::to_string(i + 1)).c_str(),
                                            JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    if (midiOutput)
      midiOut_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &TestClient::process, this);
    jack_activate(client_);
  }
  ~TestClient() { close(); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool ok() const { return client_ != nullptr; }
  jack_status_t status() const { return status_; }
  void close() {
    if (client_) jack_client_close(client_);
    client_ = nullptr;
  }
  void send(std::vector<unsigned char> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(bytes));
  }
  long nonZeroSamples() const { return nonZero_.load(); }
  // The ports of other programs that this client's ports are connected to.
  std::vector<std::string> connections() const {
    std::vector<std::string> names;
    std::vector<jack_port_t*> ports = audioIn_;
    if (midiOut_) ports.push_back(midiOut_);
    for (jack_port_t* port : ports) {
      const char** c = jack_port_get_connections(port);
      for (int i = 0; c && c[i]; ++i) names.push_back(c[i]);
      jack_free(c);
    }
    return names;
  }

 private:
  static int process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<TestClient*>(arg);
    for (jack_port_t* port : self->audioIn_) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(port, frames));
      long n = 0;
      for (jack_nframes_t i = 0; i < frames; ++i) n += in[i] != 0.0f;
      self->nonZero_.fetch_add(n);
    }
    if (self->midiOut_) {
      void* buffer = jack_port_get_buffer(self->midiOut_, frames);
      jack_midi_clear_buffer(buffer);
      std::unique_lock<std::mutex> lock(self->mutex_, std::try_to_lock);
      if (lock.owns_lock()) {
        for (const auto& m : self->pending_) jack_midi_event_write(buffer, 0, m.data(), m.size());
        self->pending_.clear();
      }
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_status_t status_{};
  std::vector<jack_port_t*> audioIn_;
  jack_port_t* midiOut_ = nullptr;
  std::mutex mutex_;
  std::vector<std::vector<unsigned char>> pending_;
  std::atomic<long> nonZero_{0};
};

// ---------------------------------------------------------------------------
// The device list

AudioDeviceInfo output(const char* name, int channels) { return {name, "JACK", channels}; }
AudioDeviceInfo inputOnly(const char* name) { return {name, "JACK", 0}; }

std::vector<double> indices(const AudioDeviceList& list) { return list.deviceIndex; }

TEST(AudioDeviceList, DefaultFirstThenOutputsInLibraryOrder) {
  const std::vector<AudioDeviceInfo> devices = {inputOnly("mic"), output("one", 2),
                                                inputOnly("line"), output("three", 8)};
  // The library's default output leads; the rest keep library order, once each.
  EXPECT_EQ(indices(buildAudioDeviceList(devices, 3)), (std::vector<double>{3, 1}));
  EXPECT_EQ(indices(buildAudioDeviceList(devices, 1)), (std::vector<double>{1, 3}));
  const AudioDeviceList noDefault = buildAudioDeviceList(devices, paNoDevice);
  EXPECT_EQ(indices(noDefault), (std::vector<double>{1, 3}));
  EXPECT_EQ(noDefault.name, (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(noDefault.hostApi, (std::vector<std::string>{"JACK", "JACK"}));
  // A default that is no output device (or out of range) is not listed.
  EXPECT_EQ(indices(buildAudioDeviceList(devices, 2)), (std::vector<double>{1, 3}));
  EXPECT_EQ(indices(buildAudioDeviceList(devices, 7)), (std::vector<double>{1, 3}));
}

TEST(AudioDeviceList, WithoutOutputsHoldsOneBlankEntry) {
  for (const auto& devices :
       {std::vector<AudioDeviceInfo>{}, std::vector<AudioDeviceInfo>{inputOnly("mic")}}) {
    const AudioDeviceList list = buildAudioDeviceList(devices, paNoDevice);
    EXPECT_EQ(list.name, std::vector<std::string>{""});
    EXPECT_EQ(list.deviceIndex, std::vector<double>{0});
    EXPECT_EQ(list.hostApi.size(), 1u);
  }
}

// ---------------------------------------------------------------------------
// Audio output on JACK

int positionOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// A JACK server of the test's own, up for the whole test.
class OnJack : public ::testing::Test {
 protected:
  virtual int serverRate() const { return 44100; }
  void SetUp() override {
    quietSoundLibraries();
    server = std::make_unique<JackServer>(serverRate());
    useServer(server->name());
    ASSERT_TRUE(server->start()) << "jackd did not come up";
  }
  void TearDown() override { server.reset(); }

  std::unique_ptr<JackServer> server;
};

class AudioOnJack : public OnJack {
 protected:
  void SetUp() override {
    OnJack::SetUp();
    if (HasFatalFailure()) return;
    sink = std::make_unique<TestClient>("Sink", 1, false);
    ASSERT_TRUE(sink->ok());
  }
  void TearDown() override {
    if (audio.initialized || audio.stream) stopAudio(audio, nullptr);
    sink.reset();
    OnJack::TearDown();
  }

  int entryNamed(const std::string& name) const { return positionOf(audio.devices.name, name); }
  // Sound on the first device, then the JACK server goes away under it.
  void playThenLoseTheServer() {
    ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
    startStream(audio);
    ASSERT_TRUE(waitFor([&] { return counter() > 4410; }));
    sink.reset();
    server->stop();
    std::this_thread::sleep_for(200ms);
  }
  int32_t counter() const { return synth->engine.sampleCounter.load(); }
  // Frames rendered per second of wall time, measured over `seconds`.
  double renderRate(double seconds) const {
    const int32_t c0 = counter();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (counter() - c0) / secondsSince(t0);
  }

  std::unique_ptr<TestClient> sink;
  std::unique_ptr<Synth> synth = test::makeSynth();
  AudioOutput audio;
};

TEST_F(AudioOnJack, ListStartsWithTheDefaultOutputAndHoldsEveryOutputOnce) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  const AudioDeviceList& list = audio.devices;
  ASSERT_GE(list.name.size(), 2u);  // the server's "system" and the Sink
  EXPECT_EQ(list.deviceIndex[0], Pa_GetDefaultOutputDevice());
  std::set<double> seen(list.deviceIndex.begin(), list.deviceIndex.end());
  EXPECT_EQ(seen.size(), list.deviceIndex.size());
  int outputs = 0;
  for (int i = 0; i < Pa_GetDeviceCount(); ++i)
    outputs += Pa_GetDeviceInfo(i)->maxOutputChannels > 0;
  EXPECT_EQ(static_cast<int>(list.name.size()), outputs);
  for (size_t k = 0; k < list.name.size(); ++k)
    EXPECT_EQ(list.name[k], Pa_GetDeviceInfo(static_cast<int>(list.deviceIndex[k]))->name);
  EXPECT_GE(entryNamed("Sink"), 0);
  // Opened on entry 0, not started: nothing renders before the app says so.
  ASSERT_NE(audio.stream, nullptr);
  EXPECT_EQ(audio.outputParameters.device, list.deviceIndex[0]);
  EXPECT_EQ(audio.outputParameters.channelCount, 1);
  EXPECT_EQ(audio.outputParameters.sampleFormat, paFloat32);
  EXPECT_EQ(Pa_IsStreamActive(audio.stream), 0);
  EXPECT_EQ(counter(), 0);
}

TEST_F(AudioOnJack, TheStreamRendersAtTheSampleRateUntilStopped) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  startStream(audio);
  ASSERT_TRUE(waitFor([&] { return counter() > 0; }));
  EXPECT_NEAR(renderRate(1.0), 44100.0, 44100.0 * 0.1);

  int waits = 0;
  const auto t0 = Clock::now();
  stopAudio(audio, [&] {
    ++waits;
    std::this_thread::sleep_for(1ms);
  });
  EXPECT_LT(secondsSince(t0), 2.0);
  EXPECT_EQ(audio.stream, nullptr);
  EXPECT_FALSE(audio.initialized);
  const int32_t after = counter();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(counter(), after);
}

TEST_F(AudioOnJack, SwitchWhileANoteIsHeldKeepsTheNoteAndTheSoundResumes) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  const int sinkEntry = entryNamed("Sink");
  ASSERT_GT(sinkEntry, 0);
  VoiceState& voice = synth->engine.voice;
  midiInputCallback(synth->midi, kMidiData, test::noteOnWord(69, 100));
  startStream(audio);
  // The counter restarts when the attack begins, 1001 samples in: past 4410 it has.
  ASSERT_TRUE(waitFor([&] { return counter() > 4410; }));
  EXPECT_EQ(sink->nonZeroSamples(), 0);  // playing into "system"

  const int32_t before = counter();
  switchAudioDevice(audio, sinkEntry);
  ASSERT_NE(audio.stream, nullptr);
  EXPECT_EQ(audio.outputParameters.device, audio.devices.deviceIndex[sinkEntry]);
  ASSERT_TRUE(waitFor([&] { return sink->nonZeroSamples() > 4410; }));
  const auto fed = sink->connections();
  ASSERT_EQ(fed.size(), 1u);
  EXPECT_EQ(fed[0].rfind("Ondelith", 0), 0u) << fed[0];  // patchbays show whose port it is
  // Same note, no new attack: the counter carried on from where it was.
  EXPECT_EQ(voice.gate.load(), 1);
  EXPECT_EQ(voice.heldKeys.load(), 1);
  EXPECT_EQ(voice.noteFrequency.load(), 440.0);
  EXPECT_GT(counter(), before);

  // And back: the stored device index is still good (no re-initialisation).
  switchAudioDevice(audio, 0);
  ASSERT_NE(audio.stream, nullptr);
  EXPECT_NEAR(renderRate(0.5), 44100.0, 44100.0 * 0.15);
}

TEST_F(AudioOnJack, AFailedOpenLeavesNoStreamAndLaterCallsAreSafe) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  const int sinkEntry = entryNamed("Sink");
  ASSERT_GT(sinkEntry, 0);
  EXPECT_NE(openOutputStream(audio, 99), paNoError);
  EXPECT_EQ(audio.stream, nullptr);
  startStream(audio);
  switchAudioDevice(audio, -1);
  EXPECT_EQ(audio.stream, nullptr);

  // A device whose program has quit cannot be chosen: silence, no crash.
  sink->close();
  switchAudioDevice(audio, sinkEntry);
  EXPECT_EQ(audio.stream, nullptr);
  const int32_t silent = counter();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(counter(), silent);

  // Then a working device brings the sound back.
  switchAudioDevice(audio, 0);
  ASSERT_NE(audio.stream, nullptr);
  EXPECT_TRUE(waitFor([&] { return counter() > silent + 4410; }));
}

TEST_F(AudioOnJack, ServerLossHangsNothingAndAChoiceAfterItsReturnBringsSoundBack) {
  playThenLoseTheServer();
  if (HasFatalFailure()) return;

  auto t0 = Clock::now();
  switchAudioDevice(audio, 0);  // no server: nothing to open
  EXPECT_LT(secondsSince(t0), 3.0);
  EXPECT_EQ(audio.stream, nullptr);

  ASSERT_TRUE(server->start());
  t0 = Clock::now();
  switchAudioDevice(audio, 0);
  EXPECT_LT(secondsSince(t0), 3.0);
  ASSERT_NE(audio.stream, nullptr);
  EXPECT_NEAR(renderRate(0.5), 44100.0, 44100.0 * 0.15);
}

TEST_F(AudioOnJack, ShutdownAfterServerLossEndsPromptly) {
  playThenLoseTheServer();
  if (HasFatalFailure()) return;
  const auto t0 = Clock::now();
  stopAudio(audio, [] { std::this_thread::sleep_for(1ms); });
  EXPECT_LT(secondsSince(t0), 3.0);
  EXPECT_EQ(audio.stream, nullptr);
  EXPECT_FALSE(audio.initialized);
}

// A server at 48000 Hz takes no other rate: the stream opens at the
// server's, the engine is made again at it (keeping the sound's settings),
// and each latency asked for is reported as the server gives it.
class AudioOnJack48k : public AudioOnJack {
 protected:
  int serverRate() const override { return 48000; }
};

TEST_F(AudioOnJack48k, OpensAtTheServersRateAndTheEngineFollows) {
  applyControlEvent(*synth, kSliderF, 700);
  audio.useRate = [&](SampleRate rate) { remakeEngine(*synth, rate); };
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  EXPECT_EQ(audio.rate, 48000.0);
  EXPECT_EQ(synth->engine.rate.hz(), 48000.0);
  EXPECT_EQ(synth->instrument.value(kCutoffIndex), 700);
  startStream(audio);
  ASSERT_TRUE(waitFor([&] { return counter() > 0; }));
  EXPECT_NEAR(renderRate(1.0), 48000.0, 48000.0 * 0.1);
  for (const double ms : {3.0, 6.0, 12.0, 25.0, 50.0, 75.0}) {
    audio.suggestedLatency = ms / 1000;
    ASSERT_EQ(switchAudioDevice(audio, audio.current), paNoError) << ms;
    const double reported = outputLatency(audio) * 1000;
    EXPECT_GT(reported, 0) << ms;
    RecordProperty("latency_" + std::to_string(static_cast<int>(ms)) + "ms",
                   std::to_string(reported));
    std::cout << "asked " << ms << " ms, reported " << reported << " ms\n";
  }
  EXPECT_EQ(synth->engine.rate.hz(), 48000.0);
}

TEST(AudioWithoutServer, StartUpReportsTheFailureOfTheLastOpen) {
  quietSoundLibraries();
  useServer(unusedServerName());
  auto synth = test::makeSynth();
  AudioOutput audio;
  const int code = startAudio(audio, synth->engine);
  ASSERT_TRUE(audio.initialized);
  if (Pa_GetDeviceCount() == 0) {
    EXPECT_NE(code, paNoError);
    EXPECT_FALSE(audioErrorText(code).empty());
    EXPECT_EQ(audio.devices.name, std::vector<std::string>{""});
    EXPECT_EQ(audio.devices.deviceIndex, std::vector<double>{0});
  }
  EXPECT_EQ(audio.stream == nullptr, code != paNoError);
  startStream(audio);
  switchAudioDevice(audio, 0);
  stopAudio(audio, nullptr);
  EXPECT_FALSE(audio.initialized);
  EXPECT_EQ(audio.stream, nullptr);
}

// ---------------------------------------------------------------------------
// MIDI input on JACK

struct Received {
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uint32_t>> messages;  // kind, word

  static void callback(void* context, uint32_t kind, uint32_t word) {
    auto* self = static_cast<Received*>(context);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->messages.emplace_back(kind, word);
  }
  std::vector<std::pair<uint32_t, uint32_t>> all() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
  }
  bool has(uint32_t kind, uint32_t word) {
    const auto m = all();
    return std::find(m.begin(), m.end(), std::make_pair(kind, word)) != m.end();
  }
  size_t count(uint32_t kind) {
    const auto m = all();
    return std::count_if(m.begin(), m.end(), [&](const auto& p) { return p.first == kind; });
  }
};

class MidiOnJack : public OnJack {
 protected:
  // A client of the test's own for looking at and connecting ports.
  jack_client_t* sharedClient() {
    if (!looker) looker = jack_client_open("Looker", JackNoStartServer, nullptr);
    return looker;
  }
  jack_client_t* looker = nullptr;
  void SetUp() override {
    OnJack::SetUp();
    if (HasFatalFailure()) return;
    keyboard = std::make_unique<TestClient>("Keyboard", 0, true);
    keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
    ASSERT_TRUE(keyboard->ok() && keyboard2->ok())
        << "JACK status " << keyboard->status() << ", " << keyboard2->status();
  }
  void TearDown() override {
    if (looker) jack_client_close(looker);
    keyboard.reset();
    keyboard2.reset();
    OnJack::TearDown();
  }

  std::unique_ptr<TestClient> keyboard, keyboard2;
};

TEST_F(MidiOnJack, DeliversShortMessagesAndOneCloseNotice) {
  MidiService service;
  Received got;
  const auto names = service.listInputs();
  const int position = positionOf(names, "Keyboard:out");
  ASSERT_GE(position, 0);
  EXPECT_GE(positionOf(names, "Keyboard2:out"), 0);
  ASSERT_TRUE(service.open(position, &Received::callback, &got));
  EXPECT_TRUE(service.isOpen());
  EXPECT_EQ(keyboard->connections(), std::vector<std::string>{"Ondelith:Device In"});

  keyboard->send({0x90, 60, 100});
  ASSERT_TRUE(waitFor([&] { return got.has(kMidiData, 0x643C90); }));
  keyboard->send({0xF8});                 // clock: ignored
  keyboard->send({0xF0, 0x7D, 1, 0xF7});  // sysex: ignored
  keyboard->send({0xC0, 5});              // two bytes are packed as they come
  keyboard->send({0x80, 60, 0});
  ASSERT_TRUE(waitFor([&] { return got.has(kMidiData, 0x003C80); }));
  EXPECT_EQ(got.all(), (std::vector<std::pair<uint32_t, uint32_t>>{
                           {kMidiData, 0x643C90}, {kMidiData, 0x05C0}, {kMidiData, 0x003C80}}));
  // Another port's notes do not arrive.
  keyboard2->send({0x90, 61, 1});

  std::this_thread::sleep_for(50ms);
  service.close();
  EXPECT_FALSE(service.isOpen());
  const auto m = got.all();
  EXPECT_EQ(m, (std::vector<std::pair<uint32_t, uint32_t>>{{kMidiData, 0x643C90},
                                                           {kMidiData, 0x05C0},
                                                           {kMidiData, 0x003C80},
                                                           {kMidiCloseNotice, 0}}));
  keyboard->send({0x90, 62, 100});
  std::this_thread::sleep_for(100ms);
  service.close();  // nothing open: no second notice
  EXPECT_EQ(got.all(), m);
}

TEST_F(MidiOnJack, APortWhoseProgramQuitsBreaksNothing) {
  MidiService service;
  Received got;
  const auto names = service.listInputs();
  ASSERT_TRUE(service.open(positionOf(names, "Keyboard:out"), &Received::callback, &got));
  keyboard.reset();
  std::this_thread::sleep_for(100ms);
  service.close();
  EXPECT_EQ(got.count(kMidiCloseNotice), 1u);

  // The old list still leads to the ports that remain, wherever they now are.
  EXPECT_FALSE(service.open(positionOf(names, "Keyboard:out"), &Received::callback, &got));
  ASSERT_TRUE(service.open(positionOf(names, "Keyboard2:out"), &Received::callback, &got));
  keyboard2->send({0x90, 64, 90});
  EXPECT_TRUE(waitFor([&] { return got.has(kMidiData, 0x5A4090); }));
  EXPECT_EQ(positionOf(service.listInputs(), "Keyboard:out"), -1);
}

TEST_F(MidiOnJack, ServerLossWhileOpenHangsNothing) {
  MidiService service;
  Received got;
  const auto names = service.listInputs();
  ASSERT_TRUE(service.open(positionOf(names, "Keyboard:out"), &Received::callback, &got));
  keyboard.reset();
  keyboard2.reset();
  server->stop();
  std::this_thread::sleep_for(200ms);
  const auto t0 = Clock::now();
  service.close();
  EXPECT_LT(secondsSince(t0), 2.0);
  EXPECT_EQ(got.count(kMidiCloseNotice), 1u);
  std::vector<std::string> after;
  EXPECT_NO_THROW(after = service.listInputs());
  EXPECT_EQ(positionOf(after, "Keyboard:out"), -1);
  if (after.empty()) {
    EXPECT_FALSE(service.open(0, &Received::callback, &got));
  }
}

TEST_F(MidiOnJack, SwitchingDevicesReleasesTheHeldKeyAndShowsTheInputStatus) {
  auto synth = test::makeSynth();
  test::AudioThread audio(synth->engine);
  MidiDevice device(synth->midi);
  std::vector<std::string> status;
  device.setInputStatus = [&](const std::string& text) { status.push_back(text); };
  std::vector<std::string> names;
  const int count = listMidiInputs(device, names);
  ASSERT_EQ(count, static_cast<int>(names.size()));
  const int first = positionOf(names, "Keyboard:out");
  const int second = positionOf(names, "Keyboard2:out");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);

  VoiceState& voice = synth->engine.voice;
  device.midiDeviceId = first;
  openMidiInput(device);
  EXPECT_EQ(status, std::vector<std::string>{"MIDI IN"});
  keyboard->send({0x90, 69, 100});
  ASSERT_TRUE(waitFor([&] { return voice.gate.load() == 1; }));
  EXPECT_EQ(voice.noteFrequency.load(), 440.0);

  switchMidiDevice(device, second);
  // The close notice released the key.
  EXPECT_TRUE(waitFor([&] { return voice.gate.load() == 0 && voice.heldKeys.load() == 0; }));
  EXPECT_EQ(device.midiDeviceId, second);
  EXPECT_EQ(status.back(), "MIDI IN");
  keyboard->send({0x90, 70, 100});  // the old device is no longer heard
  keyboard2->send({0x90, 57, 100});
  ASSERT_TRUE(waitFor([&] { return voice.gate.load() == 1; }));
  EXPECT_EQ(voice.noteFrequency.load(), 220.0);

  switchMidiDevice(device, static_cast<int>(names.size()) + 5);
  EXPECT_TRUE(waitFor([&] { return voice.gate.load() == 0; }));
  EXPECT_EQ(status.back(), "No MIDI IN");
  device.midiDeviceId = -1;
  openMidiInput(device);
  EXPECT_EQ(status, (std::vector<std::string>{"MIDI IN", "MIDI IN", "No MIDI IN", "No MIDI IN"}));
}

// The program's own port, open beside a chosen device: another program's
// output connected to it plays into the same note entry.
TEST_F(MidiOnJack, TheOwnPortPlaysBesideTheChosenDevice) {
  auto synth = test::makeSynth();
  test::AudioThread audio(synth->engine);
  MidiDevice device(synth->midi);
  std::vector<std::string> names;
  listMidiInputs(device, names);
  device.midiDeviceId = positionOf(names, "Keyboard:out");
  ASSERT_TRUE(openMidiInput(device));
  ASSERT_EQ(openOwnMidiPort(device), 1);  // JACK; no ALSA sequencer here
  EXPECT_EQ(device.ownPort.backEnds(), std::vector<std::string>{"JACK"});
  // Found as a patchbay finds it: a MIDI input of the program's, named so.
  const char** ports = jack_get_ports(sharedClient(), "^Ondelith[^:]*:MIDI In$",
                                      JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
  ASSERT_TRUE(ports && ports[0] && !ports[1]);
  const std::string own = ports[0];
  jack_free(ports);
  // Not listed among the inputs to choose from: it is ours.
  listMidiInputs(device, names);
  EXPECT_EQ(positionOf(names, own), -1);
  ASSERT_EQ(jack_connect(sharedClient(), "Keyboard2:out", own.c_str()), 0);

  VoiceState& voice = synth->engine.voice;
  keyboard2->send({0x90, 69, 100});
  ASSERT_TRUE(waitFor([&] { return voice.gate.load() == 1; }));
  EXPECT_EQ(voice.noteFrequency.load(), 440.0);
  keyboard->send({0x90, 57, 100});  // the chosen device, legato
  ASSERT_TRUE(waitFor([&] { return voice.heldKeys.load() == 2; }));
  EXPECT_EQ(voice.noteFrequency.load(), 220.0);
  keyboard2->send({0x80, 69, 0});
  keyboard->send({0x80, 57, 0});
  ASSERT_TRUE(waitFor([&] { return voice.heldKeys.load() == 0; }));
  EXPECT_EQ(voice.gate.load(), 0);
  device.ownPort.close();
}

#ifdef ONDELITH_PROGRAM
// `ondelith --list-devices`: every name it prints is one that --midi-in or
// --audio-out finds, with no window and no sound.
TEST_F(MidiOnJack, TheProgramListsTheNamesItsOptionsTake) {
  TestClient sink("Sink", 1, false);
  ASSERT_TRUE(sink.ok());
  FILE* pipe = popen("env -u DISPLAY -u WAYLAND_DISPLAY " ONDELITH_PROGRAM " --list-devices", "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> lines;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) lines.emplace_back(buffer, strcspn(buffer, "\n"));
  ASSERT_EQ(pclose(pipe), 0);
  const int audioTitle = positionOf(lines, "Audio outputs (--audio-out):");
  ASSERT_GT(audioTitle, 1);
  ASSERT_EQ(lines[0], "MIDI inputs (--midi-in):");
  const std::vector<std::string> midi(lines.begin() + 1, lines.begin() + audioTitle - 1);
  const std::vector<std::string> audio(lines.begin() + audioTitle + 1, lines.end());
  EXPECT_EQ(lines[static_cast<size_t>(audioTitle) - 1], "");
  EXPECT_GE(positionOf(midi, "Keyboard:out"), 0);
  EXPECT_GE(positionOf(midi, "Keyboard2:out"), 0);
  EXPECT_GE(positionOf(audio, "Sink"), 0);
  MidiService service;
  const std::vector<std::string> inputs = service.listInputs();
  for (const std::string& name : midi) EXPECT_GE(positionOf(inputs, name), 0) << name;
  auto synth = test::makeSynth();
  AudioOutput output;
  ASSERT_EQ(startAudio(output, synth->engine), paNoError);
  for (const std::string& name : audio)
    EXPECT_GE(findAudioEntry(output.devices, name, ""), 0) << name;
  stopAudio(output, nullptr);
}
#endif

TEST(MidiWithoutServer, ListingWithoutSequencerOrServerFindsNothingAndThrowsNothing) {
  quietSoundLibraries();
  useServer(unusedServerName());
  MidiService service;
  std::vector<std::string> names;
  ASSERT_NO_THROW(names = service.listInputs());
  if (!std::filesystem::exists("/dev/snd/seq")) {
    EXPECT_TRUE(names.empty());
  }
  Received got;
  EXPECT_FALSE(service.open(static_cast<int>(names.size()), &Received::callback, &got));
  service.close();
  EXPECT_TRUE(got.all().empty());

  auto synth = test::makeSynth();
  MidiDevice device(synth->midi);
  std::string status;
  device.setInputStatus = [&](const std::string& text) { status = text; };
  std::vector<std::string> drop;
  if (listMidiInputs(device, drop) == 0) {
    device.midiDeviceId = -1;
    openMidiInput(device);
    EXPECT_EQ(status, "No MIDI IN");
  }
}

}  // namespace
}  // namespace ondelith
