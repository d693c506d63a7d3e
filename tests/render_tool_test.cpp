// The offline renderer, run as the program it is, on MIDI files written here.
#include <gtest/gtest.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/patch_commands.h"
#include "instrument/sound_bank.h"
#include "ondelith_version.h"
#include "test_support.h"
#include "tools/midi_file.h"
#include "tools/wav_file.h"

namespace ondelith {
namespace {

namespace fs = std::filesystem;

// A Standard MIDI File built event by event.
struct Smf {
  uint16_t format = 0;
  uint16_t division = 480;
  std::vector<std::string> tracks;

  static std::string quantity(uint32_t v) {
    std::string out(1, static_cast<char>(v & 0x7F));
    while (v >>= 7) out.insert(out.begin(), static_cast<char>((v & 0x7F) | 0x80));
    return out;
  }
  static std::string big(uint32_t v, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  }
  Smf& track() {
    tracks.emplace_back();
    return *this;
  }
  Smf& event(uint32_t delta, std::initializer_list<int> bytes) {
    tracks.back() += quantity(delta);
    for (int b : bytes) tracks.back() += static_cast<char>(b);
    return *this;
  }
  Smf& tempo(uint32_t delta, uint32_t micros) {
    return event(delta, {0xFF, 0x51, 0x03, static_cast<int>(micros >> 16),
                         static_cast<int>((micros >> 8) & 0xFF), static_cast<int>(micros & 0xFF)});
  }
  Smf& end(uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }
  std::string bytes() const {
    std::string out = "MThd" + big(6, 4) + big(format, 2) +
                      big(static_cast<uint32_t>(tracks.size()), 2) + big(division, 2);
    for (const auto& t : tracks) out += "MTrk" + big(static_cast<uint32_t>(t.size()), 4) + t;
    return out;
  }
};

using test::TempDir;

struct ProgramRun {
  int status = -1;  // the exit status, -1 when it did not exit
  int signal = 0;   // the signal that ended it, if one did
  bool timedOut = false;
  std::string out, err;
};

struct RunOptions {
  int seconds = 120;        // killed after this, so that a hang fails instead of stalling
  rlim_t addressSpace = 0;  // a limit on the renderer's memory, or none
  rlim_t fileSize = 0;      // a limit on the size of the files it writes, or none
  bool ignoreFileSizeSignal = false;
};

// The signals whose default action ends a process, as a renderer may meet them.
const int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGABRT,   SIGUSR1, SIGUSR2,
                              SIGALRM, SIGPIPE, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF, SIGRTMIN};

// Starts the renderer with its stdout and stderr on pipes.
pid_t startRenderer(const std::vector<std::string>& args, const RunOptions& options, int& outFd,
                    int& errFd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    for (int s : kEndingSignals) signal(s, SIG_DFL);
    if (options.ignoreFileSizeSignal) signal(SIGXFSZ, SIG_IGN);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (options.addressSpace) {
      const rlimit limit{options.addressSpace, options.addressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (options.fileSize) {
      const rlimit limit{options.fileSize, options.fileSize};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv{const_cast<char*>(ONDELITH_RENDER_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

// Collects the output until the renderer ends, or kills it at the deadline.
ProgramRun finishRenderer(pid_t pid, int outFd, int errFd, int seconds) {
  ProgramRun run;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* texts[2] = {&run.out, &run.err};
  int reading = 2;
  while (reading > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        texts[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --reading;
      }
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

ProgramRun renderer(const std::vector<std::string>& args, const RunOptions& options = {}) {
  int outFd, errFd;
  const pid_t pid = startRenderer(args, options, outFd, errFd);
  if (pid < 0) return {};
  return finishRenderer(pid, outFd, errFd, options.seconds);
}

std::vector<float> readWav(const std::string& path, SF_INFO& info) {
  info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<float> samples(static_cast<size_t>(info.frames));
  sf_read_float(f, samples.data(), info.frames);
  sf_close(f);
  return samples;
}

std::vector<float> renderFile(const TempDir& dir, const std::string& midi,
                              std::vector<std::string> extra = {}, int rate = 44100) {
  const std::string out = (dir.path / "out.wav").string();
  std::vector<std::string> args = {"--midi", dir.file("in.mid", midi), "--out", out};
  args.insert(args.end(), extra.begin(), extra.end());
  const ProgramRun run = renderer(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  SF_INFO info;
  std::vector<float> samples = readWav(out, info);
  EXPECT_EQ(info.samplerate, rate);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // The space set aside for the samples is the space they take: none is
  // left held past the end of the file.
  struct stat st {};
  EXPECT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_LE(static_cast<int64_t>(st.st_blocks) * 512,
            static_cast<int64_t>(st.st_size) + (64 << 10));
  return samples;
}

std::vector<float> driverRender(const DriverSchedule& d, int64_t frames,
                                const std::string& patch = "", double rate = 44100) {
  auto s = test::makeSynth(*SampleRate::of(rate));
  if (!patch.empty()) {
    EXPECT_TRUE(openPatchFile(*s, patch));
  }
  return test::render(*s, d, frames, 777);
}

TEST(RenderTool, SilenceThenTheFadeThenTheAttackAtTheNotesFrame) {
  TempDir dir;
  // 480 ticks at the default tempo: half a second, frame 22050.
  const std::string midi =
      Smf().track().event(480, {0x90, 69, 100}).event(480, {0x80, 69, 0}).end().bytes();
  const std::vector<float> out = renderFile(dir, midi);
  // The last event (End of Track) is at 1 s; 2 s of tail follow.
  EXPECT_EQ(out.size(), 3u * 44100);
  for (size_t i = 0; i <= 22050 + 1001; ++i) ASSERT_EQ(out[i], 0.0f) << i;
  float loudest = 0;
  for (size_t i = 22050 + 1002; i < 22050 + 2000; ++i)
    loudest = std::max(loudest, std::abs(out[i]));
  EXPECT_GT(loudest, 0.01f);
  DriverSchedule d;
  d.noteOn(22050, 69, 100);
  d.noteOff(44100, 69);
  EXPECT_EQ(out, driverRender(d, 3 * 44100));
}

TEST(RenderTool, AtAnotherRateTheNotesLandAtTheirTimesInFramesOfThatRate) {
  TempDir dir;
  const std::string midi =
      Smf().track().event(480, {0x90, 69, 100}).event(480, {0x80, 69, 0}).end().bytes();
  for (int rate : {22050, 48000, 96000}) {
    const std::vector<float> out = renderFile(dir, midi, {"--rate", std::to_string(rate)}, rate);
    EXPECT_EQ(out.size(), 3u * rate);
    DriverSchedule d;
    d.noteOn(rate / 2, 69, 100);
    d.noteOff(rate, 69);
    EXPECT_EQ(out, driverRender(d, 3 * rate, "", rate)) << rate;
  }
}

// An oversampled render starts later by the decimator's delay, so it
// lines up with the default's: a low note's waveform matches best at no lag.
TEST(RenderTool, OversampledRendersLineUpWithTheDefault) {
  TempDir dir;
  const std::string midi =
      Smf().track().event(0, {0x90, 36, 100}).event(480, {0x80, 36, 0}).end().bytes();
  const std::vector<float> plain = renderFile(dir, midi, {"--tail", "0"});
  for (const char* factor : {"2", "8"}) {
    const std::vector<float> over =
        renderFile(dir, midi, {"--tail", "0", "--set", std::string("oversampling=") + factor});
    ASSERT_EQ(over.size(), plain.size());
    double best = -1;
    int bestLag = 99;
    for (int lag = -2; lag <= 2; ++lag) {
      double ab = 0, aa = 0, bb = 0;
      for (size_t i = 2000; i < 20000; ++i) {
        const double a = plain[i], b = over[static_cast<size_t>(static_cast<int>(i) + lag)];
        ab += a * b, aa += a * a, bb += b * b;
      }
      if (ab / std::sqrt(aa * bb) > best) best = ab / std::sqrt(aa * bb), bestLag = lag;
    }
    EXPECT_EQ(bestLag, 0) << factor;
    EXPECT_GT(best, 0.99) << factor;
  }
}

TEST(RenderTool, TailSetsTheLength) {
  TempDir dir;
  const std::string midi = Smf().track().event(0, {0x90, 60, 90}).end(1000).bytes();
  // 1000 ticks of 480 per half second: 1.0416.. s, plus 0.25 s.
  const std::vector<float> out = renderFile(dir, midi, {"--tail", "0.25"});
  EXPECT_EQ(static_cast<int64_t>(out.size()),
            static_cast<int64_t>(std::nearbyint((1000.0L / 960 + 0.25L) * 44100)));
  EXPECT_EQ(renderFile(dir, midi, {"--tail", "0"}).size(), 45938u);  // 45937.5 rounds to even
}

TEST(RenderTool, TempoChangesAndTiesAcrossTracksMatchTheDriver) {
  TempDir dir;
  Smf smf;
  smf.format = 1;
  smf.division = 96;
  smf.track().tempo(0, 250000).tempo(192, 1000000).end(96);  // a quarter: 0.25 s, then 1 s
  smf.track()
      .event(96, {0x90, 60, 100})  // 0.25 s
      .event(96, {0x90, 64, 100})  // 0.5 s: legato
      .event(96, {0x80, 60, 0})    // 1.5 s, at the tie with track 3
      .event(0, {0x80, 64, 0})
      .end();
  smf.track().event(288, {0x90, 67, 100}).event(48, {0x91, 30, 100}).end(48);  // 1.5 s, 2.0 s
  const std::string patch = dir.file("p.vx", [] {
    auto s = test::makeSynth();
    applyControlEvent(*s, spinModId(kRowX1), 80);
    applyControlEvent(*s, spinCoarseId(kRowX1), 2);
    applyControlEvent(*s, kSliderA, 40);
    return formatPatch(capturePatch(*s));
  }());
  const std::vector<float> out = renderFile(dir, smf.bytes(), {"--patch", patch});
  DriverSchedule d;
  d.noteOn(11025, 60);
  d.noteOn(22050, 64);
  d.noteOff(66150, 60);  // track 2 before track 3 at the same tick
  d.noteOff(66150, 64);
  d.noteOn(66150, 67);
  d.noteOn(88200, 30, 100, 1);
  const int64_t frames = 88200 + 22050 + 2 * 44100;  // End of Track of track 3 at 2.5 s
  EXPECT_EQ(static_cast<int64_t>(out.size()), frames);
  EXPECT_EQ(out, driverRender(d, frames, patch));
  // The note of track 3 sounds after the others' release: not silence.
  float loudest = 0;
  for (size_t i = 66150 + 1100; i < 70000; ++i) loudest = std::max(loudest, std::abs(out[i]));
  EXPECT_GT(loudest, 0.01f);
}

// --set: any row by its symbol, in the order given, over the patch; a sound
// value renders as the same patch with that value, a player setting as its
// own option.
TEST(RenderTool, SetTakesEveryRowBySymbolAfterThePatch) {
  TempDir dir;
  const std::string smf =
      Smf().track().event(0, {0x90, 60, 50}).event(40000, {0x80, 60, 0}).end(10).bytes();
  const auto patchWith = [&dir](const std::vector<std::pair<int, int32_t>>& values) {
    auto s = test::makeSynth();
    for (const auto& [index, v] : values) s->instrument.setValue(index, v);
    return dir.file(std::to_string(values.size()) + ".vx", formatPatch(capturePatch(*s)));
  };
  const std::string base = patchWith({{coarseIndex(kRowX1), 3}, {modIndex(kRowX1), 60}});
  const struct {
    std::vector<std::string> sets;
    std::vector<std::pair<int, int32_t>> values;  // the same sound as a patch
    std::vector<std::string> same;                // or by other options
    bool audible = true;                          // against the patch alone
  } cases[] = {
      {{"cutoff=800"}, {{coarseIndex(kRowX1), 3}, {modIndex(kRowX1), 60}, {kCutoffIndex, 800}}, {}},
      {{"x1_fine=.25", "x1=0.3", "attack=40"},
       {{coarseIndex(kRowX1), 3},
        {modIndex(kRowX1), 60},
        {fineIndex(kRowX1), 25},
        {pointIndex(kRowX1), 30},
        {kAttackIndex, 40}},
       {}},
      {{"duration_range=x1", "duration=300"},
       {{coarseIndex(kRowX1), 3},
        {modIndex(kRowX1), 60},
        {kDurationRangeIndex, 1},
        {kDurationIndex, 300}},
       {},
       false},  // the start curves are flat: the wobble's length is not heard
      {{"velocity=100", "bend_range=7", "midi_channel=all"},
       {},
       {"--velocity", "100", "--bend-range", "7", "--channel", "all"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--patch", base};
    for (const std::string& set : c.sets) args.insert(args.end(), {"--set", set});
    const std::vector<float> out = renderFile(dir, smf, args);
    std::vector<std::string> other = c.same;
    other.insert(other.end(), {"--patch", c.values.empty() ? base : patchWith(c.values)});
    EXPECT_EQ(out, renderFile(dir, smf, other)) << c.sets[0];
    if (c.audible) {
      EXPECT_NE(out, renderFile(dir, smf, {"--patch", base})) << c.sets[0];
    }
  }
}

// The tuning: twelve equal steps from a file play the instrument's own to
// the bit; a map's reference frequency and the A4 setting give the same
// periods; a key the map leaves out plays nothing.
TEST(RenderTool, TuningsPlayAsChosen) {
  TempDir dir;
  const std::string c4 =
      Smf().track().event(0, {0x90, 60, 100}).event(20000, {0x80, 60, 0}).end(10).bytes();
  std::string tet = "12-TET\n12\n";
  for (int k = 1; k < 12; ++k) tet += std::to_string(100 * k) + ".0\n";
  tet += "2/1\n";
  const std::string scl = dir.file("12.scl", tet);
  const std::string a432 = dir.file("432.kbm", "0\n0\n127\n60\n69\n432.0\n12\n");
  const std::string white = dir.file("white.kbm", "12\n0\n127\n60\n60\n261.6\n12\n0\nx\n2\n");
  const std::vector<float> plain = renderFile(dir, c4, {});
  EXPECT_EQ(renderFile(dir, c4, {"--scl", scl}), plain);
  const std::vector<float> low = renderFile(dir, c4, {"--set", "a4_hz=432"});
  EXPECT_NE(low, plain);
  EXPECT_EQ(renderFile(dir, c4, {"--kbm", a432}), low);
  EXPECT_EQ(renderFile(dir, c4, {"--scl", scl, "--kbm", white}), plain);
  const std::string cSharp =
      Smf().track().event(0, {0x90, 61, 100}).event(20000, {0x80, 61, 0}).end(10).bytes();
  const std::vector<float> silent = renderFile(dir, cSharp, {"--kbm", white});
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0; }));
  EXPECT_NE(renderFile(dir, cSharp, {}), silent);
}

TEST(RenderTool, SetRefusesWhatNoRowTakesAndSaysTheRange) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const std::string out = (dir.path / "out.wav").string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"cutof=800"}, "\"cutof=800\": there is no parameter \"cutof\" (see --list-parameters)"},
      {{"cutoff"}, "\"cutoff\": takes SYMBOL=VALUE, as \"cutoff=800\""},
      {{"cutoff=9000"}, "\"cutoff=9000\": cutoff takes 20 to 5000 Hz"},
      {{"x1_fine=1.5"}, "\"x1_fine=1.5\": x1_fine takes 0 to 99 (0.00 to 0.99 x pitch)"},
      {{"duration_range=x2"}, "\"duration_range=x2\": duration_range takes x1 or x10"},
      {{"midi_channel=17"}, "\"midi_channel=17\": midi_channel takes all or 1 to 16"},
      {{"duration=50"}, "\"duration=50\": duration takes 100 to 10000 ms"},
      {{"duration=500"},
       "\"duration=500\": duration takes 1000 to 10000 ms while duration_range is x10"},
      {{"duration=500", "duration_range=x1"},
       "\"duration=500\": duration takes 1000 to 10000 ms while duration_range is x10"},
  };
  for (const auto& [sets, err] : cases) {
    std::vector<std::string> args = {"--midi", midi, "--out", out};
    for (const std::string& set : sets) args.insert(args.end(), {"--set", set});
    const ProgramRun run = renderer(args);
    EXPECT_EQ(run.status, 2) << err;
    EXPECT_EQ(run.err, "ondelith-render: --set " + err + "\n");
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.mid"});
  // Every row is listed, with its range and default as --set takes them.
  const ProgramRun list = renderer({"--list-parameters"});
  EXPECT_EQ(list.status, 0);
  for (int i = 0; i < kParameterCount; ++i)
    EXPECT_NE(list.out.find(std::string(parameter(i).symbol) + "\t"), std::string::npos) << i;
}

// Bends, the pedal, all notes off and velocity from a file: the live
// program's reading, sample for sample, with the player's settings as options.
TEST(RenderTool, BendsPedalAndVelocityPlayAsLive) {
  TempDir dir;
  Smf smf;
  smf.division = 441;  // at 1 s a quarter: 100 frames a tick at 44100 Hz
  smf.track()
      .tempo(0, 1000000)
      .event(10, {0x90, 69, 90})
      .event(20, {0xE0, 0x7F, 0x7F})  // the wheel at its top
      .event(10, {0xB0, 64, 127})     // pedal down
      .event(0, {7, 100})             // running status: a controller without use here
      .event(10, {0x80, 69, 0})       // held back
      .event(10, {0xE0, 0, 0x20})     // the wheel half way down
      .event(10, {0xB0, 64, 0})       // pedal up: the release runs
      .event(30, {0x90, 60, 40})
      .event(20, {0xB0, 123, 0})  // all notes off
      .end(20);
  for (const auto& [range, velocity] : {std::pair{2, 0}, std::pair{12, 100}}) {
    const std::vector<float> out =
        renderFile(dir, smf.bytes(),
                   {"--bend-range", std::to_string(range), "--velocity", std::to_string(velocity)});
    DriverSchedule d;
    d.noteOn(1000, 69, 90);
    d.midi(3000, 0x7F7FE0);
    d.midi(4000, 0x7F40B0);
    d.midi(4000, 0x6407B0);
    d.noteOff(5000, 69);
    d.midi(6000, 0x2000E0);
    d.midi(7000, 0x0040B0);
    d.noteOn(10000, 60, 40);
    d.midi(12000, 0x007BB0);
    const int64_t frames = 14000 + 88200;
    ASSERT_EQ(static_cast<int64_t>(out.size()), frames);
    auto s = test::makeSynth();
    s->engine.notes.setSetting(NoteSetting::BendRange, range);
    s->engine.notes.setSetting(NoteSetting::VelocitySensitivity, velocity);
    EXPECT_EQ(out, test::render(*s, d, frames, 777)) << range;
  }
  const std::string midi = dir.file("b.mid", smf.bytes());
  const std::string out = (dir.path / "o.wav").string();
  for (const auto& bad : std::vector<std::vector<std::string>>{{"--bend-range", "25"},
                                                               {"--bend-range", "-1"},
                                                               {"--velocity", "101"},
                                                               {"--velocity", "x"}}) {
    std::vector<std::string> args = {"--midi", midi, "--out", out};
    args.insert(args.end(), bad.begin(), bad.end());
    const ProgramRun run = renderer(args);
    EXPECT_EQ(run.status, 2) << bad[0] << " " << bad[1];
    EXPECT_NE(run.err.find(bad[0]), std::string::npos) << run.err;
  }
}

TEST(RenderTool, SmpteDivision) {
  // 25 frames of 40 ticks: 1000 ticks a second.
  MidiFileContents m;
  std::string reason;
  Smf smf;
  smf.division = static_cast<uint16_t>(((256 - 25) << 8) | 40);
  smf.track().tempo(0, 100).event(500, {0x90, 69, 100}).event(250, {0x80, 69, 0}).end();
  ASSERT_TRUE(readMidiFile(smf.bytes(), m, reason)) << reason;
  ASSERT_EQ(m.notes.size(), 2u);
  EXPECT_EQ(m.notes[0].frame, 22050);  // tempo changes do not touch SMPTE time
  EXPECT_EQ(m.notes[1].frame, 33075);
  // 29.97 frames of 80 ticks.
  smf.division = static_cast<uint16_t>(((256 - 29) << 8) | 80);
  ASSERT_TRUE(readMidiFile(smf.bytes(), m, reason)) << reason;
  EXPECT_EQ(m.notes[0].frame, roundRatioHalfEven(__int128{500} * 1001 * 44100, 30000 * 80));
  TempDir dir;
  smf.division = static_cast<uint16_t>(((256 - 25) << 8) | 40);
  const std::vector<float> out = renderFile(dir, smf.bytes());
  DriverSchedule d;
  d.noteOn(22050, 69);
  d.noteOff(33075, 69);
  EXPECT_EQ(out, driverRender(d, 33075 + 88200));
}

TEST(RenderTool, EventFramesRoundHalvesToEven) {
  // 441 ticks a quarter of 5000 us: each tick is half a frame.
  Smf smf;
  smf.division = 441;
  smf.track()
      .tempo(0, 5000)
      .event(1, {0x90, 60, 1})
      .event(2, {0x90, 61, 1})
      .event(2, {0x90, 62, 1})
      .end();
  MidiFileContents m;
  std::string reason;
  ASSERT_TRUE(readMidiFile(smf.bytes(), m, reason)) << reason;
  ASSERT_EQ(m.notes.size(), 3u);
  EXPECT_EQ(m.notes[0].frame, 0);  // 0.5
  EXPECT_EQ(m.notes[1].frame, 2);  // 1.5
  EXPECT_EQ(m.notes[2].frame, 2);  // 2.5
  EXPECT_EQ(m.notes[0].word, 0x01'3C'90u);
}

TEST(RenderTool, OnlyTheChosenChannelIsHeard) {
  TempDir dir;
  const std::string midi =
      Smf().track().event(0, {0x91, 69, 100}).event(400, {0x9F, 50, 100}).end(480).bytes();
  const auto sounds = [](const std::vector<float>& v) {
    return std::any_of(v.begin(), v.end(), [](float s) { return s != 0.0f; });
  };
  // Channel 1 unless told. Silence, and the channels the notes are on told.
  const std::string in = dir.file("in.mid", midi), out = (dir.path / "out.wav").string();
  for (const char* heard : {"1", "3"}) {
    const ProgramRun run = renderer({"--midi", in, "--out", out, "--channel", heard});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "ondelith-render: " + in + ": no note is on channel " + heard +
                           ", the one heard; the file's notes are on channels 2, 16 "
                           "(--channel all plays them)\n");
    SF_INFO info;
    EXPECT_FALSE(sounds(readWav(out, info)));
  }
  const std::vector<float> two = renderFile(dir, midi, {"--channel", "2"});
  EXPECT_TRUE(sounds(two));
  EXPECT_TRUE(sounds(renderFile(dir, midi, {"--channel", "16"})));
  // All channels: the second note (channel 16) plays legato on the first.
  const std::vector<float> all = renderFile(dir, midi, {"--channel", "all"});
  EXPECT_EQ(std::vector<float>(all.begin(), all.begin() + 400),
            std::vector<float>(two.begin(), two.begin() + 400));
  EXPECT_NE(all, two);
}

TEST(RenderTool, MalformedMidiFiles) {
  MidiFileContents m;
  std::string reason;
  const std::string good = Smf().track().event(0, {0x90, 60, 100}).end(10).bytes();
  ASSERT_TRUE(readMidiFile(good, m, reason));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(readMidiFile(good.substr(0, cut), m, reason)) << cut;
    EXPECT_FALSE(reason.empty());
  }
  // Running status after a meta event, a status byte inside a message, no End of Track.
  EXPECT_FALSE(
      readMidiFile(Smf().track().tempo(0, 5).event(0, {60, 100}).end().bytes(), m, reason));
  // A byte of 0x80 or above inside a message, even one a cable would pass over.
  for (const std::string& bad : {Smf().track().event(0, {0x90, 0x90, 100}).end().bytes(),
                                 Smf().track().event(0, {0x90, 0xC5, 0xE4}).end().bytes(),
                                 Smf().track().event(0, {0x90, 0xF8, 69, 100}).end().bytes(),
                                 Smf().track().event(0, {0xC0, 0xFE}).end().bytes()}) {
    EXPECT_FALSE(readMidiFile(bad, m, reason));
    EXPECT_EQ(reason, "track 1: status byte inside a message");
  }
  // A controller value beyond 127 in running status is a status byte out of place.
  EXPECT_FALSE(readMidiFile(
      Smf().track().event(0, {0xB0, 64, 127}).event(0, {64, 0x80}).end().bytes(), m, reason));
  EXPECT_FALSE(readMidiFile(Smf().track().event(0, {0x90, 60, 100}).bytes(), m, reason));
  // A tempo of 0, and a header that counts fewer tracks than the file holds.
  EXPECT_FALSE(
      readMidiFile(Smf().track().tempo(0, 0).event(10, {0x90, 60, 100}).end().bytes(), m, reason));
  EXPECT_EQ(reason, "track 1: a tempo of 0 microseconds per quarter note");
  Smf three = Smf().track().end().track().end().track().event(0, {0x90, 60, 100}).end();
  three.format = 1;
  std::string counted = three.bytes();
  counted[11] = 2;
  EXPECT_FALSE(readMidiFile(counted, m, reason));
  EXPECT_EQ(reason, "the header counts 2 tracks but the file holds 3 (a damaged header?)");
  Smf two = Smf().track().end();
  two.format = 2;
  EXPECT_FALSE(readMidiFile(two.bytes(), m, reason));
  EXPECT_NE(reason.find("format 2"), std::string::npos);
  // Running status for channel messages, sysex, other chunks, text longer than 127 bytes.
  Smf fine =
      Smf().track().event(0, {0x90, 60, 100}).event(10, {62, 100}).event(0, {0xF0, 2, 1, 0xF7});
  fine.event(0, {0xFF, 0x01, 0x81, 0x00});
  for (int i = 0; i < 128; ++i) fine.tracks.back() += 'x';
  fine.end();
  std::string bytes = fine.bytes();
  bytes += "XFIH" + Smf::big(3, 4) + "abc";
  ASSERT_TRUE(readMidiFile(bytes, m, reason)) << reason;
  ASSERT_EQ(m.notes.size(), 2u);
  EXPECT_EQ(m.notes[1].word, 0x64'3E'90u);
}

// Keyed lines after a patch's 81 change nothing of the sound they do not
// set; one that cannot be read is told once on stderr, and the render goes on.
TEST(RenderTool, KeyedLinesOfAPatchAreReadAndTheirFaultsTold) {
  TempDir dir;
  const std::string midi =
      Smf().track().event(0, {0x90, 60, 100}).event(4410, {0x80, 60, 0}).end().bytes();
  const std::string plain = formatPatch(capturePatch(bankSound(factoryBank()[2])));
  const std::string kept = dir.file("kept.vx", plain + "ondelith-settings=1\r\nfuture=1\r\n");
  const std::vector<float> reference = renderFile(dir, midi, {"--patch", dir.file("p.vx", plain)});
  EXPECT_EQ(renderFile(dir, midi, {"--patch", kept}), reference);
  const std::string bad =
      dir.file("bad.vx", plain + "ondelith-settings=1\r\nvolume=3\r\nno value\r\n");
  const std::string out = (dir.path / "bad.wav").string();
  const ProgramRun run =
      renderer({"--midi", dir.file("in.mid", midi), "--patch", bad, "--out", out});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "ondelith-render: " + bad +
                         ": Sound settings: \"no value\" is not key=value; \"volume=3\" is not a "
                         "sound setting\n");
  SF_INFO info;
  EXPECT_EQ(readWav(out, info), reference);
}

TEST(RenderTool, BadInputFailsWithOneLineAndNoOutput) {
  TempDir dir;
  const std::string midi =
      dir.file("ok.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const std::string out = (dir.path / "out.wav").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string names;
  };
  const std::string notMidi = dir.file("text.mid", "hello, world\n");
  const std::string truncated =
      dir.file("cut.mid", Smf().track().event(0, {0x90, 60, 100}).end().bytes().substr(0, 20));
  const std::vector<Case> cases = {
      {{"--midi", (dir.path / "none.mid").string(), "--out", out}, 1, "none.mid"},
      {{"--midi", notMidi, "--out", out}, 1, "text.mid"},
      {{"--midi", truncated, "--out", out}, 1, "cut.mid"},
      {{"--patch", (dir.path / "none.vx").string(), "--midi", midi, "--out", out}, 1, "none.vx"},
      {{"--midi", midi, "--out", (dir.path / "no" / "out.wav").string()}, 1, "out.wav"},
      {{"--midi", midi, "--out", dir.path.string()}, 2, "folder"},
      {{"--midi", midi, "--out", out, "--tail", ""}, 2, "--tail"},
      {{"--patch", "", "--midi", midi, "--out", out}, 2, "--patch"},
      {{"--midi", midi, "--out", ""}, 2, "--out"},
      {{"--midi", "", "--out", out}, 2, "--midi"},
      {{"--midi", midi, "--out", out, "--tail", "-1"}, 2, "--tail"},
      {{"--midi", midi, "--out", out, "--tail", "1e9"}, 2, "--tail"},
      {{"--midi", midi, "--out", out, "--tail", "nan"}, 2, "--tail"},
      {{"--out", out}, 2, "--midi"},
      {{"--midi", midi, "--out", out, "--bogus"}, 2, "--bogus"},
      {{"--midi", midi, "--out", out, "--rate", "8000"}, 2, "--rate"},
      {{"--midi", midi, "--out", out, "--rate", "fast"}, 2, "--rate"},
      {{"--midi", midi, "--out", out, "--channel", "0"}, 2, "--channel"},
      {{"--midi", midi, "--out", out, "--channel", "17"}, 2, "--channel"},
      {{"--midi", midi, "--out", out, "--channel", "every"}, 2, "--channel"},
      {{"--scl", dir.file("bad.scl", "bad\n2\n9/8\n0/1\n"), "--midi", midi, "--out", out},
       1,
       "bad.scl: line 4: the ratio 0/1 is zero"},
      {{"--kbm", dir.file("bad.kbm", "0\n0\n127\n60\n69\n-440\n"), "--midi", midi, "--out", out},
       1,
       "bad.kbm: line 6"},
      {{"--scl", midi, "--midi", midi, "--out", out}, 1, "not text"},
  };
  const size_t before = dir.entries().size();
  for (const Case& c : cases) {
    const ProgramRun run = renderer(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.names), std::string::npos) << run.err;
    EXPECT_EQ(dir.entries().size(), before) << run.err;  // no output, no temporary file
  }
  // A patch is read however its lines look, as Open reads it; a file that
  // is no patch at all is refused.
  const std::string odd = dir.file("odd.vx", "not a patch at all");
  EXPECT_EQ(renderer({"--patch", odd, "--midi", midi, "--out", out}).status, 0);
  const ProgramRun refused = renderer({"--patch", midi, "--midi", midi, "--out", out});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "ondelith-render: " + midi +
                             ": not a patch: byte 8 is 0x06, and a patch is plain text\n");
}

TEST(RenderTool, BankSoundsByNameNumberOrProgramChangeOnTheChannelHeard) {
  TempDir dir;
  const auto notes = [](std::initializer_list<int> first) {
    Smf f;
    f.track();
    if (first.size()) f.event(0, first);
    return f.event(0, {0x90, 57, 127}).event(480, {0x80, 57, 0}).end().bytes();
  };
  const std::span<const BankSound> bank = factoryBank();
  const std::vector<float> plain = renderFile(dir, notes({}));
  for (const size_t i : {size_t{0}, size_t{4}, bank.size() - 1}) {
    const BankSound& b = bank[i];
    const std::string number = std::to_string(b.number);
    const std::vector<float> chosen = renderFile(dir, notes({}), {"--sound", number});
    EXPECT_NE(chosen, plain) << number;
    EXPECT_EQ(renderFile(dir, notes({}), {"--patch", dir.file("b.vx", std::string(b.patch))}),
              chosen);
    std::string upper(b.name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(renderFile(dir, notes({}), {"--sound", upper}), chosen) << upper;
    // Program Change value v is bank number v + 1, at its frame, before the note there.
    EXPECT_EQ(renderFile(dir, notes({0xC0, b.number - 1})), chosen) << number;
    EXPECT_EQ(renderFile(dir, notes({0xC3, b.number - 1}), {"--channel", "all"}), chosen) << number;
  }
  // A sound's former name still chooses it for a release, and says the new one.
  const BankSound& renamed = bank.front();
  const ProgramRun old =
      renderer({"--midi", dir.file("in.mid", notes({})), "--out", (dir.path / "out.wav").string(),
                "--sound", std::string(renamed.formerName)});
  EXPECT_EQ(old.status, 0);
  EXPECT_EQ(old.err, "ondelith-render: note: the sound \"" + std::string(renamed.formerName) +
                         "\" is now called \"" + std::string(renamed.name) +
                         "\"; the old name goes in the next release\n");
  EXPECT_EQ(renderFile(dir, notes({}), {"--sound", std::string(renamed.name)}),
            renderFile(dir, notes({}), {"--sound", "1"}));
  // Another channel, or a program past the bank: the sound stays.
  EXPECT_EQ(renderFile(dir, notes({0xC1, 3})), plain);
  EXPECT_EQ(renderFile(dir, notes({0xC0, static_cast<int>(bank.size())})), plain);
  // Between two notes: what came before stays as it was.
  const auto twoNotes = [](bool change) {
    Smf f;
    f.track().event(0, {0x90, 57, 127}).event(480, {0x80, 57, 0});
    if (change) f.event(0, {0xC0, 4});
    return f.event(0, {0x90, 45, 127}).event(480, {0x80, 45, 0}).end().bytes();
  };
  const std::string two = twoNotes(true), without = twoNotes(false);
  const std::vector<float> changed = renderFile(dir, two);
  const std::vector<float> kept = renderFile(dir, without);
  ASSERT_EQ(changed.size(), kept.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.begin() + 22050, changed.begin()));
  EXPECT_FALSE(std::equal(kept.begin() + 22050, kept.end(), changed.begin() + 22050));
  // The bank as the renderer lists it.
  const ProgramRun list = renderer({"--list-sounds"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(bank.size()));
  EXPECT_EQ(list.out.substr(0, list.out.find('\n')), "1\t" + categoryTitle(bank[0].category) +
                                                         "\t" + std::string(bank[0].name) + "\t" +
                                                         std::string(bank[0].description));
}

TEST(RenderTool, OptionMistakesInTheProgramsOwnWords) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const std::string out = (dir.path / "out.wav").string();
  const std::vector<std::string> good = {"--midi", midi, "--out", out};
  const auto with = [&good](std::vector<std::string> more) {
    more.insert(more.begin(), good.begin(), good.end());
    return more;
  };
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      // The unknown option first, whatever else is wrong.
      {{"--bogus"}, "--bogus is not an option (see --help)"},
      {{"--rate", "1", "--midi", "--out", out, "-x"}, "-x is not an option (see --help)"},
      {with({"stray"}), "\"stray\" is not an option (see --help)"},
      {with({"--midi", "b.mid"}),
       "--midi is given twice (\"" + midi + "\", \"b.mid\"): give it once"},
      {{"--midi", midi, "--out"}, "--out needs a value: it takes the WAV file to write"},
      {with({"--rate", "abc"}), "--rate \"abc\": takes a sample rate in Hz from 22050 to 192000"},
      {with({"--bend-range", "24.5"}),
       "--bend-range \"24.5\": takes a whole number of semitones from 0 to 24"},
      {with({"--velocity=nan"}), "--velocity \"nan\": takes a whole percentage from 0 to 100"},
      {with({"--tail", "inf"}), "--tail \"inf\": takes seconds from 0 to 3600"},
      {with({"--channel", "17"}),
       "--channel \"17\": takes a MIDI channel from 1 to 16, or \"all\""},
      {with({"--sound", "0"}),
       "--sound \"0\": takes the name or number of a factory bank sound (see --list-sounds)"},
      {with({"--sound", "1", "--patch", "a.vx"}),
       "--sound and --patch both choose the sound to start from: give one"},
      {{"--out", out}, "--midi is missing: it takes the Standard MIDI File to play"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = renderer(c.args);
    EXPECT_EQ(run.status, 2) << c.err;
    EXPECT_EQ(run.err, "ondelith-render: " + c.err + "\n");
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.mid"});
  // Whole numbers written with a decimal point are those numbers.
  const ProgramRun run = renderer(
      with({"--bend-range", "24.0", "--channel", "2.0", "--rate", "48000.0", "--velocity", "+50"}));
  EXPECT_EQ(run.status, 0) << run.err;
  SF_INFO info;
  EXPECT_FALSE(readWav(out, info).empty());
  EXPECT_EQ(info.samplerate, 48000);
}

TEST(RenderTool, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
  TempDir dir;
  const std::string midi =
      dir.file("ok.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const std::string fifo = (dir.path / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = (dir.path / "out.wav").string();
  const std::vector<std::vector<std::string>> runs = {
      {"--midi", fifo, "--out", out},
      {"--patch", fifo, "--midi", midi, "--out", out},
      {"--midi", "/dev/zero", "--out", out},
      {"--midi", dir.path.string(), "--out", out},
  };
  for (const auto& args : runs) {
    // A FIFO with no writer holds a blocking open() for ever: the wait is bounded.
    const ProgramRun run = renderer(args, {.seconds = 5});
    EXPECT_FALSE(run.timedOut) << args[1];
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(args[1] + ": "), std::string::npos) << run.err;
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"ok.mid", "pipe"}));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ONDELITH_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ONDELITH_SANITIZED 1
#endif
#endif

// Note messages of three bytes each (running status, no time between them):
// as many notes as a file of that size can hold.
std::string denseMidi(size_t bytes) {
  Smf smf;
  smf.track().event(0, {0x90, 60, 100});
  std::string& t = smf.tracks.back();
  t.reserve(bytes);
  while (t.size() + 10 < bytes) t += std::string("\0\x3C\0\0\x3C\x64", 6);
  return smf.end().bytes();
}

TEST(RenderTool, MemoryStaysASmallMultipleOfTheFile) {
#ifdef ONDELITH_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
  TempDir dir;
  const auto sparse = [&](const std::string& name, off_t size) {
    const std::string path = dir.file(name, "");
    EXPECT_EQ(truncate(path.c_str(), size), 0);
    return path;
  };
  const std::string out = (dir.path / "out.wav").string();
  struct Case {
    std::string midi;
    int status;
    std::string says;
  };
  // The program itself needs about 10 MiB.
  const rlim_t limit = rlim_t{64} << 20;
  const std::vector<Case> cases = {
      {dir.file("4.mid", denseMidi(4 << 20)), 0, ""},
      {dir.file("16.mid", denseMidi(16 << 20)), 1, "16.mid: too large to hold in memory"},
      // The header is looked at first, the size before anything is read.
      {sparse("zeros.mid", off_t{512} << 20), 1, "zeros.mid: not a MIDI file"},
      {sparse("huge.mid", (off_t{1} << 30) + 1), 1, "huge.mid: larger than 1 GiB"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = renderer({"--midi", c.midi, "--out", out}, {.addressSpace = limit});
    EXPECT_EQ(run.status, c.status) << c.midi << " " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.status ? 1 : 0) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(fs::exists(out), c.status == 0);
    fs::remove(out);
  }
  for (const std::string& name : dir.entries()) EXPECT_FALSE(name.starts_with(".")) << name;
}

TEST(RenderTool, OutputsThatMustNotBeReplacedAreRefusedBeforeRendering) {
  TempDir dir;
  const std::string midiBytes = Smf().track().event(0, {0x90, 60, 100}).end(10).bytes();
  const std::string midi = dir.file("in.mid", midiBytes);
  const std::string patch = dir.file("in.vx", "50\r\n");
  const fs::path fifo = dir.path / "pipe.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir.path / "folder.wav");
  fs::create_hard_link(midi, dir.path / "hard.wav");
  fs::create_symlink("in.mid", dir.path / "link.wav");
  struct Case {
    std::string out;
    std::string says;
  };
  const std::string kept = dir.file("kept.wav", "keep");
  fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  std::vector<Case> cases = {
      {kept, "is read-only"},
      {(dir.path / "folder.wav").string(), "is a folder"},
      {fifo.string(), "is a FIFO"},
      {midi, "is the --midi file"},
      {(dir.path / "hard.wav").string(), "is the --midi file"},
      {(dir.path / "link.wav").string(), "is the --midi file"},
      {patch, "is the --patch file"},
  };
  // A device of its own where the process may make one; the system's null
  // device only where the process could not replace it anyway.
  const fs::path null = dir.path / "null.wav";
  if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    cases.push_back({null.string(), "is a device"});
  else if (geteuid() != 0)
    cases.push_back({"/dev/null", "is a device"});
  const std::vector<std::string> before = dir.entries();
  for (const Case& c : cases) {
    const ProgramRun run = renderer({"--patch", patch, "--midi", midi, "--out", c.out});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.out + ": " + c.says), std::string::npos) << run.err;
  }
  EXPECT_EQ(dir.entries(), before);
  EXPECT_EQ(test::slurp(midi), midiBytes);
  EXPECT_EQ(test::slurp(patch), "50\r\n");
  EXPECT_EQ(test::slurp(kept), "keep");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_directory(dir.path / "folder.wav"));
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.wav"));
  if (fs::exists(null)) {
    EXPECT_TRUE(fs::is_character_file(null));
  }
}

