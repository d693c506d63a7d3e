#pragma once
// The waveform display: one period of the unmodulated Bezier waveform on a
// 400 x 200 canvas, white on black, repainted whole from the four points.

#include <array>

#include "editors/canvas.h"

namespace ondelith {

constexpr int kDisplayWidth = 400;
constexpr int kDisplayHeight = 200;

// The row of each column: the period at phase column / 400, rounded.
std::array<int, kDisplayWidth> waveformRows(float x1, float y1, float x2, float y2);

void redrawWaveformDisplay(CanvasHost& host, int canvasId, float x1, float y1, float x2, float y2);

}  // namespace ondelith
