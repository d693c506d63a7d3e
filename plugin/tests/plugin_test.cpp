// The LV2 plugin in a host: lilv loads the bundle from the build tree, a
// MIDI file plays into it in runs of many lengths, and what it plays is
// compared sample for sample with ondelith-render; its state travels to a
// new instance, a state the first plugin saved still opens, its presets
// hold their patches' values; bad patch files, state and control values
// leave the sound whole.
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <regex>

#include "instrument/instrument.h"
#include "instrument/playback.h"
#include "instrument/sound.h"
#include "instrument/sound_bank.h"
#include "plugin/plugin_core.h"
#include "plugin/tests/lv2_host.h"
#include "plugin/tests/plugin_test_support.h"

namespace ondelith {
namespace {

using lv2test::Host;
using lv2test::Instance;
using namespace plugintest;
using test::TempDir;

Host& host() {
  static Host h;
  return h;
}

// The file's notes played into the plugin in runs of the given lengths, in
// turn, each note at its offset within its run.
std::vector<float> play(Instance& plugin, const std::string& midiPath, int rate, size_t frames,
                        const std::vector<uint32_t>& runs) {
  const std::vector<TimedMidi> notes = notesOf(midiPath, rate);
  std::vector<float> out;
  size_t next = 0;
  for (size_t k = 0; out.size() < frames; ++k) {
    const size_t start = out.size();
    const auto n = static_cast<uint32_t>(std::min<size_t>(runs[k % runs.size()], frames - start));
    for (; next < notes.size() && static_cast<size_t>(notes[next].frame) < start + n; ++next) {
      const uint32_t w = notes[next].word;
      plugin.midi(
          static_cast<uint32_t>(notes[next].frame - static_cast<int64_t>(start)),
          {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16)});
    }
    plugin.run(n, out);
  }
  return out;
}

// The patch text the plugin saves, through its state interface.
std::string savedPatch(Instance& plugin) {
  std::string text;
  plugin.stateInterface()->save(
      plugin.handle(),
      [](LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t, uint32_t) {
        if (key == host().map("urn:ondelith:lv2#patch"))
          static_cast<std::string*>(h)->assign(static_cast<const char*>(value), size - 1);
        return LV2_STATE_SUCCESS;
      },
      &text, 0, nullptr);
  return text;
}

class PlaysAsTheRenderer : public ::testing::TestWithParam<int> {};

TEST_P(PlaysAsTheRenderer, BitForBitInRunsOfAnyLength) {
  ASSERT_TRUE(host().plugin) << "the bundle is not in " ONDELITH_LV2_BUILD_DIR;
  const int rate = GetParam();
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const std::string patch = dir.file("wobbly.vx", formatPatch(wobblyPatch(3)));
  StderrCapture log;

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
  EXPECT_EQ(log.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Rates, PlaysAsTheRenderer, ::testing::Values(44100, 48000));

// The instance as the shared helpers play it: MIDI as words, a run as a process call.
struct Player : Instance {
  Player(Host& h, double rate) : Instance(h, rate) {}
  void midi(uint32_t frame, uint32_t word) {
    ASSERT_TRUE(Instance::midi(frame, {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                                       static_cast<uint8_t>(word >> 16)}));
  }
  void process(uint32_t frames, std::vector<float>& out) { run(frames, out); }
};

TEST(PluginEvents, PastTheLimitEveryNoteEnds) {
  ASSERT_TRUE(host().plugin);
  expectFloodsEndTheirNotes<uint32_t, Player>(host());
}

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
                               {"duration", 4000.0f},
                               {"velocity", 80.0f}})
    first.set(symbol, value);
  first.run(0, none);
  const std::string state = first.saveState();
  const std::string text = savedPatch(first);
  ASSERT_TRUE(isPatchText(text));
  // A file chosen once is no part of a state: the patch text holds the sound.
  EXPECT_EQ(state.find("patch-file"), std::string::npos);

  const std::vector<float> played = play(first, midi, rate, frames, kRuns);
  first.deactivate();
  first.activate();  // the voice afresh, the sound kept
  EXPECT_TRUE(sameBits(play(first, midi, rate, frames, kOtherRuns), played));

  Instance second(host(), rate);
  ASSERT_TRUE(second.restoreState(state)) << state;
  EXPECT_TRUE(sameBits(play(second, midi, rate, frames, kOtherRuns), played));
  EXPECT_EQ(second.get("cutoff"), 900.0f);
  EXPECT_EQ(savedPatch(second), text);

  Instance fresh(host(), rate);
  EXPECT_FALSE(sameBits(play(fresh, midi, rate, frames, kRuns), played));
}

