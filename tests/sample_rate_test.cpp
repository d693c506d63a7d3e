// The voice at other sample rates: the same times and pitches as at 44100 Hz.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/engine.h"
#include "test_support.h"

namespace ondelith {
namespace {

using test::makeSynth;
using test::noteOnWord;

struct Rate {
  double hz;
  // The ladder's digital approximation warps less as the rate rises, so its
  // response drifts a little from the one at 44100 Hz.
  double filterTolerance;
};

class AtRate : public ::testing::TestWithParam<Rate> {
 protected:
  double rate() const { return GetParam().hz; }
  std::unique_ptr<Synth> synth() const { return makeSynth(*SampleRate::of(rate())); }
};

// One frame at a time, with what `watch` reads after each.
template <typename Watch>
std::vector<double> framesWatching(Synth& s, int64_t frames, Watch watch) {
  std::vector<double> seen;
  float out;
  for (int64_t i = 0; i < frames; ++i) {
    s.engine.render(&out, 1);
    seen.push_back(watch(out));
  }
  return seen;
}

TEST_P(AtRate, Note69SoundsAt440Hz) {
  auto s = synth();
  test::play(*s, noteOnWord(69, 100));
  const auto out = framesWatching(*s, static_cast<int64_t>(rate()), [](float v) { return v; });
  // Upward zero crossings over the sustained second half.
  std::vector<size_t> ups;
  for (size_t i = out.size() / 2; i < out.size(); ++i)
    if (out[i - 1] < 0 && out[i] >= 0) ups.push_back(i);
  ASSERT_GT(ups.size(), 100u);
  const double period = static_cast<double>(ups.back() - ups.front()) / (ups.size() - 1);
  EXPECT_NEAR(period, rate() / 440.0, 1.0);
}

TEST_P(AtRate, FadeAndAttackLastTheirTimes) {
  auto s = synth();
  applyControlEvent(*s, kSliderA, 1000);  // 1 s
  test::play(*s, noteOnWord(60, 100));
  const Engine& e = s->engine;
  const auto level = framesWatching(*s, static_cast<int64_t>(1.2 * rate()),
                                    [&e](float) { return e.life.envelopeLevel; });
  // The retrigger fade of 1000 ticks at 44100 Hz, then the attack from 0 to full.
  size_t attackStart = 0, full = 0;
  for (size_t i = 1; i < level.size() && !full; ++i) {
    if (!attackStart && e.life.fadeTicks > 0 && level[i] > 0) attackStart = i - 1;
    if (level[i] >= 1.0) full = i;
  }
  ASSERT_GT(full, 0u);
  EXPECT_NEAR(attackStart / rate(), 1001.0 / 44100.0, 1.0 / rate());
  EXPECT_NEAR((full - attackStart) / rate(), 1.0, 1.0 / rate());
}

TEST_P(AtRate, AWobbleMakesItsRateInRoundTrips) {
  auto s = synth();
  // Note 33 (55 Hz) with Coarse 1: the X1 track wobbles 55 times a second
  // between 50 and 99 (a curve drawn along the top keeps the full depth).
  applyControlEvent(*s, spinModId(kRowX1), 100);
  applyControlEvent(*s, spinCoarseId(kRowX1), 1);
  CurveModel& curve = s->instrument.curve(kRowX1);
  for (int i = 0; i < kCurvePointCount; ++i) moveCurvePoint(curve, i, {curvePoint(curve, i).x, 0});
  s->instrument.curveEdited(kRowX1);
  test::play(*s, noteOnWord(33, 100));
  const Engine& e = s->engine;
  const auto position = framesWatching(*s, static_cast<int64_t>(1.1 * rate()),
                                       [&e](float) { return e.wobble.position[kRowX1]; });
  int tops = 0;
  const size_t from = position.size() - static_cast<size_t>(rate());  // the last second
  for (size_t i = from; i + 1 < position.size(); ++i)
    tops += position[i] == 99 && position[i + 1] < 99;
  EXPECT_NEAR(tops, 55, 1);
  EXPECT_EQ(*std::min_element(position.begin() + from, position.end()), 50.0);
}

// The filter's steady gain for a sine of `hz` at `rate`.
double filterGain(double rate, double hz) {
  LadderFilter filter(*SampleRate::of(rate));
  filter.setCutoff(1500);
  filter.setResonance(50);
  const double amplitude = 0.05;  // small: the clipper stays out of it
  double peak = 0;
  const int n = static_cast<int>(rate);
  for (int i = 0; i < n; ++i) {
    const double y =
        filter.process(static_cast<float>(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    if (i > n / 2) peak = std::max(peak, std::fabs(y));
  }
  return peak / amplitude;
}

TEST_P(AtRate, FilterResponseMatchesThatAt44100) {
  for (double hz : {100.0, 1000.0, 1500.0, 3000.0}) {
    const double here = filterGain(rate(), hz), there = filterGain(44100, hz);
    EXPECT_NEAR(here / there, 1.0, GetParam().filterTolerance)
        << hz << " Hz: " << here << " against " << there;
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, AtRate, ::testing::Values(Rate{48000, 0.03}, Rate{96000, 0.10}),
                         [](const auto& info) {
                           return std::to_string(static_cast<int>(info.param.hz));
                         });

TEST(SampleRate, OnlyRatesFrom22050To192000) {
  for (double hz : {22050.0, 44100.0, 192000.0}) EXPECT_TRUE(SampleRate::of(hz)) << hz;
  for (double hz : {0.0, 8000.0, 22049.0, 192001.0, std::nan("")}) {
    std::string error;
    EXPECT_FALSE(SampleRate::of(hz, &error)) << hz;
    EXPECT_NE(error.find("not supported"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace ondelith
