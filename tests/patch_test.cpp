#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "app/patch_commands.h"
#include "engine/numeric.h"
#include "platform/files.h"
#include "test_support.h"

namespace ondelith {
namespace {

namespace fs = std::filesystem;

using test::slurp;
using test::TempDir;

void spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string lines(const std::vector<std::string>& ls, const std::string& end) {
  std::string out;
  for (const auto& l : ls) out += l + end;
  return out;
}

TEST(PatchFormat, SaveRightAfterStartUp) {
  auto s = test::makeSynth();
  const PatchValues v = capturePatch(*s);
  const std::vector<int32_t> controls(v.begin() + 56, v.end());
  EXPECT_EQ(controls, (std::vector<int32_t>{0, 0,  0,  0,   0,    0, 0, 0,    0,  0,    0,    0, 50,
                                            5, 75, 95, 400, 2000, 2, 1, 1000, 50, 1500, 1500, 50}));
  // The start-up curves, in samples of the 2000 ms wobble and percent.
  EXPECT_EQ(v[0], 50);
  EXPECT_EQ(v[1], roundEven(88199.0 * 22 / 160));
  EXPECT_EQ(v[13], 50);
  const std::string bytes = formatPatch(v);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 81);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_NE(bytes.find("\r\n0\r\n0\r\n"), std::string::npos);  // zeros are written, never empty
}

TEST(PatchFormat, LineValues) {
  EXPECT_EQ(lineValue("42"), 42);
  EXPECT_EQ(lineValue(" 42"), 42);
  EXPECT_EQ(lineValue("\t \t42"), 42);
  EXPECT_EQ(lineValue("+42"), 42);
  EXPECT_EQ(lineValue("-30"), -30);
  EXPECT_EQ(lineValue("12abc"), 12);
  EXPECT_EQ(lineValue("1.5"), 1);
  EXPECT_EQ(lineValue(""), 0);
  EXPECT_EQ(lineValue("abc"), 0);
  EXPECT_EQ(lineValue("-"), 0);
  EXPECT_EQ(lineValue("+-5"), 0);
  EXPECT_EQ(lineValue(" - 5"), 0);
  EXPECT_EQ(lineValue("2147483647"), 2147483647);
  EXPECT_EQ(lineValue("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(lineValue("2147483648"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(lineValue("99999999999999999999999999"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(lineValue("-99999999999999999999999999"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(lineValue("0000000000000000000000000000017"), 17);
}

TEST(PatchFormat, LineEndingsAllReadAlike) {
  std::vector<std::string> ls;
  for (int i = 0; i < 81; ++i) ls.push_back(std::to_string(i * 7 - 100));
  const PatchValues crlf = parsePatch(lines(ls, "\r\n"));
  EXPECT_EQ(crlf[0], -100);
  EXPECT_EQ(crlf[80], 460);
  EXPECT_EQ(parsePatch(lines(ls, "\n")), crlf);
  EXPECT_EQ(parsePatch(lines(ls, "\r")), crlf);
  EXPECT_EQ(parsePatch(lines(ls, std::string(1, '\0'))), crlf);
  // LF CR is two line ends, not one.
  const PatchValues lfcr = parsePatch("5\n\r6\r\n");
  EXPECT_EQ(lfcr[0], 5);
  EXPECT_EQ(lfcr[1], 0);
  EXPECT_EQ(lfcr[2], 6);
  // More than 81 lines: the rest is ignored; fewer: the missing ones are 0.
  EXPECT_EQ(parsePatch(lines(ls, "\r\n") + "999\r\n1000\r\n"), crlf);
  const PatchValues few = parsePatch("1\r\n2");
  EXPECT_EQ(few[0], 1);
  EXPECT_EQ(few[1], 2);
  EXPECT_EQ(few[2], 0);
  // Bytes arriving one at a time read the same.
  const std::string bytes = lines(ls, "\r\n");
  PatchReader reader;
  for (char c : bytes) reader.feed(&c, 1);
  EXPECT_EQ(reader.finish(), crlf);
}

TEST(PatchFormat, ZeroLengthFileGivesZeros) {
  const PatchValues v = parsePatch("");
  for (int32_t x : v) ASSERT_EQ(x, 0);
}

TEST(PatchApply, ZeroLengthFile) {
  auto s = test::makeSynth();
  applyControlEvent(*s, kSliderDuration, 3000);
  applyPatch(*s, parsePatch(""));
  test::settle(*s);
  for (int row = 0; row < kWobbleRows; ++row) {
    EXPECT_EQ(controlValue(s->controls, spinModId(row)), 0);
    EXPECT_EQ(s->controls.text[static_cast<size_t>(spinModId(row))], "0");
    EXPECT_EQ(s->controls.text[static_cast<size_t>(spinCoarseId(row))], "0");
    EXPECT_EQ(s->controls.text[static_cast<size_t>(spinFineId(row))], ".00");
    const CurveEditor& ed = *findCurveEditor(s->editors, curveEditorId(*s, row));
    EXPECT_EQ(curvePoint(ed, 0), (CurvePoint{0, 70}));  // y 0: the bottom edge
    for (int i = 1; i < 7; ++i) EXPECT_EQ(curvePoint(ed, i), (CurvePoint{0, 70}));
    EXPECT_EQ(curvePoint(ed, 7), (CurvePoint{159, 70}));
  }
  EXPECT_EQ(controlValue(s->controls, kSliderX1), 1);
  EXPECT_FLOAT_EQ(displayPoints(*s).x1, 0.01f);
  EXPECT_EQ(controlValue(s->controls, kSliderY2), 50);
  EXPECT_DOUBLE_EQ(s->engine.params.get(Param::Attack), 0.001);
  EXPECT_EQ(s->engine.params.get(Param::Cutoff), 20.0);
  EXPECT_EQ(s->engine.params.get(Param::Volume), 0.0f);
  // The range 0 is neither x1 nor x10: the Duration stays.
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 3000);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 3000.0f);
  EXPECT_EQ(s->engine.wobble.samples, 132300);
}

PatchValues startValues() {
  auto s = test::makeSynth();
  return capturePatch(*s);
}

TEST(PatchApply, RangeX1WithDuration400) {
  PatchValues v = startValues();
  v[73] = 400;
  v[74] = 1;
  auto s = test::makeSynth();
  applyPatch(*s, v);
  test::settle(*s);
  EXPECT_EQ(s->controls.text[kSpinDurationRange], "x1");
  EXPECT_EQ(controlValue(s->controls, kSpinDurationRange), 1);
  EXPECT_EQ(s->controls.range[kSliderDuration].minimum, 100);
  EXPECT_EQ(s->controls.range[kSliderDuration].maximum, 1000);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 400);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 400.0f);
  EXPECT_EQ(s->engine.wobble.samples, 17640);
  const CurveEditor& ed = *findCurveEditor(s->editors, curveEditorId(*s, kRowY2));
  EXPECT_EQ(ed.model->rangeX, 17639.0f);
  EXPECT_EQ(ed.model->rangeY, 100.0f);
  // A save without touching the range writes 1 again.
  EXPECT_EQ(capturePatch(*s)[74], 1);
  EXPECT_EQ(capturePatch(*s)[73], 400);
}

