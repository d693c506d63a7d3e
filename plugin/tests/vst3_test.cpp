// The VST3 plugin in a host of our own: notes as VST3 events play sample for
// sample as the renderer; parameter ids stay put; a change inside a block
// acts at its frame; after a state or a program is loaded, every parameter
// the host reads back is the sound's.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "instrument/instrument.h"
#include "instrument/sound_bank.h"
#include "plugin/plugin_core.h"
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

// Of the framework's controller parameters, hosts automate (and save lanes
// for) those the instrument reads on every channel and all of channel 1; the
// rest stay, hidden. The cutoff moves by its logarithm; values carry units.
TEST(Vst3Parameters, HostsSeeWhatThePlayerUses) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 48000);
  v3_edit_controller** c = plugin.controller;
  const std::set<uint32_t> read = {64, 120, 121, 123, 129};
  int automatable = 0;
  for (v3_param_id id = kProgramId + 1; id < kFirstParameterId; ++id) {
    v3_param_info info{};
    ASSERT_EQ(v3_cpp_obj(c)->get_parameter_info(c, static_cast<int32_t>(id), &info), V3_OK);
    const bool shown = (id - 1) / 130 == 0 || read.count((id - 1) % 130) != 0;
    EXPECT_EQ((info.flags & V3_PARAM_CAN_AUTOMATE) != 0, shown) << id;
    EXPECT_EQ((info.flags & V3_PARAM_IS_HIDDEN) != 0, !shown) << id;
    automatable += shown;
  }
  EXPECT_EQ(automatable, 130 + 15 * static_cast<int>(read.size()));

  const Parameter& cutoff = parameter(kCutoffIndex);
  EXPECT_NEAR(v3_cpp_obj(c)->normalised_parameter_to_plain(c, idOf(kCutoffIndex), 0.5),
              std::sqrt(double(cutoff.minimum) * cutoff.maximum), 0.5);
  v3_str_128 text{};
  ASSERT_EQ(v3_cpp_obj(c)->get_parameter_string_for_value(c, idOf(kCutoffIndex), 1.0, text), V3_OK);
  std::string shown;
  for (int k = 0; k < 128 && text[k]; ++k) shown += static_cast<char>(text[k]);
  EXPECT_EQ(shown,
            std::to_string(cutoff.maximum) + " " + std::string(unitInfo(cutoff.unit).symbol));
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

// The host hands notes first, then each parameter's points: a change that
// falls between notes still acts between them.
TEST(Vst3Parameters, AChangeBetweenNotesActsBetweenThem) {
  ASSERT_TRUE(module().ok());
  const auto playWith = [](bool oneBlock) {
    Instance plugin(module(), 48000);
    std::vector<float> out;
    const int32_t cuts[] = {0, 100, 200, 300, 1024};
    const std::vector<std::pair<int32_t, uint32_t>> notes = {{0, test::noteOnWord(57, 100)},
                                                             {100, test::noteOffWord(57)},
                                                             {300, test::noteOnWord(64, 100)}};
    for (size_t k = 0; k + 1 < std::size(cuts); ++k) {
      const int32_t start = oneBlock ? 0 : cuts[k];
      for (auto [frame, word] : notes)
        if (oneBlock ? k == 0 : frame == cuts[k]) plugin.midi(frame - start, word);
      if (oneBlock ? k == 0 : cuts[k] == 200) plugin.param(200 - start, idOf(kCutoffIndex), 300);
      if (!oneBlock) plugin.process(cuts[k + 1] - cuts[k], out);
    }
    if (oneBlock) plugin.process(1024, out);
    return out;
  };
  EXPECT_TRUE(sameBits(playWith(true), playWith(false)));
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

  // Under the host's lock, as Ardour loads a session or a preset: headless,
  // the plugin does not call back into the host from inside the call.
  Instance second(module(), rate);
  bool loaded = false;
  second.underHostLock([&] { loaded = second.loadState(state); });
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(knobsRead(second, moved, settings));
  const std::vector<float> reference =
      rendered(dir, midi, rate, dir.file("moved.vx", formatPatch(moved)),
               {"--channel", "all", "--velocity", "55"});
  EXPECT_TRUE(sameBits(play(second, notesOf(midi, rate), reference.size(), kOtherRuns), reference));

  // The program: every knob back to the start-up sound, the settings kept.
  second.underHostLock([&] {
    v3_cpp_obj(second.controller)->set_parameter_normalised(second.controller, kProgramId, 0);
  });
  EXPECT_EQ(second.deadlocks, 0);
  EXPECT_EQ(second.restarts, 0);
  EXPECT_TRUE(knobsRead(second, capturePatch(startSound()), settings));
}

