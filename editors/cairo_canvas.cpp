#include "editors/cairo_canvas.h"

#include <algorithm>
#include <cmath>

namespace ondelith {

namespace {

void setColor(cairo_t* cr, uint32_t c) {
  cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                       ((c >> 16) & 0xFF) / 255.0);
}

int deviceSize(int logical, double scale) {
  return std::max(1, static_cast<int>(std::lround(logical * scale)));
}

}  // namespace

CairoCanvasHost::CairoCanvasHost(double scale) : scale_(scale > 0 ? scale : 1.0) {}

CairoCanvasHost::~CairoCanvasHost() {
  if (painting_) cairo_destroy(painting_);
  for (Canvas& c : canvases_) cairo_surface_destroy(c.surface);
}

cairo_surface_t* CairoCanvasHost::makeSurface(int w, int h) const {
  return cairo_image_surface_create(CAIRO_FORMAT_RGB24, deviceSize(w, scale_),
                                    deviceSize(h, scale_));
}

int CairoCanvasHost::createCanvas(int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  cairo_surface_t* s = makeSurface(width, height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return 0;
  }
  canvases_.push_back({nextId_, x, y, width, height, s, PointerShape::Arrow});
  return nextId_++;
}

void CairoCanvasHost::setScale(double scale) {
  if (!(scale > 0) || scale == scale_) return;
  scale_ = scale;
  for (Canvas& c : canvases_) {
    cairo_surface_destroy(c.surface);
    c.surface = makeSurface(c.w, c.h);
  }
}

const CairoCanvasHost::Canvas* CairoCanvasHost::find(int id) const {
  for (const Canvas& c : canvases_)
    if (c.id == id) return &c;
  return nullptr;
}

bool CairoCanvasHost::beginPaint(int id, int& width, int& height) {
  const Canvas* c = find(id);
  if (!c || painting_) return false;
  painting_ = cairo_create(c->surface);
  cairo_scale(painting_, scale_, scale_);
  cairo_rectangle(painting_, 0, 0, c->w, c->h);
  cairo_clip(painting_);
  width = c->w;
  height = c->h;
  return true;
}

void CairoCanvasHost::endPaint() {
  if (!painting_) return;
  cairo_surface_t* s = cairo_get_target(painting_);
  cairo_destroy(painting_);
  painting_ = nullptr;
  cairo_surface_flush(s);
}

// Integer coordinates name pixels, as on the window's canvas: a unit
// square is filled, lines run through pixel centres.
void CairoCanvasHost::fillRect(int x, int y, int width, int height, uint32_t color) {
  if (!painting_ || width <= 0 || height <= 0) return;
  setColor(painting_, color);
  cairo_rectangle(painting_, x, y, width, height);
  cairo_fill(painting_);
}

void CairoCanvasHost::fillCircle(int cx, int cy, int radius, uint32_t color) {
  if (!painting_ || radius < 0) return;
  setColor(painting_, color);
  cairo_new_path(painting_);
  cairo_arc(painting_, cx + 0.5, cy + 0.5, radius + 0.5, 0, 2 * M_PI);
  cairo_fill(painting_);
}

void CairoCanvasHost::line(int x0, int y0, int x1, int y1, uint32_t color) {
  if (!painting_) return;
  setColor(painting_, color);
  cairo_set_line_width(painting_, 1.0);
  cairo_set_line_cap(painting_, CAIRO_LINE_CAP_SQUARE);
  cairo_move_to(painting_, x0 + 0.5, y0 + 0.5);
  cairo_line_to(painting_, x1 + 0.5, y1 + 0.5);
  cairo_stroke(painting_);
}

void CairoCanvasHost::setPointerShape(int id, PointerShape shape) {
  for (Canvas& c : canvases_)
    if (c.id == id) c.shape = shape;
}

PointerShape CairoCanvasHost::pointerShape(int id) const {
  const Canvas* c = find(id);
  return c ? c->shape : PointerShape::Arrow;
}

cairo_surface_t* CairoCanvasHost::surface(int id) const {
  const Canvas* c = find(id);
  return c ? c->surface : nullptr;
}

bool CairoCanvasHost::place(int id, int& x, int& y, int& width, int& height) const {
  const Canvas* c = find(id);
  if (!c) return false;
  x = c->x;
  y = c->y;
  width = c->w;
  height = c->h;
  return true;
}

int CairoCanvasHost::canvasAt(double deviceX, double deviceY) const {
  const double lx = deviceX / scale_, ly = deviceY / scale_;
  for (const Canvas& c : canvases_)
    if (lx >= c.x && lx < c.x + c.w && ly >= c.y && ly < c.y + c.h) return c.id;
  return 0;
}

void CairoCanvasHost::toCanvas(int id, double deviceX, double deviceY, int& x, int& y) const {
  const Canvas* c = find(id);
  const double ox = c ? c->x : 0, oy = c ? c->y : 0;
  // Beyond the int range a drag is clamped by the editor anyway.
  const auto near = [](double v) {
    return static_cast<int>(std::clamp(std::floor(v + 0.5), -1e9, 1e9));
  };
  x = near(deviceX / scale_ - ox);
  y = near(deviceY / scale_ - oy);
}

void CairoCanvasHost::composite(cairo_t* cr) const {
  for (const Canvas& c : canvases_) {
    cairo_save(cr);
    cairo_set_source_surface(cr, c.surface, std::lround(c.x * scale_), std::lround(c.y * scale_));
    cairo_paint(cr);
    cairo_restore(cr);
  }
}

}  // namespace ondelith
