// The plugin's panel in our own CLAP host, on an X display (Xvfb in the
// tests): opened and closed while a note plays, and a curve point dragged
// with the pointer, compared with the same drag in the window's editor.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "editors/control_gestures.h"
#include "editors/curve_editor.h"
#include "editors/curve_interaction.h"
#include "editors/panel_layout.h"
#include "instrument/patch_format.h"
#include "instrument/registry.h"
#include "instrument/settings_page.h"
#include "instrument/sound.h"
#include "plugin/plugin_core.h"
#include "plugin/tests/clap_host.h"
#include "plugin/tests/lv2_host.h"
#include "plugin/tests/plugin_test_support.h"
#include "plugin/tests/vst3_host.h"
#include "tests/test_files.h"

// Last: its macros (None, Bool) would rename names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef None
#undef Bool
#undef Status

namespace ondelith {
namespace {

using claptest::Instance;
using claptest::Module;
using plugintest::patchIn;

long residentKb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  long kb = 0;
  while (status >> word)
    if (word == "VmRSS:" && status >> kb) break;
  return kb;
}

// A top-level window the panels go into, at the screen's corner.
struct HostWindow {
  Display* display = XOpenDisplay(nullptr);
  Window window = 0;
  explicit HostWindow(int x = 0) {
    if (!display) return;
    XSetWindowAttributes a{};
    a.override_redirect = True;  // placed where asked, with or without a window manager
    window = XCreateWindow(display, DefaultRootWindow(display), x, 0, kClientWidth,
                           kClientHeight + kPanelHeaderHeight, 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWOverrideRedirect, &a);
    XMapRaised(display, window);
    XSync(display, False);
  }
  ~HostWindow() {
    if (!display) return;
    XDestroyWindow(display, window);
    XCloseDisplay(display);
  }
};

bool openPanel(Instance& in, HostWindow& host) {
  if (!in.gui->create(in.plugin(), CLAP_WINDOW_API_X11, false)) return false;
  clap_window_t w{CLAP_WINDOW_API_X11, {}};
  w.x11 = host.window;
  return in.gui->set_parent(in.plugin(), &w) && in.gui->show(in.plugin());
}

void closePanel(Instance& in) {
  in.gui->hide(in.plugin());
  in.gui->destroy(in.plugin());
}

void pump(Instance& in, int times) {
  for (int i = 0; i < times; ++i) {
    in.runTimers();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

class Panel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    ASSERT_TRUE(module.ok());
    ASSERT_TRUE(in.ok());
    ASSERT_NE(in.gui, nullptr);
    ASSERT_NE(host.display, nullptr);
  }
  // Drives the pointer or keys with xdotool, then lets the panel answer and
  // the instance play a few blocks.
  void xdo(const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    std::vector<float> out;
    for (int i = 0; i < 10; ++i) {
      pump(in, 1);
      in.process(256, out);
    }
  }
  Module module{ONDELITH_CLAP_PATH};
  Instance in{module, 48000};
  HostWindow host;
};

// The user's data folder, for one test, in a folder of its own.
struct ScratchDataHome {
  std::string base = "/tmp/ondelith-panel-data.XXXXXX";
  ScratchDataHome() {
    if (mkdtemp(base.data())) setenv("XDG_DATA_HOME", base.c_str(), 1);
  }
  ~ScratchDataHome() {
    std::filesystem::remove_all(base);
    unsetenv("XDG_DATA_HOME");
  }
  std::string sounds() const { return base + "/Ondelith/sounds"; }
};

TEST_F(Panel, OpensAndClosesFiftyTimesWhileANotePlays) {
  in.midi(0, 0x7F4590);  // A4, held throughout
  // Until the note sounds; from then on every block must hold it.
  const auto peakOf = [](const std::vector<float>& out) {
    float peak = 0;
    for (float s : out) peak = std::max(peak, std::fabs(s));
    return peak;
  };
  std::vector<float> first;
  for (int i = 0; i < 200 && !(peakOf(first) > 1e-4f); ++i) {
    first.clear();
    in.process(256, first);
  }
  ASSERT_GT(peakOf(first), 1e-4f) << "the note never sounded";
  std::atomic<bool> done{false};
  std::atomic<long> silentBlocks{0}, blocks{0};
  std::thread audio([&] {
    std::vector<float> out;
    while (!done.load()) {
      out.clear();
      in.process(256, out);
      if (!(peakOf(out) > 1e-4f)) ++silentBlocks;  // NaN counts as silence too
      ++blocks;
    }
  });
  [[maybe_unused]] long after10 = 0;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(openPanel(in, host)) << i;
    pump(in, 2);
    closePanel(in);
    if (i == 9) after10 = residentKb();
  }
  done = true;
  audio.join();
  EXPECT_GT(blocks.load(), 0);
  EXPECT_EQ(silentBlocks.load(), 0);
  // Forty more panels cost no more than a few pages of the allocator's
  // (ThreadSanitizer's allocator holds freed memory back, and its shadow
  // grows with it: there only the sound is judged).
#ifndef __SANITIZE_THREAD__
  EXPECT_LT(residentKb() - after10, 2048) << "kB grown over 40 panels";
#endif
}

