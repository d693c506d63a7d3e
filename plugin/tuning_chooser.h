#pragma once
// The panel's tuning chooser, on its player settings page: a line that names the
// tuning in force and, pressed, a list of 12-TET, the standard keyboard
// map, the player's Scala files and Open...; a choice is handed back as the
// texts the plugin's state keeps.

#include <cairo.h>

#include <string>
#include <vector>

#include "instrument/tuning.h"

namespace ondelith::plugin {

class TuningChooser {
 public:
  // The line's place on the panel; the list opens above it.
  TuningChooser(double x, double y, double width) : x_(x), y_(y), width_(width) {}

  // What a press asks of the panel.
  struct Request {
    enum class Kind { None, Redraw, Set, Browse } kind = Kind::None;
    Tuning tuning;        // Set: the tuning to set
    std::string problem;  // a file refused: its name, line and reason
  };
  void draw(cairo_t* cr, const Tuning& now) const;
  Request press(double x, double y, const Tuning& now);
  // The file a browser chose after Browse.
  Request chosen(const std::string& path, const Tuning& now);
  bool browsing() const { return browsing_; }

 private:
  struct Item {
    std::string text;
    Tuning tuning;  // what choosing it sets
    bool browse;    // Open...
  };
  void fill(const Tuning& now);
  double listTop() const;

  static constexpr double kRow = 18;
  double x_, y_, width_;
  std::vector<Item> items_;  // while the list is open
  bool browsing_ = false;
};

}  // namespace ondelith::plugin
