#pragma once
// What a producer's hands do to a control, apart from any toolkit: the
// wheel's step, a slider dragged (finely with Shift), a double click, a
// value typed in, and a dragged curve point read out. The panel uses them;
// each takes its numbers from the parameter table.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/curve_model.h"
#include "instrument/parameter.h"

namespace ondelith {

// A wheel notch moves a control by a hundredth of its range (at least its
// row's step); a fine notch (Shift) by its step. A choice moves one place.
int32_t wheelStep(int index, Bounds bounds, bool fine);

// A fine drag goes this many times slower than a plain one.
constexpr double kFineDragDivisor = 10;

// A slider dragged over `span` pixels for its whole range. The value
// follows the pointer from where the drag (or its last change between
// plain and fine) began, so changing pace never makes the value jump.
class SliderDrag {
 public:
  SliderDrag(int32_t value, double y, bool fine) : value_(value), y_(y), fine_(fine) {}
  int32_t moved(double y, bool fine, Bounds bounds, double span);

 private:
  int32_t value_;  // at the anchor
  double y_;
  bool fine_;
  int32_t last_ = value_;
};

// Two presses on the same target within kDoubleClickMs make a double click.
class DoubleClick {
 public:
  static constexpr uint32_t kDoubleClickMs = 400;
  // True when this press completes a double click (which the next press
  // cannot complete again).
  bool press(int target, uint32_t ms);

 private:
  int target_ = -1;
  uint32_t ms_ = 0;
};

// A value being typed into a control: begun with the value's text, edited
// by characters, applied or dropped.
class ValueEntry {
 public:
  void begin(int index, int32_t value);
  bool active() const { return index_ >= 0; }
  int index() const { return index_; }
  const std::string& text() const { return text_; }
  // A typed character (UTF-8), or backspace (8 or 127). The first one
  // typed replaces the whole text, as a selected field does.
  void type(uint32_t character, const std::string& utf8);
  // Enter: the value the text names, parsed as the table reads it, or
  // nothing when it names none; the entry ends either way.
  std::optional<int32_t> apply();
  // Escape: the entry ends, the value stays as it was.
  void cancel() { index_ = -1; }

 private:
  int index_ = -1;
  std::string text_;
  bool fresh_ = false;
};

// A curve point while it is dragged, as the player reads it: its time into
// the wobble and its share of the swing.
std::string curvePointReadout(const CurveModel& curve, int point, int32_t wobbleMs);

}  // namespace ondelith