TEST(PatchApply, OutOfRangeValuesAreLimited) {
  PatchValues v = startValues();
  v[56] = -500;   // X1 Mod%
  v[58] = 7;      // X1 Fine
  v[61] = 70;     // Y1 Fine
  v[57] = 99;     // X1 Coarse
  v[68] = 500;    // X1 slider
  v[72] = 99999;  // Vol
  v[73] = 50;     // Duration below x1's range: the slider and the sound stop at 100
  v[74] = 1;
  v[79] = 6000;  // F
  v[80] = -4;    // Res
  v[75] = 0;     // A
  auto s = test::makeSynth();
  applyPatch(*s, v);
  test::settle(*s);
  EXPECT_EQ(controlValue(s->controls, spinModId(0)), -100);
  EXPECT_EQ(s->controls.text[static_cast<size_t>(spinModId(0))], "-100");
  EXPECT_EQ(s->controls.text[static_cast<size_t>(spinFineId(0))], ".07");
  EXPECT_EQ(s->controls.text[static_cast<size_t>(spinFineId(1))], ".70");
  EXPECT_EQ(controlValue(s->controls, spinCoarseId(0)), 15);
  EXPECT_EQ(controlValue(s->controls, kSliderX1), 99);
  EXPECT_FLOAT_EQ(displayPoints(*s).x1, 0.99f);
  EXPECT_EQ(s->engine.params.get(Param::Volume), 1500.0f);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 100);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 100.0);
  EXPECT_EQ(s->engine.wobble.samples, 4410);
  EXPECT_EQ(s->engine.params.get(Param::Cutoff), 5000.0);
  EXPECT_EQ(s->engine.params.get(Param::Resonance), 0);
  EXPECT_DOUBLE_EQ(s->engine.params.get(Param::Attack), 0.001);
}

