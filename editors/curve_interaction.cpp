#include "editors/curve_interaction.h"

#include <algorithm>

#include "engine/numeric.h"

namespace ondelith {

namespace {

void showPointer(CurveEditorSet& set, int id, PointerShape shape) {
  if (set.host) set.host->setPointerShape(id, shape);
}

// Where the held point goes for a pointer at (mx, my); the neighbours stay.
// Wide arithmetic: points put anywhere by an array must not overflow it.
CurvePoint dragTarget(const CurveEditor& e, int d, int64_t mx, int64_t my) {
  const CurveModel& m = *e.model;
  const int n = m.pointCount;
  const int64_t w = m.width, r = e.handleRadius, g = e.minimumGap;
  const auto at = [&m](int i) { return m.points[static_cast<size_t>(i)]; };
  if (d == 0 || d == n - 1) return {d == 0 ? 0 : m.width, static_cast<int32_t>(my)};

  const CurvePoint a1 = at(d - 1), c = at(d), b1 = at(d + 1);
  if (d >= 2 && d <= n - 3 && a1.x == c.x && c.x == b1.x) {  // a vertical column
    if (my > b1.y - r) my = b1.y - r;
    if (my < a1.y + r) my = a1.y + r;
  }
  if (mx < r) mx = r;
  if (mx > w - r) mx = w - r;
  if (mx < a1.x + g) {
    mx = a1.x + g;
    if (a1.y - r < my && my < a1.y + r) mx += r;
    if (d >= 3 && mx == at(d - 2).x) {
      const CurvePoint a2 = at(d - 2);
      if (a2.y > a1.y ? my > a1.y : my < a1.y) mx += r;
    }
  }
  if (mx > b1.x - g) {
    mx = b1.x - g;
    if (b1.y - r < my && my < b1.y + r) mx -= r;
    if (d <= n - 3 && mx == at(d + 2).x) {
      const CurvePoint b2 = at(d + 2);
      if (b2.y > b1.y ? my > b1.y : my < b1.y) mx -= r;
    }
  }
  return {saturate(mx), saturate(my)};
}

}  // namespace

namespace {

// A point whose grab square lies wholly off the canvas (a patch can put it
// there) would be out of the pointer's reach for good: it is grabbed from
// the nearest edge instead.
int64_t reachable(int64_t p, int64_t t, int64_t size) {
  const bool reaches = p - t + 1 <= size - 1 && p + t - 1 >= 0;
  return reaches ? p : std::clamp<int64_t>(p, 0, std::max<int64_t>(size - 1, 0));
}

}  // namespace

int findPointAt(const CurveEditor& e, int x, int y) {
  const int64_t t = e.grabTolerance;
  const CurveModel& m = *e.model;
  for (int i = 0; i < m.pointCount; ++i) {
    const CurvePoint p = m.points[static_cast<size_t>(i)];
    const int64_t px = reachable(p.x, t, m.width), py = reachable(p.y, t, m.height);
    if (px - t < x && x < px + t && py - t < y && y < py + t) return i;
  }
  return -1;
}

int handleCurveEditorEvent(CurveEditorSet& set, int id, PointerAction action, int x, int y) {
  CurveEditor* e = findCurveEditor(set, id);
  if (!e) return 0;
  if (e->disabled) {
    showPointer(set, id, PointerShape::NotAllowed);
    return 0;
  }
  CurveModel& m = *e->model;
  const int mx = std::clamp(x, 0, std::max(m.width - 1, 0));
  const int my = std::clamp(y, 0, std::max(m.height - 1, 0));
  switch (action) {
    case PointerAction::Press:
      if (e->dragIndex == -1) e->dragIndex = findPointAt(*e, mx, my);
      break;
    case PointerAction::Move:
      if (e->dragIndex < 0 || e->dragIndex >= m.pointCount) {
        showPointer(set, id,
                    findPointAt(*e, mx, my) >= 0 ? PointerShape::Hand : PointerShape::Arrow);
        break;
      }
      {
        const CurvePoint target = dragTarget(*e, e->dragIndex, mx, my);
        const CurvePoint held = curvePoint(m, e->dragIndex);
        const CurvePoint moved{e->lockX ? held.x : target.x, target.y};
        if (moved != held) {
          moveCurvePoint(m, e->dragIndex, moved);
          curveChanged(set, id);
        }
        redrawCurveEditor(set, id);
      }
      break;
    case PointerAction::Release:
      if (e->dragIndex != -1) {
        e->dragIndex = -1;
        return 1;
      }
      break;
    case PointerAction::None: break;
  }
  return 0;
}

}  // namespace ondelith