// Each panel's X display and drawing surfaces go with it: a hundred panels
// leave the heap where ten left it, give or take the allocator's slack.
TEST_F(Panel, AHundredPanelsLeaveNothingBehind) {
  const auto inUse = [] { return static_cast<long>(mallinfo2().uordblks); };
  long after10 = 0;
  for (int i = 0; i < 110; ++i) {
    ASSERT_TRUE(openPanel(in, host)) << i;
    pump(in, 2);  // painted
    closePanel(in);
    if (i == 9) after10 = inUse();
  }
  const long grown = inUse() - after10;
  std::printf("heap grown over 100 panels: %ld bytes\n", grown);
  EXPECT_LT(grown, 100 * 512) << "bytes grown over 100 panels";
}

// The pointer drags the first curve's fourth point up by 20 pixels; the
// saved state's curve is the window editor's after the same drag, and the
// state plays what ondelith-render plays with that patch.
TEST_F(Panel, CurveDraggedWithThePointerReachesTheState) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  // The first row wobbles, so that its curve is heard.
  in.param(0, modIndex(kRowX1), 60);
  in.param(0, coarseIndex(kRowX1), 3);
  std::vector<float> none;
  in.process(0, none);
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);

  CurveEditorSet window;
  const CurveEditorPlace place = curveEditorPlace(0);
  const int id =
      createCurveEditor(window, -1, place.x, place.y, place.w, place.h, kCurvePointCount, 0, 0, 0);
  setCurveEditorProperty(window, id, HandleRadius, kCurveHandleRadius);
  setCurveEditorProperty(window, id, GrabTolerance, kCurveGrabTolerance);
  Sound expected = startSound();
  setSoundValue(expected, modIndex(kRowX1), 60);
  setSoundValue(expected, coarseIndex(kRowX1), 3);
  const Sound before = expected;
  setCurvePoints(*findCurveEditor(window, id)->model, expected.curves[0]);
  const CurvePoint p = curvePoint(*findCurveEditor(window, id), 3);
  handleCurveEditorEvent(window, id, PointerAction::Press, p.x, p.y);
  handleCurveEditorEvent(window, id, PointerAction::Move, p.x, p.y - 20);
  handleCurveEditorEvent(window, id, PointerAction::Release, p.x, p.y - 20);
  expected.curves[0] = curvePointsOf(*findCurveEditor(window, id)->model);
  ASSERT_NE(expected.curves[0], startSound().curves[0]);

  const int sx = place.x + p.x, sy = place.y + kPanelHeaderHeight + p.y;
  const auto run = [&](const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    pump(in, 5);
  };
  run("mousemove " + std::to_string(sx) + " " + std::to_string(sy));
  run("mousedown 1");
  for (int step = 1; step <= 4; ++step)
    run("mousemove " + std::to_string(sx) + " " + std::to_string(sy - 5 * step));
  run("mouseup 1");
  pump(in, 10);
  closePanel(in);
  const std::string state = in.saveState();
  EXPECT_EQ(patchIn(state), formatPatch(capturePatch(expected)));

  // The state plays what the renderer plays with the dragged patch.
  test::TempDir dir;
  const std::string midi = dir.file("song.mid", plugintest::song());
  const std::vector<float> reference = plugintest::rendered(
      dir, midi, 48000, dir.file("dragged.vx", formatPatch(capturePatch(expected))));
  EXPECT_FALSE(plugintest::sameBits(
      reference, plugintest::rendered(dir, midi, 48000,
                                      dir.file("before.vx", formatPatch(capturePatch(before))))));
  Instance replay(module, 48000);
  ASSERT_TRUE(replay.loadState(state));
  std::vector<float> out;
  size_t next = 0;
  const std::vector<TimedMidi> notes = plugintest::notesOf(midi, 48000);
  while (out.size() < reference.size()) {
    const size_t start = out.size();
    const auto n = static_cast<uint32_t>(std::min<size_t>(512, reference.size() - start));
    for (; next < notes.size() && static_cast<size_t>(notes[next].frame) < start + n; ++next)
      replay.midi(static_cast<uint32_t>(notes[next].frame - static_cast<int64_t>(start)),
                  notes[next].word);
    replay.process(n, out);
  }
  EXPECT_TRUE(plugintest::sameBits(out, reference));
}

