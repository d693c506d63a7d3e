#include "engine/oversampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/decimator.h"
#include "engine/engine.h"

namespace ondelith {
namespace {

constexpr int kFactors[] = {2, 4, 8};

// The decimator's gain for a sine at `bin` / kBins of the output rate, fed
// at the oversampled rate: every frequency sits on a bin, so the output's
// power over kBins frames measures its amplitude exactly, aliases and all.
constexpr int kBins = 4096;
double gainAt(Decimator& d, int bin) {
  const int n = d.factor();
  d.setFactor(n);
  const int64_t warm = 512, frames = warm + kBins;
  std::vector<float> in(static_cast<size_t>(frames * n)), out(static_cast<size_t>(frames));
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = static_cast<float>(std::sin(2 * std::numbers::pi * bin * static_cast<double>(i) /
                                        (static_cast<double>(kBins) * n)));
  d.process(in.data(), out.data(), frames);
  double power = 0;
  for (int64_t i = warm; i < frames; ++i)
    power += out[static_cast<size_t>(i)] * out[static_cast<size_t>(i)];
  return std::sqrt(2 * power / kBins);
}

TEST(Decimator, FlatThroughThePassBandAndDownFromTheOutputsNyquist) {
  Decimator d;
  for (int n : kFactors) {
    d.setFactor(n);
    double low = 1e9, high = 0;
    const int passEnd = static_cast<int>(kPassEdge * kBins);
    for (int bin = 8; bin <= passEnd; bin += 8) {
      const double g = gainAt(d, bin);
      low = std::min(low, g);
      high = std::max(high, g);
    }
    EXPECT_LT(20 * std::log10(high / low), 0.1) << n << "x";
    EXPECT_NEAR(20 * std::log10(high), 0, 0.1) << n << "x";
    double worst = 0;
    for (int bin = kBins / 2; bin < n * kBins / 2; bin += 5 + bin % 7)
      worst = std::max(worst, gainAt(d, bin));
    EXPECT_LT(20 * std::log10(worst), -90) << n << "x";
  }
}

TEST(Decimator, DelayIsWholeFramesThatGrowWithTheFactor) {
  EXPECT_EQ(Decimator::delayFrames(1), 0);
  for (int n : kFactors) {
    // An impulse at oversampled sample n * 100 peaks at frame 100 + delay.
    Decimator d;
    d.setFactor(n);
    std::vector<float> in(static_cast<size_t>(400 * n)), out(400);
    in[static_cast<size_t>(100 * n)] = 1;
    d.process(in.data(), out.data(), 400);
    const auto peak = std::max_element(out.begin(), out.end()) - out.begin();
    EXPECT_EQ(peak, 100 + Decimator::delayFrames(n)) << n << "x";
    EXPECT_GT(Decimator::delayFrames(n), 0);
  }
}

// A note held on the start-up sound: `frames` frames from the note on,
// the decimator's delay left off the front.
std::vector<float> heldNote(double rate, int factor, int note, int64_t frames,
                            int pitchMode = kPitchPeriods) {
  auto e = std::make_unique<Engine>(*SampleRate::of(rate));
  const int setting = static_cast<int>(std::log2(factor));
  e->post(paramEvent(0, Param::Oversampling, setting));
  e->post(paramEvent(0, Param::PitchMode, pitchMode));
  e->post(paramEvent(0, Param::Decay, 0.001));
  e->post(midiEvent(0, 0x90u | static_cast<uint32_t>(note) << 8 | 100u << 16));
  const int lead = oversamplingDelayFrames(setting);
  std::vector<float> out(static_cast<size_t>(frames + lead));
  e->render(out.data(), static_cast<int64_t>(out.size()));
  out.erase(out.begin(), out.begin() + lead);
  return out;
}

double correlation(const std::vector<float>& a, const std::vector<float>& b, int from, int to,
                   int lag) {
  double ab = 0, aa = 0, bb = 0;
  for (int i = from; i < to; ++i) {
    const double x = a[static_cast<size_t>(i)], y = b[static_cast<size_t>(i + lag)];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return ab / std::sqrt(aa * bb);
}

TEST(Oversampling, TrimmedOutputLinesUpWithTheDefault) {
  for (double rate : {44100.0, 48000.0}) {
    const std::vector<float> plain = heldNote(rate, 1, 36, 8000);
    for (int n : kFactors) {
      const std::vector<float> over = heldNote(rate, n, 36, 8000);
      double best = -1;
      int bestLag = 99;
      for (int lag = -3; lag <= 3; ++lag) {
        const double c = correlation(plain, over, 100, 7000, lag);
        if (c > best) best = c, bestLag = lag;
      }
      EXPECT_EQ(bestLag, 0) << rate << " Hz " << n << "x";
      EXPECT_GT(best, 0.99) << rate << " Hz " << n << "x";
    }
  }
}

// Whole-sample periods count output samples at any factor: the held
// note repeats every period the default plays.
TEST(Oversampling, WholeSamplePeriodsKeepTheDefaultsPitch) {
  struct Case {
    double rate;
    int note;
  };
  for (const Case c : {Case{44100, 93}, Case{48000, 100}, Case{96000, 81}, Case{22050, 105}}) {
    const double hz = 440.0 * std::exp2((c.note - 69) / 12.0);
    const auto period = static_cast<size_t>(std::lround(c.rate / hz));
    for (int n : kFactors) {
      const std::vector<float> out = heldNote(c.rate, n, c.note, 12000);
      double apart = 0, rms = 0;
      for (size_t i = 8000; i < 11000; ++i) {
        rms += out[i] * out[i];
        apart = std::max(apart, static_cast<double>(std::abs(out[i + period] - out[i])));
      }
      rms = std::sqrt(rms / 3000);
      EXPECT_GT(rms, 0.01);
      EXPECT_LT(apart, 1e-4 * rms) << c.rate << " Hz note " << c.note << " " << n << "x";
    }
  }
}

}  // namespace
}  // namespace ondelith
