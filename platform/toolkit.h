#pragma once
// The window toolkit as the rest of the system sees it: windows and controls
// named by integer ids, canvases that keep their picture, a queue of events
// read by a blocking wait, dialogs. No toolkit type appears here; one
// instance lives on the UI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editors/canvas.h"

namespace ondelith {

struct Rect {
  int x, y, w, h;
};

// One field of a form dialog: a choice from a list, or a whole number.
struct FormField {
  enum class Kind { Choice, Number };
  std::string label;
  Kind kind = Kind::Choice;
  std::vector<std::string> choices;  // Choice
  int minimum = 0, maximum = 0;      // Number
  std::string suffix;                // Number: shown after the value (" %")
  int value = 0;                     // the choice's index, or the number
};

// What a field of a form dialog may have beyond that: an arrow's step, a
// tip shown while the pointer rests on it, and a number's text both ways
// (decimal when there is none).
struct FieldRule {
  int step = 1;
  std::string tip;
  std::function<std::string(int)> text;
  std::function<bool(const std::string&, int&)> read;
};

// An item of a menu: a command, a submenu, or (no text) a separator line.
struct MenuItem {
  std::string text;
  int command = 0;
  std::string shortcut;  // "Ctrl+Z", "Ctrl+Shift+Z", "Ctrl+PgUp"; raises the command
  std::vector<MenuItem> submenu;
  bool enabled = true;
  bool checked = false;  // shown with a check mark: the choice in force
  std::string tip = {};  // shown while the pointer rests on the item
};

struct UiEvent {
  // Key: a playing key (setPlayingKeys) of a window went down or up: id is
  // its scan code, x 1 down or 0 up, y 1 when the toolkit saw the system
  // repeat it, time the window system's time of the event (milliseconds;
  // 0 when it gave none).
  // FocusLost: the window no longer takes the keyboard.
  enum class Kind { None, Menu, Control, Close, Key, FocusLost };
  Kind kind = Kind::None;
  int id = 0;                                   // menu command, control id, scan code
  int window = 0;                               // the window it came from
  PointerAction pointer = PointerAction::None;  // canvas pointer events
  int x = 0, y = 0;                             // in canvas pixels
  uint64_t time = 0;
};

// The exit status of a process whose toolkit cannot start (no display).
constexpr int kToolkitCannotStart = 2;

class Toolkit : public CanvasHost {
 public:
  // Starts the toolkit for this process (argc and argv must outlive it).
  // With no display to show windows on, the process ends with one line on
  // the standard error and kToolkitCannotStart.
  Toolkit(int& argc, char** argv);
  ~Toolkit() override;
  Toolkit(const Toolkit&) = delete;
  Toolkit& operator=(const Toolkit&) = delete;

  // A fixed-size top-level window with a close box only, centred on the
  // screen when shown. Its id, or 0 when it cannot be opened.
  int openWindow(const std::string& title, int clientWidth, int clientHeight);
  void showWindow(int window);
  // Closes a window for good, with every control in it.
  void destroyWindow(int window);
  // While shown, no other window of the program takes input.
  void setApplicationModal(int window);
  // The window's whole frame, for pictures of it.
  bool saveWindowPicture(int window, const std::string& pngPath);

  void setWindowTitle(int window, const std::string& title);
  std::string windowTitle(int window) const;

  bool addMenu(int window, const std::string& title,
               const std::vector<std::pair<std::string, int>>& items);
  // A menu of the menu bar, added at its end; when the window has a menu of
  // that title already, its items are made anew (a list that changes).
  bool setMenu(int window, const std::string& title, const std::vector<MenuItem>& items);
  // Called just before that menu opens, so setMenu can make it current.
  void setMenuOpening(int window, const std::string& title, std::function<void()> opening);
  void bindEscape(int window, int command);
  // Keys (by the scan code of where they sit) that play while `window` has
  // the keyboard and no list, menu or dialog is open: they raise Key events
  // instead of reaching the focused control. With Ctrl, Alt or Meta held
  // they keep their usual meaning.
  void setPlayingKeys(int window, const std::vector<int>& scanCodes);
  bool addStatusBar(int window, const std::vector<int>& fieldWidths);
  bool hasStatusBar(int window) const;
  void setStatusText(int window, int field, const std::string& text);
  std::string statusText(int window, int field) const;

