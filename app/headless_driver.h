#pragma once
// Plays a timed list of events through the real MIDI callback, control
// dispatch, curve editors and render callback, with no devices and no window.
// Each event is applied just before its frame is rendered; events of one
// frame keep the order in which they were added.

#include <cstdint>
#include <functional>
#include <vector>

#include "app/synth.h"

namespace ondelith {

struct DriverEvent {
  enum class Kind { Midi, CloseNotice, Control, MovePoint, ReplaceCurve };
  int64_t frame = 0;
  Kind kind = Kind::Midi;
  uint32_t word = 0;              // Midi: the packed short message
  int id = 0;                     // Control: control id; curve events: wobble row 0..3
  int32_t value = 0;              // Control: value; MovePoint: point index
  CurvePoint point{0, 0};         // MovePoint: pixel position
  std::vector<CurvePoint> curve;  // ReplaceCurve: scaled array, as a patch holds it
};

struct DriverSchedule {
  std::vector<DriverEvent> events;

  void noteOn(int64_t frame, int note, int velocity = 100, int channel = 0);
  void noteOff(int64_t frame, int note, int channel = 0);
  void midi(int64_t frame, uint32_t word);
  void closeNotice(int64_t frame);
  void control(int64_t frame, int id, int32_t value);
  void movePoint(int64_t frame, int row, int index, CurvePoint pixel);
  void replaceCurve(int64_t frame, int row, std::vector<CurvePoint> scaled);
};

// Block sizes for successive render calls; never called with 0 left.
using BlockSizer = std::function<int64_t(int64_t framesLeft)>;
BlockSizer fixedBlocks(int64_t size);

// Applies one event to the records, as the live system would.
void applyDriverEvent(Synth& synth, const DriverEvent& event);

// Renders frames [0, frames) of the schedule through the render callback,
// splitting blocks at event frames, and hands each block to `sink`, which
// may stop the run by returning false. Events at or beyond `frames` are not
// applied. False when the sink stopped it.
using BlockSink = std::function<bool(const float* samples, int64_t count)>;
bool renderSchedule(Synth& synth, const DriverSchedule& schedule, int64_t frames,
                    const BlockSizer& blocks, const BlockSink& sink);

// The same into `out`, resized to `frames`.
void renderSchedule(Synth& synth, const DriverSchedule& schedule, int64_t frames,
                    const BlockSizer& blocks, std::vector<float>& out);

}  // namespace ondelith
