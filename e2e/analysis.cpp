#include "e2e/analysis.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace ondelith::e2e {

namespace {

struct Range {
  int64_t begin, end;
};

Range clip(const std::vector<float>& x, int64_t begin, int64_t end) {
  const auto size = static_cast<int64_t>(x.size());
  begin = std::clamp<int64_t>(begin, 0, size);
  end = std::clamp<int64_t>(end, begin, size);
  return {begin, end};
}

// Normalised autocorrelation of w at lag L over the overlapping part.
double autocorrelation(const std::vector<double>& w, int64_t lag) {
  double xy = 0, xx = 0, yy = 0;
  const auto n = static_cast<int64_t>(w.size()) - lag;
  for (int64_t i = 0; i < n; ++i) {
    xy += w[i] * w[i + lag];
    xx += w[i] * w[i];
    yy += w[i + lag] * w[i + lag];
  }
  return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
}

// Vertex of the parabola through three equally spaced points, as an offset
// from the middle one.
double parabolicOffset(double left, double middle, double right) {
  const double denominator = left - 2 * middle + right;
  if (denominator >= 0) return 0;
  return std::clamp(0.5 * (left - right) / denominator, -0.5, 0.5);
}

}  // namespace

bool readSound(const std::string& path, Sound& out, std::string& reason) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    reason = sf_strerror(nullptr);
    return false;
  }
  std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
  const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
  sf_close(file);
  if (got != info.frames) {
    reason = "short read";
    return false;
  }
  out.rate = info.samplerate;
  out.samples.resize(static_cast<size_t>(info.frames));
  for (sf_count_t i = 0; i < info.frames; ++i) out.samples[i] = interleaved[i * info.channels];
  return true;
}

int64_t findOnset(const std::vector<float>& x, float threshold, int64_t from) {
  for (auto i = std::max<int64_t>(from, 0); i < static_cast<int64_t>(x.size()); ++i)
    if (std::fabs(x[i]) > threshold) return i;
  return -1;
}

float peakLevel(const std::vector<float>& x, int64_t begin, int64_t end) {
  const Range r = clip(x, begin, end);
  float peak = 0;
  for (int64_t i = r.begin; i < r.end; ++i) peak = std::max(peak, std::fabs(x[i]));
  return peak;
}

double rmsLevel(const std::vector<float>& x, int64_t begin, int64_t end) {
  const Range r = clip(x, begin, end);
  if (r.end == r.begin) return 0;
  double sum = 0;
  for (int64_t i = r.begin; i < r.end; ++i) sum += double{x[i]} * x[i];
  return std::sqrt(sum / static_cast<double>(r.end - r.begin));
}

