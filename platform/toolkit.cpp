#include "platform/toolkit.h"

#include <unistd.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <set>

namespace ondelith {

namespace {

QRgb toQt(uint32_t c) { return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

uint32_t fromQt(QRgb c) {
  return static_cast<uint32_t>(qRed(c)) | (static_cast<uint32_t>(qGreen(c)) << 8) |
         (static_cast<uint32_t>(qBlue(c)) << 16);
}

}  // namespace

// The main window, which reports its close box instead of closing.
class ToolkitWindow : public QMainWindow {
 public:
  std::function<void()> onClose;

 protected:
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (onClose) onClose();
  }
};

// While a list, menu or other popup is open, Escape belongs to it and closes
// only it. A drop-down's list closes while the key is still being checked
// against shortcuts, so without this the window's own Escape would fire too.
class PopupEscape : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::ShortcutOverride || !QApplication::activePopupWidget()) return false;
    if (static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape) return false;
    e->accept();  // no shortcut; the key press goes on to the popup, which closes
    return true;
  }
};

// A drop-down that the wheel changes only while it has the focus: each change
// reopens a device, so scrolling across a closed list must leave it alone,
// and the wheel does not give it the focus either.
class DropDown : public QComboBox {
 public:
  std::function<void()> opening;
  explicit DropDown(QWidget* parent) : QComboBox(parent) { setFocusPolicy(Qt::StrongFocus); }
  void showPopup() override {
    if (opening) opening();
    QComboBox::showPopup();
  }

 protected:
  void wheelEvent(QWheelEvent* e) override {
    if (hasFocus())
      QComboBox::wheelEvent(e);
    else
      e->ignore();
  }
};

// A spin box whose text the system writes: its arrows (and arrow keys)
// change the value by one within the range. With a reader, a typed text is
// read on Enter; the system's text comes back on Escape or when the field
// is left.
class SystemSpinBox : public QAbstractSpinBox {
 public:
  int minimum = 0, maximum = 0, value = 0;
  std::function<void()> onChange;
  std::function<bool(const std::string&, int&)> read;
  explicit SystemSpinBox(QWidget* parent) : QAbstractSpinBox(parent) {
    lineEdit()->setReadOnly(true);
    lineEdit()->setAlignment(Qt::AlignLeft);
  }
  // The start of the text stays in view in a narrow field.
  void setShownText(const QString& t) {
    systemText_ = t;
    lineEdit()->setText(t);
    lineEdit()->setCursorPosition(0);
  }
  QString shownText() const { return lineEdit()->text(); }
  void setReader(std::function<bool(const std::string&, int&)> r) {
    read = std::move(r);
    lineEdit()->setReadOnly(!read);
  }
  void stepBy(int steps) override {
    const int next = std::clamp(value + steps, minimum, std::max(minimum, maximum));
    if (next == value) return;
    value = next;
    if (onChange) onChange();
  }

 protected:
  StepEnabled stepEnabled() const override {
    StepEnabled e = StepNone;
    if (value < maximum) e |= StepUpEnabled;
    if (value > minimum) e |= StepDownEnabled;
    return e;
  }
  void focusInEvent(QFocusEvent* e) override {
    QAbstractSpinBox::focusInEvent(e);
    // After the click that gave the focus has placed the cursor.
    if (read) QTimer::singleShot(0, lineEdit(), &QLineEdit::selectAll);
  }
  void focusOutEvent(QFocusEvent* e) override {
    if (edited()) setShownText(systemText_);
    QAbstractSpinBox::focusOutEvent(e);
  }
  bool event(QEvent* e) override {
    if (e->type() == QEvent::ShortcutOverride) {
      const auto* key = static_cast<QKeyEvent*>(e);
      // Escape undoes the typing, and only that: the window's Escape waits.
      if (edited() && key->key() == Qt::Key_Escape) {
        e->accept();
        return true;
      }
      // Untouched, the field leaves Ctrl+Z and the like to the menus.
      if (!edited() && (key->modifiers() & Qt::ControlModifier)) {
        e->ignore();
        return true;
      }
    }
    return QAbstractSpinBox::event(e);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (read && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
      apply();
      return;
    }
    if (e->key() == Qt::Key_Escape && edited()) {
      setShownText(systemText_);
      lineEdit()->selectAll();
      return;
    }
    QAbstractSpinBox::keyPressEvent(e);
  }

