#pragma once
// What the plugin's tests in every format share: a song, a sound far from
// the start-up one, the renderer's samples for them, sample-exact
// comparison and the plugin's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "instrument/patch_format.h"
#include "instrument/registry.h"
#include "tests/test_files.h"
#include "tools/midi_file.h"

namespace ondelith::plugintest {

// A format-0 Standard MIDI File at 960 ticks per second: events as (tick, bytes), in order.
std::string midiFile(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& events);

// Legato, a key pressed during a release, two events on one tick, a note on
// channel 2 that must be ignored.
std::string song();

// A sound far from the start-up one: drawn curves, every row wobbling.
PatchValues wobblyPatch(unsigned seed);

// Runs ondelith-render with these arguments to its end: its exit status, -1
// if it could not start or did not exit.
int runRenderer(const std::vector<std::string>& args);

// What ondelith-render plays for the MIDI file, from the start-up sound or a
// patch file, with half a second of tail and any other options given.
std::vector<float> rendered(const test::TempDir& dir, const std::string& midiPath, int rate,
                            const std::string& patchPath = {},
                            const std::vector<std::string>& options = {});

// The file's note messages at their frames at `rate`.
// Notes played through a plugin in runs of the given sizes, each note at its
// frame within its run. Frame: the plugin's own count type for run offsets.
template <typename Frame, typename Instance>
std::vector<float> playInRuns(Instance& plugin, const std::vector<TimedMidi>& notes, size_t frames,
                              const std::vector<uint32_t>& runs) {
  std::vector<float> out;
  size_t next = 0;
  for (size_t k = 0; out.size() < frames; ++k) {
    const size_t start = out.size();
    const size_t n = std::min<size_t>(runs[k % runs.size()], frames - start);
    for (; next < notes.size() && static_cast<size_t>(notes[next].frame) < start + n; ++next)
      plugin.midi(static_cast<Frame>(notes[next].frame - static_cast<int64_t>(start)),
                  notes[next].word);
    plugin.process(static_cast<Frame>(n), out);
  }
  return out;
}

std::vector<TimedMidi> notesOf(const std::string& midiPath, int rate);

// The patch text inside a CLAP state.
std::string patchIn(const std::string& state);

// A framework state whose saved value of the parameter `symbol` reads
// `text` instead, as a hand-edited or damaged session would carry it.
std::string withParameterText(const std::string& state, std::string_view symbol,
                              std::string_view text);
// The same for one of the plugin's state keys.
std::string withStateText(const std::string& state, std::string_view key, std::string_view text);

// Saved parameter texts a state reader must read whole: the registry position
// and the value each must give, or none where the text is no number and the
// state's patch value stays.
struct StateNumber {
  std::string_view text;
  int index;
  std::optional<int32_t> want;
};
std::vector<StateNumber> stateNumbers();

// Each of them through a host: a fresh instance loads the state with the
// text in place, and the host reads the value back by the row's id.
template <typename Instance, typename Module, typename IdOf>
void expectStateNumbersRead(Module& module, IdOf idOf) {
  Instance first(module, 48000);
  const std::string state = first.saveState();
  for (const StateNumber& c : stateNumbers()) {
    SCOPED_TRACE(std::string(parameter(c.index).symbol) + " = \"" + std::string(c.text) + "\"");
    const std::string edited = withParameterText(state, parameter(c.index).symbol, c.text);
    ASSERT_NE(edited, state);
    Instance second(module, 48000);
    ASSERT_TRUE(second.loadState(edited));
    EXPECT_EQ(second.value(idOf(c.index)), c.want.value_or(parameter(c.index).start));
  }
}

// One run flooded past the plugin's event limit: a note held, ten thousand
// events and then what ends the note. `kept` is the same run without the
// flood. Whatever the plugin gives up, the note ends.
struct Flood {
  std::string_view name;
  std::vector<TimedMidi> flooded;
  std::vector<TimedMidi> kept;
};
std::vector<Flood> floods();
constexpr uint32_t kFloodRun = 8192;

// Played through a host, each flood falls silent by the end as its run
// without the flood does. Frame: the host's own type for run offsets.
template <typename Frame, typename Instance, typename Module>
void expectFloodsEndTheirNotes(Module& module) {
  const size_t frames = 2 * 48000;
  const auto tailPeak = [](const std::vector<float>& out) {
    float peak = 0;
    for (size_t i = out.size() - kFloodRun; i < out.size(); ++i)
      peak = std::max(peak, std::abs(out[i]));
    return peak;
  };
  for (const Flood& f : floods()) {
    SCOPED_TRACE(f.name);
    Instance quiet(module, 48000), flooded(module, 48000);
    const float unflooded = tailPeak(playInRuns<Frame>(quiet, f.kept, frames, {kFloodRun}));
    ASSERT_EQ(unflooded, 0.0f) << "the note still sounds without the flood: play longer";
    EXPECT_EQ(tailPeak(playInRuns<Frame>(flooded, f.flooded, frames, {kFloodRun})), unflooded);
  }
}

// Bit for bit: -0 and 0 differ, as do two NaNs of different payloads.
::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b);

// What the process writes on its standard error while one lives: where the
// plugin logs.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  std::string text();  // so far

 private:
  int saved_ = -1;
  std::string path_;
};

// The run lengths the tests play in: 1 to 8192 frames.
inline const std::vector<uint32_t> kRuns = {1, 64, 257, 4096, 33, 1000, 8192, 2};
inline const std::vector<uint32_t> kOtherRuns = {511, 7, 128, 3000};

}  // namespace ondelith::plugintest
