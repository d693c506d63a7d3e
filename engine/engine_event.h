#pragma once
// What a host hands the voice: notes, controllers, parameter, setting and
// curve changes, each stamped with the frame it applies at.

#include <algorithm>
#include <cstdint>

#include "engine/curve_model.h"
#include "engine/key_tuning.h"
#include "engine/note_entry.h"
#include "engine/params.h"

namespace ondelith {

enum class EventKind : uint8_t {
  Midi,               // a: the packed short message; b: 1 to hear it on any channel
  DeviceClosed,       // every key let go, the wheel centred and the pedal up
  Param,              // a: the Param; value
  Setting,            // a: the NoteSetting; value
  Channel,            // a: 0 to 15, or kAllChannels
  Curve,              // a: the wobble row; curve
  WobbleDurationNow,  // the sounding note's wobble takes the duration parameter at once
  Keys                // a: the first of kKeysAnEvent keys; keys (see keysEvents)
};

// Applies at `frame` of the engine's frame count; a frame already rendered
// means the start of the next block.
struct EngineEvent {
  int64_t frame = 0;
  EventKind kind = EventKind::Midi;
  int32_t a = 0;
  int32_t b = 0;
  double value = 0;
  // What the kind carries; a tuning's keys take no room of their own.
  union {
    CurvePoints curve{};
    std::array<double, kKeysAnEvent> keys;
  };
};

inline EngineEvent midiEvent(int64_t frame, uint32_t word, bool anyChannel = false) {
  EngineEvent e;
  e.frame = frame;
  e.kind = EventKind::Midi;
  e.a = static_cast<int32_t>(word);
  e.b = anyChannel ? 1 : 0;
  return e;
}
inline EngineEvent paramEvent(int64_t frame, Param id, double value) {
  EngineEvent e;
  e.frame = frame;
  e.kind = EventKind::Param;
  e.a = static_cast<int32_t>(id);
  e.value = value;
  return e;
}
inline EngineEvent settingEvent(int64_t frame, NoteSetting id, double value) {
  EngineEvent e;
  e.frame = frame;
  e.kind = EventKind::Setting;
  e.a = static_cast<int32_t>(id);
  e.value = value;
  return e;
}
inline EngineEvent channelEvent(int64_t frame, int channel) {
  EngineEvent e;
  e.frame = frame;
  e.kind = EventKind::Channel;
  e.a = channel;
  return e;
}
inline EngineEvent curveEvent(int64_t frame, int row, const CurvePoints& points) {
  EngineEvent e;
  e.frame = frame;
  e.kind = EventKind::Curve;
  e.a = row;
  e.curve = points;
  return e;
}
// A tuning as the events that hand it over, in order, each to `send`.
template <typename Send>
void keysEvents(int64_t frame, const KeyFrequencies& keys, Send&& send) {
  for (int first = 0; first < kKeyCount; first += kKeysAnEvent) {
    EngineEvent e;
    e.frame = frame;
    e.kind = EventKind::Keys;
    e.a = first;
    e.keys = {};
    std::copy_n(keys.begin() + first, kKeysAnEvent, e.keys.begin());
    send(e);
  }
}
inline EngineEvent simpleEvent(int64_t frame, EventKind kind) {
  EngineEvent e;
  e.frame = frame;
  e.kind = kind;
  return e;
}

}  // namespace ondelith
