// e2e_analyse: checks a note recorded from the live synthesizer against the
// same notes rendered offline. Prints one figure per line; exits 1 when a
// check fails, 2 when the input cannot be used.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/analysis.h"

using namespace ondelith::e2e;

namespace {

struct Options {
  std::string recording, reference;
  int64_t startFrame = 0, onFrame = 0, offFrame = 0;
  int64_t correlateUntil = -1;
  std::vector<int64_t> held;    // pairs of JACK frame times
  std::vector<double> heldHz;   // the pitch of each held pair; noteHz where none is given
  std::vector<int64_t> steady;  // a pair of JACK frame times
  double maxDip = 0.1;
  double noteHz = 441, hzTolerance = 1, minCorrelation = 0.99, maxLatencyMs = 200;
  double silence = 1e-4;
  double maxEnvelopeMismatch = 0.02;
  double maxDropoutMs = 1;
};

int failures = 0;

void check(bool ok, const char* what) {
  if (ok) return;
  ++failures;
  std::fprintf(stderr, "e2e_analyse: FAILED: %s\n", what);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"Checks a recorded note against its offline rendering."};
  app.name("e2e_analyse");
  app.add_option("--recording", o.recording, "WAV recorded from the live output")->required();
  app.add_option("--reference", o.reference, "WAV rendered offline, note-on at frame 0");
  app.add_option("--start-frame", o.startFrame, "JACK frame time of the recording's first sample")
      ->required();
  app.add_option("--on-frame", o.onFrame, "JACK frame time at which the note-on was sent")
      ->required();
  app.add_option("--off-frame", o.offFrame, "JACK frame time at which the note-off was sent")
      ->required();
  app.add_option("--correlate-until", o.correlateUntil,
                 "Compare with the reference only before this JACK frame time");
  app.add_option("--held", o.held,
                 "FROM TO: JACK frame times between which the note must still sound")
      ->type_size(2)
      ->expected(1, 8)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--held-hz", o.heldHz, "The pitch of each --held interval, in their order");
  app.add_option("--steady", o.steady,
                 "FROM TO: JACK frame times between which the level must never dip")
      ->expected(2);
  app.add_option("--max-dip", o.maxDip,
                 "Largest fall (or rise) of the level from one window of four periods to the "
                 "next within --steady, relative")
      ->default_val(0.1);
  app.add_option("--note-hz", o.noteHz, "Expected pitch")->default_val(441);
  app.add_option("--hz-tolerance", o.hzTolerance)->default_val(1);
  app.add_option("--min-correlation", o.minCorrelation)->default_val(0.99);
  app.add_option("--max-latency-ms", o.maxLatencyMs, "Longest delay from sending to sounding")
      ->default_val(200);
  app.add_option("--max-envelope-mismatch", o.maxEnvelopeMismatch,
                 "Largest level difference from the reference, relative to its loudest")
      ->default_val(0.02);
  app.add_option("--max-dropout-ms", o.maxDropoutMs,
                 "Longest silence allowed while the note is held")
      ->default_val(1);
  app.add_option("--silence", o.silence, "Largest magnitude that counts as silence")
      ->default_val(1e-4);
  CLI11_PARSE(app, argc, argv);

  Sound rec, ref;
  std::string reason;
  if (!readSound(o.recording, rec, reason)) {
    std::fprintf(stderr, "e2e_analyse: %s: %s\n", o.recording.c_str(), reason.c_str());
    return 2;
  }
  if (!o.reference.empty() && !readSound(o.reference, ref, reason)) {
    std::fprintf(stderr, "e2e_analyse: %s: %s\n", o.reference.c_str(), reason.c_str());
    return 2;
  }
  if (!o.reference.empty() && ref.rate != rec.rate) {
    std::fprintf(stderr, "e2e_analyse: rates differ: %d and %d\n", rec.rate, ref.rate);
    return 2;
  }
  const double rate = rec.rate;
  const auto& x = rec.samples;
  const auto ms = [rate](double frames) { return frames * 1000.0 / rate; };
  const auto samplesOf = [rate](double seconds) { return static_cast<int64_t>(seconds * rate); };
  const int64_t sentOn = o.onFrame - o.startFrame;
  const int64_t sentOff = o.offFrame - o.startFrame;
  std::printf("rate %d\n", rec.rate);
  std::printf("recorded_s %.3f\n", static_cast<double>(x.size()) / rate);
  std::printf("lead_in_s %.3f\n", static_cast<double>(sentOn) / rate);
  std::printf("held_s %.3f\n", static_cast<double>(sentOff - sentOn) / rate);
  if (sentOn < samplesOf(0.05) || sentOff <= sentOn ||
      sentOff + samplesOf(0.5) > static_cast<int64_t>(x.size())) {
    std::fprintf(stderr,
                 "e2e_analyse: the recording must begin at least 50 ms before the note-on and "
                 "last 0.5 s past the note-off\n");
    return 2;
  }

  // Before the note was sent the output must be silent, not merely quiet.
  const float before = peakLevel(x, 0, sentOn);
  std::printf("peak_before_note %.3g\n", before);
  check(before <= o.silence, "silence before the note-on");

