#pragma once
#include <cstdint>

#include "engine/engine_state.h"

namespace ondelith {

// The wobble duration in samples for a duration in milliseconds.
int32_t wobbleSamplesFor(float durationMs);

// At note set-up: the tracks' base, depth, swing and end factor from the
// controls and curves, and the curves' ranges set to the wobble duration.
void setUpWobble(Engine& engine);

// One sample of the four triangle wobbles; refreshes modulatedX1..Y2. The
// curves are looked up in the audio thread's copies as last refreshed.
void advanceWobble(Engine& engine, int32_t n);

// Refreshes all four copies: at the start of every run of frames.
void refreshCurveCaches(Engine& engine);

// Brings the audio thread's copy of curve `row` up to date if its editor's
// points or ranges changed. A change caught half done keeps the old copy.
void refreshCurveCache(Engine& engine, int row);

// curveValueAt in range units, through the audio thread's copy.
int32_t cachedCurveValue(Engine& engine, int row, int32_t position);

}  // namespace ondelith
