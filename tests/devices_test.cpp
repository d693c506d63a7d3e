// The devices against real libraries: the program's JACK client on a JACK
// server with the dummy back end that each test starts under a name of its
// own, PortAudio beside it on an ALSA device that plays into nothing.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iostream>

#include "devices/audio_output.h"
#include "devices/callback_times.h"
#include "devices/jack_client.h"
#include "devices/jack_watch.h"
#include "devices/midi_cycle.h"
#include "devices/midi_device.h"
#include "jack_fixture.h"
#include "platform/quiet_libraries.h"
#include "test_support.h"

namespace ondelith {
namespace {

using namespace test;
using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------
// The device list

AudioDeviceInfo output(const char* name, int channels) { return {name, "JACK", channels}; }
AudioDeviceInfo inputOnly(const char* name) { return {name, "JACK", 0}; }

std::vector<double> indices(const AudioDeviceList& list) { return list.deviceIndex; }

TEST(CallbackTimes, PercentilesMaximumAndRunsOverAQuarterOfTheBuffer) {
  CallbackTimes times;
  EXPECT_EQ(times.summary().runs, 0u);
  struct Runs {
    uint64_t us, count;
  };
  // 64 frames at 48000 Hz: 1333 us, a quarter 333 us.
  for (const Runs& r : {Runs{2, 990}, Runs{100, 9}, Runs{500, 1}})
    for (uint64_t i = 0; i < r.count; ++i) times.count(r.us, 64, 48000);
  CallbackTimes::Summary s = times.summary();
  EXPECT_EQ(s.runs, 1000u);
  EXPECT_EQ(s.medianUs, 2);
  EXPECT_EQ(s.p99Us, 2);
  EXPECT_EQ(s.p999Us, 100);
  EXPECT_EQ(s.maxUs, 500);
  EXPECT_NEAR(s.bufferUs, 64e6 / 48000, 1e-9);
  EXPECT_EQ(s.overQuarter, 1u);
  // A run past the last bucket is counted there, not lost.
  times.count(1'000'000, 64, 48000);
  s = times.summary();
  EXPECT_EQ(s.maxUs, static_cast<double>(CallbackTimes::kBuckets - 1));
  EXPECT_EQ(s.overQuarter, 2u);
}

// ---------------------------------------------------------------------------
// One cycle's MIDI

constexpr uint32_t word(uint32_t status, uint32_t data1, uint32_t data2 = 0) {
  return status | data1 << 8 | data2 << 16;
}

TEST(MidiCycle, KeepsOnlyWhatTheVoiceReadsOnItsChannel) {
  const struct {
    uint32_t word;
    int channel;
    bool kept;
  } cases[] = {
      {word(0x90, 60, 100), 0, true},
      {word(0x91, 60, 100), 0, false},
      {word(0x91, 60, 100), 1, true},
      {word(0x9F, 60, 100), kAllChannels, true},
      {word(0x80, 60), 0, true},
      {word(0xE0, 0, 64), 0, true},
      {word(0xC0, 5), 0, true},
      {word(0xB0, 64, 127), 0, true},
      {word(0xB0, 120), 0, true},
      {word(0xB0, 121), 0, true},
      {word(0xB0, 123), 0, true},
      {word(0xB0, 1, 64), 0, false},  // the wheel the voice ignores
      {word(0xD0, 40), 0, false},
      {word(0xA0, 60, 40), 0, false},
      {word(0x90, 0x80, 1), 0, false},
      {word(0xF8, 0), 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(voiceReads(c.word, c.channel), c.kept) << std::hex << c.word;
}

// A flood of bends, pedal values and programs around the messages that
// end notes: within the budget nothing changes; past it the last of each
// stands for the rest, and every note-off and ending controller stays, in
// order.
TEST(MidiCycle, AFloodFitsKeepingEveryMessageThatEndsANote) {
  MidiCycle cycle;
  const std::vector<uint32_t> ending = {word(0x80, 60),  word(0xB0, 64, 127), word(0xB0, 64, 0),
                                        word(0xB0, 120), word(0xB0, 123),     word(0xB0, 121)};
  cycle.add(word(0x90, 60, 100), 0, 0);
  for (uint32_t i = 0; i < 3000; ++i) {
    cycle.add(word(0xE0, i & 0x7F, (i >> 7) & 0x7F), i / 16, kAllChannels);
    cycle.add(word(0xE1, 0, i & 0x7F), i / 16, kAllChannels);
    if (i % 500 == 0) cycle.add(word(0xC0, i / 500), i / 16, kAllChannels);
    if (i == 1500) {
      for (uint32_t w : ending) cycle.add(w, i / 16, kAllChannels);
      cycle.add(word(0xB0, 64, 0), i / 16, kAllChannels);  // up already: changes nothing
    }
  }
  const size_t all = cycle.messages().size();
  EXPECT_EQ(all, 1 + 6000 + 6 + 7u);
  cycle.fit(all);
  EXPECT_EQ(cycle.messages().size(), all);

  cycle.fit(256);
  std::vector<uint32_t> kept;
  for (const CycleMessage& m : cycle.messages()) kept.push_back(m.word);
  std::vector<uint32_t> expected = {word(0x90, 60, 100)};
  expected.insert(expected.end(), ending.begin(), ending.end());
  expected.insert(expected.end(),
                  {word(0xC0, 5), word(0xE0, 2999 & 0x7F, 2999 >> 7), word(0xE1, 0, 2999 & 0x7F)});
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(cycle.messages().back().frame, 2999u / 16);
}

TEST(MidiCycle, NotesPastTheBudgetLoseTheirEarliestNoteOnsNeverANoteOff) {
  MidiCycle cycle;
  for (uint32_t i = 0; i < 400; ++i) {
    cycle.add(word(0x90, i % 128, 100), i, 0);
    cycle.add(word(0x90, i % 128, 0), i, 0);  // a note-off by velocity 0
  }
  cycle.fit(500);
  size_t ons = 0, offs = 0;
  for (const CycleMessage& m : cycle.messages()) ((m.word >> 16) != 0 ? ons : offs) += 1;
  EXPECT_EQ(offs, 400u);
  EXPECT_EQ(ons, 100u);
  EXPECT_EQ(cycle.messages().back().frame, 399u);
  const auto firstOn = std::find_if(cycle.messages().begin(), cycle.messages().end(),
                                    [](const CycleMessage& m) { return (m.word >> 16) != 0; });
  EXPECT_EQ(firstOn->word, word(0x90, 300 % 128, 100));
  // Past its capacity the cycle makes room by the same rules.
  cycle.clear();
  for (size_t i = 0; i < MidiCycle::kCapacity * 3; ++i) cycle.add(word(0xE0, 0, i & 0x7F), 0, 0);
  cycle.add(word(0x80, 60), 0, 0);
  EXPECT_EQ(cycle.refused(), 0u);
  EXPECT_EQ(cycle.messages().back().word, word(0x80, 60));
}

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

TEST(AudioDeviceList, OutputsRememberedByNameAndOldJackChoicesFindTheClient) {
  AudioDeviceList list;
  list.name = {kJackEntryName, "HDA", "HDA", "pulse"};
  list.deviceIndex = {-1, 0, 3, 4};
  list.hostApi = {kJackHostApi, "ALSA", "OSS", "ALSA"};
  const struct {
    const char *name, *hostApi;
    int entry;
  } cases[] = {
      {"HDA", "OSS", 2},   {"HDA", "ALSA", 1},     {"HDA", "", 1},   {"pulse", "OSS", 3},
      {"JACK", "JACK", 0}, {"system", "JACK", 0},  // PortAudio's JACK devices of old
      {"Sink", "JACK", 0}, {"system", "ALSA", -1}, {"", "JACK", -1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(findAudioEntry(list, c.name, c.hostApi), c.entry) << c.name << " " << c.hostApi;
}

// ---------------------------------------------------------------------------
// Audio output: the program's JACK client, and PortAudio beside it

int positionOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// A JACK server of the test's own, up for the whole test, and a client that
// looks at its ports as a patchbay does.
class OnJack : public ::testing::Test {
 protected:
  virtual int serverRate() const { return 44100; }
  virtual int serverPeriod() const { return 256; }
  void SetUp() override {
    quietSoundLibraries();
    server = std::make_unique<JackServer>(serverRate(), serverPeriod());
    useServer(server->name());
    ASSERT_TRUE(server->start()) << "jackd did not come up";
    for (int attempt = 0; attempt < 20 && !looker; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(100ms);
      looker = jack_client_open("Looker", JackNoStartServer, nullptr);
    }
    ASSERT_NE(looker, nullptr);
  }
  void TearDown() override {
    jack.close();
    if (looker) jack_client_close(looker);
    server.reset();
  }
  // Every port of a client whose name begins with "Ondelith".
  Names ownPorts() { return portsOf(looker, kJackClientName); }
  int32_t counter() const { return synth->engine.sampleCounter.load(); }
  // Frames rendered per second of wall time, measured over `seconds`.
  double renderRate(double seconds) const {
    const int32_t c0 = counter();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (counter() - c0) / secondsSince(t0);
  }

  std::unique_ptr<JackServer> server;
  jack_client_t* looker = nullptr;
  std::unique_ptr<Synth> synth = test::makeSynth();
  JackClient jack{synth->midi};
};

const Names kOwnPorts = {"Ondelith:MIDI In", "Ondelith:out"};
const Names kPlaybackPair = {"system:playback_1", "system:playback_2"};

class AudioOnJack : public OnJack {
 protected:
  void SetUp() override {
    OnJack::SetUp();
    if (HasFatalFailure()) return;
    sink = std::make_unique<TestClient>("Sink", 2, false);
    ASSERT_TRUE(sink->ok());
    audio.jack = &jack;
  }
  void TearDown() override {
    stopAudio(audio, nullptr);
    sink.reset();
    OnJack::TearDown();
  }

  Names outputConnections() { return connectionsOf(looker, "Ondelith:out"); }
  // Sound through the client, then the JACK server goes away under it.
  void playThenLoseTheServer() {
    // The looker closes before the client plays: closing a client while
    // another renders has hung inside the library under the race detector.
    jack_client_close(looker);
    looker = nullptr;
    ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
    startStream(audio);
    ASSERT_TRUE(waitFor([&] { return counter() > 4410; }));
    sink.reset();
    server->stop();
    std::this_thread::sleep_for(200ms);
  }
  void openLooker() {
    for (int attempt = 0; attempt < 20 && !looker; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(100ms);
      looker = jack_client_open("Looker", JackNoStartServer, nullptr);
    }
    ASSERT_NE(looker, nullptr);
  }

  std::unique_ptr<TestClient> sink;
  AudioOutput audio;
};

TEST_F(AudioOnJack, OneClientNamedOndelithListedFirstOnThePlaybackPairAtTheFirstStart) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  EXPECT_EQ(audio.devices.name.front(), kJackEntryName);
  EXPECT_EQ(audio.current, 0);
  // PortAudio's JACK host API is not used beside the client.
  ASSERT_TRUE(completeAudioList(audio));
  for (int i = 0; i < Pa_GetHostApiCount(); ++i) EXPECT_NE(Pa_GetHostApiInfo(i)->type, paJACK);
  EXPECT_EQ(ownPorts(), kOwnPorts);
  EXPECT_EQ(jack.name(), kJackClientName);
  // The mono output on both speakers.
  EXPECT_EQ(outputConnections(), kPlaybackPair);
  // Open, not started: nothing renders before the app says so.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(counter(), 0);

  startStream(audio);
  ASSERT_TRUE(waitFor([&] { return counter() > 0; }));
  EXPECT_NEAR(renderRate(1.0), 44100.0, 44100.0 * 0.1);
  EXPECT_GT(outputLatency(audio), 0);
  stopAudio(audio, nullptr);
  EXPECT_EQ(audio.current, -1);
  EXPECT_FALSE(audio.initialized);
  const int32_t after = counter();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(counter(), after);
}

TEST_F(AudioOnJack, RememberedConnectionsAndTheSamePortsThroughEverySwitchToItself) {
  TestClient keyboard("Keyboard", 0, true);
  ASSERT_TRUE(keyboard.ok());
  jack.remember(true, {"Sink:in_1", "Sink:in_2", "Gone:in"}, {"Keyboard:out"});
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  EXPECT_EQ(outputConnections(), (Names{"Sink:in_1", "Sink:in_2"}));
  EXPECT_EQ(jack.midiConnections(), Names{"Keyboard:out"});
  startStream(audio);
  keyboard.send({0x90, 69, 100});
  ASSERT_TRUE(waitFor([&] { return sink->nonZeroSamples() > 4410; }));
  // A new latency (Settings, OK) reopens nothing: the ports, their
  // connections and the held note stay, and the sound goes on.
  for (const double ms : {3.0, 12.0, 75.0}) {
    audio.suggestedLatency = ms / 1000;
    const int32_t before = counter();
    ASSERT_EQ(switchAudioDevice(audio, audio.current), paNoError) << ms;
    EXPECT_EQ(ownPorts(), kOwnPorts) << ms;
    EXPECT_EQ(outputConnections(), (Names{"Sink:in_1", "Sink:in_2"})) << ms;
    EXPECT_EQ(connectionsOf(looker, "Ondelith:MIDI In"), Names{"Keyboard:out"}) << ms;
    EXPECT_TRUE(waitFor([&] { return counter() > before + 2048; })) << ms;
  }
  EXPECT_EQ(synth->engine.voice.gate.load(), 1);
  EXPECT_EQ(synth->engine.voice.noteFrequency.load(), 440.0);
}

// PortAudio's outputs stay on offer: an ALSA device that plays into nothing.
// (It has no clock: PortAudio renders into it as fast as it can.)
class AudioOnJackAndAlsa : public AudioOnJack {
 protected:
  void SetUp() override {
    std::ofstream(config.path / "asound.conf")
        << "</usr/share/alsa/alsa.conf>\npcm.ondelith_null { type null }\n";
    setenv("ALSA_CONFIG_PATH", (config.path / "asound.conf").c_str(), 1);
    AudioOnJack::SetUp();
  }
  void TearDown() override {
    AudioOnJack::TearDown();
    unsetenv("ALSA_CONFIG_PATH");
  }
  TempDir config;
};

TEST_F(AudioOnJackAndAlsa, PortAudioPlaysBesideTheClientWhosePortsStay) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  // The client plays before the library's outputs are listed; listing them
  // later leaves it playing.
  EXPECT_EQ(audio.devices.name, Names{kJackEntryName});
  EXPECT_FALSE(audio.initialized);
  jack_connect(looker, "Ondelith:out", "Sink:in_1");
  startStream(audio);
  synth->instrument.flush();
  midiInputCallback(synth->midi, kMidiData, noteOnWord(69, 100));
  ASSERT_TRUE(waitFor([&] { return sink->nonZeroSamples() > 4410; }));
  ASSERT_TRUE(completeAudioList(audio));
  EXPECT_FALSE(completeAudioList(audio));  // once
  EXPECT_EQ(audio.current, 0);
  EXPECT_TRUE(jack.rendering());
  const int alsa = positionOf(audio.devices.name, "ondelith_null");
  ASSERT_GT(alsa, 0) << "PortAudio did not list the ALSA device";
  EXPECT_EQ(audio.devices.hostApi[static_cast<size_t>(alsa)], "ALSA");
  const long playing = sink->nonZeroSamples();
  EXPECT_TRUE(waitFor([&] { return sink->nonZeroSamples() > playing + 4410; }));

  ASSERT_EQ(switchAudioDevice(audio, alsa), paNoError);
  ASSERT_NE(audio.stream, nullptr);
  const int32_t before = counter();
  EXPECT_TRUE(waitFor([&] { return counter() > before + 44100; }));
  // The client's output is silent meanwhile, its ports and connections kept.
  std::this_thread::sleep_for(30ms);
  const long heard = sink->nonZeroSamples();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(sink->nonZeroSamples(), heard);
  EXPECT_EQ(ownPorts(), kOwnPorts);
  EXPECT_EQ(outputConnections(), (Names{"Sink:in_1", "system:playback_1", "system:playback_2"}));

  ASSERT_EQ(switchAudioDevice(audio, 0), paNoError);
  EXPECT_EQ(audio.stream, nullptr);
  EXPECT_TRUE(waitFor([&] { return sink->nonZeroSamples() > heard + 4410; }));
  EXPECT_EQ(synth->engine.voice.gate.load(), 1);
}

TEST_F(AudioOnJack, AFailedOpenLeavesNoOutputAndLaterCallsAreSafe) {
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  EXPECT_NE(openOutputStream(audio, 99), paNoError);
  EXPECT_EQ(audio.current, -1);
  EXPECT_EQ(audio.stream, nullptr);
  startStream(audio);
  EXPECT_NE(switchAudioDevice(audio, -1), paNoError);
  const int32_t silent = counter();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(counter(), silent);
  // Then the client brings the sound back.
  ASSERT_EQ(switchAudioDevice(audio, 0), paNoError);
  EXPECT_TRUE(waitFor([&] { return counter() > silent + 4410; }));
}

TEST_F(AudioOnJack, ServerLossHangsNothingAndTheClientComesBackWithTheServer) {
  playThenLoseTheServer();
  if (HasFatalFailure()) return;
  EXPECT_TRUE(jack.serverLost());
  auto t0 = Clock::now();
  EXPECT_TRUE(refreshAudioDevices(audio));
  EXPECT_LT(secondsSince(t0), 3.0);
  EXPECT_EQ(findAudioEntry(audio.devices, kJackEntryName, kJackHostApi), -1);
  EXPECT_EQ(audio.current, -1);
  t0 = Clock::now();
  switchAudioDevice(audio, 0);  // nothing to open
  EXPECT_LT(secondsSince(t0), 3.0);

  ASSERT_TRUE(server->start());
  EXPECT_TRUE(refreshAudioDevices(audio));
  ASSERT_EQ(audio.devices.name.front(), kJackEntryName);
  ASSERT_EQ(switchAudioDevice(audio, 0), paNoError);
  EXPECT_TRUE(jack.isOpen());
  EXPECT_NEAR(renderRate(0.5), 44100.0, 44100.0 * 0.15);
  openLooker();
  EXPECT_EQ(ownPorts(), kOwnPorts);
}

TEST(JackConnections, ThoseWhosePortIsGoneAreKeptThoseUndoneAreNot) {
  const Names remembered = {"A:out", "B:out", "C:out"};
  const auto gone = [](const std::string& port) { return port == "B:out"; };
  EXPECT_EQ(mergeConnections(remembered, {"D:out", "A:out"}, gone),
            (Names{"A:out", "B:out", "D:out"}));
  EXPECT_EQ(mergeConnections(remembered, {}, gone), Names{"B:out"});
  EXPECT_EQ(mergeConnections({}, {"A:out"}, gone), Names{"A:out"});
}

// The server goes while the client plays: the loss is told at once; the
// client opens again by itself once the server is back, asking at most
// once a second, with its ports, its output and every remembered
// connection, those to programs that start after it too.
TEST_F(AudioOnJack, TheClientComesBackByItselfWithItsConnectionsWhenTheServerDoes) {
  MidiDevice midi(synth->midi, &jack);
  JackWatch watch;
  jack.remember(true, {"Sink:in_1"}, {"Keyboard:out"});
  playThenLoseTheServer();
  if (HasFatalFailure()) return;
  int64_t now = 5000;
  EXPECT_EQ(watchJackServer(watch, audio, midi, now), JackChange::Gone);
  EXPECT_FALSE(jack.isOpen());
  EXPECT_EQ(watchJackServer(watch, audio, midi, now += 400), JackChange::None);

  ASSERT_TRUE(server->start());
  EXPECT_EQ(watchJackServer(watch, audio, midi, now += 400), JackChange::None);  // too soon
  EXPECT_FALSE(jack.isOpen());
  EXPECT_EQ(watchJackServer(watch, audio, midi, now += 200), JackChange::Back);
  EXPECT_TRUE(jack.rendering());
  const int32_t before = counter();
  EXPECT_TRUE(waitFor([&] { return counter() > before + 4410; }));
  openLooker();
  EXPECT_EQ(ownPorts(), kOwnPorts);

  sink = std::make_unique<TestClient>("Sink", 2, false);
  TestClient keyboard("Keyboard", 0, true);
  ASSERT_TRUE(sink->ok() && keyboard.ok());
  EXPECT_TRUE(waitFor([&] {
    jack.updateRemembered();
    return outputConnections() == Names{"Sink:in_1"} &&
           connectionsOf(looker, "Ondelith:MIDI In") == Names{"Keyboard:out"};
  }));
  EXPECT_EQ(jack.rememberedOutput(), Names{"Sink:in_1"});
  EXPECT_EQ(jack.rememberedMidi(), Names{"Keyboard:out"});
}

TEST_F(AudioOnJack, ShutdownAfterServerLossEndsPromptly) {
  playThenLoseTheServer();
  if (HasFatalFailure()) return;
  const auto t0 = Clock::now();
  stopAudio(audio, [] { std::this_thread::sleep_for(1ms); });
  jack.close();
  EXPECT_LT(secondsSince(t0), 3.0);
  EXPECT_EQ(audio.current, -1);
  EXPECT_FALSE(audio.initialized);
}

// A server at 48000 Hz: the engine is made again at its rate, keeping the
// sound's settings, whatever latency is asked for.
class AudioOnJack48k : public AudioOnJack {
 protected:
  int serverRate() const override { return 48000; }
};

TEST_F(AudioOnJack48k, PlaysAtTheServersRateAndTheEngineFollows) {
  applyControlEvent(*synth, kSliderF, 700);
  audio.useRate = [&](SampleRate rate) { remakeEngine(*synth, rate); };
  ASSERT_EQ(startAudio(audio, synth->engine), paNoError);
  EXPECT_EQ(audio.rate, 48000.0);
  EXPECT_EQ(synth->engine.rate.hz(), 48000.0);
  EXPECT_EQ(synth->instrument.value(kCutoffIndex), 700);
  startStream(audio);
  ASSERT_TRUE(waitFor([&] { return counter() > 0; }));
  EXPECT_NEAR(renderRate(1.0), 48000.0, 48000.0 * 0.1);
  const double reported = outputLatency(audio) * 1000;
  RecordProperty("latency_ms", std::to_string(reported));
  EXPECT_GE(reported, 256 / 48.0);  // one period at least
  for (const double ms : {3.0, 75.0}) {
    audio.suggestedLatency = ms / 1000;
    ASSERT_EQ(switchAudioDevice(audio, audio.current), paNoError) << ms;
    EXPECT_EQ(outputLatency(audio) * 1000, reported) << ms;
  }
  EXPECT_EQ(synth->engine.rate.hz(), 48000.0);
}

TEST(AudioWithoutServer, StartUpReportsTheFailureOfTheLastOpen) {
  quietSoundLibraries();
  useServer(unusedServerName());
  auto synth = test::makeSynth();
  JackClient jack(synth->midi);
  AudioOutput audio;
  audio.jack = &jack;
  const int code = startAudio(audio, synth->engine);
  ASSERT_TRUE(audio.initialized);
  EXPECT_FALSE(jack.isOpen());
  if (Pa_GetDeviceCount() == 0) {
    EXPECT_NE(code, paNoError);
    EXPECT_FALSE(audioErrorText(code).empty());
    EXPECT_EQ(audio.devices.name, std::vector<std::string>{""});
    EXPECT_EQ(audio.devices.deviceIndex, std::vector<double>{0});
  }
  EXPECT_EQ(audio.current < 0, code != paNoError);
  startStream(audio);
  switchAudioDevice(audio, 0);
  stopAudio(audio, nullptr);
  EXPECT_FALSE(audio.initialized);
  EXPECT_EQ(audio.stream, nullptr);
}

// ---------------------------------------------------------------------------
// MIDI input on JACK

class MidiOnJack : public OnJack {
 protected:
  void SetUp() override {
    OnJack::SetUp();
    if (HasFatalFailure()) return;
    keyboard = std::make_unique<TestClient>("Keyboard", 0, true);
    keyboard2 = std::make_unique<TestClient>("Keyboard2", 0, true);
    ASSERT_TRUE(keyboard->ok() && keyboard2->ok())
        << "JACK status " << keyboard->status() << ", " << keyboard2->status();
    device.setInputStatus = [this](const std::string& text) { status.push_back(text); };
  }
  void TearDown() override {
    jack.stopRendering();
    keyboard.reset();
    keyboard2.reset();
    OnJack::TearDown();
  }
  // Lists the inputs and opens the one named.
  bool choose(const std::string& name) {
    listMidiInputs(device, names);
    return switchMidiDevice(device, positionOf(names, name));
  }
  VoiceState& voice() { return synth->engine.voice; }
  bool sounds(int note) {
    return waitFor([&] {
      return voice().gate.load() == 1 && voice().noteFrequency.load() == noteFrequencyOf(note);
    });
  }
  bool silent() {
    return waitFor([&] { return voice().gate.load() == 0; });
  }

  std::unique_ptr<TestClient> keyboard, keyboard2;
  MidiDevice device{synth->midi, &jack};
  Names names, status;
};

// Bytes as a cable may carry them, one JACK event each, read by the MIDI
// rules: after a system-exclusive message that never ends, the note-off and
// the panic still arrive; a message holding a byte of 0x80 or above is
// dropped; a real-time byte inside a message changes nothing.
TEST_F(MidiOnJack, ADeviceGoesToMidiInAndIsReadByTheMidiRules) {
  ASSERT_TRUE(choose("Keyboard:out"));
  // Listing opened the program's client: one, with its two ports, and its
  // own port is not offered as a device.
  EXPECT_EQ(ownPorts(), kOwnPorts);
  for (const std::string& name : names) EXPECT_FALSE(name.starts_with("Ondelith")) << name;
  EXPECT_GE(positionOf(names, "Keyboard2:out"), 0);
  EXPECT_EQ(keyboard->connections(), Names{"Ondelith:MIDI In"});
  EXPECT_EQ(status, Names{"MIDI IN"});
  jack.startRendering(synth->engine);

  keyboard->send({0x90, 69, 100});
  ASSERT_TRUE(sounds(69));
  keyboard->send({0xF0, 0x01, 0x02});  // no F7
  keyboard->send({0x80, 69, 0});
  EXPECT_TRUE(silent()) << "A4 still sounds";
  keyboard->send({0x90, 69, 100});
  ASSERT_TRUE(sounds(69));
  // The panic: 123 and 120 let the key go, 121 lifts the pedal that holds it.
  keyboard->send({0xF0, 0x7E});
  keyboard->send({0xB0, 123, 0});
  EXPECT_TRUE(silent()) << 123;
  keyboard->send({0x90, 57, 100});
  EXPECT_TRUE(sounds(57)) << "after 123";
  keyboard->send({0xB0, 120, 0});
  EXPECT_TRUE(silent()) << 120;
  keyboard->send({0x90, 57, 100});
  EXPECT_TRUE(sounds(57)) << "after 120";
  keyboard->send({0xB0, 64, 127});
  keyboard->send({0x80, 57, 0});
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(voice().gate.load(), 1);  // the pedal holds it
  keyboard->send({0xB0, 121, 0});
  ASSERT_TRUE(silent()) << 121;

  keyboard->send({0x90, 0xC5, 0xE4});
  keyboard->send({0xF8});
  std::this_thread::sleep_for(50ms);  // several cycles
  EXPECT_EQ(voice().gate.load(), 0);
  EXPECT_EQ(voice().heldKeys.load(), 0);
  keyboard->send({0x90, 0xF8, 64, 0xFE, 100});
  EXPECT_TRUE(sounds(64));
  keyboard->send({0x80, 64, 0});
  EXPECT_TRUE(silent());
}

TEST_F(MidiOnJack, SwitchingDevicesReleasesTheHeldKeyAndShowsTheInputStatus) {
  test::AudioThread audio(synth->engine);
  ASSERT_TRUE(choose("Keyboard:out"));
  keyboard->send({0x90, 69, 100});
  ASSERT_TRUE(sounds(69));

  ASSERT_TRUE(choose("Keyboard2:out"));
  // The close notice released the key; only the chosen device is connected.
  EXPECT_TRUE(waitFor([&] { return voice().gate.load() == 0 && voice().heldKeys.load() == 0; }));
  EXPECT_EQ(keyboard->connections(), Names{});
  EXPECT_EQ(keyboard2->connections(), Names{"Ondelith:MIDI In"});
  keyboard->send({0x90, 70, 100});  // the old device is no longer heard
  keyboard2->send({0x90, 57, 100});
  EXPECT_TRUE(sounds(57));

  std::string reason;
  EXPECT_FALSE(switchMidiDevice(device, static_cast<int>(names.size()) + 5, &reason));
  EXPECT_TRUE(silent());
  EXPECT_FALSE(reason.empty());
  // A port whose program quit cannot be chosen, and breaks nothing.
  const int stale = positionOf(names, "Keyboard:out");
  keyboard.reset();
  EXPECT_FALSE(switchMidiDevice(device, stale, &reason));
  EXPECT_EQ(reason, "the port is gone");
  EXPECT_EQ(status, (Names{"MIDI IN", "MIDI IN", "No MIDI IN", "No MIDI IN"}));
  listMidiInputs(device, names);
  EXPECT_EQ(positionOf(names, "Keyboard:out"), -1);
}

// The program's own port beside a chosen device: what the player connects
// stays connected when the device changes, and is what is remembered.
TEST_F(MidiOnJack, TheOwnPortPlaysBesideTheChosenDeviceAndKeepsThePlayersConnections) {
  test::AudioThread audio(synth->engine);
  EXPECT_EQ(openOwnMidiPort(device), 1);  // JACK; no ALSA sequencer here
  EXPECT_EQ(ownPorts(), kOwnPorts);
  ASSERT_EQ(jack_connect(looker, "Keyboard2:out", "Ondelith:MIDI In"), 0);
  ASSERT_TRUE(choose("Keyboard:out"));
  EXPECT_EQ(jack.midiConnections(), Names{"Keyboard2:out"});

  keyboard2->send({0x90, 69, 100});
  ASSERT_TRUE(sounds(69));
  keyboard->send({0x90, 57, 100});  // the chosen device, legato
  ASSERT_TRUE(waitFor([&] { return voice().heldKeys.load() == 2; }));
  EXPECT_EQ(voice().noteFrequency.load(), 220.0);
  keyboard2->send({0x80, 69, 0});
  keyboard->send({0x80, 57, 0});
  ASSERT_TRUE(silent());

  // Choosing the player's own connection as the device, then another: the
  // player's connection stays.
  ASSERT_TRUE(choose("Keyboard2:out"));
  EXPECT_EQ(keyboard->connections(), Names{});
  ASSERT_TRUE(choose("Keyboard:out"));
  EXPECT_EQ(connectionsOf(looker, "Ondelith:MIDI In"), (Names{"Keyboard2:out", "Keyboard:out"}));
  EXPECT_EQ(jack.midiConnections(), Names{"Keyboard2:out"});
}

// N bends in one cycle, then the note-off in the same cycle: the note ends
// whatever N, whether this client renders the voice (each message at its
// frame) or another thread does (through the voice's queue), with the flood
// on the channel heard or on another. One event in running status carries
// them all, as a busy cable would.
std::vector<unsigned char> bendFlood(int n, int channel, int last) {
  std::vector<unsigned char> bytes = {static_cast<unsigned char>(0xE0 | channel)};
  for (int i = 0; i < n; ++i) {
    const int value = i == n - 1 ? last : (i * 7) & 0x3FFF;
    bytes.push_back(static_cast<unsigned char>(value & 0x7F));
    bytes.push_back(static_cast<unsigned char>(value >> 7));
  }
  bytes.insert(bytes.end(), {0x80, 69, 0});
  return bytes;
}

// The race detector slows a cycle of ten thousand past 256 frames; the
// keyboard would then write its next cycle over the one still being read.
class MidiFloodOnJack : public MidiOnJack {
 protected:
#if defined(__SANITIZE_THREAD__)
  int serverPeriod() const override { return 2048; }
#endif
};

TEST_F(MidiFloodOnJack, FloodsOfTenThousandInOneCycleNeverHoldANote) {
  ASSERT_TRUE(choose("Keyboard:out"));
  synth->midi.channel.store(0);
  for (const bool renderingHere : {true, false}) {
    std::unique_ptr<test::AudioThread> elsewhere;
    if (renderingHere)
      jack.startRendering(synth->engine);
    else
      elsewhere = std::make_unique<test::AudioThread>(synth->engine);
    for (const int n : {515, 600, 2000, 10000}) {
      for (const int channel : {0, 5}) {
        const std::string label = (renderingHere ? "here, " : "elsewhere, ") + std::to_string(n) +
                                  " on channel " + std::to_string(channel + 1);
        keyboard->send({0xE0, 0, 64, 0x90, 69, 100});  // the wheel at rest
        ASSERT_TRUE(sounds(69)) << label;
        const int last = 1000 + n;
        keyboard->send(bendFlood(n, channel, last));
        EXPECT_TRUE(silent()) << label;
        EXPECT_EQ(synth->engine.notes.bendValue(), channel == 0 ? last : kBendCentre) << label;
      }
    }
    jack.stopRendering();
  }
  EXPECT_EQ(keyboard->unsent(), 0);
  EXPECT_EQ(synth->midi.lost.load(), 0u);
}

TEST_F(MidiOnJack, ServerLossWhileOpenHangsNothing) {
  ASSERT_TRUE(choose("Keyboard:out"));
  keyboard.reset();
  keyboard2.reset();
  jack_client_close(looker);
  looker = nullptr;
  server->stop();
  std::this_thread::sleep_for(200ms);
  const auto t0 = Clock::now();
  std::string reason;
  EXPECT_FALSE(switchMidiDevice(device, 0, &reason));
  EXPECT_NO_THROW(listMidiInputs(device, names));
  EXPECT_LT(secondsSince(t0), 2.0);
  EXPECT_EQ(positionOf(names, "Keyboard:out"), -1);
}

#ifdef ONDELITH_PROGRAM
// `ondelith --list-devices`: every name it prints is one that --midi-in or
// --audio-out finds, with no window and no sound.
TEST_F(MidiOnJack, TheProgramListsTheNamesItsOptionsTake) {
  FILE* pipe = popen("env -u DISPLAY -u WAYLAND_DISPLAY " ONDELITH_PROGRAM " --list-devices", "r");
  ASSERT_NE(pipe, nullptr);
  Names lines;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) lines.emplace_back(buffer, strcspn(buffer, "\n"));
  ASSERT_EQ(pclose(pipe), 0);
  const int audioTitle = positionOf(lines, "Audio outputs (--audio-out):");
  ASSERT_GT(audioTitle, 1);
  ASSERT_EQ(lines[0], "MIDI inputs (--midi-in):");
  const Names midi(lines.begin() + 1, lines.begin() + audioTitle - 1);
  const Names audio(lines.begin() + audioTitle + 1, lines.end());
  EXPECT_EQ(lines[static_cast<size_t>(audioTitle) - 1], "");
  EXPECT_GE(positionOf(midi, "Keyboard:out"), 0);
  EXPECT_GE(positionOf(midi, "Keyboard2:out"), 0);
  EXPECT_EQ(audio.front(), kJackEntryName);
  Names inputs;
  listMidiInputs(device, inputs);
  for (const std::string& name : midi) EXPECT_GE(positionOf(inputs, name), 0) << name;
  AudioOutput output;
  output.jack = &jack;
  ASSERT_EQ(startAudio(output, synth->engine), paNoError);
  for (const std::string& name : audio)
    EXPECT_GE(findAudioEntry(output.devices, name, ""), 0) << name;
  stopAudio(output, nullptr);
}
#endif

TEST(MidiWithoutServer, ListingWithoutSequencerOrServerFindsNothingAndThrowsNothing) {
  quietSoundLibraries();
  useServer(unusedServerName());
  auto synth = test::makeSynth();
  JackClient jack(synth->midi);
  MidiDevice device(synth->midi, &jack);
  std::string status;
  device.setInputStatus = [&](const std::string& text) { status = text; };
  Names names;
  ASSERT_NO_THROW(listMidiInputs(device, names));
  if (!std::filesystem::exists("/dev/snd/seq")) {
    EXPECT_TRUE(names.empty());
  }
  EXPECT_FALSE(jack.isOpen());
  EXPECT_EQ(openOwnMidiPort(device), std::filesystem::exists("/dev/snd/seq") ? 1 : 0);
  std::string reason;
  EXPECT_FALSE(switchMidiDevice(device, static_cast<int>(names.size()), &reason));
  EXPECT_EQ(status, "No MIDI IN");
  EXPECT_FALSE(reason.empty());
}

// The program's own sequencer port played with no device chosen: field 0
// shows it while notes arrive, and gives way to a device once one opens.
TEST(MidiWithoutServer, TheOwnSequencerPortInUseIsShown) {
  auto synth = test::makeSynth();
  MidiDevice device(synth->midi);
  Names shown;
  device.setInputStatus = [&](const std::string& text) { shown.push_back(text); };
  const struct {
    int64_t ms;
    uint32_t messages;
    bool deviceOpen;
  } steps[] = {{0, 0, false},     {100, 1, false},  {5000, 0, false}, {10200, 0, false},
               {10300, 3, false}, {10400, 0, true}, {30000, 0, true}};
  for (const auto& step : steps) {
    device.ownPortMessages += step.messages;
    device.inputOpen = step.deviceOpen;
    showMidiStatus(device, step.ms);
  }
  EXPECT_EQ(shown, (Names{"No MIDI IN", kOwnSequencerInputText, "No MIDI IN",
                          kOwnSequencerInputText, "MIDI IN"}));
}

}  // namespace
}  // namespace ondelith