  const int64_t onset = findOnset(x, static_cast<float>(o.silence), sentOn);
  std::printf("onset_sample %lld\n", static_cast<long long>(onset));
  check(onset >= 0, "the note sounds");
  if (onset < 0) return 1;
  // The reference starts the note at frame 0; its onset holds the fade-out
  // that precedes every attack, so the difference is the live path's delay.
  int64_t refOnset = 0;
  if (!ref.samples.empty()) {
    refOnset = findOnset(ref.samples, static_cast<float>(o.silence));
    std::printf("reference_onset_sample %lld\n", static_cast<long long>(refOnset));
    check(refOnset >= 0, "the reference sounds");
    if (refOnset < 0) return 1;
  }
  const int64_t latency = onset - sentOn - refOnset;
  std::printf("latency_ms %.2f\n", ms(static_cast<double>(latency)));
  // A note whose audio cycle follows its MIDI cycle starts with no delay at
  // all; its first audible sample may then precede the reference's by a few,
  // as the filter still holds the tail of the note before.
  constexpr int64_t kOnsetJitter = 32;
  check(latency >= -kOnsetJitter, "no sound before the note could have started");
  check(ms(static_cast<double>(latency)) <= o.maxLatencyMs, "latency within bounds");

  const int64_t releaseAt = sentOff + latency;
  const int64_t minPeriod = std::max<int64_t>(2, std::lround(rate / 4000));
  const int64_t maxPeriod = std::lround(rate / 40);
  const auto pitchOf = [&](int64_t from, int64_t to) {
    const double period =
        measurePeriod(x, from, to, static_cast<int>(minPeriod), static_cast<int>(maxPeriod));
    return period > 0 ? rate / period : 0.0;
  };
  // Where the live sound is known to leave the reference (a device switch),
  // the pitch is measured before it; the held intervals cover the rest.
  int64_t steadyEnd = releaseAt;
  if (o.correlateUntil >= 0) steadyEnd = std::min(steadyEnd, o.correlateUntil - o.startFrame);
  const double hz = pitchOf(onset + samplesOf(0.1), steadyEnd - samplesOf(0.02));
  std::printf("period_samples %.4f\n", hz > 0 ? rate / hz : 0.0);
  std::printf("frequency_hz %.3f\n", hz);
  check(std::fabs(hz - o.noteHz) <= o.hzTolerance, "pitch of the held note");

  // The fade-in of the first hundredth of a second may pass close to 0.
  const int64_t dropout =
      longestSilence(x, onset + samplesOf(0.01), releaseAt, static_cast<float>(o.silence));
  std::printf("longest_dropout_ms %.2f\n", ms(static_cast<double>(dropout)));
  check(ms(static_cast<double>(dropout)) <= o.maxDropoutMs, "no dropout while the note is held");

  const int64_t window = samplesOf(0.05);
  const double heldLevel = rmsLevel(x, releaseAt - window, releaseAt);
  std::printf("held_rms %.4g\n", heldLevel);
  const auto levels = windowLevels(x, releaseAt, window, 40);
  std::printf("release_rms");
  for (size_t k = 0; k < levels.size(); k += 4) std::printf(" %.3g", levels[k]);
  std::printf("\n");
  const ReleaseVerdict release = judgeRelease(levels, heldLevel);
  std::printf("release_starts_near_held %d\nrelease_never_rises %d\nrelease_fades_out %d\n",
              release.startsNearHeld, release.neverRises, release.fadesOut);
  check(release.ok(), "a falling envelope after the note-off");

  for (size_t k = 0; k + 1 < o.held.size(); k += 2) {
    const int64_t from = o.held[k] - o.startFrame + latency;
    const int64_t to = o.held[k + 1] - o.startFrame + latency;
    const double level = rmsLevel(x, from, to);
    const double heldHz = pitchOf(from, to);
    std::printf("held_%zu_rms %.4g\nheld_%zu_frequency_hz %.3f\n", k / 2, level, k / 2, heldHz);
    const double expectedHz = k / 2 < o.heldHz.size() ? o.heldHz[k / 2] : o.noteHz;
    check(level >= 0.5 * heldLevel, "the note keeps sounding");
    check(std::fabs(heldHz - expectedHz) <= o.hzTolerance, "the note keeps its pitch");
  }

  if (o.steady.size() == 2) {
    // Windows of whole periods, so that the waveform itself adds no ripple.
    const int64_t window = 4 * std::max<int64_t>(1, std::lround(rate / o.noteHz));
    const int64_t from = o.steady[0] - o.startFrame + latency;
    const int64_t to = o.steady[1] - o.startFrame + latency;
    const auto levels = windowLevels(x, from, window, static_cast<int>((to - from) / window));
    const LevelSteps steps = levelSteps(levels);
    std::printf("steady_windows %zu\nsteady_deepest_fall %.4f\nsteady_highest_rise %.4f\n",
                levels.size(), steps.deepestFall, steps.highestRise);
    check(levels.size() >= 10, "the steady interval holds at least ten windows");
    check(steps.deepestFall <= o.maxDip && steps.highestRise <= o.maxDip,
          "the held note's level never dips");
  }

  if (!ref.samples.empty()) {
    const int64_t expectedLag = onset - refOnset;
    int64_t refEnd = static_cast<int64_t>(ref.samples.size());
    if (o.correlateUntil >= 0)
      refEnd = std::min(refEnd, o.correlateUntil - o.startFrame - expectedLag);
    const Alignment a =
        bestAlignment(x, ref.samples, 0, refEnd, expectedLag - 512, expectedLag + 512);
    std::printf("best_lag_offset %lld\n", static_cast<long long>(a.lag - expectedLag));
    std::printf("correlation %.6f\n", a.correlation);
    std::printf("largest_difference %.3g\n", a.largestDifference);
    check(a.correlation > o.minCorrelation, "correlation with the reference");
    // Normalised correlation hardly sees a note-off that lands late or a
    // level that is off; the envelopes do.
    const double mismatch = envelopeMismatch(x, ref.samples, 0, refEnd, a.lag, samplesOf(0.02));
    std::printf("envelope_mismatch %.4f\n", mismatch);
    check(mismatch <= o.maxEnvelopeMismatch, "envelope follows the reference");
  }
  std::printf("result %s\n", failures == 0 ? "pass" : "fail");
  return failures == 0 ? 0 : 1;
}
