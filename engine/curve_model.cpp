#include "engine/curve_model.h"

#include <algorithm>

#include "engine/numeric.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Conversions between pixels and range units, in double precision.
int32_t toRangeX(const CurveModel& e, int32_t x) {
  return roundEven(static_cast<double>(e.rangeX.load(kRelaxed)) * x / e.width);
}
int32_t toRangeY(const CurveModel& e, int32_t y) {
  const double ry = e.rangeY.load(kRelaxed);
  return roundEven(ry - ry * y / e.height);
}
int32_t fromRangeX(const CurveModel& e, int32_t x) {
  return roundEven(x / static_cast<double>(e.rangeX.load(kRelaxed)) * e.width);
}
int32_t fromRangeY(const CurveModel& e, int32_t y) {
  return roundEven(e.height - y / static_cast<double>(e.rangeY.load(kRelaxed)) * e.height);
}

}  // namespace

// Into the copy that no reader is directed to.
void publishCurve(CurveModel& e) {
  const uint32_t version = e.pointsVersion.load(kRelaxed) + 1;
  PublishedPoints& slot = e.published[version & 1u];
  const uint32_t sequence = slot.sequence.load(kRelaxed);
  slot.sequence.store(sequence + 1, kRelaxed);
  // Release stores: a reader that sees any of the new values also sees the odd sequence.
  constexpr auto kRelease = std::memory_order_release;
  const int32_t n = e.pointCount;
  slot.count.store(n, kRelease);
  for (int32_t i = 0; i < n; ++i) {
    slot.x[static_cast<size_t>(i)].store(e.points[static_cast<size_t>(i)].x, kRelease);
    slot.y[static_cast<size_t>(i)].store(e.points[static_cast<size_t>(i)].y, kRelease);
  }
  slot.sequence.store(sequence + 2, std::memory_order_release);
  e.pointsVersion.store(version, std::memory_order_release);
}

void initCurve(CurveModel& e, int32_t width, int32_t height, int pointCount, int margin) {
  // A grid of no size would make every conversion divide by zero.
  e.width = std::max(width, 1);
  e.height = std::max(height, 1);
  setCurveRanges(e, static_cast<float>(e.width), static_cast<float>(e.height));
  layOutCurvePoints(e, pointCount, margin);
}

void layOutCurvePoints(CurveModel& e, int n, int margin) {
  n = std::clamp(n, 2, kMaxCurvePoints);
  const int32_t y = e.height / 2;
  const double step = (static_cast<double>(e.width) - margin) / (n - 1);
  e.pointCount = n;
  e.points[0] = {0, y};
  for (int i = 1; i < n - 1; ++i) e.points[static_cast<size_t>(i)] = {roundEven(step * i), y};
  e.points[static_cast<size_t>(n - 1)] = {e.width - 1, y};
  publishCurve(e);
}

CurvePoint curvePoint(const CurveModel& e, int index) {
  if (index < 0 || index >= e.pointCount) return {0, 0};
  return e.points[static_cast<size_t>(index)];
}

void moveCurvePoint(CurveModel& e, int index, CurvePoint p) {
  if (index < 0 || index >= e.pointCount) return;
  e.points[static_cast<size_t>(index)] = p;
  publishCurve(e);
}

void setCurveRanges(CurveModel& e, float rangeX, float rangeY) {
  e.rangeX.store(rangeX, kRelaxed);
  e.rangeY.store(rangeY, kRelaxed);
}

bool trySnapshotCurve(const CurveModel& e, CurveSnapshot& out, uint32_t& version) {
  const uint32_t v = e.pointsVersion.load(std::memory_order_acquire);
  const PublishedPoints& slot = e.published[v & 1u];
  const uint32_t before = slot.sequence.load(std::memory_order_acquire);
  if (before & 1u) return false;
  // Acquire loads keep the closing look at the sequence after every copy.
  constexpr auto kAcquire = std::memory_order_acquire;
  const int32_t n = std::clamp(slot.count.load(kAcquire), 0, kMaxCurvePoints);
  for (int32_t i = 0; i < n; ++i)
    out.points[static_cast<size_t>(i)] = {slot.x[static_cast<size_t>(i)].load(kAcquire),
                                          slot.y[static_cast<size_t>(i)].load(kAcquire)};
  if (slot.sequence.load(kRelaxed) != before) return false;
  out.count = n;
  version = v;
  return true;
}

namespace {
// A reader fails only when the writer publishes twice during one copy of a
// few points, so looking again always succeeds soon.
void snapshotCurve(const CurveModel& e, CurveSnapshot& out) {
  uint32_t version = 0;
  while (!trySnapshotCurve(e, out, version)) {
  }
}
}  // namespace

