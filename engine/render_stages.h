#pragma once
// The stages of the pipelined render (render.cpp) for one run of frames:
// the advance (the lifecycle tick and the oscillator's phase), the wobble,
// the evaluations and the filter with the gain. Each calls the units' own
// rules; only the render includes this.

#include <algorithm>

#include "engine/bezier_run.h"
#include "engine/lifecycle.h"
#include "engine/render.h"
#include "engine/wobble_runner.h"

namespace ondelith::stages {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kGroup = 16;  // frames whose evaluations go together

using Run = RenderRun;

// The wobble of a run still to be done, frame by frame, after its frames
// have been advanced.
struct PendingWobble {
  Run* run = nullptr;
  WobbleRunner runner;
  int next = 0;  // the next frame to step

  explicit PendingWobble(const LoadedSteps& steps) : runner(steps) {}

  void start(Engine& e, Run& r) {
    run = &r;
    next = r.wobbled;
    runner.begin(e, r.wobbleCounts(), r.active, r.position);
  }
  // Whether frames from..to-1, the next to step, make one stretch.
  bool stretchAt(int from, int to) {
    return run && next == from && to <= run->frames && (run->steadyGroups >> (from / kGroup) & 1) &&
           runner.stepsCover(from, to);
  }
  void stretchDone(const WobbleRunner::Stretch& s, int to) {
    runner.resume(s, to - 1);
    next = to;
  }
  void stepTo(int to) {  // steps the frames before `to`
    if (!run) return;
    for (; next < to && next < run->frames; ++next) runner.step(next);
  }
  void finish() {
    if (!run) return;
    stepTo(run->frames);
    runner.finish();
    run->wobbled = run->frames;
    run = nullptr;
  }
};

// Frame i of a run: the lifecycle tick and the phase. The wobble runs later;
// a note set-up resets it, so everything before one is wobbled first: what
// is pending of the run before, then this run's earlier frames.
[[gnu::always_inline]] inline void advanceFrame(Engine& e, Run& r, int i, PendingWobble& before) {
  const NoteView view = readNoteView(e.voice);
  if (setsUpNote(e, view)) {
    before.finish();
    if (r.wobbled < i) {
      advanceWobbleRun(e, r.wobbleCounts(), r.active, r.wobbled, i, r.position);
      r.wobbled = i;
    }
  }
  engineTickSeen(e, e.sampleCounter.load(kRelaxed), view);
  const int32_t c = e.sampleCounter.load(kRelaxed);
  r.active[i] = oscillatorPhase(e, r.phase[i], r.volume[i]);
  if (!r.active[i]) {  // no note yet: a silent sample
    r.phase[i] = 0.0f;
    r.position[i] = kCentredPosition;
    r.volume[i] = 0.0f;
  }
  r.envelope[i] = e.life.envelopeLevel;
  r.counter[i] = c;
  const int32_t w = wobbleCount(e, view, c);
  if (w != c && !r.ownWobbleCount) {
    std::copy(r.counter, r.counter + i, r.wobbleCount);
    r.ownWobbleCount = true;
  }
  if (r.ownWobbleCount) r.wobbleCount[i] = w;
  e.sampleCounter.store(static_cast<int32_t>(static_cast<uint32_t>(c) + 1u), kRelaxed);
}

// Whether the next `len` frames cannot change course (NoteLifecycle::steadyFor)
// with a note played.
[[gnu::always_inline]] inline bool steadyAhead(const Engine& engine, int len) {
  const NoteView view = readNoteView(engine.voice);
  return engine.voice.noteFrequency.load(kRelaxed) > 0 &&
         engine.life.steadyFor(view.gate != 0, setsUpNote(engine, view),
                               engine.sampleCounter.load(kRelaxed), len);
}

// Frames of a run given what advanceFrame would give them, with its checks
// made once for a stretch that is steady (steadyAhead). Most frames are such,
// and the per-frame checks they skip cost more than the filter's shadow holds.
struct SteadyAdvance {
  Engine* e = nullptr;
  Run* r = nullptr;
  bool held = false;
  int32_t n0 = 0, first = 0, last = -1;
  Oscillator::Stretch phase;
  float volume = 0;

  // False, with nothing changed, unless frames from..to-1 are steady.
  bool begin(Engine& engine, Run& run, int from, int to) {
    if (!steadyAhead(engine, to - from) ||
        !engine.oscillator.beginStretch(engine.life.pitch(engine.voice), phase))
      return false;
    e = &engine;
    r = &run;
    n0 = engine.sampleCounter.load(kRelaxed);
    held = readNoteView(engine.voice).gate != 0;
    volume = static_cast<float>(engine.params.get(Param::Volume));
    first = from;
    last = to - 1;
    return true;
  }
  [[gnu::always_inline]] inline void step(int i) {
    const int32_t n = n0 + (i - first);
    r->phase[i] = phase.next();
    r->volume[i] = volume;
    r->active[i] = 1;
    r->counter[i] = n;
    r->envelope[i] = e->life.steadyLevel(e->envelope, held, n);
  }
  // After step has run for every frame of the stretch.
  void finish() {
    const double level = r->envelope[last];
    if (held)
      e->life.heldFor(last - first + 1, level, r->counter[last]);
    else
      e->life.releasedAt(level);
    e->oscillator.endStretch(phase);
    e->sampleCounter.store(r->counter[last] + 1, kRelaxed);
  }
};

// Frames from..to-1 of a run were advanced in one steady stretch: its
// whole groups among them are all active, on consecutive counts.
inline void markSteadyGroups(Run& r, int from, int to) {
  for (int g = (from + kGroup - 1) / kGroup * kGroup; g + kGroup <= to; g += kGroup)
    r.steadyGroups |= 1u << (g / kGroup);
}

// Frames from..to-1 of a run advanced, steadily where they can be.
inline void advanceRange(Engine& e, Run& r, int from, int to, PendingWobble& before) {
  SteadyAdvance steady;
  if (steady.begin(e, r, from, to)) {
    for (int i = from; i < to; ++i) steady.step(i);
    steady.finish();
    markSteadyGroups(r, from, to);
    return;
  }
  for (int i = from; i < to; ++i) advanceFrame(e, r, i, before);
}

// Starts a run. The curves change only between calls, and a note's set-up
// brings their lookups up to date, so the first run looks at them for all.
inline void beginRun(Engine& e, Run& r, int frames, bool first = false) {
  r.frames = frames;
  r.wobbled = 0;
  r.steadyGroups = 0;
  r.ownWobbleCount = false;
  if (first && frames > 0) refreshCurveCaches(e);
}

[[gnu::always_inline]] inline float finishFrame(LadderFilter& filter, const Run& r, int i,
                                                int32_t fadeIn) {
  return applyGain(filter.step(r.raw[i]), r.envelope[i], r.counter[i], fadeIn);
}

inline void evaluateRange(Run& r, int from, int to) {
  if (to > from)
    evaluateBezierRun(to - from, r.phase + from, r.position + from, r.volume + from, r.raw + from);
}

inline AdvanceMark markAdvance(const Engine& e) {
  return {e.life.course(), e.oscillator.place(), e.sampleCounter.load(kRelaxed)};
}

inline void placeAdvance(Engine& e, const AdvanceMark& m) {
  e.life.restore(m.course);
  e.oscillator.restore(m.oscillator);
  e.sampleCounter.store(m.sampleCounter, kRelaxed);
}

}  // namespace ondelith::stages
