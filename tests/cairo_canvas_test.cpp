#include "editors/cairo_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "editors/curve_editor.h"
#include "editors/curve_interaction.h"
#include "editors/waveform_display.h"

namespace ondelith {
namespace {

constexpr uint32_t kLine = 0x00FFFF;  // yellow: 0x00BBGGRR
constexpr uint32_t kBack = 0x400000;  // dark blue
constexpr int kPlaceX = 220, kPlaceY = 240;

// The surface's pixel as 0x00BBGGRR, like the canvas colours.
uint32_t pixel(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  const unsigned char* row =
      cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
  return ((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16);
}

struct Panel {
  CairoCanvasHost host;
  CurveEditorSet set;
  int id = 0;
  explicit Panel(double scale) : host(scale) {
    set.host = &host;
    id = createCurveEditor(set, -1, kPlaceX, kPlaceY, kCurveGridWidth, kCurveGridHeight, 8, kLine,
                           kBack, 0xE0E0E0);
    setCurveEditorProperty(set, id, HandleRadius, 3);
    setCurveEditorProperty(set, id, GrabTolerance, 10);
  }
  CurveEditor& editor() { return *findCurveEditor(set, id); }
  // A pointer event at the device position of grid point (gx, gy), off by
  // `off` grid units, as a panel's window reports it.
  void event(PointerAction a, int gx, int gy, double off) {
    const double s = host.scale();
    int x = 0, y = 0;
    host.toCanvas(id, (kPlaceX + gx + off) * s, (kPlaceY + gy + off) * s, x, y);
    handleCurveEditorEvent(set, id, a, x, y);
  }
};

TEST(CairoCanvas, CurveEditorPaintsItsModelAtEveryScale) {
  for (double scale : {1.0, 1.5, 2.0}) {
    SCOPED_TRACE(scale);
    Panel p(scale);
    cairo_surface_t* s = p.host.surface(p.id);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(s), std::lround(kCurveGridWidth * scale));
    EXPECT_EQ(cairo_image_surface_get_height(s), std::lround(kCurveGridHeight * scale));
    // Every handle is painted where the model has its point; the corners,
    // far from the middle line, are background.
    const CurveModel& m = *p.editor().model;
    ASSERT_EQ(m.pointCount, 8);
    for (int i = 0; i < m.pointCount; ++i) {
      const CurvePoint q = curvePoint(m, i);
      const int px =
          std::min(static_cast<int>((q.x + 0.5) * scale), cairo_image_surface_get_width(s) - 1);
      EXPECT_EQ(pixel(s, px, static_cast<int>((q.y + 0.5) * scale)), kLine) << "point " << i;
    }
    EXPECT_EQ(pixel(s, 1, 1), kBack);
    EXPECT_EQ(pixel(s, cairo_image_surface_get_width(s) - 2, cairo_image_surface_get_height(s) - 2),
              kBack);
  }
}

// A drag lands on the grid point nearest the pointer: the same drag at any
// scale leaves the same curve, and the picture follows the model.
TEST(CairoCanvas, DragMapsToTheGridByRounding) {
  Panel reference(1.0);
  const CurvePoint start = curvePoint(reference.editor(), 3);
  const int tx = start.x + 7, ty = 12;
  reference.event(PointerAction::Press, start.x, start.y, 0);
  reference.event(PointerAction::Move, tx, ty, 0);
  reference.event(PointerAction::Release, tx, ty, 0);
  const CurvePoint moved = curvePoint(reference.editor(), 3);
  ASSERT_NE(moved.y, start.y);

  for (double scale : {1.5, 2.0, 3.0})
    for (double off : {-0.4, 0.4}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << " offset " << off);
      Panel p(scale);
      p.event(PointerAction::Press, start.x, start.y, off);
      p.event(PointerAction::Move, tx, ty, off);
      p.event(PointerAction::Release, tx, ty, off);
      for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(curvePoint(p.editor(), i).x, curvePoint(reference.editor(), i).x) << i;
        EXPECT_EQ(curvePoint(p.editor(), i).y, curvePoint(reference.editor(), i).y) << i;
      }
      cairo_surface_t* s = p.host.surface(p.id);
      EXPECT_EQ(pixel(s, static_cast<int>((moved.x + 0.5) * scale),
                      static_cast<int>((moved.y + 0.5) * scale)),
                kLine);
    }
}

// The display's trace is where waveformRows puts it, and the picture at
// scale 2 is the scale-1 picture at twice the size.
TEST(CairoCanvas, WaveformDisplayScalesWhole) {
  CairoCanvasHost one(1.0), two(2.0);
  const int a = one.createCanvas(10, 10, kDisplayWidth, kDisplayHeight);
  const int b = two.createCanvas(10, 10, kDisplayWidth, kDisplayHeight);
  redrawWaveformDisplay(one, a, 0.3f, 0.8f, 0.6f, -0.7f);
  redrawWaveformDisplay(two, b, 0.3f, 0.8f, 0.6f, -0.7f);
  const auto rows = waveformRows(0.3f, 0.8f, 0.6f, -0.7f);
  cairo_surface_t* s1 = one.surface(a);
  cairo_surface_t* s2 = two.surface(b);
  for (int col : {0, 57, 133, 250, 398}) {
    const int row = std::clamp(rows[static_cast<size_t>(col)], 0, kDisplayHeight - 1);
    EXPECT_NE(pixel(s1, col, row), 0u) << col;
  }
  long differ = 0;
  for (int y = 0; y < kDisplayHeight; ++y)
    for (int x = 0; x < kDisplayWidth; ++x) {
      const int g1 = static_cast<int>(pixel(s1, x, y) & 0xFF);
      int g2 = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          g2 += static_cast<int>(pixel(s2, 2 * x + dx, 2 * y + dy) & 0xFF);
      if (std::abs(g1 - g2 / 4) > 96) ++differ;
    }
  EXPECT_LT(differ, kDisplayWidth * kDisplayHeight / 100);
}

TEST(CairoCanvas, PointerFindsTheCanvasAtItsScaledPlace) {
  CairoCanvasHost host(2.0);
  const int id = host.createCanvas(220, 240, kCurveGridWidth, kCurveGridHeight);
  EXPECT_EQ(host.canvasAt(440, 480), id);
  EXPECT_EQ(host.canvasAt(439, 480), 0);
  EXPECT_EQ(host.canvasAt(440 + 2 * kCurveGridWidth, 480), 0);
  int x = 0, y = 0;
  host.toCanvas(id, 440 + 2 * 159 + 1.2, 480 + 2 * 69 + 0.8, x, y);
  EXPECT_EQ(x, 160);
  EXPECT_EQ(y, 69);
}

}  // namespace
}  // namespace ondelith
