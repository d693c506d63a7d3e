#include "engine/render.h"

#include <algorithm>
#include <limits>

#include "engine/lifecycle.h"
#include "engine/wobble_runner.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kChunk = kRunFrames;
constexpr int kGroup = 16;

// Sixteen lanes of float, built from rows of eight; the AVX-512 clone runs
// them whole, the others in halves or quarters. No function here takes or
// returns them by value: the clones would pass them in different registers,
// which clang refuses and GCC warns of. Only pointers, references and ints
// cross a call, and the lanes live inside one.
typedef float Lanes __attribute__((vector_size(32)));
typedef float Wide __attribute__((vector_size(64)));
constexpr int kLanes = 16;

// Frames i to i + 7 hold four positions each, turned into one row of eight
// a position. They are read a frame at a time, as the wobble wrote them just
// before: a read across two writes would wait for both to reach the cache.
[[gnu::always_inline]] inline void rowsOf(const Float4* positions, int i, Lanes& x1, Lanes& y1,
                                          Lanes& x2, Lanes& y2) {
  const Float4* p = positions + i;
  const Lanes r0 = __builtin_shufflevector(p[0], p[4], 0, 1, 2, 3, 4, 5, 6, 7);  // frames 0 | 4
  const Lanes r1 = __builtin_shufflevector(p[1], p[5], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes r2 = __builtin_shufflevector(p[2], p[6], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes r3 = __builtin_shufflevector(p[3], p[7], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes t0 = __builtin_shufflevector(r0, r1, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes t1 = __builtin_shufflevector(r2, r3, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes t2 = __builtin_shufflevector(r0, r1, 2, 10, 3, 11, 6, 14, 7, 15);
  const Lanes t3 = __builtin_shufflevector(r2, r3, 2, 10, 3, 11, 6, 14, 7, 15);
  x1 = __builtin_shufflevector(t0, t1, 0, 1, 8, 9, 4, 5, 12, 13);
  y1 = __builtin_shufflevector(t0, t1, 2, 3, 10, 11, 6, 7, 14, 15);
  x2 = __builtin_shufflevector(t2, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  y2 = __builtin_shufflevector(t2, t3, 2, 3, 10, 11, 6, 7, 14, 15);
}

// The raw samples of the sixteen frames from `i`: the scalar's rules
// (pointsOf, rawSample) on sixteen lanes, so each lane gives its bits.
[[gnu::always_inline]] inline void evaluateLanes(int i, const float* phases,
                                                 const Float4* positions, const float* volumes,
                                                 float* raw) {
  Wide phase, volume;
  __builtin_memcpy(&phase, phases + i, sizeof phase);
  __builtin_memcpy(&volume, volumes + i, sizeof volume);
  Lanes x1a, y1a, x2a, y2a, x1b, y1b, x2b, y2b;
  rowsOf(positions, i, x1a, y1a, x2a, y2a);
  rowsOf(positions, i + 8, x1b, y1b, x2b, y2b);
#define ONDELITH_JOIN(a, b) \
  __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)
  const Wide x1 = ONDELITH_JOIN(x1a, x1b), y1 = ONDELITH_JOIN(y1a, y1b);
  const Wide x2 = ONDELITH_JOIN(x2a, x2b), y2 = ONDELITH_JOIN(y2a, y2b);
#undef ONDELITH_JOIN
  ControlPoints<Wide> points;
  pointsOf(x1, y1, x2, y2, points);
  Wide out;
  rawSample(phase, points, volume, out);
  __builtin_memcpy(raw + i, &out, sizeof out);
}

#ifdef ONDELITH_NO_TARGET_CLONES
#define ONDELITH_CLONES
#else
#define ONDELITH_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif

// The clones stay inside this file: clang 14 drops the attribute from a
// function declared before without it, and names its dispatcher so that
// other files' calls would miss it.
ONDELITH_CLONES void evaluateRun(int n, const float* phase, const Float4* position,
                                 const float* volume, float* raw) {
  int i = 0;
  for (; i + kLanes <= n; i += kLanes) evaluateLanes(i, phase, position, volume, raw);
  for (; i < n; ++i) {
    const Float4& p = position[i];
    ControlPoints<float> points;
    pointsOf(p[0], p[1], p[2], p[3], points);
    rawSample(phase[i], points, volume[i], raw[i]);
  }
}

}  // namespace

void evaluateBezierRun(int n, const float* phase, const Float4* position, const float* volume,
                       float* raw) {
  evaluateRun(n, phase, position, volume, raw);
}

namespace {

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
    runner.begin(e, r.counter, r.active, r.position);
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
      advanceWobbleRun(e, r.counter, r.active, r.wobbled, i, r.position);
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
void markSteadyGroups(Run& r, int from, int to) {
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
  if (first && frames > 0) refreshCurveCaches(e);
}

inline float finishFrame(LadderFilter& filter, const Run& r, int i, int32_t fadeIn) {
  return applyGain(filter.step(r.raw[i]), r.envelope[i], r.counter[i], fadeIn);
}

void evaluateRange(Run& r, int from, int to) {
  if (to > from)
    evaluateRun(to - from, r.phase + from, r.position + from, r.volume + from, r.raw + from);
}

AdvanceMark markAdvance(const Engine& e) {
  return {e.life.course(), e.oscillator.place(), e.sampleCounter.load(kRelaxed)};
}

void placeAdvance(Engine& e, const AdvanceMark& m) {
  e.life.restore(m.course);
  e.oscillator.restore(m.oscillator);
  e.sampleCounter.store(m.sampleCounter, kRelaxed);
}

// The runs a call worked out past its end are kept with the state they lead
// to; the engine goes back to where the call's own frames left it.
void keepCarry(Engine& e, int chunk, const Run& first, const Run& second,
               const AdvanceMark& advanceFrom, const WobbleMotion& wobbleFrom) {
  RenderCarry& c = e.renderCarry;
  c.advanceTo = markAdvance(e);
  c.wobbleTo = e.wobble.motion();
  c.advanceFrom = advanceFrom;
  c.wobbleFrom = wobbleFrom;
  placeAdvance(e, advanceFrom);
  e.wobble.restore(wobbleFrom);
  c.first = static_cast<int>(&first - c.runs.data());
  c.second = static_cast<int>(&second - c.runs.data());
  c.chunk = chunk;
  c.valid = true;
}

// Whether this call starts from the carried runs: only events discard them
// (Engine::apply), so this checks that the state is still the one they
// start from and that they fit the call's runs.
bool takeCarry(Engine& e, int chunk, int64_t frames) {
  RenderCarry& c = e.renderCarry;
  if (!c.valid) return false;
  const bool fits = c.chunk == chunk && (frames >= 2 * chunk || frames == chunk) &&
                    sameBits(markAdvance(e), c.advanceFrom) &&
                    sameBits(e.wobble.motion(), c.wobbleFrom);
  if (!fits) {
    c.discard();
    return false;
  }
  c.valid = false;
  placeAdvance(e, c.advanceTo);
  e.wobble.restore(c.wobbleTo);
  return true;
}

}  // namespace

// Frames are rendered in runs of four steps: the lifecycle tick and phase,
// frame by frame; the wobble, frame by frame; the Bezier evaluations, which
// do not depend on one another, sixteen at a time; the filter, whose
// recursion is the one chain that must stay serial. While the filter of one
// run waits for each previous step, the processor wobbles and evaluates the
// next run and advances the one after, all in one loop: none of them depends
// on what the filter computes. The last runs' filter steps would wait alone,
// so the two runs after the call's end are worked out beside them and kept
// (RenderCarry) with the engine's state left where this call ends: events
// between calls still land exactly, and discard them.
//
// What keeps the chain fed: the wobble and the tick stay frame by frame
// inside the filter's loop (done apart, in batches, they were measured
// slower); work that comes in bursts (the evaluations) waits for the middle
// of a group, away from the edges where the loop's own bookkeeping gathers;
// and whatever one step writes and a later one reads goes through memory in
// the same sizes, so the reads are served from the pending writes (a read
// spanning several writes waits until they reach the cache, behind the
// filter's chain). What it buys (bench/render_bench, the wobbling voice at
// 48000 Hz): about 15.5 to 16 ns a sample against 100 ns for the same frames
// one at a time in the plain order; the filter's recursion alone takes 14.
void renderFrames(Engine& e, float* out, int64_t frames, bool carryOn) {
  if (frames <= 0) return;
  RenderCarry& carry = e.renderCarry;
  // A host's short block of whole groups is one run: the carried runs are
  // this call's and the next one's, and each call moves the pipeline on by
  // one run, as a long render does. Other blocks are cut into runs of whole
  // groups, two of which fit in any call of two groups or more, so that it
  // can carry the next call's first two.
  const bool single = frames <= kChunk && frames % kGroup == 0;
  const int chunk =
      single ? static_cast<int>(frames)
             : static_cast<int>(std::clamp<int64_t>(frames / 2 / kGroup * kGroup, kGroup, kChunk));
  const bool carriedIn = takeCarry(e, chunk, frames);
  const int first = carriedIn ? carry.first : 0, second = carriedIn ? carry.second : 1;
  Run* filtering = &carry.runs[static_cast<size_t>(first)];
  Run* wobbling = &carry.runs[static_cast<size_t>(second)];
  Run* advancing = &carry.runs[static_cast<size_t>(3 - first - second)];
  if (carry.rest > 0) --carry.rest;
  // Frames for the next call are worked out in the shadow of this call's
  // last filter steps, as two runs past its end.
  bool ahead = carryOn && carry.rest == 0 && (frames >= 2 * chunk || single);
  // A single run's call starts with the second carried run past its end.
  const bool oneAhead = carriedIn && single;
  Run* firstAhead = oneAhead ? wobbling : nullptr;
  int aheadRuns = oneAhead ? 1 : 0;
  WobbleMotion wobbleFrom;
  int64_t prepared = carriedIn ? 2 * chunk : 0;
  const auto nextSize = [&](Run& r) {
    if (prepared < frames) {
      const int n = static_cast<int>(std::min<int64_t>(frames - prepared, chunk));
      prepared += n;
      return n;
    }
    if (!ahead || aheadRuns == 2) return 0;
    // The first run ahead looks far enough for both; a second after a
    // carried one, for itself.
    if (!steadyAhead(e, aheadRuns == 0 ? 2 * chunk : chunk)) {
      ahead = false;
      return 0;
    }
    if (aheadRuns == 0) firstAhead = &r;
    ++aheadRuns;
    return chunk;
  };
  PendingWobble pending(carry.steps);
  // Carried runs looked the curves up already, and a changed curve comes as
  // an event, which discards them.
  if (!carriedIn) {
    beginRun(e, *filtering, nextSize(*filtering), true);
    advanceRange(e, *filtering, 0, filtering->frames, pending);
    filtering->advanced = markAdvance(e);
    pending.start(e, *filtering);
    pending.finish();
    evaluateRange(*filtering, 0, filtering->frames);
    beginRun(e, *wobbling, nextSize(*wobbling));
    advanceRange(e, *wobbling, 0, wobbling->frames, pending);
    wobbling->advanced = markAdvance(e);
  }

  // A local copy keeps the filter's state in registers through the calls
  // around it; only the audio thread touches the filter. Parameters change
  // only between calls (events land between them), so they are read once.
  LadderFilter filter;
  filter.assignFrom(e.filter);
  filter.setCutoff(e.params.get(Param::Cutoff));
  // Whole already: the parameter set rounds it.
  filter.setResonance(static_cast<int32_t>(e.params.get(Param::Resonance)));
  filter.updateCoefficients();
  const int32_t fadeIn = e.life.fadeInSamples;
  // A group's evaluations wait for the middle of the next group, and a
  // run's last group's for the middle of the next run's first, away from
  // the edges where the loop's other work gathers.
  struct Later {
    Run* run = nullptr;
    int from = 0, to = 0;
  } later;
  if (carriedIn) later = {filtering, carry.laterFrom, carry.laterTo};
  const auto evaluateLater = [&later] {
    if (later.run) evaluateRange(*later.run, later.from, later.to);
    later.run = nullptr;
  };
  int64_t done = 0;
  while (filtering->frames > 0 && filtering != firstAhead) {
    Run& f = *filtering;
    Run& w = *wobbling;
    Run& a = *advancing;
    if (&w == firstAhead) wobbleFrom = e.wobble.motion();
    if (w.frames > 0) pending.start(e, w);
    beginRun(e, a, nextSize(a));
    // A run is advanced steadily whole, or frame by frame: what could change
    // course (a set-up, the fade's end, the count's wrap) comes at most once
    // or twice a note.
    SteadyAdvance steady;
    const bool steadyRun = steady.begin(e, a, 0, a.frames);
    if (steadyRun) markSteadyGroups(a, 0, a.frames);
    for (int g = 0; g < chunk; g += kGroup) {
      bool evaluated = false;
      const int end = g + kGroup;
      const int advanceEnd = std::min(end, a.frames);
      if (steadyRun && advanceEnd == end && end <= f.frames && pending.stretchAt(g, end)) {
        // The usual group: every step on its shortest path, with no checks.
        WobbleRunner::Stretch wobble = pending.runner.stretch();
        const auto frame = [&](int i) {
          out[done + i] = finishFrame(filter, f, i, fadeIn);
          wobble.step(i);
          steady.step(i);
        };
        for (int i = g; i < g + kGroup / 2; ++i) frame(i);
        evaluateLater();
        evaluated = true;
        for (int i = g + kGroup / 2; i < end; ++i) frame(i);
        pending.stretchDone(wobble, end);
      } else if (steadyRun) {
        for (int i = g; i < end; ++i) {
          if (i < f.frames) out[done + i] = finishFrame(filter, f, i, fadeIn);
          pending.stepTo(i + 1);
          if (i < advanceEnd) steady.step(i);
        }
      } else {
        for (int i = g; i < end; ++i) {
          if (i < f.frames) out[done + i] = finishFrame(filter, f, i, fadeIn);
          pending.stepTo(i + 1);
          if (i < a.frames) advanceFrame(e, a, i, pending);
        }
      }
      if (!evaluated) evaluateLater();
      later = {&w, g, std::min(end, w.frames)};
    }
    if (steadyRun) steady.finish();
    if (a.frames > 0) a.advanced = markAdvance(e);
    // A run of one group is filtered from its first frame on: at once.
    if (later.from < kGroup) evaluateLater();
    pending.finish();
    done += f.frames;
    filtering = &w;
    wobbling = &a;
    advancing = &f;
  }
  e.filter.assignFrom(filter);
  carry.steps = pending.runner.loaded();
  // Where the call's frames end: its last run's advance, its next run's
  // wobble not yet begun.
  const AdvanceMark& advanceFrom = advancing->advanced;
  if (filtering == firstAhead && aheadRuns == 2) {
    // The carried run's last group waits for the next call too.
    keepCarry(e, chunk, *filtering, *wobbling, advanceFrom, wobbleFrom);
    carry.laterFrom = later.run ? later.from : 0;
    carry.laterTo = later.run ? later.to : 0;
  } else if (firstAhead) {
    // A run ahead was begun but not its second: back to where the call ends.
    placeAdvance(e, advanceFrom);
    e.wobble.restore(wobbleFrom);
  } else {
    evaluateLater();
  }
}

}  // namespace ondelith
