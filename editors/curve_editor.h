#pragma once
// The curve editor: paints a curve model on a canvas and drags its points,
// named by the control id of its canvas. The UI thread owns it.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "editors/canvas.h"
#include "engine/curve_model.h"

namespace ondelith {

enum CurveProperty : int {
  PointCount = 0,
  HandleRadius = 1,
  GrabTolerance = 2,
  RangeX = 3,
  RangeY = 4,
  LockX = 5,
  DrawLines = 6,
  DrawBars = 7,
  MinimumGap = 8,
};

constexpr int kMaxCurveEditors = 8;
// Ids handed out when no canvas host exists; clear of every control id.
constexpr int kFirstHeadlessCanvasId = 1000;

struct CurveEditorSet;

struct CurveEditor {
  // The curve it paints and drags: its own, or one it was given (an instrument's).
  CurveModel own;
  CurveModel* model = &own;

  int32_t disabled = 0;
  int32_t dragIndex = -1;
  uint32_t lineColor = 0;
  uint32_t backgroundColor = 0;
  uint32_t disabledColor = 0;
  int32_t handleRadius = 5;
  int32_t grabTolerance = 5;
  int32_t lockX = 0;
  int32_t drawLines = 1;
  int32_t drawBars = 0;
  int32_t minimumGap = 0;
  CurveEditorSet* set = nullptr;  // its set and id, to tell of changes
  int id = 0;
};

struct CurveEditorSet {
  std::array<CurveEditor, kMaxCurveEditors> editors;
  std::array<std::atomic<int>, kMaxCurveEditors> ids{};  // 0: slot free
  CanvasHost* host = nullptr;                            // none: headless
  int nextHeadlessId = kFirstHeadlessCanvasId;
  // Told the editor's id whenever a curve's points change.
  std::function<void(int id)> changed;
};

// Tells the set's listener that editor `id`'s points changed.
void curveChanged(CurveEditorSet& set, int id);

// The editor named by id, or nullptr. Safe from any thread.
CurveEditor* findCurveEditor(CurveEditorSet& set, int id);
const CurveEditor* findCurveEditor(const CurveEditorSet& set, int id);

// `model`, when given, is the curve the editor shows and changes (laid out
// afresh); otherwise the editor keeps its own.
int createCurveEditor(CurveEditorSet& set, int id, int x, int y, int width, int height,
                      int pointCount, uint32_t lineColor, uint32_t backgroundColor,
                      uint32_t disabledColor, CurveModel* model = nullptr);
int setCurveEditorProperty(CurveEditorSet& set, int id, int property, int value);
int redrawCurveEditor(CurveEditorSet& set, int id);
int curveValueAt(const CurveEditorSet& set, int id, int mode, int position);
int copyCurveToArray(const CurveEditorSet& set, int id, std::vector<CurvePoint>& array, int scaled);
int copyCurveFromArray(CurveEditorSet& set, int id, const std::vector<CurvePoint>& array,
                       int scaled);

// The editor's own view of its curve's points, and single-point moves.
inline CurvePoint curvePoint(const CurveEditor& editor, int index) {
  return curvePoint(*editor.model, index);
}
inline void moveCurvePoint(CurveEditor& editor, int index, CurvePoint p) {
  moveCurvePoint(*editor.model, index, p);
  if (editor.set) curveChanged(*editor.set, editor.id);
}

}  // namespace ondelith
