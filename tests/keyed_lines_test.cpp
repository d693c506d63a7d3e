// Sound settings and unknown keys as keyed lines after a patch's 81 lines:
// read, kept through every road a sound takes, written back; files without
// them exactly as before.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/patch_commands.h"
#include "app/sound_commands.h"
#include "instrument/settings_page.h"
#include "test_support.h"

namespace ondelith {
namespace {

std::string eightyOne() { return formatPatch(capturePatch(startSound())); }

std::string keyed(const std::string& lines) { return eightyOne() + lines; }

TEST(KeyedLines, ReadOnlyAfterAVersionLineAtLine82) {
  const struct {
    const char* what;
    std::string text;
    std::vector<KeyedLine> keyed;
    std::vector<std::string> unread;
  } cases[] = {
      {"81 lines", eightyOne(), {}, {}},
      {"keyed lines",
       keyed("ondelith-settings=1\r\nglide_ms=20\r\nx.y-z=a b=c\r\n"),
       {{"glide_ms", "20"}, {"x.y-z", "a b=c"}},
       {}},
      {"LF, blanks, spaces and tabs",
       keyed("ondelith-settings=1\n\n  k \t=\t v \n\r\n"),
       {{"k", "v"}},
       {}},
      {"a later version", keyed("ondelith-settings=7\r\nk=v\r\n"), {{"k", "v"}}, {}},
      {"an empty value", keyed("ondelith-settings=1\r\nk=\r\n"), {{"k", ""}}, {}},
      {"no version line", keyed("k=v\r\n"), {}, {}},
      {"a numeric line 82", keyed("7\r\nondelith-settings=1\r\nk=v\r\n"), {}, {}},
      {"version 0", keyed("ondelith-settings=0\r\nk=v\r\n"), {}, {}},
      {"short file", "1\r\nondelith-settings=1\r\nk=v\r\n", {}, {}},
      {"lines not key=value",
       keyed("ondelith-settings=1\r\nno value\r\n=v\r\nk y=v\r\nk=a\tb\r\n"),
       {},
       {"no value", "=v", "k y=v", "k=a?b"}},
      {"the version again",
       keyed("ondelith-settings=1\r\nondelith-settings=2\r\n"),
       {},
       {"ondelith-settings=2"}},
  };
  for (const auto& c : cases) {
    const Patch p = readPatchText(c.text);
    EXPECT_EQ(p.values, parsePatch(c.text)) << c.what;
    EXPECT_EQ(p.keyed, c.keyed) << c.what;
    EXPECT_EQ(p.unread, c.unread) << c.what;
  }
  EXPECT_TRUE(isPatchText(keyed("ondelith-settings=1\r\nk=v\r\n\r\n")));
  EXPECT_TRUE(isPatchText(keyed("ondelith-settings=1")));
  EXPECT_FALSE(isPatchText(keyed("k=v\r\n")));
  EXPECT_FALSE(isPatchText(keyed("ondelith-settings=1\r\nno value\r\n")));
  EXPECT_FALSE(isPatchText(keyed("ondelith-settings=1\r\nk=v") + std::string(1, '\0')));
}

// Every .vx file of the tree that today's Save would write as it stands
// (the bank, the fuzzers' corpus) writes back byte for byte, and every
// other one as today's writer writes it: no keyed lines appear.
TEST(KeyedLines, EveryPatchOfTheTreeWritesBackAsBefore) {
  int files = 0, exact = 0;
  for (const char* folder : {"data", "fuzz/corpus", "tests", "plugin/tests"}) {
    const std::filesystem::path root = std::filesystem::path(ONDELITH_SOURCE_DIR) / folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.path().extension() != ".vx") continue;
      SCOPED_TRACE(entry.path().string());
      const std::string bytes = test::slurp(entry.path());
      Patch patch;
      std::string reason;
      if (!acceptPatchBytes(bytes, patch, reason)) continue;
      ++files;
      Sound sound = startSound();
      applyPatch(sound, patch);
      const std::string saved = formatPatch(savedPatch(sound));
      if (patch.keyed.empty()) {
        EXPECT_EQ(saved, formatPatch(capturePatch(sound)));
      }
      if (formatPatch(patch) != bytes) continue;
      ++exact;
      EXPECT_EQ(saved, bytes);
    }
  }
  EXPECT_GE(files, 39);
  EXPECT_GE(exact, 36);
}

