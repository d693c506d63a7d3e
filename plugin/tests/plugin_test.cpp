// The plugin in a host: lilv loads the bundle from the build tree, a MIDI
// file plays into it in runs of many lengths, and what it plays is compared
// sample for sample with ondelith-render; its state travels to a new
// instance; bad patch files, state and control values leave the sound whole.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "instrument/instrument.h"
#include "platform/patch_file.h"
#include "plugin/ports.h"
#include "plugin/tests/lv2_host.h"
#include "tests/test_files.h"
#include "tools/midi_file.h"

extern char** environ;

namespace ondelith {
namespace {

using lv2test::Host;
using lv2test::Instance;
using test::TempDir;

Host& host() {
  static Host h;
  return h;
}

// A format-0 Standard MIDI File at 960 ticks per second (480 per quarter,
// 0.5 s per quarter): events as (tick, bytes), in order.
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
  return "MThd" + big(6, 4) + big(0, 2) + big(1, 2) + big(480, 2) + "MTrk" +
         big(static_cast<uint32_t>(track.size()), 4) + track;
}

// Legato, a key pressed during a release, two events on one tick, a note on
// channel 2 that both must ignore.
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

// A sound far from the start-up one: drawn curves, every row wobbling.
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

// What ondelith-render plays for the file, from the start-up sound or a patch.
std::vector<float> rendered(const TempDir& dir, const std::string& midi, int rate,
                            const std::string& patch = {}) {
  const std::string out = (dir.path / "reference.wav").string();
  std::vector<std::string> args{"--midi", midi, "--out", out, "--rate", std::to_string(rate),
                                "--tail", "0.5"};
  if (!patch.empty()) args.insert(args.end(), {"--patch", patch});
  EXPECT_EQ(runRenderer(args), 0);
  int wavRate = 0;
  std::vector<float> samples = readWav(out, wavRate);
  EXPECT_EQ(wavRate, rate);
  return samples;
}

// The file's notes played into the plugin in runs of the given lengths, in
// turn, each note at its offset within its run.
std::vector<float> play(Instance& plugin, const std::string& midiPath, int rate, size_t frames,
                        const std::vector<uint32_t>& runs) {
  MidiFileContents midi;
  std::string reason;
  EXPECT_TRUE(readMidiFile(test::slurp(midiPath), midi, reason, rate)) << reason;
  std::vector<float> out;
  size_t next = 0;
  for (size_t k = 0; out.size() < frames; ++k) {
    const size_t start = out.size();
    const auto n = static_cast<uint32_t>(std::min<size_t>(runs[k % runs.size()], frames - start));
    for (; next < midi.notes.size() && static_cast<size_t>(midi.notes[next].frame) < start + n;
         ++next) {
      const uint32_t w = midi.notes[next].word;
      plugin.midi(
          static_cast<uint32_t>(midi.notes[next].frame - static_cast<int64_t>(start)),
          {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16)});
    }
    plugin.run(n, out);
  }
  return out;
}

// Bit for bit: -0 and 0 differ, as do two NaNs of different payloads.
::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "first difference at sample " << i << ": " << a[i] << " and " << b[i];
  return ::testing::AssertionSuccess();
}

// The patch text the plugin saves, through its state interface.
std::string savedPatch(Instance& plugin) {
  std::string text;
  plugin.stateInterface()->save(
      plugin.handle(),
      [](LV2_State_Handle h, uint32_t, const void* value, size_t size, uint32_t, uint32_t) {
        static_cast<std::string*>(h)->assign(static_cast<const char*>(value), size - 1);
        return LV2_STATE_SUCCESS;
      },
      &text, 0, nullptr);
  return text;
}

const std::vector<uint32_t> kRuns = {1, 64, 257, 4096, 33, 1000, 8192, 2};
const std::vector<uint32_t> kOtherRuns = {511, 7, 128, 3000};

class PlaysAsTheRenderer : public ::testing::TestWithParam<int> {};

