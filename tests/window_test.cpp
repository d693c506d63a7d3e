// The main window on Qt's offscreen platform, driven with real input events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QTest>
#include <cstdlib>
#include <set>
#include <thread>

#include "app/app.h"
#include "editors/curve_interaction.h"
#include "editors/waveform_display.h"
#include "engine/bezier.h"
#include "engine/numeric.h"
#include "engine/render.h"
#include "test_support.h"
#include "window_fixture.h"

namespace ondelith {
namespace {

using test::FakeDevices;
using test::Window;

TEST_F(Window, EveryControlAtItsPlaceWithItsRangeValueAndText) {
  auto* main = static_cast<QMainWindow*>(tk->nativeWindow(app->window));
  EXPECT_EQ(main->windowTitle().toStdString(), "Ondelith");
  EXPECT_EQ(main->centralWidget()->size(), QSize(kClientWidth, kClientHeight));
  EXPECT_EQ(main->minimumSize(), main->maximumSize());  // not resizable
  for (const ControlInfo& s : kControlTable) {
    const Rect r = tk->geometry(s.id);
    EXPECT_EQ(r.x, s.x) << s.id;
    EXPECT_EQ(r.y, s.y) << s.id;
    EXPECT_EQ(r.w, s.w) << s.id;
    EXPECT_EQ(r.h, s.h) << s.id;
    if (s.kind == ControlKind::Slider || s.kind == ControlKind::SpinBox) {
      EXPECT_EQ(tk->minimum(s.id), s.minimum) << s.id;
      EXPECT_EQ(tk->maximum(s.id), s.maximum) << s.id;
      EXPECT_EQ(tk->value(s.id), s.start) << s.id;
    }
    if (s.kind == ControlKind::SpinBox) {
      EXPECT_EQ(tk->text(s.id), parameterText(entryOf(s.id), s.start)) << s.id;
    }
    if (s.kind == ControlKind::Label || s.kind == ControlKind::Frame) {
      EXPECT_EQ(tk->text(s.id), std::string(s.text)) << s.id;
    }
  }
  for (int row = 0; row < kWobbleRows; ++row) {
    const Rect r = tk->geometry(curveEditorId(app->synth, row));
    EXPECT_EQ(r.x, 220);
    EXPECT_EQ(r.y, 240 + 80 * row);
    EXPECT_EQ(r.w, 160);
    EXPECT_EQ(r.h, 70);
  }
  EXPECT_EQ(tk->entryCount(kMidiInputList), 2);
  EXPECT_EQ(tk->value(kMidiInputList), 0);
  EXPECT_EQ(tk->text(kAudioOutputList), "default");
  EXPECT_EQ(devices->calls,
            (std::vector<std::string>{"startAudio ", "openMidiInput 0", "startStream"}));
  EXPECT_TRUE(devices->everyControlExistedAtStart);
}

// --set goes over the sound the program starts with, in the order given,
// and the window shows it; a value out of its row's range then ends the start.
TEST_F(Window, SetOnTheCommandLineGoesOverTheSoundAndShows) {
  const std::vector<std::string> words = {"cutoff=800", "x1_fine=.25", "duration_range=x1",
                                          "duration=300", "bend_range=7"};
  const auto given = [&words](CommandLine& line) {
    line.settingWords = words;
    line.settings.clear();
    for (const std::string& w : words) {
      ParameterValue v{};
      std::string mistake;
      ASSERT_TRUE(readParameterValue(w, v, mistake)) << mistake;
      line.settings.push_back(v);
    }
  };
  restart([&](test::FakeDevices& d) { given(d.app.commandLine); });
  EXPECT_EQ(tk->value(kSliderF), 800);
  EXPECT_EQ(tk->text(spinFineId(kRowX1)), ".25");
  EXPECT_EQ(tk->text(kSpinDurationRange), "x1");
  EXPECT_EQ(tk->maximum(kSliderDuration), 1000);
  EXPECT_EQ(tk->value(kSliderDuration), 300);
  EXPECT_EQ(app->synth.instrument.value(kBendRangeIndex), 7);
  EXPECT_EQ(app->synth.instrument.value(kCutoffIndex), 800);

  shutDown(*app);
  tk->destroyWindow(app->window);
  app = std::make_unique<App>(*tk);
  app->settingsPath = settingsFile();
  devices = std::make_unique<test::FakeDevices>(*app);
  app->devices = devices.get();
  app->commandLine.settingWords = {"duration=300"};
  app->commandLine.settings = {{kDurationIndex, 300}};  // under x10, the start's range
  int status = -1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(startUp(*app, status));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ondelith: --set \"duration=300\": duration takes 1000 to 10000 ms while "
            "duration_range is x10\n");
  EXPECT_EQ(status, 2);
  app.reset();
}

TEST_F(Window, OutputsListedAfterStartUpJoinTheAudioListWithTheOneInUseKept) {
  restart([](FakeDevices& d) {
    d.audioNames = {"JACK"};
    d.laterAudioNames = {"default", "hw:1"};
  });
  EXPECT_EQ(tk->entryCount(kAudioOutputList), 1);
  pump();
  ASSERT_EQ(tk->entryCount(kAudioOutputList), 3);
  EXPECT_EQ(tk->entryText(kAudioOutputList, 2), "hw:1");
  EXPECT_EQ(tk->value(kAudioOutputList), 0);
  EXPECT_EQ(devices->calls.back(), "startStream");  // nothing reopened
}

TEST_F(Window, StatusBarFields) {
  EXPECT_EQ(tk->statusText(app->window, 0), "MIDI IN");
  EXPECT_EQ(tk->statusText(app->window, 1), "");
  EXPECT_EQ(tk->statusText(app->window, 2), "C4");  // the computer keyboard's octave
  // Note status comes from the MIDI thread and is shown by the UI thread.
  std::thread midi([this] { midiInputCallback(app->synth.midi, kMidiData, 0x644590); });
  midi.join();
  pump();
  EXPECT_EQ(tk->statusText(app->window, 1), "On");
  std::thread off([this] { midiInputCallback(app->synth.midi, kMidiData, 0x4580); });
  off.join();
  pump();
  EXPECT_EQ(tk->statusText(app->window, 1), "Off");
}

TEST_F(Window, SliderEventsWriteTheirFieldsOnly) {
  EngineParams& p = app->synth.engine.params;
  key(kSliderF, Qt::Key_Up);
  EXPECT_EQ(p.get(Param::Cutoff), 1501.0);
  key(kSliderRes, Qt::Key_Down, 3);
  EXPECT_EQ(p.get(Param::Resonance), 47);
  key(kSliderA, Qt::Key_Up);
  EXPECT_DOUBLE_EQ(p.get(Param::Attack), 0.002);
  key(kSliderD, Qt::Key_Down);
  EXPECT_DOUBLE_EQ(p.get(Param::Decay), 0.999);
  key(kSliderS, Qt::Key_Up);
  EXPECT_DOUBLE_EQ(p.get(Param::Sustain), 0.51);
  key(kSliderR, Qt::Key_Up);
  EXPECT_DOUBLE_EQ(p.get(Param::Release), 1.501);
  key(kSliderVol, Qt::Key_Up);
  EXPECT_EQ(p.get(Param::Volume), 401.0f);
  key(kSliderDuration, Qt::Key_Up);
  EXPECT_EQ(p.get(Param::WobbleDuration), 2001.0f);
  key(kSliderY2, Qt::Key_End);  // the top end
  EXPECT_EQ(tk->value(kSliderY2), 99);
  EXPECT_FLOAT_EQ(displayPoints(app->synth).y2, 0.99f);
  key(kSliderY2, Qt::Key_Home);
  EXPECT_EQ(tk->value(kSliderY2), 50);
  // Fields of other controls stayed.
  EXPECT_FLOAT_EQ(displayPoints(app->synth).x1, 0.5f);
  EXPECT_FLOAT_EQ(displayPoints(app->synth).y1, 0.05f);
}

TEST_F(Window, SpinBoxesShowTheirTextAndChangeNoField) {
  const double cutoff = app->synth.engine.params.get(Param::Cutoff);
  key(spinFineId(0), Qt::Key_Up, 5);
  EXPECT_EQ(tk->text(spinFineId(0)), ".05");
  key(spinFineId(0), Qt::Key_Up, 5);
  EXPECT_EQ(tk->text(spinFineId(0)), ".10");
  key(spinModId(2), Qt::Key_Down, 35);
  EXPECT_EQ(tk->text(spinModId(2)), "-35");
  key(spinCoarseId(3), Qt::Key_Up, 20);  // stops at 15
  EXPECT_EQ(tk->text(spinCoarseId(3)), "15");
  EXPECT_EQ(controlValue(app->synth.controls, spinCoarseId(3)), 15);
  EXPECT_EQ(app->synth.engine.params.get(Param::Cutoff), cutoff);
  // Typing into the field changes nothing.
  QTest::keyClicks(widget(spinModId(0)), "42");
  pump();
  EXPECT_EQ(controlValue(app->synth.controls, spinModId(0)), 0);
}

// A click selects the whole text, so what is typed replaces it; Enter reads
// it, Escape (or a text that is no value in range) puts the old one back.
TEST_F(Window, ATypedValueReplacesASpinBoxsTextOnEnter) {
  const struct {
    int id;
    const char* typed;
    Qt::Key key;
    int value;
    const char* text;
  } cases[] = {
      {spinModId(kRowX1), "50", Qt::Key_Return, 50, "50"},
      {spinModId(kRowX1), "-35", Qt::Key_Escape, 50, "50"},
      {spinModId(kRowX1), "abc", Qt::Key_Enter, 50, "50"},
      {spinModId(kRowX1), "500", Qt::Key_Return, 50, "50"},  // beyond +100
      {spinFineId(kRowY2), "0.25", Qt::Key_Return, 25, ".25"},
      {spinCoarseId(kRowX2), "7", Qt::Key_Return, 7, "7"},
  };
  for (const auto& c : cases) {
    widget(kSliderVol)->setFocus();
    QTest::mouseClick(widget(c.id), Qt::LeftButton);
    pump();
    QTest::keyClicks(widget(c.id), c.typed);
    EXPECT_EQ(tk->text(c.id), c.typed);
    QTest::keyClick(widget(c.id), c.key);
    pump();
    EXPECT_EQ(controlValue(app->synth.controls, c.id), c.value) << c.typed;
    EXPECT_EQ(tk->text(c.id), c.text) << c.typed;
  }
  EXPECT_EQ(app->quitRequested, 0);  // Escape took back the typing, and only that
  EXPECT_EQ(app->synth.instrument.value(fineIndex(kRowY2)), 25);
}

TEST_F(Window, DurationRangeSwitchesBothWays) {
  key(kSpinDurationRange, Qt::Key_Down);
  EXPECT_EQ(tk->text(kSpinDurationRange), "x1");
  EXPECT_EQ(tk->minimum(kSliderDuration), 100);
  EXPECT_EQ(tk->maximum(kSliderDuration), 1000);
  EXPECT_EQ(tk->value(kSliderDuration), 400);
  EXPECT_EQ(app->synth.engine.params.get(Param::WobbleDuration), 400.0f);
  key(kSpinDurationRange, Qt::Key_Up);
  EXPECT_EQ(tk->text(kSpinDurationRange), "x10");
  EXPECT_EQ(tk->minimum(kSliderDuration), 1000);
  EXPECT_EQ(tk->maximum(kSliderDuration), 10000);
  EXPECT_EQ(tk->value(kSliderDuration), 2000);
  EXPECT_EQ(app->synth.engine.params.get(Param::WobbleDuration), 2000.0f);
}

TEST_F(Window, DisplayRowsReadBackFromThePixels) {
  // The start curve: below the middle line, then above it (Y1 at 0.05, as its slider).
  const auto start = waveformRows(0.5f, 0.05f, 0.75f, 0.95f);
  EXPECT_GT(start[100], 115);
  EXPECT_LT(start[300], 85);
  for (int column : {0, 100, 200, 300}) {
    const int row = start[static_cast<size_t>(column)];
    EXPECT_TRUE(white(kWaveformDisplay, column, row)) << column;
    EXPECT_FALSE(white(kWaveformDisplay, column, row + 40)) << column;
    EXPECT_FALSE(white(kWaveformDisplay, column, row - 40)) << column;
  }
  // A point slider's event redraws it: flat control points draw the middle line.
  key(kSliderY1, Qt::Key_End);   // 49
  key(kSliderY2, Qt::Key_Home);  // 50
  const auto rows = waveformRows(0.5f, 0.49f, 0.75f, 0.5f);
  for (int column : {0, 100, 200, 300}) {
    EXPECT_TRUE(white(kWaveformDisplay, column, rows[static_cast<size_t>(column)])) << column;
    EXPECT_NEAR(rows[static_cast<size_t>(column)], 100, 1);
  }
}

TEST_F(Window, CurveEditorsDiscsAndLinesInTheirColours) {
  for (int row = 0; row < kWobbleRows; ++row) {
    const int id = curveEditorId(app->synth, row);
    EXPECT_TRUE(white(id, 0, 35));  // point 0's disc
    EXPECT_TRUE(white(id, 3, 35));  // its radius of 3
    EXPECT_TRUE(white(id, 0, 38));
    EXPECT_FALSE(white(id, 3, 38));                    // outside the disc
    EXPECT_TRUE(white(id, 33, 35));                    // the line between points 1 and 2
    EXPECT_TRUE(white(id, 159, 35));                   // the last point
    EXPECT_EQ(tk->canvasPixel(id, 80, 10), 0x000000);  // background
    EXPECT_EQ(tk->canvasPixel(id, 159, 69), 0x000000);
  }
}

TEST_F(Window, EscapeEndsTheLoop) {
  QTest::keyClick(static_cast<QWidget*>(tk->nativeWindow(app->window)), Qt::Key_Escape);
  runEventLoop(*app);
  EXPECT_EQ(app->quitRequested, 1);
  shutDown(*app);
  EXPECT_EQ(devices->calls.back(), "stopAudio");
}

TEST_F(Window, CloseBoxEndsTheLoop) {
  static_cast<QWidget*>(tk->nativeWindow(app->window))->close();
  runEventLoop(*app);
  EXPECT_EQ(app->quitRequested, 1);
}

TEST_F(Window, DropDownsSwitchDevices) {
  auto* audio = static_cast<QComboBox*>(widget(kAudioOutputList));
  QTest::keyClick(audio, Qt::Key_Down);
  pump();
  auto* midi = static_cast<QComboBox*>(widget(kMidiInputList));
  QTest::keyClick(midi, Qt::Key_Down);
  pump();
  EXPECT_EQ(devices->calls[3], "switchAudio 1");
  EXPECT_EQ(devices->calls[4], "switchMidi 1");
}

TEST_F(Window, PictureOfTheMainWindow) {
  const std::string path = std::string(ONDELITH_BUILD_DIR) + "/main-window.png";
  ASSERT_TRUE(tk->saveWindowPicture(app->window, path));
  QImage picture(QString::fromStdString(path));
  EXPECT_GE(picture.width(), kClientWidth);
  EXPECT_GE(picture.height(), kClientHeight);
}

TEST(WindowStartUp, AudioFailureSaysWhatWasTriedAndWhatToDoThenEndsWithStatusOne) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "ondelith";
  char* argv[] = {name, nullptr};
  Toolkit tk(argc, argv);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"default", "system"}, "Tried, in this order: default, system."},
      {{""}, "No audio output was found."},  // the stand-in of an empty list
  };
  for (const auto& [outputs, tried] : cases) {
    App app(tk);
    test::TempDir settings;
    app.settingsPath = (settings.path / "Ondelith.conf").string();
    setenv("XDG_DATA_HOME", settings.path.c_str(), 1);
    FakeDevices devices(app);
    devices.audioError = -9996;
    devices.audioNames = outputs;
    app.devices = &devices;
    std::vector<std::string> boxes;
    tk.setDialogResponder(
        [&](const std::string& kind, const std::string& title, const std::string& text) {
          boxes.push_back(kind + ": " + title + ": " + text);
          return std::string();
        });
    EXPECT_EQ(runApp(app), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("message: PortAudio: ", 0), 0u) << boxes[0];
    for (const std::string& says :
         {std::string("(Invalid device)"), tried, std::string("Start a JACK or PipeWire server"),
          std::string("sound card"), std::string("ondelith --list-devices")})
      EXPECT_NE(boxes[0].find(says), std::string::npos) << says;
    EXPECT_EQ(app.window, 0);
  }
}

}  // namespace
}  // namespace ondelith

