// The plugin's panel: the window's controls at their places under a header
// row, the curve editors and the waveform display painted by the same
// editors code as the window, all on Cairo. Sizes are logical (the window's
// pixels); the whole picture is drawn at the host's scale.

#include <cairo.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Cairo.hpp"
#include "DistrhoPlugin.hpp"
#include "DistrhoPluginUtils.hpp"
#include "DistrhoUI.hpp"
#include "editors/cairo_canvas.h"
#include "editors/control_gestures.h"
#include "editors/curve_editor.h"
#include "editors/curve_interaction.h"
#include "editors/panel_layout.h"
#include "editors/waveform_display.h"
#include "instrument/patch_format.h"
#include "instrument/registry.h"
#include "instrument/settings_page.h"
#include "instrument/shown_name.h"
#include "instrument/sound.h"
#include "instrument/sound_folder.h"
#include "instrument/sound_history.h"
#include "platform/files.h"
#include "platform/patch_file.h"
#include "platform/tuning_file.h"
#include "plugin/plugin_core.h"
#include "plugin/tuning_chooser.h"

START_NAMESPACE_DISTRHO

namespace {

namespace od = ondelith;

constexpr int kPanelWidth = od::kClientWidth;
constexpr int kPanelHeight = od::kClientHeight + od::kPanelHeaderHeight;
using od::plugin::kPatchFileStateKey;
using od::plugin::kPatchStateKey;
constexpr int kMenuRow = 18;
constexpr int kMenuColumn = 175;
constexpr double kMenuTop = 28;
constexpr int kMenuRows = static_cast<int>((kPanelHeight - kMenuTop) / kMenuRow);
constexpr int kMenuColumns = (kPanelWidth - 4) / kMenuColumn;

struct Box {
  double x, y, w, h;
  bool holds(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// The header's parts, left to right.
constexpr Box kPrevious{6, 4, 24, 24};
constexpr Box kNameBox{34, 4, 200, 24};
constexpr Box kNext{238, 4, 24, 24};
constexpr Box kOpen{272, 4, 52, 24};
constexpr Box kSave{328, 4, 52, 24};
constexpr Box kNameField{384, 4, 92, 24};
constexpr Box kSettingsButton{480, 4, 51, 24};
// Undo and Redo, in the room under the filter.
constexpr Box kUndo{400, 556, 56, 24};
constexpr Box kRedo{464, 556, 56, 24};

// The settings view over the panel's body: a row an entry, its value with
// step arrows at the right, the Help sentence of the row under the pointer
// below them.
constexpr Box kSettingsPage{8, od::kPanelHeaderHeight + 8, kPanelWidth - 16,
                            kPanelHeight - od::kPanelHeaderHeight - 16};
constexpr double kSettingsRow = 26;
constexpr double kSettingsTop = kSettingsPage.y + 36;
constexpr int kSettingsRows = 16;  // shown at once; the wheel turns the rest in
constexpr Box kSoundTab{kSettingsPage.x + 8, kSettingsPage.y + 6, 120, 22};
constexpr Box kPlayerTab{kSettingsPage.x + 132, kSettingsPage.y + 6, 120, 22};
// The player's page: the latency switch above the tuning's line.
constexpr Box kLatencySwitch{kSettingsPage.x + 12, kSettingsPage.y + kSettingsPage.h - 58,
                             kSettingsPage.w - 24, 20};
constexpr Box settingsValue(int row) { return {300, kSettingsTop + row * kSettingsRow, 140, 20}; }
constexpr Box settingsLess(int row) { return {446, kSettingsTop + row * kSettingsRow, 22, 20}; }
constexpr Box settingsMore(int row) { return {472, kSettingsTop + row * kSettingsRow, 22, 20}; }

void rgb(cairo_t* cr, uint32_t c) {
  cairo_set_source_rgb(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                       (c & 0xFF) / 255.0);
}

void text(cairo_t* cr, double x, double y, const std::string& s, double size = 11,
          uint32_t c = 0x000000) {
  rgb(cr, c);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_move_to(cr, x, y);
  // Text Cairo cannot take would stop the whole panel's drawing.
  cairo_show_text(cr, od::shownName(s).c_str());
}

void button(cairo_t* cr, const Box& b, const std::string& caption, bool lit = false,
            bool enabled = true) {
  rgb(cr, lit ? 0xC8D8F0 : 0xF4F4F4);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_fill_preserve(cr);
  rgb(cr, 0x808080);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_text_extents_t e;
  cairo_set_font_size(cr, 11);
  cairo_text_extents(cr, od::shownName(caption).c_str(), &e);
  text(cr, b.x + (b.w - e.x_advance) / 2, b.y + b.h / 2 + 4, caption, 11,
       enabled ? 0x000000 : 0xA0A0A0);
}

// A value's box: white, framed, its text at the left.
void valueBox(cairo_t* cr, const Box& b, const std::string& s, uint32_t frame) {
  rgb(cr, 0xFFFFFF);
  cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w - 1, b.h - 1);
  cairo_fill_preserve(cr);
  rgb(cr, frame);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  text(cr, b.x + 4, b.y + b.h / 2 + 4, s);
}

// A tip: pale yellow, framed, its text inside.
void tip(cairo_t* cr, const Box& b, const std::string& s) {
  rgb(cr, 0xFFFFE0);
  cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w, b.h);
  cairo_fill_preserve(cr);
  rgb(cr, 0x707070);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  text(cr, b.x + 5, b.y + 13, s);
}

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The player's own sounds, sorted.
std::vector<od::FolderSound> ownSounds() {
  const std::string folder = od::userSoundsDirectory();
  return folder.empty() ? std::vector<od::FolderSound>{} : od::folderSounds(folder);
}

// Text broken into lines of at most `width` characters, at spaces.
std::vector<std::string> wrapped(const std::string& s, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < s.size()) {
    size_t end = s.find(' ', at);
    if (end == std::string::npos) end = s.size();
    const std::string word = s.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// A typed name that names one file in the folder and nothing beyond it.
bool fileNameAllowed(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.size() > 200) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
  });
}

}  // namespace

