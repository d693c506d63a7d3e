// The VST3 plugin in a host of our own: notes as VST3 events play sample for
// sample as the renderer; parameter ids stay put; a change inside a block
// acts at its frame; after a state or a program is loaded, every parameter
// the host reads back is the sound's.
#include <gtest/gtest.h>

#include "instrument/instrument.h"
#include "instrument/sound_bank.h"
#include "plugin/tests/plugin_test_support.h"
#include "plugin/tests/vst3_host.h"

namespace ondelith {
namespace {

using namespace plugintest;
using test::TempDir;
using vst3test::Instance;
using vst3test::Module;

using vst3test::idOf;
using vst3test::kFirstParameterId;
using vst3test::kProgramId;

Module& module() {
  static Module m(ONDELITH_VST3_BUNDLE);
  return m;
}

std::vector<float> play(Instance& plugin, const std::vector<TimedMidi>& notes, size_t frames,
                        const std::vector<uint32_t>& runs) {
  return playInRuns<int32_t>(plugin, notes, frames, runs);
}

class Vst3Plays : public ::testing::TestWithParam<int> {};

TEST_P(Vst3Plays, NotesAsTheRenderer) {
  ASSERT_TRUE(module().ok()) << "no plugin in " ONDELITH_VST3_BUNDLE;
  const int rate = GetParam();
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const std::vector<float> reference = rendered(dir, midi, rate);
  Instance plugin(module(), rate);
  ASSERT_TRUE(plugin.ok());
  EXPECT_TRUE(sameBits(play(plugin, notesOf(midi, rate), reference.size(), kRuns), reference));
}

INSTANTIATE_TEST_SUITE_P(Rates, Vst3Plays, ::testing::Values(44100, 48000));

TEST(Vst3Parameters, IdsAndRangesAreTheRegistrys) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 48000);
  v3_edit_controller** c = plugin.controller;
  ASSERT_EQ(v3_cpp_obj(c)->get_parameter_count(c),
            static_cast<int32_t>(kFirstParameterId) + kParameterCount);
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    v3_param_info info{};
    ASSERT_EQ(v3_cpp_obj(c)->get_parameter_info(c, static_cast<int32_t>(idOf(i)), &info), V3_OK);
    EXPECT_EQ(info.param_id, idOf(i));
    std::string title;
    for (int k = 0; k < 128 && info.title[k]; ++k) title += static_cast<char>(info.title[k]);
    EXPECT_EQ(title, p.name);
    EXPECT_EQ(info.step_count, p.maximum - p.minimum);
    EXPECT_EQ(plugin.value(idOf(i)), p.start);
    EXPECT_DOUBLE_EQ(v3_cpp_obj(c)->normalised_parameter_to_plain(c, idOf(i), 0), p.minimum);
    EXPECT_DOUBLE_EQ(v3_cpp_obj(c)->normalised_parameter_to_plain(c, idOf(i), 1), p.maximum);
  }
}

TEST(Vst3Parameters, AChangeInsideABlockActsAtItsFrame) {
  ASSERT_TRUE(module().ok());
  const auto playWith = [](int32_t first, bool atFrame) {
    Instance plugin(module(), 48000);
    plugin.midi(0, test::noteOnWord(57, 100));
    std::vector<float> out;
    plugin.process(first, out);
    const int32_t at = atFrame ? 1000 - first : 0;
    plugin.param(at, idOf(kCutoffIndex), 300);
    plugin.param(at, idOf(kVolumeIndex), 900);
    plugin.process(4096 - first, out);
    return out;
  };
  EXPECT_TRUE(sameBits(playWith(100, true), playWith(1000, false)));
  EXPECT_FALSE(sameBits(playWith(100, true), playWith(100, false)));
}