namespace ondelith {
namespace {

// Dragging curve points with real pointer events on the real canvases.
class CurveDrag : public Window {
 protected:
  int editor(int row = 0) { return curveEditorId(app->synth, row); }
  CurveEditor& record(int row = 0) { return *findCurveEditor(app->synth.editors, editor(row)); }
  QWidget* canvas(int row = 0) { return widget(editor(row)); }
  void press(int x, int y, int row = 0) {
    QTest::mousePress(canvas(row), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    pump();
  }
  void move(int x, int y, int row = 0) {
    QTest::mouseMove(canvas(row), QPoint(x, y));
    pump();
  }
  void release(int x, int y, int row = 0) {
    QTest::mouseRelease(canvas(row), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    pump();
  }
  void drag(int index, int x, int y) {
    const CurvePoint p = curvePoint(record(), index);
    press(p.x, p.y);
    ASSERT_EQ(record().dragIndex, index);
    move(x, y);
    release(x, y);
  }
  Qt::CursorShape shape(int row = 0) { return canvas(row)->cursor().shape(); }
};

TEST_F(CurveDrag, GrabSquaresEndAtTheirBorders) {
  const CurveEditor& e = record();
  EXPECT_EQ(findPointAt(e, 31, 35), 1);
  EXPECT_EQ(findPointAt(e, 32, 35), -1);
  EXPECT_EQ(findPointAt(e, 34, 35), -1);
  EXPECT_EQ(findPointAt(e, 35, 35), 2);
  EXPECT_EQ(findPointAt(e, 22, 25), -1);
  press(31, 35);
  EXPECT_EQ(record().dragIndex, 1);
  release(31, 35);
  press(33, 35);
  EXPECT_EQ(record().dragIndex, -1);
  release(33, 35);
}

TEST_F(CurveDrag, EndPointsMoveOnlyVertically) {
  press(2, 30);
  EXPECT_EQ(record().dragIndex, 0);
  move(80, 10);
  EXPECT_EQ(curvePoint(record(), 0), (CurvePoint{0, 10}));
  release(80, 10);
  drag(7, 40, 200);  // clamped to the bottom row
  EXPECT_EQ(curvePoint(record(), 7), (CurvePoint{160, 69}));
  // One pixel beyond the last column, yet it can still be grabbed.
  press(159, 69);
  EXPECT_EQ(record().dragIndex, 7);
  release(159, 69);
}

TEST_F(CurveDrag, NeighbourRules) {
  drag(3, 10, 36);  // pushed right of point 2's disc
  EXPECT_EQ(curvePoint(record(), 3), (CurvePoint{47, 36}));
  moveCurvePoint(record(), 3, {66, 35});
  drag(3, 44, 10);  // a vertical step above point 2
  EXPECT_EQ(curvePoint(record(), 3), (CurvePoint{44, 10}));
  drag(6, 159, 30);  // the right edge stops it at w - r, not past point 7
  EXPECT_LE(curvePoint(record(), 6).x, 157);
  drag(5, 158, 60);  // and never beyond its right neighbour
  EXPECT_LE(curvePoint(record(), 5).x, curvePoint(record(), 6).x);
}

TEST_F(CurveDrag, ColumnRuleKeepsThePointBetweenItsNeighbours) {
  CurveEditor& e = record();
  moveCurvePoint(e, 2, {60, 20});
  moveCurvePoint(e, 3, {60, 35});
  moveCurvePoint(e, 4, {60, 50});
  press(60, 35);
  ASSERT_EQ(record().dragIndex, 3);
  move(60, 5);
  EXPECT_EQ(curvePoint(e, 3), (CurvePoint{60, 23}));
  move(60, 69);
  EXPECT_EQ(curvePoint(e, 3), (CurvePoint{60, 47}));
  release(60, 69);
}

TEST_F(CurveDrag, ReleaseOutsideEndsTheDragAndASecondPressChangesNothing) {
  press(22, 35);
  move(-50, -50);
  EXPECT_EQ(curvePoint(record(), 1), (CurvePoint{3, 0}));  // clamped, then the edge margin
  press(89, 35);                                           // another press while holding
  EXPECT_EQ(record().dragIndex, 1);
  EXPECT_EQ(handleCurveEditorEvent(app->synth.editors, editor(), PointerAction::Release, 500, 500),
            1);
  EXPECT_EQ(handleCurveEditorEvent(app->synth.editors, editor(), PointerAction::Release, 5, 5), 0);
  // Through the window: the release far outside ends it too.
  press(89, 35);
  move(300, -40);
  release(300, -40);
  EXPECT_EQ(record().dragIndex, -1);
}

TEST_F(CurveDrag, LockXChangesOnlyY) {
  setCurveEditorProperty(app->synth.editors, editor(), LockX, 1);
  drag(4, 10, 12);
  EXPECT_EQ(curvePoint(record(), 4), (CurvePoint{89, 12}));
  drag(7, 10, 60);
  EXPECT_EQ(curvePoint(record(), 7), (CurvePoint{159, 60}));
}

TEST_F(CurveDrag, PointerShapes) {
  move(22, 35);
  EXPECT_EQ(shape(), Qt::PointingHandCursor);
  move(33, 60);
  EXPECT_EQ(shape(), Qt::ArrowCursor);
  move(44, 40);
  EXPECT_EQ(shape(), Qt::PointingHandCursor);
  press(44, 40);
  move(80, 60);  // during a drag the shape stays
  EXPECT_EQ(shape(), Qt::PointingHandCursor);
  release(80, 60);
  record().disabled = 1;
  move(22, 35);
  EXPECT_EQ(shape(), Qt::ForbiddenCursor);
  press(22, 35);
  EXPECT_EQ(record().dragIndex, -1);
}

TEST_F(CurveDrag, EachMoveRepaintsAndOtherEditorsStayIdle) {
  press(22, 35);
  move(30, 12);
  EXPECT_TRUE(white(editor(), 30, 12));   // the disc at its new place
  EXPECT_FALSE(white(editor(), 22, 45));  // none left at the old one below the line
  EXPECT_EQ(record(1).dragIndex, -1);
  release(30, 12);
  EXPECT_EQ(curvePoint(record(1), 1), (CurvePoint{22, 35}));
}

TEST_F(CurveDrag, DragDuringAHeldNoteChangesTheNextBlock) {
  // A wobble on X1 whose depth follows its curve; the note is held.
  applyControlEvent(app->synth, spinModId(kRowX1), 100);
  applyControlEvent(app->synth, spinCoarseId(kRowX1), 1);
  midiInputCallback(app->synth.midi, kMidiData, 0x643C90);
  auto twin = std::make_unique<Synth>();
  initSynth(*twin);
  applyControlEvent(*twin, spinModId(kRowX1), 100);
  applyControlEvent(*twin, spinCoarseId(kRowX1), 1);
  midiInputCallback(twin->midi, kMidiData, 0x643C90);
  std::vector<float> a(512), b(512);
  for (int i = 0; i < 20; ++i) {
    app->synth.engine.render(a.data(), 512);
    twin->engine.render(b.data(), 512);
    ASSERT_EQ(a, b);
  }
  press(22, 35);
  move(22, 0);  // the first segment rises to full depth
  app->synth.engine.render(a.data(), 512);
  twin->engine.render(b.data(), 512);
  EXPECT_NE(a, b);
  release(22, 0);
}

}  // namespace
}  // namespace ondelith

namespace ondelith {
namespace {

TEST_F(CurveDrag, PointsAPatchPutOffTheCanvasCanStillBeGrabbed) {
  setCurveEditorProperty(app->synth.editors, editor(), RangeX, 88199);
  setCurveEditorProperty(app->synth.editors, editor(), RangeY, 100);
  std::vector<CurvePoint> a;
  copyCurveToArray(app->synth.editors, editor(), a, 1);
  a[3].y = -100;     // 140 pixels down: its square never meets the canvas
  a[5].y = 5000000;  // far above
  copyCurveFromArray(app->synth.editors, editor(), a, 1);
  ASSERT_GT(curvePoint(record(), 3).y, 69 + 10);
  press(66, 69);
  EXPECT_EQ(record().dragIndex, 3);
  move(66, 30);
  release(66, 30);
  EXPECT_EQ(curvePoint(record(), 3), (CurvePoint{66, 30}));
  press(111, 0);
  EXPECT_EQ(record().dragIndex, 5);
  release(111, 0);
  // Points whose squares reach the canvas keep their exact borders: the last
  // point, one pixel past the last column after a drag, is grabbed from 151.
  drag(7, 100, 35);
  EXPECT_EQ(findPointAt(record(), 150, 35), -1);
  EXPECT_EQ(findPointAt(record(), 151, 35), 7);
}

}  // namespace
}  // namespace ondelith

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include "app/file_menu.h"
#include "app/patch_commands.h"
#include "engine/modulation.h"
#include "ondelith_version.h"
#include "test_support.h"

namespace ondelith {
namespace {

// The File and "?" menus through their real menu items, with the dialogs
// answered here.
class FileMenu : public Window {
 protected:
  void SetUp() override {
    Window::SetUp();
    answerDialogs();
  }
  void menu(const std::string& item) {
    auto* main = static_cast<QMainWindow*>(tk->nativeWindow(app->window));
    for (QAction* m : main->menuBar()->actions())
      for (QAction* a : m->menu()->actions())
        if (a->text().toStdString() == item) a->trigger();
    pump();
  }
  test::TempDir dir;
};

TEST_F(FileMenu, SaveAddsTheExtensionAsNeeded) {
  const std::pair<std::string, std::string> names[] = {
      {"song", "song.vx"}, {"song.txt", "song.txt.vx"}, {"SONG.VX", "SONG.VX"}, {"a.Vx", "a.Vx"}};
  for (const auto& [given, written] : names) {
    answer = (dir.path / given).string();
    menu("Save");
    const std::string bytes = test::slurp(dir.path / written);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 81) << written;
    EXPECT_EQ(parsePatch(bytes), capturePatch(app->synth));
  }
  EXPECT_EQ(dialogs[0], "save: Please choose file to save: " + patchDirectory() + "Ondel1.vx");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"SONG.VX", "a.Vx", "song.txt.vx", "song.vx"}));
}