TEST(PluginState, AStateTheFirstPluginSavedRestoresItsPatchOverItsPortValues) {
  ASSERT_TRUE(host().plugin);
  const std::string state = test::slurp(ONDELITH_PLUGIN_TEST_DATA "/first-plugin-state.ttl");
  const size_t open = state.find("\"\"\"") + 3;
  const std::string patch = state.substr(open, state.find("\"\"\"", open) - open);
  ASSERT_TRUE(isPatchText(patch));
  const PatchValues values = parsePatch(patch);
  ASSERT_NE(values[79], 1500);  // the saved ports say F 1500, the patch does not

  const int rate = 44100;
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  Instance plugin(host(), rate);
  ASSERT_TRUE(plugin.restoreState(state));
  const std::vector<float> reference = rendered(dir, midi, rate, dir.file("saved.vx", patch));
  EXPECT_TRUE(sameBits(play(plugin, midi, rate, reference.size(), kOtherRuns), reference));
  EXPECT_EQ(savedPatch(plugin), patch);

  // A port moved afterwards changes the sound again.
  plugin.set("cutoff", 2200);
  std::vector<float> none;
  plugin.run(1, none);
  EXPECT_EQ(parsePatch(savedPatch(plugin))[79], 2200);
  EXPECT_EQ(parsePatch(savedPatch(plugin))[80], values[80]);
}

// A state that holds only these strings, by key, restored into the plugin.
void restoreStrings(Instance& plugin, const std::map<std::string, std::string>& strings) {
  plugin.stateInterface()->restore(
      plugin.handle(),
      [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
         uint32_t* flags) -> const void* {
        for (const auto& [name, value] : *static_cast<const std::map<std::string, std::string>*>(h))
          if (key == host().map(("urn:ondelith:lv2#" + name).c_str())) {
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            *size = value.size() + 1;
            *type = host().map(LV2_ATOM__String);
            return value.c_str();
          }
        return nullptr;
      },
      const_cast<std::map<std::string, std::string>*>(&strings), 0, nullptr);
}

// The tuning is the player's, kept in the state as the files' texts: a
// session reopens in it, it plays as the renderer plays it, and one that
// does not read leaves the tuning as it was.
TEST(PluginState, TheTuningTravelsAsItsTexts) {
  ASSERT_TRUE(host().plugin);
  const int rate = 48000;
  TempDir dir;
  const std::string midi = dir.file("song.mid", song());
  const std::string scale = "! just.scl\nJust\n7\n9/8\n5/4\n4/3\n3/2\n5/3\n15/8\n2/1\n";
  const std::string map = "12\n0\n127\n60\n69\n432\n7\n0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n";
  const std::vector<float> reference =
      rendered(dir, midi, rate, {},
               {"--scl", dir.file("just.scl", scale), "--kbm", dir.file("white.kbm", map)});
  StderrCapture log;
  Instance first(host(), rate);
  restoreStrings(first, {{"scale", scale}, {"keyboard-map", map}});
  EXPECT_TRUE(sameBits(play(first, midi, rate, reference.size(), kRuns), reference));
  const std::string state = first.saveState();

  Instance second(host(), rate);
  ASSERT_TRUE(second.restoreState(state)) << state;
  restoreStrings(second, {{"scale", "Bad\n1\n0/1\n"}});
  EXPECT_TRUE(sameBits(play(second, midi, rate, reference.size(), kOtherRuns), reference));
  EXPECT_NE(log.text().find("line 3: the ratio 0/1 is zero"), std::string::npos) << log.text();
  Instance fresh(host(), rate);
  EXPECT_FALSE(sameBits(play(fresh, midi, rate, reference.size(), kRuns), reference));
}

