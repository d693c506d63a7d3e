#include "e2e/analysis.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <numbers>

namespace ondelith::e2e {
namespace {

constexpr double kRate = 44100;

std::vector<float> tone(double hz, int64_t frames, double gain = 0.5, double second = 0,
                        double offset = 0) {
  std::vector<float> x(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i) {
    const double t = 2 * std::numbers::pi * hz * static_cast<double>(i) / kRate;
    x[i] = static_cast<float>(offset + gain * (std::sin(t) + second * std::sin(2 * t + 0.3)));
  }
  return x;
}

TEST(MeasurePeriod, TellsTheNotesPeriodFromItsNeighbours) {
  // 441 Hz is a whole 100-sample period; 440 Hz, a tone that is not
  // quantised, lies only a quarter of a sample away.
  EXPECT_NEAR(measurePeriod(tone(441, 30000), 0, 30000, 11, 1100), 100.0, 0.002);
  EXPECT_NEAR(measurePeriod(tone(440, 30000), 0, 30000, 11, 1100), kRate / 440, 0.002);
  EXPECT_NEAR(kRate / measurePeriod(tone(261.626, 30000), 0, 30000, 11, 1100), 261.626, 0.01);
}

TEST(MeasurePeriod, IsNotFooledByHarmonicsOffsetsOrAPartialRange) {
  // A strong second harmonic gives a peak at half the period; an offset
  // would make every lag correlate.
  auto x = tone(441, 40000, 0.3, 0.9, 0.4);
  EXPECT_NEAR(measurePeriod(x, 0, 40000, 11, 1100), 100.0, 0.002);
  // Only the range counts: a different tone before it is ignored.
  auto joined = tone(300, 20000);
  joined.insert(joined.end(), x.begin(), x.end());
  EXPECT_NEAR(measurePeriod(joined, 20000, 60000, 11, 1100), 100.0, 0.002);
}

TEST(MeasurePeriod, FindsNothingWhereNothingRepeats) {
  std::vector<float> silence(20000, 0.0f);
  EXPECT_EQ(measurePeriod(silence, 0, 20000, 11, 1100), 0);
  std::vector<float> noise(20000);
  uint32_t state = 12345;
  for (auto& v : noise)
    v = static_cast<float>((state = state * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
  EXPECT_EQ(measurePeriod(noise, 0, 20000, 11, 1100), 0);
  // Too short to hold two of the longest periods asked for.
  EXPECT_EQ(measurePeriod(tone(441, 30000), 0, 2000, 11, 1100), 0);
}

TEST(Onset, IsTheFirstSampleAboveTheThresholdFromTheStartGiven) {
  std::vector<float> x(100, 0.0f);
  x[10] = 1e-5f;
  x[40] = -0.01f;
  x[70] = 0.5f;
  EXPECT_EQ(findOnset(x, 1e-4f), 40);
  EXPECT_EQ(findOnset(x, 1e-6f), 10);
  EXPECT_EQ(findOnset(x, 1e-4f, 41), 70);
  EXPECT_EQ(findOnset(x, 0.9f), -1);
  EXPECT_FLOAT_EQ(peakLevel(x, 0, 70), 0.01f);
  EXPECT_FLOAT_EQ(peakLevel(x, -50, 500), 0.5f);
  EXPECT_EQ(rmsLevel(x, 80, 80), 0);
}

TEST(LongestSilence, MeasuresADropoutButNotAZeroCrossing) {
  auto x = tone(441, 10000);
  EXPECT_LE(longestSilence(x, 0, 10000, 1e-4f), 1);
  std::fill(x.begin() + 3000, x.begin() + 3441, 0.0f);
  EXPECT_EQ(longestSilence(x, 0, 10000, 1e-4f), 441);
  EXPECT_EQ(longestSilence(x, 3100, 3200, 1e-4f), 100);  // only within the range
  EXPECT_EQ(longestSilence(x, 5000, 100000, 1e-4f), longestSilence(x, 5000, 10000, 1e-4f));
}

TEST(Alignment, FindsTheLagAndMeasuresTheMatch) {
  auto ref = tone(441, 5000, 0.5, 0.4);
  for (int i = 0; i < 1000; ++i) ref[i] = 0;  // silence before the note, as rendered
  std::vector<float> rec(20000, 0.0f);
  std::copy(ref.begin(), ref.end(), rec.begin() + 7037);

  Alignment a = bestAlignment(rec, ref, 0, 5000, 7037 - 300, 7037 + 300);
  EXPECT_EQ(a.lag, 7037);
  EXPECT_NEAR(a.correlation, 1.0, 1e-9);
  EXPECT_EQ(a.largestDifference, 0);

  // Quieter is still the same shape; a periodic sound matches itself one
  // period off only where the note's start does not line up.
  for (auto& v : rec) v *= 0.5f;
  a = bestAlignment(rec, ref, 0, 5000, 7037 - 300, 7037 + 300);
  EXPECT_EQ(a.lag, 7037);
  EXPECT_NEAR(a.correlation, 1.0, 1e-9);
  EXPECT_NEAR(a.largestDifference, 0.35f, 0.05f);
}

TEST(Alignment, PunishesWhatIsMissingOrInverted) {
  const auto ref = tone(441, 8000);
  std::vector<float> rec(ref.begin(), ref.begin() + 4000);  // recording ends half-way
  Alignment a = bestAlignment(rec, ref, 0, 8000, 0, 0);
  EXPECT_NEAR(a.correlation, std::sqrt(0.5), 0.01);

  std::vector<float> inverted(ref.size());
  for (size_t i = 0; i < ref.size(); ++i) inverted[i] = -ref[i];
  a = bestAlignment(inverted, ref, 0, 8000, 0, 0);
  EXPECT_LT(a.correlation, -0.99);

  std::vector<float> silence(8000, 0.0f);
  EXPECT_EQ(bestAlignment(silence, ref, 0, 8000, -10, 10).correlation, 0);
}

TEST(EnvelopeMismatch, SeesLevelsAndTimingThatCorrelationForgives) {
  // A note that falls linearly from frame 10000 to silence at 30000.
  const auto note = [](int64_t releaseAt, float gain) {
    auto x = tone(441, 40000, gain);
    for (int64_t i = releaseAt; i < 40000; ++i)
      x[i] *= static_cast<float>(std::max(0.0, 1 - static_cast<double>(i - releaseAt) / 20000));
    return x;
  };
  const auto ref = note(10000, 0.5f);
  EXPECT_EQ(envelopeMismatch(ref, ref, 0, 40000, 0, 882), 0);

  std::vector<float> rec(500, 0.0f);
  const auto quieter = note(10000, 0.45f);
  rec.insert(rec.end(), quieter.begin(), quieter.end());
  EXPECT_NEAR(envelopeMismatch(rec, ref, 0, 40000, 500, 882), 0.1, 0.005);

  // A release 2000 frames late (a tenth of its length) correlates at 0.99.
  const auto late = note(12000, 0.5f);
  EXPECT_GT(bestAlignment(late, ref, 0, 40000, 0, 0).correlation, 0.99);
  EXPECT_NEAR(envelopeMismatch(late, ref, 0, 40000, 0, 882), 0.1, 0.02);

  // Where the recording has ended, the reference is compared with silence.
  const std::vector<float> cut(ref.begin(), ref.begin() + 5000);
  EXPECT_NEAR(envelopeMismatch(cut, ref, 0, 40000, 0, 882), 1.0, 0.002);
}

// A 441 Hz note held at `held`, then a release shaped by `level(k)` for
// window k of 2205 samples.
template <typename Level>
std::vector<double> releaseLevels(Level level) {
  auto x = tone(441, 2205 * 30, 1.0);
  for (size_t i = 0; i < x.size(); ++i)
    x[i] *= static_cast<float>(level(static_cast<double>(i) / 2205));
  return windowLevels(x, 0, 2205, 40);
}

TEST(Release, AcceptsALinearFallAndRejectsCutsRisesAndHolds) {
  const double held = 0.5 / std::sqrt(2.0);
  const auto linear = releaseLevels([](double w) { return std::max(0.0, 0.5 * (1 - w / 20)); });
  EXPECT_EQ(linear.size(), 30u);  // only whole windows within the signal
  EXPECT_TRUE(judgeRelease(linear, held).ok());

  const auto cut = releaseLevels([](double) { return 0.0; });
  EXPECT_FALSE(judgeRelease(cut, held).startsNearHeld);

  const auto retriggered =
      releaseLevels([](double w) { return w < 10 ? 0.5 * (1 - w / 20) : 0.5; });
  const ReleaseVerdict v = judgeRelease(retriggered, held);
  EXPECT_TRUE(v.startsNearHeld);
  EXPECT_FALSE(v.neverRises);
  EXPECT_FALSE(v.fadesOut);

  const auto sustained = releaseLevels([](double) { return 0.5; });
  EXPECT_FALSE(judgeRelease(sustained, held).fadesOut);
  EXPECT_FALSE(judgeRelease({}, held).ok());
}

TEST(LevelSteps, ADecayingNoteIsSteadyARetriggeredOneDips) {
  // 441 Hz, 100-sample periods, measured over windows of four of them.
  std::vector<float> held = tone(441, 88200);
  std::vector<float> stutter = held;
  for (int64_t i = 0; i < 88200; ++i) {
    const double decay = 1 - 0.5 * static_cast<double>(std::min<int64_t>(i, 44100)) / 44100;
    held[i] *= static_cast<float>(decay);
    // From 0.66 s, every 40 ms a fade out and a new attack, 25 ms long.
    const int64_t inRepeat = (i - 29106) % 1764;
    const double dip = i >= 29106 && inRepeat < 1102 ? std::fabs(inRepeat - 551) / 551.0 : 1;
    stutter[i] = static_cast<float>(held[i] * std::max(dip, 0.3));
  }
  const LevelSteps steady = levelSteps(windowLevels(held, 2000, 400, 200));
  EXPECT_LT(steady.deepestFall, 0.01);
  EXPECT_LT(steady.highestRise, 1e-3);
  const LevelSteps dips = levelSteps(windowLevels(stutter, 2000, 400, 200));
  EXPECT_GT(dips.deepestFall, 0.3);
  EXPECT_GT(dips.highestRise, 0.3);
  EXPECT_EQ(levelSteps({}).deepestFall, 0);
  EXPECT_EQ(levelSteps({0, 0, 1}).highestRise, 0);  // out of silence: no step to measure
}

TEST(ReadSound, TakesTheFirstChannelAndTheRate) {
  char path[] = "/tmp/e2e_analysis_testXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path, SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  const float frames[] = {0.25f, -1, 0.5f, -1, -0.75f, -1};
  ASSERT_EQ(sf_writef_float(f, frames, 3), 3);
  sf_close(f);

  Sound s;
  std::string reason;
  ASSERT_TRUE(readSound(path, s, reason)) << reason;
  EXPECT_EQ(s.rate, 48000);
  EXPECT_EQ(s.samples, (std::vector<float>{0.25f, 0.5f, -0.75f}));
  std::remove(path);
  EXPECT_FALSE(readSound(path, s, reason));
  EXPECT_FALSE(reason.empty());
}

}  // namespace
}  // namespace ondelith::e2e
