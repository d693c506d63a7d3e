#pragma once
// The records of the sound. One instance each lives for the whole run; tests
// and tools build their own. Fields that two threads touch are atomics
// (relaxed: no ordering between fields is promised); fields that only the
// audio thread touches are plain.

#include <array>
#include <atomic>
#include <cstdint>

#include "app/control_model.h"
#include "editors/curve_editor.h"

namespace ondelith {

struct EngineParams {
  std::atomic<double> attackTime{0};               // seconds
  std::atomic<double> decayTime{0};                // seconds
  std::atomic<double> sustainLevel{0};             // 0..1
  std::atomic<double> releaseTime{0};              // seconds
  std::atomic<double> filterCutoff{0};             // Hz
  std::array<std::atomic<int>, 4> curveEditors{};  // editor ids: X1, Y1, X2, Y2
  std::atomic<float> pointX1{0};
  std::atomic<float> pointY1{0};
  std::atomic<float> pointX2{0};
  std::atomic<float> pointY2{0};
  std::atomic<float> volume{0};
  std::atomic<float> wobbleDuration{0};  // milliseconds
  std::atomic<int32_t> filterResonance{0};
};

struct VoiceState {
  std::atomic<double> noteFrequency{0};
  std::atomic<double> previousFrequency{0};
  std::atomic<float> wobbleRateX1{0};
  std::atomic<float> wobbleRateX2{0};
  std::atomic<float> wobbleRateY1{0};
  std::atomic<float> wobbleRateY2{0};
  std::atomic<int32_t> gate{0};
  std::atomic<int32_t> sampleCounter{0};
  std::atomic<int32_t> heldKeys{0};
  std::atomic<int32_t> noteSetUp{0};
  std::atomic<int32_t> attackBegun{0};
  // Counts the gate's openings. The set-up and attack flags are written by
  // both threads, so the audio thread decides by this count instead: a
  // release and a new first key landing while a tick runs could otherwise
  // leave the new note marked as set up, and a release alone could make the
  // tick restart the attack of the note it ends.
  std::atomic<uint32_t> noteSerial{0};
};

// One coordinate's wobble, in slider units.
struct WobbleTrack {
  float position = 0;
  int32_t direction = 0;
  float base = 0;
  float depth = 0;
  float swing = 0;
  float endFactor = 0;
};

struct EngineState {
  double retriggerLevel = 0;
  double attackSamples = 0;
  double decaySamples = 0;
  double noteSustain = 0;
  double releaseSamples = 0;
  double envelopeLevel = 0;
  double releaseStartLevel = 0;
  std::atomic<int32_t> wobbleSamples{0};  // also set when a patch is opened
  int32_t phaseCounter = 0;
  int32_t gateTicks = 0;
  float modulatedX1 = 0;
  float modulatedX2 = 0;
  float modulatedY1 = 0;
  float modulatedY2 = 0;
  WobbleTrack trackX1, trackY1, trackX2, trackY2;
  float modPercentX1 = 0;
  float modPercentX2 = 0;
  float modPercentY1 = 0;
  float modPercentY2 = 0;
  int32_t lastGateSample = 0;
};

struct LadderFilter {
  double p = 0, f = 0, k = 0, r = 0, x = 0, t = 0, t2 = 0;
  double y1 = 0, y2 = 0, y3 = 0, y4 = 0;
  double oldx = 0, oldy1 = 0, oldy2 = 0, oldy3 = 0;
  int32_t cachedCutoff = 0;
  int32_t cachedResonance = 0;
};

// The audio thread's own copy of one curve, prepared for lookups and
// refreshed only when the editor's points or ranges change.
struct CurveCache {
  const CurveEditor* editor = nullptr;
  int editorId = 0;
  uint32_t version = 0;
  float rangeX = 0;
  float rangeY = 0;
  bool valid = false;
  uint32_t generation = 0;                 // moves on whenever `lookup` is rebuilt
  std::array<CurveSnapshot, 2> snapshots;  // the one in use, and one to copy into
  int current = 0;
  CurveLookup lookup;
};

// What one wobble track remembers between samples: the curve segment last
// used and the run of positions that read the same value.
struct TrackCache {
  int32_t cursor = 1;
  uint32_t lookupGeneration = 0;  // the curve copy the run below was read from
  int32_t runStart = 1;           // positions runStart..runEnd read runValue
  int32_t runEnd = 0;
  int32_t runValue = 0;
};

// The four tracks' sizes and steps, which hold for every sample count from
// validFrom to validTo while the rates and the wobble set-up stay the same.
struct WobbleStepCache {
  bool valid = false;
  int32_t validFrom = 0;
  int32_t validTo = -1;
  int32_t wobbleSamples = 0;
  std::array<float, 4> rate{};
  std::array<int32_t, 4> size{};
  std::array<float, 4> magnitude{};  // 2 * size / (44100 / rate)
};

// Everything the audio thread works on. The control values and the curve
// editors belong to the UI thread and are only read (and the editors'
// ranges set) from here.
struct Engine {
  Engine(const ControlMirror& c, CurveEditorSet& e) : controls(c), editors(e) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const ControlMirror& controls;
  CurveEditorSet& editors;
  EngineParams params;
  VoiceState voice;
  EngineState state;
  LadderFilter filter;
  std::array<CurveCache, 4> curves;  // X1, Y1, X2, Y2
  std::array<TrackCache, 4> trackCaches;
  WobbleStepCache wobbleSteps;
  int32_t attackEnd = 0;              // the nearest integers to attackSamples and to
  int32_t decayEnd = 0;               // attackSamples + decaySamples, as taken at set-up
  uint32_t setUpSerial = 0;           // the gate opening the current set-up belongs to
  uint32_t attackSerial = 0;          // the gate opening whose attack has begun
  double cachedPeriodFrequency = -1;  // the last period computed, reused while the pitch holds
  int32_t cachedPeriod = 0;
};

// The engine's start-up values, with the start volume and wobble duration.
void initEngine(Engine& engine);

}  // namespace ondelith