TEST_F(FileMenu, CancelledOrFailedSavesSaySo) {
  answer = "";
  menu("Save");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[1], "message: Informer: Your Ondelith patch is not saved!");
  EXPECT_TRUE(dir.entries().empty());
  // A folder that does not exist, and a target that is a folder.
  const std::string kept = dir.file("kept.vx", "old");
  std::filesystem::create_directory(dir.path / "folder.vx");
  for (const std::string& target :
       {(dir.path / "none" / "x.vx").string(), (dir.path / "folder.vx").string()}) {
    dialogs.clear();
    answer = target;
    menu("Save");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1], "message: Informer: Your Ondelith patch is not saved!");
  }
  EXPECT_EQ(test::slurp(kept), "old");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder.vx", "kept.vx"}));
}

TEST_F(FileMenu, OpenRestoresControlsRangeAndCurves) {
  // A patch with every part changed.
  key(spinFineId(1), Qt::Key_Up, 7);
  key(spinModId(3), Qt::Key_Down, 30);
  key(kSpinDurationRange, Qt::Key_Down);  // x1, 400 ms
  key(kSliderDuration, Qt::Key_Up, 3);
  key(kSliderX2, Qt::Key_Down, 20);
  key(kSliderVol, Qt::Key_Up, 5);
  moveCurvePoint(*findCurveEditor(app->synth.editors, curveEditorId(app->synth, 2)), 3, {70, 9});
  answer = (dir.path / "p.vx").string();
  menu("Save");
  const PatchValues saved = capturePatch(app->synth);
  std::vector<CurvePoint> before;
  copyCurveToArray(app->synth.editors, curveEditorId(app->synth, 2), before, 0);

  // Everything back to other values, then Open.
  key(spinFineId(1), Qt::Key_Down, 7);
  key(kSpinDurationRange, Qt::Key_Up);
  key(kSliderX2, Qt::Key_Up, 20);
  moveCurvePoint(*findCurveEditor(app->synth.editors, curveEditorId(app->synth, 2)), 3, {66, 35});
  dialogs.clear();
  menu("Open");
  EXPECT_EQ(dialogs[0], "open: Please choose file to open: " + patchDirectory());
  EXPECT_EQ(capturePatch(app->synth), saved);
  EXPECT_EQ(tk->text(spinFineId(1)), ".07");
  EXPECT_EQ(tk->text(spinModId(3)), "-30");
  EXPECT_EQ(tk->text(kSpinDurationRange), "x1");
  EXPECT_EQ(tk->maximum(kSliderDuration), 1000);
  EXPECT_EQ(tk->value(kSliderDuration), 403);
  EXPECT_EQ(tk->value(kSliderX2), 55);
  EXPECT_EQ(app->synth.engine.wobble.samples, wobbleSamplesFor(403, 44100.0));
  std::vector<CurvePoint> after;
  copyCurveToArray(app->synth.editors, curveEditorId(app->synth, 2), after, 0);
  EXPECT_EQ(after, before);
  // The display follows the opened points.
  const auto rows = waveformRows(0.5f, 0.05f, 0.55f, 0.95f);
  EXPECT_TRUE(white(kWaveformDisplay, 200, rows[200]));
}

