#pragma once
// A canvas host over Cairo image surfaces, for panels that are not the Qt
// window (the plugin's). Canvases keep their picture in logical units (a
// curve editor's grid, the display's 400 x 200) and are drawn at `scale`
// device pixels per unit, so the editors paint the same at any size.

#include <cairo.h>

#include <cstdint>
#include <vector>

#include "editors/canvas.h"

namespace ondelith {

class CairoCanvasHost : public CanvasHost {
 public:
  explicit CairoCanvasHost(double scale = 1.0);
  ~CairoCanvasHost() override;
  CairoCanvasHost(const CairoCanvasHost&) = delete;
  CairoCanvasHost& operator=(const CairoCanvasHost&) = delete;

  int createCanvas(int x, int y, int width, int height) override;
  bool beginPaint(int id, int& width, int& height) override;
  void fillRect(int x, int y, int width, int height, uint32_t color) override;
  void fillCircle(int cx, int cy, int radius, uint32_t color) override;
  void line(int x0, int y0, int x1, int y1, uint32_t color) override;
  void endPaint() override;
  void setPointerShape(int id, PointerShape shape) override;

  double scale() const { return scale_; }
  // A new scale redraws nothing: the owner repaints every canvas after it.
  void setScale(double scale);

  // The canvas's picture at device size, owned by the host; nullptr if no such canvas.
  cairo_surface_t* surface(int id) const;
  // The canvas's place in logical units.
  bool place(int id, int& x, int& y, int& width, int& height) const;
  // The canvas whose device rectangle holds (deviceX, deviceY), or 0.
  int canvasAt(double deviceX, double deviceY) const;
  // A device position as the canvas's own logical point, rounded to the
  // nearest, so a drag ends on the same grid point at every scale.
  void toCanvas(int id, double deviceX, double deviceY, int& x, int& y) const;
  PointerShape pointerShape(int id) const;
  // Copies every canvas onto `cr` at its device place.
  void composite(cairo_t* cr) const;

 private:
  struct Canvas {
    int id, x, y, w, h;
    cairo_surface_t* surface;
    PointerShape shape;
  };
  const Canvas* find(int id) const;
  cairo_surface_t* makeSurface(int w, int h) const;

  double scale_;
  std::vector<Canvas> canvases_;
  cairo_t* painting_ = nullptr;
  int nextId_ = 1;
};

}  // namespace ondelith
