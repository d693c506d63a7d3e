#pragma once
// A sound: the values, the sound settings and the four wobble curves a
// patch holds, free of any window or voice. Open applies a patch to a
// sound, Save captures one from it, and a sound reaches a voice as events.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/curve_model.h"
#include "engine/engine.h"
#include "instrument/patch_format.h"
#include "instrument/registry.h"

namespace ondelith {

// A patch's curves count their width in samples at this rate, whatever rate
// the voice runs at, so files move between machines unchanged.
constexpr double kPatchSampleRate = kDefaultSampleRate;
constexpr int kCurveBlockLines = 14;  // per curve: point 0 y, points 1..6 x and y, point 7 y

// Whether a registry entry belongs to the sound (a patch, a program, undo)
// rather than to the player.
inline bool soundOwned(int index) {
  return index >= 0 && index < kParameterCount && parameter(index).owner == Owner::Sound;
}

struct Sound {
  // By registry position, in the player's units, each within its range
  // (the Duration within the one its range switch chooses). The player's
  // entries stay at their defaults: they are no part of a sound.
  std::array<int32_t, kParameterCount> values{};
  // The wobble's length as the voice takes it: the Duration, except after
  // Open, which takes the file's Duration as it stands.
  int32_t wobbleDurationMs = 0;
  std::array<CurvePoints, kWobbleRows> curves{};  // in the curve's grid
  // A patch's keyed lines whose keys this version does not know, kept to
  // be written back.
  std::vector<KeyedLine> unknown;
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
// curves read in units of the patch's wobble length. Sound settings the
// patch does not name take their defaults; unknown keys are kept. A bad
// line leaves its setting as it was and is told in `report` (empty when
// every line was read).
void applyPatch(Sound& sound, const Patch& patch, std::string* report = nullptr);

// Save's 81 lines: the curves in units of the Duration's wobble length, then the values.
PatchValues capturePatch(const Sound& sound);
// The whole patch Save writes: the 81 lines, then each sound setting away
// from its default and the unknown keys kept.
Patch savedPatch(const Sound& sound);

// The events that bring a voice to the sound's value of one entry, for an
// entry that sets something in the voice.
template <typename Emit>
void sendValue(const Sound& sound, int index, int64_t frame, Emit&& send) {
  const Parameter& p = parameter(index);
  // The wobble's length is what the voice takes, after Open the file's.
  const int32_t v =
      index == kDurationIndex ? sound.wobbleDurationMs : sound.values[static_cast<size_t>(index)];
  switch (p.target) {
    case Target::Param: send(paramEvent(frame, paramOf(index), engineValue(index, v))); break;
    case Target::Setting:
      send(settingEvent(frame, static_cast<NoteSetting>(p.targetId), engineValue(index, v)));
      break;
    case Target::RangeSwitch:  // the rows it switches moved with it
      for (int i = 0; i < kParameterCount; ++i)
        if (rangeSwitchOf(i) == index) sendValue(sound, i, frame, send);
      break;
    case Target::Channel: break;  // the player's
  }
}

// Every event that brings a voice to `sound`, at `frame`, in Open's order.
// `now`: a sounding note's wobble takes the new length at once.
template <typename Emit>
void forEachSoundEvent(const Sound& sound, int64_t frame, bool now, Emit&& send) {
  for (int i = 0; i < kParameterCount; ++i)
    if (soundOwned(i) && parameter(i).target != Target::RangeSwitch)
      sendValue(sound, i, frame, send);
  if (now) send(simpleEvent(frame, EventKind::WobbleDurationNow));
  for (int row = 0; row < kWobbleRows; ++row)
    send(curveEvent(frame, row, sound.curves[static_cast<size_t>(row)]));
}

// The sound given to a voice that no other thread renders, at once.
void applySoundNow(Engine& engine, const Sound& sound);

}  // namespace ondelith
