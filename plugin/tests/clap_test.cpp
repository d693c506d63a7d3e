// The CLAP plugin in a host of our own: notes from a MIDI file and knob moves
// as CLAP events, sample for sample the renderer's output, before and after
// its state travels to a new instance; parameters as the registry says,
// changes at their frames, an unsupported rate heard as silence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/oversampling.h"
#include "instrument/instrument.h"
#include "plugin/plugin_core.h"
#include "plugin/tests/clap_host.h"
#include "plugin/tests/plugin_test_support.h"

namespace ondelith {
namespace {

using claptest::Instance;
using claptest::Module;
using namespace plugintest;
using test::TempDir;

Module& module() {
  static Module m(ONDELITH_CLAP_PATH);
  return m;
}

std::vector<float> play(Instance& plugin, const std::vector<TimedMidi>& notes, size_t frames,
                        const std::vector<uint32_t>& runs) {
  return playInRuns<uint32_t>(plugin, notes, frames, runs);
}

// Knobs a musician moves, in the order moved: the range switch before the
// Duration it limits.
struct Move {
  int index;
  double value;
};
const Move kMoves[] = {{kCutoffIndex, 900},   {kAttackIndex, 40},    {modIndex(0), -35},
                       {coarseIndex(3), 6},   {fineIndex(1), 45},    {kDurationRangeIndex, 1},
                       {kDurationIndex, 700}, {kResonanceIndex, 80}, {pointIndex(1), 30},
                       {kVelocityIndex, 70},  {kBendRangeIndex, 7}};

// The patch a window would save after the same moves.
PatchValues patchAfterMoves() {
  Instrument in;
  for (const Move& m : kMoves) in.setValue(m.index, static_cast<int32_t>(m.value));
  return in.capturePatch();
}

class ClapPlays : public ::testing::TestWithParam<int> {};

TEST_P(ClapPlays, AsTheRendererBeforeAndAfterItsStateTravels) {
  ASSERT_TRUE(module().ok()) << "no plugin in " ONDELITH_CLAP_PATH;
  const int rate = GetParam();
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const std::vector<TimedMidi> notes = notesOf(midi, rate);
  const std::string patch = dir.file("moved.vx", formatPatch(patchAfterMoves()));
  // The renderer with the same settings the knobs chose.
  const std::vector<float> plain = rendered(dir, midi, rate);

  Instance fresh(module(), rate);
  ASSERT_TRUE(fresh.ok());
  EXPECT_TRUE(sameBits(play(fresh, notes, plain.size(), kRuns), plain));

  Instance first(module(), rate);
  for (const Move& m : kMoves) first.param(0, static_cast<uint32_t>(m.index), m.value);
  std::vector<float> none;
  first.process(0, none);  // a call with no frames takes the changes
  const std::string state = first.saveState();
  ASSERT_EQ(patchIn(state), formatPatch(patchAfterMoves()));

  Instance second(module(), rate);
  ASSERT_TRUE(second.loadState(state));
  EXPECT_GE(second.rescans, 1);
  const PatchValues saved = parsePatch(patchIn(state));
  for (int i = 0; i < kParameterCount; ++i) {
    SCOPED_TRACE(parameter(i).symbol);
    EXPECT_EQ(second.value(static_cast<uint32_t>(i)), first.value(static_cast<uint32_t>(i)));
    if (i < kSoundValueCount) {
      EXPECT_EQ(second.value(static_cast<uint32_t>(i)),
                saved[static_cast<size_t>(parameter(i).patchLine - 1)]);
    }
  }
  // The renderer with the same patch and the same player settings.
  const std::vector<float> reference =
      rendered(dir, midi, rate, patch, {"--velocity", "70", "--bend-range", "7"});
  EXPECT_FALSE(sameBits(reference, plain));
  EXPECT_TRUE(sameBits(play(first, notes, reference.size(), kRuns), reference));
  EXPECT_TRUE(sameBits(play(second, notes, reference.size(), kOtherRuns), reference));
}

INSTANTIATE_TEST_SUITE_P(Rates, ClapPlays, ::testing::Values(44100, 48000));

// A state whose patch has keyed lines after its 81 gives them back whole in
// the next state; the sound is the one of its 81 lines.
TEST(ClapState, CarriesAPatchsKeyedLines) {
  ASSERT_TRUE(module().ok());
  Instance first(module(), 48000);
  for (const Move& m : kMoves) first.param(0, static_cast<uint32_t>(m.index), m.value);
  std::vector<float> none;
  first.process(0, none);
  std::string state = first.saveState();
  const std::string plain = patchIn(state);
  const std::string keyed = plain + "ondelith-settings=1\r\nfuture_mode=wide\r\n";
  state.replace(state.find(plain), plain.size(), keyed);

  Instance second(module(), 48000);
  ASSERT_TRUE(second.loadState(state));
  second.process(0, none);
  EXPECT_EQ(patchIn(second.saveState()), keyed);
  for (int i = 0; i < kParameterCount; ++i)
    EXPECT_EQ(second.value(static_cast<uint32_t>(i)), first.value(static_cast<uint32_t>(i)))
        << parameter(i).symbol;
}

TEST(ClapParameters, IdsRangesAndGroupsAreTheRegistrys) {
  ASSERT_TRUE(module().ok());
  const clap_plugin_descriptor_t& d = *module().descriptor;
  EXPECT_STREQ(d.version, ONDELITH_VERSION);
  EXPECT_STRNE(d.description, "");
  std::vector<std::string> features;
  for (const char* const* f = d.features; *f; ++f) features.emplace_back(*f);
  EXPECT_EQ(features, (std::vector<std::string>{"instrument", "synthesizer", "mono"}));

  Instance plugin(module(), 48000);
  ASSERT_TRUE(plugin.params);
  ASSERT_EQ(plugin.params->count(plugin.plugin()), static_cast<uint32_t>(kParameterCount));
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    clap_param_info_t info{};
    ASSERT_TRUE(plugin.params->get_info(plugin.plugin(), static_cast<uint32_t>(i), &info));
    EXPECT_EQ(info.id, static_cast<clap_id>(i));
    EXPECT_EQ(info.name, p.name);
    EXPECT_EQ(info.min_value, p.minimum);
    EXPECT_EQ(info.max_value, p.maximum);
    EXPECT_EQ(info.default_value, p.start);
    EXPECT_EQ(plugin.value(static_cast<uint32_t>(i)), p.start);
    EXPECT_TRUE(info.flags & CLAP_PARAM_IS_STEPPED);
    EXPECT_EQ(static_cast<bool>(info.flags & CLAP_PARAM_IS_AUTOMATABLE), p.automatable);
    const std::string module(info.module);
    EXPECT_EQ(module.substr(module.find('/') + 1), p.symbol);
    EXPECT_GT(module.find('/'), 0u);
  }
  // The range switch and the channel show their choices.
  char text[64];
  ASSERT_TRUE(
      plugin.params->value_to_text(plugin.plugin(), kDurationRangeIndex, 1, text, sizeof text));
  EXPECT_STREQ(text, "x1");
  ASSERT_TRUE(plugin.params->value_to_text(plugin.plugin(), kChannelIndex, 0, text, sizeof text));
  EXPECT_STREQ(text, "All");
}

TEST(ClapParameters, AChangeInsideARunActsAtItsFrame) {
  ASSERT_TRUE(module().ok());
  const auto playWith = [](const std::vector<uint32_t>& runs, bool atFrame) {
    Instance plugin(module(), 48000);
    plugin.midi(0, test::noteOnWord(57, 100));
    std::vector<float> out;
    plugin.process(runs[0], out);
    plugin.param(atFrame ? 1000 - runs[0] : 0, kCutoffIndex, 300);
    plugin.param(atFrame ? 1000 - runs[0] : 0, kVolumeIndex, 900);
    for (size_t k = 1; k < runs.size(); ++k) plugin.process(runs[k], out);
    return out;
  };
  const std::vector<float> inside = playWith({100, 3996}, true);
  const std::vector<float> split = playWith({1000, 3096}, false);
  const std::vector<float> atStart = playWith({100, 3996}, false);
  EXPECT_TRUE(sameBits(inside, split));
  EXPECT_FALSE(sameBits(inside, atStart));
}

TEST(ClapRate, AnUnsupportedRatePlaysSilenceAndSaysSoOnce) {
  ASSERT_TRUE(module().ok());
  StderrCapture log;
  Instance plugin(module(), 1234.5678);
  ASSERT_TRUE(plugin.ok());
  plugin.midi(0, test::noteOnWord(69, 100));
  std::vector<float> out;
  for (int k = 0; k < 4; ++k) plugin.process(512, out);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float s) { return s == 0.0f; }));
  const std::string text = log.text();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("1234.57"), std::string::npos) << text;
}

