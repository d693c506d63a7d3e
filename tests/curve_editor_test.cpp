#include "editors/curve_editor.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/numeric.h"

namespace ondelith {
namespace {

constexpr int kNoId = -1;

// Records the drawing passes an editor makes.
class RecordingHost : public CanvasHost {
 public:
  std::vector<std::string> ops;
  int passes = 0;
  int nextId = 500;
  bool failPaint = false;
  int createCanvas(int, int, int, int) override { return nextId++; }
  bool beginPaint(int, int& w, int& h) override {
    if (failPaint) return false;
    ++passes;
    w = 160;
    h = 70;
    ops.clear();
    return true;
  }
  void fillRect(int x, int y, int w, int h, uint32_t c) override {
    ops.push_back("rect " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) +
                  "x" + std::to_string(h) + " " + std::to_string(c));
  }
  void fillCircle(int x, int y, int r, uint32_t c) override {
    ops.push_back("circle " + std::to_string(x) + "," + std::to_string(y) + " r" +
                  std::to_string(r) + " " + std::to_string(c));
  }
  void line(int x0, int y0, int x1, int y1, uint32_t c) override {
    ops.push_back("line " + std::to_string(x0) + "," + std::to_string(y0) + "-" +
                  std::to_string(x1) + "," + std::to_string(y1) + " " + std::to_string(c));
  }
  void endPaint() override {}
  void setPointerShape(int, PointerShape) override {}
};

struct Editors {
  std::unique_ptr<CurveEditorSet> set = std::make_unique<CurveEditorSet>();
  int make(int w = 160, int h = 70, int points = 8) {
    return createCurveEditor(*set, kNoId, 220, 240, w, h, points, 0xFFFFFF, 0x000000, 0xE0E0E0);
  }
  CurveEditor& ed(int id) { return *findCurveEditor(*set, id); }
  std::vector<CurvePoint> points(int id) {
    std::vector<CurvePoint> a;
    copyCurveToArray(*set, id, a, 0);
    for (CurvePoint& p : a) p.y = ed(id).model->height - p.y;  // back to pixels
    return a;
  }
};

TEST(CurveEditor, EightPointLayout) {
  Editors e;
  const int id = e.make();
  ASSERT_NE(id, 0);
  const std::vector<int> xs = {0, 22, 44, 66, 89, 111, 133, 159};
  const auto pts = e.points(id);
  ASSERT_EQ(pts.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(pts[i].x, xs[i]);
    EXPECT_EQ(pts[i].y, 35);
  }
  // A later radius does not move the points.
  setCurveEditorProperty(*e.set, id, HandleRadius, 3);
  EXPECT_EQ(e.points(id)[4].x, 89);
}

TEST(CurveEditor, TooFewPointsBecomeTwo) {
  Editors e;
  const int id = e.make();
  for (int n : {1, 0, -7, std::numeric_limits<int>::min()}) {
    setCurveEditorProperty(*e.set, id, PointCount, n);
    const auto pts = e.points(id);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0], (CurvePoint{0, 35}));
    EXPECT_EQ(pts[1], (CurvePoint{159, 35}));
  }
  setCurveEditorProperty(*e.set, id, PointCount, std::numeric_limits<int>::max());
  EXPECT_EQ(e.ed(id).model->pointCount, kMaxCurvePoints);
}