TEST_P(PlaysAsTheRenderer, BitForBitInRunsOfAnyLength) {
  ASSERT_TRUE(host().plugin) << "the bundle is not in " ONDELITH_LV2_BUILD_DIR;
  const int rate = GetParam();
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const std::string patch = dir.file("wobbly.vx", formatPatch(wobblyPatch(3)));

  Instance plain(host(), rate);
  ASSERT_TRUE(plain.ok());
  const std::vector<float> reference = rendered(dir, midi, rate);
  EXPECT_TRUE(sameBits(play(plain, midi, rate, reference.size(), kRuns), reference));

  // The same with a patch chosen through the file parameter before the first note.
  Instance patched(host(), rate);
  patched.choosePatchFile(patch);
  std::vector<float> none;
  patched.run(0, none);
  const std::vector<float> withPatch = rendered(dir, midi, rate, patch);
  EXPECT_TRUE(sameBits(play(patched, midi, rate, withPatch.size(), kRuns), withPatch));
  EXPECT_FALSE(sameBits(withPatch, reference));
  EXPECT_TRUE(patched.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Rates, PlaysAsTheRenderer, ::testing::Values(44100, 48000));

TEST(PluginState, SavedAfterChangesPlaysTheSameInANewInstance) {
  ASSERT_TRUE(host().plugin);
  const int rate = 48000;
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const size_t frames = 3 * rate;

  // Curves from a file, then controls moved by the host.
  Instance first(host(), rate);
  first.choosePatchFile(dir.file("curves.vx", formatPatch(wobblyPatch(11))));
  std::vector<float> none;
  first.run(0, none);
  for (auto [symbol, value] : {std::pair{"x1_mod", -35.0f},
                               {"y2_coarse", 6.0f},
                               {"attack", 40.0f},
                               {"sustain", 30.0f},
                               {"cutoff", 900.0f},
                               {"duration_range", 2.0f},
                               {"duration", 4000.0f}})
    first.set(symbol, value);
  first.run(0, none);
  const std::string state = first.saveState();
  const std::string text = savedPatch(first);
  ASSERT_TRUE(isPatchText(text));

  const std::vector<float> played = play(first, midi, rate, frames, kRuns);
  first.deactivate();
  first.activate();  // the voice afresh, the sound kept
  EXPECT_TRUE(sameBits(play(first, midi, rate, frames, kOtherRuns), played));

  Instance second(host(), rate);
  ASSERT_TRUE(second.restoreState(state)) << state;
  EXPECT_TRUE(sameBits(play(second, midi, rate, frames, kOtherRuns), played));
  EXPECT_EQ(second.get("cutoff"), 900.0f);

  // The saved text is a patch the program plays the same.
  const std::vector<float> program = rendered(dir, midi, rate, dir.file("saved.vx", text));
  EXPECT_TRUE(sameBits(std::vector<float>(program.begin(), program.begin() + frames), played));
  Instance fresh(host(), rate);
  EXPECT_FALSE(sameBits(play(fresh, midi, rate, frames, kRuns), played));
}

// What a plugin with the known patch plays after `spoil` has done its worst.
struct SpoiledSound {
  std::vector<float> played;
  std::vector<std::string> log;
  std::string saved;
};

SpoiledSound afterKnownPatch(const TempDir& dir, const std::function<void(Instance&)>& spoil) {
  const int rate = 44100;
  Instance plugin(host(), rate);
  plugin.choosePatchFile(dir.file("known.vx", formatPatch(wobblyPatch(5))));
  std::vector<float> none;
  plugin.run(0, none);
  spoil(plugin);
  plugin.run(0, none);
  const std::string midi = dir.file("song.mid", song());
  return {play(plugin, midi, rate, rate * 2, kRuns), plugin.log, savedPatch(plugin)};
}

TEST(BadInput, PatchFilesThatAreNoneKeepTheSoundAndAreLogged) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const SpoiledSound known = afterKnownPatch(dir, [](Instance&) {});
  const std::string fifo = (dir.path / "fifo.vx").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string cases[] = {
      (dir.path / "missing.vx").string(),
      dir.file("song.vx", song()),
      dir.file("short.vx", formatPatch(wobblyPatch(9)).substr(0, 200)),
      dir.file("words.vx", "not a patch\n"),
      dir.path.string(),
      fifo,  // never waited on
  };
  for (const std::string& path : cases) {
    const SpoiledSound s = afterKnownPatch(dir, [&](Instance& p) { p.choosePatchFile(path); });
    EXPECT_TRUE(sameBits(s.played, known.played)) << path;
    ASSERT_EQ(s.log.size(), 1u) << path;
    EXPECT_NE(s.log[0].find(path), std::string::npos) << s.log[0];
  }
}

