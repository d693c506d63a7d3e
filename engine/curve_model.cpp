#include "engine/curve_model.h"

#include <algorithm>

#include "engine/numeric.h"

namespace ondelith {

namespace {

// Conversions between grid units and range units, in double precision.
int32_t toRangeX(const CurveModel& e, int32_t x) {
  return roundEven(static_cast<double>(e.rangeX) * x / e.width);
}
int32_t toRangeY(const CurveModel& e, int32_t y) {
  const double ry = e.rangeY;
  return roundEven(ry - ry * y / e.height);
}
int32_t fromRangeX(const CurveModel& e, int32_t x) {
  return roundEven(x / static_cast<double>(e.rangeX) * e.width);
}
int32_t fromRangeY(const CurveModel& e, int32_t y) {
  return roundEven(e.height - y / static_cast<double>(e.rangeY) * e.height);
}

// n points on the middle line of a width x height grid, the last at the
// right edge, the others within width - margin.
template <size_t Capacity>
int layOut(std::array<CurvePoint, Capacity>& points, int32_t width, int32_t height, int n,
           int margin) {
  n = std::clamp(n, 2, static_cast<int>(Capacity));
  const int32_t y = height / 2;
  const double step = (static_cast<double>(width) - margin) / (n - 1);
  points[0] = {0, y};
  for (int i = 1; i < n - 1; ++i) points[static_cast<size_t>(i)] = {roundEven(step * i), y};
  points[static_cast<size_t>(n - 1)] = {width - 1, y};
  return n;
}

}  // namespace

CurvePoint toRangeUnits(const CurveModel& e, CurvePoint p) {
  return {toRangeX(e, p.x), toRangeY(e, p.y)};
}

CurvePoint fromRangeUnits(const CurveModel& e, CurvePoint a) {
  return {fromRangeX(e, a.x), fromRangeY(e, a.y)};
}

CurvePoints startCurvePoints() {
  CurvePoints c;
  c.count =
      layOut(c.points, kCurveGridWidth, kCurveGridHeight, kCurvePointCount, kCurveLayoutMargin);
  return c;
}

void initCurve(CurveModel& e, int32_t width, int32_t height, int pointCount, int margin) {
  // A grid of no size would make every conversion divide by zero.
  e.width = std::max(width, 1);
  e.height = std::max(height, 1);
  setCurveRanges(e, static_cast<float>(e.width), static_cast<float>(e.height));
  layOutCurvePoints(e, pointCount, margin);
}

void layOutCurvePoints(CurveModel& e, int n, int margin) {
  e.pointCount = layOut(e.points, e.width, e.height, n, margin);
}

CurvePoint curvePoint(const CurveModel& e, int index) {
  if (index < 0 || index >= e.pointCount) return {0, 0};
  return e.points[static_cast<size_t>(index)];
}

void moveCurvePoint(CurveModel& e, int index, CurvePoint p) {
  if (index < 0 || index >= e.pointCount) return;
  e.points[static_cast<size_t>(index)] = p;
}

void setCurveRanges(CurveModel& e, float rangeX, float rangeY) {
  e.rangeX = rangeX;
  e.rangeY = rangeY;
}

CurvePoints curvePointsOf(const CurveModel& e) {
  CurvePoints c;
  c.count = std::clamp(e.pointCount, 0, kCurvePointCount);
  std::copy_n(e.points.begin(), c.count, c.points.begin());
  return c;
}

void setCurvePoints(CurveModel& e, const CurvePoints& c) {
  e.pointCount = std::clamp(c.count, 0, kCurvePointCount);
  std::copy_n(c.points.begin(), e.pointCount, e.points.begin());
}

template <int N>
void buildCurveLookup(CurveLookupOf<N>& t, const CurvePoint* pts, int32_t count, int32_t width,
                      int32_t height, float rangeX, float rangeY, int mode) {
  count = std::min(count, N);
  t.count = count;
  if (count < 2 || (mode != LookupPixels && mode != LookupScaled)) {
    t.count = 0;
    return;
  }
  const CurvePoint first = pts[0];
  const CurvePoint last = pts[count - 1];
  if (mode == LookupPixels) {
    t.limit = width;
    t.firstValue = subtractSat(height, first.y);
    t.lastValue = subtractSat(height, last.y);
    for (int32_t i = 0; i < count; ++i) {
      t.X[static_cast<size_t>(i)] = static_cast<float>(pts[i].x);
      t.Y[static_cast<size_t>(i)] = static_cast<float>(subtractSat(height, pts[i].y));
    }
  } else {
    t.limit = roundEven(rangeX);
    const double ry = rangeY;
    t.firstValue = roundEven(ry - ry * first.y / height);
    t.lastValue = roundEven(ry - ry * last.y / height);
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    for (int32_t i = 0; i < count; ++i) {
      const CurvePoint p = pts[i];
      t.X[static_cast<size_t>(i)] = rangeX * static_cast<float>(p.x) / w;
      t.Y[static_cast<size_t>(i)] = rangeY - rangeY * static_cast<float>(p.y) / h;
    }
  }
  t.sorted = true;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const size_t a = static_cast<size_t>(i);
    t.slope[a] = (t.Y[a + 1] - t.Y[a]) / (t.X[a + 1] - t.X[a]);
    t.sorted = t.sorted && t.X[a] <= t.X[a + 1];
  }
}

