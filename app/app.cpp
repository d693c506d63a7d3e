#include "app/app.h"

#include "editors/curve_interaction.h"
#include "editors/waveform_display.h"
#include "patches/file_menu.h"
#include "patches/patch.h"

namespace ondelith {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kStatusInput = 0;
constexpr int kStatusNote = 1;

Rect placeOf(const ControlSpec& s) { return {s.x, s.y, s.w, s.h}; }

// One control of the table, created with its start value and text.
void addControl(App& app, int id) {
  const ControlSpec* s = findControlSpec(id);
  if (!s) return;
  const ControlModel& m = app.synth.controls;
  const int32_t value = controlValue(m, id);
  const ControlRange& r = m.range[static_cast<size_t>(id)];
  switch (s->kind) {
    case ControlKind::Slider:
      app.tk.addSlider(app.window, id, placeOf(*s), r.minimum, r.maximum, value);
      break;
    case ControlKind::SpinBox:
      app.tk.addSpinBox(app.window, id, placeOf(*s), r.minimum, r.maximum, value,
                        m.text[static_cast<size_t>(id)]);
      break;
    case ControlKind::DropDown: app.tk.addDropDown(app.window, id, placeOf(*s)); break;
    case ControlKind::Label:
      app.tk.addLabel(app.window, id, placeOf(*s), std::string(s->text));
      break;
    case ControlKind::Frame:
      app.tk.addFrame(app.window, id, placeOf(*s), std::string(s->text));
      break;
    case ControlKind::Display: app.tk.addCanvas(app.window, id, placeOf(*s), true); break;
    case ControlKind::None: break;
  }
}

// Shows what the control model holds for a control the system changed.
void showControl(App& app, int id) {
  const ControlModel& m = app.synth.controls;
  const ControlRange& r = m.range[static_cast<size_t>(id)];
  app.tk.setRange(id, r.minimum, r.maximum);
  app.tk.setValue(id, controlValue(m, id));
  const ControlSpec* s = findControlSpec(id);
  if (s && s->kind == ControlKind::SpinBox) app.tk.setText(id, m.text[static_cast<size_t>(id)]);
}

// Every control a patch holds, shown as the records now have it, and the
// display redrawn (the curve editors repaint themselves).
void showRecords(App& app) {
  for (int id : kPatchControlIds) showControl(app, id);
  redrawDisplay(app);
}

void postNoteStatus(void* context, const char* text) {
  auto* app = static_cast<App*>(context);
  app->tk.postToUi([app, status = std::string(text)] {
    app->tk.setStatusText(app->window, kStatusNote, status);
  });
}

}  // namespace

void redrawDisplay(App& app) {
  const DisplayPoints p = displayPoints(app.synth);
  redrawWaveformDisplay(app.tk, kWaveformDisplay, p.x1, p.y1, p.x2, p.y2);
}

void buildMainWindow(App& app) {
  Toolkit& tk = app.tk;
  tk.addMenu(app.window, "File", {{"Open", kCmdOpen}, {"Save", kCmdSave}});
  tk.addMenu(app.window, "?", {{"About", kCmdAbout}, {"Help", kCmdHelp}});
  addControl(app, kFrameAmplitude);
  addControl(app, kFrameFilter);

  addControl(app, kMidiInputList);
  std::vector<std::string> midiNames;
  const int midiCount = app.devices->listMidiInputs(midiNames);
  for (const std::string& name : midiNames) tk.addEntry(kMidiInputList, name);
  if (midiCount != 0) {
    tk.setValue(kMidiInputList, 0);
    app.devices->setMidiDeviceId(0);
  } else {
    app.devices->setMidiDeviceId(-1);
  }

  addControl(app, kAudioOutputList);
  for (const std::string& name : app.devices->audioDeviceNames())
    tk.addEntry(kAudioOutputList, name);
  tk.setValue(kAudioOutputList, 0);

  tk.setCanvasWindow(app.window);
  createCurveEditors(app.synth, &tk);
  addControl(app, kWaveformDisplay);
  for (int id : {kSliderF, kSliderRes, kSliderA, kSliderD, kSliderS, kSliderR}) addControl(app, id);
  for (int id : {kLabelA, kLabelD, kLabelS, kLabelR, kLabelF, kLabelRes}) addControl(app, id);
  addControl(app, kSliderVol);
  addControl(app, kSliderDuration);
  addControl(app, kSpinDurationRange);
  for (int id = kSliderX1; id <= kSliderY2; ++id) addControl(app, id);
  for (int id = kSpinMod0; id <= spinFineId(kRowY2); ++id) addControl(app, id);
  for (int id : {kLabelX1, kLabelY1, kLabelX2, kLabelY2, kLabelVol, kLabelDuration})
    addControl(app, id);
  for (int row = 0; row < kWobbleRows; ++row) {
    addControl(app, kLabelMod0 + row);
    addControl(app, kLabelCoarse0 + 2 * row);
    addControl(app, kLabelFine0 + 2 * row);
  }
}