 private:
  bool edited() const { return read && lineEdit()->text() != systemText_; }
  void apply() {
    int typed = value;
    const bool readable = read(lineEdit()->text().trimmed().toStdString(), typed) &&
                          typed >= minimum && typed <= maximum;
    // What was not a value, or changes nothing, shows the value as it is.
    if (!readable || typed == value) {
      setShownText(systemText_);
    } else {
      value = typed;
      if (onChange) onChange();
    }
    lineEdit()->selectAll();
  }
  QString systemText_;
};

// A canvas keeps its picture in an image and shows it on every repaint.
class Canvas : public QWidget {
 public:
  QImage image;
  bool confine = false;
  bool held = false;
  std::function<void(PointerAction, int, int)> onPointer;
  Canvas(QWidget* parent, int w, int h)
      : QWidget(parent), image(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32) {
    image.fill(Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, image);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    held = true;
    report(PointerAction::Press, e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    held = false;
    report(PointerAction::Release, e);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (held && confine) {
      const QPoint p = e->position().toPoint();
      const QPoint inside(std::clamp(p.x(), 0, width() - 1), std::clamp(p.y(), 0, height() - 1));
      if (inside != p) QCursor::setPos(mapToGlobal(inside));
    }
    report(PointerAction::Move, e);
  }

 private:
  void report(PointerAction a, QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (onPointer) onPointer(a, p.x(), p.y());
  }
};

// Playing keys of a window become Key events before any control sees them,
// and the window's losing the keyboard becomes a FocusLost event.
class PlayingKeys : public QObject {
 public:
  QWidget* window = nullptr;
  int windowId = 0;
  std::set<int> scanCodes;
  std::function<void(UiEvent)> push;

 protected:
  bool eventFilter(QObject* target, QEvent* e) override {
    if (!window) return false;
    if (e->type() == QEvent::WindowDeactivate && target == window) {
      push({UiEvent::Kind::FocusLost, 0, windowId});
      return false;
    }
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease &&
        e->type() != QEvent::ShortcutOverride)
      return false;
    auto* key = static_cast<QKeyEvent*>(e);
    if (!scanCodes.count(static_cast<int>(key->nativeScanCode()))) return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget()) return false;
    auto* widget = qobject_cast<QWidget*>(target);
    auto* handle = qobject_cast<QWindow*>(target);
    const bool ours =
        (widget && widget->window() == window) || (handle && handle == window->windowHandle());
    if (!ours) return false;
    if (e->type() == QEvent::ShortcutOverride) {
      e->accept();  // a note, not a shortcut
      return true;
    }
    push({UiEvent::Kind::Key, static_cast<int>(key->nativeScanCode()), windowId,
          PointerAction::None, e->type() == QEvent::KeyPress ? 1 : 0, key->isAutoRepeat() ? 1 : 0,
          key->timestamp()});
    return true;
  }
};

struct Toolkit::Impl {
  std::unique_ptr<QApplication> app;
  std::map<int, ToolkitWindow*> windows;
  std::map<int, std::vector<QLabel*>> statusFields;
  std::map<int, QWidget*> controls;
  std::map<int, int> controlWindow;
  std::deque<UiEvent> queue;
  int nextWindow = 1;
  int nextCanvas = 1000;
  Canvas* painting = nullptr;
  QTimer wake;
  PopupEscape popupEscape;
  PlayingKeys playingKeys;

  QWidget* client(int window) const {
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : it->second->centralWidget();
  }
  template <class T>
  T* control(int id) const {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : dynamic_cast<T*>(it->second);
  }
  void push(UiEvent e) { queue.push_back(e); }
  void fillMenu(QMenu* menu, int window, const std::vector<MenuItem>& items);
  bool place(int window, int id, QWidget* w, Rect r) {
    w->setGeometry(r.x, r.y, r.w, r.h);
    w->show();
    controls[id] = w;
    controlWindow[id] = window;
    return true;
  }

  void setPixel(int x, int y, QRgb c) {
    QImage& img = painting->image;
    if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
      reinterpret_cast<QRgb*>(img.scanLine(y))[x] = c;
  }
};

namespace {

// What the toolkit said while it started: passed on once it has started; if
// it cannot, its last word is a fatal message that would abort the process.
struct StartMessages {
  std::vector<std::pair<QtMsgType, QString>> said;
  std::string program = "ondelith";
  QtMessageHandler previous = nullptr;
};
StartMessages* starting = nullptr;

void startMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    starting->said.emplace_back(type, text);
    return;
  }
  // No display to show a window on: one line and the usage status, not an abort.
  std::string why;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!wayland || !*wayland)) {
    why = "no display to open its window on (DISPLAY and WAYLAND_DISPLAY are not set)";
  } else {
    why = "cannot open its window";
    for (const auto& [kind, said] : starting->said)
      if (said.contains("display", Qt::CaseInsensitive)) {
        why += ": " + said.trimmed().toStdString();
        break;
      }
  }
  const std::string line = starting->program + ": " + why + "\n";
  [[maybe_unused]] const ssize_t n = ::write(2, line.data(), line.size());
  _exit(kToolkitCannotStart);
}

}  // namespace

