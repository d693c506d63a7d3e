#include "app/tuning_menu.h"

#include "platform/tuning_file.h"

namespace ondelith {

namespace {

constexpr const char* kTuningFilter = "Scala tunings (*.scl *.kbm)";

MenuItem item(const std::string& text, int command, bool checked) {
  MenuItem m{text, command, "", {}, true};
  m.checked = checked;
  return m;
}

// A tuning the player chose: kept, heard and remembered, or refused as it
// stands with the file's line and the reason.
void choose(App& app, const std::string& path, bool map) {
  Tuning next = app.prefs.tuning;
  std::string reason;
  if (!readTuningFile(path, map, next, reason)) {
    app.tk.messageBox(app.window, "Tuning",
                      "\"" + path + "\" is refused: " + reason + ".\rThe tuning stays as it was.");
    return;
  }
  app.prefs.tuning = next;
  applyTuning(app);
  storePreferences(*app.settings, app.prefs);
}

void setTexts(App& app, const Tuning& tuning) {
  app.prefs.tuning = tuning;
  applyTuning(app);
  if (app.settings) storePreferences(*app.settings, app.prefs);
}

}  // namespace

void applyTuning(App& app) {
  KeyFrequencies keys{};
  std::string reason;
  if (!tuningKeys(app.prefs.tuning, keys, reason)) {
    app.prefs.tuning = {};
    keys = equalTemperament();
  }
  app.synth.instrument.setKeys(keys);
}

void fillTuningMenu(App& app) {
  app.tunings = tuningFiles(userTuningsDirectory());
  const Tuning& now = app.prefs.tuning;
  std::vector<MenuItem> items = {item("12-TET", kCmdTwelveTet, now.scale.empty()), {}};
  bool maps = false;
  for (size_t i = 0; i < app.tunings.size(); ++i) {
    const TuningFile& f = app.tunings[i];
    if (f.map && !maps) {
      maps = true;
      items.push_back({});
      items.push_back(item("Standard keyboard map", kCmdStandardMap, now.map.empty()));
    }
    // Checked by its text: the one kept is the one that plays, whatever its name.
    Tuning read;
    std::string reason;
    const bool current = readTuningFile(f.path, f.map, read, reason) &&
                         (f.map ? read.map == now.map : read.scale == now.scale);
    items.push_back(item(f.name, kCmdFirstTuningFile + static_cast<int>(i), current));
  }
  if (!maps) items.push_back(item("Standard keyboard map", kCmdStandardMap, now.map.empty()));
  if (app.tunings.empty())
    items.push_back(
        {"(no .scl or .kbm files in " + userTuningsDirectory() + ")", 0, "", {}, false});
  items.push_back({});
  items.push_back({"Open...", kCmdOpenTuning, "", {}, true});
  app.tk.setMenu(app.window, "Tuning", items);
}

bool tuningCommand(App& app, int command) {
  switch (command) {
    case kCmdTwelveTet: setTexts(app, {"", app.prefs.tuning.map}); return true;
    case kCmdStandardMap: setTexts(app, {app.prefs.tuning.scale, ""}); return true;
    case kCmdOpenTuning: {
      const std::string path = app.tk.openFileDialog(app.window, "Please choose a tuning to open",
                                                     userTuningsDirectory(), kTuningFilter);
      if (!path.empty()) choose(app, path, isKeyboardMapName(path));
      return true;
    }
    default: break;
  }
  const int k = command - kCmdFirstTuningFile;
  if (k < 0 || k >= static_cast<int>(app.tunings.size())) return false;
  choose(app, app.tunings[static_cast<size_t>(k)].path, app.tunings[static_cast<size_t>(k)].map);
  return true;
}

}  // namespace ondelith
