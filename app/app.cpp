#include "app/app.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <iostream>

#include "app/file_menu.h"
#include "app/patch_commands.h"
#include "app/sound_settings.h"
#include "app/tuning_menu.h"
#include "editors/curve_interaction.h"
#include "editors/waveform_display.h"
#include "engine/midi_message.h"
#include "platform/exit_file.h"
#include "platform/files.h"

namespace ondelith {

namespace {

constexpr int kStatusNote = 1;
constexpr int kStatusOctave = 2;
constexpr int kStatusNotice = 3;  // what the player should know of the settings file

Rect placeOf(const ControlInfo& s) { return {s.x, s.y, s.w, s.h}; }

// One control of the table, created with its start value and text.
void addControl(App& app, int id) {
  const ControlInfo* s = findControl(id);
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
      app.tk.setTextReader(
          id, [id](const std::string& text, int& read) { return readSpinText(id, text, read); });
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
  const ControlInfo* s = findControl(id);
  if (s && s->kind == ControlKind::SpinBox) app.tk.setText(id, m.text[static_cast<size_t>(id)]);
}

void showToolTip(App& app, int id) {
  app.tk.setToolTip(id, controlToolTip(id, controlValue(app.synth.controls, id)));
}

// Every control a patch holds, shown as the records now have it, and the
// display redrawn (the curve editors repaint themselves).
void showRecords(App& app) {
  for (const ControlParam& c : kControlParams) {
    showControl(app, c.id);
    showToolTip(app, c.id);
  }
  redrawDisplay(app);
}

void showTitle(App& app) {
  const std::string title = windowTitle(currentState(app.synth));
  if (title == app.shownTitle) return;
  app.shownTitle = title;
  app.tk.setWindowTitle(app.window, title);
}

// A whole sound changed (a choice, Open, undo): the window shows it.
void showChosenSound(App& app) {
  showRecords(app);
  showTitle(app);
}

// What of an opened patch was not read, told once in the status bar until
// the next patch opened; nothing to tell gives the field back to the
// settings' notice.
void showPatchReport(App& app, const std::string& report) {
  app.tk.setStatusText(app.window, kStatusNotice,
                       report.empty() && app.settings ? app.settings->notice() : report);
}

// What a signal that ends the program keeps, brought up to date.
void keepForSignals(App& app) {
  SoundState state = currentState(app.synth);
  if (state == app.keptForSignals) return;
  if (setExitFileBytes(formatKeptSound(state))) app.keptForSignals = std::move(state);
}

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The sound kept at the last end, with its name and mark; nothing when
// there is none or it cannot be read.
void restoreKeptSound(App& app) {
  const std::string path = keptSoundPath();
  if (path.empty()) return;
  std::string text;
  const auto consume = [&text](const char* data, size_t size) {
    text.append(data, size);
    return text.size() <= kMaxExitFileBytes;
  };
  SoundState state;
  if (!readFileInPieces(path, consume) || !parseKeptSound(text, state)) return;
  showState(app.synth, state);
  app.synth.history.reset(state);
}

MenuItem choiceItem(const SoundChoice& c, int position) {
  const std::string text = c.bankNumber > 0 ? std::to_string(c.bankNumber) + "  " + c.name : c.name;
  const BankSound* bank = bankSoundNumbered(c.bankNumber);
  MenuItem item;
  item.text = text;
  item.command = kCmdFirstChoice + position;
  if (bank) item.tip = bank->description;
  return item;
}

// A sound of the list made the window's; false (nothing changed) for a
// file of the player's that cannot be read (gone since the list was made)
// or is no patch, with why in `refused`.
bool takeChoice(App& app, const SoundChoice& choice, PatchFileRead& refused, std::string& reason) {
  if (choice.bankNumber > 0) {
    if (chooseBankSound(app.synth, choice.bankNumber)) showChosenSound(app);
    return true;
  }
  Patch patch;
  refused = readPatch(choice.path, patch, reason);
  if (refused != PatchFileRead::Read) return false;
  const std::string report = openPatchValues(app.synth, patch, choice.path);
  showChosenSound(app);
  showPatchReport(app, report);
  return true;
}

// A sound chosen from the menu: a file refused is told in a box.
void chooseCommand(App& app, const SoundChoice& choice) {
  PatchFileRead refused = PatchFileRead::Read;
  std::string reason;
  if (takeChoice(app, choice, refused, reason)) return;
  if (refused == PatchFileRead::NotAPatch)
    showNotAPatch(app.tk, app.window, choice.path, reason);
  else
    app.tk.messageBox(app.window, "Sounds",
                      "\"" + choice.path + "\" cannot be read: " + reason + ".");
}

// Previous or Next: a file that is refused is stepped over, and said once
// in the status bar, so that no file stops the way round.
void stepSoundCommand(App& app, int direction) {
  const std::vector<SoundChoice> choices = soundChoices(patchDirectory());
  int at = stepChoice(choices, app.synth.history.present().origin, direction);
  const auto n = static_cast<int>(choices.size());
  std::vector<std::string> skipped;
  for (int tries = 0; at >= 0 && tries < n; ++tries) {
    PatchFileRead refused = PatchFileRead::Read;
    std::string reason;
    if (takeChoice(app, choices[static_cast<size_t>(at)], refused, reason)) break;
    skipped.push_back(choices[static_cast<size_t>(at)].name);
    at = (at + (direction > 0 ? 1 : -1) + n) % n;
  }
  if (skipped.empty()) return;
  // Short enough for the status bar's field.
  constexpr size_t kShownName = 24;
  std::string name = skipped.front();
  if (name.size() > kShownName) {
    size_t cut = kShownName;  // between characters, not inside one
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    while (cut > 0 && name[cut - 1] == ' ') --cut;
    name = name.substr(0, cut) + "...";
  }
  app.tk.setStatusText(app.window, kStatusNotice,
                       skipped.size() == 1
                           ? "Skipped " + name + ": no patch"
                           : "Skipped " + std::to_string(skipped.size()) + " files: no patches");
}

// Where the sound is kept, its folder made if it can be ("" with no home).
std::string keptSoundFolderMade() {
  const std::string path = keptSoundPath();
  std::error_code made;
  if (!path.empty())
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), made);
  return path;
}