Toolkit::Toolkit(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
  StartMessages messages;
  if (argc > 0 && argv[0]) messages.program = QFileInfo(argv[0]).fileName().toStdString();
  starting = &messages;
  messages.previous = qInstallMessageHandler(startMessage);
  impl_->app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(messages.previous);
  starting = nullptr;
  for (const auto& [type, text] : messages.said) {
    if (messages.previous)
      messages.previous(type, QMessageLogContext(), text);
    else
      std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  impl_->app->installEventFilter(&impl_->popupEscape);
  impl_->app->installEventFilter(&impl_->playingKeys);
  impl_->playingKeys.push = [this](UiEvent e) { impl_->push(e); };
  impl_->wake.setSingleShot(true);
}

Toolkit::~Toolkit() {
  for (auto& [id, w] : impl_->windows) delete w;
  impl_->windows.clear();
}

int Toolkit::openWindow(const std::string& title, int clientWidth, int clientHeight) {
  auto* w = new ToolkitWindow();
  w->setWindowTitle(QString::fromStdString(title));
  w->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowCloseButtonHint);
  auto* central = new QWidget(w);
  central->setFixedSize(clientWidth, clientHeight);
  w->setCentralWidget(central);
  const int id = impl_->nextWindow++;
  impl_->windows[id] = w;
  w->onClose = [this, id] { impl_->push({UiEvent::Kind::Close, 0, id}); };
  return id;
}

void Toolkit::showWindow(int window) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return;
  ToolkitWindow* w = it->second;
  w->adjustSize();
  w->setFixedSize(w->sizeHint());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    if (w->width() > area.width() || w->height() > area.height()) {
      // Larger than the screen: as large as the screen, at its top left.
      w->setFixedSize(std::min(w->width(), area.width()), std::min(w->height(), area.height()));
      w->move(area.topLeft());
    } else {
      w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
    }
  }
  // A window with drop-downs starts with no control focused: the first one in
  // the tab order would otherwise hold the focus unasked, and the wheel would
  // switch its device.
  if (!w->focusWidget() && w->findChild<DropDown*>()) w->centralWidget()->setFocus();
  w->show();
  QCoreApplication::processEvents();
}

void Toolkit::destroyWindow(int window) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return;
  for (auto c = impl_->controlWindow.begin(); c != impl_->controlWindow.end();) {
    if (c->second == window) {
      impl_->controls.erase(c->first);
      c = impl_->controlWindow.erase(c);
    } else {
      ++c;
    }
  }
  impl_->statusFields.erase(window);
  if (impl_->playingKeys.window == it->second) impl_->playingKeys.window = nullptr;
  it->second->hide();
  it->second->deleteLater();
  impl_->windows.erase(it);
  // Events of the window that are still queued go with it.
  std::erase_if(impl_->queue, [window](const UiEvent& e) { return e.window == window; });
}

void Toolkit::setApplicationModal(int window) {
  auto it = impl_->windows.find(window);
  if (it != impl_->windows.end()) it->second->setWindowModality(Qt::ApplicationModal);
}

bool Toolkit::saveWindowPicture(int window, const std::string& pngPath) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return false;
  QCoreApplication::processEvents();
  return it->second->grab().save(QString::fromStdString(pngPath), "PNG");
}

void Toolkit::setWindowTitle(int window, const std::string& title) {
  auto it = impl_->windows.find(window);
  if (it != impl_->windows.end()) it->second->setWindowTitle(QString::fromStdString(title));
}

std::string Toolkit::windowTitle(int window) const {
  auto it = impl_->windows.find(window);
  return it == impl_->windows.end() ? std::string() : it->second->windowTitle().toStdString();
}

bool Toolkit::addMenu(int window, const std::string& title,
                      const std::vector<std::pair<std::string, int>>& items) {
  std::vector<MenuItem> made;
  for (const auto& [text, command] : items) made.push_back({text, command, "", {}, true});
  return setMenu(window, title, made);
}

namespace {

QMenu* findMenu(QMainWindow* w, const QString& title) {
  for (QAction* a : w->menuBar()->actions())
    if (a->menu() && a->text() == title) return a->menu();
  return nullptr;
}

}  // namespace