int64_t longestSilence(const std::vector<float>& x, int64_t begin, int64_t end, float threshold) {
  const Range r = clip(x, begin, end);
  int64_t longest = 0, run = 0;
  for (int64_t i = r.begin; i < r.end; ++i) {
    run = std::fabs(x[i]) <= threshold ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

double measurePeriod(const std::vector<float>& x, int64_t begin, int64_t end, int minPeriod,
                     int maxPeriod) {
  const Range r = clip(x, begin, end);
  const int64_t n = r.end - r.begin;
  if (minPeriod < 2 || maxPeriod < minPeriod || n < 2 * int64_t{maxPeriod}) return 0;

  // Without its mean, so that an offset does not make every lag look alike.
  double mean = 0;
  for (int64_t i = r.begin; i < r.end; ++i) mean += x[i];
  mean /= static_cast<double>(n);
  std::vector<double> w(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) w[i] = x[r.begin + i] - mean;

  std::vector<double> ac(static_cast<size_t>(maxPeriod) + 2);
  double best = 0;
  for (int lag = minPeriod - 1; lag <= maxPeriod + 1; ++lag) {
    ac[lag] = autocorrelation(w, lag);
    if (lag >= minPeriod && lag <= maxPeriod) best = std::max(best, ac[lag]);
  }
  if (best < 0.5) return 0;
  // The first peak close to the best one: the period, not one of its multiples.
  int coarse = 0;
  for (int lag = minPeriod; lag <= maxPeriod && coarse == 0; ++lag)
    if (ac[lag] >= 0.9 * best && ac[lag] >= ac[lag - 1] && ac[lag] >= ac[lag + 1]) coarse = lag;
  if (coarse == 0) return 0;

  // Refine at ever larger multiples: the error of one peak spreads over every
  // period it spans. Each step stays within a quarter period of the true
  // multiple, so it cannot slip to a neighbouring one.
  double period = coarse + parabolicOffset(ac[coarse - 1], ac[coarse], ac[coarse + 1]);
  double error = 0.5;
  const int64_t maxMultiple = std::max<int64_t>(1, (n / 2) / coarse);
  for (int64_t multiple = 1; multiple < maxMultiple;) {
    multiple =
        std::min(maxMultiple, std::max(multiple + 1, static_cast<int64_t>(period / (4 * error))));
    const auto centre = static_cast<int64_t>(std::llround(static_cast<double>(multiple) * period));
    const auto reach = static_cast<int64_t>(std::ceil(static_cast<double>(multiple) * error)) + 1;
    int64_t peakLag = centre;
    double peak = -2;
    for (int64_t lag = std::max<int64_t>(1, centre - reach); lag <= centre + reach && lag < n - 1;
         ++lag) {
      const double value = autocorrelation(w, lag);
      if (value > peak) peak = value, peakLag = lag;
    }
    const double offset =
        parabolicOffset(autocorrelation(w, peakLag - 1), peak, autocorrelation(w, peakLag + 1));
    period = (static_cast<double>(peakLag) + offset) / static_cast<double>(multiple);
    error = 1.0 / static_cast<double>(multiple);
  }
  return period;
}

Alignment bestAlignment(const std::vector<float>& x, const std::vector<float>& reference,
                        int64_t refBegin, int64_t refEnd, int64_t lagLow, int64_t lagHigh) {
  const Range r = clip(reference, refBegin, refEnd);
  const auto size = static_cast<int64_t>(x.size());
  Alignment best{lagLow, -2, 0};
  for (int64_t lag = lagLow; lag <= lagHigh; ++lag) {
    double xy = 0, xx = 0, yy = 0;
    float difference = 0;
    for (int64_t i = r.begin; i < r.end; ++i) {
      const int64_t j = i + lag;
      const double a = j >= 0 && j < size ? x[j] : 0.0;
      const double b = reference[i];
      xy += a * b;
      xx += a * a;
      yy += b * b;
      difference = std::max(difference, static_cast<float>(std::fabs(a - b)));
    }
    const double correlation = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    if (correlation > best.correlation) best = {lag, correlation, difference};
  }
  if (best.correlation < -1) best.correlation = 0;
  return best;
}

double envelopeMismatch(const std::vector<float>& x, const std::vector<float>& reference,
                        int64_t refBegin, int64_t refEnd, int64_t lag, int64_t window) {
  const Range r = clip(reference, refBegin, refEnd);
  if (window <= 0) return 0;
  double loudest = 0, largest = 0;
  for (int64_t from = r.begin; from + window <= r.end; from += window) {
    const double level = rmsLevel(reference, from, from + window);
    // Outside the recording counts as silence, as rmsLevel's clipping would not.
    const double outside = static_cast<double>(
        std::max<int64_t>(0, from + lag + window - static_cast<int64_t>(x.size())));
    const double recorded = rmsLevel(x, from + lag, from + lag + window) *
                            std::sqrt(std::max(0.0, 1 - outside / static_cast<double>(window)));
    loudest = std::max(loudest, level);
    largest = std::max(largest, std::fabs(level - recorded));
  }
  return loudest > 0 ? largest / loudest : 0;
}

std::vector<double> windowLevels(const std::vector<float>& x, int64_t begin, int64_t window,
                                 int count) {
  std::vector<double> levels;
  if (window <= 0) return levels;
  for (int k = 0; k < count; ++k) {
    const int64_t from = begin + k * window;
    if (from < 0 || from + window > static_cast<int64_t>(x.size())) break;
    levels.push_back(rmsLevel(x, from, from + window));
  }
  return levels;
}

ReleaseVerdict judgeRelease(const std::vector<double>& levels, double heldLevel,
                            double riseTolerance, double endFraction) {
  ReleaseVerdict verdict;
  if (levels.size() < 2 || heldLevel <= 0) return verdict;
  verdict.startsNearHeld = levels.front() >= 0.5 * heldLevel;
  verdict.neverRises = true;
  // A rise below a thousandth of the held level is rounding in the silence.
  for (size_t k = 1; k < levels.size(); ++k)
    if (levels[k] > levels[k - 1] * (1 + riseTolerance) + 1e-3 * heldLevel)
      verdict.neverRises = false;
  verdict.fadesOut = levels.back() < endFraction * levels.front();
  return verdict;
}

LevelSteps levelSteps(const std::vector<double>& levels) {
  LevelSteps steps;
  for (size_t k = 1; k < levels.size(); ++k) {
    if (levels[k - 1] <= 0) continue;
    const double change = levels[k] / levels[k - 1] - 1;
    steps.deepestFall = std::max(steps.deepestFall, -change);
    steps.highestRise = std::max(steps.highestRise, change);
  }
  return steps;
}

}  // namespace ondelith::e2e
