#pragma once
// Brings an oversampled voice back to the output rate: a cascade of
// decimate-by-two linear-phase FIR stages. Every stage but the last is a
// half-band, which only has to keep what would fold onto the audible band
// away from it, so it is short; the last does the real work: flat to
// kPassEdge of the output rate, and at least kStopDecibels down from the
// output's Nyquist frequency on. Coefficients are Kaiser-windowed sincs,
// designed once when the decimator is made; nothing is allocated after.

#include <array>
#include <cstdint>

namespace ondelith {

// The voice runs at 1, 2, 4 or 8 times the output rate.
constexpr int kMaxOversampling = 8;
// The pass band's edge as a fraction of the output rate: 18 kHz at 44.1 kHz.
constexpr double kPassEdge = 18000.0 / 44100.0;
// What the design aims for from the output's Nyquist frequency on; the
// pass band's ripple follows from it (a Kaiser window's ripple is the same
// both sides), far inside 0.1 dB.
constexpr double kStopDecibels = 96.0;

// One stage's taps: lengths fixed so that every factor's whole delay is a
// whole number of output frames (see Decimator::delayFrames).
constexpr int kLastTaps = 139;     // 4k + 3
constexpr int kHalfbandTaps = 27;  // 8k + 3: the stage from 4x to 2x
constexpr int kFirstTaps = 19;     // 16k + 3: the stage from 8x to 4x
constexpr int kTapLanes = 8;       // taps are run through in vectors of this many
constexpr int kPaddedTaps = (kLastTaps + kTapLanes - 1) / kTapLanes * kTapLanes;

// A Kaiser-windowed sinc low-pass of `taps` taps (odd), cutoff at `cutoff`
// of the rate it runs at, the window's shape for `decibels` of stop band;
// its gain at 0 Hz is 1.
void designLowPass(double* h, int taps, double cutoff, double decibels);

// One decimate-by-two stage: two samples in, one out.
class DecimatorStage {
 public:
  // A full low-pass of `taps` taps, or a half-band (cutoff a quarter of
  // the rate it runs at, every other tap 0, only the rest worked).
  void design(int taps, double cutoff, double decibels, bool halfband);
  void reset();
  // `pairs` pairs from `in` to `pairs` samples at `out` (which may be `in`).
  void process(const float* in, float* out, int pairs);
  int taps() const { return taps_; }

 private:
  float full(float a, float b);
  float half(float a, float b);

  int taps_ = 1, worked_ = 1, centre_ = 0;
  bool halfband_ = false;
  float centreTap_ = 0;  // a half-band's
  // The taps worked, newest input first, zero past the end.
  alignas(32) std::array<float, kPaddedTaps> h_{};
  // Inputs twice over, so the newest `worked_` always lie in one row:
  // ring_[at_ .. at_ + worked_) is newest first.
  alignas(32) std::array<float, 2 * kPaddedTaps> ring_{};
  int at_ = 0;
  // A half-band's centre tap reads the other phase's inputs, delayed.
  std::array<float, 2 * kPaddedTaps> other_{};
  int otherAt_ = 0;
};

class Decimator {
 public:
  Decimator();
  // The factor it brings back from (1, 2, 4 or 8), history cleared.
  void setFactor(int factor);
  int factor() const { return factor_; }
  // `frames` * factor samples in, `frames` out. `samples` is overwritten.
  void process(float* samples, float* out, int64_t frames);
  // Frames of output by which the decimated sound lags the voice:
  // oversampled sample factor * n comes out at frame n + delayFrames().
  int delayFrames() const { return delayFrames(factor_); }
  static int delayFrames(int factor);

 private:
  DecimatorStage first_, halfband_, last_;
  std::array<DecimatorStage*, 3> order_{};
  int stageCount_ = 0;
  int factor_ = 1;
};

}  // namespace ondelith