TEST_F(FileMenu, OpenOfAZeroLengthFile) {
  answer = dir.file("empty.vx", "");
  menu("Open");
  for (int row = 0; row < kWobbleRows; ++row) {
    EXPECT_EQ(tk->text(spinModId(row)), "0");
    EXPECT_EQ(tk->text(spinFineId(row)), ".00");
  }
  EXPECT_EQ(tk->value(kSliderX1), 1);
  EXPECT_FLOAT_EQ(displayPoints(app->synth).x1, 0.01f);
  EXPECT_EQ(tk->value(kSliderY2), 50);
  EXPECT_EQ(tk->value(kSliderF), 20);
  EXPECT_EQ(tk->value(kSliderDuration), 2000);  // range 0: the Duration stays
  EXPECT_EQ(tk->text(kSpinDurationRange), "x10");
  // A cancelled Open and a missing file change nothing and say nothing.
  dialogs.clear();
  answer = "";
  menu("Open");
  answer = (dir.path / "missing.vx").string();
  menu("Open");
  EXPECT_EQ(dialogs.size(), 2u);
}

// A text that is no whole patch reads as the format reads it, but the
// player is told how little it held, the title marks it, and Undo goes back.
TEST_F(FileMenu, OpenOfATextWithFewerNumbersThanAPatchIsToldAndUndone) {
  std::string eighty;
  for (int i = 0; i < 80; ++i) eighty += "1\r\n";
  const struct {
    const char* name;
    std::string text;
    int numbers;
  } cases[] = {
      {"list.txt", "apples\npears\n12 plums\n", 1},
      {"empty.vx", "", 0},
      {"short.vx", eighty, 80},
      {"worded.vx", eighty + "loud\r\n", 80},
      {"whole.vx", eighty + "7\r\n", 81},
  };
  for (const auto& c : cases) {
    const Sound before = app->synth.instrument.sound();
    answer = dir.file(c.name, c.text);
    menu("Open");
    const std::string said = tk->statusText(app->window, 3);
    const std::string title = tk->windowTitle(app->window);
    if (c.numbers == kPatchLines) {
      EXPECT_EQ(said, "");
      EXPECT_FALSE(title.ends_with(" *")) << title;
      continue;
    }
    EXPECT_EQ(said, std::to_string(c.numbers) + " of 81 lines were numbers: Undo restores");
    EXPECT_TRUE(title.ends_with(" *")) << title;
    expectStatusFits();
    dispatch(*app, {UiEvent::Kind::Menu, kCmdUndo, app->window});
    EXPECT_TRUE(app->synth.instrument.sound() == before) << c.name;
    dispatch(*app, {UiEvent::Kind::Menu, kCmdRedo, app->window});
  }
}

