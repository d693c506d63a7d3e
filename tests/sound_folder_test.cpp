// Names from outside made safe to show, and the player's sounds folder
// listed whole, sorted, then paged, as every host shows it.
#include "instrument/sound_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

#include "app/sound_commands.h"
#include "instrument/shown_name.h"
#include "test_files.h"

namespace ondelith {
namespace {

TEST(ShownName, ValidTextStaysAndEverythingElseIsVisibleOnOneLine) {
  const struct {
    const char* bytes;
    const char* shown;
  } cases[] = {
      {"good", "good"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E"},
      {"bad\xFFname", "bad\xEF\xBF\xBDname"},
      {"a\tb",
       "a\xE2\x90\x89"
       "b"},
      {"a\nb\r",
       "a\xE2\x90\x8A"
       "b\xE2\x90\x8D"},
      {"\x7F", "\xE2\x90\xA1"},
      {"\xC2\x85", "\xEF\xBF\xBD"},                                              // a C1 control
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // overlong '/'
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
      {"end\xE2\x82", "end\xEF\xBF\xBD\xEF\xBF\xBD"},                            // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(shownName(c.bytes), c.shown) << c.bytes;
  EXPECT_EQ(shownName(std::string("a\0b", 3)),
            "a\xE2\x90\x80"
            "b");
}

// A name that is not UTF-8 beside a good one: both listed, the window's
// choices and titles with a name any toolkit can show.
TEST(SoundFolder, ListsEveryPatchFileWhateverItsNameWithANameSafeToShow) {
  test::TempDir dir;
  dir.file("good.vx", "1\n");
  const std::string bad = dir.file("bad\xFFname.vx", "1\n");
  dir.file("tab\tname.VX", "1\n");
  dir.file("notes.txt", "1\n");
  std::filesystem::create_directory(dir.path / "folder.vx");
  const std::vector<FolderSound> sounds = folderSounds(dir.path.string());
  ASSERT_EQ(sounds.size(), 3u);
  EXPECT_EQ(sounds[0].name, "bad\xEF\xBF\xBDname");
  EXPECT_EQ(sounds[0].path, bad);
  EXPECT_EQ(sounds[1].name, "good");
  EXPECT_EQ(sounds[2].name, "tab\xE2\x90\x89name");
  const std::vector<SoundChoice> own = playerSounds(dir.path.string());
  ASSERT_EQ(own.size(), 3u);
  EXPECT_EQ(own[0].name, sounds[0].name);
  EXPECT_EQ(soundNameOf(bad), sounds[0].name);
  SoundState state;
  state.origin.kind = SoundOrigin::Kind::File;
  state.origin.name = soundNameOf(bad);
  EXPECT_EQ(windowTitle(state), "Ondelith \xE2\x80\x94 bad\xEF\xBF\xBDname");
  EXPECT_TRUE(folderSounds((dir.path / "missing").string()).empty());
}

// 5,000 files made in a shuffled order: the whole folder sorted, then cut
// into pages of 500.
TEST(SoundFolder, SortsTheWholeFolderBeforePaging) {
  test::TempDir dir;
  std::vector<int> order(5000);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  // Every third in capitals: case does not order.
  const auto nameOf = [](size_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04zu", k % 3 ? "s" : "S", k);
    return std::string(name);
  };
  for (int k : order) dir.file(nameOf(static_cast<size_t>(k)) + ".vx", "1\n");
  const std::vector<FolderSound> sounds = folderSounds(dir.path.string());
  ASSERT_EQ(sounds.size(), 5000u);
  ASSERT_EQ(folderPageCount(sounds.size()), 10u);
  for (size_t page = 0; page < 10; ++page) {
    const auto shown = folderPage(sounds, page);
    ASSERT_EQ(shown.size(), kFolderPageSize);
    EXPECT_EQ(shown.front().name, nameOf(page * kFolderPageSize));
    EXPECT_EQ(shown.back().name, nameOf(page * kFolderPageSize + kFolderPageSize - 1));
  }
  EXPECT_TRUE(folderPage(sounds, 10).empty());
  EXPECT_EQ(folderPage(std::span(sounds).first(501), 1).size(), 1u);
  EXPECT_EQ(folderPageCount(0), 0u);
}

}  // namespace
}  // namespace ondelith
