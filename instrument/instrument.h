#pragma once
// The instrument as a host's user-interface thread keeps it: the sound and
// the player's settings as the player set them, the curves as the editors
// draw them, and the voice they are handed to as events. Save reads this,
// never the voice. One thread owns it.

#include <array>
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "instrument/sound.h"

namespace ondelith {

class Instrument {
 public:
  Instrument();
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // The voice changes go to; a new one is given the whole sound and the
  // settings. nullptr: none.
  void attach(Engine* engine);
  Engine* engine() const { return engine_; }

  // The sound as it stands, curves as the editors last left them.
  Sound sound() const;
  // A sound value or a player setting, by registry position.
  int32_t value(int index) const;
  // Sets one, limited as its control limits it; returns the value kept.
  int32_t setValue(int index, int32_t value);
  // The Duration's range switch, as the window works it.
  void setDurationRange(int range, int32_t durationMs);

  // The curve models the editors paint and drag, by row; after a change,
  // curveEdited hands it to the sound and the voice.
  CurveModel& curve(int row) { return curves_[static_cast<size_t>(row)]; }
  const CurveModel& curve(int row) const { return curves_[static_cast<size_t>(row)]; }
  void curveEdited(int row);

  // A whole sound, as Open or a sound choice brings it.
  void setSound(const Sound& sound);
  // Open and Save leave the editors' ranges in the patch's units, as the
  // file counts its curves. `report`: what of the keyed lines was not read.
  void applyPatch(const Patch& patch, std::string* report = nullptr);
  PatchValues capturePatch();
  // The whole patch Save writes, keyed lines and all.
  Patch savedPatch();

  // The tuning's keys (a player's choice, never the sound's).
  void setKeys(const KeyFrequencies& keys);
  const KeyFrequencies& keys() const { return keys_; }

  // Changes that found the voice's queue full are sent again, whole. Call
  // at the user interface's pace; true when nothing is left to send.
  bool flush();

 private:
  void post(const EngineEvent& event);
  void postSetting(int index);
  void postAll(bool now);
  void setPatchRanges(int32_t durationMs);

  Sound sound_;
  std::array<int32_t, kParameterCount> settings_{};  // the player's entries, by registry position
  std::array<CurveModel, kWobbleRows> curves_;
  KeyFrequencies keys_ = equalTemperament();
  Engine* engine_ = nullptr;
  bool unsent_ = false;
};

}  // namespace ondelith