TEST_F(FileMenu, OpenDuringAHeldNoteKeepsTheNote) {
  PatchValues v = capturePatch(app->synth);
  v[72] = 900;  // Vol
  v[79] = 300;  // F
  v[80] = 90;   // Res
  answer = dir.file("loud.vx", formatPatch(v));
  midiInputCallback(app->synth.midi, kMidiData, 0x644590);
  std::vector<float> out(4096);
  app->synth.engine.render(out.data(), 4096);
  menu("Open");
  EXPECT_EQ(app->synth.engine.voice.gate.load(), 1);
  EXPECT_EQ(app->synth.engine.life.attackSerial, app->synth.engine.voice.noteSerial.load());
  EXPECT_EQ(app->synth.engine.params.get(Param::Volume), 900.0f);
  EXPECT_EQ(app->synth.engine.params.get(Param::Cutoff), 300.0);
  EXPECT_EQ(app->synth.engine.params.get(Param::Resonance), 90);
  const int32_t counter = app->synth.engine.sampleCounter;
  app->synth.engine.render(out.data(), 64);
  EXPECT_EQ(app->synth.engine.sampleCounter, counter + 64);  // no new attack
}

TEST_F(FileMenu, AboutBox) {
  menu("About");
  EXPECT_EQ(dialogs, std::vector<std::string>{"message: About: Ondelith v" + std::string(kVersion) +
                                              "\rBezier Sound Synthesizer"});
}

