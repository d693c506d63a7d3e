// Counts heap allocations made on a thread while it renders: a note's whole
// life, set-up and wobble included, must not touch the heap.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "engine/render.h"
#include "test_support.h"

namespace {
thread_local bool counting = false;
std::atomic<long> allocations{0};

void* countedAlloc(std::size_t n) {
  if (counting) allocations.fetch_add(1);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return countedAlloc(n); }
void* operator new[](std::size_t n) { return countedAlloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (counting) allocations.fetch_add(1);
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  if (counting) allocations.fetch_add(1);
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

// Calls into the C allocator from the project's own objects (linked with --wrap).
extern "C" void* __real_malloc(std::size_t);
extern "C" void* __real_calloc(std::size_t, std::size_t);
extern "C" void* __real_realloc(void*, std::size_t);
extern "C" void* __wrap_malloc(std::size_t n) {
  if (counting) allocations.fetch_add(1);
  return __real_malloc(n);
}
extern "C" void* __wrap_calloc(std::size_t a, std::size_t b) {
  if (counting) allocations.fetch_add(1);
  return __real_calloc(a, b);
}
extern "C" void* __wrap_realloc(void* p, std::size_t n) {
  if (counting) allocations.fetch_add(1);
  return __real_realloc(p, n);
}

namespace ondelith {
namespace {

TEST(Allocation, RenderingANoteAllocatesNothing) {
  auto s = test::makeSynth();
  for (int row = 0; row < kWobbleRows; ++row) {
    applyControlEvent(*s, spinModId(row), row % 2 ? -70 : 70);
    applyControlEvent(*s, spinCoarseId(row), 2 + row);
  }
  std::vector<float> buffer(512);
  long during = -1;
  std::thread audio([&] {
    counting = true;
    float* out = buffer.data();
    s->engine.render(out, 512);  // idle
    midiInputCallback(s->midi, kMidiData, test::noteOnWord(69, 100));
    for (int i = 0; i < 200; ++i) s->engine.render(out, 512);
    midiInputCallback(s->midi, kMidiData, test::noteOnWord(72, 100));  // legato
    for (int i = 0; i < 100; ++i) s->engine.render(out, 333);
    midiInputCallback(s->midi, kMidiData, test::noteOffWord(72));
    midiInputCallback(s->midi, kMidiData, test::noteOffWord(69));
    for (int i = 0; i < 200; ++i) s->engine.render(out, 512);
    midiInputCallback(s->midi, kMidiData, test::noteOnWord(60, 100));  // a second set-up
    for (int i = 0; i < 100; ++i) s->engine.render(out, 512);
    counting = false;
    during = allocations.load();
  });
  audio.join();
  EXPECT_EQ(during, 0);
  EXPECT_EQ(s->engine.life.attackSerial, s->engine.voice.noteSerial.load());  // the note did play
}

TEST(Allocation, TheCounterSeesAllocations) {
  std::thread t([] {
    counting = true;
    auto* p = new std::vector<int>(100);
    delete p;
    counting = false;
  });
  t.join();
  EXPECT_GE(allocations.load(), 2);
}

}  // namespace
}  // namespace ondelith