// The reason of a failed write, short enough for the status bar.
std::string shortReason(const std::string& error) {
  const size_t colon = error.rfind(": ");
  return colon == std::string::npos ? error : error.substr(colon + 2);
}

// A write that fails is told at once: the change would be lost at the end.
void rememberChoices(App& app) {
  app.settingsPending = false;
  app.settingsWrittenMs = nowMs();
  if (!app.settings) return;
  std::string error;
  if (storePreferences(*app.settings, app.prefs, &error) || error.empty()) {
    app.settingsNotKept.clear();
    return;
  }
  app.settingsNotKept = error;
  app.tk.setStatusText(app.window, kStatusNotice, "Settings not kept: " + shortReason(error));
}

// For changes that come in floods (another program patching the ports):
// written at most once a second, and at exit.
void rememberChoicesSoon(App& app) {
  app.settingsPending = true;
  if (nowMs() - app.settingsWrittenMs >= kSettingsWriteIntervalMs) rememberChoices(app);
}

// The MIDI drop-down as the inputs are now, the one in use selected.
void fillMidiList(App& app) {
  std::vector<std::string> names;
  app.devices->listMidiInputs(names);
  app.tk.clearEntries(kMidiInputList);
  for (const std::string& name : names) app.tk.addEntry(kMidiInputList, name);
  const auto it = std::find(names.begin(), names.end(), app.midiName);
  app.midiEntry =
      app.midiName.empty() || it == names.end() ? -1 : static_cast<int>(it - names.begin());
  app.tk.setValue(kMidiInputList, app.midiEntry);
}

// Start-up's MIDI input: the one asked for on the command line, else the
// one remembered.
void chooseStartMidiInput(App& app) {
  std::vector<std::string> names;
  app.devices->listMidiInputs(names);
  for (const std::string& name : names) app.tk.addEntry(kMidiInputList, name);
  const std::string wanted =
      app.commandLine.midiIn.empty() ? app.prefs.midiDevice : app.commandLine.midiIn;
  app.midiEntry = chooseMidiEntry(names, wanted);
  app.midiName = app.midiEntry >= 0 ? names[static_cast<size_t>(app.midiEntry)] : "";
  app.tk.setValue(kMidiInputList, app.midiEntry);
  app.devices->setMidiDeviceId(app.midiEntry);
}

