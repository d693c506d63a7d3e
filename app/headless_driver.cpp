#include "app/headless_driver.h"

#include <algorithm>

#include "engine/engine.h"
#include "engine/midi_message.h"

namespace ondelith {

void DriverSchedule::midi(int64_t frame, uint32_t word) {
  DriverEvent e;
  e.frame = frame;
  e.kind = DriverEvent::Kind::Midi;
  e.word = word;
  events.push_back(std::move(e));
}

void DriverSchedule::noteOn(int64_t frame, int note, int velocity, int channel) {
  midi(frame, (kMidiNoteOn | (channel & 0xF)) | (static_cast<uint32_t>(note & 0x7F) << 8) |
                  (static_cast<uint32_t>(velocity & 0x7F) << 16));
}

void DriverSchedule::noteOff(int64_t frame, int note, int channel) {
  midi(frame, (kMidiNoteOff | (channel & 0xF)) | (static_cast<uint32_t>(note & 0x7F) << 8));
}

void DriverSchedule::closeNotice(int64_t frame) {
  DriverEvent e;
  e.frame = frame;
  e.kind = DriverEvent::Kind::CloseNotice;
  events.push_back(std::move(e));
}

void DriverSchedule::control(int64_t frame, int id, int32_t value) {
  DriverEvent e;
  e.frame = frame;
  e.kind = DriverEvent::Kind::Control;
  e.id = id;
  e.value = value;
  events.push_back(std::move(e));
}

void DriverSchedule::movePoint(int64_t frame, int row, int index, CurvePoint pixel) {
  DriverEvent e;
  e.frame = frame;
  e.kind = DriverEvent::Kind::MovePoint;
  e.id = row;
  e.value = index;
  e.point = pixel;
  events.push_back(std::move(e));
}

void DriverSchedule::replaceCurve(int64_t frame, int row, std::vector<CurvePoint> scaled) {
  DriverEvent e;
  e.frame = frame;
  e.kind = DriverEvent::Kind::ReplaceCurve;
  e.id = row;
  e.curve = std::move(scaled);
  events.push_back(std::move(e));
}

BlockSizer fixedBlocks(int64_t size) {
  return [size](int64_t left) { return std::min(std::max<int64_t>(size, 1), left); };
}

void applyDriverEvent(Synth& s, const DriverEvent& e) {
  switch (e.kind) {
    case DriverEvent::Kind::Midi: midiInputCallback(s.midi, kMidiData, e.word); break;
    case DriverEvent::Kind::CloseNotice: midiInputCallback(s.midi, kMidiCloseNotice, 0); break;
    case DriverEvent::Kind::Control: applyControlEvent(s, e.id, e.value); break;
    case DriverEvent::Kind::MovePoint:
      if (CurveEditor* ed = findCurveEditor(s.editors, curveEditorId(s, e.id))) {
        moveCurvePoint(*ed->model, e.value, e.point);
        curveChanged(s.editors, curveEditorId(s, e.id));
      }
      break;
    case DriverEvent::Kind::ReplaceCurve:
      copyCurveFromArray(s.editors, curveEditorId(s, e.id), e.curve, 1);
      break;
  }
}

bool renderSchedule(Synth& s, const DriverSchedule& schedule, int64_t frames,
                    const BlockSizer& blocks, const BlockSink& sink) {
  std::vector<const DriverEvent*> order;
  order.reserve(schedule.events.size());
  for (const DriverEvent& e : schedule.events) order.push_back(&e);
  std::stable_sort(order.begin(), order.end(),
                   [](const DriverEvent* a, const DriverEvent* b) { return a->frame < b->frame; });

  std::vector<float> buffer;
  size_t next = 0;
  int64_t frame = 0;
  while (frame < frames) {
    while (next < order.size() && order[next]->frame <= frame) applyDriverEvent(s, *order[next++]);
    int64_t n = std::clamp<int64_t>(blocks(frames - frame), 1, frames - frame);
    if (next < order.size()) n = std::min(n, order[next]->frame - frame);
    buffer.resize(static_cast<size_t>(n));
    s.engine.render(buffer.data(), n);
    if (!sink(buffer.data(), n)) return false;
    frame += n;
  }
  return true;
}

void renderSchedule(Synth& s, const DriverSchedule& schedule, int64_t frames,
                    const BlockSizer& blocks, std::vector<float>& out) {
  out.clear();
  out.reserve(static_cast<size_t>(std::max<int64_t>(frames, 0)));
  renderSchedule(s, schedule, frames, blocks, [&out](const float* samples, int64_t count) {
    out.insert(out.end(), samples, samples + count);
    return true;
  });
}

}  // namespace ondelith