TEST(PluginState, AFilePathInAStateIsNotReadAgain) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const std::string text = formatPatch(wobblyPatch(21));
  const std::string path = dir.file("since-changed.vx", formatPatch(wobblyPatch(22)));
  Instance plugin(host(), 44100);
  struct Saved {
    const std::string& text;
    const std::string& path;
  } saved{text, path};
  plugin.stateInterface()->restore(
      plugin.handle(),
      [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
         uint32_t* flags) -> const void* {
        const auto& s = *static_cast<const Saved*>(h);
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        const bool file = key == host().map("urn:ondelith:lv2#patch-file");
        if (!file && key != host().map("urn:ondelith:lv2#patch")) return nullptr;
        const std::string& value = file ? s.path : s.text;
        *size = value.size() + 1;
        *type = host().map(file ? LV2_ATOM__Path : LV2_ATOM__String);
        return value.c_str();
      },
      &saved, 0, nullptr);
  std::vector<float> none;
  plugin.run(0, none);
  EXPECT_EQ(savedPatch(plugin), text);
}

// What a plugin with the known patch plays after `spoil` has done its worst.
struct SpoiledSound {
  std::vector<float> played;
  std::string log;
  std::string saved;
};

SpoiledSound afterKnownPatch(const TempDir& dir, const std::function<void(Instance&)>& spoil) {
  const int rate = 44100;
  Instance plugin(host(), rate);
  plugin.choosePatchFile(dir.file("known.vx", formatPatch(wobblyPatch(5))));
  std::vector<float> none;
  plugin.run(0, none);
  StderrCapture log;
  spoil(plugin);
  plugin.run(0, none);
  const std::string midi = dir.file("song.mid", song());
  return {play(plugin, midi, rate, rate * 2, kRuns), log.text(), savedPatch(plugin)};
}

TEST(BadInput, PatchFilesThatAreNoneKeepTheSoundAndAreLogged) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const SpoiledSound known = afterKnownPatch(dir, [](Instance&) {});
  const std::string fifo = (dir.path / "fifo.vx").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // What every host refuses alike; a short or wordy text reads as Open reads it.
  const std::string cases[] = {
      (dir.path / "missing.vx").string(),
      dir.file("song.vx", song()),
      dir.file("huge.vx", std::string(70 * 1024, '1')),
      dir.path.string(),
      fifo,  // never waited on
  };
  for (const std::string& path : cases) {
    const SpoiledSound s = afterKnownPatch(dir, [&](Instance& p) { p.choosePatchFile(path); });
    EXPECT_TRUE(sameBits(s.played, known.played)) << path;
    EXPECT_EQ(std::count(s.log.begin(), s.log.end(), '\n'), 1) << s.log;
    EXPECT_NE(s.log.find(path), std::string::npos) << s.log;
  }
}

