// Counts heap allocations made while the plugin's audio-thread functions run
// (run() and the answers of its worker, the VST3 and CLAP process calls): a
// note's whole life, controls moved, parameter changes inside blocks, a patch
// file applied and a host's All Notes Off must not touch the heap.
// The C allocator is taken over here, so the plugin's own calls are counted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "instrument/patch_format.h"
#include "instrument/registry.h"
#include "plugin/tests/clap_host.h"
#include "plugin/tests/lv2_host.h"
#include "plugin/tests/vst3_host.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {
thread_local bool counting = false;
std::atomic<long> allocations{0};
void count() {
  if (counting) allocations.fetch_add(1);
}
}  // namespace

extern "C" {
void* malloc(size_t n) {
  count();
  return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
  count();
  return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
  count();
  return __libc_realloc(p, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  count();
  return __libc_memalign(alignment, n);
}
}

namespace ondelith {
namespace {

using lv2test::Host;
using lv2test::Instance;

TEST(Realtime, TheAudioThreadsFunctionsAllocateNothing) {
  Host host;
  ASSERT_TRUE(host.plugin);
  Instance plugin(host, 48000);
  ASSERT_TRUE(plugin.ok());
  char name[] = "/tmp/ondelith-rt-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  PatchValues v = parsePatch("");
  v[56] = 80;    // X1 Mod%
  v[57] = 3;     // X1 Coarse
  v[73] = 3000;  // Duration
  v[74] = 2;
  v[72] = 400;   // Vol
  v[76] = 100;   // D
  v[77] = 50;    // S
  v[79] = 1500;  // F
  const std::string text = formatPatch(v);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);

  // One run with the audio thread's parts counted, the worker's not.
  const auto audioRun = [&](uint32_t frames) {
    counting = true;
    plugin.runOnly(frames);
    counting = false;
    plugin.work();
    counting = true;
    plugin.deliverAnswers();
    counting = false;
  };
  audioRun(256);  // idle
  plugin.midi(10, {0x90, 69, 100});
  for (int i = 0; i < 100; ++i) audioRun(256);
  plugin.set("x1_mod", 50);
  plugin.set("duration", 5000);
  plugin.choosePatchFile(name, 3);
  audioRun(256);
  plugin.midi(0, {0x90, 72, 100});  // legato
  plugin.set("velocity", 60);
  plugin.set("midi_channel", 0);
  plugin.set("duration_range", 1);
  for (int i = 0; i < 100; ++i) audioRun(333);
  plugin.set("oversampling", 3);  // the voice made afresh at 8x, in its room
  for (int i = 0; i < 20; ++i) audioRun(256);
  plugin.set("oversampling", 1);
  for (int i = 0; i < 20; ++i) audioRun(100);
  plugin.midi(5, {0xB0, 123, 0});  // All Notes Off
  for (int i = 0; i < 100; ++i) audioRun(256);
  plugin.midi(0, {0x90, 60, 100});  // a new set-up
  for (int i = 0; i < 100; ++i) audioRun(512);
  std::remove(name);

  EXPECT_EQ(allocations.load(), 0);
  // The count sees the allocations it is meant to see.
  counting = true;
  static void* volatile probe = std::malloc(8);
  counting = false;
  std::free(probe);
  EXPECT_EQ(allocations.load(), 1);
  float peak = 0;
  for (uint32_t i = 0; i < 512; ++i) peak = std::max(peak, std::abs(plugin.output()[i]));
  EXPECT_GT(peak, 0.0f);  // the last note sounds
}

// The same for a process call of each of the other formats, with notes and
// parameter changes inside the block; the host's own work is not counted.
template <typename Instance, typename Id>
long processAllocations(Instance& plugin, Id firstId) {
  const auto run = [&](int frames) {
    counting = true;
    plugin.processOnly(frames);
    counting = false;
  };
  run(256);  // the first call may set up what the host's calls need
  const long before = allocations.load();
  plugin.midi(10, 0x90 | (69 << 8) | (100 << 16));
  for (int i = 0; i < 50; ++i) run(256);
  plugin.param(17, firstId + kCutoffIndex, 700);
  plugin.param(40, firstId + kDurationRangeIndex, 1);
  plugin.param(41, firstId + kVelocityIndex, 60);
  plugin.midi(100, 0x90 | (72 << 8) | (100 << 16));
  run(333);
  plugin.midi(5, 0xB0 | (123 << 8));  // All Notes Off
  for (int i = 0; i < 50; ++i) run(512);
  return allocations.load() - before;
}

TEST(Realtime, TheVst3AndClapProcessCallsAllocateNothing) {
  claptest::Module clap(ONDELITH_CLAP_PATH);
  ASSERT_TRUE(clap.ok());
  claptest::Instance c(clap, 48000);
  EXPECT_EQ(processAllocations(c, 0u), 0);

  vst3test::Module vst3(ONDELITH_VST3_BUNDLE);
  ASSERT_TRUE(vst3.ok());
  vst3test::Instance v(vst3, 48000);
  EXPECT_EQ(processAllocations(v, v3_param_id{1 + 16 * 130}), 0);
  float peak = 0;
  for (int i = 0; i < 512; ++i) peak = std::max(peak, std::abs(v.output()[i]));
  EXPECT_GT(peak, 0.0f);  // still releasing
}

}  // namespace
}  // namespace ondelith
