#include "patches/patch.h"

#include "platform/files.h"

namespace ondelith {

namespace {

// The window's controls, their spin box texts and the Duration slider's range.
class SynthControls final : public PatchControls {
 public:
  explicit SynthControls(Synth& s) : s_(s) {}
  int32_t set(int id, int32_t value) override {
    const int32_t v = setControlValue(s_.controls, id, value);
    if (id >= kSpinMod0 && id <= spinFineId(kRowY2)) renderSpinText(s_.controls, id);
    return v;
  }
  int32_t get(int id) const override { return controlValue(s_.controls, id); }
  void setDurationRange(int range, int32_t durationMs) override {
    ondelith::setDurationRange(s_, range, durationMs);
    setControlValue(s_.controls, kSpinDurationRange, range);
  }

 private:
  Synth& s_;
};

void redrawCurveEditors(Synth& s) {
  for (int row = 0; row < kWobbleRows; ++row) redrawCurveEditor(s.editors, curveEditorId(s, row));
}

}  // namespace

PatchValues capturePatch(Synth& s) {
  return capturePatchValues(SynthControls(s), s.engine, s.curveBuffer);
}

void applyPatch(Synth& s, const PatchValues& values) {
  SynthControls controls(s);
  applyPatchValues(controls, s.engine, values, s.curveBuffer);
  redrawCurveEditors(s);
}

bool savePatchFile(Synth& s, const std::string& path, std::string* error) {
  return writeFileAtomically(path, formatPatch(capturePatch(s)), error);
}

bool readPatchFile(const std::string& path, PatchValues& values, std::string* error) {
  PatchReader reader;
  if (!readFileInPieces(
          path, [&](const char* data, size_t size) { return reader.feed(data, size); }, error))
    return false;
  values = reader.finish();
  return true;
}

bool openPatchFile(Synth& s, const std::string& path, std::string* error) {
  PatchValues values;
  if (!readPatchFile(path, values, error)) return false;
  applyPatch(s, values);
  return true;
}

}  // namespace ondelith
