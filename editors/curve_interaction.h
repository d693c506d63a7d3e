#pragma once
// Dragging a curve editor's points with the pointer.

#include "editors/curve_editor.h"

namespace ondelith {

// The first point, in list order, whose grab square holds (x, y); -1 if none.
int findPointAt(const CurveEditor& editor, int x, int y);

// One pointer event that the editor's canvas reported (position in canvas
// pixels): a press grabs a point, moves drag it under the rules that keep
// the curve in shape, the release lets go. 1 for the release that ends a
// drag, else 0.
int handleCurveEditorEvent(CurveEditorSet& set, int id, PointerAction action, int x, int y);

}  // namespace ondelith
