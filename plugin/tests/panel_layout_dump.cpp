// Prints the panel's layout as the panel lays itself out, for the checks
// that look at a picture of it: one line per place, in panel pixels at
// scale 1 ("kind id x y w h"), the header row first.
#include <cstdio>

#include "editors/panel_layout.h"
#include "editors/waveform_display.h"

int main() {
  using namespace ondelith;
  std::printf("panel 0 0 0 %d %d\n", kClientWidth, kClientHeight + kPanelHeaderHeight);
  for (const ControlInfo& c : kControlTable) {
    const char* kind = c.kind == ControlKind::Slider    ? "slider"
                       : c.kind == ControlKind::SpinBox ? "spinbox"
                       : c.kind == ControlKind::Display ? "display"
                                                        : nullptr;
    if (kind)
      std::printf("%s %d %d %d %d %d\n", kind, c.id, c.x, c.y + kPanelHeaderHeight, c.w, c.h);
  }
  for (int row = 0; row < kWobbleRows; ++row) {
    const CurveEditorPlace p = curveEditorPlace(row);
    std::printf("curve %d %d %d %d %d\n", row, p.x, p.y + kPanelHeaderHeight, p.w, p.h);
  }
}
