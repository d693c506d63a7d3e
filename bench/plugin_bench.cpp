// What one instance of the LV2 plugin costs its host: nanoseconds per sample
// through lilv and the plugin's run(), in blocks of 256 frames at 48000 Hz,
// idle and with one note held (the start-up sound, and every row wobbling).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/plugin_bench_support.h"
#include "plugin/tests/lv2_host.h"

namespace ondelith {
namespace {

using benchsupport::kBlock;
using benchsupport::kRate;
using benchsupport::reportSamples;

lv2test::Host& host() {
  static lv2test::Host h;
  return h;
}

// A patch file with all four rows wobbling over the longest duration.
std::string wobblingPatchFile() {
  const PatchValues v = benchsupport::wobblingPatch();
  char name[] = "/tmp/ondelith-bench-XXXXXX";
  const int fd = mkstemp(name);
  const std::string text = formatPatch(v);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
  close(fd);
  return name;
}

void BM_PluginIdle(benchmark::State& state) {
  lv2test::Instance plugin(host(), kRate);
  if (!plugin.ok()) return state.SkipWithError("the bundle is not in the build tree");
  for (auto _ : state) plugin.runOnly(kBlock);
  reportSamples(state);
}
BENCHMARK(BM_PluginIdle);

// One note held; with `wobbling`, pressed again every 8 s of sound so that
// the curves are looked up on every sample.
void oneNote(benchmark::State& state, bool wobbling) {
  lv2test::Instance plugin(host(), kRate);
  if (!plugin.ok()) return state.SkipWithError("the bundle is not in the build tree");
  const std::string patch = wobbling ? wobblingPatchFile() : std::string();
  if (wobbling) {
    plugin.choosePatchFile(patch);
    plugin.runOnly(0);
    plugin.work();
    plugin.deliverAnswers();
    std::remove(patch.c_str());
  }
  plugin.midi(0, {0x90, 69, 100});
  const uint64_t again = static_cast<uint64_t>(8 * kRate / kBlock);
  uint64_t runs = 0;
  for (auto _ : state) {
    if (wobbling && ++runs % again == 0) {
      plugin.midi(0, {0x80, 69, 0});
      plugin.midi(0, {0x90, 69, 100});
    }
    plugin.runOnly(kBlock);
  }
  reportSamples(state);
}
void BM_PluginOneNote(benchmark::State& state) { oneNote(state, false); }
void BM_PluginOneNoteWobbling(benchmark::State& state) { oneNote(state, true); }
BENCHMARK(BM_PluginOneNote);
BENCHMARK(BM_PluginOneNoteWobbling);

}  // namespace
}  // namespace ondelith

BENCHMARK_MAIN();
