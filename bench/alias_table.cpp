// alias_table: how far down the folded-back tones lie at each oversampling
// factor. For the start-up points, five bank sounds' points and crossed
// points, notes C5 to C8 at 44100 and 48000 Hz, wobble off, it prints the
// strongest component that is not a harmonic of the note against the
// fundamental, in dB, in Exact pitch mode: at the oscillator's output (the
// voice's own oscillator and the decimator, nothing between) and through
// the whole voice with the filter open (cutoff at its top, no resonance).
// In whole-sample mode every fold lands on a harmonic, so there the table
// gives the largest difference of any harmonic up to the pass edge from a
// band-limited reference of the same waveform, against the fundamental.
//
// Spectra: 65536 frames under a Kaiser window (beta 20, side lobes far
// below anything measured); a harmonic's main lobe is 10 bins either side.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "engine/decimator.h"
#include "engine/engine.h"
#include "engine/oscillator.h"
#include "engine/oversampling.h"
#include "instrument/registry.h"
#include "instrument/sound_bank.h"
#include "tests/fft.h"

namespace ondelith {
namespace {

using Complex = std::complex<double>;
constexpr int kFrames = 1 << 16;
constexpr int kLobe = 10;
constexpr int kSettle = 16384;
constexpr int kFactors[] = {1, 2, 4, 8};
constexpr double kRates[] = {44100, 48000};
constexpr int kNotes[] = {72, 84, 96, 108};

using test::fft;

struct Points {
  std::string name;
  float x1, y1, x2, y2;  // in the unit square
};

std::vector<Points> pointSets() {
  std::vector<Points> sets = {{"start-up", 0.50f, 0.05f, 0.75f, 0.95f}};
  for (int number : {1, 3, 5, 7, 11}) {
    const BankSound* entry = bankSoundNumbered(number);
    const Sound s = bankSound(*entry);
    const auto at = [&](int row) {
      return s.values[static_cast<size_t>(pointIndex(row))] / 100.0f;
    };
    sets.push_back({std::string(entry->name), at(kRowX1), at(kRowY1), at(kRowX2), at(kRowY2)});
  }
  sets.push_back({"crossed", 0.95f, 0.05f, 0.05f, 0.95f});
  return sets;
}

double noteHz(int note) { return 440.0 * std::exp2((note - 69) / 12.0); }

// The oscillator alone at `factor` times the rate, decimated.
// The change of slope at the period's corner, end to start, in raw units
// a period: the curve's tangents at its two ends, at volume 100.
double cornerSlopeChange(const Points& p) {
  const double start = (p.y1 - 0.5) / p.x1, end = (0.5 - p.y2) / (1 - p.x2);
  return start - end;
}

// The oscillator alone at `factor` times the rate, decimated; with
// `blamp`, the period's corner rounded by a two-sample polyBLAMP residual.
std::vector<float> oscillatorOutput(const Points& p, double rate, int factor, int note, int mode,
                                    int frames, bool blamp = false) {
  EngineParams params;
  params.set(Param::PitchMode, mode);
  Oscillator osc(SampleRate::of(rate)->times(factor), params, factor);
  Decimator decimator;
  decimator.setFactor(factor);
  const ControlPoints<float> points{p.x1, p.y1, p.x2, p.y2};
  std::vector<float> over(static_cast<size_t>(frames) * static_cast<size_t>(factor));
  osc.restart();
  const double step = noteHz(note) / (rate * factor);      // of a period, a sample
  const double slopeChange = cornerSlopeChange(p) * step;  // a sample
  float last = 1;
  for (size_t i = 0; i < over.size(); ++i) {
    const float phase = osc.nextPhase(noteHz(note));
    rawSample(phase, points, 100.0f, over[i]);
    if (blamp && phase < last && i > 0) {
      const double d = phase / step;  // samples since the corner
      over[i - 1] += static_cast<float>(slopeChange * d * d * d / 6);
      over[i] += static_cast<float>(slopeChange * (1 - d) * (1 - d) * (1 - d) / 6);
    }
    last = phase;
  }
  std::vector<float> out(static_cast<size_t>(frames));
  decimator.process(over.data(), out.data(), frames);
  return out;
}

// The whole voice, wobble off, the filter open.
std::vector<float> voiceOutput(const Points& p, double rate, int factor, int note, int frames) {
  auto e = std::make_unique<Engine>(*SampleRate::of(rate));
  const float point[] = {p.x1, p.y1, p.x2, p.y2};
  for (int row = 0; row < kWobbleRows; ++row)
    e->apply(paramEvent(0, pointParam(row), std::round(point[row] * 100)));
  e->apply(paramEvent(0, Param::Cutoff, paramInfo(Param::Cutoff).maximum));
  e->apply(paramEvent(0, Param::Resonance, 0));
  e->apply(paramEvent(0, Param::Sustain, 1));
  e->apply(paramEvent(0, Param::PitchMode, kPitchExact));
  e->apply(paramEvent(0, Param::Oversampling, std::log2(factor)));
  e->apply(midiEvent(0, 0x90u | static_cast<uint32_t>(note) << 8 | 127u << 16));
  std::vector<float> out(static_cast<size_t>(frames));
  e->render(out.data(), frames);
  return out;
}

// The strongest non-harmonic component against the fundamental, in dB
// (positive: below it).
double inharmonicDb(const std::vector<float>& signal, double rate, int note) {
  std::vector<Complex> a(kFrames);
  const double beta = 20, norm = std::cyl_bessel_i(0.0, beta);
  for (int i = 0; i < kFrames; ++i) {
    const double r = 2.0 * i / (kFrames - 1) - 1;
    a[static_cast<size_t>(i)] = signal[static_cast<size_t>(kSettle + i)] *
                                std::cyl_bessel_i(0.0, beta * std::sqrt(1 - r * r)) / norm;
  }
  fft(a);
  const double binHz = rate / kFrames, f0 = noteHz(note);
  double fundamental = 0, worst = 0;
  for (int k = kLobe; k < kFrames / 2; ++k) {
    const double hz = k * binHz, harmonic = std::round(hz / f0);
    const double m = std::abs(a[static_cast<size_t>(k)]);
    if (harmonic >= 1 && std::abs(hz - harmonic * f0) <= kLobe * binHz) {
      if (harmonic == 1) fundamental = std::max(fundamental, m);
    } else {
      worst = std::max(worst, m);
    }
  }
  return 20 * std::log10(fundamental / worst);
}

// The waveform's own harmonics, as a band limit keeps them: Fourier
// coefficients from a finely sampled period.
std::vector<Complex> referenceHarmonics(const Points& p, int count) {
  std::vector<Complex> a(1 << 16);
  const ControlPoints<float> points{p.x1, p.y1, p.x2, p.y2};
  for (size_t i = 0; i < a.size(); ++i) {
    float x;
    rawSample(static_cast<float>(static_cast<double>(i) / static_cast<double>(a.size())), points,
              100.0f, x);
    a[i] = x;
  }
  fft(a);
  std::vector<Complex> c(static_cast<size_t>(count) + 1);
  for (int k = 0; k <= count; ++k)
    c[static_cast<size_t>(k)] = a[static_cast<size_t>(k)] / static_cast<double>(a.size());
  return c;
}

// Whole-sample mode: one period of the steady output against the
// reference, harmonics up to the pass edge, the best of every alignment.
double wholeSampleDb(const Points& p, double rate, int factor, int note) {
  const int period = static_cast<int>(std::lround(rate / noteHz(note)));
  const std::vector<float> out =
      oscillatorOutput(p, rate, factor, note, kPitchPeriods, kSettle + period);
  const int top = std::min(static_cast<int>(kPassEdge * period), (period - 1) / 2);
  const std::vector<Complex> ref = referenceHarmonics(p, top);
  std::vector<Complex> y(static_cast<size_t>(top) + 1);
  for (int k = 1; k <= top; ++k) {
    Complex sum = 0;
    for (int j = 0; j < period; ++j)
      sum += static_cast<double>(out[static_cast<size_t>(kSettle + j)]) *
             std::polar(1.0, -2 * std::numbers::pi * k * j / period);
    y[static_cast<size_t>(k)] = sum / static_cast<double>(period);
  }
  double best = 1e9;
  for (int shift = 0; shift < period; ++shift) {
    double worst = 0;
    for (int k = 1; k <= top; ++k) {
      const Complex turned =
          y[static_cast<size_t>(k)] * std::polar(1.0, 2 * std::numbers::pi * k * shift / period);
      worst = std::max(worst, std::abs(turned - ref[static_cast<size_t>(k)]));
    }
    best = std::min(best, worst);
  }
  return 20 * std::log10(std::abs(ref[1]) / best);
}

const char* kNoteNames[] = {"C5", "C6", "C7", "C8"};

template <typename Measure>
void table(const char* title, const std::vector<Points>& sets, Measure measure) {
  std::printf("\n%s\n\n| points | note |", title);
  for (double rate : kRates)
    for (int f : kFactors) std::printf(" %gk %dx |", rate / 1000, f);
  std::printf("\n|---|---|");
  for (size_t i = 0; i < std::size(kRates) * std::size(kFactors); ++i) std::printf("---:|");
  std::printf("\n");
  for (const Points& p : sets)
    for (size_t n = 0; n < std::size(kNotes); ++n) {
      std::printf("| %s | %s |", p.name.c_str(), kNoteNames[n]);
      for (double rate : kRates)
        for (int f : kFactors) std::printf(" %.1f |", measure(p, rate, f, kNotes[n]));
      std::printf("\n");
      std::fflush(stdout);
    }
}

}  // namespace
}  // namespace ondelith