TEST(HelpText, ParagraphsAndLines) {
  const std::string text = helpText();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i)
    if (i == text.size() || text[i] == '\r') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  EXPECT_EQ(lines.front(), "");
  int textLines = 0, paragraphs = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty()) ++textLines;
    if (!lines[i].empty() && (i + 1 == lines.size() || lines[i + 1].empty())) ++paragraphs;
  }
  // A sound's settings, when there are any, have a paragraph of their own.
  int soundSettings = 0;
  for (int i = 0; i < kParameterCount; ++i) soundSettings += isSoundSetting(i);
  EXPECT_EQ(textLines, 87 + (soundSettings ? soundSettings + 1 : 0));
  EXPECT_EQ(paragraphs, 21 + (soundSettings ? 1 : 0));
  // Each player setting, from its row: its name and its Help sentence.
  for (int i : {kChannelIndex, kBendRangeIndex, kVelocityIndex, kA4Index}) {
    EXPECT_NE(text.find(parameter(i).name), std::string::npos) << i;
    EXPECT_NE(text.find(parameter(i).help), std::string::npos) << i;
  }
  // After the twelve: the computer keyboard, its octave keys, Settings, the own port,
  // the sounds and undo.
  for (const char* says :
       {"computer keyboard", "octave", "File>Settings", "\"MIDI In\"", "Sounds menu", "Ctrl+Z"})
    EXPECT_GT(text.find(says), text.find("File>Open")) << says;
  EXPECT_EQ(lines[1].find("one cycle of the basic waveform") != std::string::npos, true);
  EXPECT_EQ(lines[2], "");
  EXPECT_FALSE(lines[3].empty());  // paragraph 2's two lines stand together
  EXPECT_FALSE(lines[4].empty());
  EXPECT_EQ(lines[5], "");
  EXPECT_NE(text.find("Ondelith"), std::string::npos);
  EXPECT_NE(text.find(".vx"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 1), "\r");
}

