// What one instance of the CLAP plugin costs its host: nanoseconds per sample
// through our CLAP host and the plugin's process call, in blocks of 256 frames
// at 48000 Hz, idle and with one note held (the start-up sound, and every row
// wobbling, brought in as a state).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/plugin_bench_support.h"
#include "plugin/tests/clap_host.h"

namespace ondelith {
namespace {

using benchsupport::kBlock;
using benchsupport::kRate;
using benchsupport::reportSamples;

claptest::Module& module() {
  static claptest::Module m(ONDELITH_CLAP_PATH);
  return m;
}

// A state holding a patch with all four rows wobbling over the longest duration.
std::string wobblingState() {
  const PatchValues v = benchsupport::wobblingPatch();
  using namespace std::string_literals;
  return "__dpf_program__\0"s
         "0\0"s
         "__dpf_state_begin__\0"s
         "patch\0"s +
         formatPatch(v) + "\0__dpf_state_end__\0\xfe"s;
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
  if (wobbling && !plugin.loadState(wobblingState()))
    return state.SkipWithError("the state did not load");
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
