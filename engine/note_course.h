#pragma once
// The note's course from gate to gate: set-up, the fade of what sounded
// before (at the previous pitch), the attack and the release. Audio thread.

#include <atomic>
#include <cstdint>
#include <limits>

#include "engine/envelope.h"
#include "engine/note_entry.h"
#include "engine/sample_rate.h"

namespace ondelith {

// Past this the sample count starts again (about 13.5 hours at 44100 Hz).
constexpr int32_t kCounterWrap = 2147483640;

// Where the course stands: all that a tick moves on, saved and restored
// whole (compared bit for bit, so no padding).
struct NoteCourse {
  double envelopeLevel = 0;
  double retriggerLevel = 0;     // where the next note's fade starts
  double releaseStartLevel = 0;  // where a release starts
  int32_t lastGateSample = 0;    // the sample count of the last tick with the gate open
  int32_t gateTicks = 0;         // ticks since the note's set-up
  uint32_t setUpSerial = 0;      // the gate opening the current set-up belongs to
  uint32_t attackSerial = 0;     // the gate opening whose attack has begun
};
static_assert(sizeof(NoteCourse) == 3 * sizeof(double) + 4 * sizeof(int32_t));

struct NoteLifecycle : NoteCourse {
  // An oversampled voice's counts are the output rate's, `factor` ticks
  // each, so its attack starts on the sample the default's does.
  explicit NoteLifecycle(SampleRate outputRate, int factor = 1)
      : fadeTicks((outputRate.scaledCount(1001) - 1) * factor),
        fadeInSamples(outputRate.scaledCount(100) * factor) {}
  // The retrigger fade runs over ticks 0 to fadeTicks: 1001 ticks at 44100 Hz.
  const int32_t fadeTicks;
  const int32_t fadeInSamples;  // a note's first samples that fade in: 100 at 44100 Hz

  NoteCourse course() const { return *this; }
  void restore(const NoteCourse& c) { static_cast<NoteCourse&>(*this) = c; }

  // The previous sound still fading out before the note's attack.
  bool fading() const { return gateTicks <= fadeTicks; }
  // The pitch the oscillator plays: the previous one while its sound fades out.
  double pitch(const VoiceState& voice) const {
    return fading() ? voice.previousFrequency.load(std::memory_order_relaxed)
                    : voice.noteFrequency.load(std::memory_order_relaxed);
  }
  // Whether `len` ticks from sample count n0 cannot change course: released,
  // or held with the set-up, the fade and the attack's start behind, and
  // the counts far from their limits.
  bool steadyFor(bool held, bool settingUp, int32_t n0, int len) const {
    if (len <= 0 || n0 > kCounterWrap - len) return false;
    return !held || !(settingUp || fading() || attackSerial != setUpSerial ||
                      gateTicks > std::numeric_limits<int32_t>::max() - len);
  }
  // The envelope at sample count n once the note's course is steady: held
  // (past its fade and attack start) or released.
  double steadyLevel(const Envelope& envelope, bool held, int32_t n) const {
    return held ? envelope.heldLevel(n)
                : envelope.releaseLevel(releaseStartLevel, lastGateSample, n);
  }
  // A tick with the gate open left the envelope at `level` on sample count n.
  void heldAt(double level, int32_t n) {
    envelopeLevel = level;
    releaseStartLevel = level;
    lastGateSample = n;
  }
  // `ticks` ticks with the gate open, the last on sample count n at `level`.
  void heldFor(int32_t ticks, double level, int32_t n) {
    gateTicks += ticks;
    heldAt(level, n);
  }
  // A tick with the gate closed left it at `level`.
  void releasedAt(double level) {
    envelopeLevel = level;
    retriggerLevel = level;
  }
};

}  // namespace ondelith