void buildCurveLookup(CurveLookup& t, const CurveSnapshot& snap, int32_t width, int32_t height,
                      float rangeX, float rangeY, int mode) {
  t.count = snap.count;
  if (snap.count < 2 || (mode != LookupPixels && mode != LookupScaled)) {
    t.count = 0;
    return;
  }
  const auto& pts = snap.points;
  const CurvePoint first = pts[0];
  const CurvePoint last = pts[static_cast<size_t>(snap.count - 1)];
  if (mode == LookupPixels) {
    t.limit = width;
    t.firstValue = subtractSat(height, first.y);
    t.lastValue = subtractSat(height, last.y);
    for (int32_t i = 0; i < snap.count; ++i) {
      t.X[static_cast<size_t>(i)] = static_cast<float>(pts[static_cast<size_t>(i)].x);
      t.Y[static_cast<size_t>(i)] =
          static_cast<float>(subtractSat(height, pts[static_cast<size_t>(i)].y));
    }
  } else {
    t.limit = roundEven(rangeX);
    const double ry = rangeY;
    t.firstValue = roundEven(ry - ry * first.y / height);
    t.lastValue = roundEven(ry - ry * last.y / height);
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    for (int32_t i = 0; i < snap.count; ++i) {
      const CurvePoint p = pts[static_cast<size_t>(i)];
      t.X[static_cast<size_t>(i)] = rangeX * static_cast<float>(p.x) / w;
      t.Y[static_cast<size_t>(i)] = rangeY - rangeY * static_cast<float>(p.y) / h;
    }
  }
  t.sorted = true;
  for (int32_t i = 0; i + 1 < snap.count; ++i) {
    const size_t a = static_cast<size_t>(i);
    t.slope[a] = (t.Y[a + 1] - t.Y[a]) / (t.X[a + 1] - t.X[a]);
    t.sorted = t.sorted && t.X[a] <= t.X[a + 1];
  }
}

namespace {

// The interpolation between point b - 1 and point b.
int32_t interpolate(const CurveLookup& t, int32_t b, float pos) {
  const size_t a = static_cast<size_t>(b - 1);
  // A vertical step reads as the later point.
  if (t.X[a + 1] == t.X[a]) return roundAway(t.Y[a + 1]);
  const float v = t.Y[a] + t.slope[a] * (pos - t.X[a]);
  return roundAway(v);
}

}  // namespace

int32_t lookupCurve(const CurveLookup& t, int32_t position) {
  if (t.count < 2 || position < 0 || position > t.limit) return 0;
  if (position == 0) return t.firstValue;
  if (position == t.limit) return t.lastValue;
  const float pos = static_cast<float>(position);
  int32_t b = 0;
  while (b < t.count && !(t.X[static_cast<size_t>(b)] > pos)) ++b;
  if (b == t.count) b = t.count - 1;
  if (b == 0) b = 1;  // only when points sit right of the position: extend the first segment
  return interpolate(t, b, pos);
}

namespace {

// Point B of a lookup in a sorted table.
int32_t segmentOf(const CurveLookup& t, float pos) {
  int32_t b = 0;
  while (b < t.count && !(t.X[static_cast<size_t>(b)] > pos)) ++b;
  if (b == t.count) b = t.count - 1;
  return b == 0 ? 1 : b;
}

}  // namespace

int32_t curveRunEnd(const CurveLookup& t, int32_t position, int32_t value) {
  if (!t.sorted || t.count < 2 || position <= 0 || position >= t.limit) return position;
  const int32_t segment = segmentOf(t, static_cast<float>(position));
  // Within one segment the value never turns back, so "same segment, same
  // value" holds for a prefix of the positions: search for its end.
  const auto same = [&](int64_t p) {
    return p < t.limit && segmentOf(t, static_cast<float>(p)) == segment &&
           lookupCurve(t, static_cast<int32_t>(p)) == value;
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

int32_t lookupCurveFrom(const CurveLookup& t, int32_t position, int32_t& cursor) {
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

int curveModelValueAt(const CurveModel& e, int mode, int position) {
  if (mode != LookupPixels && mode != LookupScaled) return 0;
  // Large records: one per thread, reused, so no call touches the heap.
  thread_local CurveSnapshot snap;
  thread_local CurveLookup table;
  snapshotCurve(e, snap);
  buildCurveLookup(table, snap, e.width, e.height, e.rangeX.load(kRelaxed), e.rangeY.load(kRelaxed),
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
  publishCurve(e);
}

}  // namespace ondelith