void fillAudioList(App& app) {
  app.tk.clearEntries(kAudioOutputList);
  for (const std::string& name : app.devices->audioDeviceNames())
    app.tk.addEntry(kAudioOutputList, name);
  app.tk.setValue(kAudioOutputList, app.devices->currentAudioEntry());
}

void switchMidi(App& app, int entry) {
  const std::string name = app.tk.entryText(kMidiInputList, entry);
  std::string reason;
  if (app.devices->switchMidi(entry, reason)) {
    app.midiName = name;
    app.midiEntry = entry;
    app.prefs.midiDevice = name;
    rememberChoices(app);
    return;
  }
  app.tk.messageBox(app.window, "MIDI input",
                    "Ondelith cannot take notes from \"" + name + "\":\r" + reason);
  // Back to the one before, if it is still there.
  std::string ignored;
  if (app.midiEntry >= 0 && app.devices->switchMidi(app.midiEntry, ignored)) {
    app.tk.setValue(kMidiInputList, app.midiEntry);
  } else {
    app.midiName.clear();
    app.midiEntry = -1;
    app.tk.setValue(kMidiInputList, -1);
  }
}

void switchAudio(App& app, int entry) {
  const int previous = app.devices->currentAudioEntry();
  const std::string name = app.tk.entryText(kAudioOutputList, entry);
  const int error = app.devices->switchAudio(entry);
  if (error == 0) {
    app.prefs.audioDevice = name;
    app.prefs.audioHostApi = app.devices->audioHostApis()[static_cast<size_t>(entry)];
    rememberChoices(app);
    return;
  }
  app.tk.messageBox(
      app.window, "Audio output",
      "Ondelith cannot play through \"" + name + "\":\r" + app.devices->audioErrorText(error));
  if (previous >= 0 && previous != entry) app.devices->switchAudio(previous);
  app.tk.setValue(kAudioOutputList, app.devices->currentAudioEntry());
}

// The player's settings into the note entry, as the renderer gives them too.
void applyPlaySettings(App& app) {
  const Preferences& p = app.prefs;
  app.synth.instrument.setValue(kChannelIndex, p.midiChannel);
  app.synth.midi.channel.store(midiChannelOf(p.midiChannel), std::memory_order_relaxed);
  app.synth.instrument.setValue(kBendRangeIndex, p.bendRange);
  app.synth.instrument.setValue(kVelocityIndex, p.velocitySensitivity);
  app.synth.instrument.setValue(kA4Index, p.a4Hz);
}

void showOctave(App& app) {
  app.tk.setStatusText(app.window, kStatusOctave, noteName(app.keyboard.base()));
}

void playKeys(App& app, const std::vector<ComputerKeyboard::Note>& notes) {
  for (const ComputerKeyboard::Note& n : notes)
    playSourceNote(app.synth.midi, n.note, n.down, kKeyboardVelocity);
}

int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void redrawDisplay(App& app) {
  const DisplayPoints p = displayPoints(app.synth);
  redrawWaveformDisplay(app.tk, kWaveformDisplay, p.x1, p.y1, p.x2, p.y2);
}

int midiChannelOf(int playerChannel) { return engineChannel(playerChannel); }