TEST(BadInput, StateOfTheWrongTypeOrSizeIsIgnored) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const SpoiledSound known = afterKnownPatch(dir, [](Instance&) {});
  const std::string longText = known.saved + std::string(70 * 1024, '\n');
  const std::string binary = std::string("MThd\0\0\0\6", 8) + known.saved;
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
      {"binary bytes", LV2_ATOM__String, binary.c_str(), binary.size() + 1},
      {"over 64 kB", LV2_ATOM__String, longText.c_str(), longText.size() + 1},
  };
  for (const Blob& blob : cases) {
    const SpoiledSound s = afterKnownPatch(dir, [&](Instance& p) {
      p.stateInterface()->restore(
          p.handle(),
          [](LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
             uint32_t* flags) -> const void* {
            const auto& b = *static_cast<const Blob*>(h);
            if (key != host().map("urn:ondelith:lv2#patch")) return nullptr;
            *size = b.size;
            *type = host().map(b.type);
            *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
            return b.data;
          },
          const_cast<Blob*>(&blob), 0, nullptr);
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
      {"volume", NAN, NAN},     {"duration_range", 0, 1}, {"duration", -INFINITY, 100},
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

// A unit of our own is rendered as hosts do, from the port's float: every
// value of the row reads as itself and the unit's symbol ("99 /100").
void expectRenderFormats(LilvWorld* world, const LilvNode* unit, const Parameter& p) {
  LilvNode* renderUri = lilv_new_uri(world, "http://lv2plug.in/ns/extensions/units#render");
  LilvNode* symbolUri = lilv_new_uri(world, "http://lv2plug.in/ns/extensions/units#symbol");
  LilvNode* render = lilv_world_get(world, unit, renderUri, nullptr);
  LilvNode* symbol = lilv_world_get(world, unit, symbolUri, nullptr);
  ASSERT_TRUE(render && symbol);
  for (int32_t v = p.minimum; v <= p.maximum; ++v) {
    char text[64];
    std::snprintf(text, sizeof text, lilv_node_as_string(render), static_cast<double>(v));
    ASSERT_EQ(text, std::to_string(v) + " " + lilv_node_as_string(symbol));
  }
  for (LilvNode* n : {renderUri, symbolUri, render, symbol}) lilv_node_free(n);
}

TEST(Bundle, EveryParameterIsAPortAsTheRegistrySays) {
  ASSERT_TRUE(host().plugin);
  const LilvPlugin* plugin = host().plugin;
  LilvWorld* world = host().world;
  EXPECT_TRUE(lilv_plugin_verify(plugin));
  const auto uri = [&](const char* u) { return lilv_new_uri(world, u); };
  LilvNode* integer = uri(LV2_CORE__integer);
  LilvNode* enumeration = uri(LV2_CORE__enumeration);
  LilvNode* logarithmic = uri("http://lv2plug.in/ns/ext/port-props#logarithmic");
  LilvNode* group = uri("http://lv2plug.in/ns/ext/port-groups#group");
  LilvNode* unit = uri("http://lv2plug.in/ns/extensions/units#unit");
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    LilvNode* symbol = lilv_new_string(world, std::string(p.symbol).c_str());
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
    lilv_node_free(symbol);
    ASSERT_TRUE(port);
    LilvNode* name = lilv_port_get_name(plugin, port);
    EXPECT_EQ(lilv_node_as_string(name), p.name);
    lilv_node_free(name);
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range(plugin, port, &def, &min, &max);
    EXPECT_EQ(lilv_node_as_float(def), p.start);
    EXPECT_EQ(lilv_node_as_float(min), p.minimum);
    EXPECT_EQ(lilv_node_as_float(max), p.maximum);
    for (LilvNode* n : {def, min, max}) lilv_node_free(n);
    EXPECT_TRUE(lilv_port_has_property(plugin, port, integer));
    EXPECT_EQ(lilv_port_has_property(plugin, port, enumeration),
              p.text == TextRule::Choice || p.text == TextRule::Channel);
    EXPECT_EQ(lilv_port_has_property(plugin, port, logarithmic), i == kCutoffIndex);
    LilvNodes* groups = lilv_port_get_value(plugin, port, group);
    EXPECT_EQ(lilv_nodes_size(groups), 1u);
    lilv_nodes_free(groups);
    LilvNodes* units = lilv_port_get_value(plugin, port, unit);
    EXPECT_EQ(lilv_nodes_size(units), p.unit == Unit::Choice || p.unit == Unit::Channel ? 0u : 1u);
    // A standard unit (ms, Hz, %) hosts know by name; only our own carry a render.
    if (lilv_nodes_size(units) == 1 && lilv_node_is_blank(lilv_nodes_get_first(units)))
      expectRenderFormats(world, lilv_nodes_get_first(units), p);
    lilv_nodes_free(units);
  }
  for (LilvNode* n : {integer, enumeration, logarithmic, group, unit}) lilv_node_free(n);

  // Who made it, under which licence, in which version.
  const std::string ttl = test::slurp(ONDELITH_LV2_BUILD_DIR "/ondelith.lv2/ondelith.ttl");
  EXPECT_NE(ttl.find("GPL-3.0-or-later"), std::string::npos);
  EXPECT_NE(ttl.find("The Ondelith developers"), std::string::npos);
  EXPECT_NE(ttl.find("lv2:InstrumentPlugin"), std::string::npos);
  EXPECT_NE(ttl.find("rdfs:comment"), std::string::npos);
  EXPECT_NE(ttl.find("patch:writable <urn:ondelith:lv2#patch-file>"), std::string::npos);
  // A release is even to LV2, and above 1.5.0's minor version 7 so hosts take it as newer.
  std::smatch minor;
  ASSERT_TRUE(std::regex_search(ttl, minor, std::regex("lv2:minorVersion ([0-9]+)")));
  EXPECT_EQ(std::stoi(minor[1]) % 2, 0);
  EXPECT_GT(std::stoi(minor[1]), 7);
}

TEST(Bundle, EachPresetsPortValuesAreItsPatchs) {
  ASSERT_TRUE(host().plugin);
  LilvNode* presetClass = lilv_new_uri(host().world, "http://lv2plug.in/ns/ext/presets#Preset");
  LilvNodes* presets = lilv_plugin_get_related(host().plugin, presetClass);
  EXPECT_GE(lilv_nodes_size(presets), 1u);
  LILV_FOREACH(nodes, it, presets) {
    const LilvNode* preset = lilv_nodes_get(presets, it);
    SCOPED_TRACE(lilv_node_as_uri(preset));
    lilv_world_load_resource(host().world, preset);
    LilvState* state = lilv_state_new_from_world(host().world, &host().mapFeature, preset);
    ASSERT_TRUE(state);
    std::map<std::string, float> ports;
    lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
          float& to = (*static_cast<std::map<std::string, float>*>(user))[symbol];
          if (type == host().map(LV2_ATOM__Int) && size == sizeof(int32_t))
            to = static_cast<float>(*static_cast<const int32_t*>(value));
          else if (type == host().map(LV2_ATOM__Float) && size == sizeof(float))
            std::memcpy(&to, value, size);
        },
        &ports);
    Instance plugin(host(), 44100);
    // The player's settings away from their starts: a preset leaves them.
    for (int i = 0; i < kParameterCount; ++i)
      if (parameter(i).owner == Owner::Player)
        plugin.set(std::string(parameter(i).symbol), static_cast<float>(parameter(i).maximum));
    char* text = lilv_state_to_string(host().world, &host().mapFeature, &host().unmapFeature, state,
                                      "urn:ondelith:test-preset", nullptr);
    ASSERT_TRUE(plugin.restoreState(text));
    lilv_free(text);
    lilv_state_free(state);
    const PatchValues patch = parsePatch(savedPatch(plugin));
    for (int i = 0; i < kSoundValueCount; ++i) {
      const std::string symbol(parameter(i).symbol);
      ASSERT_EQ(ports.count(symbol), 1u) << symbol;
      EXPECT_EQ(ports[symbol], patch[static_cast<size_t>(parameter(i).patchLine - 1)]) << symbol;
    }
    for (int i = 0; i < kParameterCount; ++i) {
      const std::string symbol(parameter(i).symbol);
      const bool player = parameter(i).owner == Owner::Player;
      EXPECT_EQ(ports.count(symbol), player ? 0u : 1u) << symbol;
      if (player) {
        EXPECT_EQ(plugin.get(symbol), parameter(i).maximum) << symbol;
      }
    }
  }
  lilv_nodes_free(presets);
  lilv_node_free(presetClass);
}

