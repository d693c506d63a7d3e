#pragma once
// The values of the main window's controls, kept apart from any toolkit.
// The UI thread owns the ranges and writes the values; the audio and MIDI
// threads read the values through the atomic mirror and never wait.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "app/controls.h"

namespace ondelith {

struct ControlMirror {
  std::array<std::atomic<int32_t>, kControlIdLimit> value{};
};

// What another thread sees of a control: its current integer value, or 0 for
// an id outside the table.
inline int32_t readControl(const ControlMirror& mirror, int id) {
  if (id < 0 || id >= kControlIdLimit) return 0;
  return mirror.value[static_cast<size_t>(id)].load(std::memory_order_relaxed);
}

struct ControlRange {
  int32_t minimum = 0;
  int32_t maximum = 0;
};

struct ControlModel {
  std::array<ControlRange, kControlIdLimit> range{};
  std::array<std::string, kControlIdLimit> text{};  // what labels, frames and spin boxes show
  ControlMirror mirror;
};

// Every control at its start range and value (the Duration slider on "x10").
void initControls(ControlModel& model);

// Sets a control's value; sliders and spin boxes keep it within their range,
// as the toolkit's controls do. Returns the value stored. Unknown ids: 0.
int32_t setControlValue(ControlModel& model, int id, int32_t value);

int32_t controlValue(const ControlModel& model, int id);

// Changes a slider's or spin box's range and pulls its value inside it.
void setControlRange(ControlModel& model, int id, int32_t minimum, int32_t maximum);

bool hasRange(int id);

// The text a spin box shows for its value, as its parameter writes it
// (Fine as hundredths: ".05"). Ids that set no parameter: the decimal value.
std::string spinText(int id, int32_t value);
// A value typed into a spin box, read as its parameter reads its text (".25"
// and "0.25" alike); false for a text that is no value of it.
bool readSpinText(int id, const std::string& text, int& value);

// What a slider or spin box shows while the pointer rests on it: its
// parameter's tooltip ("Filter cutoff: 1500 Hz"). Empty for other ids.
std::string controlToolTip(int id, int32_t value);

// Writes a wobble spin box's text from the value it now holds.
void renderSpinText(ControlModel& model, int id);

}  // namespace ondelith