namespace {

// The interpolation between point b - 1 and point b.
template <int N>
int32_t interpolate(const CurveLookupOf<N>& t, int32_t b, float pos) {
  const size_t a = static_cast<size_t>(b - 1);
  // A vertical step reads as the later point.
  if (t.X[a + 1] == t.X[a]) return roundAway(t.Y[a + 1]);
  const float v = t.Y[a] + t.slope[a] * (pos - t.X[a]);
  return roundAway(v);
}

// Point B of a lookup: the first point right of the position, or the last.
template <int N>
int32_t segmentOf(const CurveLookupOf<N>& t, float pos) {
  int32_t b = 0;
  while (b < t.count && !(t.X[static_cast<size_t>(b)] > pos)) ++b;
  if (b == t.count) b = t.count - 1;
  return b == 0 ? 1 : b;  // points right of the position only: extend the first segment
}

}  // namespace

template <int N>
int32_t lookupCurve(const CurveLookupOf<N>& t, int32_t position) {
  if (t.count < 2 || position < 0 || position > t.limit) return 0;
  if (position == 0) return t.firstValue;
  if (position == t.limit) return t.lastValue;
  const float pos = static_cast<float>(position);
  return interpolate(t, segmentOf(t, pos), pos);
}

template <int N>
int32_t curveRunEnd(const CurveLookupOf<N>& t, int32_t position, int32_t value) {
  if (!t.sorted || t.count < 2 || position <= 0 || position >= t.limit) return position;
  const int32_t segment = segmentOf(t, static_cast<float>(position));
  // Within one segment the value never turns back, so "same segment, same
  // value" holds for a prefix of the positions: search for its end. With X
  // sorted, a later position stays in the segment while the segment's right
  // point is still right of it (the last segment takes everything after),
  // so each probe is one comparison and one interpolation, not two scans.
  const bool lastSegment = segment == t.count - 1;
  const float right = t.X[static_cast<size_t>(segment)];
  const auto same = [&](int64_t p) {
    const float pos = static_cast<float>(p);
    return p < t.limit && (lastSegment || right > pos) && interpolate(t, segment, pos) == value;
  };
  int64_t lo = position;
  int64_t step = 1;
  while (same(lo + step)) {
    lo += step;
    step *= 2;
  }
  int64_t hi = lo + step;  // not in the run
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    (same(mid) ? lo : hi) = mid;
  }
  return static_cast<int32_t>(lo);
}

template <int N>
int32_t lookupCurveFrom(const CurveLookupOf<N>& t, int32_t position, int32_t& cursor) {
  if (!t.sorted || t.count < 2 || position <= 0 || position >= t.limit)
    return lookupCurve(t, position);
  const float pos = static_cast<float>(position);
  const int32_t last = t.count - 1;
  int32_t b = std::clamp(cursor, 1, last);
  // With X sorted, B is the first point right of the position (or the last).
  if (!(t.X[static_cast<size_t>(b - 1)] <= pos)) b = 1;
  while (b < last && !(t.X[static_cast<size_t>(b)] > pos)) ++b;
  if (!(t.X[static_cast<size_t>(b - 1)] <= pos)) return lookupCurve(t, position);
  cursor = b;
  return interpolate(t, b, pos);
}

template void buildCurveLookup(CurveLookup&, const CurvePoint*, int32_t, int32_t, int32_t, float,
                               float, int);
template int32_t lookupCurve(const CurveLookup&, int32_t);
template int32_t curveRunEnd(const CurveLookup&, int32_t, int32_t);
template int32_t lookupCurveFrom(const CurveLookup&, int32_t, int32_t&);

int curveModelValueAt(const CurveModel& e, int mode, int position) {
  if (mode != LookupPixels && mode != LookupScaled) return 0;
  // A large record: one per thread, reused, so no call touches the heap.
  thread_local CurveLookupOf<kMaxCurvePoints> table;
  buildCurveLookup(table, e.points.data(), e.pointCount, e.width, e.height, e.rangeX, e.rangeY,
                   mode);
  return lookupCurve(table, position);
}

void copyCurveModelToArray(const CurveModel& e, std::vector<CurvePoint>& array, int scaled) {
  const int n = e.pointCount;
  array.assign(static_cast<size_t>(n), CurvePoint{0, 0});
  for (int i = 0; i < n; ++i) {
    const CurvePoint p = curvePoint(e, i);
    array[static_cast<size_t>(i)] = scaled ? CurvePoint{toRangeX(e, p.x), toRangeY(e, p.y)}
                                           : CurvePoint{p.x, subtractSat(e.height, p.y)};
  }
}

void copyCurveModelFromArray(CurveModel& e, const std::vector<CurvePoint>& array, int scaled) {
  const int n = e.pointCount;
  if (array.size() != static_cast<size_t>(n)) return;
  for (int i = 0; i < n; ++i) {
    const CurvePoint a = array[static_cast<size_t>(i)];
    CurvePoint& p = e.points[static_cast<size_t>(i)];
    if (i > 0 && i < n - 1) p.x = scaled ? fromRangeX(e, a.x) : a.x;
    p.y = scaled ? fromRangeY(e, a.y) : subtractSat(e.height, a.y);
  }
}

}  // namespace ondelith
