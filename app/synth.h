#pragma once
// The program's one set of records: the window's controls and curve
// editors, the instrument they set, the voice it plays through and the MIDI
// input, with the start-up state and the control dispatch that need no
// window. The app owns one; tests make their own.

#include <array>
#include <string>
#include <vector>

#include "app/control_model.h"
#include "devices/midi_input.h"
#include "editors/curve_editor.h"
#include "engine/engine.h"
#include "instrument/instrument.h"
#include "instrument/sound_history.h"

namespace ondelith {

struct Synth {
  explicit Synth(SampleRate rate = {}) : engine(rate) { instrument.attach(&engine); }
  Synth(const Synth&) = delete;
  Synth& operator=(const Synth&) = delete;

  ControlModel controls;
  CurveEditorSet editors;
  Engine engine;
  Instrument instrument;
  MidiInput midi{engine};
  std::array<int, kWobbleRows> curveEditors{};  // editor ids by wobble row
  std::vector<CurvePoint> curveBuffer;
  // The sound's steps to undo, and where the present one came from.
  SoundHistory history;
  uint32_t programSeen = 0;  // the engine's programRequest last acted on
};

// The state the system starts in: every control at its start value, the four
// curve editors laid out with their properties, the engine's start values and
// curveBuffer with 2 elements. `host` draws the editors; none when headless.
void initSynth(Synth& synth, CanvasHost* host = nullptr);

// The two halves of initSynth: the records' start values, then the four
// curve editors on `host`'s canvases (the window builds them in its order).
void initRecords(Synth& synth);
void createCurveEditors(Synth& synth, CanvasHost* host);

// A control's new value, as its event delivers it: the value is limited to
// the control's range, stored, and fed to the engine parameter it drives.
// Returns true when the waveform display needs redrawing.
bool applyControlEvent(Synth& synth, int id, int32_t value);

// The Duration slider's range switch: 1 gives 100..1000 and shows "x1", 2
// gives 1000..10000 and shows "x10"; the slider (within its range) and the
// wobble duration take durationMs. It leaves spin box 54's value.
void setDurationRange(Synth& synth, int range, int32_t durationMs);

// The engine made again at another rate, at the same address, given the
// instrument's sound and settings; notes held before are let go. Never
// while the audio thread renders it; MIDI threads are kept out meanwhile.
// UI thread.
void remakeEngine(Synth& synth, SampleRate rate);

// The editor id of wobble row 0..3.
int curveEditorId(const Synth& synth, int row);

// The waveform display's control points, unit square, from the instrument.
struct DisplayPoints {
  float x1, y1, x2, y2;
};
DisplayPoints displayPoints(const Synth& synth);

}  // namespace ondelith
