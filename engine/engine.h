#pragma once
// The instrument's voice: made at a given sample rate, played and set
// through frame-stamped events that any thread may post, and rendered by
// the audio thread, which alone changes its state. It knows nothing of
// windows, devices or hosts; each host makes its own.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/curve_model.h"
#include "engine/engine_event.h"
#include "engine/envelope.h"
#include "engine/event_queue.h"
#include "engine/filter.h"
#include "engine/modulation.h"
#include "engine/note_course.h"
#include "engine/note_entry.h"
#include "engine/oscillator.h"
#include "engine/params.h"
#include "engine/render_carry.h"
#include "engine/sample_rate.h"

namespace ondelith {

// What the notes did last, for a host's "On" / "Off" display.
enum class NoteStatus : int32_t { None, On, Off };

// Events waiting for the audio thread; more than a block ever brings.
constexpr size_t kEngineEventCapacity = 512;

class OversampledVoice;

struct Engine {
  explicit Engine(SampleRate rate = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Any thread: queues an event; false (nothing queued) when the queue is full.
  bool post(const EngineEvent& event) { return events_.push(event); }

  // Audio thread: `frames` mono samples, each queued event applied just
  // before the frame it is stamped with. Allocates nothing, locks nothing,
  // never waits.
  void render(float* out, int64_t frames);
  // Audio thread: an event applied now.
  void apply(const EngineEvent& event);
  // Frames rendered since the engine was made.
  int64_t frame() const { return frame_; }

  // Any thread may watch these.
  std::atomic<NoteStatus> noteStatus{NoteStatus::None};
  std::atomic<int32_t> sampleCounter{0};  // samples since the attack began (or the start)
  // The last Program Change heard on the channel, for the host to choose a
  // sound: 256 times its count since the engine was made, plus the program;
  // 0 before the first.
  std::atomic<uint32_t> programRequest{0};

  // The audio thread's alone (or the one thread that drives an engine no
  // audio thread runs).
  const SampleRate rate;
  // The voice's rate over the output's: 1, but for the voice an oversampled
  // engine runs inside it, whose counts and periods are the output's.
  const SampleRate outputRate;
  const int periodFactor = 1;
  EngineParams params;
  VoiceState voice;
  NoteEntry notes{voice, params};
  int midiChannel = 0;  // 0 to 15, or kAllChannels
  // The wobble curves by row, and a count of their changes.
  std::array<CurvePoints, kWobbleRows> curves;
  std::array<uint32_t, kWobbleRows> curveVersions{};
  NoteLifecycle life{outputRate, periodFactor};
  Envelope envelope{rate};
  Oscillator oscillator{rate, params, periodFactor};
  Wobble wobble{static_cast<float>(rate.hz())};
  LadderFilter filter{rate};
  RenderCarry renderCarry;  // renderFrames' own

 private:
  friend class OversampledVoice;
  // The voice an oversampled engine runs: at `factor` times the output rate.
  Engine(SampleRate outputRate, int factor);
  void renderVoice(float* out, int64_t frames, bool carryOn);
  void noteChange(GateChange change);
  void applyMidi(uint32_t word, bool anyChannel);
  void applyCurve(int row, const CurvePoints& curve);
  void applyKeys(const EngineEvent& e);

  EventQueue<EngineEvent, kEngineEventCapacity> events_;
  KeyFrequencies stagedKeys_ = equalTemperament();  // a tuning on its way in
  EngineEvent next_;
  bool hasNext_ = false;
  int64_t frame_ = 0;
  // Made with the engine, so a change of the Oversampling setting on the
  // audio thread allocates nothing; none for an oversampled voice itself.
  std::unique_ptr<OversampledVoice> oversampled_;
};

// Renders `frames` mono samples with no events: per frame the lifecycle
// tick, the oscillator, the filter, the envelope gain and the fade-in of a
// note's first samples. Audio thread. `carryOn`: the next call most likely
// follows with no event before its first frames, so they may be worked out
// ahead (the engine's state still ends where these frames end).
void renderFrames(Engine& engine, float* out, int64_t frames, bool carryOn = false);

}  // namespace ondelith