TEST(RenderTool, OutputThroughALinkReplacesItsTargetWithItsPermissions) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const fs::path target = dir.path / "target.wav";
  dir.file("target.wav", "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("target.wav", dir.path / "link.wav");
  fs::create_symlink("new.wav", dir.path / "dangling.wav");
  for (const char* out : {"link.wav", "dangling.wav"}) {
    const ProgramRun run = renderer({"--midi", midi, "--out", (dir.path / out).string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir.path / out));
  }
  SF_INFO info;
  EXPECT_FALSE(readWav(target.string(), info).empty());
  EXPECT_FALSE(readWav((dir.path / "new.wav").string(), info).empty());
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dangling.wav", "in.mid", "link.wav",
                                                     "new.wav", "target.wav"}));
}

TEST(RenderTool, EverySignalThatEndsItAndAFileSizeLimitRemoveTheTemporaryFile) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const auto start = [&](const RunOptions& options, int& outFd, int& errFd) {
    // An hour of sound: long enough to be caught while it is written.
    return startRenderer(
        {"--midi", midi, "--out", (dir.path / "out.wav").string(), "--tail", "3600"}, options,
        outFd, errFd);
  };
  for (int sig : kEndingSignals) {
    int outFd, errFd;
    const pid_t pid = start({}, outFd, errFd);
    ASSERT_GT(pid, 0);
    bool writing = false;
    for (int i = 0; i < 3000 && !writing; ++i) {
      for (const std::string& name : dir.entries()) writing |= name.starts_with(".out.wav.");
      if (!writing) usleep(10000);
    }
    EXPECT_TRUE(writing) << strsignal(sig);
    kill(pid, sig);
    const ProgramRun run = finishRenderer(pid, outFd, errFd, 60);
    EXPECT_EQ(run.signal, sig) << strsignal(sig) << " " << run.err;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.mid"}) << strsignal(sig);
  }
  // Past a file-size limit: the process's own SIGXFSZ; or, where that
  // signal is ignored, a write error that gives the system's reason.
  for (const bool ignored : {false, true}) {
    int outFd, errFd;
    const pid_t pid = start({.fileSize = 1 << 20, .ignoreFileSizeSignal = ignored}, outFd, errFd);
    const ProgramRun run = finishRenderer(pid, outFd, errFd, 60);
    if (ignored) {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "ondelith-render: " + (dir.path / "out.wav").string() +
                             ": cannot write: File too large\n");
    } else {
      EXPECT_EQ(run.signal, SIGXFSZ) << run.err;
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.mid"}) << ignored;
  }
}