TEST_F(FileMenu, HelpWindowBlocksAndScrollsToTheTop) {
  auto* main = static_cast<QWidget*>(tk->nativeWindow(app->window));
  std::string shown;
  int firstLine = -1;
  bool modal = false;
  // While Help runs its own loop, these run inside it.
  tk->postToUi([&] {
    shown = tk->text(kHelpTextBox);
    modal = QApplication::activeModalWidget() != nullptr;
    if (modal)
      QApplication::activeModalWidget()->grab().save(
          QString::fromStdString(std::string(ONDELITH_BUILD_DIR) + "/help-window.png"));
    tk->scrollTextBoxBy(kHelpTextBox, 12);
    main->close();  // ignored while Help is open
    QTest::keyClick(main, Qt::Key_Escape);
    QApplication::activeModalWidget()->close();
  });
  menu("Help");
  EXPECT_EQ(app->quitRequested, 0);
  EXPECT_FALSE(tk->exists(kHelpTextBox));
  std::string expected = helpText();
  std::replace(expected.begin(), expected.end(), '\r', '\n');
  EXPECT_EQ(shown, expected);
  EXPECT_TRUE(modal);
  // Open again: the same text, at the top.
  tk->postToUi([&] {
    firstLine = tk->firstVisibleLine(kHelpTextBox);
    QApplication::activeModalWidget()->close();
  });
  menu("Help");
  EXPECT_EQ(firstLine, 0);
  // The main window's close works again afterwards.
  main->close();
  pump();
  EXPECT_EQ(app->quitRequested, 1);
}