TEST(CurveEditor, PropertyRules) {
  Editors e;
  const int id = e.make();
  CurveEditor& ed = e.ed(id);
  EXPECT_EQ(ed.handleRadius, 5);
  EXPECT_EQ(ed.grabTolerance, 5);
  EXPECT_EQ(ed.model->rangeX, 160.0f);
  EXPECT_EQ(ed.model->rangeY, 70.0f);
  setCurveEditorProperty(*e.set, id, GrabTolerance, 10);
  setCurveEditorProperty(*e.set, id, HandleRadius, 12);
  EXPECT_EQ(ed.grabTolerance, 12);
  setCurveEditorProperty(*e.set, id, GrabTolerance, 2);
  EXPECT_EQ(ed.grabTolerance, 2);
  EXPECT_EQ(ed.handleRadius, 12);

  setCurveEditorProperty(*e.set, id, DrawLines, 0);
  setCurveEditorProperty(*e.set, id, DrawBars, 0);
  EXPECT_EQ(ed.drawLines, 0);
  EXPECT_EQ(ed.drawBars, 0);
  setCurveEditorProperty(*e.set, id, DrawBars, 5);
  EXPECT_EQ(ed.drawBars, 1);
  EXPECT_EQ(ed.drawLines, 0);
  setCurveEditorProperty(*e.set, id, DrawLines, 1);
  EXPECT_EQ(ed.drawLines, 1);
  EXPECT_EQ(ed.drawBars, 0);

  setCurveEditorProperty(*e.set, id, RangeX, 88199);
  EXPECT_EQ(ed.model->rangeX, 88199.0f);
  setCurveEditorProperty(*e.set, id, LockX, 1);
  setCurveEditorProperty(*e.set, id, MinimumGap, 4);
  EXPECT_EQ(ed.lockX, 1);
  EXPECT_EQ(ed.minimumGap, 4);
  EXPECT_EQ(setCurveEditorProperty(*e.set, 4242, LockX, 0), 0);  // no such editor
}

TEST(CurveEditor, PaintingAndRepaints) {
  Editors e;
  RecordingHost host;
  e.set->host = &host;
  const int id = createCurveEditor(*e.set, kNoId, 0, 0, 160, 70, 2, 0xFFFFFF, 0x000000, 0xE0E0E0);
  EXPECT_EQ(id, 500);
  EXPECT_EQ(host.passes, 3);  // measuring, the layout's paint and one more
  EXPECT_EQ(host.ops,
            (std::vector<std::string>{"rect 0,0 160x70 0", "circle 0,35 r5 16777215",
                                      "line 0,35-159,35 16777215", "circle 159,35 r5 16777215",
                                      "line 159,35-159,35 16777215"}));
  // A property outside the table changes nothing but still repaints.
  setCurveEditorProperty(*e.set, id, 99, 1);
  EXPECT_EQ(host.passes, 4);
  // Bars instead of lines, on the disabled background.
  e.ed(id).disabled = 1;
  setCurveEditorProperty(*e.set, id, DrawBars, 1);
  EXPECT_EQ(host.ops,
            (std::vector<std::string>{"rect 0,0 160x70 14737632", "circle 0,35 r5 16777215",
                                      "rect -5,35 11x35 16777215", "circle 159,35 r5 16777215",
                                      "rect 154,35 11x35 16777215"}));
  // Asking again for an existing editor repaints it and creates nothing.
  EXPECT_EQ(createCurveEditor(*e.set, id, 0, 0, 10, 10, 3, 0, 0, 0), id);
  EXPECT_EQ(host.passes, 6);
  EXPECT_EQ(e.ed(id).model->pointCount, 2);
  // A failed pass paints nothing and keeps the record.
  host.failPaint = true;
  setCurveEditorProperty(*e.set, id, HandleRadius, 7);
  EXPECT_EQ(host.passes, 6);
  EXPECT_EQ(e.ed(id).handleRadius, 7);
}

TEST(CurveEditor, ScaledCopyOfTheStartLayout) {
  Editors e;
  const int id = e.make();
  setCurveEditorProperty(*e.set, id, RangeX, 380);
  setCurveEditorProperty(*e.set, id, RangeY, 10000);
  std::vector<CurvePoint> a(3);
  EXPECT_EQ(copyCurveToArray(*e.set, id, a, 1), 1);
  const std::vector<int> xs = {0, 52, 104, 157, 211, 264, 316, 378};
  ASSERT_EQ(a.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(a[i].x, xs[i]);
    EXPECT_EQ(a[i].y, 5000);
  }
  std::vector<CurvePoint> untouched(3, CurvePoint{7, 7});
  EXPECT_EQ(copyCurveToArray(*e.set, 4242, untouched, 1), 0);
  EXPECT_EQ(untouched.size(), 3u);
}

