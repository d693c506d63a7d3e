#include "test_support.h"

namespace ondelith::test {

std::unique_ptr<Synth> makeSynth() {
  auto s = std::make_unique<Synth>();
  initSynth(*s);
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

uint32_t noteOnWord(int note, int velocity, int channel) {
  return (0x90u | static_cast<uint32_t>(channel)) | (static_cast<uint32_t>(note) << 8) |
         (static_cast<uint32_t>(velocity) << 16);
}

uint32_t noteOffWord(int note, int channel) {
  return (0x80u | static_cast<uint32_t>(channel)) | (static_cast<uint32_t>(note) << 8);
}

}  // namespace ondelith::test
