// Sound that stays sound: patches from outside the window never run away,
// and a note that follows a release within one tick fades from where the
// sound was.
#include <gtest/gtest.h>

#include <cmath>

#include "app/patch_commands.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::makeSynth;

constexpr int kLine = 1;  // PatchValues index of line n is n - kLine

struct Runaway {
  const char* name;
  int curveValue;  // every curve point's height, percent of the editor's
  int mod, volume, resonance;
};

PatchValues runawayPatch(const Runaway& r) {
  auto s = makeSynth();
  PatchValues v = capturePatch(*s);
  // The y lines of every block: its first, every second one, and its last.
  for (int row = 0; row < kWobbleRows; ++row)
    for (int k = 0; k < 14; ++k)
      if (k % 2 == 0 || k == 13) v[row * 14 + k] = r.curveValue;
  for (int row = 0; row < kWobbleRows; ++row) {
    v[57 + 3 * row - kLine] = r.mod;
    v[58 + 3 * row - kLine] = 1 + row;  // Coarse
  }
  v[73 - kLine] = r.volume;
  v[81 - kLine] = r.resonance;
  return v;
}

double largestStep(const std::vector<float>& v, size_t from, size_t to) {
  double step = 0;
  for (size_t i = from + 1; i < to; ++i) step = std::max(step, std::fabs(double(v[i]) - v[i - 1]));
  return step;
}

TEST(SoundSafety, RunawayPatchesStayBoundedAndTheVoiceRecovers) {
  const Runaway cases[] = {
      {"curves at 3000 %, Res 100", 3000, -100, 1500, 100},
      {"curves at 10000 %", 10000, -100, 1500, 50},
      {"curves at 10000 %, half the depth", 10000, -50, 1500, 100},
  };
  // The start-up sound of note 60, 3 s in, as a fresh start plays it.
  DriverSchedule after;
  after.noteOn(44100 * 3, 60);
  const int64_t frames = 44100 * 5;
  auto first = makeSynth();
  const std::vector<float> fresh = test::render(*first, after, frames);
  EXPECT_EQ(first->engine.filter.restarts(), 0u);
  for (const Runaway& r : cases) {
    auto s = makeSynth();
    applyPatch(*s, runawayPatch(r));
    DriverSchedule d;
    d.noteOn(100, 48);
    d.noteOff(44100, 48);
    std::vector<float> out = test::render(*s, d, 44100 * 2);
    for (float v : out)
      ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f) << r.name << ": " << v;
    EXPECT_GT(s->engine.filter.restarts(), 0u) << r.name << ": the patch does run away";
    // Open the start-up patch: once the filter has forgotten the old sound,
    // note 60 plays sample for sample as after a fresh start.
    applyPatch(*s, capturePatch(*makeSynth()));
    out = test::render(*s, after, frames);
    for (float v : out) ASSERT_TRUE(std::isfinite(v)) << r.name;
    const size_t settled = 44100 * 4;
    EXPECT_TRUE(std::equal(out.begin() + settled, out.end(), fresh.begin() + settled)) << r.name;
    EXPECT_GT(largestStep(out, settled, out.size()), 0.001) << r.name;  // it does sound
  }
}

TEST(SoundSafety, ANoteAfterAReleaseFadesFromTheLevelTheSoundWasLeftAt) {
  // The gap between one note's release and the next key, in frames.
  for (int64_t gap : {0, 1, 50}) {
    auto s = makeSynth();
    applyControlEvent(*s, kSliderA, 10);
    applyControlEvent(*s, kSliderS, 50);
    applyControlEvent(*s, kSliderR, 300);
    DriverSchedule d;
    d.noteOn(0, 57);
    d.noteOff(20000, 57);
    d.noteOn(20000 + gap, 64);
    std::vector<double> level;
    std::vector<float> out;
    DriverSchedule none;
    for (int64_t f = 0; f < 23000; ++f) {
      for (const DriverEvent& e : d.events)
        if (e.frame == f) applyDriverEvent(*s, e);
      float v;
      s->engine.render(&v, 1);
      out.push_back(v);
      level.push_back(s->engine.life.envelopeLevel);
    }
    const size_t key = static_cast<size_t>(20000 + gap);
    // The first tick of the new note's fade is the level of the tick before it.
    EXPECT_DOUBLE_EQ(level[key], level[key - 1]) << gap;
    EXPECT_GT(level[key], 0.4) << gap;
    EXPECT_LE(largestStep(out, key - 5, key + 1001), largestStep(out, 15000, 20000)) << gap;
  }
}

}  // namespace
}  // namespace ondelith