TEST(CurveEditor, LookupOverTheWholeWobbleDuration) {
  Editors e;
  const int id = e.make();
  setCurveEditorProperty(*e.set, id, RangeX, 88199);
  setCurveEditorProperty(*e.set, id, RangeY, 100);
  for (int pos = 0; pos <= 88199; ++pos)
    ASSERT_EQ(curveValueAt(*e.set, id, LookupScaled, pos), 50) << pos;
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 88200), 0);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, -1), 0);
  EXPECT_EQ(curveValueAt(*e.set, id, 11, 5), 0);
  EXPECT_EQ(curveValueAt(*e.set, 4242, LookupScaled, 5), 0);
}

TEST(CurveEditor, TopAndBottomRowsInPercent) {
  Editors e;
  const int id = e.make();
  setCurveEditorProperty(*e.set, id, RangeX, 1000);
  setCurveEditorProperty(*e.set, id, RangeY, 100);
  CurveEditor& ed = e.ed(id);
  for (int i = 0; i < 4; ++i) moveCurvePoint(ed, i, {curvePoint(ed, i).x, 0});
  for (int i = 4; i < 8; ++i) moveCurvePoint(ed, i, {curvePoint(ed, i).x, 69});
  std::vector<CurvePoint> a;
  copyCurveToArray(*e.set, id, a, 1);
  EXPECT_EQ(a[0].y, 100);
  EXPECT_EQ(a[7].y, 1);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 0), 100);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 1000), 1);
  const int x3 = roundEven(1000.0 * 66 / 160);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, x3), 100);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 700), 1);
}

TEST(CurveEditor, VerticalStepTakesTheLaterPoint) {
  Editors e;
  const int id = e.make(200, 100);
  CurveEditor& ed = e.ed(id);
  moveCurvePoint(ed, 1, {50, 60});   // Y = 40
  moveCurvePoint(ed, 2, {100, 80});  // Y = 20
  moveCurvePoint(ed, 3, {100, 20});  // Y = 80
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 100), 80);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 99), 20);  // 40 + (20 - 40) * 49 / 50 = 20.4
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 75), 30);
  // Pixel mode ends at the width with the last point's height.
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 0), 50);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 200), 50);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 201), 0);
}

TEST(CurveEditor, HalvesRoundAwayFromZeroInLookups) {
  Editors e;
  const int id = e.make(100, 100, 2);
  CurveEditor& ed = e.ed(id);
  moveCurvePoint(ed, 0, {0, 100});  // Y = 0
  moveCurvePoint(ed, 1, {4, 98});   // X = 4, Y = 2: slope one half
  setCurveRanges(*ed.model, 100.0f, 100.0f);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 1), 1);  // 0.5
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 2), 1);
  // Past the last point the last segment continues: 2.5.
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 5), 3);
  // The range's two ends read the end points, halves to even.
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 100), 2);
}

TEST(CurveEditor, CopyFromArrayKeepsTheEnds) {
  Editors e;
  const int id = e.make();
  const auto before = e.points(id);
  copyCurveFromArray(*e.set, id, std::vector<CurvePoint>(7, CurvePoint{10, 10}), 0);
  EXPECT_EQ(e.points(id), before);
  std::vector<CurvePoint> a(8, CurvePoint{70, 60});
  copyCurveFromArray(*e.set, id, a, 0);
  const auto after = e.points(id);
  EXPECT_EQ(after[0], (CurvePoint{0, 10}));
  EXPECT_EQ(after[3], (CurvePoint{70, 10}));
  EXPECT_EQ(after[7], (CurvePoint{159, 10}));
}

