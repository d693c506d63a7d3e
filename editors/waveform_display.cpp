#include "editors/waveform_display.h"

#include "engine/bezier.h"
#include "engine/numeric.h"

namespace ondelith {

std::array<int, kDisplayWidth> waveformRows(float x1, float y1, float x2, float y2) {
  std::array<int, kDisplayWidth> rows{};
  for (int i = 0; i < kDisplayWidth; ++i) {
    const float phase = static_cast<float>(i) / static_cast<float>(kDisplayWidth);
    rows[static_cast<size_t>(i)] = roundEven(evaluateBezierCycle(phase, x1, y1, x2, y2));
  }
  return rows;
}

void redrawWaveformDisplay(CanvasHost& host, int canvasId, float x1, float y1, float x2, float y2) {
  const std::array<int, kDisplayWidth> rows = waveformRows(x1, y1, x2, y2);
  int w = 0, h = 0;
  if (!host.beginPaint(canvasId, w, h)) return;
  host.fillRect(0, 0, kDisplayWidth, kDisplayHeight, 0x000000);
  for (size_t i = 0; i + 1 < rows.size(); ++i)
    host.line(static_cast<int>(i), rows[i], static_cast<int>(i + 1), rows[i + 1], 0xFFFFFF);
  host.endPaint();
}

}  // namespace ondelith