TEST(BadInput, StateOfTheWrongTypeOrSizeIsIgnored) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const SpoiledSound known = afterKnownPatch(dir, [](Instance&) {});
  const std::string longText = known.saved + std::string(5000, '\n');
  const std::string eighty =
      known.saved.substr(0, known.saved.rfind("\r\n", known.saved.size() - 3) + 2);
  const int32_t number = 42;
  struct Blob {
    const char* what;
    const char* type;
    const void* data;
    size_t size;
  } cases[] = {
      {"a number", LV2_ATOM__Int, &number, sizeof number},
      {"the patch as a path", LV2_ATOM__Path, known.saved.c_str(), known.saved.size() + 1},
      {"empty text", LV2_ATOM__String, "", 1},
      {"80 lines", LV2_ATOM__String, eighty.c_str(), eighty.size() + 1},
      {"too long", LV2_ATOM__String, longText.c_str(), longText.size() + 1},
  };
  for (const Blob& blob : cases) {
    const SpoiledSound s = afterKnownPatch(dir, [&](Instance& p) {
      const LV2_State_Status status = p.stateInterface()->restore(
          p.handle(),
          [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
             uint32_t* flags) -> const void* {
            const auto& b = *static_cast<const Blob*>(h);
            if (key != host().map(std::string(lv2::kPatchStateUri).c_str())) return nullptr;
            *size = b.size;
            *type = host().map(b.type);
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return b.data;
          },
          const_cast<Blob*>(&blob), 0, nullptr);
      EXPECT_NE(status, LV2_STATE_SUCCESS) << blob.what;
    });
    EXPECT_TRUE(sameBits(s.played, known.played)) << blob.what;
    EXPECT_EQ(s.saved, known.saved) << blob.what;
  }
}

TEST(BadInput, ControlValuesOutOfRangeAreLimited) {
  ASSERT_TRUE(host().plugin);
  // A value not a number changes nothing: the patch's 700 stays.
  const struct {
    const char* symbol;
    float given, limited;
  } cases[] = {
      {"cutoff", 99999, 5000},  {"attack", 2500, 2000},   {"resonance", 1e30f, 100},
      {"x1_coarse", 15.6f, 15}, {"y1", 0.5f, 0},          {"x2_mod", -100.5f, -100},
      {"volume", NAN, NAN},     {"duration_range", 7, 2}, {"duration", -INFINITY, 1000},
      {"y2", 49, 50},           {"x1_fine", 98.5f, 98},
  };
  TempDir dir;
  const SpoiledSound given = afterKnownPatch(dir, [&](Instance& p) {
    for (const auto& c : cases) p.set(c.symbol, c.given);
  });
  const SpoiledSound limited = afterKnownPatch(dir, [&](Instance& p) {
    for (const auto& c : cases)
      if (!std::isnan(c.limited)) p.set(c.symbol, c.limited);
  });
  EXPECT_TRUE(sameBits(given.played, limited.played));
  EXPECT_EQ(given.saved, limited.saved);
  const PatchValues v = parsePatch(given.saved);
  EXPECT_EQ(v[79], 5000);  // F
  EXPECT_EQ(v[75], 2000);  // A
  EXPECT_EQ(v[72], 700);   // Vol
}

TEST(Bundle, Lv2infoListsEveryPortWithItsRangeAndLilvWarnsOfNothing) {
  ASSERT_TRUE(host().plugin);
  EXPECT_TRUE(lilv_plugin_verify(host().plugin));
  TempDir dir;
  const std::string out = (dir.path / "out").string(), err = (dir.path / "err").string();
  const std::string command =
      std::string(ONDELITH_LV2INFO) + " " + std::string(lv2::kPluginUri) + " >" + out + " 2>" + err;
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::slurp(err), "");
  const std::string info = test::slurp(out);

  // Each port's block, from its "Port N:" line to the next.
  const auto block = [&](uint32_t index) {
    const std::string head = "Port " + std::to_string(index) + ":";
    const size_t from = info.find(head);
    if (from == std::string::npos) return std::string();
    return info.substr(from, info.find("Port ", from + head.size()) - from);
  };
  const auto field = [](const std::string& b, const std::string& name) {
    const size_t at = b.find(name + ":");
    if (at == std::string::npos) return std::string();
    const size_t start = b.find_first_not_of(" \t", at + name.size() + 1);
    return b.substr(start, b.find('\n', start) - start);
  };
  EXPECT_EQ(field(block(lv2::kMidiInPort), "Symbol"), "midi_in");
  EXPECT_EQ(field(block(lv2::kAudioOutPort), "Symbol"), "out");
  for (uint32_t i = 0; i < lv2::kControlPortCount; ++i) {
    const lv2::ControlPort& port = lv2::kControlPorts[i];
    const std::string b = block(lv2::kFirstControlPort + i);
    SCOPED_TRACE(port.symbol);
    EXPECT_EQ(field(b, "Symbol"), port.symbol);
    EXPECT_EQ(field(b, "Name"), port.name);
    EXPECT_EQ(std::stof(field(b, "Minimum")), port.minimum);
    EXPECT_EQ(std::stof(field(b, "Maximum")), port.maximum);
    EXPECT_EQ(std::stof(field(b, "Default")), port.start);
    EXPECT_NE(b.find("lv2core#integer"), std::string::npos);
  }
}

}  // namespace
}  // namespace ondelith