TEST(PatchApply, OtherRangeValuesLeaveTheDuration) {
  PatchValues v = startValues();
  v[73] = 7000;
  v[74] = 3;
  auto s = test::makeSynth();
  applyControlEvent(*s, kSliderDuration, 5000);
  applyPatch(*s, v);
  test::settle(*s);
  EXPECT_EQ(controlValue(s->controls, kSliderDuration), 5000);
  EXPECT_EQ(s->engine.params.get(Param::WobbleDuration), 5000.0f);
  EXPECT_EQ(controlValue(s->controls, kSpinDurationRange), 2);
}

TEST(PatchRoundTrip, SaveOpenSaveGivesTheSameBytesAndPixels) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 20; ++trial) {
    auto s = test::makeSynth();
    for (int row = 0; row < kWobbleRows; ++row) {
      CurveEditor& ed = *findCurveEditor(s->editors, curveEditorId(*s, row));
      for (int i = 0; i < kCurvePointCount; ++i) {
        const int x = i == 0 ? 0 : (i == 7 ? 159 : static_cast<int>(rng() % 160));
        moveCurvePoint(ed, i, {x, static_cast<int>(rng() % 70)});
      }
      applyControlEvent(*s, spinModId(row), static_cast<int32_t>(rng() % 201) - 100);
      applyControlEvent(*s, spinFineId(row), static_cast<int32_t>(rng() % 100));
    }
    if (trial % 2) applyControlEvent(*s, kSpinDurationRange, 1);
    applyControlEvent(*s, kSliderDuration,
                      trial % 2 ? 100 + static_cast<int32_t>(rng() % 901)
                                : 1000 + static_cast<int32_t>(rng() % 9001));
    applyControlEvent(*s, kSliderF, 20 + static_cast<int32_t>(rng() % 4981));

    const std::string first = formatPatch(capturePatch(*s));
    auto t = test::makeSynth();
    applyPatch(*t, parsePatch(first));
    EXPECT_EQ(formatPatch(capturePatch(*t)), first);
    for (int row = 0; row < kWobbleRows; ++row) {
      const CurveEditor& a = *findCurveEditor(s->editors, curveEditorId(*s, row));
      const CurveEditor& b = *findCurveEditor(t->editors, curveEditorId(*t, row));
      for (int i = 0; i < kCurvePointCount; ++i) ASSERT_EQ(curvePoint(a, i), curvePoint(b, i));
    }
    for (const ControlParam& c : kControlParams)
      EXPECT_EQ(controlValue(t->controls, c.id), controlValue(s->controls, c.id));
  }
}

TEST(PatchFile, SaveThenOpenThroughFiles) {
  TempDir dir;
  auto s = test::makeSynth();
  applyControlEvent(*s, spinModId(0), -30);
  const std::string path = (dir.path / "song.vx").string();
  std::string error;
  ASSERT_TRUE(savePatchFile(*s, path, &error)) << error;
  const std::string bytes = slurp(path);
  EXPECT_NE(bytes.find("\r\n-30\r\n"), std::string::npos);
  auto t = test::makeSynth();
  ASSERT_TRUE(openPatchFile(*t, path, &error)) << error;
  EXPECT_EQ(controlValue(t->controls, spinModId(0)), -30);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"song.vx"}));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IRUSR, 0u);
  EXPECT_FALSE(openPatchFile(*t, (dir.path / "missing.vx").string(), &error));
  EXPECT_FALSE(openPatchFile(*t, dir.path.string(), &error));  // a folder is no patch
}

