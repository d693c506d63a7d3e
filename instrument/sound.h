#pragma once
// A sound: the 25 values and the four wobble curves a patch holds, free of
// any window or voice. Open applies a patch to a sound, Save captures one
// from it, and a sound reaches a voice as events.

#include <array>
#include <cstdint>

#include "engine/curve_model.h"
#include "engine/engine.h"
#include "instrument/patch_format.h"
#include "instrument/registry.h"

namespace ondelith {

// A patch's curves count their width in samples at this rate, whatever rate
// the voice runs at, so files move between machines unchanged.
constexpr double kPatchSampleRate = kDefaultSampleRate;
constexpr int kCurveBlockLines = 14;  // per curve: point 0 y, points 1..6 x and y, point 7 y

struct Sound {
  // By registry position, in the player's units, each within its range
  // (the Duration within the one its range switch chooses).
  std::array<int32_t, kSoundValueCount> values{};
  // The wobble's length as the voice takes it: the Duration, except after
  // Open, which takes the file's Duration as it stands.
  int32_t wobbleDurationMs = 0;
  std::array<CurvePoints, kWobbleRows> curves{};  // in the curve's grid
  bool operator==(const Sound&) const = default;
};

// The plain start-up sound.
Sound startSound();

// A value set as a control sets it: limited to its range; the Duration also
// sets the wobble's length, and the range switch pulls the Duration inside
// its new range. Returns the value kept.
int32_t setSoundValue(Sound& sound, int index, int32_t value);

// The range switch's own behaviour in the window: the Duration set to
// durationMs within the new range, and the wobble's length with it.
void setDurationRange(Sound& sound, int range, int32_t durationMs);

// Open's rules: values limited to their ranges; the Duration and its range
// only with a valid range; the wobble's length the file's Duration; the
// curves read in units of the patch's wobble length.
void applyPatch(Sound& sound, const PatchValues& values);

// Save's: the curves in units of the Duration's wobble length, then the 25 values.
PatchValues capturePatch(const Sound& sound);

// Every event that brings a voice to `sound`, at `frame`, in Open's order.
// `now`: a sounding note's wobble takes the new length at once.
template <typename Emit>
void forEachSoundEvent(const Sound& sound, int64_t frame, bool now, Emit&& emit) {
  for (int i = 0; i < kSoundValueCount; ++i) {
    if (parameter(i).target != Target::Param) continue;
    const int32_t v =
        i == kDurationIndex ? sound.wobbleDurationMs : sound.values[static_cast<size_t>(i)];
    emit(paramEvent(frame, paramOf(i), engineValue(i, v)));
  }
  if (now) emit(simpleEvent(frame, EventKind::WobbleDurationNow));
  for (int row = 0; row < kWobbleRows; ++row)
    emit(curveEvent(frame, row, sound.curves[static_cast<size_t>(row)]));
}

// The sound given to a voice that no other thread renders, at once.
void applySoundNow(Engine& engine, const Sound& sound);

}  // namespace ondelith
