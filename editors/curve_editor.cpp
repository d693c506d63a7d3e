#include "editors/curve_editor.h"

#include <algorithm>

#include "engine/numeric.h"

namespace ondelith {

namespace {

void paint(CurveEditorSet& set, int id, const CurveEditor& e) {
  CanvasHost* host = set.host;
  int w = 0, h = 0;
  if (!host || !host->beginPaint(id, w, h)) return;
  const CurveModel& m = *e.model;
  host->fillRect(0, 0, m.width, m.height, e.disabled ? e.disabledColor : e.backgroundColor);
  const int n = m.pointCount;
  const int r = e.handleRadius;
  for (int i = 0; i < n; ++i) {
    const CurvePoint p = curvePoint(m, i);
    host->fillCircle(p.x, p.y, r, e.lineColor);
    if (e.drawLines) {
      const CurvePoint q = curvePoint(m, std::min(i + 1, n - 1));
      host->line(p.x, p.y, q.x, q.y, e.lineColor);
    }
    if (e.drawBars)
      host->fillRect(subtractSat(p.x, r), p.y, saturate(2 * int64_t{r} + 1),
                     subtractSat(m.height, p.y), e.lineColor);
  }
  host->endPaint();
}

}  // namespace

CurveEditor* findCurveEditor(CurveEditorSet& set, int id) {
  if (id == 0) return nullptr;
  for (size_t i = 0; i < set.editors.size(); ++i)
    if (set.ids[i].load(std::memory_order_acquire) == id) return &set.editors[i];
  return nullptr;
}

const CurveEditor* findCurveEditor(const CurveEditorSet& set, int id) {
  return findCurveEditor(const_cast<CurveEditorSet&>(set), id);
}

int createCurveEditor(CurveEditorSet& set, int id, int x, int y, int width, int height,
                      int pointCount, uint32_t lineColor, uint32_t backgroundColor,
                      uint32_t disabledColor, CurveModel* model) {
  if (id != -1 && findCurveEditor(set, id)) {
    redrawCurveEditor(set, id);
    return id;
  }
  size_t slot = 0;
  while (slot < set.ids.size() && set.ids[slot].load(std::memory_order_relaxed) != 0) ++slot;
  if (slot == set.ids.size()) return 0;

  int newId = 0;
  int w = width, h = height;
  if (set.host) {
    newId = set.host->createCanvas(x, y, width, height);
    if (newId == 0) return 0;
    int mw = 0, mh = 0;
    if (set.host->beginPaint(newId, mw, mh)) {
      set.host->endPaint();
      w = mw;
      h = mh;
    }
  } else {
    newId = set.nextHeadlessId++;
  }

  CurveEditor& e = set.editors[slot];
  e.model = model ? model : &e.own;
  e.disabled = 0;
  e.dragIndex = -1;
  e.lineColor = lineColor;
  e.backgroundColor = backgroundColor;
  e.disabledColor = disabledColor;
  e.handleRadius = 5;
  e.grabTolerance = 5;
  e.lockX = 0;
  e.drawLines = 1;
  e.drawBars = 0;
  e.minimumGap = 0;
  e.set = &set;
  e.id = newId;
  initCurve(*e.model, w, h, 0, e.handleRadius);
  set.ids[slot].store(newId, std::memory_order_release);
  setCurveEditorProperty(set, newId, PointCount, pointCount);
  redrawCurveEditor(set, newId);
  return newId;
}

int setCurveEditorProperty(CurveEditorSet& set, int id, int property, int value) {
  CurveEditor* e = findCurveEditor(set, id);
  if (!e) return 0;
  switch (property) {
    case PointCount:
      layOutCurvePoints(*e->model, value, e->handleRadius);
      curveChanged(set, id);
      break;
    case HandleRadius:
      e->handleRadius = value;
      if (e->grabTolerance < value) e->grabTolerance = value;
      break;
    case GrabTolerance: e->grabTolerance = value; break;
    case RangeX: e->model->rangeX = static_cast<float>(value); break;
    case RangeY: e->model->rangeY = static_cast<float>(value); break;
    case LockX: e->lockX = value; break;
    case DrawLines:
      e->drawLines = value != 0;
      if (value != 0) e->drawBars = 0;
      break;
    case DrawBars:
      e->drawBars = value != 0;
      if (value != 0) e->drawLines = 0;
      break;
    case MinimumGap: e->minimumGap = value; break;
    default: break;
  }
  redrawCurveEditor(set, id);
  return 0;
}

int redrawCurveEditor(CurveEditorSet& set, int id) {
  if (const CurveEditor* e = findCurveEditor(set, id)) paint(set, id, *e);
  return 0;
}

int curveValueAt(const CurveEditorSet& set, int id, int mode, int position) {
  const CurveEditor* e = findCurveEditor(set, id);
  return e ? curveModelValueAt(*e->model, mode, position) : 0;
}

int copyCurveToArray(const CurveEditorSet& set, int id, std::vector<CurvePoint>& array,
                     int scaled) {
  const CurveEditor* e = findCurveEditor(set, id);
  if (!e) return 0;
  copyCurveModelToArray(*e->model, array, scaled);
  return 1;
}

int copyCurveFromArray(CurveEditorSet& set, int id, const std::vector<CurvePoint>& array,
                       int scaled) {
  CurveEditor* e = findCurveEditor(set, id);
  if (!e) return 0;
  copyCurveModelFromArray(*e->model, array, scaled);
  curveChanged(set, id);
  redrawCurveEditor(set, id);
  return 0;
}

void curveChanged(CurveEditorSet& set, int id) {
  if (set.changed) set.changed(id);
}

}  // namespace ondelith
