#pragma once
// The engine's parameter set: every setting a host can give the voice, each
// with its unit, range and default. The audio thread owns it: hosts change
// parameters through the engine's events.

#include <array>
#include <cstdint>
#include <string_view>

namespace ondelith {

// clang-format off
// Units: the control points in hundredths of the unit square; the wobble
// depth (Mod) in percent of the way to its range's end; the wobble rate as
// whole (Coarse) and hundredth (Fine) multiples of the pitch; Volume in
// percent; WobbleDuration in milliseconds (what the drawn curves stretch
// over); Attack, Decay and Release in seconds; Sustain a level 0..1; Cutoff
// in Hz; Resonance in percent.
enum class Param : int {
  PointX1, PointY1, PointX2, PointY2,
  ModX1, ModY1, ModX2, ModY2,
  CoarseX1, CoarseY1, CoarseX2, CoarseY2,
  FineX1, FineY1, FineX2, FineY2,
  Volume, WobbleDuration,
  Attack, Decay, Sustain, Release,
  Cutoff, Resonance,
  Count
};
// clang-format on
constexpr int kParamCount = static_cast<int>(Param::Count);

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

enum class ParamUnit : uint8_t {
  Hundredths,
  Percent,
  Multiple,
  Milliseconds,
  Seconds,
  Level,
  Hertz,
  Semitones
};

struct ParamInfo {
  Param id;
  std::string_view symbol;  // stable and machine-readable: plugin ports use it
  std::string_view name;
  ParamUnit unit;
  double minimum, maximum, start;
  bool integer;  // whole values only: set() rounds
};

inline constexpr std::array<ParamInfo, kParamCount> kParamTable = {{
    {Param::PointX1, "x1", "X1", ParamUnit::Hundredths, 1, 99, 50, true},
    {Param::PointY1, "y1", "Y1", ParamUnit::Hundredths, 0, 49, 5, true},
    {Param::PointX2, "x2", "X2", ParamUnit::Hundredths, 1, 99, 75, true},
    {Param::PointY2, "y2", "Y2", ParamUnit::Hundredths, 50, 99, 95, true},
    {Param::ModX1, "x1_mod", "X1 Mod%", ParamUnit::Percent, -100, 100, 0, true},
    {Param::ModY1, "y1_mod", "Y1 Mod%", ParamUnit::Percent, -100, 100, 0, true},
    {Param::ModX2, "x2_mod", "X2 Mod%", ParamUnit::Percent, -100, 100, 0, true},
    {Param::ModY2, "y2_mod", "Y2 Mod%", ParamUnit::Percent, -100, 100, 0, true},
    {Param::CoarseX1, "x1_coarse", "X1 Coarse", ParamUnit::Multiple, 0, 15, 0, true},
    {Param::CoarseY1, "y1_coarse", "Y1 Coarse", ParamUnit::Multiple, 0, 15, 0, true},
    {Param::CoarseX2, "x2_coarse", "X2 Coarse", ParamUnit::Multiple, 0, 15, 0, true},
    {Param::CoarseY2, "y2_coarse", "Y2 Coarse", ParamUnit::Multiple, 0, 15, 0, true},
    {Param::FineX1, "x1_fine", "X1 Fine", ParamUnit::Hundredths, 0, 99, 0, true},
    {Param::FineY1, "y1_fine", "Y1 Fine", ParamUnit::Hundredths, 0, 99, 0, true},
    {Param::FineX2, "x2_fine", "X2 Fine", ParamUnit::Hundredths, 0, 99, 0, true},
    {Param::FineY2, "y2_fine", "Y2 Fine", ParamUnit::Hundredths, 0, 99, 0, true},
    {Param::Volume, "volume", "Vol", ParamUnit::Percent, 0, 1500, 400, true},
    {Param::WobbleDuration, "duration", "Duration", ParamUnit::Milliseconds, 100, 10000, 2000,
     true},
    {Param::Attack, "attack", "A", ParamUnit::Seconds, 0.001, 2, 0.001, false},
    {Param::Decay, "decay", "D", ParamUnit::Seconds, 0.001, 5, 1, false},
    {Param::Sustain, "sustain", "S", ParamUnit::Level, 0, 1, 0.5, false},
    {Param::Release, "release", "R", ParamUnit::Seconds, 0.001, 5, 1.5, false},
    {Param::Cutoff, "cutoff", "F", ParamUnit::Hertz, 20, 5000, 1500, false},
    {Param::Resonance, "resonance", "Res", ParamUnit::Percent, 0, 100, 50, true},
}};

constexpr const ParamInfo& paramInfo(Param id) { return kParamTable[static_cast<size_t>(id)]; }

// A value brought into the parameter's range (and to a whole number where
// it takes only those); not a number gives the start value.
double limitParam(Param id, double value);

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
