#pragma once
// A drawn curve: a piecewise-linear line of points in a small grid (y
// downward), with the ranges its width and height stand for. The curve's
// owner (a window's or a panel's editors, a host's sound) keeps a
// CurveModel; the voice keeps its own fixed-size copy of the points
// (CurvePoints), handed over whole, and prepares lookups from it.

#include <array>
#include <cstdint>
#include <vector>

namespace ondelith {

struct CurvePoint {
  int32_t x;
  int32_t y;
  bool operator==(const CurvePoint&) const = default;
};

// The curve's own resolution: the grid every wobble curve is quantised to,
// whatever size an editor draws it at, and its points.
constexpr int kCurveGridWidth = 160;
constexpr int kCurveGridHeight = 70;
constexpr int kCurvePointCount = 8;
// Room kept free at the right edge when points are first laid out.
constexpr int kCurveLayoutMargin = 5;

// Lookup modes: heights in grid units at a grid position, or in range units
// at a position in range units.
constexpr int LookupPixels = 9;
constexpr int LookupScaled = 10;

// An editor may hold more points than a wobble curve; more than a grid has
// columns make no sense.
constexpr int kMaxCurvePoints = 1024;

// A wobble curve's points as the voice holds them: sized to the curve.
struct CurvePoints {
  int32_t count = 0;
  std::array<CurvePoint, kCurvePointCount> points{};
  bool operator==(const CurvePoints&) const = default;
};

// The points of a fresh wobble curve: spread evenly on the middle line.
CurvePoints startCurvePoints();

// A curve as its owner keeps it. One thread owns it.
struct CurveModel {
  float rangeX = 0;
  float rangeY = 0;
  int32_t width = kCurveGridWidth;  // fixed once the curve is in use
  int32_t height = kCurveGridHeight;
  int32_t pointCount = 0;
  std::array<CurvePoint, kMaxCurvePoints> points{};
};

// A fresh curve in a width x height grid (at least 1 x 1): n points (2 to
// kMaxCurvePoints) spread evenly on the middle line, the last at the right
// edge, the others within width - margin; ranges equal to the grid.
void initCurve(CurveModel& curve, int32_t width, int32_t height, int pointCount, int margin);
// The points laid out again as initCurve does.
void layOutCurvePoints(CurveModel& curve, int pointCount, int margin);

CurvePoint curvePoint(const CurveModel& curve, int index);
void moveCurvePoint(CurveModel& curve, int index, CurvePoint p);
void setCurveRanges(CurveModel& curve, float rangeX, float rangeY);

// A wobble curve's points in and out of a model (of kCurvePointCount points).
CurvePoints curvePointsOf(const CurveModel& curve);
void setCurvePoints(CurveModel& curve, const CurvePoints& points);

// The value at `position` (mode LookupPixels or LookupScaled), 0 for a
// position off the curve or an unknown mode.
int curveModelValueAt(const CurveModel& curve, int mode, int position);
// One point in range units (y upward), and back (rounded to the grid).
CurvePoint toRangeUnits(const CurveModel& curve, CurvePoint grid);
CurvePoint fromRangeUnits(const CurveModel& curve, CurvePoint scaled);
// The points as an array: scaled to the ranges (y upward), or in grid units with y upward.
void copyCurveModelToArray(const CurveModel& curve, std::vector<CurvePoint>& array, int scaled);
// The reverse; an array of another length changes nothing. End points keep their x.
void copyCurveModelFromArray(CurveModel& curve, const std::vector<CurvePoint>& array, int scaled);

// A curve prepared for lookups: the points in lookup units, computed once
// for a set of points and ranges. N: the most points it holds.
template <int N>
struct CurveLookupOf {
  int32_t count = 0;  // below 2: every lookup gives 0
  int32_t limit = 0;  // the largest valid position
  int32_t firstValue = 0;
  int32_t lastValue = 0;
  bool sorted = false;  // X never decreases: lookups may start from a cursor
  std::array<float, N> X;
  std::array<float, N> Y;
  std::array<float, N> slope;  // (Y[i+1] - Y[i]) / (X[i+1] - X[i])
};
using CurveLookup = CurveLookupOf<kCurvePointCount>;

// `count` points (at most N; more are left out) prepared for lookups.
template <int N>
void buildCurveLookup(CurveLookupOf<N>& table, const CurvePoint* points, int32_t count,
                      int32_t width, int32_t height, float rangeX, float rangeY, int mode);
template <int N>
int32_t lookupCurve(const CurveLookupOf<N>& table, int32_t position);
// The last position of the run that starts at `position` and reads `value`
// there: every position from here to the returned one reads the same value
// (lookups are monotonic within a segment). `position` itself where runs do
// not apply (an unsorted curve, the range's two ends).
template <int N>
int32_t curveRunEnd(const CurveLookupOf<N>& table, int32_t position, int32_t value);
// The same result as lookupCurve, for positions that mostly advance:
// `cursor` remembers the segment last used.
template <int N>
int32_t lookupCurveFrom(const CurveLookupOf<N>& table, int32_t position, int32_t& cursor);

extern template void buildCurveLookup(CurveLookup&, const CurvePoint*, int32_t, int32_t, int32_t,
                                      float, float, int);
extern template int32_t lookupCurve(const CurveLookup&, int32_t);
extern template int32_t curveRunEnd(const CurveLookup&, int32_t, int32_t);
extern template int32_t lookupCurveFrom(const CurveLookup&, int32_t, int32_t&);

}  // namespace ondelith
