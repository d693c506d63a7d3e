#pragma once
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_driver.h"
#include "app/synth.h"
#include "test_files.h"

namespace ondelith::test {

// What the UI and MIDI threads queued, applied as the audio thread's next
// block applies it (a block of no frames).
void settle(Synth& synth);

// A MIDI message (or a device's close notice) through the MIDI input, settled.
void play(Synth& synth, uint32_t word);
void closeNotice(Synth& synth);

// An audio thread of the test's own: renders the engine in small blocks
// until it goes.
class AudioThread {
 public:
  explicit AudioThread(Engine& engine);
  ~AudioThread();
  AudioThread(const AudioThread&) = delete;
  AudioThread& operator=(const AudioThread&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A synthesizer in its start-up state, with no window and no devices.
std::unique_ptr<Synth> makeSynth(SampleRate rate = {});

// Renders `frames` frames of a schedule in blocks of `block`.
std::vector<float> render(Synth& synth, const DriverSchedule& schedule, int64_t frames,
                          int64_t block = 512);

// The same schedule rendered on a fresh start-up synthesizer.
std::vector<float> renderFresh(const DriverSchedule& schedule, int64_t frames,
                               const BlockSizer& blocks);

}  // namespace ondelith::test
