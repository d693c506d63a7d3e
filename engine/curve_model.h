#pragma once
// A drawn curve: a piecewise-linear line of points in a small pixel grid
// (y downward), with the ranges its width and height stand for. One thread
// (a window's, or a host's) owns the points and changes them; the audio
// thread takes consistent copies without ever waiting: each change is
// published whole into one of two copies under a sequence counter.

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace ondelith {

struct CurvePoint {
  int32_t x;
  int32_t y;
  bool operator==(const CurvePoint&) const = default;
};

// The grid every wobble curve is drawn in, and its points.
constexpr int kCurveWidth = 160;
constexpr int kCurveHeight = 70;
constexpr int kCurvePointCount = 8;
// Room kept free at the right edge when points are first laid out.
constexpr int kCurveLayoutMargin = 5;

// Lookup modes: heights in pixels at a pixel position, or in range units at
// a position in range units.
constexpr int LookupPixels = 9;
constexpr int LookupScaled = 10;

// More points than a grid has pixels make no sense; the cap keeps storage
// fixed so the audio thread never sees memory move.
constexpr int kMaxCurvePoints = 1024;

// One published copy of the points.
struct PublishedPoints {
  std::atomic<uint32_t> sequence{0};  // odd while being written
  std::atomic<int32_t> count{0};
  std::array<std::atomic<int32_t>, kMaxCurvePoints> x{};
  std::array<std::atomic<int32_t>, kMaxCurvePoints> y{};
};

struct CurveModel {
  // Shared with the audio thread. The version's parity names the copy to read.
  std::array<PublishedPoints, 2> published;
  std::atomic<uint32_t> pointsVersion{0};
  std::atomic<float> rangeX{0};
  std::atomic<float> rangeY{0};
  int32_t width = kCurveWidth;  // fixed once the curve is in use
  int32_t height = kCurveHeight;

  // The owning thread's own copy.
  int32_t pointCount = 0;
  std::array<CurvePoint, kMaxCurvePoints> points{};
};

// A fresh curve in a width x height grid (at least 1 x 1): n points (2 to
// kMaxCurvePoints) spread evenly on the middle line, the last at the right
// edge, the others within width - margin; ranges equal to the grid.
void initCurve(CurveModel& curve, int32_t width, int32_t height, int pointCount, int margin);
// The points laid out again as initCurve does.
void layOutCurvePoints(CurveModel& curve, int pointCount, int margin);

// Makes the owner's points visible to readers.
void publishCurve(CurveModel& curve);
CurvePoint curvePoint(const CurveModel& curve, int index);
// One point moved, published at once: a lookup sees the old or the new position.
void moveCurvePoint(CurveModel& curve, int index, CurvePoint p);
void setCurveRanges(CurveModel& curve, float rangeX, float rangeY);

// The value at `position` (mode LookupPixels or LookupScaled), 0 for a
// position off the curve or an unknown mode. Owner's thread.
int curveModelValueAt(const CurveModel& curve, int mode, int position);
// The points as an array: scaled to the ranges (y upward), or in pixels with y upward.
void copyCurveModelToArray(const CurveModel& curve, std::vector<CurvePoint>& array, int scaled);
// The reverse; an array of another length changes nothing. End points keep their x.
void copyCurveModelFromArray(CurveModel& curve, const std::vector<CurvePoint>& array, int scaled);

// A consistent copy of the points, for threads other than the owner's.
struct CurveSnapshot {
  int32_t count = 0;
  std::array<CurvePoint, kMaxCurvePoints> points;
};
// Copies the latest published points; false (the writer lapped the reader)
// leaves `out` unusable and `version` untouched.
bool trySnapshotCurve(const CurveModel& curve, CurveSnapshot& out, uint32_t& version);

// A curve prepared for lookups: the points in lookup units, computed once
// for a set of points and ranges.
struct CurveLookup {
  int32_t count = 0;  // below 2: every lookup gives 0
  int32_t limit = 0;  // the largest valid position
  int32_t firstValue = 0;
  int32_t lastValue = 0;
  bool sorted = false;  // X never decreases: lookups may start from a cursor
  std::array<float, kMaxCurvePoints> X;
  std::array<float, kMaxCurvePoints> Y;
  std::array<float, kMaxCurvePoints> slope;  // (Y[i+1] - Y[i]) / (X[i+1] - X[i])
};
void buildCurveLookup(CurveLookup& table, const CurveSnapshot& snap, int32_t width, int32_t height,
                      float rangeX, float rangeY, int mode);
int32_t lookupCurve(const CurveLookup& table, int32_t position);
// The last position of the run that starts at `position` and reads `value`
// there: every position from here to the returned one reads the same value
// (lookups are monotonic within a segment). `position` itself where runs do
// not apply (an unsorted curve, the range's two ends).
int32_t curveRunEnd(const CurveLookup& table, int32_t position, int32_t value);
// The same result as lookupCurve, for positions that mostly advance:
// `cursor` remembers the segment last used.
int32_t lookupCurveFrom(const CurveLookup& table, int32_t position, int32_t& cursor);

}  // namespace ondelith