// A saved value is read whole: past the range it is limited, as "999" is;
// what is no number leaves the state's own value.
TEST(Vst3State, NumbersAreReadWholeLimitedOrRefused) {
  ASSERT_TRUE(module().ok());
  expectStateNumbersRead<Instance>(module(), idOf);
}

// Controllers and bends come as the framework's controller parameters.
TEST(Vst3Events, PastTheLimitEveryNoteEnds) {
  ASSERT_TRUE(module().ok());
  expectFloodsEndTheirNotes<int32_t, Instance>(module());
}

// Reported only when asked for, and from the next activation: hosts read it then.
TEST(Vst3Latency, TheSetUpFadeFromTheNextActivation) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 48000);
  const std::string state = plugin.saveState();
  EXPECT_EQ(plugin.latency(), 0u);
  ASSERT_TRUE(plugin.loadState(withStateText(state, "report-latency", "on")));
  std::vector<float> out;
  plugin.process(64, out);
  EXPECT_EQ(plugin.latency(), 0u);
  plugin.reactivate();
  EXPECT_EQ(plugin.latency(), plugin::setUpLatency(48000, 0));
  // A preset's empty value leaves the choice; "off" turns it off.
  ASSERT_TRUE(plugin.loadState(state));
  plugin.reactivate();
  EXPECT_EQ(plugin.latency(), plugin::setUpLatency(48000, 0));
  ASSERT_TRUE(plugin.loadState(withStateText(state, "report-latency", "off")));
  plugin.reactivate();
  EXPECT_EQ(plugin.latency(), 0u);
}

// The programs as the controller's one program list: by number, each named
// and with its bank category where it has one.
TEST(Vst3Programs, AreAListWithNumbersAndCategories) {
  ASSERT_TRUE(module().ok());
  Instance plugin(module(), 48000);
  v3_unit_information** units = nullptr;
  ASSERT_EQ(v3_cpp_obj_query_interface(plugin.controller, v3_unit_information_iid, &units), V3_OK);
  ASSERT_EQ(v3_cpp_obj(units)->get_program_list_count(units), 1);
  v3_program_list_info list{};
  ASSERT_EQ(v3_cpp_obj(units)->get_program_list_info(units, 0, &list), V3_OK);
  ASSERT_EQ(list.programCount, static_cast<int32_t>(plugin::programs().size()));
  const auto text = [](const int16_t* t) {
    std::string s;
    for (int k = 0; k < 128 && t[k]; ++k) s += static_cast<char>(t[k]);
    return s;
  };
  for (int32_t i = 0; i < list.programCount; ++i) {
    const plugin::Program& p = plugin::programs()[static_cast<size_t>(i)];
    v3_str_128 name{}, category{};
    ASSERT_EQ(v3_cpp_obj(units)->get_program_name(units, list.id, i, name), V3_OK);
    EXPECT_EQ(text(name), p.name);
    const v3_result found =
        v3_cpp_obj(units)->get_program_info(units, list.id, i, "MusicalInstrument", category);
    EXPECT_EQ(found == V3_OK ? text(category) : "", p.category) << p.name;
  }
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