class OndelithUI : public UI {
 public:
  OndelithUI() : UI(kPanelWidth, kPanelHeight), canvases_(getScaleFactor()) {
    link_ = dynamic_cast<od::plugin::PanelLink*>(static_cast<Plugin*>(getPluginInstancePointer()));
    sound_ = link_ ? link_->currentSound() : od::startSound();
    generation_ = link_ ? link_->soundGeneration() : 0;
    nameTheSound();
    for (const od::ControlInfo& c : od::kControlTable) {
      const int index = od::entryOf(c.id);
      if ((c.kind == od::ControlKind::Slider || c.kind == od::ControlKind::SpinBox) && index >= 0)
        controls_.push_back({&c, index});
    }
    const od::ControlInfo* display = od::findControl(od::kWaveformDisplay);
    displayId_ = canvases_.createCanvas(display->x, display->y + od::kPanelHeaderHeight, display->w,
                                        display->h);
    curves_.host = &canvases_;
    for (int row = 0; row < od::kWobbleRows; ++row) {
      const od::CurveEditorPlace p = od::curveEditorPlace(row);
      const int id = od::createCurveEditor(curves_, -1, p.x, p.y + od::kPanelHeaderHeight, p.w, p.h,
                                           od::kCurvePointCount, od::kCurveLineColor,
                                           od::kCurveBackgroundColor, od::kCurveDisabledColor);
      od::setCurveEditorProperty(curves_, id, od::HandleRadius, od::kCurveHandleRadius);
      od::setCurveEditorProperty(curves_, id, od::GrabTolerance, od::kCurveGrabTolerance);
      od::setCurveEditorProperty(curves_, id, od::RangeX, od::kCurveStartRangeX);
      od::setCurveEditorProperty(curves_, id, od::RangeY, od::kCurveStartRangeY);
      editorIds_[static_cast<size_t>(row)] = id;
    }
    for (int i = 0; i < od::kParameterCount; ++i)
      players_[static_cast<size_t>(i)] = od::parameter(i).start;
    // The history goes on where the last panel left it; a sound the host
    // brought meanwhile is a step, the same sound only named anew.
    od::SoundHistory& h = history();
    if (!h.canUndo() && !h.canRedo() && h.present().origin.kind == od::SoundOrigin::Kind::StartUp)
      h.reset(currentState());
    else if (h.present().sound == sound_)
      h.amend(currentState().origin);
    else
      h.record(currentState());
    showSound();
    const double s = getScaleFactor();
    if (s != 1.0) setSize(std::lround(kPanelWidth * s), std::lround(kPanelHeight * s));
  }

 protected:
  // The host moved a parameter, or answers one of ours.
  void parameterChanged(uint32_t index, float value) override {
    const int i = static_cast<int>(index);
    if (i < 0 || i >= od::kParameterCount) return;
    if (!od::soundOwned(i)) {
      players_[index] = static_cast<int32_t>(std::lround(value));
      repaint();
      return;
    }
    od::setSoundValue(sound_, i, static_cast<int32_t>(std::lround(value)));
    if (i == od::pointIndex(od::kRowX1) || i == od::pointIndex(od::kRowY1) ||
        i == od::pointIndex(od::kRowX2) || i == od::pointIndex(od::kRowY2))
      redrawDisplay();
    repaint();
  }

  // Hosts also announce their current program when a panel opens, whatever
  // sound has been made since: the name follows only a program that sounds.
  void programLoaded(uint32_t index) override {
    reread();
    const auto& programs = od::plugin::programs();
    if (index < programs.size() && programs[index].sound == sound_) {
      program_ = static_cast<int>(index);
      name_ = programs[index].name;
      hasSaved_ = false;
    }
  }

  void stateChanged(const char* key, const char* value) override {
    if (value != nullptr && std::strcmp(key, od::plugin::kLatencyKey) == 0) {
      reportLatency_ = std::strcmp(value, "on") == 0;
      return repaint();
    }
    if (value == nullptr || value[0] == '\0') return;
    // A file the host's browser chose: the panel writes what it holds, so
    // the host's knobs follow.
    if (std::strcmp(key, kPatchFileStateKey) == 0) return openFile(value);
    if (std::strcmp(key, kPatchStateKey) != 0) return;
    if (const auto patch = od::plugin::patchFromText(value)) {
      od::Sound s = sound_;
      od::applyPatch(s, *patch);
      if (s == sound_) return;
      sound_ = s;
      nameTheSound();
      history().record(currentState());
      showSound();
    }
  }

  // A whole sound that reached the plugin some other way (a preset, a
  // session) is read from the plugin itself.
  void uiIdle() override {
    if (link_ && link_->soundGeneration() != generation_) reread();
  }

  void uiScaleFactorChanged(double scale) override {
    canvases_.setScale(scale);
    showSound();
    setSize(std::lround(kPanelWidth * scale), std::lround(kPanelHeight * scale));
  }

  // The panel is drawn into a picture of its own, which alone is painted
  // on the host's window: Cairo keeps what it draws with directly on a
  // window's X display (colours, glyphs) in caches tied to that display,
  // which outlive the display and were lost with every panel closed.
  void onCairoDisplay(const CairoGraphicsContext& context) override {
    const int w = static_cast<int>(getWidth()), h = static_cast<int>(getHeight());
    cairo_surface_t* frame = frame_.get();
    if (!frame || cairo_image_surface_get_width(frame) != w ||
        cairo_image_surface_get_height(frame) != h) {
      frame_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
      frame = frame_.get();
    }
    cairo_t* cr = cairo_create(frame);
    paint(cr);
    cairo_destroy(cr);
    cairo_set_source_surface(context.handle, frame, 0, 0);
    cairo_paint(context.handle);
  }