// The latency port comes after every parameter's; it reports the set-up fade
// once the player asks for it, in a saved state as in a session.
TEST(PluginLatency, ThePortReportsTheSetUpFadeWhenAskedFor) {
  ASSERT_TRUE(host().plugin);
  Instance plugin(host(), 48000);
  std::vector<float> out;
  plugin.run(64, out);
  EXPECT_EQ(plugin.get("lv2_latency"), 0.0f);
  std::string state = plugin.saveState();
  const std::string off = "lv2#report-latency> \"\"";
  const size_t at = state.find(off);
  ASSERT_NE(at, std::string::npos) << state;
  state.replace(at, off.size(), "lv2#report-latency> \"on\"");
  ASSERT_TRUE(plugin.restoreState(state));
  plugin.run(64, out);
  EXPECT_EQ(plugin.get("lv2_latency"), static_cast<float>(plugin::setUpLatency(48000, 0)));
}

// A host bouncing a region from another start gives the plugin another
// stretch of silence first: at wobble_phase repeatable the region's samples
// are the same; free, the note's start hangs on it (the differences printed).
TEST(Bounce, ARegionStartedAnywhereIsTheSameWhenRepeatable) {
  ASSERT_TRUE(host().plugin);
  TempDir dir;
  const std::string nils = dir.file("nils.vx", std::string(findBankSound("Falling Sweep")->patch));
  const auto region = [&](int64_t silence, int phase) {
    Instance plugin(host(), 44100);
    plugin.choosePatchFile(nils);
    std::vector<float> out;
    plugin.run(0, out);
    plugin.set("wobble_phase", static_cast<float>(phase));
    for (int64_t done = 0; done < silence; done += 256)
      plugin.run(static_cast<uint32_t>(std::min<int64_t>(256, silence - done)), out);
    out.clear();
    plugin.midi(0, {0x90, 60, 100});
    for (int k = 0; k < 2 * 44100 / 256; ++k) {
      if (k == 44100 / 256) plugin.midi(0, {0x80, 60, 0});
      plugin.run(256, out);
    }
    return out;
  };
  float freePeak = 0;
  const std::vector<float> first[2] = {region(0, 0), region(0, 1)};
  for (const int64_t silence : {1000, 44100, 100000, 200000}) {
    const std::vector<float> free = region(silence, 0);
    float peak = 0;
    for (size_t i = 0; i < free.size(); ++i)
      peak = std::max(peak, std::fabs(free[i] - first[0][i]));
    std::printf("free: the region after %lld frames against it at 0: peak difference %.4f\n",
                static_cast<long long>(silence), peak);
    freePeak = std::max(freePeak, peak);
    EXPECT_TRUE(sameBits(region(silence, 1), first[1])) << silence;
  }
  EXPECT_GT(freePeak, 0.1f);
}