void fillSoundsMenu(App& app) {
  app.choices = soundChoices(patchDirectory());
  std::vector<MenuItem> items = {
      {"Previous sound", kCmdPreviousSound, kPreviousSoundKeys, {}, true},
      {"Next sound", kCmdNextSound, kNextSoundKeys, {}, true},
      {},
  };
  for (std::string_view category : bankCategories()) {
    MenuItem sub{categoryTitle(category), 0, "", {}, true};
    for (size_t i = 0; i < app.choices.size(); ++i)
      if (app.choices[i].bankNumber > 0 && app.choices[i].category == category)
        sub.submenu.push_back(choiceItem(app.choices[i], static_cast<int>(i)));
    items.push_back(std::move(sub));
  }
  MenuItem own{"My sounds", 0, "", {}, true};
  for (size_t i = 0; i < app.choices.size(); ++i)
    if (app.choices[i].bankNumber == 0)
      own.submenu.push_back(choiceItem(app.choices[i], static_cast<int>(i)));
  if (own.submenu.empty()) own = {"My sounds (none saved yet)", 0, "", {}, false};
  items.push_back(std::move(own));
  items.push_back({});
  items.push_back({std::string(kStartUpSoundName), kCmdStartUpSound, "", {}, true});
  app.tk.setMenu(app.window, "Sounds", items);
}

void buildMainWindow(App& app) {
  Toolkit& tk = app.tk;
  tk.addMenu(app.window, "File",
             {{"Open", kCmdOpen}, {"Save", kCmdSave}, {"Settings...", kCmdSettings}});
  tk.setMenu(app.window, "Edit",
             {{"Undo", kCmdUndo, kUndoKeys, {}, true},
              {"Redo", kCmdRedo, kRedoKeys, {}, true},
              {},
              {"Sound settings...", kCmdSoundSettings, "", {}, true}});
  fillSoundsMenu(app);
  // Made anew as it opens: sounds saved since are in it.
  tk.setMenuOpening(app.window, "Sounds", [&app] { fillSoundsMenu(app); });
  fillTuningMenu(app);
  tk.setMenuOpening(app.window, "Tuning", [&app] { fillTuningMenu(app); });
  tk.addMenu(app.window, "?", {{"About", kCmdAbout}, {"Help", kCmdHelp}});
  addControl(app, kFrameAmplitude);
  addControl(app, kFrameFilter);

  addControl(app, kMidiInputList);  // filled once the window is up
  tk.setToolTip(kMidiInputList, "MIDI input");
  tk.setListOpening(kMidiInputList, [&app] {
    app.devices->openOwnMidiPort();  // a JACK server may have started since
    fillMidiList(app);
  });

  addControl(app, kLabelMidiInput);
  addControl(app, kAudioOutputList);
  addControl(app, kLabelAudioOutput);
  fillAudioList(app);
  tk.setToolTip(kAudioOutputList, "Audio output");
  tk.setListOpening(kAudioOutputList, [&app] {
    if (app.devices->refreshAudio()) fillAudioList(app);
  });

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
  for (const ControlInfo& s : kControlTable)
    if (s.kind == ControlKind::Slider || s.kind == ControlKind::SpinBox) showToolTip(app, s.id);
}

namespace {

// A --midi-in or --audio-out that names nothing present ends the program.
bool listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The start-up failure box: what was tried, and what the player can do.
std::string noSoundText(const std::vector<std::string>& tried, const std::string& error) {
  std::string names;
  for (const std::string& name : tried)
    if (!name.empty()) names += (names.empty() ? "" : ", ") + name;
  return "Ondelith found no audio output to play through (" + error + ").\r" +
         (names.empty() ? std::string("No audio output was found.")
                        : "Tried, in this order: " + names + ".") +
         "\rStart a JACK or PipeWire server, or check that the sound card is connected, "
         "switched on and not held by another program, then start Ondelith again.\r"
         "\"ondelith --list-devices\" lists the outputs it can see; --audio-out chooses one.";
}

bool usage(int& status, const std::string& line) {
  std::cerr << "ondelith: " << line << "\n";
  status = kExitUsage;
  return false;
}

// --set, in the order given, over the sound opened: each value within the
// range its row has then.
bool setFromCommandLine(App& app, int& status) {
  const CommandLine& line = app.commandLine;
  Instrument& instrument = app.synth.instrument;
  for (size_t k = 0; k < line.settings.size(); ++k) {
    const ParameterValue& v = line.settings[k];
    const int by = rangeSwitchOf(v.index);
    const std::string mistake = rangeMistake(v.index, v.value, by >= 0 ? instrument.value(by) : 0);
    if (!mistake.empty()) {
      shutDown(app);
      return usage(status, "--set \"" + line.settingWords[k] + "\": " + mistake);
    }
    instrument.setValue(v.index, v.value);
  }
  if (!line.settings.empty()) showSound(app.synth);
  return true;
}

// A folder the sound cannot be written to is told at the start, while the
// player can still do something about it; what a patch opened said goes first.
void warnIfSoundCannotBeKept(App& app, const std::string& report) {
  const std::string path = keptSoundFolderMade();
  if (path.empty() || !report.empty()) return;
  AtomicFile probe;
  std::string error;
  if (!probe.open(path, &error))
    app.tk.setStatusText(app.window, kStatusNotice, "Sound not kept: " + shortReason(error));
}

}  // namespace