void Toolkit::Impl::fillMenu(QMenu* menu, int window, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    // Shown as written: an ampersand in a sound's name is no mnemonic.
    const QString text = QString::fromStdString(item.text).replace("&", "&&");
    if (!item.submenu.empty()) {
      QMenu* sub = menu->addMenu(text);
      sub->setEnabled(item.enabled);
      fillMenu(sub, window, item.submenu);
    } else if (item.text.empty()) {
      menu->addSeparator();
    } else {
      QAction* a = menu->addAction(text);
      a->setEnabled(item.enabled);
      a->setCheckable(item.checked);
      a->setChecked(item.checked);
      if (!item.tip.empty()) {
        a->setToolTip(QString::fromStdString(item.tip));
        menu->setToolTipsVisible(true);
      }
      if (!item.shortcut.empty())
        a->setShortcut(
            QKeySequence(QString::fromStdString(item.shortcut), QKeySequence::PortableText));
      QObject::connect(a, &QAction::triggered, [this, window, command = item.command] {
        push({UiEvent::Kind::Menu, command, window});
      });
    }
  }
}

bool Toolkit::setMenu(int window, const std::string& title, const std::vector<MenuItem>& items) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return false;
  const QString name = QString::fromStdString(title);
  QMenu* menu = findMenu(it->second, name);
  if (menu) {
    // Submenus are the menu's children: they go with the items they hung from.
    for (QMenu* sub : menu->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly))
      sub->deleteLater();
    menu->clear();
  } else {
    menu = it->second->menuBar()->addMenu(name);
  }
  impl_->fillMenu(menu, window, items);
  return true;
}

void Toolkit::setMenuOpening(int window, const std::string& title, std::function<void()> opening) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return;
  QMenu* menu = findMenu(it->second, QString::fromStdString(title));
  if (menu) QObject::connect(menu, &QMenu::aboutToShow, std::move(opening));
}

void Toolkit::bindEscape(int window, int command) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return;
  auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), it->second);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, [this, window, command] {
    impl_->push({UiEvent::Kind::Menu, command, window});
  });
}

void Toolkit::setPlayingKeys(int window, const std::vector<int>& scanCodes) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return;
  impl_->playingKeys.window = it->second;
  impl_->playingKeys.windowId = window;
  impl_->playingKeys.scanCodes = std::set<int>(scanCodes.begin(), scanCodes.end());
}

bool Toolkit::addStatusBar(int window, const std::vector<int>& fieldWidths) {
  auto it = impl_->windows.find(window);
  if (it == impl_->windows.end()) return false;
  QStatusBar* bar = it->second->statusBar();
  bar->setSizeGripEnabled(false);
  auto& fields = impl_->statusFields[window];
  for (int width : fieldWidths) {
    auto* label = new QLabel(bar);
    label->setFixedWidth(width);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(label);
    fields.push_back(label);
  }
  return true;
}

bool Toolkit::hasStatusBar(int window) const { return impl_->statusFields.count(window) > 0; }

void Toolkit::setStatusText(int window, int field, const std::string& text) {
  auto it = impl_->statusFields.find(window);
  if (it == impl_->statusFields.end() || field < 0 || field >= static_cast<int>(it->second.size()))
    return;
  it->second[static_cast<size_t>(field)]->setText(QString::fromStdString(text));
}

std::string Toolkit::statusText(int window, int field) const {
  auto it = impl_->statusFields.find(window);
  if (it == impl_->statusFields.end() || field < 0 || field >= static_cast<int>(it->second.size()))
    return {};
  return it->second[static_cast<size_t>(field)]->text().toStdString();
}

bool Toolkit::addSlider(int window, int id, Rect r, int minimum, int maximum, int value) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* s = new QSlider(Qt::Vertical, parent);  // vertical: the top end is the maximum
  {
    QSignalBlocker quiet(s);
    s->setRange(minimum, maximum);
    s->setValue(value);
  }
  QObject::connect(s, &QSlider::valueChanged, [this, id, window](int) {
    impl_->push({UiEvent::Kind::Control, id, window});
  });
  return impl_->place(window, id, s, r);
}

bool Toolkit::addSpinBox(int window, int id, Rect r, int minimum, int maximum, int value,
                         const std::string& text) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* s = new SystemSpinBox(parent);
  s->minimum = minimum;
  s->maximum = maximum;
  s->value = std::clamp(value, minimum, std::max(minimum, maximum));
  s->setShownText(QString::fromStdString(text));
  s->onChange = [this, id, window] { impl_->push({UiEvent::Kind::Control, id, window}); };
  if (r.w < 48) {
    // A field this narrow keeps its few characters in view without a frame.
    s->setFrame(false);
    QFont small = s->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    s->setFont(small);
  }
  return impl_->place(window, id, s, r);
}