// Hosts list presets by label, so a label starts with the bank's number;
// each bank sound's preset is in its category's bank.
TEST(Bundle, PresetsSortInTheBanksOrderAndSitInItsCategories) {
  ASSERT_TRUE(host().plugin);
  LilvWorld* world = host().world;
  LilvNode* presetClass = lilv_new_uri(world, "http://lv2plug.in/ns/ext/presets#Preset");
  LilvNode* bankUri = lilv_new_uri(world, "http://lv2plug.in/ns/ext/presets#bank");
  LilvNode* labelUri = lilv_new_uri(world, LILV_NS_RDFS "label");
  LilvNodes* presets = lilv_plugin_get_related(host().plugin, presetClass);
  std::map<std::string, std::string> bankOfLabel;  // sorted by label, as a host sorts
  LILV_FOREACH(nodes, it, presets) {
    const LilvNode* preset = lilv_nodes_get(presets, it);
    LilvNode* label = lilv_world_get(world, preset, labelUri, nullptr);
    LilvNode* bank = lilv_world_get(world, preset, bankUri, nullptr);
    LilvNode* bankLabel = bank ? lilv_world_get(world, bank, labelUri, nullptr) : nullptr;
    ASSERT_TRUE(label);
    bankOfLabel[lilv_node_as_string(label)] = bankLabel ? lilv_node_as_string(bankLabel) : "";
    for (LilvNode* n : {label, bank, bankLabel}) lilv_node_free(n);
  }
  ASSERT_EQ(bankOfLabel.size(), factoryBank().size() + 1);
  auto at = bankOfLabel.begin();
  EXPECT_EQ(at->first, "000 Init");
  EXPECT_EQ(at->second, "");
  for (const BankSound& entry : factoryBank()) {
    ++at;
    char number[8];
    std::snprintf(number, sizeof number, "%03d ", entry.number);
    EXPECT_EQ(at->first, number + std::string(entry.name));
    EXPECT_EQ(at->second, categoryTitle(entry.category)) << entry.name;
  }
  lilv_nodes_free(presets);
  for (LilvNode* n : {presetClass, bankUri, labelUri}) lilv_node_free(n);
}

}  // namespace
}  // namespace ondelith
