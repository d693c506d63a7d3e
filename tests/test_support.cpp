#include "test_support.h"

#include <chrono>

namespace ondelith::test {

void settle(Synth& s) { s.engine.render(nullptr, 0); }

AudioThread::AudioThread(Engine& engine)
    : thread_([this, &engine] {
        float out[64];
        while (!stop_.load()) {
          engine.render(out, 64);
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
      }) {}

AudioThread::~AudioThread() {
  stop_ = true;
  thread_.join();
}

void play(Synth& s, uint32_t word) {
  midiInputCallback(s.midi, kMidiData, word);
  settle(s);
}

void closeNotice(Synth& s) {
  midiInputCallback(s.midi, kMidiCloseNotice, 0);
  settle(s);
}

std::unique_ptr<Synth> makeSynth(SampleRate rate) {
  auto s = std::make_unique<Synth>(rate);
  initSynth(*s);
  settle(*s);  // the start-up sound reaches the voice, as at the first block
  return s;
}

std::vector<float> render(Synth& synth, const DriverSchedule& schedule, int64_t frames,
                          int64_t block) {
  std::vector<float> out;
  renderSchedule(synth, schedule, frames, fixedBlocks(block), out);
  return out;
}

std::vector<float> renderFresh(const DriverSchedule& schedule, int64_t frames,
                               const BlockSizer& blocks) {
  auto s = makeSynth();
  std::vector<float> out;
  renderSchedule(*s, schedule, frames, blocks, out);
  return out;
}

}  // namespace ondelith::test