// The panel's picture in the host's window, as 0xRRGGBB at a panel point.
uint32_t shownAt(HostWindow& host, int x, int y) {
  XImage* image = XGetImage(host.display, host.window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return 0xFFFFFFFFu;
  const uint32_t v = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFF;
  XDestroyImage(image);
  return v;
}

// The Volume slider pressed at its top with the pointer: the host's
// parameter goes to its maximum. Then a state whose Volume is the least
// loaded by the host: the panel redraws the slider's thumb at its bottom.
TEST_F(Panel, SliderSetsItsParameterAndAStateRedrawsIt) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);
  const ControlInfo& vol = *findControl(kSliderVol);
  const int cx = vol.x + vol.w / 2, top = vol.y + kPanelHeaderHeight + 4;
  const int bottom = vol.y + kPanelHeaderHeight + vol.h - 5;
  ASSERT_EQ(std::system(("xdotool mousemove " + std::to_string(cx) + " " + std::to_string(top) +
                         " click 1 mousemove 1 600")
                            .c_str()),
            0);
  std::vector<float> out;
  for (int i = 0; i < 20; ++i) {
    pump(in, 1);
    in.process(256, out);
  }
  EXPECT_EQ(in.value(kVolumeIndex), parameter(kVolumeIndex).maximum);
  const uint32_t thumb = shownAt(host, cx, top);
  const uint32_t groove = shownAt(host, cx, bottom);
  EXPECT_NE(thumb, groove);

  // Another instance's state, its Volume the least.
  Instance other(module, 48000);
  ASSERT_TRUE(other.ok());
  other.param(0, kVolumeIndex, parameter(kVolumeIndex).minimum);
  std::vector<float> ignored;
  other.process(64, ignored);
  ASSERT_TRUE(in.loadState(other.saveState()));
  pump(in, 20);
  EXPECT_EQ(shownAt(host, cx, bottom), thumb) << "the thumb is not redrawn at the bottom";
  EXPECT_EQ(shownAt(host, cx, top), groove);
  closePanel(in);
}

// The panel's picture of a rectangle of the host's window.
std::vector<uint32_t> shownIn(HostWindow& host, int x, int y, int w, int h) {
  std::vector<uint32_t> pixels;
  for (int j = y; j < y + h; ++j)
    for (int i = x; i < x + w; ++i) pixels.push_back(shownAt(host, i, j));
  return pixels;
}

// A panel opened again names the sound it finds: the bank's sound by its
// name, a sound of the player's folder by its file, anything else as
// unsaved, never the name the last panel showed with a change mark.
TEST_F(Panel, AReopenedPanelNamesTheSoundItFinds) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ScratchDataHome data;
  const auto name = [&] { return shownIn(host, 34, 4, 200, 24); };  // the name's box
  const auto reopened = [&] {
    closePanel(in);
    EXPECT_TRUE(openPanel(in, host));
    xdo("mousemove 1 600");
    return name();
  };
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  xdo("mousemove 250 16 click 1");  // >: the bank's second sound
  ASSERT_EQ(patchIn(in.saveState()), formatPatch(capturePatch(plugin::programs().at(1).sound)));
  const auto bankSound = name();
  EXPECT_EQ(reopened(), bankSound);

  const ControlInfo& vol = *findControl(kSliderVol);  // to its least
  xdo("mousemove " + std::to_string(vol.x + vol.w / 2) + " " +
      std::to_string(vol.y + kPanelHeaderHeight + vol.h - 4) + " click 1 mousemove 1 600");
  ASSERT_EQ(in.value(kVolumeIndex), parameter(kVolumeIndex).minimum);
  const auto changed = name();
  const auto unsaved = reopened();
  EXPECT_NE(unsaved, changed);
  EXPECT_NE(unsaved, bankSound);

  xdo("mousemove 450 16 click 1");
  xdo("type kept");
  xdo("key Return");
  const auto kept = name();
  EXPECT_NE(kept, unsaved);
  EXPECT_EQ(reopened(), kept);
  closePanel(in);
}

// The sounds menu's entry `entry` (from its top) as shown after `turns`
// notches of the wheel: 33 rows a column of 175 pixels from y = 28.
std::string menuEntry(int entry, int turns = 0) {
  entry -= turns * 33;
  return std::to_string(2 + entry / 33 * 175 + 50) + " " + std::to_string(28 + entry % 33 * 18 + 9);
}

// Where the player's own sounds begin in the sounds menu: after the bank
// under its categories' headings and the own sounds' heading.
int firstOwnEntry() {
  const auto& programs = plugin::programs();
  int entry = static_cast<int>(programs.size()) + 1;
  for (size_t i = 1; i < programs.size(); ++i)
    entry += programs[i].category != programs[i - 1].category;
  return entry;
}

bool anyDark(const std::vector<uint32_t>& pixels) {
  return std::any_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xFF) < 0x60; });
}

Sound soundWithVolume(int32_t volume) {
  Sound s = startSound();
  setSoundValue(s, kVolumeIndex, volume);
  return s;
}

// A file whose name is not UTF-8 beside a good one: both listed with
// their names drawn, both load, and the panel draws on after either.
TEST_F(Panel, NamesThatAreNotUtf8AreListedLoadedAndDrawn) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ScratchDataHome data;
  std::filesystem::create_directories(data.sounds());
  const int32_t least = parameter(kVolumeIndex).minimum, most = parameter(kVolumeIndex).maximum;
  std::ofstream(data.sounds() + "/good.vx") << formatPatch(capturePatch(soundWithVolume(least)));
  std::ofstream(data.sounds() + "/bad\xFFname.vx")
      << formatPatch(capturePatch(soundWithVolume(most)));
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const ControlInfo& display = *findControl(kWaveformDisplay);
  const int first = firstOwnEntry();  // bad\xFFname sorts first
  for (const auto& [entry, volume] : {std::pair{first, most}, std::pair{first + 1, least}}) {
    SCOPED_TRACE(entry - first);
    xdo("mousemove 130 16 click 1");  // the sounds menu
    EXPECT_TRUE(anyDark(shownIn(host, 2 + entry / 33 * 175 + 8, 28 + entry % 33 * 18 + 3, 80, 12)))
        << "the entry's name is not drawn";
    xdo("mousemove " + menuEntry(entry) + " click 1 mousemove 1 600");
    EXPECT_EQ(in.value(kVolumeIndex), volume);
    EXPECT_EQ(shownAt(host, display.x + 2, display.y + kPanelHeaderHeight + 2), 0u)
        << "the display is not drawn";
    EXPECT_TRUE(anyDark(shownIn(host, 40, 8, 150, 16))) << "the sound's name is not drawn";
  }
  closePanel(in);
}

