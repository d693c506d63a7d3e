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
constexpr int kTapLanes = 8;       // outputs worked side by side
// The most taps a stage's phase has: every other of the last stage's.
constexpr int kPhaseTaps = (kLastTaps + 1) / 2;

// A Kaiser-windowed sinc low-pass of `taps` taps (odd), cutoff at `cutoff`
// of the rate it runs at, the window's shape for `decibels` of stop band;
// its gain at 0 Hz is 1.
void designLowPass(double* h, int taps, double cutoff, double decibels);

// One decimate-by-two stage: two samples in, one out. Worked as two
// phases: output i is the newer samples of the pairs up to i through the
// even-delay taps plus the older ones through the odd-delay taps, of which
// a half-band has only its centre.
class DecimatorStage {
 public:
  // A full low-pass of `taps` taps, or a half-band (cutoff a quarter of
  // the rate it runs at, every other tap 0 but the centre's).
  void design(int taps, double cutoff, double decibels, bool halfband);
  void reset();
  // `pairs` pairs from `in` to `pairs` samples at `out` (which may be `in`).
  void process(const float* in, float* out, int pairs);

 private:
  static constexpr int kBlockPairs = 512;
  // Inputs are copied in a block at a time and the taps read them from
  // there, so the vector reads never wait on stores just made.
  void block(const float* in, float* out, int pairs);

  struct Phase {
    std::array<float, kPhaseTaps> taps{};  // tap j: the sample j pairs back
    int first = 0, count = 0;              // the taps that are not 0
    // The inputs, oldest first: kPhaseTaps - 1 kept, then the block's.
    std::array<float, kPhaseTaps - 1 + kBlockPairs> x{};
  };
  Phase newer_, older_;
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