// After a state or a program, each knob reads the sound's value.
::testing::AssertionResult knobsRead(Instance& plugin, const PatchValues& patch,
                                     const std::vector<std::pair<int, int32_t>>& settings) {
  for (int i = 0; i < kSoundValueCount; ++i) {
    const double want = patch[static_cast<size_t>(parameter(i).patchLine - 1)];
    if (plugin.value(idOf(i)) != want)
      return ::testing::AssertionFailure() << parameter(i).symbol << " reads "
                                           << plugin.value(idOf(i)) << ", the sound has " << want;
  }
  for (auto [index, want] : settings)
    if (plugin.value(idOf(index)) != want)
      return ::testing::AssertionFailure()
             << parameter(index).symbol << " reads " << plugin.value(idOf(index));
  return ::testing::AssertionSuccess();
}

TEST(Vst3State, AStateOrAProgramSetsEveryKnobToTheSound) {
  ASSERT_TRUE(module().ok());
  const int rate = 48000;
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const PatchValues wobbly = wobblyPatch(17);

  // The sound set knob by knob, as automation would: the curves stay the
  // start-up ones, so compare with a patch of the same values.
  Instance first(module(), rate);
  Instrument window;
  window.setValue(kDurationRangeIndex, kDurationRangeX1);
  std::vector<float> none;
  first.param(0, idOf(kDurationRangeIndex), kDurationRangeX1);
  for (int i = 0; i < kSoundValueCount; ++i) {
    if (i == kDurationRangeIndex) continue;
    const int32_t v = wobbly[static_cast<size_t>(parameter(i).patchLine - 1)];
    first.param(0, idOf(i), v);
    window.setValue(i, v);
  }
  const PatchValues moved = window.capturePatch();
  first.param(0, idOf(kChannelIndex), 0);
  first.param(0, idOf(kVelocityIndex), 55);
  first.process(0, none);  // a call with no frames takes the changes
  const std::vector<std::pair<int, int32_t>> settings = {{kChannelIndex, 0}, {kVelocityIndex, 55}};
  EXPECT_TRUE(knobsRead(first, moved, settings));
  const std::string state = first.saveState();

  Instance second(module(), rate);
  ASSERT_TRUE(second.loadState(state));
  EXPECT_GE(second.restarts, 1);
  EXPECT_TRUE(knobsRead(second, moved, settings));
  const std::vector<float> reference =
      rendered(dir, midi, rate, dir.file("moved.vx", formatPatch(moved)),
               {"--channel", "all", "--velocity", "55"});
  EXPECT_TRUE(sameBits(play(second, notesOf(midi, rate), reference.size(), kOtherRuns), reference));

  // The program: every knob back to the start-up sound, the settings kept.
  second.restarts = 0;
  v3_cpp_obj(second.controller)->set_parameter_normalised(second.controller, kProgramId, 0);
  EXPECT_GE(second.restarts, 1);
  EXPECT_TRUE(knobsRead(second, capturePatch(startSound()), settings));
}

// A program is a sound: the player's settings, away from their starts,
// stay whichever program is chosen.
TEST(Vst3State, EveryProgramKeepsThePlayersSettings) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 44100);
  std::vector<std::pair<int, int32_t>> settings;
  for (int i = 0; i < kParameterCount; ++i)
    if (parameter(i).owner == Owner::Player) settings.push_back({i, parameter(i).maximum});
  std::vector<float> none;
  for (auto [index, value] : settings) plugin.param(0, idOf(index), value);
  plugin.process(0, none);
  const auto bank = factoryBank();
  for (size_t k = 0; k <= bank.size(); ++k) {
    v3_cpp_obj(plugin.controller)
        ->set_parameter_normalised(plugin.controller, kProgramId,
                                   static_cast<double>(k) / static_cast<double>(bank.size()));
    const Sound sound = k == 0 ? startSound() : bankSound(bank[k - 1]);
    EXPECT_TRUE(knobsRead(plugin, capturePatch(sound), settings)) << "program " << k;
  }
}

}  // namespace
}  // namespace ondelith
