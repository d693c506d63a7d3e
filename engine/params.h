#pragma once
// The engine's parameter set: every setting a host can give the voice, each
// with its unit, range and default. The audio thread owns it: hosts change
// parameters through the engine's events.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "engine/numeric.h"

namespace ondelith {

// clang-format off
// Units: the control points in hundredths of the unit square; the wobble
// depth (Mod) in percent of the way to its range's end; the wobble rate as
// whole (Coarse) and hundredth (Fine) multiples of the pitch; Volume in
// percent; WobbleDuration in milliseconds (what the drawn curves stretch
// over); Attack, Decay and Release in seconds; Sustain a level 0..1; Cutoff
// in Hz; Resonance in percent; PitchMode a choice (kPitchPeriods,
// kPitchExact); WobblePhase a choice (kWobbleFree, kWobbleRepeatable);
// Oversampling the power of two the voice's rate is of the output's
// (oversamplingFactor).
enum class Param : int {
  PointX1, PointY1, PointX2, PointY2,
  ModX1, ModY1, ModX2, ModY2,
  CoarseX1, CoarseY1, CoarseX2, CoarseY2,
  FineX1, FineY1, FineX2, FineY2,
  Volume, WobbleDuration,
  Attack, Decay, Sustain, Release,
  Cutoff, Resonance,
  PitchMode,
  WobblePhase,
  Oversampling,
  Count
};
// clang-format on
constexpr int kParamCount = static_cast<int>(Param::Count);

// PitchMode's values: whole samples a period (the instrument's own pitch),
// or the exact pitch on a fractional phase.
constexpr int kPitchPeriods = 0;
constexpr int kPitchExact = 1;

// WobblePhase's values: during a note's set-up fade the wobble reads the
// sample count as it runs on from before (free), or the ticks since the
// set-up (repeatable), so that the note starts alike whatever came before.
constexpr int kWobbleFree = 0;
constexpr int kWobbleRepeatable = 1;

// Oversampling's values 0 to 3: the voice runs at 1, 2, 4 or 8 times the
// output rate.
constexpr int kOversamplingSteps = 3;
constexpr int oversamplingFactor(double setting) { return 1 << static_cast<int>(setting); }

// Wobble rows, in the one order used everywhere.
constexpr int kRowX1 = 0;
constexpr int kRowY1 = 1;
constexpr int kRowX2 = 2;
constexpr int kRowY2 = 3;
constexpr int kWobbleRows = 4;

constexpr Param pointParam(int row) {
  return static_cast<Param>(static_cast<int>(Param::PointX1) + row);
}
constexpr Param modParam(int row) {
  return static_cast<Param>(static_cast<int>(Param::ModX1) + row);
}
constexpr Param coarseParam(int row) {
  return static_cast<Param>(static_cast<int>(Param::CoarseX1) + row);
}
constexpr Param fineParam(int row) {
  return static_cast<Param>(static_cast<int>(Param::FineX1) + row);
}

// Where a value may go, in the engine's units: the voice's own guard. The
// instrument's parameter table derives its ranges and starts from these,
// so each number is written once.
template <typename Id>
struct EngineRow {
  Id id;
  double minimum, maximum, start;
  bool integer;  // whole values only: limiting rounds
};
using ParamInfo = EngineRow<Param>;

// A value brought into the row's range (and to a whole number where it
// takes only those); not a number gives the start value.
template <typename Id>
double limitTo(const EngineRow<Id>& row, double value) {
  if (std::isnan(value)) return row.start;
  value = std::clamp(value, row.minimum, row.maximum);
  return row.integer ? roundEven(value) : value;
}

// clang-format off
inline constexpr std::array<ParamInfo, kParamCount> kParamTable = {{
    {Param::PointX1, 1, 99, 50, true},
    {Param::PointY1, 0, 49, 5, true},
    {Param::PointX2, 1, 99, 75, true},
    {Param::PointY2, 50, 99, 95, true},
    {Param::ModX1, -100, 100, 0, true},
    {Param::ModY1, -100, 100, 0, true},
    {Param::ModX2, -100, 100, 0, true},
    {Param::ModY2, -100, 100, 0, true},
    {Param::CoarseX1, 0, 15, 0, true},
    {Param::CoarseY1, 0, 15, 0, true},
    {Param::CoarseX2, 0, 15, 0, true},
    {Param::CoarseY2, 0, 15, 0, true},
    {Param::FineX1, 0, 99, 0, true},
    {Param::FineY1, 0, 99, 0, true},
    {Param::FineX2, 0, 99, 0, true},
    {Param::FineY2, 0, 99, 0, true},
    {Param::Volume, 0, 1500, 400, true},
    {Param::WobbleDuration, 100, 10000, 2000, true},
    {Param::Attack, 0.001, 2, 0.001, false},
    {Param::Decay, 0.001, 5, 1, false},
    {Param::Sustain, 0, 1, 0.5, false},
    {Param::Release, 0.001, 5, 1.5, false},
    {Param::Cutoff, 20, 5000, 1500, false},
    {Param::Resonance, 0, 100, 50, true},
    {Param::PitchMode, kPitchPeriods, kPitchExact, kPitchPeriods, true},
    {Param::WobblePhase, kWobbleFree, kWobbleRepeatable, kWobbleFree, true},

    {Param::Oversampling, 0, kOversamplingSteps, 0, true},
}};
// clang-format on

constexpr const ParamInfo& paramInfo(Param id) { return kParamTable[static_cast<size_t>(id)]; }

// Each row where its id says, and none left out: a row missing from an
// std::array would be zeros without a word.
template <typename Table>
constexpr bool rowsInOrder(const Table& table) {
  for (size_t i = 0; i < table.size(); ++i)
    if (static_cast<size_t>(table[i].id) != i) return false;
  return true;
}
static_assert(rowsInOrder(kParamTable));

// A value brought into the parameter's range; see limitTo.
inline double limitParam(Param id, double value) { return limitTo(paramInfo(id), value); }

class EngineParams {
 public:
  EngineParams() { reset(); }
  EngineParams(const EngineParams&) = delete;
  EngineParams& operator=(const EngineParams&) = delete;

  // Every parameter at its start value.
  void reset();
  // Stores the value limited to the parameter's range; returns what was stored.
  double set(Param id, double value);
  double get(Param id) const { return values_[static_cast<size_t>(id)]; }

 private:
  std::array<double, kParamCount> values_{};
};

}  // namespace ondelith