  void paint(cairo_t* cr) {
    const double s = canvases_.scale();
    cairo_save(cr);
    cairo_scale(cr, s, s);
    rgb(cr, 0xEFEFEF);
    cairo_paint(cr);
    drawHeader(cr);
    for (const od::ControlInfo& c : od::kControlTable) {
      // The program's device choosers have no place in a host.
      if (c.id == od::kLabelMidiInput || c.id == od::kLabelAudioOutput) continue;
      const double y = c.y + od::kPanelHeaderHeight;
      // A size that keeps the longest captions inside their places.
      if (c.kind == od::ControlKind::Label) text(cr, c.x, y + 13, std::string(c.text), 10);
      if (c.kind == od::ControlKind::Frame) {
        rgb(cr, 0xA0A0A0);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, c.x + 0.5, y + 6.5, c.w - 1, c.h - 7);
        cairo_stroke(cr);
        cairo_text_extents_t e;
        cairo_text_extents(cr, std::string(c.text).c_str(), &e);
        rgb(cr, 0xEFEFEF);
        cairo_rectangle(cr, c.x + 6, y, e.x_advance + 6, 12);
        cairo_fill(cr);
        text(cr, c.x + 9, y + 10, std::string(c.text));
      }
    }
    for (const Control& c : controls_) drawControl(cr, c);
    button(cr, kUndo, "Undo", false,
           history().canUndo() || !(history().present() == currentState()));
    button(cr, kRedo, "Redo", false, history().canRedo());
    cairo_restore(cr);
    canvases_.composite(cr);
    cairo_save(cr);
    cairo_scale(cr, s, s);
    drawTip(cr);
    drawCurveReadout(cr);
    drawSettings(cr);
    if (settingsShown_ && pageShown_ == 1) {
      drawLatencySwitch(cr);
      tuning_.draw(cr, tuning());
    }
    drawEntry(cr);
    drawMenu(cr);
    cairo_restore(cr);
  }

  bool onMouse(const MouseEvent& ev) override {
    const double s = canvases_.scale();
    const double x = ev.pos.getX() / s, y = ev.pos.getY() / s;
    if (ev.button != 1) return false;
    if (curveDrag_) {
      if (!ev.press) finishCurveDrag(ev.pos.getX(), ev.pos.getY());
      return true;
    }
    if (!ev.press) {
      if (drag_) editParameter(static_cast<uint32_t>(drag_->index), false);
      drag_ = nullptr;
      repaint();
      return true;
    }
    // A press anywhere but in the value being typed applies it.
    if (entry_.active() && !entryBox_.holds(x, y)) applyEntry();
    if (!menu_.empty()) return pickFromMenu(x, y);
    typing_ = kNameField.holds(x, y);
    if (y < od::kPanelHeaderHeight) return pressHeader(x, y);
    if (settingsShown_ && pageShown_ == 1 && takeTuning(tuning_.press(x, y, tuning()))) return true;
    if (settingsShown_ && pageShown_ == 1 && kLatencySwitch.holds(x, y)) {
      reportLatency_ = !reportLatency_;
      setState(od::plugin::kLatencyKey, reportLatency_ ? "on" : "off");
      repaint();
      return true;
    }
    if (settingsShown_) return pressSettings(x, y);
    if (kUndo.holds(x, y) || kRedo.holds(x, y)) {
      kUndo.holds(x, y) ? undo() : redo();
      return true;
    }
    if (const int id = canvases_.canvasAt(ev.pos.getX(), ev.pos.getY()); id && id != displayId_) {
      curveDrag_ = id;
      curveEvent(od::PointerAction::Press, ev.pos.getX(), ev.pos.getY());
      return true;
    }
    if (tipFor_ && tipBox_.holds(x, y)) {  // a slider's value, clicked to be typed
      beginEntry(tipFor_->index, tipBox_);
      return true;
    }
    if (Control* c = controlAt(x, y))
      return pressControl(*c, x, y, ev.mod & kModifierShift, ev.time);
    return false;
  }

  bool onMotion(const MotionEvent& ev) override {
    const double s = canvases_.scale();
    const double x = ev.pos.getX() / s, y = ev.pos.getY() / s;
    if (curveDrag_) {
      curveEvent(od::PointerAction::Move, ev.pos.getX(), ev.pos.getY());
      return true;
    }
    if (settingsShown_) {
      const int row = settingsRowAt(x, y);
      const bool onSwitch = pageShown_ == 1 && kLatencySwitch.holds(x, y);
      if (row != settingsHover_ || onSwitch != latencyHover_) {
        settingsHover_ = row;
        latencyHover_ = onSwitch;
        repaint();
      }
      return false;
    }
    if (!menu_.empty() && menuEntryAt(x, y) != menuHover_) {
      menuHover_ = menuEntryAt(x, y);
      repaint();
    }
    if (drag_) {
      if (drag_->info->kind == od::ControlKind::Slider && sliderDrag_)
        setValue(drag_->index, sliderDrag_->moved(y, ev.mod & kModifierShift, bounds(drag_->index),
                                                  drag_->info->h - 8));
      else if (std::abs(y - dragY_) >= 4) {  // a spin box dragged steps every 4 pixels
        stepSpinBox(*drag_, y < dragY_ ? 1 : -1);
        dragY_ = y;
      }
      return true;
    }
    const int id = canvases_.canvasAt(ev.pos.getX(), ev.pos.getY());
    if (id && id != displayId_) curveEvent(od::PointerAction::Move, ev.pos.getX(), ev.pos.getY());
    showCursor(id && id != displayId_ ? canvases_.pointerShape(id) : od::PointerShape::Arrow,
               kNameField.holds(x, y));
    // On to the slider's value beside it, which may lie over another control.
    Control* over = tipFor_ && tipBox_.holds(x, y) ? tipFor_ : controlAt(x, y);
    if (over != hover_) {
      hover_ = over;
      repaint();
    }
    return false;
  }

  bool onScroll(const ScrollEvent& ev) override {
    const double s = canvases_.scale();
    if (!menu_.empty()) {
      const int last = std::max(0, static_cast<int>(menu_.size()) - kMenuRows * kMenuColumns);
      const int step = ev.delta.getY() > 0 ? -kMenuRows : kMenuRows;
      menuFirst_ = std::clamp(menuFirst_ + step, 0, (last + kMenuRows - 1) / kMenuRows * kMenuRows);
      repaint();
      return true;
    }
    if (settingsShown_)
      return scrollSettings(ev.pos.getX() / s, ev.pos.getY() / s, ev.delta.getY());
    Control* c = controlAt(ev.pos.getX() / s, ev.pos.getY() / s);
    if (!c || ev.delta.getY() == 0) return false;
    const int32_t step = od::wheelStep(c->index, bounds(c->index), ev.mod & kModifierShift);
    edit(c->index, value(c->index) + (ev.delta.getY() > 0 ? step : -step));
    return true;
  }

  bool onCharacterInput(const CharacterInputEvent& ev) override {
    if (entry_.active()) {
      if (ev.character == '\r' || ev.character == '\n')
        applyEntry();
      else if (ev.character == 27)
        entry_.cancel();
      else
        entry_.type(ev.character, ev.string);
      repaint();
      return true;
    }
    if (!typing_) return false;
    if (ev.character != '\r' && ev.character != '\n') replacing_.clear();
    if (ev.character == '\r' || ev.character == '\n') {
      saveTyped();
    } else if (ev.character == 8 || ev.character == 127) {
      if (!typed_.empty()) {
        // Drop the last character whole, however many bytes it has.
        size_t n = typed_.size() - 1;
        while (n > 0 && (static_cast<unsigned char>(typed_[n]) & 0xC0) == 0x80) --n;
        typed_.resize(n);
      }
    } else if (ev.character >= 0x20 && typed_.size() < 200) {
      typed_ += ev.string;
    }
    repaint();
    return true;
  }

  // Escape drops a value being typed; Ctrl+Z undoes, Ctrl+Shift+Z and
  // Ctrl+Y redo.
  bool onKeyboard(const KeyboardEvent& ev) override {
    if (!ev.press) return false;
    if (ev.key == kKeyEscape && entry_.active()) {
      entry_.cancel();
      repaint();
      return true;
    }
    if (!(ev.mod & kModifierControl)) return false;
    const uint key = ev.key | 0x20;  // either case
    if (key == 'z' && !(ev.mod & kModifierShift))
      undo();
    else if (key == 'z' || key == 'y')
      redo();
    else
      return false;
    return true;
  }

 private:
  struct Control {
    const od::ControlInfo* info;
    int index;
  };

  od::SoundHistory& history() { return link_ ? link_->soundHistory() : ownHistory_; }

  // A press on a control: a double click puts it back to its start value;
  // a spin box's text takes a typed value, its arrows step; a slider jumps
  // to the pointer, or with Shift held moves finely from where it is.
  bool pressControl(Control& c, double x, double y, bool fine, uint32_t ms) {
    const double top = c.info->y + od::kPanelHeaderHeight;
    const bool slider = c.info->kind == od::ControlKind::Slider;
    const bool arrows = !slider && x >= c.info->x + c.info->w - 16;
    if (arrows) {
      doubleClick_ = {};  // quick presses on the arrows step, as often as they come
    } else if (doubleClick_.press(c.index, ms)) {
      entry_.cancel();
      edit(c.index, od::parameter(c.index).start);
      return true;
    }
    if (!slider && !arrows) {
      beginEntry(c.index, {double(c.info->x), top, double(c.info->w) - 16, double(c.info->h)});
      return true;
    }
    drag_ = &c;
    editParameter(static_cast<uint32_t>(c.index), true);
    if (slider) {
      if (!fine) setFromSlider(c, y);
      sliderDrag_.emplace(value(c.index), y, fine);
    } else {
      stepSpinBox(c, y < top + c.info->h / 2.0 ? 1 : -1);
    }
    dragY_ = y;
    return true;
  }

  // The sound with where it came from, as the history keeps it.
  od::SoundState currentState() const {
    od::SoundState state;
    state.sound = sound_;
    state.origin.name = name_;
    const auto& programs = od::plugin::programs();
    if (hasSaved_ || program_ >= static_cast<int>(programs.size())) {
      state.origin.kind = od::SoundOrigin::Kind::File;
      state.origin.sound = saved_;
    } else {
      state.origin.kind = od::SoundOrigin::Kind::Bank;
      state.origin.bankNumber = program_;
      state.origin.sound = programs[static_cast<size_t>(program_)].sound;
    }
    return state;
  }

  // A step of the history back in the panel, the plugin and the host.
  void showState(const od::SoundState& state) {
    name_ = state.origin.name;
    hasSaved_ = state.origin.kind == od::SoundOrigin::Kind::File;
    if (hasSaved_)
      saved_ = state.origin.sound;
    else
      program_ = state.origin.bankNumber;
    loadFromPanel(state.sound, false);
  }

  // What changed since the last step (the host's automation) is a step
  // of its own first, so that Undo never skips it.
  void undo() {
    history().record(currentState());
    if (const od::SoundState* state = history().undo()) showState(*state);
    repaint();
  }

  void redo() {
    history().record(currentState());
    if (const od::SoundState* state = history().redo()) showState(*state);
    repaint();
  }

  // A value typed into `box`, starting from the control's own text.
  void beginEntry(int index, const Box& box) {
    entry_.begin(index, value(index));
    entryBox_ = box;
    typing_ = false;
    repaint();
  }

  void applyEntry() {
    const int index = entry_.index();
    const std::string typed = entry_.text();
    if (const auto v = entry_.apply())
      edit(index, *v);
    else
      status_ = "not a value: " + typed;
    repaint();
  }

  void drawEntry(cairo_t* cr) {
    if (entry_.active()) valueBox(cr, entryBox_, entry_.text() + "|", 0x2060D0);
  }

  // One whole change the host sees as a gesture.
  void edit(int index, int32_t v) {
    editParameter(static_cast<uint32_t>(index), true);
    setValue(index, v);
    editParameter(static_cast<uint32_t>(index), false);
  }

  Control* controlAt(double x, double y) {
    for (Control& c : controls_) {
      const Box b{double(c.info->x), double(c.info->y + od::kPanelHeaderHeight), double(c.info->w),
                  double(c.info->h)};
      if (b.holds(x, y)) return &c;
    }
    return nullptr;
  }

  od::Bounds bounds(int index) const {
    const int by = od::rangeSwitchOf(index);
    return od::boundsOf(index, by >= 0 ? value(by) : 0);
  }

  int32_t value(int index) const {
    const auto i = static_cast<size_t>(index);
    return od::soundOwned(index) ? sound_.values[i] : players_[i];
  }

  // A control moved by the player: the sound, the plugin and the host's
  // automation all take it.
  void setValue(int index, int32_t v) {
    const od::Bounds b = bounds(index);
    v = std::clamp(v, b.minimum, b.maximum);
    if (v == value(index)) return;
    setParameterValue(static_cast<uint32_t>(index), static_cast<float>(v));
    if (!od::soundOwned(index)) {  // the player's: no part of the sound or its history
      players_[static_cast<size_t>(index)] = v;
      repaint();
      return;
    }
    od::setSoundValue(sound_, index, v);
    for (int i = 0; i < od::kParameterCount; ++i)  // a range switch pulls its rows in
      if (od::rangeSwitchOf(i) == index) setParameterValue(i, static_cast<float>(value(i)));
    parameterChanged(static_cast<uint32_t>(index), static_cast<float>(v));
    history().record(currentState(), index + 1, nowMs());  // a drag is one step
  }

  void setFromSlider(const Control& c, double y) {
    const od::Bounds b = bounds(c.index);
    const double top = c.info->y + od::kPanelHeaderHeight + 4, span = c.info->h - 8;
    const double t = std::clamp(1.0 - (y - top) / span, 0.0, 1.0);
    setValue(c.index, b.minimum + static_cast<int32_t>(std::lround(t * (b.maximum - b.minimum))));
  }

  void stepSpinBox(const Control& c, int step) { setValue(c.index, value(c.index) + step); }

  void drawControl(cairo_t* cr, const Control& c) {
    const od::ControlInfo& i = *c.info;
    const double x = i.x, y = i.y + od::kPanelHeaderHeight;
    const bool lit = &c == hover_ || &c == drag_;
    cairo_set_line_width(cr, 1);
    if (i.kind == od::ControlKind::Slider) {
      const od::Bounds b = bounds(c.index);
      const double t =
          b.maximum > b.minimum ? double(value(c.index) - b.minimum) / (b.maximum - b.minimum) : 0;
      rgb(cr, 0x909090);
      cairo_rectangle(cr, x + i.w / 2.0 - 2, y + 4, 4, i.h - 8);
      cairo_fill(cr);
      const double ty = y + 4 + (1 - t) * (i.h - 8) - 4;
      rgb(cr, lit ? 0x5080C0 : 0x707070);
      cairo_rectangle(cr, x + 2, ty, i.w - 4, 8);
      cairo_fill(cr);
    } else {
      rgb(cr, 0xFFFFFF);
      cairo_rectangle(cr, x + 0.5, y + 0.5, i.w - 1, i.h - 1);
      cairo_fill_preserve(cr);
      rgb(cr, lit ? 0x5080C0 : 0x909090);
      cairo_stroke(cr);
      text(cr, x + 4, y + i.h / 2.0 + 4, od::parameterText(c.index, value(c.index)));
      // The step arrows.
      const double ax = x + i.w - 8, mid = y + i.h / 2.0;
      rgb(cr, 0x606060);
      cairo_move_to(cr, ax - 4, mid - 2);
      cairo_line_to(cr, ax + 4, mid - 2);
      cairo_line_to(cr, ax, mid - 7);
      cairo_close_path(cr);
      cairo_move_to(cr, ax - 4, mid + 2);
      cairo_line_to(cr, ax + 4, mid + 2);
      cairo_line_to(cr, ax, mid + 7);
      cairo_close_path(cr);
      cairo_fill(cr);
    }
  }

  // The hovered or dragged control's tooltip, as the window's: its name and value, beside it.
  void drawTip(cairo_t* cr) {
    Control* c = drag_ ? drag_ : hover_;
    if (!c || c->info->kind != od::ControlKind::Slider) {
      // A spin box shows its value itself; its tip names it.
      tipFor_ = nullptr;
      if (!c) return;
    }
    const std::string s = od::parameterToolTip(c->index, value(c->index));
    cairo_set_font_size(cr, 11);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    const double w = e.x_advance + 10;
    double x = c->info->x + c->info->w + 4;
    if (x + w > kPanelWidth) x = c->info->x - w - 4;
    const double y = c->info->y + od::kPanelHeaderHeight;
    tipBox_ = {x, y, w, 18};
    tipFor_ = c->info->kind == od::ControlKind::Slider ? c : nullptr;
    tip(cr, tipBox_, s);
  }

  // The dragged curve point's time and depth, beside it.
  void drawCurveReadout(cairo_t* cr) {
    for (int row = 0; curveDrag_ && row < od::kWobbleRows; ++row) {
      const od::CurveEditor* e = od::findCurveEditor(curves_, editorIds_[static_cast<size_t>(row)]);
      if (!e || e->id != curveDrag_ || e->dragIndex < 0) continue;
      const std::string s = od::curvePointReadout(*e->model, e->dragIndex, sound_.wobbleDurationMs);
      const od::CurvePoint p = od::curvePoint(*e, e->dragIndex);
      const od::CurveEditorPlace place = od::curveEditorPlace(row);
      cairo_set_font_size(cr, 11);
      cairo_text_extents_t t;
      cairo_text_extents(cr, s.c_str(), &t);
      const double w = t.x_advance + 10;
      const double x = std::min<double>(place.x + p.x + 10, kPanelWidth - w - 2);
      const double y = std::max<double>(place.y + od::kPanelHeaderHeight + p.y - 24, 0);
      tip(cr, {x, y, w, 18}, s);
    }
  }

  void drawHeader(cairo_t* cr) {
    rgb(cr, 0xD8D8D8);
    cairo_rectangle(cr, 0, 0, kPanelWidth, od::kPanelHeaderHeight);
    cairo_fill(cr);
    button(cr, kPrevious, "<");
    button(cr, kNext, ">");
    std::string shown = name_ + (modified() ? " *" : "");
    button(cr, kNameBox, shown + "  \u25BE", !menu_.empty());
    button(cr, kOpen, "Open");
    button(cr, kSave, "Save");
    button(cr, kSettingsButton, "Settings", settingsShown_);
    rgb(cr, 0xFFFFFF);
    cairo_rectangle(cr, kNameField.x + 0.5, kNameField.y + 0.5, kNameField.w - 1, kNameField.h - 1);
    cairo_fill_preserve(cr);
    rgb(cr, typing_ ? 0x5080C0 : 0x909090);
    cairo_stroke(cr);
    if (typed_.empty() && !typing_)
      text(cr, kNameField.x + 4, kNameField.y + 16, status_.empty() ? "name to save as" : status_,
           10, 0x808080);
    else
      text(cr, kNameField.x + 4, kNameField.y + 16, typed_ + (typing_ ? "|" : ""));
  }

  // The sounds menu: the bank, then the user's own sounds, in columns
  // from the panel's left edge; the wheel turns it a column at a time.
  void drawMenu(cairo_t* cr) {
    if (menu_.empty()) return;
    const int shown =
        std::min<int>(static_cast<int>(menu_.size()) - menuFirst_, kMenuRows * kMenuColumns);
    const int columns = (shown + kMenuRows - 1) / kMenuRows;
    const int rows = std::min(shown, kMenuRows);
    rgb(cr, 0xFFFFFF);
    cairo_rectangle(cr, 2.5, kMenuTop + 0.5, columns * kMenuColumn, rows * kMenuRow);
    cairo_fill_preserve(cr);
    rgb(cr, 0x707070);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_rectangle(cr, 2, kMenuTop, columns * kMenuColumn, rows * kMenuRow);
    cairo_clip(cr);
    for (int i = 0; i < shown; ++i) {
      const MenuRow& row = menu_[static_cast<size_t>(menuFirst_ + i)];
      const double x = 2 + (i / kMenuRows) * kMenuColumn, y = kMenuTop + (i % kMenuRows) * kMenuRow;
      if (row.program < 0 && row.path.empty() && row.page < 0) {  // a heading
        rgb(cr, 0xE4E4E4);
        cairo_rectangle(cr, x + 1, y + 1, kMenuColumn - 2, kMenuRow - 2);
        cairo_fill(cr);
        text(cr, x + 6, y + 13, row.label, 10, 0x505050);
      } else {
        text(cr, x + 10, y + 13, row.label, 11, row.current ? 0x2050A0 : 0x000000);
      }
    }
    cairo_restore(cr);
    // The pointed-at sound's description, on a line under the menu.
    const auto& programs = od::plugin::programs();
    const int program = menuHover_ >= 0 && menuHover_ < static_cast<int>(menu_.size())
                            ? menu_[static_cast<size_t>(menuHover_)].program
                            : -1;
    if (program > 0 && program < static_cast<int>(programs.size())) {
      const double y = kMenuTop + rows * kMenuRow + 2;
      rgb(cr, 0xFFFFE0);
      cairo_rectangle(cr, 2.5, y + 0.5, kPanelWidth - 5, 18);
      cairo_fill(cr);
      text(cr, 7, y + 13, programs[static_cast<size_t>(program)].description, 11, 0x000000);
    }
  }

  bool pressHeader(double x, double y) {
    const auto& programs = od::plugin::programs();
    const int n = static_cast<int>(programs.size());
    if (n > 0 && kPrevious.holds(x, y))
      loadProgramFromPanel((program_ + n - 1) % n);
    else if (n > 0 && kNext.holds(x, y))
      loadProgramFromPanel((program_ + 1) % n);
    else if (kNameBox.holds(x, y))
      showSoundsMenu();
    else if (kOpen.holds(x, y))
      openBrowser();
    else if (kSave.holds(x, y))
      saveTyped();
    else if (kSettingsButton.holds(x, y))
      settingsShown_ = !settingsShown_;
    repaint();
    return true;
  }

  // A plugin's own setting, not a parameter: a switch, its Help above it
  // while the pointer is on it.
  void drawLatencySwitch(cairo_t* cr) {
    const Box& b = kLatencySwitch;
    valueBox(cr, {b.x, b.y + 3, 14, 14}, reportLatency_ ? "\u2713" : "", 0x707070);
    text(cr, b.x + 22, b.y + 14, "Report the set-up fade as latency", 11,
         latencyHover_ ? 0x2050A0 : 0x000000);
    if (!latencyHover_) return;
    const std::vector<std::string> lines = wrapped(od::plugin::setUpLatencyHelp(), 80);
    double y = b.y - 6 - 16 * static_cast<double>(lines.size());
    for (const std::string& line : lines) text(cr, b.x, y += 16, line, 10, 0x505050);
  }

  // The sound settings' page, over the controls and the curves.
  void drawSettings(cairo_t* cr) {
    if (!settingsShown_) return;
    const Box& b = kSettingsPage;
    rgb(cr, 0xFFFFFF);
    cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w, b.h);
    cairo_fill_preserve(cr);
    rgb(cr, 0x707070);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    button(cr, kSoundTab, "Sound settings", pageShown_ == 0);
    button(cr, kPlayerTab, "Player settings", pageShown_ == 1);
    const std::vector<od::SettingsField>& fields = page();
    double helpTop = kSettingsTop;
    if (fields.empty()) {
      for (const std::string& line : wrapped(std::string(od::kNothingToSet), 80))
        text(cr, b.x + 12, helpTop += 16, line, 11, 0x505050);
      return;
    }
    for (int row = 0; row < kSettingsRows; ++row) {
      const int k = settingsFirst_ + row;
      if (k >= static_cast<int>(fields.size())) break;
      const od::SettingsField& f = fields[static_cast<size_t>(k)];
      const Box v = settingsValue(row);
      text(cr, b.x + 12, v.y + 15, f.label, 11, row == settingsHover_ ? 0x2050A0 : 0x000000);
      valueBox(cr, v, od::parameterText(f.index, value(f.index)) + f.suffix, 0x909090);
      button(cr, settingsLess(row), "<");
      button(cr, settingsMore(row), ">");
      helpTop = v.y + kSettingsRow;
    }
    if (settingsHover_ < 0) return;
    const size_t k = static_cast<size_t>(settingsFirst_ + settingsHover_);
    if (k < fields.size())
      for (const std::string& line : wrapped(fields[k].tip, 80))
        text(cr, b.x + 12, helpTop += 16, line, 10, 0x505050);
  }

  // The page's row under a panel point, or -1.
  int settingsRowAt(double x, double y) const {
    for (int row = 0; row < kSettingsRows; ++row) {
      const Box r{kSettingsPage.x, kSettingsTop + row * kSettingsRow, kSettingsPage.w,
                  kSettingsRow};
      if (r.holds(x, y) && settingsFirst_ + row < static_cast<int>(page().size())) return row;
    }
    return -1;
  }

  // A press on the page: an arrow steps its row's value; a choice's value
  // box goes round its choices.
  bool pressSettings(double x, double y) {
    if (kSoundTab.holds(x, y) || kPlayerTab.holds(x, y)) {
      pageShown_ = kPlayerTab.holds(x, y) ? 1 : 0;
      settingsFirst_ = 0;
      settingsHover_ = -1;
      repaint();
      return true;
    }
    const int row = settingsRowAt(x, y);
    if (row < 0) return true;
    const od::SettingsField& f = page()[static_cast<size_t>(settingsFirst_ + row)];
    if (!f.choice && settingsValue(row).holds(x, y)) {  // a number, typed in
      beginEntry(f.index, settingsValue(row));
      return true;
    }
    const int32_t now = value(f.index);
    int32_t next = now;
    if (settingsLess(row).holds(x, y)) next = od::steppedValue(f, now, -1);
    if (settingsMore(row).holds(x, y)) next = od::steppedValue(f, now, 1);
    if (f.choice && settingsValue(row).holds(x, y))
      next = now >= f.maximum ? f.minimum : od::steppedValue(f, now, 1);
    setSetting(f.index, next);
    return true;
  }

  // The wheel over a row steps its value; elsewhere on the page it turns
  // the rows that do not fit.
  bool scrollSettings(double x, double y, double delta) {
    if (delta == 0) return true;
    const int direction = delta > 0 ? 1 : -1;
    const int row = settingsRowAt(x, y);
    if (row >= 0) {
      const od::SettingsField& f = page()[static_cast<size_t>(settingsFirst_ + row)];
      setSetting(f.index, od::steppedValue(f, value(f.index), direction));
    } else {
      const int last = std::max(0, static_cast<int>(page().size()) - kSettingsRows);
      settingsFirst_ = std::clamp(settingsFirst_ - direction, 0, last);
      repaint();
    }
    return true;
  }

  // A setting moved on the page: a parameter change the host sees whole.
  void setSetting(int index, int32_t v) {
    if (v == value(index)) return;
    edit(index, v);
    repaint();
  }

  // The menu's entry under a panel point, or -1.
  int menuEntryAt(double x, double y) const {
    const int column = static_cast<int>(std::floor((x - 2) / kMenuColumn));
    const int row = static_cast<int>(std::floor((y - kMenuTop) / kMenuRow));
    if (x < 2 || column >= kMenuColumns || row < 0 || row >= kMenuRows) return -1;
    const int entry = menuFirst_ + column * kMenuRows + row;
    return entry < static_cast<int>(menu_.size()) ? entry : -1;
  }

  bool pickFromMenu(double x, double y) {
    const int entry = menuEntryAt(x, y);
    std::vector<MenuRow> menu;
    menu.swap(menu_);
    if (entry >= 0) {
      const MenuRow& row = menu[static_cast<size_t>(entry)];
      if (row.program >= 0)
        loadProgramFromPanel(row.program);
      else if (row.page >= 0)
        showSoundsMenu(row.page);
      else if (!row.path.empty())
        openFile(row.path);
      else
        menu.swap(menu_);  // a heading keeps the menu open
    }
    repaint();
    return true;
  }

  // The bank, then a page of the player's own sounds, with a way to the
  // pages before and after it.
  void showSoundsMenu(size_t page = 0) {
    menu_.clear();
    menuFirst_ = 0;
    const auto& programs = od::plugin::programs();
    for (size_t i = 0; i < programs.size(); ++i) {
      if (!programs[i].category.empty() &&
          (i == 0 || programs[i].category != programs[i - 1].category))
        menu_.push_back({programs[i].category, -1, {}, false, -1});
      menu_.push_back({programs[i].name,
                       static_cast<int>(i),
                       {},
                       !hasSaved_ && program_ == static_cast<int>(i),
                       -1});
    }
    const std::vector<od::FolderSound> own = ownSounds();
    const size_t pages = od::folderPageCount(own.size());
    page = std::min(page, pages > 0 ? pages - 1 : 0);
    std::string heading = own.empty() ? "No sounds of your own yet" : "Your sounds";
    if (pages > 1) heading += " " + std::to_string(page + 1) + " of " + std::to_string(pages);
    const int headingAt = static_cast<int>(menu_.size());
    menu_.push_back({heading, -1, {}, false, -1});
    const auto pageRow = [&](size_t to, const char* label) {
      menu_.push_back({label, -1, {}, false, static_cast<int>(to)});
    };
    if (page > 0) pageRow(page - 1, "\u25C2 Previous sounds");
    for (const od::FolderSound& f : od::folderPage(own, page))
      menu_.push_back({f.name, -1, f.path, hasSaved_ && f.name == name_, -1});
    if (page + 1 < pages) pageRow(page + 1, "Next sounds \u25B8");
    // A page of the folder opens where its sounds begin.
    if (page > 0) menuFirst_ = headingAt / kMenuRows * kMenuRows;
  }

  // The host's file browser where the format has one that answers (LV2's
  // request; CLAP's claims success and shows nothing), the framework's
  // otherwise, and the sounds menu when neither can be shown.
  void openBrowser() {
    if (std::strcmp(getPluginFormatName(), "LV2") == 0 && requestStateFile(kPatchFileStateKey)) {
      hostFileAsked_ = true;
      return;
    }
    const std::string folder = od::userSoundsDirectory();
    FileBrowserOptions options;
    options.title = "Open a sound";
    if (!folder.empty() && std::filesystem::is_directory(folder)) options.startDir = folder.c_str();
    if (!openFileBrowser(options)) showSoundsMenu();
  }

  void uiFileBrowserSelected(const char* filename) override {
    if (tuning_.browsing() && filename != nullptr && filename[0] != '\0')
      takeTuning(tuning_.chosen(filename, tuning()));
    else if (filename != nullptr && filename[0] != '\0')
      openFile(filename);
    repaint();
  }

  // The tuning, the player's: its chooser on the player settings page hands back
  // the texts the plugin's state keeps.
  od::Tuning tuning() const { return link_ ? link_->currentTuning() : od::Tuning{}; }
  bool takeTuning(const od::plugin::TuningChooser::Request& r) {
    using Kind = od::plugin::TuningChooser::Request::Kind;
    if (!r.problem.empty()) status_ = r.problem;
    if (r.kind == Kind::Set) {
      setState(od::plugin::kScaleKey, r.tuning.scale.c_str());
      setState(od::plugin::kKeyboardMapKey, r.tuning.map.c_str());
    }
    FileBrowserOptions options;
    options.title = "Open a Scala tuning (.scl, .kbm)";
    const std::string folder = od::userTuningsDirectory();
    if (!folder.empty() && std::filesystem::is_directory(folder)) options.startDir = folder.c_str();
    if (r.kind == Kind::Browse && !openFileBrowser(options)) status_ = "no file browser to open";
    repaint();
    return r.kind != Kind::None;
  }

  void openFile(const std::string& path) {
    std::string reason;
    const std::string stem = od::folderSoundName(path);
    const auto patch = od::plugin::readPatchFile(path, reason);
    if (!patch) {
      status_ = stem + ": " + reason;
      return;
    }
    od::Sound s = sound_;
    od::applyPatch(s, *patch, &status_);  // what of its keyed lines was not read
    name_ = stem;
    hasSaved_ = true;  // loadFromPanel keeps the file's sound as saved
    loadFromPanel(s);
  }

  void saveTyped() {
    typing_ = false;
    if (!fileNameAllowed(typed_)) {
      status_ = typed_.empty() ? "type a name to save" : "not a file name";
      repaint();
      return;
    }
    const std::filesystem::path folder = od::userSoundsDirectory();
    if (folder.empty()) {
      status_ = "no data folder to save in";
      repaint();
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::filesystem::path target = folder / (typed_ + ".vx");
    // A sound of the player's is replaced only when Save is asked twice.
    if (std::filesystem::exists(target, ec) && replacing_ != typed_) {
      replacing_ = typed_;
      status_ = typed_ + " exists: Save again to replace";
      repaint();
      return;
    }
    replacing_.clear();
    std::string error;
    if (!od::writePatchFile(target.string(), od::savedPatch(sound_), &error)) {
      status_ = "not saved: " + error;
    } else {
      status_ = "saved " + typed_;
      name_ = typed_;
      saved_ = sound_;
      hasSaved_ = true;
      typed_.clear();
      history().amend(currentState().origin);
    }
    repaint();
  }

  void loadProgramFromPanel(int index) {
    const auto& programs = od::plugin::programs();
    if (index < 0 || index >= static_cast<int>(programs.size())) return;
    program_ = index;
    name_ = programs[static_cast<size_t>(index)].name;
    hasSaved_ = false;
    loadFromPanel(programs[static_cast<size_t>(index)].sound);
  }

  // A whole sound chosen in the panel: the curves through the state, every
  // value as a parameter, so the host's own controls follow.
  void loadFromPanel(const od::Sound& s, bool step = true) {
    sound_ = s;
    setState(kPatchStateKey, od::formatPatch(od::savedPatch(sound_)).c_str());
    writeEveryParameter();
    if (hasSaved_ && step) saved_ = sound_;
    if (step) history().record(currentState());
    showSound();
  }

  void writeEveryParameter() {
    for (int i = 0; i < od::kParameterCount; ++i) {
      if (!od::soundOwned(i)) continue;
      editParameter(static_cast<uint32_t>(i), true);
      setParameterValue(static_cast<uint32_t>(i), static_cast<float>(value(i)));
      editParameter(static_cast<uint32_t>(i), false);
    }
  }

  bool modified() const {
    if (hasSaved_) return !(sound_ == saved_);
    const auto& programs = od::plugin::programs();
    return program_ < static_cast<int>(programs.size()) &&
           !(sound_ == programs[static_cast<size_t>(program_)].sound);
  }

  void reread() {
    if (!link_) return;
    generation_ = link_->soundGeneration();
    const od::Sound now = link_->currentSound();
    // The panel's own loads come back as they went; anything else is named anew.
    const bool changed = !(now == sound_);
    sound_ = now;
    if (changed) {
      nameTheSound();
      history().record(currentState());
    }
    // The file the host's browser gave the plugin: LV2 hosts learn its
    // values only from the panel.
    if (hostFileAsked_) {
      hostFileAsked_ = false;
      writeEveryParameter();
    }
    showSound();
  }

  // A sound that arrived whole (a session, a state, a preset): named after
  // the bank's sound or the player's file it is, else called unsaved, so a
  // reopened session never shows another sound's name.
  void nameTheSound() {
    const auto& programs = od::plugin::programs();
    for (size_t i = 0; i < programs.size(); ++i) {
      if (programs[i].sound == sound_) {
        program_ = static_cast<int>(i);
        name_ = programs[i].name;
        hasSaved_ = false;
        return;
      }
    }
    saved_ = sound_;
    hasSaved_ = true;
    name_ = "Unsaved sound";
    for (const od::FolderSound& f : ownSounds()) {
      std::string reason;
      const auto patch = od::plugin::readPatchFile(f.path, reason);
      od::Sound s = sound_;
      if (patch) od::applyPatch(s, *patch);
      if (patch && s == sound_) {
        name_ = f.name;
        return;
      }
    }
  }

  void curveEvent(od::PointerAction a, double deviceX, double deviceY) {
    const int id = curveDrag_ ? curveDrag_ : canvases_.canvasAt(deviceX, deviceY);
    int x = 0, y = 0;
    canvases_.toCanvas(id, deviceX, deviceY, x, y);
    od::handleCurveEditorEvent(curves_, id, a, x, y);
    showCursor(canvases_.pointerShape(id), false);
    repaint();
  }

  // The pointer's look as the editors ask for it, a caret over the name field.
  void showCursor(od::PointerShape shape, bool text) {
    const MouseCursor c = text                                    ? kMouseCursorCaret
                          : shape == od::PointerShape::Hand       ? kMouseCursorHand
                          : shape == od::PointerShape::NotAllowed ? kMouseCursorNotAllowed
                                                                  : kMouseCursorArrow;
    if (c == cursor_) return;
    cursor_ = c;
    getWindow().setCursor(c);
  }

  // The drag's curve goes to the sound, and the sound to the plugin.
  void finishCurveDrag(double deviceX, double deviceY) {
    const int id = curveDrag_;
    curveEvent(od::PointerAction::Release, deviceX, deviceY);
    curveDrag_ = 0;
    for (int row = 0; row < od::kWobbleRows; ++row)
      if (editorIds_[static_cast<size_t>(row)] == id)
        if (const od::CurveEditor* e = od::findCurveEditor(curves_, id))
          sound_.curves[static_cast<size_t>(row)] = od::curvePointsOf(*e->model);
    setState(kPatchStateKey, od::formatPatch(od::savedPatch(sound_)).c_str());
    history().record(currentState());
    repaint();
  }

  void redrawDisplay() {
    const auto at = [this](int row) {
      return static_cast<float>(value(od::pointIndex(row))) / 100.0f;
    };
    od::redrawWaveformDisplay(canvases_, displayId_, at(od::kRowX1), at(od::kRowY1), at(od::kRowX2),
                              at(od::kRowY2));
  }

  void showSound() {
    for (int row = 0; row < od::kWobbleRows; ++row) {
      const int id = editorIds_[static_cast<size_t>(row)];
      if (od::CurveEditor* e = od::findCurveEditor(curves_, id)) {
        od::setCurvePoints(*e->model, sound_.curves[static_cast<size_t>(row)]);
        od::redrawCurveEditor(curves_, id);
      }
    }
    redrawDisplay();
    repaint();
  }

  struct MenuRow {
    std::string label;
    int program = -1;  // a bank sound, or -1
    std::string path;  // a file of the user's, or a heading when empty too
    bool current = false;
    int page = -1;  // a page of the user's files this row turns to, or -1
  };
  MouseCursor cursor_ = kMouseCursorArrow;
  struct SurfaceGone {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  };
  std::unique_ptr<cairo_surface_t, SurfaceGone> frame_;

  od::CairoCanvasHost canvases_;
  od::CurveEditorSet curves_;
  std::array<int, od::kWobbleRows> editorIds_{};
  int displayId_ = 0;
  std::vector<Control> controls_;
  // The settings view's pages: the sound's settings, the player's.
  const std::array<std::vector<od::SettingsField>, 2> pages_{
      od::settingsPage(od::soundSettingEntries()), od::settingsPage(od::playerSettingEntries())};
  int pageShown_ = 0;
  const std::vector<od::SettingsField>& page() const {
    return pages_[static_cast<size_t>(pageShown_)];
  }
  std::array<int32_t, od::kParameterCount> players_{};  // the player's settings, by entry
  od::SoundHistory ownHistory_;                         // when the plugin cannot be reached
  od::ValueEntry entry_;
  Box entryBox_{};
  Control* tipFor_ = nullptr;  // the slider whose value is shown beside it
  Box tipBox_{};
  od::DoubleClick doubleClick_;
  std::optional<od::SliderDrag> sliderDrag_;
  bool settingsShown_ = false;
  int settingsHover_ = -1;
  bool reportLatency_ = false;  // as the plugin's state says
  bool latencyHover_ = false;
  int settingsFirst_ = 0;
  Control* hover_ = nullptr;
  int menuHover_ = -1;  // the sounds menu's entry under the pointer
  Control* drag_ = nullptr;
  double dragY_ = 0;
  int curveDrag_ = 0;
  od::plugin::PanelLink* link_ = nullptr;
  od::plugin::TuningChooser tuning_{kSettingsPage.x + 12, kSettingsPage.y + kSettingsPage.h - 30,
                                    kSettingsPage.w - 24};
  uint32_t generation_ = 0;
  od::Sound sound_;
  od::Sound saved_;
  bool hasSaved_ = false;
  bool hostFileAsked_ = false;
  std::string replacing_;  // the name Save was last asked to replace
  int program_ = 0;
  std::string name_;
  std::vector<MenuRow> menu_;
  int menuFirst_ = 0;
  bool typing_ = false;
  std::string typed_;
  std::string status_;

  DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(OndelithUI)
};

UI* createUI() { return new OndelithUI(); }

END_NAMESPACE_DISTRHO