bool startUp(App& app, int& status) {
  initRecords(app.synth);
  app.settings = std::make_unique<SettingsStore>(app.settingsPath);
  // What a run killed while writing left behind.
  removeStaleTemporaryFiles(app.settings->path());
  if (const std::string kept = keptSoundPath(); !kept.empty()) removeStaleTemporaryFiles(kept);
  app.prefs = loadPreferences(*app.settings);
  app.devices->setJackConnections(app.prefs.jackConnections);
  const CommandLine& line = app.commandLine;
  Patch patch;
  std::string reason;
  if (!line.patch.empty() && !readPatchFile(line.patch, patch, &reason))
    return usage(status, line.patch + ": " + reason);
  if (!line.midiIn.empty()) {
    std::vector<std::string> names;
    app.devices->listMidiInputs(names);
    if (!listed(names, line.midiIn))
      return usage(status, "--midi-in \"" + line.midiIn +
                               "\": no MIDI input of that name (see --list-devices)");
  }
  const double latencyMs = line.latencyMs.value_or(app.prefs.latencyMs);
  app.devices->setLatency(latencyMs / 1000.0);
  const bool named = !line.audioOut.empty();
  const int error = app.devices->startAudio(named ? line.audioOut : app.prefs.audioDevice,
                                            named ? std::string() : app.prefs.audioHostApi);
  if (error != 0) {
    // Nothing can sound: the one fatal path, and a failure says so.
    app.tk.messageBox(
        0, "PortAudio",
        noSoundText(app.devices->audioDeviceNames(), app.devices->audioErrorText(error)));
    status = kExitNoSound;
    return false;
  }
  if (named && !listed(app.devices->audioDeviceNames(), line.audioOut)) {
    shutDown(app);
    return usage(status, "--audio-out \"" + line.audioOut +
                             "\": no audio output of that name (see --list-devices)");
  }
  applyPlaySettings(app);
  applyTuning(app);
  app.window = app.tk.openWindow("Ondelith", kClientWidth, kClientHeight);
  if (app.window == 0) {
    shutDown(app);
    status = 0;
    return false;
  }
  buildMainWindow(app);
  // The sound the last run ended with; a patch asked for goes over it as a
  // step that undo takes back.
  restoreKeptSound(app);
  const std::string report =
      line.patch.empty() ? std::string() : openPatchValues(app.synth, patch, line.patch);
  if (!setFromCommandLine(app, status)) return false;
  showRecords(app);
  showTitle(app);
  keepForSignals(app);
  app.tk.addStatusBar(app.window, {100, 100, 30, 280});
  showPatchReport(app, report);
  warnIfSoundCannotBeKept(app, report);
  app.tk.showWindow(app.window);
  app.tk.bindEscape(app.window, kCmdQuit);
  app.tk.setPlayingKeys(app.window, keyboardScanCodes());
  showOctave(app);
  // The device lists and the MIDI back ends wait for the window: nothing of
  // them is needed to see it.
  chooseStartMidiInput(app);
  app.devices->openMidiInput();
  app.devices->openOwnMidiPort();
  app.devices->startStream();  // last: nothing sounds before the window is whole
  app.audioListPending = true;
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
          openPatchCommand(app.tk, app.window, app.synth, [&app](const std::string& report) {
            showChosenSound(app);
            showPatchReport(app, report);
          });
          break;
        case kCmdSave:
          savePatchCommand(app.tk, app.window, app.synth);
          showTitle(app);
          break;
        case kCmdSettings: settingsCommand(app); break;
        case kCmdQuit: app.quitRequested = 1; break;
        case kCmdUndo:
          if (undoSound(app.synth)) showChosenSound(app);
          break;
        case kCmdRedo:
          if (redoSound(app.synth)) showChosenSound(app);
          break;
        case kCmdPreviousSound: stepSoundCommand(app, -1); break;
        case kCmdNextSound: stepSoundCommand(app, 1); break;
        case kCmdStartUpSound:
          chooseStartUpSound(app.synth);
          showChosenSound(app);
          break;
        case kCmdSoundSettings:
          if (soundSettingsCommand(app.tk, app.window, app.synth, soundSettingEntries()))
            showChosenSound(app);
          break;
        default:
          if (tuningCommand(app, e.id)) break;
          if (e.id >= kCmdFirstChoice &&
              e.id - kCmdFirstChoice < static_cast<int>(app.choices.size()))
            chooseCommand(app, app.choices[static_cast<size_t>(e.id - kCmdFirstChoice)]);
          break;
      }
      return;
    case UiEvent::Kind::Close:
      if (e.window == app.window) app.quitRequested = 1;
      return;
    case UiEvent::Kind::Key: {
      const int base = app.keyboard.base();
      playKeys(app, app.keyboard.key({e.id, e.x == 1, e.y == 1, e.time}, steadyMs()));
      if (app.keyboard.base() != base) showOctave(app);
      return;
    }
    case UiEvent::Kind::FocusLost: playKeys(app, app.keyboard.releaseAll()); return;
    case UiEvent::Kind::Control: break;
    case UiEvent::Kind::None: return;
  }
  const int id = e.id;
  if (id == kMidiInputList) {
    switchMidi(app, app.tk.value(id));
    return;
  }
  if (id == kAudioOutputList) {
    switchAudio(app, app.tk.value(id));
    return;
  }
  for (int row = 0; row < kWobbleRows; ++row) {
    if (id == curveEditorId(app.synth, row)) {
      // The engine reads the curves itself; a drag is one step once it ends.
      handleCurveEditorEvent(app.synth.editors, id, e.pointer, e.x, e.y);
      if (e.pointer == PointerAction::Release) recordChange(app.synth);
      return;
    }
  }
  if (!hasRange(id)) return;  // labels, frames, the display
  const bool redraw = applyControlEvent(app.synth, id, app.tk.value(id));
  recordChange(app.synth, id, nowMs());
  if (id >= kSpinMod0 && id <= spinFineId(kRowY2))
    app.tk.setText(id, app.synth.controls.text[static_cast<size_t>(id)]);
  if (id == kSpinDurationRange) {
    showControl(app, kSpinDurationRange);
    showControl(app, kSliderDuration);
  }
  if (id == kSpinDurationRange) showToolTip(app, kSliderDuration);
  showToolTip(app, id);
  if (redraw) redrawDisplay(app);
}