void Toolkit::setTextReader(int id, std::function<bool(const std::string&, int&)> read) {
  auto* b = impl_->control<SystemSpinBox>(id);
  if (!b) return;
  b->setReader(std::move(read));
}

bool Toolkit::addDropDown(int window, int id, Rect r) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* c = new DropDown(parent);
  c->setEditable(false);
  QObject::connect(c, &QComboBox::activated, [this, id, window](int) {
    impl_->push({UiEvent::Kind::Control, id, window});
  });
  return impl_->place(window, id, c, r);
}

namespace {

// A caption is never cut: the window's font is as large as the desktop
// makes it, the label's width is fixed, so the font shrinks until the text
// fits (measured with the font the label draws with).
void fitCaption(QLabel* label) {
  QFont font = label->parentWidget() ? label->parentWidget()->font() : label->font();
  const int room = label->width() - label->contentsMargins().left() -
                   label->contentsMargins().right() - 2 * label->margin();
  for (int step = 0; step < 40; ++step) {
    if (QFontMetrics(font).horizontalAdvance(label->text()) <= room) break;
    const qreal size = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 0.75;
    if (size <= 4) break;
    font.setPointSizeF(size * 0.93);
  }
  label->setFont(font);
}

}  // namespace

bool Toolkit::addLabel(int window, int id, Rect r, const std::string& text) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* label = new QLabel(QString::fromStdString(text), parent);
  impl_->place(window, id, label, r);
  fitCaption(label);
  return true;
}

bool Toolkit::addFrame(int window, int id, Rect r, const std::string& title) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* frame = new QGroupBox(QString::fromStdString(title), parent);
  const bool placed = impl_->place(window, id, frame, r);
  frame->lower();  // the controls inside it stay on top
  return placed;
}

int Toolkit::addCanvas(int window, int id, Rect r, bool confinePointer) {
  QWidget* parent = impl_->client(window);
  if (!parent) return 0;
  if (id == 0) {
    while (exists(impl_->nextCanvas)) ++impl_->nextCanvas;
    id = impl_->nextCanvas++;
  }
  if (exists(id)) return 0;
  auto* c = new Canvas(parent, r.w, r.h);
  c->confine = confinePointer;
  c->onPointer = [this, id, window](PointerAction a, int x, int y) {
    impl_->push({UiEvent::Kind::Control, id, window, a, x, y});
  };
  impl_->place(window, id, c, r);
  return id;
}

bool Toolkit::addButton(int window, int id, Rect r, const std::string& text) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* b = new QPushButton(QString::fromStdString(text), parent);
  b->setDefault(true);  // Enter presses it
  QObject::connect(b, &QPushButton::clicked, [this, id, window] {
    impl_->push({UiEvent::Kind::Control, id, window});
  });
  return impl_->place(window, id, b, r);
}

bool Toolkit::addTextBox(int window, int id, Rect r, const std::string& text) {
  QWidget* parent = impl_->client(window);
  if (!parent || exists(id)) return false;
  auto* box = new QPlainTextEdit(parent);
  box->setReadOnly(true);
  box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  std::string shown = text;
  std::replace(shown.begin(), shown.end(), '\r', '\n');
  box->setPlainText(QString::fromStdString(shown));
  box->verticalScrollBar()->setValue(0);
  return impl_->place(window, id, box, r);
}

int Toolkit::firstVisibleLine(int id) const {
  auto* box = impl_->control<QPlainTextEdit>(id);
  return box ? box->verticalScrollBar()->value() : 0;
}

void Toolkit::scrollTextBoxBy(int id, int lines) {
  if (auto* box = impl_->control<QPlainTextEdit>(id))
    box->verticalScrollBar()->setValue(box->verticalScrollBar()->value() + lines);
}

bool Toolkit::exists(int id) const { return impl_->controls.count(id) > 0; }

Rect Toolkit::geometry(int id) const {
  auto it = impl_->controls.find(id);
  if (it == impl_->controls.end()) return {0, 0, 0, 0};
  const QRect g = it->second->geometry();
  return {g.x(), g.y(), g.width(), g.height()};
}

void Toolkit::setRange(int id, int minimum, int maximum) {
  if (auto* s = impl_->control<QSlider>(id)) {
    QSignalBlocker quiet(s);
    s->setRange(minimum, maximum);
  } else if (auto* b = impl_->control<SystemSpinBox>(id)) {
    b->minimum = minimum;
    b->maximum = maximum;
    b->value = std::clamp(b->value, minimum, std::max(minimum, maximum));
  }
}

