// The plugin's shared sound apart from any plugin API: the Duration and its
// range in either order, and whole sounds handed between threads without
// ever being seen half written.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "instrument/sound_bank.h"
#include "plugin/plugin_core.h"
#include "plugin/tests/plugin_test_support.h"

namespace ondelith::plugin {
namespace {

TEST(SharedSound, TheDurationStaysWithinItsRangeWhicheverIsSetFirst) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, double>> sets;
    int32_t duration, range;
  } cases[] = {
      {"range then duration", {{kDurationRangeIndex, 1}, {kDurationIndex, 600}}, 600, 1},
      {"duration then range", {{kDurationIndex, 600}, {kDurationRangeIndex, 1}}, 600, 1},
      {"too long for x1", {{kDurationRangeIndex, 1}, {kDurationIndex, 4000}}, 1000, 1},
      {"back to x10",
       {{kDurationRangeIndex, 1}, {kDurationIndex, 400}, {kDurationRangeIndex, 2}},
       1000,
       2},
      {"asked again in x10",
       {{kDurationIndex, 400}, {kDurationRangeIndex, 2}, {kDurationIndex, 7000}},
       7000,
       2},
      {"not a number", {{kDurationIndex, 3000}, {kDurationIndex, NAN}}, 3000, 2},
      {"range rounded", {{kDurationRangeIndex, 1.4}, {kDurationIndex, 250}}, 250, 1},
  };
  for (const Case& c : cases) {
    SharedSound shared;
    for (auto [index, value] : c.sets) shared.setValue(index, value);
    EXPECT_EQ(shared.value(kDurationIndex), c.duration) << c.what;
    EXPECT_EQ(shared.value(kDurationRangeIndex), c.range) << c.what;
    EXPECT_EQ(shared.wobbleMs(), c.duration) << c.what;
    EXPECT_EQ(shared.sound().values[kDurationIndex], c.duration) << c.what;
  }
}

TEST(SharedSound, AWholeSoundIsNeverSeenHalfWritten) {
  SharedSound shared;
  const Sound a = startSound();
  Sound b = a;
  applyPatch(b, plugintest::wobblyPatch(7));
  ASSERT_NE(a, b);
  std::atomic<bool> done{false};
  std::atomic<int> tries{0}, seen{0};
  std::thread writer([&] {
    // Until the reader has tried often and read some whole sounds, ending on
    // the first sound. A slow, instrumented reader may lose every race to a
    // writer that never pauses, so it pauses now and then, as a panel does;
    // the bound keeps a reader that never succeeds from hanging the test.
    for (int i = 0; (tries < 20000 || seen < 100 || i < 1000 || i % 2 == 0) && i < 20'000'000;
         ++i) {
      shared.setSound(i % 2 ? b : a);
      if (i % 64 == 63) std::this_thread::yield();
    }
    done = true;
  });
  int torn = 0;
  // As the audio thread reads: a try that may fail, never a wait.
  while (!done) {
    ++tries;
    Sound s;
    if (!shared.tryReadSound(s)) continue;
    ++seen;
    if (s != a && s != b) ++torn;
  }
  writer.join();
  EXPECT_GE(seen, 100);
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(shared.sound(), a);
  EXPECT_TRUE(shared.takeChanges().wholeSound);
}

// The tuning as the audio thread takes it while another thread sets it:
// whole keys of one tuning or the other, never a mix; refused text changes nothing.
TEST(SharedTuning, KeysAreNeverTakenHalfWritten) {
  SharedTuning shared;
  const std::string just = "Just\n3\n5/4\n3/2\n2/1\n";
  KeyFrequencies a = equalTemperament(), b{};
  std::string reason;
  ASSERT_TRUE(tuningKeys({just, ""}, b, reason)) << reason;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 4000; ++i) {
      std::string ignored;
      shared.set(false, i % 2 ? just : "", ignored);
      if (i % 16 == 15) std::this_thread::yield();
    }
    done = true;
  });
  int taken = 0, torn = 0;
  uint32_t seen = 0;
  while (!done) {
    KeyFrequencies keys;
    if (!shared.takeKeys(seen, keys)) continue;
    ++taken;
    if (keys != a && keys != b) ++torn;
  }
  writer.join();
  EXPECT_GT(taken, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_FALSE(shared.set(false, "Bad\n1\n-2/1\n", reason));
  EXPECT_EQ(shared.tuning(), (Tuning{just, ""}));  // as the writer left it
}

// Room for any number of parameters: marks on either side of each word's edge.
TEST(SharedSound, ChangeMarksHoldAnyNumberOfParameters) {
  ChangeMarks<130> c;
  EXPECT_EQ(c.bits.size(), 3u);
  EXPECT_FALSE(c.any());
  const std::set<int> marked = {0, 63, 64, 127, 128, 129};
  for (int i : marked) c.mark(i);
  for (int i = 0; i < 130; ++i) EXPECT_EQ(c.has(i), marked.count(i) == 1) << i;
  EXPECT_TRUE(c.any());
  // Every row of the table has its bit, through the shared sound.
  SharedSound shared;
  shared.takeChanges();
  for (int i = 0; i < kParameterCount; ++i) shared.setValue(i, parameter(i).start);
  const SharedSound::Changes taken = shared.takeChanges();
  for (int i = 0; i < kParameterCount; ++i) EXPECT_TRUE(taken.has(i)) << i;
  EXPECT_FALSE(shared.takeChanges().any());
}

// The set-up fade (1001 samples at 44100 Hz) is the same time at any rate,
// the decimator's delay adds to it, and a rate the voice refuses reports none.
TEST(SetUpLatency, IsTheFadesTimeAtTheRunningRatePlusTheDecimators) {
  EXPECT_EQ(setUpLatency(44100, 0), 1001u);
  for (double hz : {22050.0, 48000.0, 96000.0})
    EXPECT_NEAR(setUpLatency(hz, 0), 1001 * hz / 44100, 1.0) << hz;
  EXPECT_EQ(setUpLatency(48000, 7), setUpLatency(48000, 0) + 7);
  EXPECT_EQ(setUpLatency(1, 0), 0u);
  EXPECT_NE(setUpLatencyHelp().find("automation sound 22.7 ms early"), std::string::npos);
}

}  // namespace
}  // namespace ondelith::plugin

namespace ondelith::plugin {
namespace {

// The list hosts and the panel's menu show: Init, then each bank sound
// under its number with the bank's words for it.
TEST(Programs, EachBankSoundComesWithItsDescription) {
  const auto& list = programs();
  ASSERT_EQ(list.size(), factoryBank().size() + 1);
  EXPECT_EQ(list.front().description, "");
  for (const BankSound& b : factoryBank()) {
    const Program& p = list.at(static_cast<size_t>(b.number));
    EXPECT_EQ(p.name, b.name);
    EXPECT_EQ(p.description, b.description);
    EXPECT_FALSE(p.description.empty()) << p.name;
  }
}

}  // namespace
}  // namespace ondelith::plugin