void settingsCommand(App& app) {
  Preferences& p = app.prefs;
  std::vector<std::string> latencies, channels{parameterText(kChannelIndex, kEveryChannel)};
  int latencyChoice = 0;
  for (size_t i = 0; i < kLatencyChoicesMs.size(); ++i) {
    latencies.push_back(std::to_string(kLatencyChoicesMs[i]) + " ms");
    if (kLatencyChoicesMs[i] == nearestLatencyChoice(p.latencyMs))
      latencyChoice = static_cast<int>(i);
  }
  for (int c = kEveryChannel + 1; c <= parameter(kChannelIndex).maximum; ++c)
    channels.push_back(parameterText(kChannelIndex, c));
  // A number field as its row has it: name, range and unit.
  const auto number = [](int index, int value) {
    const Parameter& r = parameter(index);
    return FormField{std::string(r.name),
                     FormField::Kind::Number,
                     {},
                     r.minimum,
                     r.maximum,
                     std::string(unitInfo(r.unit).suffix),
                     value};
  };
  std::vector<FormField> fields = {
      {"Latency", FormField::Kind::Choice, latencies, 0, 0, "", latencyChoice},
      {std::string(parameter(kChannelIndex).name), FormField::Kind::Choice, channels, 0, 0, "",
       p.midiChannel},
      number(kBendRangeIndex, p.bendRange),
      number(kVelocityIndex, p.velocitySensitivity),
      number(kA4Index, p.a4Hz),
  };
  // What the device made of the latency asked for: it may take only some.
  const double actual = app.devices->outputLatency() * 1000.0;
  const std::string note = actual > 0 ? "The audio output reports " +
                                            std::to_string(static_cast<int>(std::lround(actual))) +
                                            " ms of latency now."
                                      : "No audio output is open.";
  if (!app.tk.formDialog(app.window, "Settings", fields, note)) return;
  const int latencyMs = kLatencyChoicesMs[static_cast<size_t>(fields[0].value)];
  p.midiChannel = fields[1].value;
  p.bendRange = fields[2].value;
  p.velocitySensitivity = fields[3].value;
  p.a4Hz = fields[4].value;
  applyPlaySettings(app);
  if (latencyMs != p.latencyMs) {
    p.latencyMs = latencyMs;
    app.devices->setLatency(latencyMs / 1000.0);
    const int entry = app.devices->currentAudioEntry();
    if (entry >= 0) switchAudio(app, entry);
  }
  rememberChoices(app);
}

