// The sound model every host shares: a host with no window gets from a
// patch the very voice and values that the program's window gets, and a
// patch file is told from anything else.
#include "instrument/sound.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "app/patch_commands.h"
#include "test_support.h"

namespace ondelith {
namespace {

PatchValues startPatch() {
  auto s = test::makeSynth();
  return capturePatch(*s);
}

// Every curve point and control moved, values within and beyond their ranges.
PatchValues scrambled(unsigned seed) {
  std::mt19937 rng(seed);
  PatchValues v = startPatch();
  const auto any = [&](int lo, int hi) { return lo + static_cast<int32_t>(rng() % (hi - lo + 1)); };
  const int32_t range = any(1, 2);
  const int32_t duration = any(50, 12000);
  const int32_t w = wobbleSamplesFor(range == 1 && duration > 1000 ? 1000 : duration, 44100);
  for (int k = 0; k < 56; ++k) v[static_cast<size_t>(k)] = k % 2 ? any(0, w) : any(0, 100);
  for (int k = 56; k < 68; ++k) v[static_cast<size_t>(k)] = any(-120, 120);
  for (int k = 68; k < 73; ++k) v[static_cast<size_t>(k)] = any(-5, 1600);
  v[73] = duration;
  v[74] = range;
  for (int k = 75; k < 81; ++k) v[static_cast<size_t>(k)] = any(-10, 6000);
  return v;
}

// The program's voice, once its queued events are applied, and the window's
// controls, against a voice given the sound directly.
void expectSameSound(Synth& s, const Sound& sound, Engine& e, const std::string& what) {
  SCOPED_TRACE(what);
  s.engine.render(nullptr, 0);
  for (const ParamInfo& p : kParamTable)
    EXPECT_EQ(e.params.get(p.id), s.engine.params.get(p.id)) << static_cast<int>(p.id);
  EXPECT_EQ(e.wobble.samples, s.engine.wobble.samples);
  EXPECT_EQ(e.curves, s.engine.curves);
  for (const ControlParam& c : kControlParams)
    EXPECT_EQ(sound.values[static_cast<size_t>(c.index)], controlValue(s.controls, c.id)) << c.id;
}

TEST(SharedPatch, AHostWithoutAWindowGetsWhatTheProgramGets) {
  const auto with = [](std::function<void(PatchValues&)> change) {
    PatchValues v = startPatch();
    change(v);
    return v;
  };
  struct Case {
    const char* what;
    PatchValues before, patch;  // the sound before, then the patch opened
  };
  std::vector<Case> cases = {
      {"start-up", startPatch(), startPatch()},
      {"zero-length file", startPatch(), parsePatch("")},
      {"x1 with a Duration beyond its slider: the wobble takes it unlimited", startPatch(),
       with([](PatchValues& v) {
         v[73] = 5000;
         v[74] = 1;
       })},
      {"x1 below its range", startPatch(), with([](PatchValues& v) {
         v[73] = 50;
         v[74] = 1;
       })},
      {"x10 above its range", startPatch(), with([](PatchValues& v) { v[73] = 20000; })},
      {"another range keeps the Duration", with([](PatchValues& v) {
         v[73] = 400;
         v[74] = 1;
       }),
       with([](PatchValues& v) {
         v[73] = 7000;
         v[74] = 3;
       })},
  };
  for (unsigned seed = 1; seed <= 8; ++seed)
    cases.push_back({"scrambled", scrambled(seed + 100), scrambled(seed)});

  for (double hz : {44100.0, 48000.0}) {
    for (const Case& c : cases) {
      const SampleRate rate = *SampleRate::of(hz);
      auto s = test::makeSynth(rate);
      Engine e(rate);
      Sound sound = startSound();
      for (const PatchValues* v : {&c.before, &c.patch}) {
        applyPatch(*s, *v);
        applyPatch(sound, *v);
        applySoundNow(e, sound);
      }
      expectSameSound(*s, sound, e, std::string(c.what) + " at " + std::to_string(hz));
      EXPECT_EQ(capturePatch(sound), capturePatch(*s)) << c.what;
    }
  }
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string repeated(const std::string& line, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += line;
  return out;
}

TEST(PatchText, TellsPatchesFromOtherFiles) {
  const std::string saved = formatPatch(scrambled(7));
  const struct {
    const char* what;
    std::string text;
    bool patch;
  } cases[] = {
      {"as Save writes it", saved, true},
      {"LF endings", replaced(saved, "\r\n", "\n"), true},
      {"CR endings", replaced(saved, "\r\n", "\r"), true},
      {"no end after the last line", saved.substr(0, saved.size() - 2), true},
      {"blank lines after", saved + "\r\n \r\n\n", true},
      {"spaces, tabs and signs", " +5\t\r\n\t-3 \r\n" + repeated("0\r\n", 79), true},
      {"empty", "", false},
      {"80 lines", repeated("1\r\n", 80), false},
      {"82 lines", saved + "7\r\n", false},
      {"text after a number", "12abc\r\n" + repeated("1\r\n", 80), false},
      {"a decimal point", "1.5\r\n" + repeated("1\r\n", 80), false},
      {"an empty line among them", "\r\n" + repeated("1\r\n", 80), false},
      {"a sign alone", "-\r\n" + repeated("1\r\n", 80), false},
      {"a zero byte", repeated("1\r\n", 40) + std::string(1, '\0') + repeated("1\r\n", 41), false},
      {"a MIDI file", std::string("MThd\0\0\0\6\0\0\0\1\1\xE0", 14), false},
      {"beyond 64 kB with blank lines", saved + std::string(kMaxPatchFileBytes, '\n'), false},
  };
  for (const auto& c : cases) EXPECT_EQ(isPatchText(c.text), c.patch) << c.what;
}

}  // namespace
}  // namespace ondelith