// Without a window manager there is no close box: the keyboard and a button
// close it, and its lines wrap so nothing needs a sideways scroll.
TEST_F(FileMenu, HelpClosesByEscapeOrItsButtonAndWraps) {
  const std::function<void(QWidget*)> ways[] = {
      [](QWidget* help) {
        help->activateWindow();  // as the player's window is: the one in front
        EXPECT_TRUE(QTest::qWaitForWindowActive(help));
        QTest::keyClick(help, Qt::Key_Escape);
      },
      [this](QWidget*) { QTest::mouseClick(widget(kHelpCloseButton), Qt::LeftButton); },
  };
  for (const auto& close : ways) {
    int sideways = -1;
    std::string button;
    bool stuck = false;
    tk->postToUi([&] {
      QWidget* help = QApplication::activeModalWidget();
      ASSERT_NE(help, nullptr);
      sideways =
          static_cast<QPlainTextEdit*>(widget(kHelpTextBox))->horizontalScrollBar()->maximum();
      button = tk->text(kHelpCloseButton);
      close(help);
      // Not closed yet: a fallback so that a failure cannot hang the test.
      QTimer::singleShot(2000, help, [&stuck] {
        if (QWidget* still = QApplication::activeModalWidget()) {
          stuck = true;
          still->close();
        }
      });
    });
    menu("Help");
    EXPECT_FALSE(stuck);
    EXPECT_FALSE(tk->exists(kHelpTextBox));
    EXPECT_EQ(sideways, 0);
    EXPECT_EQ(button, "Close");
    EXPECT_EQ(app->quitRequested, 0);
  }
}

}  // namespace
}  // namespace ondelith

#include <QWheelEvent>
#include <QWindow>

namespace ondelith {
namespace {

// Keys and wheel notches as the window system delivers them. With a window
// manager the main window keeps the keyboard focus while a popup is open, so
// keys go to it; a wheel notch goes to the window under the pointer,
// spontaneous, so that focus policies and passing on to parents apply.
class DropDownInput : public Window {
 protected:
  QMainWindow* main() { return static_cast<QMainWindow*>(tk->nativeWindow(app->window)); }
  // A hidden popup can keep the offscreen platform's focus; take it back.
  void activate() {
    main()->activateWindow();
    QCoreApplication::processEvents();
    ASSERT_TRUE(main()->isActiveWindow());
  }
  void escape(QWindow* to) {
    QTest::keyClick(to, Qt::Key_Escape);
    pump();
  }
  void wheelDown(int id) {
    QWidget* w = widget(id);
    const QPoint centre = w->rect().center();
    QWheelEvent notch(QPointF(w->mapTo(main(), centre)), QPointF(w->mapToGlobal(centre)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&notch);
    qApp->notify(main()->windowHandle(), &notch);
    pump();
  }
};

TEST_F(DropDownInput, EscapeClosesOnlyTheOpenListOrMenu) {
  const std::pair<const char*, std::function<void()>> openers[] = {
      {"MIDI list", [&] { QTest::mouseClick(widget(kMidiInputList), Qt::LeftButton); }},
      {"Audio list", [&] { QTest::mouseClick(widget(kAudioOutputList), Qt::LeftButton); }},
      {"File menu",
       [&] {
         QMenuBar* bar = main()->menuBar();
         QTest::mouseClick(bar, Qt::LeftButton, {},
                           bar->actionGeometry(bar->actions()[0]).center());
       }},
  };
  const std::vector<std::string> startCalls = devices->calls;
  for (const auto& [name, open] : openers) {
    // The key to the main window, and to whichever window has the focus.
    for (bool toMain : {true, false}) {
      activate();
      open();
      ASSERT_NE(QApplication::activePopupWidget(), nullptr) << name;
      escape(toMain ? main()->windowHandle() : QGuiApplication::focusWindow());
      EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << name << toMain;
      EXPECT_EQ(app->quitRequested, 0) << name << toMain;
    }
  }
  EXPECT_EQ(devices->calls, startCalls);  // nothing chosen either
  EXPECT_EQ(tk->value(kMidiInputList), 0);
  EXPECT_EQ(tk->value(kAudioOutputList), 0);
  // With nothing open, Escape on the main window still quits.
  activate();
  escape(main()->windowHandle());
  EXPECT_EQ(app->quitRequested, 1);
}

TEST_F(DropDownInput, TheWheelChangesADropDownOnlyWithTheFocus) {
  const std::pair<int, std::string> lists[] = {{kMidiInputList, "switchMidi 1"},
                                               {kAudioOutputList, "switchAudio 1"}};
  activate();
  const size_t calls = devices->calls.size();
  // Right after start-up, and with the focus on another control.
  for (QWidget* focus : {static_cast<QWidget*>(nullptr), widget(kSliderF)}) {
    if (focus) focus->setFocus();
    for (const auto& [id, switched] : lists) {
      wheelDown(id);
      EXPECT_EQ(tk->value(id), 0) << id;
      EXPECT_FALSE(widget(id)->hasFocus()) << id;
    }
  }
  EXPECT_EQ(devices->calls.size(), calls);
  for (const auto& [id, switched] : lists) {
    // Opened and closed again with a click and Escape, it has the focus.
    QTest::mouseClick(widget(id), Qt::LeftButton);
    escape(main()->windowHandle());
    activate();
    ASSERT_TRUE(widget(id)->hasFocus()) << id;
    wheelDown(id);
    EXPECT_EQ(tk->value(id), 1) << id;
    EXPECT_EQ(devices->calls.back(), switched);
  }
  EXPECT_EQ(devices->calls.size(), calls + 2);
  EXPECT_EQ(app->quitRequested, 0);
}

}  // namespace
}  // namespace ondelith