void pollVoice(App& app) {
  // After the loop's first pass, which paints the window.
  if (app.audioListPending) {
    app.audioListPending = false;
    if (app.devices->completeAudioList()) fillAudioList(app);
  }
  const NoteStatus status = app.synth.engine.noteStatus.load(std::memory_order_relaxed);
  if (status != app.shownNoteStatus) {
    app.shownNoteStatus = status;
    app.tk.setStatusText(app.window, kStatusNote, noteStatusText(status));
  }
  if (takeProgramChange(app.synth)) showRecords(app);
  playKeys(app, app.keyboard.release(steadyMs()));
  app.synth.instrument.flush();
  showTitle(app);
  keepForSignals(app);
  if (auto connections = app.devices->changedJackConnections();
      connections && connections != app.prefs.jackConnections) {
    app.prefs.jackConnections = connections;
    app.settingsPending = true;
  }
  if (app.settingsPending) rememberChoicesSoon(app);
  if (const auto notice = app.devices->watchDevices(nowMs())) {
    app.tk.setStatusText(app.window, kStatusNotice, *notice);
    fillAudioList(app);
    fillMidiList(app);
  }
}

void runEventLoop(App& app) {
  while (!app.quitRequested) {
    UiEvent e;
    // A key's release waits only as long as a repeat's press could take.
    int wait = kVoicePollMs;
    if (const auto due = app.keyboard.releaseDue())
      wait = static_cast<int>(std::clamp<int64_t>(*due - steadyMs(), 0, kVoicePollMs));
    if (app.tk.waitEventFor(wait, e)) dispatch(app, e);
    pollVoice(app);
  }
  // Before the box: a write still waiting may fail too.
  if (app.settingsPending) rememberChoices(app);
  std::string soundError;
  const bool kept = keepSound(app, &soundError);
  if (kept && app.settingsNotKept.empty()) return;
  std::string text;
  if (!kept)
    text += "The sound in the window could not be kept for the next start (" + soundError + ").\r";
  if (app.settings && !app.settingsNotKept.empty())
    text += "The settings could not be written to " + app.settings->path() + " (" +
            app.settingsNotKept + ").\r";
  app.tk.messageBox(app.window, "Not kept",
                    text +
                        "The next start has what was last written. Check that the folder "
                        "is yours and the disk has room.");
}

bool keepSound(App& app, std::string* error) {
  const std::string path = keptSoundFolderMade();
  if (path.empty()) {
    if (error) *error = "no home folder to keep it in";
    return false;
  }
  if (!writeFileAtomically(path, formatKeptSound(currentState(app.synth)), error)) {
    if (error) *error = path + ": " + *error;
    return false;
  }
  return true;
}

void shutDown(App& app) {
  if (app.settingsPending) rememberChoices(app);
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