// 5,000 files made in a shuffled order: the menu's first page starts with
// the first by name, and its last entry turns to the next page, which
// starts with the 501st.
TEST_F(Panel, SoundsMenuPagesThroughAFolderInOrder) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ScratchDataHome data;
  std::filesystem::create_directories(data.sounds());
  std::vector<int> order(5000);
  for (int k = 0; k < 5000; ++k) order[static_cast<size_t>(k)] = (k * 2719) % 5000;
  const int32_t least = parameter(kVolumeIndex).minimum, most = parameter(kVolumeIndex).maximum;
  const std::string plain = formatPatch(capturePatch(startSound()));
  for (int k : order) {
    char name[16];
    std::snprintf(name, sizeof name, "/s%04d.vx", k);
    std::ofstream(data.sounds() + name)
        << (k == 0     ? formatPatch(capturePatch(soundWithVolume(least)))
            : k == 500 ? formatPatch(capturePatch(soundWithVolume(most)))
                       : plain);
  }
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const int first = firstOwnEntry();
  xdo("mousemove 130 16 click 1");
  xdo("mousemove " + menuEntry(first) + " click 1");
  EXPECT_EQ(in.value(kVolumeIndex), least);

  // The page's last entry, the way on, after as many notches as it takes.
  xdo("mousemove 130 16 click 1");
  // The wheel turns a column of 33 at a time, never past the menu's last
  // three columns.
  const int next = first + 500, turns = std::min(next / 33 - 2, (next + 1 - 99 + 32) / 33);
  xdo("mousemove 100 300 click --repeat " + std::to_string(turns) + " 5");
  xdo("mousemove " + menuEntry(next, turns) + " click 1");
  // The next page opens at its heading's column: the heading, the way
  // back, then its first sound.
  const int heading = first - 1;
  xdo("mousemove " + menuEntry(heading + 2, heading / 33) + " click 1");
  EXPECT_EQ(in.value(kVolumeIndex), most);
  closePanel(in);
}

// A control's centre, or a point of it, in the panel, as xdotool takes it.
std::string at(const ControlInfo& c, int dx = -1, int dy = -1) {
  return std::to_string(c.x + (dx < 0 ? c.w / 2 : dx)) + " " +
         std::to_string(c.y + kPanelHeaderHeight + (dy < 0 ? c.h / 2 : dy));
}

// The Volume slider's thumb, in pixels from the panel's top, for a value.
int thumbY(int32_t v) {
  const ControlInfo& vol = *findControl(kSliderVol);
  const Parameter& p = parameter(kVolumeIndex);
  const double t = double(v - p.minimum) / (p.maximum - p.minimum);
  return static_cast<int>(std::lround(vol.y + kPanelHeaderHeight + 4 + (1 - t) * (vol.h - 8)));
}

// The wheel steps by the table's step (finer with Shift), a double click
// puts the slider back to its start, and a Shift drag moves a tenth as far
// as a plain one.
TEST_F(Panel, WheelDoubleClickAndFineDragOnASlider) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const ControlInfo& vol = *findControl(kSliderVol);
  const Parameter& p = parameter(kVolumeIndex);
  const auto volume = [&] { return static_cast<int32_t>(in.value(kVolumeIndex)); };
  const int32_t start = volume();
  const Bounds b{p.minimum, p.maximum};
  xdo("mousemove " + at(vol) + " click 4");
  EXPECT_EQ(volume(), start + wheelStep(kVolumeIndex, b, false));
  xdo("keydown shift click 4 keyup shift");
  EXPECT_EQ(volume(), start + wheelStep(kVolumeIndex, b, false) + wheelStep(kVolumeIndex, b, true));
  EXPECT_GT(wheelStep(kCutoffIndex, b, false), 1);

  xdo("mousemove " + at(vol, -1, 10) + " click --repeat 2 --delay 80 1 mousemove 1 600");
  EXPECT_EQ(volume(), p.start);

  const auto dragUp = [&](const std::string& keys) {
    const int32_t before = volume();
    const std::string x = std::to_string(vol.x + vol.w / 2);
    const int y = thumbY(before);
    xdo(keys.empty() ? "sleep 0.5" : "keydown " + keys);
    xdo("mousemove " + x + " " + std::to_string(y) + " mousedown 1");
    for (int step = 1; step <= 4; ++step)
      xdo("mousemove " + x + " " + std::to_string(y - 10 * step));
    xdo("mouseup 1");
    if (!keys.empty()) xdo("keyup " + keys);
    xdo("mousemove 1 600 sleep 0.5");  // clear of a double click
    return volume() - before;
  };
  const int32_t plain = dragUp(""), fine = dragUp("shift");
  EXPECT_GT(plain, 0);
  EXPECT_GT(fine, 0);
  EXPECT_NEAR(fine * kFineDragDivisor, plain, plain / 4.0);
  closePanel(in);
}