// A saved value is read whole: past the range it is limited, as "999" is;
// what is no number leaves the state's own value.
TEST(ClapState, NumbersAreReadWholeLimitedOrRefused) {
  ASSERT_TRUE(module().ok());
  expectStateNumbersRead<Instance>(module(), [](int i) { return static_cast<uint32_t>(i); });
}

TEST(ClapEvents, PastTheLimitEveryNoteEnds) {
  ASSERT_TRUE(module().ok());
  expectFloodsEndTheirNotes<uint32_t, Instance>(module());
}

TEST(ClapLatency, TheSetUpFadeWhenAskedFor) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 48000);
  std::vector<float> out;
  plugin.process(64, out);
  EXPECT_EQ(plugin.latency(), 0u);
  ASSERT_TRUE(plugin.loadState(withStateText(plugin.saveState(), "report-latency", "on")));
  plugin.process(64, out);
  EXPECT_EQ(plugin.latency(), plugin::setUpLatency(48000, 0));
  // The decimator delays every sound, asked or not.
  const int32_t fourTimes = 2;
  const auto decimator = static_cast<uint32_t>(oversamplingDelayFrames(fourTimes));
  ASSERT_GT(decimator, 0u);
  plugin.param(0, kOversamplingIndex, fourTimes);
  plugin.process(64, out);  // the run that takes the change reports it from the next
  plugin.process(64, out);
  EXPECT_EQ(plugin.latency(), plugin::setUpLatency(48000, decimator));
  ASSERT_TRUE(plugin.loadState(withStateText(plugin.saveState(), "report-latency", "off")));
  plugin.process(64, out);
  EXPECT_EQ(plugin.latency(), decimator);
}

}  // namespace
}  // namespace ondelith