TEST(KeyedLines, UnknownKeysRoundTripAndTodaysReaderOpensTheOldSound) {
  Sound plain = bankSound(factoryBank()[5]);
  const std::string old = formatPatch(savedPatch(plain));
  const std::string text = old + "ondelith-settings=1\r\nfuture_mode=wide\r\nfuture_ms=12\r\n";
  Sound withKeys = startSound();
  std::string report;
  applyPatch(withKeys, readPatchText(text), &report);
  EXPECT_EQ(report, "");
  EXPECT_EQ(withKeys.unknown,
            (std::vector<KeyedLine>{{"future_mode", "wide"}, {"future_ms", "12"}}));
  EXPECT_EQ(formatPatch(savedPatch(withKeys)), text);
  // Read as a reader of 81 lines reads it, it is the sound without them.
  Sound old81 = startSound();
  applyPatch(old81, parsePatch(text));
  EXPECT_EQ(old81, plain);
  withKeys.unknown.clear();
  EXPECT_EQ(withKeys, plain);
  // A patch without keyed lines opened over one with them leaves none behind.
  Sound again = startSound();
  applyPatch(again, readPatchText(text));
  applyPatch(again, readPatchText(old));
  EXPECT_EQ(again, plain);
}

TEST(KeyedLines, WhatCannotBeReadIsToldOnceAndLeftOut) {
  const std::string text = eightyOne() +
                           "ondelith-settings=1\r\nvolume=3\r\nnonsense\r\nkept=yes\r\n"
                           "midi_channel=4\r\n";
  Sound sound = startSound();
  std::string report;
  applyPatch(sound, readPatchText(text), &report);
  EXPECT_EQ(report,
            "Sound settings: \"nonsense\" is not key=value; \"volume=3\" is not a sound setting; "
            "\"midi_channel=4\" is not a sound setting");
  EXPECT_EQ(sound.values, startSound().values);
  EXPECT_EQ(sound.unknown, (std::vector<KeyedLine>{{"kept", "yes"}}));
  EXPECT_EQ(formatPatch(savedPatch(sound)), eightyOne() + "ondelith-settings=1\r\nkept=yes\r\n");
  std::string many = eightyOne() + "ondelith-settings=1\r\n";
  for (int i = 0; i < 100; ++i) many += "x\r\n";
  applyPatch(sound, readPatchText(many), &report);
  EXPECT_EQ(report,
            "Sound settings: \"x\" is not key=value; \"x\" is not key=value; \"x\" is not "
            "key=value; and 97 more lines not read");
}

// Each sound setting the table has: saved only away from its default, read
// back, and a value it does not take refused with the default kept.
TEST(KeyedLines, EverySoundSettingOfTheTableRoundTrips) {
  const std::vector<int> settings = soundSettingEntries();
  if (settings.empty()) GTEST_SKIP() << "the table has no sound settings yet";
  for (int i : settings) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(std::string(p.symbol));
    Sound sound = startSound();
    EXPECT_EQ(formatPatch(savedPatch(sound)), eightyOne());
    const int32_t other = p.start == p.maximum ? p.minimum : p.maximum;
    setSoundValue(sound, i, other);
    const std::string text = formatPatch(savedPatch(sound));
    EXPECT_EQ(text, eightyOne() + "ondelith-settings=1\r\n" + std::string(p.symbol) + "=" +
                        parameterToken(i, other) + "\r\n");
    Sound read = startSound();
    std::string report;
    applyPatch(read, readPatchText(text), &report);
    EXPECT_EQ(read, sound);
    EXPECT_EQ(report, "");
    applyPatch(read,
               readPatchText(eightyOne() + "ondelith-settings=1\r\n" + std::string(p.symbol) +
                             "=not-a-value\r\n"),
               &report);
    EXPECT_EQ(read.values[static_cast<size_t>(i)], p.start);
    EXPECT_NE(report.find(std::string(p.symbol)), std::string::npos);
  }
}

// Undo, the title's mark, the kept sound between runs and Save all carry
// what the keyed lines hold.
TEST(KeyedLines, UndoTitleKeptSoundAndSaveCarryThem) {
  test::TempDir dir;
  const std::string path = dir.file("keys.vx", eightyOne() + "ondelith-settings=1\r\nk=v\r\n");
  auto s = test::makeSynth();
  std::string error, report = "x";
  ASSERT_TRUE(openPatchFile(*s, path, &error, &report)) << error;
  EXPECT_EQ(report, "");
  const SoundState opened = currentState(*s);
  EXPECT_EQ(opened.sound.unknown, (std::vector<KeyedLine>{{"k", "v"}}));
  EXPECT_EQ(windowTitle(opened), "Ondelith \u2014 keys");

  SoundState read;
  ASSERT_TRUE(parseKeptSound(formatKeptSound(opened), read));
  EXPECT_EQ(read, opened);

  const std::string copy = (dir.path / "copy.vx").string();
  ASSERT_TRUE(savePatchFile(*s, copy));
  EXPECT_EQ(test::slurp(copy), test::slurp(path));

  ASSERT_TRUE(undoSound(*s));
  EXPECT_TRUE(currentState(*s).sound.unknown.empty());
  ASSERT_TRUE(redoSound(*s));
  EXPECT_EQ(currentState(*s).sound.unknown, opened.sound.unknown);
}

}  // namespace
}  // namespace ondelith