// A value typed into a spin box or beside a slider: Enter applies it as the
// table reads it, Escape and a text that is no value leave it as it was.
TEST_F(Panel, TypedValuesApplyOnEnterOnly) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const ControlInfo& mod = *findControl(kSpinMod0);
  const ControlInfo& vol = *findControl(kSliderVol);
  const int modIdx = modIndex(kRowX1);
  const struct {
    const char* keys;
    int32_t expected;
  } cases[] = {
      {"5 0 Return", 50}, {"7 Escape", 50}, {"a b c Return", 50}, {"minus 2 5 KP_Enter", -25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    xdo("mousemove " + at(mod, 6) + " click 1");
    xdo(std::string("key ") + c.keys);
    xdo("mousemove 1 600 sleep 0.5");
    EXPECT_EQ(in.value(static_cast<uint32_t>(modIdx)), c.expected);
  }
  // The slider's value beside it, reached from the slider.
  // Quick presses on a spin box's arrow step each time, never a double click.
  xdo("mousemove " + at(mod, mod.w - 8, 4) + " click --repeat 2 --delay 80 1 mousemove 1 600");
  EXPECT_EQ(in.value(static_cast<uint32_t>(modIdx)), -23);
  // The slider's value beside it (its tip's pale yellow), reached from the slider.
  xdo("mousemove " + at(vol));
  const int tipY = vol.y + kPanelHeaderHeight + 9;
  const std::vector<uint32_t> line = shownIn(host, 0, tipY, kClientWidth, 1);
  const auto tip = std::find(line.begin(), line.end(), 0xFFFFE0u);
  ASSERT_NE(tip, line.end()) << "no value beside the slider";
  xdo("mousemove " + std::to_string(tip - line.begin() + 8) + " " + std::to_string(tipY) +
      " click 1");
  xdo("key 1 2 3 Return");
  EXPECT_EQ(in.value(kVolumeIndex), 123);
  closePanel(in);
}

// Undo and Redo step through the panel's changes, a slider's drag as one
// step, with the buttons and the keys; the steps outlive the panel.
TEST_F(Panel, UndoAndRedoOutliveThePanel) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const ControlInfo& vol = *findControl(kSliderVol);
  const ControlInfo& res = *findControl(kSliderRes);
  const std::string first = patchIn(in.saveState());
  xdo("mousemove " + at(vol) + " mousedown 1 mousemove " + at(vol, -1, 5) + " mouseup 1");
  const std::string second = patchIn(in.saveState());
  xdo("mousemove " + at(res, -1, 5) + " click 1 mousemove 1 600");
  const std::string third = patchIn(in.saveState());
  ASSERT_NE(second, first);
  ASSERT_NE(third, second);
  const std::string undo = "mousemove 428 568 click 1", redo = "mousemove 492 568 click 1";
  xdo(undo);
  EXPECT_EQ(patchIn(in.saveState()), second);
  closePanel(in);
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  xdo(undo);
  EXPECT_EQ(patchIn(in.saveState()), first);
  EXPECT_EQ(in.value(kVolumeIndex), parameter(kVolumeIndex).start);
  xdo(redo);
  EXPECT_EQ(patchIn(in.saveState()), second);
  xdo("key ctrl+shift+z");
  EXPECT_EQ(patchIn(in.saveState()), third);
  xdo("key ctrl+z");
  EXPECT_EQ(patchIn(in.saveState()), second);
  closePanel(in);
}

// The settings view's second page holds every player's row of the table;
// its arrows and a typed value set them, and the sound stays as it was.
TEST_F(Panel, PlayerSettingsPageSetsThePlayersRows) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  const std::vector<int> rows = playerSettingEntries();
  ASSERT_GE(rows.size(), 3u);
  const auto row = [&](int index) {
    return static_cast<int>(std::find(rows.begin(), rows.end(), index) - rows.begin());
  };
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const std::string sound = patchIn(in.saveState());
  xdo("mousemove 505 16 click 1 mousemove 200 57 click 1 mousemove 1 600");  // Settings, Player
  for (size_t r = 0; r < rows.size(); ++r)  // each row's name drawn
    EXPECT_TRUE(anyDark(shownIn(host, 20, 76 + 26 * static_cast<int>(r) + 4, 200, 12))) << r;
  const int bend = row(kBendRangeIndex), velocity = row(kVelocityIndex);
  xdo("mousemove 483 " + std::to_string(76 + 26 * bend + 10) + " click 1");  // >
  EXPECT_EQ(in.value(kBendRangeIndex), parameter(kBendRangeIndex).start + 1);
  xdo("mousemove 320 " + std::to_string(76 + 26 * velocity + 10) + " click 1");
  xdo("key 6 0 Return");
  EXPECT_EQ(in.value(kVelocityIndex), 60);
  EXPECT_EQ(patchIn(in.saveState()), sound);
  closePanel(in);
}

