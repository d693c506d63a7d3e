// What one instance of the CLAP plugin costs its host: nanoseconds per sample
// through our CLAP host and the plugin's process call, in blocks of 256 frames
// at 48000 Hz, idle and with one note held (the start-up sound, and every row
// wobbling, brought in as a state).
#include <benchmark/benchmark.h>

#include <string>

#include "instrument/sound.h"
#include "plugin/tests/clap_host.h"

namespace ondelith {
namespace {

constexpr uint32_t kBlock = 256;
constexpr double kRate = 48000;

claptest::Module& module() {
  static claptest::Module m(ONDELITH_CLAP_PATH);
  return m;
}

void reportSamples(benchmark::State& state) {
  const double samples = static_cast<double>(state.iterations()) * kBlock;
  state.SetItemsProcessed(static_cast<int64_t>(samples));
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A state holding a patch with all four rows wobbling over the longest duration.
std::string wobblingState() {
  PatchValues v = capturePatch(startSound());
  const int mods[4] = {70, -55, -90, 100};
  const int coarse[4] = {1, 3, 0, 7};
  for (int row = 0; row < 4; ++row) {
    v[static_cast<size_t>(56 + 3 * row)] = mods[row];
    v[static_cast<size_t>(57 + 3 * row)] = coarse[row];
    v[static_cast<size_t>(58 + 3 * row)] = 13 * row;
    for (int k = 0; k < kCurveBlockLines; k += 2)
      v[static_cast<size_t>(row * kCurveBlockLines + k)] = (k * 23 + row * 11) % 100;
  }
  v[73] = 10000;
  using namespace std::string_literals;
  return "__dpf_program__\0"s "0\0"s "__dpf_state_begin__\0"s "patch\0"s + formatPatch(v) +
         "\0__dpf_state_end__\0\xfe"s;
}

void BM_ClapIdle(benchmark::State& state) {
  claptest::Instance plugin(module(), kRate, kBlock);
  if (!plugin.ok()) return state.SkipWithError("no plugin in the build tree");
  for (auto _ : state) plugin.processOnly(kBlock);
  reportSamples(state);
}
BENCHMARK(BM_ClapIdle);

void oneNote(benchmark::State& state, bool wobbling) {
  claptest::Instance plugin(module(), kRate, kBlock);
  if (!plugin.ok()) return state.SkipWithError("no plugin in the build tree");
  if (wobbling && !plugin.loadState(wobblingState())) return state.SkipWithError("the state did not load");
  plugin.midi(0, 0x90 | (69 << 8) | (100 << 16));
  const uint64_t again = static_cast<uint64_t>(8 * kRate / kBlock);
  uint64_t runs = 0;
  for (auto _ : state) {
    if (wobbling && ++runs % again == 0) {
      plugin.midi(0, 0x80 | (69 << 8));
      plugin.midi(0, 0x90 | (69 << 8) | (100 << 16));
    }
    plugin.processOnly(kBlock);
  }
  reportSamples(state);
}
void BM_ClapOneNote(benchmark::State& state) { oneNote(state, false); }
void BM_ClapOneNoteWobbling(benchmark::State& state) { oneNote(state, true); }
BENCHMARK(BM_ClapOneNote);
BENCHMARK(BM_ClapOneNoteWobbling);

}  // namespace
}  // namespace ondelith

BENCHMARK_MAIN();