int Toolkit::minimum(int id) const {
  if (auto* s = impl_->control<QSlider>(id)) return s->minimum();
  if (auto* b = impl_->control<SystemSpinBox>(id)) return b->minimum;
  return 0;
}

int Toolkit::maximum(int id) const {
  if (auto* s = impl_->control<QSlider>(id)) return s->maximum();
  if (auto* b = impl_->control<SystemSpinBox>(id)) return b->maximum;
  return 0;
}

void Toolkit::setValue(int id, int value) {
  if (auto* s = impl_->control<QSlider>(id)) {
    QSignalBlocker quiet(s);
    s->setValue(value);  // limited to the range by the slider
  } else if (auto* b = impl_->control<SystemSpinBox>(id)) {
    b->value = std::clamp(value, b->minimum, std::max(b->minimum, b->maximum));
    b->update();
  } else if (auto* c = impl_->control<QComboBox>(id)) {
    QSignalBlocker quiet(c);
    c->setCurrentIndex(value);
  }
}

int Toolkit::value(int id) const {
  if (auto* s = impl_->control<QSlider>(id)) return s->value();
  if (auto* b = impl_->control<SystemSpinBox>(id)) return b->value;
  if (auto* c = impl_->control<QComboBox>(id)) return c->currentIndex();
  return 0;
}

void Toolkit::setText(int id, const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (auto* b = impl_->control<SystemSpinBox>(id))
    b->setShownText(t);
  else if (auto* l = impl_->control<QLabel>(id)) {
    l->setText(t);
    fitCaption(l);
  } else if (auto* g = impl_->control<QGroupBox>(id))
    g->setTitle(t);
}

std::string Toolkit::text(int id) const {
  if (auto* t = impl_->control<QPlainTextEdit>(id)) return t->toPlainText().toStdString();
  if (auto* b = impl_->control<QPushButton>(id)) return b->text().toStdString();
  if (auto* b = impl_->control<SystemSpinBox>(id)) return b->shownText().toStdString();
  if (auto* l = impl_->control<QLabel>(id)) return l->text().toStdString();
  if (auto* g = impl_->control<QGroupBox>(id)) return g->title().toStdString();
  if (auto* c = impl_->control<QComboBox>(id)) return c->currentText().toStdString();
  return {};
}

void Toolkit::addEntry(int id, const std::string& text) {
  if (auto* c = impl_->control<QComboBox>(id)) {
    QSignalBlocker quiet(c);
    c->addItem(QString::fromStdString(text));
  }
}

void Toolkit::clearEntries(int id) {
  if (auto* c = impl_->control<QComboBox>(id)) {
    QSignalBlocker quiet(c);
    c->clear();
  }
}

std::string Toolkit::entryText(int id, int entry) const {
  auto* c = impl_->control<QComboBox>(id);
  return c ? c->itemText(entry).toStdString() : std::string();
}

void Toolkit::setListOpening(int id, std::function<void()> opening) {
  if (auto* d = impl_->control<DropDown>(id)) d->opening = std::move(opening);
}

void Toolkit::setToolTip(int id, const std::string& text) {
  auto it = impl_->controls.find(id);
  if (it == impl_->controls.end()) return;
  QWidget* w = it->second;
  const QString t = QString::fromStdString(text);
  w->setToolTip(t);
  // While dragged (or while its tip shows) the tip follows the value at once.
  auto* slider = dynamic_cast<QSlider*>(w);
  if ((slider && slider->isSliderDown()) || (QToolTip::isVisible() && w->underMouse()))
    QToolTip::showText(w->mapToGlobal(QPoint(w->width(), 0)), t, w);
}

std::string Toolkit::toolTip(int id) const {
  auto it = impl_->controls.find(id);
  return it == impl_->controls.end() ? std::string() : it->second->toolTip().toStdString();
}

int Toolkit::entryCount(int id) const {
  auto* c = impl_->control<QComboBox>(id);
  return c ? c->count() : 0;
}

void Toolkit::setPointerShape(int id, PointerShape shape) {
  auto it = impl_->controls.find(id);
  if (it == impl_->controls.end()) return;
  const Qt::CursorShape s = shape == PointerShape::Hand         ? Qt::PointingHandCursor
                            : shape == PointerShape::NotAllowed ? Qt::ForbiddenCursor
                                                                : Qt::ArrowCursor;
  it->second->setCursor(s);
}

void* Toolkit::nativeWidget(int id) const {
  auto it = impl_->controls.find(id);
  return it == impl_->controls.end() ? nullptr : it->second;
}

void* Toolkit::nativeWindow(int window) const {
  auto it = impl_->windows.find(window);
  return it == impl_->windows.end() ? nullptr : it->second;
}