// What is not a patch is refused before anything is read from it; every
// other file reads by the line rules, as stored files rely on.
TEST(PatchFile, FilesThatAreNotPatchesAreRefusedWhateverTheirName) {
  TempDir dir;
  std::string patch = formatPatch(capturePatch(*test::makeSynth()));
  patch[patch.size() - 5] = '7';  // a value that is not the start-up one
  const std::string midi =
      slurp(fs::path(ONDELITH_SOURCE_DIR) / "tests/data/sound_bank_phrase.mid");
  const std::string tenMegabytes(10 << 20, '7');
  const struct {
    const char* what;
    std::string bytes;
    const char* refusal;  // part of the reason; nullptr: read as parsePatch reads it
  } cases[] = {
      {"a MIDI file", midi, "byte 8 is 0x06"},
      {"a PNG picture", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "byte 1 is 0x89"},
      {"10 MB of digits", tenMegabytes, "larger than 64 kB"},
      {"one byte over 64 kB", patch + std::string(65537 - patch.size(), '\n'), "larger than 64 kB"},
      {"text in UTF-8", patch + "# Klänge\r\n", "0xC3"},
      {"a form feed", "\f" + patch, "byte 1 is 0x0C"},
      {"a DEL", patch + "\x7F", "is 0x7F"},
      {"a mark that is not at the start", "1\r\n\xEF\xBB\xBF" + patch, "byte 4 is 0xEF"},
      {"half a mark", "\xEF\xBB" + patch, "byte 1 is 0xEF"},
      {"64 kB exactly", patch + std::string(65536 - patch.size(), '\n'), nullptr},
      {"junk, NUL-ended and cut lines", "14abc\r\n\t-5 x\0+7\r\n\r\n1.5\n99999999999\r12", nullptr},
      {"a zero-length file", "", nullptr},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file("file.vx", c.bytes);
    Patch patch;
    PatchValues& values = patch.values;
    values.fill(-1);
    std::string reason;
    const PatchFileRead read = readPatch(path, patch, reason);
    if (c.refusal) {
      EXPECT_EQ(read, PatchFileRead::NotAPatch) << c.what;
      EXPECT_NE(reason.find(c.refusal), std::string::npos) << c.what << ": " << reason;
      EXPECT_EQ(reason.rfind("not a patch: ", 0), 0u) << reason;
      EXPECT_EQ(values[0], -1) << c.what;  // nothing read into them
    } else {
      EXPECT_EQ(read, PatchFileRead::Read) << c.what << ": " << reason;
      EXPECT_EQ(values, parsePatch(c.bytes)) << c.what;
    }
  }
  // A byte-order mark is skipped, never read as a line.
  Patch marked, plain;
  std::string reason;
  ASSERT_TRUE(acceptPatchBytes("\xEF\xBB\xBF" + patch, marked, reason)) << reason;
  ASSERT_TRUE(acceptPatchBytes(patch, plain, reason));
  EXPECT_EQ(marked, plain);
  ASSERT_TRUE(acceptPatchBytes("\xEF\xBB\xBF", marked, reason));
  EXPECT_EQ(marked.values, parsePatch(""));
  Patch untouched;
  EXPECT_EQ(readPatch((dir.path / "missing.vx").string(), untouched, reason),
            PatchFileRead::Unreadable);
}

