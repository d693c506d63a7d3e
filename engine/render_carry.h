#pragma once
// What the render keeps from one call to the next: its runs of frames, and
// the two runs after its end worked out ahead while the last filter
// steps waited on their chain. A host's short blocks would otherwise start
// every call with that work alone. The engine's state stays where the call
// ended; the state the runs lead to is kept beside it, and both are used
// only if nothing has touched the engine in between.

#include <array>
#include <cstdint>
#include <cstring>

#include "engine/modulation.h"
#include "engine/note_course.h"
#include "engine/oscillator.h"
#include "engine/params.h"

namespace ondelith {

constexpr int kRunFrames = 64;  // the most frames in one run

// What advancing frames moves on, as each unit saves its own: the note's
// course, the oscillator's place and the sample count. The wobble, a run
// behind, is saved apart (WobbleMotion). Compared bit for bit, so no padding.
struct AdvanceMark {
  NoteCourse course;
  Oscillator::Place oscillator{};
  int32_t sampleCounter = 0;
};
static_assert(sizeof(AdvanceMark) ==
              sizeof(NoteCourse) + sizeof(Oscillator::Place) + sizeof(int32_t));

// One run's frames as the pipeline fills them in.
struct RenderRun {
  int frames = 0;
  alignas(32) float phase[kRunFrames], volume[kRunFrames];
  // The wobble's four positions, turned into the points as they are evaluated.
  Float4 position[kRunFrames];
  alignas(32) float raw[kRunFrames];
  double envelope[kRunFrames];
  int32_t counter[kRunFrames];
  uint8_t active[kRunFrames];  // the oscillator advanced: a note has been played
  int wobbled = 0;             // frames before this have their wobble done
  uint32_t steadyGroups = 0;   // bit k: the k-th group of frames advanced in one steady stretch
  AdvanceMark advanced;        // the state its last frame's advance left
  // The counts the wobble reads, where they differ from `counter` (a
  // repeatable wobble's set-up fade): only then filled, and used.
  int32_t wobbleCount[kRunFrames];
  bool ownWobbleCount = false;
  const int32_t* wobbleCounts() const { return ownWobbleCount ? wobbleCount : counter; }
};

template <typename Mark>
bool sameBits(const Mark& a, const Mark& b) {
  return std::memcmp(&a, &b, sizeof(Mark)) == 0;
}

struct RenderCarry {
  std::array<RenderRun, 3> runs;
  bool valid = false;  // runs[first] and runs[second] hold the next frames
  int chunk = 0;       // their size
  int first = 0, second = 1;
  int laterFrom = 0, laterTo = 0;  // frames of the first still to evaluate
  AdvanceMark advanceFrom, advanceTo;
  WobbleMotion wobbleFrom, wobbleTo;
  int rest = 0;  // calls that carry nothing, after carried work was thrown away

  // Something changed the engine before the carried frames were used.
  void discard() {
    if (valid) rest = 8;
    valid = false;
  }
};

}  // namespace ondelith