int Toolkit::createCanvas(int x, int y, int width, int height) {
  return addCanvas(canvasWindow_, 0, {x, y, width, height}, false);
}

bool Toolkit::beginPaint(int id, int& width, int& height) {
  Canvas* c = impl_->control<Canvas>(id);
  if (!c || impl_->painting) return false;
  impl_->painting = c;
  width = c->image.width();
  height = c->image.height();
  return true;
}

void Toolkit::fillRect(int x, int y, int width, int height, uint32_t color) {
  if (!impl_->painting) return;
  const QImage& img = impl_->painting->image;
  const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t{x} + width, img.width());
  const int64_t y1 = std::min<int64_t>(int64_t{y} + height, img.height());
  const QRgb c = toQt(color);
  for (int64_t yy = y0; yy < y1; ++yy)
    for (int64_t xx = x0; xx < x1; ++xx)
      impl_->setPixel(static_cast<int>(xx), static_cast<int>(yy), c);
}

void Toolkit::fillCircle(int cx, int cy, int radius, uint32_t color) {
  if (!impl_->painting || radius < 0) return;
  const QImage& img = impl_->painting->image;
  const QRgb c = toQt(color);
  const int64_t r = radius;
  // Only the rows and columns on the canvas are visited, however large the circle.
  const int64_t y0 = std::max<int64_t>(int64_t{cy} - r, 0);
  const int64_t y1 = std::min<int64_t>(int64_t{cy} + r, img.height() - 1);
  for (int64_t yy = y0; yy <= y1; ++yy) {
    const int64_t dy = yy - cy;
    const auto half =
        static_cast<int64_t>(std::floor(std::sqrt(static_cast<double>(r * r - dy * dy))));
    const int64_t x0 = std::max<int64_t>(int64_t{cx} - half, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{cx} + half, img.width() - 1);
    for (int64_t xx = x0; xx <= x1; ++xx)
      impl_->setPixel(static_cast<int>(xx), static_cast<int>(yy), c);
  }
}