bool startUp(App& app, int& status) {
  initRecords(app.synth);
  if (const int error = app.devices->startAudio(); error != 0) {
    // Nothing can sound: the one fatal path, and a failure says so.
    app.tk.messageBox(0, "PortAudio", app.devices->audioErrorText(error));
    status = 1;
    return false;
  }
  app.devices->setMidiDeviceId(0);
  app.window = app.tk.openWindow("Ondelith", kClientWidth, kClientHeight);
  if (app.window == 0) {
    shutDown(app);
    status = 0;
    return false;
  }
  buildMainWindow(app);
  redrawDisplay(app);
  app.tk.addStatusBar(app.window, {100, 100, 30});
  app.tk.showWindow(app.window);
  app.tk.bindEscape(app.window, kCmdQuit);
  app.synth.midi.statusContext = &app;
  app.synth.midi.statusHook = &postNoteStatus;
  app.devices->openMidiInput();
  app.synth.engine.voice.gate.store(0, kRelaxed);
  app.devices->startStream();  // last: nothing sounds before the window is whole
  app.quitRequested = 0;
  return true;
}

void dispatch(App& app, const UiEvent& e) {
  switch (e.kind) {
    case UiEvent::Kind::Menu:
      switch (e.id) {
        case kCmdAbout: showAbout(app.tk, app.window); break;
        case kCmdHelp: showHelpWindow(app.tk); break;
        case kCmdOpen:
          openPatchCommand(app.tk, app.window, app.synth, [&app] { showRecords(app); });
          break;
        case kCmdSave: savePatchCommand(app.tk, app.window, app.synth); break;
        case kCmdQuit: app.quitRequested = 1; break;
        default: break;
      }
      return;
    case UiEvent::Kind::Close:
      if (e.window == app.window) app.quitRequested = 1;
      return;
    case UiEvent::Kind::Control: break;
    case UiEvent::Kind::None: return;
  }
  const int id = e.id;
  if (id == kMidiInputList) {
    app.devices->switchMidi(app.tk.value(id));
    return;
  }
  if (id == kAudioOutputList) {
    app.devices->switchAudio(app.tk.value(id));
    return;
  }
  for (int row = 0; row < kWobbleRows; ++row) {
    if (id == curveEditorId(app.synth, row)) {
      // The engine reads the curves itself: nothing else follows a drag.
      handleCurveEditorEvent(app.synth.editors, id, e.pointer, e.x, e.y);
      return;
    }
  }
  if (!hasRange(id)) return;  // labels, frames, the display
  const bool redraw = applyControlEvent(app.synth, id, app.tk.value(id));
  if (id >= kSpinMod0 && id <= spinFineId(kRowY2))
    app.tk.setText(id, app.synth.controls.text[static_cast<size_t>(id)]);
  if (id == kSpinDurationRange) {
    showControl(app, kSpinDurationRange);
    showControl(app, kSliderDuration);
  }
  if (redraw) redrawDisplay(app);
}

void runEventLoop(App& app) {
  while (!app.quitRequested) dispatch(app, app.tk.waitEvent());
}

void shutDown(App& app) {
  app.devices->stopAudio([&app] {
    UiEvent dropped;
    app.tk.waitEventFor(1, dropped);
  });
}

int runApp(App& app) {
  int status = 0;
  if (!startUp(app, status)) return status;
  runEventLoop(app);
  shutDown(app);
  return 0;
}

}  // namespace ondelith