// The player's page switches the set-up fade's latency report, a state of
// the plugin's own: on, then off again.
TEST_F(Panel, PlayerSettingsPageSwitchesTheLatencyReport) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  xdo("mousemove 505 16 click 1 mousemove 200 57 click 1");  // Settings, Player
  const int switchY = kClientHeight + kPanelHeaderHeight - 8 - 58 + 10;
  const std::string click = "mousemove 60 " + std::to_string(switchY) + " click 1";
  for (const uint32_t expected : {plugin::setUpLatency(48000, 0), 0u}) {
    xdo(click);
    EXPECT_EQ(in.latency(), expected);
  }
  closePanel(in);
}

// While a curve point is dragged its time and depth are read out beside
// it; the readout goes with the drag.
TEST_F(Panel, ACurvePointDraggedIsReadOut) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  xdo("mousemove 1 600");
  const CurveEditorPlace place = curveEditorPlace(0);
  CurveModel model;
  initCurve(model, kCurveGridWidth, kCurveGridHeight, kCurvePointCount, kCurveLayoutMargin);
  const CurvePoint p = curvePoint(model, 3);
  const int x = place.x + p.x, y = place.y + kPanelHeaderHeight + p.y;
  const int readX = x + 14, readY = y - 20 - 24 + 3;  // inside the readout once moved up 20
  const uint32_t before = shownAt(host, readX, readY);
  xdo("mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown 1");
  xdo("mousemove " + std::to_string(x) + " " + std::to_string(y - 20));
  EXPECT_EQ(shownAt(host, readX, readY), 0xFFFFE0u) << "no readout beside the point";
  xdo("mouseup 1 mousemove 1 600");
  EXPECT_EQ(shownAt(host, readX, readY), before);
  closePanel(in);
}

// Two instances with their panels open side by side: a slider moved in
// one, and a bank sound chosen in the other, reach only their own; closing
// a panel leaves its sound as it is.
TEST_F(Panel, InstancesWithOpenPanelsStayApart) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  constexpr int kRight = kClientWidth + 20;
  Instance second(module, 48000);
  HostWindow secondHost(kRight);
  ASSERT_TRUE(second.ok());
  ASSERT_TRUE(openPanel(in, host));
  ASSERT_TRUE(openPanel(second, secondHost));
  std::vector<float> out;
  const auto run = [&](const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    for (int i = 0; i < 10; ++i) {
      pump(in, 1);
      pump(second, 1);
      in.process(256, out);
      second.process(256, out);
    }
  };
  run("mousemove 1 600");  // both panels up and painted
  const std::string first = in.saveState();
  const ControlInfo& vol = *findControl(kSliderVol);
  run("mousemove " + std::to_string(kRight + vol.x + vol.w / 2) + " " +
      std::to_string(vol.y + kPanelHeaderHeight + 4) + " click 1 mousemove 1000 600");
  EXPECT_EQ(second.value(kVolumeIndex), parameter(kVolumeIndex).maximum);
  EXPECT_EQ(in.saveState(), first);

  const std::string secondsState = second.saveState();
  run("mousemove 250 16 click 1");  // > in the first panel
  EXPECT_EQ(patchIn(in.saveState()), formatPatch(capturePatch(plugin::programs().at(1).sound)));
  EXPECT_EQ(second.saveState(), secondsState);
  closePanel(second);
  closePanel(in);
  EXPECT_EQ(second.saveState(), secondsState);
}

// The VST3 editor in a host's X11 window: the panel at its size, painted,
// and a slider pressed with the pointer asks the host for its edit, which
// reaches the sound.
TEST(Vst3Editor, AttachesPaintsAndEditsThroughTheHost) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  vst3test::Module vst3(ONDELITH_VST3_BUNDLE);
  ASSERT_TRUE(vst3.ok());
  vst3test::Instance in(vst3, 48000);
  HostWindow host;
  ASSERT_TRUE(in.ok());
  ASSERT_TRUE(in.openEditor(host.window));
  const v3_view_rect size = in.editorSize();
  EXPECT_EQ(size.right - size.left, kClientWidth);
  EXPECT_EQ(size.bottom - size.top, kClientHeight + kPanelHeaderHeight);
  std::vector<float> out;
  const auto run = [&](const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    for (int i = 0; i < 10; ++i) {
      in.runTimers();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      in.process(256, out);
    }
  };
  run("mousemove 1 600");
  const ControlInfo& vol = *findControl(kSliderVol);
  const ControlInfo& display = *findControl(kWaveformDisplay);
  // The display's paint is black; the panel's background is not.
  EXPECT_EQ(shownAt(host, display.x + 2, display.y + kPanelHeaderHeight + 2), 0u);
  EXPECT_NE(shownAt(host, 1, kClientHeight + kPanelHeaderHeight - 2), 0u);
  run("mousemove " + std::to_string(vol.x + vol.w / 2) + " " +
      std::to_string(vol.y + kPanelHeaderHeight + 4) + " click 1 mousemove 1 600");
  ASSERT_FALSE(in.edits.empty());
  EXPECT_EQ(in.edits.back(), std::make_pair(vst3test::idOf(kVolumeIndex), 1.0));
  Sound loudest = startSound();
  setSoundValue(loudest, kVolumeIndex, parameter(kVolumeIndex).maximum);
  EXPECT_NE(in.saveState().find(formatPatch(capturePatch(loudest))), std::string::npos);
  in.closeEditor();
}