void Toolkit::line(int x0, int y0, int x1, int y1, uint32_t color) {
  if (!impl_->painting) return;
  const QImage& img = impl_->painting->image;
  // Clip to the canvas first (Liang-Barsky), so far-away end points cost nothing.
  double ax = x0, ay = y0, bx = x1, by = y1;
  double t0 = 0, t1 = 1;
  const double dx = bx - ax, dy = by - ay;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {ax, img.width() - 1 - ax, ay, img.height() - 1 - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  if (t0 > t1) return;
  // Whole-pixel end points: unclipped ends stay exact.
  int sx = static_cast<int>(std::lround(t0 == 0 ? ax : ax + t0 * dx));
  int sy = static_cast<int>(std::lround(t0 == 0 ? ay : ay + t0 * dy));
  const int ex = static_cast<int>(std::lround(t1 == 1 ? bx : ax + t1 * dx));
  const int ey = static_cast<int>(std::lround(t1 == 1 ? by : ay + t1 * dy));
  const QRgb c = toQt(color);
  const int ddx = std::abs(ex - sx), ddy = -std::abs(ey - sy);
  const int stepX = sx < ex ? 1 : -1, stepY = sy < ey ? 1 : -1;
  int err = ddx + ddy;
  for (;;) {
    impl_->setPixel(sx, sy, c);
    if (sx == ex && sy == ey) break;
    const int e2 = 2 * err;
    if (e2 >= ddy) {
      err += ddy;
      sx += stepX;
    }
    if (e2 <= ddx) {
      err += ddx;
      sy += stepY;
    }
  }
}

void Toolkit::endPaint() {
  if (impl_->painting) impl_->painting->update();
  impl_->painting = nullptr;
}

int64_t Toolkit::canvasPixel(int id, int x, int y) const {
  const Canvas* c = impl_->control<Canvas>(id);
  if (!c || x < 0 || y < 0 || x >= c->image.width() || y >= c->image.height()) return -1;
  return fromQt(c->image.pixel(x, y));
}

UiEvent Toolkit::waitEvent() {
  while (impl_->queue.empty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const UiEvent e = impl_->queue.front();
  impl_->queue.pop_front();
  return e;
}

bool Toolkit::waitEventFor(int ms, UiEvent& event) {
  if (impl_->queue.empty()) {
    impl_->wake.start(ms);  // its timeout wakes the wait below
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    impl_->wake.stop();
  }
  if (impl_->queue.empty()) return false;
  event = impl_->queue.front();
  impl_->queue.pop_front();
  return true;
}

void Toolkit::postToUi(std::function<void()> task) {
  QMetaObject::invokeMethod(impl_->app.get(), std::move(task), Qt::QueuedConnection);
}

namespace {

// A spin box that writes and reads its value by a text rule of its own.
class RuleSpinBox : public QSpinBox {
 public:
  RuleSpinBox(std::function<std::string(int)> text,
              std::function<bool(const std::string&, int&)> read, QWidget* parent)
      : QSpinBox(parent), text_(std::move(text)), read_(std::move(read)) {}

 protected:
  QString textFromValue(int value) const override {
    return text_ ? QString::fromStdString(text_(value)) : QSpinBox::textFromValue(value);
  }
  int valueFromText(const QString& text) const override {
    int value = this->value();
    if (!read_) return QSpinBox::valueFromText(text);
    read_(typed(text), value);
    return value;
  }
  QValidator::State validate(QString& text, int& pos) const override {
    if (!read_) return QSpinBox::validate(text, pos);
    int value = 0;
    return read_(typed(text), value) && value >= minimum() && value <= maximum()
               ? QValidator::Acceptable
               : QValidator::Intermediate;
  }

 private:
  std::string typed(const QString& text) const {
    QString t = text;
    if (!suffix().isEmpty() && t.endsWith(suffix())) t.chop(suffix().size());
    return t.trimmed().toStdString();
  }
  std::function<std::string(int)> text_;
  std::function<bool(const std::string&, int&)> read_;
};

}  // namespace

bool Toolkit::formDialog(int window, const std::string& title, std::vector<FormField>& fields,
                         const std::string& note, const std::vector<FieldRule>& rules) {
  auto it = impl_->windows.find(window);
  QDialog dialog(it == impl_->windows.end() ? nullptr : it->second);
  dialog.setWindowTitle(QString::fromStdString(title));
  dialog.setModal(true);
  auto* layout = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout();
  layout->addLayout(form);
  std::vector<QWidget*> inputs;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FormField& f = fields[i];
    const FieldRule rule = i < rules.size() ? rules[i] : FieldRule{};
    QWidget* input = nullptr;
    if (f.kind == FormField::Kind::Choice) {
      auto* c = new QComboBox(&dialog);
      for (const std::string& choice : f.choices) c->addItem(QString::fromStdString(choice));
      c->setCurrentIndex(f.value);
      input = c;
    } else {
      auto* n = new RuleSpinBox(rule.text, rule.read, &dialog);
      n->setRange(f.minimum, f.maximum);
      n->setSingleStep(rule.step);
      n->setSuffix(QString::fromStdString(f.suffix));
      n->setValue(f.value);
      input = n;
    }
    input->setToolTip(QString::fromStdString(rule.tip));
    input->setObjectName(QString::fromStdString(f.label));
    form->addRow(QString::fromStdString(f.label), input);
    inputs.push_back(input);
  }
  if (!note.empty()) {
    auto* label = new QLabel(QString::fromStdString(note), &dialog);
    label->setObjectName("note");
    label->setWordWrap(true);
    layout->addWidget(label);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (auto* c = dynamic_cast<QComboBox*>(inputs[i])) fields[i].value = c->currentIndex();
    if (auto* n = dynamic_cast<QSpinBox*>(inputs[i])) fields[i].value = n->value();
  }
  return true;
}

void Toolkit::messageBox(int window, const std::string& title, const std::string& text) {
  if (responder_) {
    responder_("message", title, text);
    return;
  }
  std::string shown = text;
  std::replace(shown.begin(), shown.end(), '\r', '\n');
  auto it = impl_->windows.find(window);
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(shown),
                  QMessageBox::Ok, it == impl_->windows.end() ? nullptr : it->second);
  box.exec();
}

std::string Toolkit::openFileDialog(int window, const std::string& title,
                                    const std::string& directory, const std::string& filter) {
  if (responder_) return responder_("open", title, directory);
  auto it = impl_->windows.find(window);
  return QFileDialog::getOpenFileName(
             it == impl_->windows.end() ? nullptr : it->second, QString::fromStdString(title),
             QString::fromStdString(directory), QString::fromStdString(filter))
      .toStdString();
}

std::string Toolkit::saveFileDialog(int window, const std::string& title,
                                    const std::string& directory, const std::string& fileName,
                                    const std::string& filter) {
  if (responder_) return responder_("save", title, directory + fileName);
  auto it = impl_->windows.find(window);
  return QFileDialog::getSaveFileName(
             it == impl_->windows.end() ? nullptr : it->second, QString::fromStdString(title),
             QString::fromStdString(directory + fileName), QString::fromStdString(filter), nullptr,
             QFileDialog::DontConfirmOverwrite)
      .toStdString();
}

}  // namespace ondelith
