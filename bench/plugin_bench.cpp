// What one instance of the LV2 plugin costs its host: nanoseconds per sample
// through lilv and the plugin's run(), in blocks of 256 frames at 48000 Hz,
// idle and with one note held (the start-up sound, and every row wobbling).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "instrument/sound.h"
#include "plugin/tests/lv2_host.h"

namespace ondelith {
namespace {

constexpr uint32_t kBlock = 256;
constexpr double kRate = 48000;

lv2test::Host& host() {
  static lv2test::Host h;
  return h;
}

void reportSamples(benchmark::State& state) {
  const double samples = static_cast<double>(state.iterations()) * kBlock;
  state.SetItemsProcessed(static_cast<int64_t>(samples));
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A patch with all four rows wobbling over the longest duration.
std::string wobblingPatchFile() {
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