TEST(PatchFile, FailedSavesLeaveTheOldFileAndNoTemporary) {
  TempDir dir;
  auto s = test::makeSynth();
  const fs::path target = dir.path / "keep.vx";
  spit(target, "old patch");
  std::string error;
  // A folder that does not exist.
  EXPECT_FALSE(savePatchFile(*s, (dir.path / "nowhere" / "keep.vx").string(), &error));
  EXPECT_FALSE(error.empty());
  // A target that is a folder.
  fs::create_directory(dir.path / "folder.vx");
  EXPECT_FALSE(savePatchFile(*s, (dir.path / "folder.vx").string(), &error));
  EXPECT_TRUE(fs::is_directory(dir.path / "folder.vx"));
  // A disk that fills up while writing: a file size limit in a child process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto c = test::makeSynth();
    _exit(savePatchFile(*c, target.string()) ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(slurp(target), "old patch");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder.vx", "keep.vx"}));
  // And a save that works replaces it whole.
  ASSERT_TRUE(savePatchFile(*s, target.string(), &error)) << error;
  EXPECT_EQ(parsePatch(slurp(target)), capturePatch(*s));
}

// Save's whole file, with the values worked out from the format by hand.
TEST(PatchFile, SaveWritesTheFormatsBytes) {
  // Start-up: Duration 2000 ms, so W = 88200, RangeX = 88199 and RangeY = 100 on
  // the 160 x 70 editors. The laid-out pixels x = 22, 44, 66, 89, 111, 133 give
  // 88199 x / 160 = 12127.36, 24254.73, 36382.09, 49060.69, 61188.06, 73315.42;
  // every point's y = 35 gives 100 - 100 * 35 / 70 = 50.
  const std::string start =
      "50\r\n12127\r\n50\r\n24255\r\n50\r\n36382\r\n50\r\n49061\r\n50\r\n61188\r\n50\r\n"
      "73315\r\n50\r\n50\r\n";
  const std::string startup = start + start + start + start +
                              "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n"
                              "50\r\n5\r\n75\r\n95\r\n400\r\n2000\r\n2\r\n"
                              "1\r\n1000\r\n50\r\n1500\r\n1500\r\n50\r\n";
  // Range x1 at 400 ms: W = 17640, RangeX = 17639, so the same pixels give
  // 2425.36, 4850.73, 7276.09, 9811.69, 12237.06, 14662.42. X1's point 3 moved
  // to pixel (80, 0): 8819.5 rounds to the even 8820, the top row is 100. Y1's
  // point 0 on the bottom row, y = 69: 100 - 100 * 69 / 70 = 1.43, so 1.
  const std::string x1 =
      "50\r\n2425\r\n50\r\n4851\r\n50\r\n8820\r\n100\r\n9812\r\n50\r\n12237\r\n50\r\n"
      "14662\r\n50\r\n50\r\n";
  const std::string y1 =
      "1\r\n2425\r\n50\r\n4851\r\n50\r\n7276\r\n50\r\n9812\r\n50\r\n12237\r\n50\r\n"
      "14662\r\n50\r\n50\r\n";
  const std::string rest =
      "50\r\n2425\r\n50\r\n4851\r\n50\r\n7276\r\n50\r\n9812\r\n50\r\n12237\r\n50\r\n"
      "14662\r\n50\r\n50\r\n";
  const std::string changed = x1 + y1 + rest + rest +
                              "-30\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n5\r\n"
                              "50\r\n5\r\n75\r\n95\r\n400\r\n400\r\n1\r\n"
                              "1\r\n1000\r\n50\r\n1500\r\n1500\r\n50\r\n";

  TempDir dir;
  const std::string path = (dir.path / "p.vx").string();
  auto s = test::makeSynth();
  ASSERT_TRUE(savePatchFile(*s, path));
  EXPECT_EQ(slurp(path), startup);
  applyControlEvent(*s, spinModId(kRowX1), -30);
  applyControlEvent(*s, spinFineId(kRowY2), 5);
  applyControlEvent(*s, kSpinDurationRange, 1);
  applyControlEvent(*s, kSliderDuration, 400);
  moveCurvePoint(*findCurveEditor(s->editors, curveEditorId(*s, kRowX1)), 3, {80, 0});
  moveCurvePoint(*findCurveEditor(s->editors, curveEditorId(*s, kRowY1)), 0, {0, 69});
  ASSERT_TRUE(savePatchFile(*s, path));
  EXPECT_EQ(slurp(path), changed);
  // The fuzzer's seed is what Save writes at start-up.
  EXPECT_EQ(slurp(ONDELITH_SOURCE_DIR "/fuzz/corpus/patch/startup.vx"), startup);
}

TEST(PatchFile, FilesThatAreNotRegularAreNeitherOpenedNorReplaced) {
  TempDir dir;
  const fs::path fifo = dir.path / "pipe.vx";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Open on a FIFO with no writer: refused at once. In a child, so that a wait
  // for a writer ends in the alarm instead of stalling the tests.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);
    auto c = test::makeSynth();
    _exit(openPatchFile(*c, fifo.string()) ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  auto s = test::makeSynth();
  std::string error;
  EXPECT_FALSE(savePatchFile(*s, fifo.string(), &error));
  EXPECT_NE(error.find("FIFO"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"pipe.vx"});
}

TEST(PatchFile, SaveThroughALinkReplacesItsTargetWithItsPermissions) {
  TempDir dir;
  const fs::path target = dir.path / "target.vx";
  spit(target, "old patch");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target, mode);
  fs::create_symlink("target.vx", dir.path / "link.vx");
  auto s = test::makeSynth();
  std::string error;
  ASSERT_TRUE(savePatchFile(*s, (dir.path / "link.vx").string(), &error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.vx"));
  EXPECT_EQ(parsePatch(slurp(target)), capturePatch(*s));
  EXPECT_EQ(fs::status(target).permissions(), mode);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.vx", "target.vx"}));
}

}  // namespace
}  // namespace ondelith
