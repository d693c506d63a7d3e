#include "plugin/tuning_chooser.h"

#include <filesystem>

#include "platform/tuning_file.h"

namespace ondelith::plugin {

namespace {

// Room for the list under the settings' rows.
constexpr size_t kMostItems = 16;

void paint(cairo_t* cr, double x, double y, double w, double h, double fill) {
  cairo_set_source_rgb(cr, fill, fill, fill);
  cairo_rectangle(cr, x + 0.5, y + 0.5, w, h);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
}

void write(cairo_t* cr, double x, double y, const std::string& s) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 11);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, s.c_str());
}

}  // namespace

double TuningChooser::listTop() const { return y_ - kRow * static_cast<double>(items_.size()); }

void TuningChooser::draw(cairo_t* cr, const Tuning& now) const {
  write(cr, x_, y_ + 14, "Tuning");
  paint(cr, x_ + 60, y_, width_ - 60, kRow + 2, 1.0);
  write(cr, x_ + 64, y_ + 14, tuningName(now) + "  \u25B4");
  for (size_t k = 0; k < items_.size(); ++k) {
    const double top = listTop() + kRow * static_cast<double>(k);
    paint(cr, x_ + 60, top, width_ - 60, kRow, 0.96);
    const Item& i = items_[k];
    const bool current = !i.browse && i.tuning == now;
    write(cr, x_ + 64, top + 13, (current ? "\u2713 " : "   ") + i.text);
  }
}

void TuningChooser::fill(const Tuning& now) {
  items_ = {{"12-TET", {"", now.map}, false}, {"Standard keyboard map", {now.scale, ""}, false}};
  for (const TuningFile& f : tuningFiles(userTuningsDirectory())) {
    if (items_.size() + 1 >= kMostItems) break;
    Tuning t = now;
    std::string reason;
    if (readTuningFile(f.path, f.map, t, reason)) items_.push_back({f.name, t, false});
  }
  items_.push_back({"Open...", now, true});
}

TuningChooser::Request TuningChooser::press(double x, double y, const Tuning& now) {
  const bool onLine = x >= x_ + 60 && x < x_ + width_ && y >= y_ && y < y_ + kRow + 2;
  if (items_.empty()) {
    if (!onLine) return {};
    fill(now);
    return {Request::Kind::Redraw, {}, {}};
  }
  const double row = (y - listTop()) / kRow;
  const bool inList =
      x >= x_ + 60 && x < x_ + width_ && row >= 0 && row < static_cast<double>(items_.size());
  const Item picked = inList ? items_[static_cast<size_t>(row)] : Item{};
  items_.clear();
  if (!inList) return {Request::Kind::Redraw, {}, {}};
  browsing_ = picked.browse;
  if (picked.browse) return {Request::Kind::Browse, {}, {}};
  return {Request::Kind::Set, picked.tuning, {}};
}

TuningChooser::Request TuningChooser::chosen(const std::string& path, const Tuning& now) {
  browsing_ = false;
  Tuning t = now;
  std::string reason;
  if (!readTuningFile(path, isKeyboardMapName(path), t, reason))
    return {
        Request::Kind::Redraw, {}, std::filesystem::path(path).filename().string() + ": " + reason};
  return {Request::Kind::Set, t, {}};
}

}  // namespace ondelith::plugin