// A process id that no longer runs.
pid_t deadProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// A render killed while writing leaves its hidden temporary file: the next
// render of that output removes it, but never one whose renderer still runs,
// nor a file of another name.
TEST(RenderTool, TemporaryFilesOfKilledRendersOfTheOutputAreRemoved) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const std::string dead = std::to_string(deadProcess()), live = std::to_string(getpid());
  const auto hourOld = fs::file_time_type::clock::now() - std::chrono::hours(1);
  const struct {
    std::string name;
    bool old, stays;
  } files[] = {
      {".o.wav." + dead + ".Ab12Cd", false, false},
      {".o.wav.Ab12Cd", true, false},  // the earlier naming, long untouched
      {".o.wav." + live + ".Ab12Cd", true, true},
      {".o.wav.Zz99Yy", false, true},  // the earlier naming, written just now
      {".p.wav." + dead + ".Ab12Cd", true, true},
      {".o.wav.notes", true, true},
  };
  for (const auto& f : files) {
    dir.file(f.name, "partial");
    if (f.old) fs::last_write_time(dir.path / f.name, hourOld);
  }
  const ProgramRun run = renderer({"--midi", midi, "--out", (dir.path / "o.wav").string()});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const auto& f : files) EXPECT_EQ(fs::exists(dir.path / f.name), f.stays) << f.name;
}

