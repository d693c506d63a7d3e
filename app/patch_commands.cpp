#include "app/patch_commands.h"

#include "app/sound_commands.h"

namespace ondelith {

PatchValues capturePatch(Synth& s) { return s.instrument.capturePatch(); }

void showSound(Synth& s) {
  for (const ControlParam& c : kControlParams) {
    // A control whose range a switch chooses takes the range first.
    if (const int by = rangeSwitchOf(c.index); by >= 0) {
      const Bounds b = boundsOf(c.index, s.instrument.value(by));
      setControlRange(s.controls, c.id, b.minimum, b.maximum);
    }
    setControlValue(s.controls, c.id, s.instrument.value(c.index));
    renderSpinText(s.controls, c.id);
  }
  for (int row = 0; row < kWobbleRows; ++row) redrawCurveEditor(s.editors, curveEditorId(s, row));
}

void applyPatch(Synth& s, const Patch& patch) {
  s.instrument.applyPatch(patch);
  showSound(s);
}

bool savePatchFile(Synth& s, const std::string& path, std::string* error) {
  recordChange(s);
  if (!writePatchFile(path, s.instrument.savedPatch(), error)) return false;
  SoundOrigin origin;
  origin.kind = SoundOrigin::Kind::File;
  origin.name = soundNameOf(path);
  origin.path = path;
  origin.sound = s.instrument.sound();
  s.history.amend(origin);
  return true;
}

bool openPatchFile(Synth& s, const std::string& path, std::string* error, std::string* report) {
  Patch patch;
  if (!readPatchFile(path, patch, error)) return false;
  const std::string unread = openPatchValues(s, patch, path);
  if (report) *report = unread;
  return true;
}

}  // namespace ondelith
