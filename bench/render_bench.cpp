// The render path's speed: nanoseconds per sample and times real time (seconds
// of audio per CPU second), beside the floor set by the ladder filter's
// recursion alone on the same input.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/plugin_bench_support.h"
#include "engine/filter.h"
#include "instrument/instrument.h"
#include "instrument/playback.h"
#include "tests/reference_render.h"

namespace ondelith {
namespace {

constexpr int kBlock = 512;

// The benchmarks run at the rate given as their argument.
SampleRate rateOf(const benchmark::State& state) {
  return *SampleRate::of(static_cast<double>(state.range(0)));
}

void reportSamples(benchmark::State& state, int64_t samples) {
  state.SetItemsProcessed(samples);
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(samples) * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(samples) / rateOf(state).hz(), benchmark::Counter::kIsRate);
}

uint32_t noteOn(int note) { return 0x90u | (static_cast<uint32_t>(note) << 8) | (100u << 16); }

// A held note with all four coordinates wobbling: rates, depths of both
// signs, drawn curves, and the longest duration, so every sample looks the
// four curves up.
struct Voice {
  explicit Voice(SampleRate rate) : engine(rate) { instrument.attach(&engine); }
  Engine engine;
  Instrument instrument;
};

void setUpWobblingNote(Instrument& in) {
  const int mods[4] = {70, -55, -90, 100};
  const int coarse[4] = {1, 3, 0, 7};
  const int fine[4] = {50, 0, 25, 13};
  for (int row = 0; row < kWobbleRows; ++row) {
    in.setValue(modIndex(row), mods[row]);
    in.setValue(coarseIndex(row), coarse[row]);
    in.setValue(fineIndex(row), fine[row]);
    CurveModel& curve = in.curve(row);
    for (int i = 0; i < kCurvePointCount; ++i)
      moveCurvePoint(curve, i, {curvePoint(curve, i).x, (i * 23 + row * 11) % 70});
    in.curveEdited(row);
  }
  in.setValue(kDurationIndex, 10000);
}

// Keeps a long benchmark inside the wobble duration (and past the fade-in).
void stayInsideTheDuration(Voice& s) {
  if (s.engine.sampleCounter.load() > s.engine.wobble.samples - 2 * kBlock)
    s.engine.sampleCounter.store(1000);
}

std::unique_ptr<Voice> playing(SampleRate rate, bool wobble) {
  auto s = std::make_unique<Voice>(rate);
  if (wobble) setUpWobblingNote(s->instrument);
  s->engine.post(midiEvent(0, noteOn(57)));
  std::vector<float> out(4096);
  s->engine.render(out.data(), static_cast<int64_t>(out.size()));  // past set-up and fade
  return s;
}

using RenderPath = void (*)(Engine&, float*, int64_t);
void renderEvents(Engine& e, float* out, int64_t frames) { e.render(out, frames); }

void renderLoop(benchmark::State& state, Voice& s, bool wobble, RenderPath render = &renderEvents) {
  std::vector<float> out(kBlock);
  int64_t samples = 0;
  for (auto _ : state) {
    render(s.engine, out.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    if (wobble) stayInsideTheDuration(s);
    samples += kBlock;
  }
  reportSamples(state, samples);
}

void BM_Idle(benchmark::State& state) {
  auto s = std::make_unique<Voice>(rateOf(state));
  renderLoop(state, *s, false);
}
BENCHMARK(BM_Idle)->Arg(44100)->Arg(48000);

void BM_HeldNote(benchmark::State& state) {
  auto s = playing(rateOf(state), false);
  renderLoop(state, *s, false);
}
BENCHMARK(BM_HeldNote)->Arg(44100)->Arg(48000);

void BM_WobblingNote(benchmark::State& state) {
  auto s = playing(rateOf(state), true);
  renderLoop(state, *s, true);
}
BENCHMARK(BM_WobblingNote)->Arg(44100)->Arg(48000);

// The same voice frame by frame in the plain order, without the pipeline.
void BM_WobblingNotePerSample(benchmark::State& state) {
  auto s = playing(rateOf(state), true);
  renderLoop(state, *s, true, &test::renderReference);
}
BENCHMARK(BM_WobblingNotePerSample)->Arg(44100);

// What ondelith-render does between reading its MIDI file and writing its
// WAV file, for bench/compare_amsynth.sh's file: the plugin benchmarks'
// wobbling patch, A4 struck every 8 s for 300 s, played in the renderer's
// blocks into a sink that keeps nothing. Per iteration: the whole 300 s.
void rendererEngine(benchmark::State& state, int pitchMode, int oversampling = 0) {
  const SampleRate rate = rateOf(state);
  const int hz = static_cast<int>(rate.hz());
  std::vector<TimedMidi> midi{{0, noteOn(69)}};
  for (int64_t second = 8; second < 300; second += 8) {
    midi.push_back({second * hz, 0x80u | (69u << 8)});
    midi.push_back({second * hz, noteOn(69)});
  }
  const int64_t frames = int64_t{300} * hz;
  int64_t samples = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto s = std::make_unique<Voice>(rate);
    s->instrument.applyPatch(benchsupport::wobblingPatch());
    if (pitchMode != kPitchPeriods) s->instrument.setValue(parameterIndex("pitch_mode"), pitchMode);
    if (oversampling != 0) s->instrument.setValue(kOversamplingIndex, oversampling);
    state.ResumeTiming();
    playMidi(s->engine, midi.data(), midi.size(), frames, 4096, [](const float* out, int64_t) {
      benchmark::DoNotOptimize(out);
      return true;
    });
    samples += frames;
  }
  reportSamples(state, samples);
}
void BM_RendererEngine(benchmark::State& state) { rendererEngine(state, kPitchPeriods); }
BENCHMARK(BM_RendererEngine)->Arg(44100)->Arg(48000)->Unit(benchmark::kMillisecond);
// The same in exact pitch mode.
void BM_RendererEngineExact(benchmark::State& state) { rendererEngine(state, kPitchExact); }
BENCHMARK(BM_RendererEngineExact)->Arg(44100)->Arg(48000)->Unit(benchmark::kMillisecond);
// The same at each oversampling setting (0 to 3: 1, 2, 4 and 8 times the rate).
void BM_RendererEngineOversampled(benchmark::State& state) {
  rendererEngine(state, kPitchPeriods, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_RendererEngineOversampled)
    ->ArgsProduct({{44100, 48000}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

// The floor: the filter's recursion alone on the wobbling voice's raw input.
void BM_FilterFloor(benchmark::State& state) {
  auto s = playing(rateOf(state), true);
  std::vector<float> raw(1 << 16);
  for (float& v : raw) v = test::oscillatorStep(s->engine, 5000);
  LadderFilter lf(rateOf(state));
  lf.setCutoff(1500.0);
  lf.setResonance(50);
  size_t i = 0;
  double sink = 0;
  int64_t samples = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBlock; ++k) sink += lf.process(raw[(i++) & (raw.size() - 1)]);
    benchmark::DoNotOptimize(sink);
    samples += kBlock;
  }
  reportSamples(state, samples);
}
BENCHMARK(BM_FilterFloor)->Arg(44100)->Arg(48000);

}  // namespace
}  // namespace ondelith

BENCHMARK_MAIN();
