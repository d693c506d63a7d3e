#include "app/patch_commands.h"

#include "app/sound_commands.h"

namespace ondelith {

PatchValues capturePatch(Synth& s) { return s.instrument.capturePatch(); }

void showSound(Synth& s) {
  const int range = s.instrument.value(kDurationRangeIndex);
  const DurationBounds b = durationBounds(range);
  setControlRange(s.controls, kSliderDuration, b.minimum, b.maximum);
  for (const ControlParam& c : kControlParams) {
    setControlValue(s.controls, c.id, s.instrument.value(c.index));
    if (c.id >= kSpinMod0 && c.id <= spinFineId(kRowY2)) renderSpinText(s.controls, c.id);
  }
  s.controls.text[kSpinDurationRange] = parameterText(kDurationRangeIndex, range);
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