// LV2: Open asks the host for a file under the key the plugin reads, and
// the file the host's browser chooses becomes the plugin's sound, the
// host's controls with it.
TEST(Lv2Panel, OpenAsksTheHostAndItsChoiceReachesThePlugin) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  lv2test::Host lv2;
  ASSERT_NE(lv2.plugin, nullptr);
  lv2test::Instance in(lv2, 48000);
  ASSERT_TRUE(in.ok());
  HostWindow host;
  lv2test::Panel panel(in, host.window);
  ASSERT_TRUE(panel.ok());
  std::vector<float> out;
  const auto run = [&](const std::string& args) {
    if (!args.empty()) {
      ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    }
    for (int i = 0; i < 10; ++i) {
      panel.idle();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      in.run(256, out);
    }
  };
  run("mousemove 1 600");
  run("mousemove 298 16 click 1");  // Open
  ASSERT_EQ(panel.fileRequests().size(), 1u);
  EXPECT_EQ(panel.fileRequests()[0], "urn:ondelith:lv2#" + std::string(plugin::kPatchFileStateKey));

  test::TempDir dir;
  Sound chosen = soundWithVolume(parameter(kVolumeIndex).maximum);
  setSoundValue(chosen, pointIndex(kRowX1), 12);
  ASSERT_TRUE(panel.answerFileRequest(dir.file("chosen.vx", formatPatch(capturePatch(chosen)))));
  run("");
  EXPECT_EQ(in.get(std::string(parameter(kVolumeIndex).symbol)), parameter(kVolumeIndex).maximum);
  EXPECT_EQ(in.get(std::string(parameter(pointIndex(kRowX1)).symbol)), 12);
}

// With the editor open, a program or a state picked under the host's lock
// reaches the host's restartComponent from the editor's timer, after the call.
TEST(Vst3Editor, TellsTheHostOfNewValuesFromItsTimer) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  vst3test::Module vst3(ONDELITH_VST3_BUNDLE);
  ASSERT_TRUE(vst3.ok());
  vst3test::Instance in(vst3, 48000);
  HostWindow host;
  ASSERT_TRUE(in.ok());
  ASSERT_TRUE(in.openEditor(host.window));
  in.runTimers();
  const std::string state = in.saveState();
  in.restarts = 0;
  const std::vector<std::function<void()>> calls = {
      [&] {
        v3_cpp_obj(in.controller)->set_parameter_normalised(in.controller, vst3test::kProgramId, 1);
      },
      [&] { ASSERT_TRUE(in.loadState(state)); }};
  for (const auto& call : calls) {
    in.underHostLock(call);
    EXPECT_EQ(in.restarts, 0);
    in.runTimers();
    EXPECT_EQ(in.restarts, 1);
    in.restarts = 0;
  }
  EXPECT_EQ(in.deadlocks, 0);
  in.closeEditor();
}

// The host's scale factor scales the whole panel, asked before it is shown.
TEST_F(Panel, TakesTheHostsScaleFactor) {
  for (double scale : {1.5, 2.0}) {
    SCOPED_TRACE(scale);
    ASSERT_TRUE(in.gui->create(in.plugin(), CLAP_WINDOW_API_X11, false));
    in.gui->set_scale(in.plugin(), scale);
    pump(in, 5);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(in.gui->get_size(in.plugin(), &w, &h));
    EXPECT_EQ(w, static_cast<uint32_t>(std::lround(kClientWidth * scale)));
    EXPECT_EQ(h, static_cast<uint32_t>(std::lround((kClientHeight + kPanelHeaderHeight) * scale)));
    in.gui->destroy(in.plugin());
  }
}

// The Settings button shows the sound settings' page over the controls,
// which then take no press; it says so when there is nothing to set. The
// button again gives the controls back.
TEST_F(Panel, SettingsViewCoversTheControlsUntilClosed) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);
  const ControlInfo& display = *findControl(kWaveformDisplay);
  const int dx = display.x + 20, dy = display.y + kPanelHeaderHeight + 150;
  const uint32_t shown = shownAt(host, dx, dy);
  xdo("mousemove 505 16 click 1");
  EXPECT_EQ(shownAt(host, dx, dy), 0xFFFFFFu) << "the page is not over the display";
  const std::vector<uint32_t> note = shownIn(host, 20, kPanelHeaderHeight + 48, 300, 16);
  EXPECT_TRUE(std::any_of(note.begin(), note.end(), [](uint32_t p) { return p < 0x808080; }))
      << "the page says nothing";
  const ControlInfo& vol = *findControl(kSliderVol);
  const int32_t volume = in.value(kVolumeIndex);
  xdo("mousemove " + std::to_string(vol.x + vol.w / 2) + " " +
      std::to_string(vol.y + kPanelHeaderHeight + 4) + " click 1");
  EXPECT_EQ(in.value(kVolumeIndex), volume);
  xdo("mousemove 505 16 click 1 mousemove 1 600");
  EXPECT_EQ(shownAt(host, dx, dy), shown);
  closePanel(in);
}

