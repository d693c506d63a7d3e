#pragma once
// Plays timed MIDI messages through a voice that the caller's thread
// renders (a renderer, a plugin's process call), each message at its exact
// frame, however many there are.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/engine.h"

namespace ondelith {

struct TimedMidi {
  int64_t frame;  // from the start of the play
  uint32_t word;  // status | data1 << 8 | data2 << 16
};

// Queues an event stamped at or before the voice's current frame, for a
// voice this thread renders: while the queue is full, what is due is
// applied to make room.
void postRendering(Engine& engine, const EngineEvent& event);

// Renders `frames` frames from the engine's current frame, the messages
// (in time order) each at its frame, in blocks of at most `block` frames
// handed to `sink`, which may stop the play by returning false. Messages at
// or beyond `frames` are not played. False when the sink stopped it.
// `program`, when given, takes each Program Change at its frame, with every
// frame before it rendered: a host's bank posts its sound's events there
// (postRendering), ahead of the messages that follow.
using BlockSink = std::function<bool(const float* samples, int64_t count)>;
using ProgramSink = std::function<void(int64_t frame, uint32_t word)>;
bool playMidi(Engine& engine, const TimedMidi* messages, size_t count, int64_t frames,
              int64_t block, const BlockSink& sink, const ProgramSink& program = {});

}  // namespace ondelith
