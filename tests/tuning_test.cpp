// Tunings: Scala scales and keyboard maps read against hand-worked tables,
// files the reader must refuse, and the voice playing what they give.
#include "instrument/tuning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "engine/midi_message.h"
#include "instrument/registry.h"
#include "test_support.h"

namespace ondelith {
namespace {

// Degrees as a .scl writes them, one a line after a description and a count.
std::string scl(std::initializer_list<const char*> degrees, const char* description = "test") {
  std::string text =
      std::string("! test.scl\n") + description + "\n " + std::to_string(degrees.size()) + "\n!\n";
  for (const char* d : degrees) text += std::string(" ") + d + "\n";
  return text;
}

std::string equalSteps(int steps) {
  std::string text = "! " + std::to_string(steps) + "-EDO\n" + std::to_string(steps) + " steps\n" +
                     std::to_string(steps) + "\n";
  for (int k = 1; k <= steps; ++k) {
    char cents[40];
    std::snprintf(cents, sizeof cents, "%.12f\n", 1200.0 * k / steps);
    text += cents;
  }
  return text;
}

const std::string kJust = scl({"9/8", "5/4", "4/3", "3/2", "5/3", "15/8", "2/1"}, "Just major");
// The white keys play the just scale from C, A4 at 440 Hz; the black keys nothing.
const char* kWhiteKeys =
    "! white.kbm\n12\n0\n127\n60\n69\n440.0\n7\n"
    "0\nx\n1\nx\n2\n3\nx\n4\nx\n5\nx\n6\n";

KeyFrequencies keysOf(const Tuning& t) {
  KeyFrequencies keys{};
  std::string reason;
  EXPECT_TRUE(tuningKeys(t, keys, reason)) << reason;
  return keys;
}

TEST(ScalaTuning, TwelveEqualStepsThroughScalaAreTheInstrumentsOwnToTheBit) {
  for (const std::string& text :
       {equalSteps(12), scl({"100.0", "200.", "300.0", "400.0", "500.0", "600.0", "700.0", "800.0",
                             "900.0", "1000.0", "1100.0", "2/1"})}) {
    const KeyFrequencies keys = keysOf({text, ""});
    for (int note = 0; note < kKeyCount; ++note)
      EXPECT_EQ(keys[static_cast<size_t>(note)], noteFrequencyOf(note)) << note;
  }
}

TEST(ScalaTuning, KeysPlayTheHandWorkedFrequencies) {
  const struct {
    const char* what;
    Tuning tuning;
    std::vector<std::pair<int, double>> hz;  // 0: the key plays nothing
  } cases[] = {
      // Key after key, degree after degree: 60 is degree 0, 69 (440 Hz) degree 9 = 5/4 up an
      // octave.
      {"just, standard map",
       {kJust, ""},
       {{60, 176},
        {61, 198},
        {62, 220},
        {63, 704.0 / 3},
        {64, 264},
        {65, 880.0 / 3},
        {66, 330},
        {67, 352},
        {68, 396},
        {69, 440},
        {53, 88},
        {46, 44}}},
      {"just on the white keys",
       {kJust, kWhiteKeys},
       {{60, 264},
        {61, 0},
        {62, 297},
        {63, 0},
        {64, 330},
        {65, 352},
        {66, 0},
        {67, 396},
        {68, 0},
        {69, 440},
        {70, 0},
        {71, 495},
        {72, 528},
        {48, 132},
        {59, 247.5}}},
      {"12-TET, a map from A3 at 432 Hz",
       {"", "0\n0\n127\n60\n57\n432\n12\n"},
       {{57, 432}, {69, 864}, {60, 432 * std::pow(2.0, 0.25)}}},
      {"a map that leaves keys out at both ends",
       {"", "0\n21\n108\n60\n69\n440\n12\n"},
       {{20, 0}, {21, 27.5}, {108, 4186.009044809578}, {109, 0}}},
      {"the octave as 3/1, every fourth key",
       {scl({"3/1"}), "4\n0\n127\n60\n60\n100\n1\n0\nx\nx\nx\n"},
       {{60, 100}, {61, 0}, {64, 300}, {56, 100.0 / 3}}},
  };
  for (const auto& c : cases) {
    const KeyFrequencies keys = keysOf(c.tuning);
    for (const auto& [key, hz] : c.hz)
      EXPECT_NEAR(keys[static_cast<size_t>(key)], hz, hz * 1e-12) << c.what << ", key " << key;
  }
}

TEST(ScalaTuning, NineteenEqualStepsAnOctave) {
  const KeyFrequencies keys = keysOf({equalSteps(19), ""});
  for (int note = 0; note < kKeyCount; ++note) {
    const double hz = 440.0 * std::pow(2.0, (note - 69) / 19.0);
    const double expected = hz >= kLowestKeyHz && hz <= kHighestKeyHz ? hz : 0.0;
    EXPECT_NEAR(keys[static_cast<size_t>(note)], expected, hz * 1e-9) << note;
  }
}

TEST(ScalaTuning, FaultyFilesAreRefusedWithTheirLineAndTheTuningStays) {
  const std::string degrees10000 = "many\n10000\n" + std::string(10000 * 6, '1');
  std::string huge = scl({"2/1"});
  huge += std::string(kMaxScalaBytes, '!');
  const struct {
    const char* what;
    Tuning tuning;
    int line;
    const char* reason;
  } cases[] = {
      {"huge", {huge, ""}, 0, "larger than"},
      {"binary", {std::string("desc\n2\n\x00\x01\x7f\n2/1\n", 15), ""}, 3, "not text"},
      {"10000 degrees", {degrees10000, ""}, 2, "10000 degrees"},
      {"no count", {"desc\nmany\n", ""}, 2, "no number of degrees"},
      {"a zero ratio", {scl({"0/1", "2/1"}), ""}, 5, "must be above zero"},
      {"divided by zero", {scl({"3/0", "2/1"}), ""}, 5, "divided by zero"},
      {"a negative ratio", {scl({"-3/2", "2/1"}), ""}, 5, "negative"},
      {"NaN cents", {scl({"nan.", "2/1"}), ""}, 5, "no number of cents"},
      {"NaN", {scl({"nan", "2/1"}), ""}, 5, "neither cents"},
      {"infinite cents", {scl({"1e999.", "2/1"}), ""}, 5, "no number of cents"},
      {"too many cents", {scl({"99999999.0"}), ""}, 5, "no pitch"},
      {"degrees missing", {"desc\n3\n100.0\n2/1\n", ""}, 4, "names 3 degrees but gives 2"},
      {"degrees over", {"desc\n1\n2/1\n3/1\n", ""}, 4, "more degrees"},
      {"no scale", {"only a description\n", ""}, 0, "no Scala scale"},
      {"a map cut short", {"", "12\n0\n127\n"}, 0, "ends before the middle key"},
      {"a key past 127", {"", "0\n0\n128\n60\n69\n440\n12\n"}, 3, "the last key"},
      {"no frequency", {"", "0\n0\n127\n60\n69\n0\n12\n"}, 6, "no reference frequency"},
      {"a NaN frequency", {"", "0\n0\n127\n60\n69\nnan\n12\n"}, 6, "no reference frequency"},
      {"an unmapped reference",
       {"", "12\n0\n127\n60\n69\n440\n12\n0\n1\n2\n3\n4\n5\n6\n7\n8\nx\n"},
       17,
       "reference key 69 is unmapped"},
      {"a bad entry", {"", "2\n0\n127\n60\n60\n440\n12\n0\ny\n"}, 9, "no degree"},
      {"entries over", {"", "1\n0\n127\n60\n60\n440\n12\n0\n1\n"}, 9, "more entries"},
      {"keys reversed", {"", "0\n90\n20\n60\n69\n440\n12\n"}, 0, "comes after"},
  };
  for (const auto& c : cases) {
    ScalaFault fault;
    ScalaScale scale{"kept", {1.0}};
    KeyboardMap map;
    map.size = 5;
    const bool read = c.tuning.map.empty() ? readScalaScale(c.tuning.scale, scale, fault)
                                           : readKeyboardMap(c.tuning.map, map, fault);
    EXPECT_FALSE(read) << c.what;
    EXPECT_EQ(fault.line, c.line) << c.what << ": " << fault.text();
    EXPECT_NE(fault.reason.find(c.reason), std::string::npos) << c.what << ": " << fault.text();
    EXPECT_EQ(scale, (ScalaScale{"kept", {1.0}})) << c.what;
    EXPECT_EQ(map.size, 5) << c.what;
    KeyFrequencies keys{};
    keys[3] = 7;
    std::string reason;
    EXPECT_FALSE(tuningKeys(c.tuning, keys, reason));
    EXPECT_EQ(keys[3], 7) << c.what;
    EXPECT_NE(reason.find(fault.text()), std::string::npos) << reason;
  }
}

TEST(ScalaTuning, CommentsLineEndsAndLabelsReadAlike) {
  const std::string plain = scl({"9/8", "701.955", "2/1"});
  const char* dressed =
      "! dressed.scl\r\n!\r\ntest\r\n 3 ! degrees\r\n! between\r\n9/8 ! a tone\r\n"
      "\t701.955 fifth\r\n\r\n2 octave\r\n";
  ScalaScale a, b;
  ScalaFault fault;
  ASSERT_TRUE(readScalaScale(plain, a, fault)) << fault.text();
  ASSERT_TRUE(readScalaScale(dressed, b, fault)) << fault.text();
  EXPECT_EQ(a, b);
  EXPECT_NEAR(a.cents[0], 203.91000173077484, 1e-9);
  // A Latin-1 description becomes UTF-8, for the settings file and the menu.
  EXPECT_EQ(scalaTextAsUtf8("Gam\xe9\n"), "Gam\xc3\xa9\n");
  EXPECT_EQ(scalaTextAsUtf8("Gam\xc3\xa9\n"), "Gam\xc3\xa9\n");
}

// The voice: silent keys play nothing and never release a held one; A4
// moves every key, tuned or not; whole-sample periods round a scale's
// pitch as they round equal temperament's.
TEST(ScalaTuning, TheVoicePlaysTheTuningsKeys) {
  auto s = test::makeSynth();
  const auto hz = [&s] { return s->engine.voice.noteFrequency.load(); };
  s->instrument.setValue(kA4Index, 432);
  test::play(*s, test::noteOnWord(69, 100));
  EXPECT_EQ(hz(), 432.0);
  test::play(*s, test::noteOffWord(69));
  s->instrument.setValue(kA4Index, 440);
  s->instrument.setKeys(keysOf({kJust, kWhiteKeys}));
  test::settle(*s);
  test::play(*s, test::noteOnWord(60, 100));
  EXPECT_DOUBLE_EQ(hz(), 264.0);
  EXPECT_EQ(s->engine.oscillator.period(hz()), 167);  // 44100 / 264 = 167.05
  test::play(*s, test::noteOnWord(61, 100));
  test::play(*s, test::noteOffWord(61));
  EXPECT_EQ(s->engine.voice.gate.load(), 1);
  EXPECT_DOUBLE_EQ(hz(), 264.0);
  s->instrument.setValue(kA4Index, 400);  // the held note follows
  test::settle(*s);
  EXPECT_DOUBLE_EQ(hz(), 240.0);
  test::play(*s, test::noteOffWord(60));
  EXPECT_EQ(s->engine.voice.gate.load(), 0);
  test::play(*s, test::noteOnWord(63, 100));
  EXPECT_EQ(s->engine.voice.gate.load(), 0);
  s->instrument.setKeys(equalTemperament());
  test::play(*s, test::noteOffWord(63));
  test::play(*s, test::noteOnWord(63, 100));
  EXPECT_EQ(s->engine.voice.gate.load(), 1);
  EXPECT_DOUBLE_EQ(hz(), noteFrequencyOf(63) * 400 / 440);
}

}  // namespace
}  // namespace ondelith
