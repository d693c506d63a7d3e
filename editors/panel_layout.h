#pragma once
// Every control and menu command of the main window, named by its integer id,
// with its kind, place, size, range, start value and text. The program's
// window and the plugin's panel both lay themselves out from here.

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/curve_model.h"
#include "engine/numeric.h"
#include "engine/params.h"
#include "instrument/registry.h"

namespace ondelith {

// The window's client area; the plugin's panel is this with a header row
// above it, every control at its window place moved down by the row.
constexpr int kClientWidth = 535;
constexpr int kClientHeight = 590;
constexpr int kPanelHeaderHeight = 32;

// Menu commands.
constexpr int kCmdAbout = 1;
constexpr int kCmdHelp = 2;
constexpr int kCmdOpen = 3;
constexpr int kCmdSave = 4;
constexpr int kCmdQuit = 111;  // Escape only; no menu item

// Controls.
constexpr int kMidiInputList = 2;
constexpr int kAudioOutputList = 3;
constexpr int kSliderF = 4;
constexpr int kSliderRes = 5;
constexpr int kSliderA = 6;
constexpr int kSliderD = 7;
constexpr int kSliderS = 8;
constexpr int kSliderR = 9;
constexpr int kLabelF = 10;
constexpr int kLabelRes = 11;
constexpr int kLabelA = 12;
constexpr int kLabelS = 13;
constexpr int kLabelD = 14;
constexpr int kLabelR = 15;
constexpr int kWaveformDisplay = 16;
constexpr int kSliderX1 = 17;
constexpr int kSliderY1 = 18;
constexpr int kSliderX2 = 19;
constexpr int kSliderY2 = 20;
constexpr int kSliderVol = 21;
constexpr int kSliderDuration = 22;
// Wobble grid: row r (0 X1, 1 Y1, 2 X2, 3 Y2) owns spin boxes 24 + 3r (Mod%),
// 25 + 3r (Coarse) and 26 + 3r (Fine), and labels 40 + r, 44 + 2r, 45 + 2r.
constexpr int kSpinMod0 = 24;
constexpr int kSpinCoarse0 = 25;
constexpr int kSpinFine0 = 26;
constexpr int kLabelMod0 = 40;
constexpr int kLabelCoarse0 = 44;
constexpr int kLabelFine0 = 45;
constexpr int kLabelX1 = 36;
constexpr int kLabelY1 = 37;
constexpr int kLabelX2 = 38;
constexpr int kLabelY2 = 39;
constexpr int kLabelVol = 52;
constexpr int kLabelDuration = 53;
constexpr int kSpinDurationRange = 54;
constexpr int kFrameAmplitude = 55;
constexpr int kFrameFilter = 56;

constexpr int kLabelMidiInput = 57;
constexpr int kLabelAudioOutput = 58;

constexpr int kControlIdLimit = 59;  // ids are 0 .. kControlIdLimit - 1

// Rows of the wobble grid are the engine's wobble rows (kRowX1 .. kRowY2).
constexpr int spinModId(int row) { return kSpinMod0 + 3 * row; }
constexpr int spinCoarseId(int row) { return kSpinCoarse0 + 3 * row; }
constexpr int spinFineId(int row) { return kSpinFine0 + 3 * row; }
constexpr int pointSliderId(int row) { return kSliderX1 + row; }
constexpr int labelModId(int row) { return kLabelMod0 + row; }
constexpr int labelCoarseId(int row) { return kLabelCoarse0 + 2 * row; }
constexpr int labelFineId(int row) { return kLabelFine0 + 2 * row; }

enum class ControlKind : uint8_t { None, Slider, SpinBox, DropDown, Label, Frame, Display };

struct ControlInfo {
  int id;
  ControlKind kind;
  std::string_view text;  // caption of labels and frames
  int x, y, w, h;
  int minimum, maximum, start;
};

// The curve editors' places; their ids come from the editor itself.
struct CurveEditorPlace {
  int x, y, w, h;
};
constexpr CurveEditorPlace curveEditorPlace(int row) {
  return {220, 240 + 80 * row, kCurveGridWidth, kCurveGridHeight};
}
constexpr uint32_t kCurveLineColor = 0xFFFFFF;
constexpr uint32_t kCurveBackgroundColor = 0x000000;
constexpr uint32_t kCurveDisabledColor = 0xE0E0E0;
constexpr int kCurveHandleRadius = 3;
constexpr int kCurveGrabTolerance = 10;
constexpr int kCurveStartRangeX = 380;
constexpr int kCurveStartRangeY = 10000;

// The registry entry each control sets, and the label that names it (0
// for none).
struct ControlParam {
  int id;
  int index;
  int label;
};
inline constexpr std::array<ControlParam, 25> kControlParams = {{
    {kSliderX1, pointIndex(kRowX1), kLabelX1},
    {kSliderY1, pointIndex(kRowY1), kLabelY1},
    {kSliderX2, pointIndex(kRowX2), kLabelX2},
    {kSliderY2, pointIndex(kRowY2), kLabelY2},
    {spinModId(kRowX1), modIndex(kRowX1), labelModId(kRowX1)},
    {spinCoarseId(kRowX1), coarseIndex(kRowX1), labelCoarseId(kRowX1)},
    {spinFineId(kRowX1), fineIndex(kRowX1), labelFineId(kRowX1)},
    {spinModId(kRowY1), modIndex(kRowY1), labelModId(kRowY1)},
    {spinCoarseId(kRowY1), coarseIndex(kRowY1), labelCoarseId(kRowY1)},
    {spinFineId(kRowY1), fineIndex(kRowY1), labelFineId(kRowY1)},
    {spinModId(kRowX2), modIndex(kRowX2), labelModId(kRowX2)},
    {spinCoarseId(kRowX2), coarseIndex(kRowX2), labelCoarseId(kRowX2)},
    {spinFineId(kRowX2), fineIndex(kRowX2), labelFineId(kRowX2)},
    {spinModId(kRowY2), modIndex(kRowY2), labelModId(kRowY2)},
    {spinCoarseId(kRowY2), coarseIndex(kRowY2), labelCoarseId(kRowY2)},
    {spinFineId(kRowY2), fineIndex(kRowY2), labelFineId(kRowY2)},
    {kSliderVol, kVolumeIndex, kLabelVol},
    {kSliderDuration, kDurationIndex, kLabelDuration},
    {kSpinDurationRange, kDurationRangeIndex, 0},
    {kSliderA, kAttackIndex, kLabelA},
    {kSliderD, kDecayIndex, kLabelD},
    {kSliderS, kSustainIndex, kLabelS},
    {kSliderR, kReleaseIndex, kLabelR},
    {kSliderF, kCutoffIndex, kLabelF},
    {kSliderRes, kResonanceIndex, kLabelRes},
}};

// The registry entry a control sets, or nullptr.
constexpr const ControlParam* findControlParam(int id) {
  for (const ControlParam& c : kControlParams)
    if (c.id == id) return &c;
  return nullptr;
}

// The registry entry a control sets, or -1. By value: pointers into the
// table are no constant expressions under every sanitizer.
constexpr int entryOf(int id) {
  for (const ControlParam& c : kControlParams)
    if (c.id == id) return c.index;
  return -1;
}

// A control's start value: its entry's start.
constexpr int startOf(int id) {
  const int index = entryOf(id);
  return index >= 0 ? parameter(index).start : 0;
}

// A slider's or spin box's range as the window starts: its entry's, under
// its range switch's start.
constexpr Bounds rangeOf(int id) {
  const int index = entryOf(id);
  return index >= 0 ? startBounds(index) : Bounds{0, 0};
}

// The caption of the label that names a control: its entry's label.
constexpr std::string_view captionOf(int labelId) {
  for (const ControlParam& c : kControlParams)
    if (c.label == labelId) return parameter(c.index).label;
  return {};
}

// A slider or spin box at its place, with its entry's range and start (a
// spin box's text is its entry's text for its value).
constexpr ControlInfo bound(int id, ControlKind kind, int x, int y, int w, int h) {
  return {id, kind, "", x, y, w, h, rangeOf(id).minimum, rangeOf(id).maximum, startOf(id)};
}

// A label at its place, captioned with the label of the entry it names.
constexpr ControlInfo caption(int id, int x, int y, int w, int h) {
  return {id, ControlKind::Label, captionOf(id), x, y, w, h, 0, 0, 0};
}

// Every control of the main window.
inline constexpr std::array<ControlInfo, 56> kControlTable = {{
    {kMidiInputList, ControlKind::DropDown, "", 422, 502, 108, 20, 0, 0, 0},
    {kAudioOutputList, ControlKind::DropDown, "", 422, 525, 108, 20, 0, 0, 0},
    {kLabelMidiInput, ControlKind::Label, "MIDI", 384, 504, 36, 16, 0, 0, 0},
    {kLabelAudioOutput, ControlKind::Label, "Audio", 384, 527, 36, 16, 0, 0, 0},
    bound(kSliderF, ControlKind::Slider, 420, 400, 20, 80),
    bound(kSliderRes, ControlKind::Slider, 460, 400, 20, 80),
    bound(kSliderA, ControlKind::Slider, 420, 260, 20, 80),
    bound(kSliderD, ControlKind::Slider, 440, 260, 20, 80),
    bound(kSliderS, ControlKind::Slider, 460, 260, 20, 80),
    bound(kSliderR, ControlKind::Slider, 480, 260, 20, 80),
    caption(kLabelF, 425, 387, 10, 20),
    caption(kLabelRes, 455, 387, 20, 20),
    caption(kLabelA, 425, 247, 10, 20),
    caption(kLabelS, 465, 247, 10, 20),
    caption(kLabelD, 445, 247, 10, 20),
    caption(kLabelR, 485, 247, 10, 20),
    {kWaveformDisplay, ControlKind::Display, "", 10, 10, 400, 200, 0, 0, 0},
    bound(kSliderX1, ControlKind::Slider, 420, 30, 20, 80),
    bound(kSliderY1, ControlKind::Slider, 440, 30, 20, 80),
    bound(kSliderX2, ControlKind::Slider, 460, 30, 20, 80),
    bound(kSliderY2, ControlKind::Slider, 480, 30, 20, 80),
    bound(kSliderVol, ControlKind::Slider, 420, 140, 20, 80),
    bound(kSliderDuration, ControlKind::Slider, 460, 140, 20, 80),
    bound(spinModId(kRowX1), ControlKind::SpinBox, 10, 260, 50, 25),
    bound(spinCoarseId(kRowX1), ControlKind::SpinBox, 80, 260, 50, 25),
    bound(spinFineId(kRowX1), ControlKind::SpinBox, 150, 260, 50, 25),
    bound(spinModId(kRowY1), ControlKind::SpinBox, 10, 340, 50, 25),
    bound(spinCoarseId(kRowY1), ControlKind::SpinBox, 80, 340, 50, 25),
    bound(spinFineId(kRowY1), ControlKind::SpinBox, 150, 340, 50, 25),
    bound(spinModId(kRowX2), ControlKind::SpinBox, 10, 420, 50, 25),
    bound(spinCoarseId(kRowX2), ControlKind::SpinBox, 80, 420, 50, 25),
    bound(spinFineId(kRowX2), ControlKind::SpinBox, 150, 420, 50, 25),
    bound(spinModId(kRowY2), ControlKind::SpinBox, 10, 500, 50, 25),
    bound(spinCoarseId(kRowY2), ControlKind::SpinBox, 80, 500, 50, 25),
    bound(spinFineId(kRowY2), ControlKind::SpinBox, 150, 500, 50, 25),
    caption(kLabelX1, 420, 10, 20, 20),
    caption(kLabelY1, 440, 10, 20, 20),
    caption(kLabelX2, 460, 10, 20, 20),
    caption(kLabelY2, 480, 10, 20, 20),
    caption(labelModId(kRowX1), 10, 240, 50, 20),
    caption(labelModId(kRowY1), 10, 320, 50, 20),
    caption(labelModId(kRowX2), 10, 400, 50, 20),
    caption(labelModId(kRowY2), 10, 480, 50, 20),
    caption(labelCoarseId(kRowX1), 70, 240, 80, 20),
    caption(labelFineId(kRowX1), 150, 240, 70, 20),
    caption(labelCoarseId(kRowY1), 70, 320, 80, 20),
    caption(labelFineId(kRowY1), 150, 320, 70, 20),
    caption(labelCoarseId(kRowX2), 70, 400, 80, 20),
    caption(labelFineId(kRowX2), 150, 400, 70, 20),
    caption(labelCoarseId(kRowY2), 70, 480, 80, 20),
    caption(labelFineId(kRowY2), 150, 480, 70, 20),
    caption(kLabelVol, 420, 120, 30, 20),
    caption(kLabelDuration, 450, 120, 50, 20),
    bound(kSpinDurationRange, ControlKind::SpinBox, 480, 170, 40, 25),
    {kFrameAmplitude, ControlKind::Frame, "Amplitude EG", 400, 230, 120, 130, 0, 0, 0},
    {kFrameFilter, ControlKind::Frame, "Filter", 400, 370, 120, 130, 0, 0, 0},
}};

// The table entry of a control id, or nullptr for an id that names no control.
constexpr const ControlInfo* findControl(int id) {
  for (const ControlInfo& s : kControlTable)
    if (s.id == id) return &s;
  return nullptr;
}

}  // namespace ondelith
