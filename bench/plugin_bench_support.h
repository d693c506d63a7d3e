#pragma once
// What the plugin benchmarks share, whatever format they load the plugin through.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "instrument/patch_format.h"
#include "instrument/sound.h"

namespace ondelith::benchsupport {

constexpr uint32_t kBlock = 256;
constexpr double kRate = 48000;

inline void reportSamples(benchmark::State& state) {
  const double samples = static_cast<double>(state.iterations()) * kBlock;
  state.SetItemsProcessed(static_cast<int64_t>(samples));
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A patch with all four rows wobbling over the longest duration.
inline PatchValues wobblingPatch() {
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
  return v;
}

// The wobbling patch's file with the voice at `factor` times the rate.
inline std::string wobblingPatchText(int64_t factor) {
  Patch p(wobblingPatch());
  if (factor > 1) p.keyed.push_back({"oversampling", std::to_string(factor)});
  return formatPatch(p);
}

}  // namespace ondelith::benchsupport