TEST(RenderTool, OutputNamesUpToTheLongestTheFolderTakes) {
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  const long longest = pathconf(dir.path.c_str(), _PC_NAME_MAX);
  for (const long length : {long{248}, longest - 1, longest}) {
    // Multi-byte characters where the temporary name is cut.
    std::string name(static_cast<size_t>(length) - 4 - 240, 'x');
    for (int i = 0; i < 120; ++i) name += "\xc3\xa9";
    name += ".wav";
    ASSERT_EQ(name.size(), static_cast<size_t>(length));
    const ProgramRun run = renderer({"--midi", midi, "--out", (dir.path / name).string()});
    EXPECT_EQ(run.status, 0) << length << " " << run.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.mid", name})) << length;
    fs::remove(dir.path / name);
  }
}

// What soxi makes of a WAV file: its sample count, and any warning.
std::string soxiSamples(const std::string& path) {
  FILE* pipe = popen(("soxi -s '" + path + "' 2>&1").c_str(), "r");
  std::string said;
  char buffer[256];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) said += buffer;
  if (pipe) pclose(pipe);
  return said;
}

bool haveSoxi() { return std::system("command -v soxi >/dev/null 2>&1") == 0; }

TEST(RenderTool, PastFourGibibytesTheWavFileBecomesRf64) {
  TempDir dir;
  const uint64_t largestRiff = (0xFFFFFFFFull - (kWavHeaderBytes - 8)) / 4;
  const struct {
    int rate;
    uint64_t frames;
    int major;
  } cases[] = {
      {44100, 88200, SF_FORMAT_WAV},
      {192000, largestRiff, SF_FORMAT_WAV},
      {192000, largestRiff + 1, SF_FORMAT_RF64},
      {192000, uint64_t{6} * 3600 * 192000, SF_FORMAT_RF64},  // the longest render
  };
  for (const auto& c : cases) {
    // Sparse: only the header and the last sample are on the disk.
    const std::string path = dir.file("long.wav", wavHeader(c.rate, c.frames));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kWavHeaderBytes + 4 * c.frames)), 0);
    const float last = 0.5f;
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(static_cast<std::streamoff>(kWavHeaderBytes + 4 * (c.frames - 1)))
        .write(reinterpret_cast<const char*>(&last), 4);
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << c.frames << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(c.frames));
    EXPECT_EQ(info.format, c.major | SF_FORMAT_FLOAT) << c.frames;
    EXPECT_EQ(info.samplerate, c.rate);
    float read = 0;
    EXPECT_EQ(sf_seek(f, static_cast<sf_count_t>(c.frames - 1), SEEK_SET),
              static_cast<sf_count_t>(c.frames - 1));
    EXPECT_EQ(sf_read_float(f, &read, 1), 1);
    EXPECT_EQ(read, last);
    sf_close(f);
    // sox reads an RF64 file through to count its samples: too slow here.
    if (haveSoxi() && c.major == SF_FORMAT_WAV) {
      EXPECT_EQ(soxiSamples(path), std::to_string(c.frames) + "\n");
    }
    fs::remove(path);
  }
}

TEST(RenderTool, VersionHelpAndRepeatableOutput) {
  ProgramRun run = renderer({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "ondelith-render " + std::string(kVersion) + "\nLicense GPL-3.0-or-later\n");
  run = renderer({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Exit status: 0 "), std::string::npos) << run.out;
  // Nothing of the moment of writing goes into the file.
  TempDir dir;
  const std::string midi =
      dir.file("in.mid", Smf().track().event(0, {0x90, 60, 100}).end(10).bytes());
  for (const char* out : {"a.wav", "b.wav"})
    EXPECT_EQ(renderer({"--midi", midi, "--out", (dir.path / out).string()}).status, 0);
  const std::string a = test::slurp(dir.path / "a.wav");
  EXPECT_EQ(a, test::slurp(dir.path / "b.wav"));
  EXPECT_EQ(a.find("PEAK"), std::string::npos);
  // A header that readers take without a warning.
  if (haveSoxi()) {
    EXPECT_EQ(soxiSamples((dir.path / "a.wav").string()), "88659\n");
  }
}

}  // namespace
}  // namespace ondelith