int main() {
  using namespace ondelith;
  const std::vector<Points> sets = pointSets();
  std::printf("Points (x1, y1, x2, y2):");
  for (const Points& p : sets)
    std::printf(" %s (%.2f, %.2f, %.2f, %.2f);", p.name.c_str(), p.x1, p.y1, p.x2, p.y2);
  std::printf("\n");
  table(
      "Exact pitch, the oscillator's output: strongest non-harmonic component, dB below the "
      "fundamental",
      sets, [](const Points& p, double rate, int f, int note) {
        return inharmonicDb(oscillatorOutput(p, rate, f, note, kPitchExact, kSettle + kFrames),
                            rate, note);
      });
  table(
      "Exact pitch, the oscillator's output with a polyBLAMP residual at the period's corner: "
      "strongest non-harmonic component, dB below the fundamental",
      sets, [](const Points& p, double rate, int f, int note) {
        return inharmonicDb(
            oscillatorOutput(p, rate, f, note, kPitchExact, kSettle + kFrames, true), rate, note);
      });
  table(
      "Exact pitch, the whole voice with the filter open: strongest non-harmonic component, dB "
      "below the fundamental",
      sets, [](const Points& p, double rate, int f, int note) {
        return inharmonicDb(voiceOutput(p, rate, f, note, kSettle + kFrames), rate, note);
      });
  table(
      "Whole-sample periods, the oscillator's output: largest harmonic error up to the pass "
      "edge against a band-limited reference, dB below the fundamental",
      sets, [](const Points& p, double rate, int f, int note) {
        return wholeSampleDb(p, rate, f, note);
      });
  return 0;
}