// The header's bank: next, next, previous lands on the bank's first sound,
// and the name's menu picks the second; each writes every parameter.
TEST_F(Panel, BankButtonsAndMenuLoadTheBanksSounds) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  const auto& programs = plugin::programs();
  ASSERT_GE(programs.size(), 3u);
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);
  const auto expectProgram = [&](size_t n) {
    SCOPED_TRACE(programs[n].name);
    EXPECT_EQ(patchIn(in.saveState()), formatPatch(capturePatch(programs[n].sound)));
    for (int i = 0; i < kSoundValueCount; ++i)
      EXPECT_EQ(in.value(static_cast<uint32_t>(i)),
                programs[n].sound.values[static_cast<size_t>(i)])
          << parameter(i).symbol;
  };
  xdo("mousemove 250 16 click 1");  // >
  xdo("click 1");
  xdo("mousemove 18 16 click 1");  // <
  expectProgram(1);
  xdo("mousemove 130 16 click 1");  // the name: the bank's menu
  // Each category's first sound has its heading above it.
  int entry = 2;
  for (size_t i = 1; i <= 2; ++i) entry += programs[i].category != programs[i - 1].category;
  xdo("mousemove 100 " + std::to_string(28 + entry * 18 + 9) + " click 1");
  expectProgram(2);
  closePanel(in);
}

// Save by a typed name writes the sound into the user's sounds folder; the
// sounds menu lists that folder after the bank, and Open shows the
// framework's browser there. Either loads the file chosen, the host's
// parameters with it.
TEST_F(Panel, SavesByATypedNameAndOpensFromTheSoundsFolder) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ScratchDataHome data;
  const std::string folder = data.sounds();
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);
  // The name field is the header's last part, Save the one before it.
  xdo("mousemove 450 16 click 1");
  xdo("type mine");
  xdo("key Return");
  const auto fileText = [&](const std::string& name) {
    std::ifstream saved(folder + "/" + name);
    return std::string((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  };
  const std::string first = patchIn(in.saveState());
  EXPECT_EQ(fileText("mine.vx"), first);
  // The same name again replaces the file only when Save is asked twice.
  in.param(0, kVolumeIndex, 700);
  xdo("mousemove 450 16 click 1");
  xdo("type mine");
  xdo("key Return");
  EXPECT_EQ(fileText("mine.vx"), first);
  xdo("mousemove 354 16 click 1");  // Save
  EXPECT_NE(fileText("mine.vx"), first);
  EXPECT_EQ(fileText("mine.vx"), patchIn(in.saveState()));

  const Sound quiet = soundWithVolume(parameter(kVolumeIndex).minimum);
  const Sound loud = soundWithVolume(parameter(kVolumeIndex).maximum);
  std::ofstream(folder + "/quiet.vx") << formatPatch(capturePatch(quiet));
  std::ofstream(folder + "/zloud.vx") << formatPatch(capturePatch(loud));
  const auto expectSound = [&](const Sound& s) {
    EXPECT_EQ(in.value(kVolumeIndex), s.values[kVolumeIndex]);
    EXPECT_EQ(patchIn(in.saveState()), formatPatch(capturePatch(s)));
  };
  // The menu: the bank, a heading, then mine and quiet.
  xdo("mousemove 130 16 click 1");
  xdo("mousemove " + menuEntry(firstOwnEntry() + 1) + " click 1");
  expectSound(quiet);

  // Open: the framework's browser in the folder; "z" picks zloud.
  xdo("mousemove 298 16 click 1");
  xdo("search --sync --name \"Open a sound\" key --window %1 z Return");
  expectSound(loud);
  closePanel(in);
}

// The player settings' tuning chooser lists the player's files; one chosen
// goes into the instance's state as its text.
TEST_F(Panel, TheTuningChooserSetsAScaleFromTheTuningsFolder) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
  ScratchDataHome data;
  std::filesystem::create_directories(data.base + "/Ondelith/tunings");
  const std::string scale =
      "Seven steps\n7\n171.4286\n342.8571\n514.2857\n685.7143\n857.1429\n"
      "1028.5714\n2/1\n";
  { std::ofstream(data.base + "/Ondelith/tunings/seven.scl") << scale; }
  ASSERT_TRUE(openPanel(in, host));
  pump(in, 20);
  xdo("mousemove 505 16 click 1 mousemove 200 57 click 1");  // Settings, Player
  // The chooser's line at the page's foot, its list above: 12-TET, the
  // standard map, seven.scl, Open...
  xdo("mousemove 200 594 click 1");
  xdo("mousemove 200 557 click 1");
  pump(in, 20);
  closePanel(in);
  EXPECT_NE(in.saveState().find(scale), std::string::npos) << "the scale is not in the state";
}

}  // namespace
}  // namespace ondelith