  // Controls. A slider's top end is its maximum; sliders and spin boxes
  // raise an event for every change by the user and none when set here.
  bool addSlider(int window, int id, Rect r, int minimum, int maximum, int value);
  bool addSpinBox(int window, int id, Rect r, int minimum, int maximum, int value,
                  const std::string& text);
  // A spin box given a reader takes typed text: the whole text is selected
  // as it gets the focus, so typing replaces it; Enter reads it (a value
  // within the range raises the usual event, anything else is undone) and
  // Escape or leaving the field puts back the system's text.
  void setTextReader(int id, std::function<bool(const std::string&, int&)> read);
  bool addDropDown(int window, int id, Rect r);
  bool addLabel(int window, int id, Rect r, const std::string& text);
  bool addFrame(int window, int id, Rect r, const std::string& title);
  // A canvas; id 0 asks for a new id. Confined: while a button is held after
  // a press on it, the pointer cannot leave it. Returns the id, 0 on failure.
  int addCanvas(int window, int id, Rect r, bool confinePointer);
  // A read-only multi-line text box with a vertical scroll bar; lines wrap
  // at its width, and a carriage return starts a new line.
  bool addTextBox(int window, int id, Rect r, const std::string& text);
  // A push button, the window's default (Enter presses it); a press raises
  // a Control event.
  bool addButton(int window, int id, Rect r, const std::string& text);
  // The first line shown at the top of a text box (0 when scrolled to the top).
  int firstVisibleLine(int id) const;
  void scrollTextBoxBy(int id, int lines);

  bool exists(int id) const;
  Rect geometry(int id) const;
  void setRange(int id, int minimum, int maximum);
  int minimum(int id) const;
  int maximum(int id) const;
  void setValue(int id, int value);
  int value(int id) const;  // slider or spin box value, drop-down selection
  void setText(int id, const std::string& text);
  std::string text(int id) const;
  void addEntry(int id, const std::string& text);
  void clearEntries(int id);
  int entryCount(int id) const;
  std::string entryText(int id, int entry) const;
  // Called just before a drop-down's list opens, so its entries can be made
  // current; selecting inside it raises the usual event.
  void setListOpening(int id, std::function<void()> opening);
  // The text shown while the pointer rests on a control; while a slider is
  // being dragged it is shown at once and follows the value.
  void setToolTip(int id, const std::string& text);
  std::string toolTip(int id) const;
  void setPointerShape(int id, PointerShape shape) override;

  // The window new canvases (createCanvas) go into.
  void setCanvasWindow(int window) { canvasWindow_ = window; }
  // CanvasHost.
  int createCanvas(int x, int y, int width, int height) override;
  bool beginPaint(int id, int& width, int& height) override;
  void fillRect(int x, int y, int width, int height, uint32_t color) override;
  void fillCircle(int cx, int cy, int radius, uint32_t color) override;
  void line(int x0, int y0, int x1, int y1, uint32_t color) override;
  void endPaint() override;
  // A canvas pixel as 0x00BBGGRR, or -1 outside it.
  int64_t canvasPixel(int id, int x, int y) const;

  // Events: the next one, waiting as long as it takes; or at most `ms`.
  UiEvent waitEvent();
  bool waitEventFor(int ms, UiEvent& event);
  // Runs `task` on the UI thread; callable from any thread.
  void postToUi(std::function<void()> task);

  // A modal dialog of labelled fields with a note below them, OK and
  // Cancel; true (the fields' values updated) on OK.
  // `rules`: by field, for as many fields as it has.
  bool formDialog(int window, const std::string& title, std::vector<FormField>& fields,
                  const std::string& note, const std::vector<FieldRule>& rules = {});

  // A modal message box with one OK button; a carriage return starts a line.
  void messageBox(int window, const std::string& title, const std::string& text);
  // Modal file dialogs with one filter; the full path, or "" when cancelled.
  std::string openFileDialog(int window, const std::string& title, const std::string& directory,
                             const std::string& filter);
  std::string saveFileDialog(int window, const std::string& title, const std::string& directory,
                             const std::string& fileName, const std::string& filter);

  // The toolkit's own widget behind an id (a QWidget*), for tests that drive
  // controls with real input events; nullptr for an unknown id.
  void* nativeWidget(int id) const;
  void* nativeWindow(int window) const;

  // Tests answer dialogs here instead of a person: the responder gets the
  // dialog's kind ("message", "open", "save") and title and returns the path
  // (ignored for messages).
  using DialogResponder = std::function<std::string(
      const std::string& kind, const std::string& title, const std::string& text)>;
  void setDialogResponder(DialogResponder responder) { responder_ = std::move(responder); }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int canvasWindow_ = 0;
  DialogResponder responder_;
};

}  // namespace ondelith
