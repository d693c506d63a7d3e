#pragma once
// A drawing surface that keeps its picture, named by control id. The window
// toolkit provides one; the editors' models only ever talk to this interface.

#include <cstdint>

namespace ondelith {

enum class PointerAction { None, Move, Press, Release };
enum class PointerShape { Arrow, Hand, NotAllowed };

class CanvasHost {
 public:
  virtual ~CanvasHost() = default;
  // A new canvas at (x, y) of the given size; its control id, or 0 on failure.
  virtual int createCanvas(int x, int y, int width, int height) = 0;
  // Starts a drawing pass and reports the drawable size; false if it cannot.
  virtual bool beginPaint(int id, int& width, int& height) = 0;
  // Colours are 0x00BBGGRR. Each primitive is clipped to the canvas.
  virtual void fillRect(int x, int y, int width, int height, uint32_t color) = 0;
  virtual void fillCircle(int cx, int cy, int radius, uint32_t color) = 0;
  virtual void line(int x0, int y0, int x1, int y1, uint32_t color) = 0;
  virtual void endPaint() = 0;
  // The pointer's look while it is over the canvas.
  virtual void setPointerShape(int id, PointerShape shape) = 0;
};

}  // namespace ondelith
