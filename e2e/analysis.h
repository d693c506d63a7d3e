#pragma once
// Measurements of a recorded note: onset, pitch, levels and the best match
// against a reference rendering. Pure functions over sample vectors, so the
// checks of the end-to-end run can be tested on signals of known shape.

#include <cstdint>
#include <string>
#include <vector>

namespace ondelith::e2e {

struct Sound {
  std::vector<float> samples;  // mono; the first channel of a multi-channel file
  int rate = 0;
};

// False with a one-line reason when the file cannot be read as audio.
bool readSound(const std::string& path, Sound& out, std::string& reason);

// The first index in [from, size) whose magnitude exceeds `threshold`; -1 if none.
int64_t findOnset(const std::vector<float>& x, float threshold, int64_t from = 0);

// Largest magnitude and root mean square over [begin, end), clipped to the
// signal; 0 for an empty range.
float peakLevel(const std::vector<float>& x, int64_t begin, int64_t end);
double rmsLevel(const std::vector<float>& x, int64_t begin, int64_t end);

// The longest run of consecutive samples in [begin, end) whose magnitude is
// at most `threshold`: a dropout, where a sounding note should have none.
int64_t longestSilence(const std::vector<float>& x, int64_t begin, int64_t end, float threshold);

// The period in samples of the periodic sound in [begin, end), between
// minPeriod and maxPeriod, to a fraction of a sample: the first strong
// autocorrelation peak, refined at the furthest multiple of it that the range
// holds. 0 when nothing in the range repeats.
double measurePeriod(const std::vector<float>& x, int64_t begin, int64_t end, int minPeriod,
                     int maxPeriod);

struct Alignment {
  int64_t lag = 0;              // reference[i] lines up with x[i + lag]
  double correlation = 0;       // normalised, -1..1; 0 when either side is silent
  float largestDifference = 0;  // max |x[i + lag] - reference[i]| over the compared range
};

// The lag in [lagLow, lagHigh] with the highest normalised correlation
// between reference[refBegin, refEnd) and the lagged recording. Reference
// samples whose partner lies outside the recording count as against silence.
Alignment bestAlignment(const std::vector<float>& x, const std::vector<float>& reference,
                        int64_t refBegin, int64_t refEnd, int64_t lagLow, int64_t lagHigh);

// The largest difference between the RMS levels of x (lagged) and reference
// over consecutive windows of reference[refBegin, refEnd), relative to the
// reference's loudest window: where the two envelopes part, whatever the
// waveform. 0 when the reference is silent.
double envelopeMismatch(const std::vector<float>& x, const std::vector<float>& reference,
                        int64_t refBegin, int64_t refEnd, int64_t lag, int64_t window);

// RMS levels of `count` consecutive windows of `window` samples from `begin`
// (fewer when the signal ends first).
std::vector<double> windowLevels(const std::vector<float>& x, int64_t begin, int64_t window,
                                 int count);

// A release as a desktop synthesizer plays it: it starts near the held level
// (no cut), never rises by more than `riseTolerance` (relative) from one
// window to the next, and ends below `endFraction` of where it started.
struct ReleaseVerdict {
  bool startsNearHeld = false;
  bool neverRises = false;
  bool fadesOut = false;
  bool ok() const { return startsNearHeld && neverRises && fadesOut; }
};
ReleaseVerdict judgeRelease(const std::vector<double>& levels, double heldLevel,
                            double riseTolerance = 0.02, double endFraction = 0.05);

// How a held note's level moves from one window to the next, each step
// relative to the earlier window: held, it only falls slowly (the decay) or
// stays (the sustain); retriggered, it dips and comes back.
struct LevelSteps {
  double deepestFall = 0;  // 0.7: some window lies 70 % below the one before it
  double highestRise = 0;
};
LevelSteps levelSteps(const std::vector<double>& levels);

}  // namespace ondelith::e2e