TEST(CurveEditor, ScaledRoundTripKeepsEveryPixel) {
  Editors e;
  const int id = e.make();
  CurveEditor& ed = e.ed(id);
  std::mt19937 rng(7);
  for (const auto& [rx, ry] :
       std::vector<std::pair<int, int>>{{380, 10000}, {160, 70}, {88199, 100}, {440999, 100}}) {
    setCurveEditorProperty(*e.set, id, RangeX, rx);
    setCurveEditorProperty(*e.set, id, RangeY, ry);
    for (int trial = 0; trial < 200; ++trial) {
      for (int i = 0; i < 8; ++i) {
        const int x = (i == 0) ? 0 : (i == 7 ? 159 : static_cast<int>(rng() % 160));
        moveCurvePoint(ed, i, {x, static_cast<int>(rng() % 70)});
      }
      const auto before = e.points(id);
      std::vector<CurvePoint> a;
      copyCurveToArray(*e.set, id, a, 1);
      copyCurveFromArray(*e.set, id, a, 1);
      ASSERT_EQ(e.points(id), before) << rx << " " << ry;
    }
  }
}

TEST(CurveEditor, HostileValuesStayDefined) {
  Editors e;
  const int id = e.make();
  CurveEditor& ed = e.ed(id);
  constexpr int kMin = std::numeric_limits<int>::min();
  constexpr int kMax = std::numeric_limits<int>::max();
  std::vector<CurvePoint> wild = {{kMin, kMin}, {kMax, kMax}, {kMin, kMax}, {5, 5},
                                  {-3, 9000},   {kMax, 0},    {0, kMin},    {1, 1}};
  copyCurveFromArray(*e.set, id, wild, 0);
  copyCurveFromArray(*e.set, id, wild, 1);
  for (int rx : {0, -5, 1, kMax}) {
    setCurveEditorProperty(*e.set, id, RangeX, rx);
    for (int pos : {kMin, -1, 0, 1, 80, 159, 160, kMax}) {
      curveValueAt(*e.set, id, LookupScaled, pos);
      curveValueAt(*e.set, id, LookupPixels, pos);
    }
  }
  // A range of 0 or below leaves only position 0.
  setCurveEditorProperty(*e.set, id, RangeX, 0);
  setCurveEditorProperty(*e.set, id, RangeY, 100);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 1), 0);
  setCurveEditorProperty(*e.set, id, RangeX, -5);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 1), 0);
  std::vector<CurvePoint> a;
  copyCurveToArray(*e.set, id, a, 1);
  copyCurveToArray(*e.set, id, a, 0);
  EXPECT_EQ(a.size(), 8u);
  // The last two points sharing an x: beyond it, the last point's value.
  setCurveEditorProperty(*e.set, id, PointCount, 8);
  setCurveRanges(*ed.model, 160.0f, 70.0f);
  moveCurvePoint(ed, 6, {159, 10});
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 159), 35);
  EXPECT_EQ(curveValueAt(*e.set, id, LookupScaled, 160), 35);
  // Points right of the position (an array put them there): still a value.
  moveCurvePoint(ed, 0, {100, 0});
  // 70 + (35 - 70) / (22 - 100) * (50 - 100): the first segment, extended.
  EXPECT_EQ(curveValueAt(*e.set, id, LookupPixels, 50), 48);
}

TEST(CurveEditor, SetIsBoundedAndIdsAreDistinct) {
  Editors e;
  std::vector<int> ids;
  for (int i = 0; i < kMaxCurveEditors; ++i) ids.push_back(e.make());
  for (size_t i = 1; i < ids.size(); ++i) EXPECT_NE(ids[i], ids[i - 1]);
  EXPECT_GE(ids[0], kFirstHeadlessCanvasId);
  EXPECT_EQ(e.make(), 0);
  // A canvas that cannot be made: no record.
  Editors f;
  struct NoCanvas : RecordingHost {
    int createCanvas(int, int, int, int) override { return 0; }
  } host;
  f.set->host = &host;
  EXPECT_EQ(f.make(), 0);
  EXPECT_EQ(findCurveEditor(*f.set, 0), nullptr);
}

}  // namespace
}  // namespace ondelith
