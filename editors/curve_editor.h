#pragma once
// The curve editor's model: a piecewise-linear curve of draggable points,
// named by the control id of its canvas. The UI thread owns it; the audio
// thread looks curves up and sets their ranges without ever waiting: points
// are published under a sequence counter, ranges are atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "editors/canvas.h"

namespace ondelith {

struct CurvePoint {
  int32_t x;
  int32_t y;
  bool operator==(const CurvePoint&) const = default;
};

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
constexpr int LookupPixels = 9;
constexpr int LookupScaled = 10;

// More points than a canvas has pixels make no sense; the cap keeps every
// editor's storage fixed so the audio thread never sees memory move.
constexpr int kMaxCurvePoints = 1024;
constexpr int kMaxCurveEditors = 8;
// Ids handed out when no canvas host exists; clear of every control id.
constexpr int kFirstHeadlessCanvasId = 1000;

// One published copy of an editor's points.
struct PublishedPoints {
  std::atomic<uint32_t> sequence{0};  // odd while being written
  std::atomic<int32_t> count{0};
  std::array<std::atomic<int32_t>, kMaxCurvePoints> x{};
  std::array<std::atomic<int32_t>, kMaxCurvePoints> y{};
};

struct CurveEditor {
  // Shared with the audio thread. Each change of the points is published
  // whole into the copy readers are not directed to, then the version moves
  // on; its parity names the copy to read.
  std::array<PublishedPoints, 2> published;
  std::atomic<uint32_t> pointsVersion{0};
  std::atomic<float> rangeX{0};
  std::atomic<float> rangeY{0};
  int32_t width = 0;  // fixed once the editor is published
  int32_t height = 0;

  // UI thread only.
  int32_t pointCount = 0;
  std::array<CurvePoint, kMaxCurvePoints> points{};
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
};

struct CurveEditorSet {
  std::array<CurveEditor, kMaxCurveEditors> editors;
  std::array<std::atomic<int>, kMaxCurveEditors> ids{};  // 0: slot free
  CanvasHost* host = nullptr;                            // none: headless
  int nextHeadlessId = kFirstHeadlessCanvasId;
};

// The editor named by id, or nullptr. Safe from any thread.
CurveEditor* findCurveEditor(CurveEditorSet& set, int id);
const CurveEditor* findCurveEditor(const CurveEditorSet& set, int id);

int createCurveEditor(CurveEditorSet& set, int id, int x, int y, int width, int height,
                      int pointCount, uint32_t lineColor, uint32_t backgroundColor,
                      uint32_t disabledColor);
int setCurveEditorProperty(CurveEditorSet& set, int id, int property, int value);
int redrawCurveEditor(CurveEditorSet& set, int id);
int curveValueAt(const CurveEditorSet& set, int id, int mode, int position);
int copyCurveToArray(const CurveEditorSet& set, int id, std::vector<CurvePoint>& array, int scaled);
int copyCurveFromArray(CurveEditorSet& set, int id, const std::vector<CurvePoint>& array,
                       int scaled);

// Sets both ranges without painting: the audio thread's way in.
void setCurveRanges(CurveEditor& editor, float rangeX, float rangeY);

// The UI thread's view of its own points, and single-point moves (one
// published change each, so a lookup sees the old or the new position).
CurvePoint curvePoint(const CurveEditor& editor, int index);
void moveCurvePoint(CurveEditor& editor, int index, CurvePoint p);

// A consistent copy of an editor's points, for threads other than the UI's.
struct CurveSnapshot {
  int32_t count = 0;
  std::array<CurvePoint, kMaxCurvePoints> points;
};
// Copies the latest published points; false (the writer lapped the reader)
// leaves `out` unusable and `version` untouched.
bool trySnapshotCurve(const CurveEditor& editor, CurveSnapshot& out, uint32_t& version);

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
// The same result, for positions that mostly advance: `cursor` remembers the
// segment last used.
int32_t lookupCurveFrom(const CurveLookup& table, int32_t position, int32_t& cursor);

}  // namespace ondelith
