#include "plugin/tests/plugin_test_support.h"

#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "instrument/instrument.h"
#include "instrument/registry.h"

extern char** environ;

namespace ondelith::plugintest {

std::string midiFile(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& events) {
  const auto big = [](uint32_t v, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  std::string track;
  uint32_t now = 0;
  for (const auto& [tick, bytes] : events) {
    uint32_t delta = tick - now;
    now = tick;
    std::string quantity(1, static_cast<char>(delta & 0x7F));
    while (delta >>= 7) quantity.insert(quantity.begin(), static_cast<char>((delta & 0x7F) | 0x80));
    track += quantity + std::string(bytes.begin(), bytes.end());
  }
  track += std::string("\0\xFF\x2F\0", 4);
  // 480 ticks per quarter at the default 0.5 s per quarter.
  return "MThd" + big(6, 4) + big(0, 2) + big(1, 2) + big(480, 2) + "MTrk" +
         big(static_cast<uint32_t>(track.size()), 4) + track;
}

std::string song() {
  return midiFile({{0, {0x90, 60, 100}},
                   {300, {0x90, 64, 90}},
                   {700, {0x80, 64, 0}},
                   {700, {0x80, 60, 0}},
                   {900, {0x90, 67, 100}},
                   {900, {0x91, 50, 100}},
                   {1500, {0x90, 67, 0}},
                   {1600, {0x90, 72, 80}},
                   {2400, {0x80, 72, 0}}});
}

PatchValues wobblyPatch(unsigned seed) {
  Instrument in;
  std::mt19937 rng(seed);
  for (int row = 0; row < kWobbleRows; ++row) {
    for (int i = 0; i < kCurvePointCount; ++i) {
      const int x = i == 0 ? 0 : (i == 7 ? 159 : static_cast<int>(20 * i + rng() % 20));
      moveCurvePoint(in.curve(row), i, {x, static_cast<int>(rng() % 70)});
    }
    in.curveEdited(row);
    in.setValue(modIndex(row), row % 2 ? -60 : 70);
    in.setValue(coarseIndex(row), 1 + row);
    in.setValue(fineIndex(row), 13 * row);
  }
  in.setDurationRange(kDurationRangeX1, 400);
  in.setValue(kDurationIndex, 600);
  for (auto [index, value] : {std::pair{kAttackIndex, 5},
                              {kDecayIndex, 200},
                              {kSustainIndex, 60},
                              {kReleaseIndex, 300},
                              {kCutoffIndex, 2500},
                              {kResonanceIndex, 80},
                              {kVolumeIndex, 700}})
    in.setValue(index, value);
  return in.capturePatch();
}

int runRenderer(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(ONDELITH_RENDER_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::vector<float> readWav(const std::string& path, int& rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return {};
  std::vector<float> samples(static_cast<size_t>(info.frames));
  sf_readf_float(f, samples.data(), info.frames);
  sf_close(f);
  rate = info.samplerate;
  return samples;
}

}  // namespace

std::vector<float> rendered(const test::TempDir& dir, const std::string& midiPath, int rate,
                            const std::string& patchPath, const std::vector<std::string>& options) {
  const std::string out = (dir.path / "reference.wav").string();
  std::vector<std::string> args{"--midi", midiPath, "--out", out, "--rate", std::to_string(rate),
                                "--tail", "0.5"};
  if (!patchPath.empty()) args.insert(args.end(), {"--patch", patchPath});
  args.insert(args.end(), options.begin(), options.end());
  EXPECT_EQ(runRenderer(args), 0);
  int wavRate = 0;
  std::vector<float> samples = readWav(out, wavRate);
  EXPECT_EQ(wavRate, rate);
  return samples;
}

std::string patchIn(const std::string& state) {
  const std::string key = std::string("\0patch\0", 7);
  const size_t at = state.find(key);
  if (at == std::string::npos) return {};
  const size_t from = at + key.size();
  return state.substr(from, state.find('\0', from) - from);
}

namespace {
// The text after `key` in the section that `begin` opens, replaced.
std::string withText(const std::string& state, const std::string& begin, std::string_view key,
                     std::string_view text) {
  const std::string k = '\0' + std::string(key) + '\0';
  const size_t at = state.find(k, state.find(begin));
  if (at == std::string::npos) return state;
  const size_t from = at + k.size();
  return state.substr(0, from) + std::string(text) + state.substr(state.find('\0', from));
}
}  // namespace

std::string withParameterText(const std::string& state, std::string_view symbol,
                              std::string_view text) {
  return withText(state, "__dpf_parameters_begin__", symbol, text);
}

std::string withStateText(const std::string& state, std::string_view key, std::string_view text) {
  return withText(state, "__dpf_state_begin__", key, text);
}

std::vector<StateNumber> stateNumbers() {
  const auto at = [](std::string_view symbol) { return parameterIndex(symbol); };
  const auto top = [&](std::string_view symbol) { return parameter(at(symbol)).maximum; };
  const auto bottom = [&](std::string_view symbol) { return parameter(at(symbol)).minimum; };
  return {{"1e30", at("volume"), top("volume")},      {"1e999", at("volume"), top("volume")},
          {"999", at("sustain"), top("sustain")},     {"1e9", at("velocity"), top("velocity")},
          {"-1e308", at("x1_mod"), bottom("x1_mod")}, {"50.6", at("sustain"), 51},
          {"inf", at("attack"), std::nullopt},        {"nan", at("cutoff"), std::nullopt},
          {"3abc", at("volume"), std::nullopt},       {" ", at("resonance"), std::nullopt}};
}

std::vector<Flood> floods() {
  constexpr int kCount = 10000;
  constexpr int64_t kEnd = 6100;  // after the flood, within the run
  const auto cc = [](int number, int value) {
    return 0xB0u | (uint32_t(number) << 8) | (uint32_t(value) << 16);
  };
  const auto spread = [](int k) { return 1 + int64_t{k} * 6000 / kCount; };
  const auto with = [&](std::vector<TimedMidi> before, uint32_t (*value)(int),
                        std::vector<TimedMidi> after) {
    Flood f{{}, before, before};
    for (int k = 0; k < kCount; ++k) f.flooded.push_back({spread(k), value(k)});
    f.flooded.insert(f.flooded.end(), after.begin(), after.end());
    f.kept.insert(f.kept.end(), after.begin(), after.end());
    return f;
  };
  const auto bend = [](int k) {
    return 0xE0u | (uint32_t(k & 0x7F) << 8) | (uint32_t(k % 128) << 16);
  };
  const auto modWheel = [](int k) { return 0xB0u | (1u << 8) | (uint32_t(k % 128) << 16); };
  const TimedMidi on{0, test::noteOnWord(60, 100)};
  std::vector<Flood> all = {
      with({on}, bend, {{kEnd, test::noteOffWord(60)}}),
      with({on}, modWheel, {{kEnd, test::noteOffWord(60)}}), with({on}, bend, {{kEnd, cc(123, 0)}}),
      with({on}, bend, {{kEnd, cc(120, 0)}}),
      with({{0, cc(64, 127)}, on}, bend, {{kEnd, test::noteOffWord(60)}, {kEnd + 1, cc(64, 0)}})};
  const char* names[] = {"bends, note-off", "controller, note-off", "bends, all notes off",
                         "bends, all sound off", "pedal held, bends, note-off, pedal let go"};
  for (size_t i = 0; i < all.size(); ++i) all[i].name = names[i];
  // Notes alone: five thousand pressed, then released.
  Flood notes{"notes", {}, {}};
  for (int k = 0; k < kCount / 2; ++k)
    notes.flooded.push_back({spread(k) / 2, test::noteOnWord(40 + k % 50, 100)});
  for (int k = 0; k < kCount / 2; ++k)
    notes.flooded.push_back({3000 + spread(k) / 2, test::noteOffWord(40 + k % 50)});
  notes.kept = {notes.flooded.front(), {notes.flooded.back().frame, test::noteOffWord(40)}};
  all.push_back(notes);
  return all;
}

std::vector<TimedMidi> notesOf(const std::string& midiPath, int rate) {
  MidiFileContents midi;
  std::string reason;
  EXPECT_TRUE(readMidiFile(test::slurp(midiPath), midi, reason, rate)) << reason;
  return midi.notes;
}

::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "first difference at sample " << i << ": " << a[i] << " and " << b[i];
  return ::testing::AssertionSuccess();
}

StderrCapture::StderrCapture() {
  char name[] = "/tmp/ondelith-stderr-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return;
  path_ = name;
  std::fflush(stderr);
  saved_ = dup(2);
  dup2(fd, 2);
  close(fd);
}

StderrCapture::~StderrCapture() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, 2);
  close(saved_);
  std::remove(path_.c_str());
}

std::string StderrCapture::text() {
  std::fflush(stderr);
  return path_.empty() ? std::string() : test::slurp(path_);
}

}  // namespace ondelith::plugintest
