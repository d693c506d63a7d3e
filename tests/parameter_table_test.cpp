// Every parameter, as each host shows it, against its one row of the table:
// the window's control (range, label, tooltip), the plugin's range, default,
// unit and value text in LV2, VST3 and CLAP (the real bundles), and the
// patch line it is kept on.
#include <gtest/gtest.h>

#include "app/control_model.h"
#include "instrument/instrument.h"
#include "plugin/tests/clap_host.h"
#include "plugin/tests/lv2_host.h"
#include "plugin/tests/vst3_host.h"

namespace ondelith {
namespace {

// Three values of a row, within the range it starts with.
std::array<int32_t, 3> threeValues(int index) {
  const Bounds b = startBounds(index);
  const int32_t start = parameter(index).start;
  return {b.minimum, start, b.maximum};
}

// The text a plugin host shows for a value: the row's own text where the
// plugin hands its hosts texts (its choices), else the number.
std::string pluginText(int index, int32_t value) {
  const TextRule rule = parameter(index).text;
  return rule == TextRule::Choice || rule == TextRule::Channel ? parameterText(index, value)
                                                               : std::to_string(value);
}

std::string unitSymbol(int index) { return std::string(unitInfo(parameter(index).unit).symbol); }

// VST3 hosts may show a value's text alone: a number carries its unit.
std::string vst3Text(int index, int32_t value) {
  const TextRule rule = parameter(index).text;
  const std::string text = pluginText(index, value);
  if (rule == TextRule::Choice || rule == TextRule::Channel || unitSymbol(index).empty())
    return text;
  return text + " " + unitSymbol(index);
}

// What each host says of a row, gathered so one loop compares them.
struct Seen {
  double minimum = 0, maximum = 0, start = 0;
  std::string unit;
  std::vector<std::string> texts;  // for threeValues
};

class Lv2 {
 public:
  Lv2() {
    const auto uri = [this](const char* u) { return lilv_new_uri(host_.world, u); };
    unit_ = uri("http://lv2plug.in/ns/extensions/units#unit");
    symbol_ = uri("http://lv2plug.in/ns/extensions/units#symbol");
  }
  ~Lv2() {
    for (LilvNode* n : {unit_, symbol_}) lilv_node_free(n);
  }
  bool ok() const { return host_.plugin != nullptr; }

  Seen seen(int index) {
    Seen s;
    const LilvPlugin* plugin = host_.plugin;
    LilvNode* symbol = lilv_new_string(host_.world, std::string(parameter(index).symbol).c_str());
    const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
    lilv_node_free(symbol);
    if (!port) return s;
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range(plugin, port, &def, &min, &max);
    s = {lilv_node_as_float(min), lilv_node_as_float(max), lilv_node_as_float(def), {}, {}};
    for (LilvNode* n : {def, min, max}) lilv_node_free(n);
    // A unit of the LV2 units ontology or one of the plugin's own: either
    // way its symbol.
    if (LilvNodes* units = lilv_port_get_value(plugin, port, unit_)) {
      const LilvNode* u = lilv_nodes_get_first(units);
      if (LilvNode* sym = lilv_world_get(host_.world, u, symbol_, nullptr)) {
        s.unit = lilv_node_as_string(sym);
        lilv_node_free(sym);
      }
      lilv_nodes_free(units);
    }
    // The value texts LV2 carries: its scale points' labels.
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    for (int32_t v : threeValues(index)) {
      std::string text = std::to_string(v);
      LILV_FOREACH(scale_points, it, points) {
        const LilvScalePoint* p = lilv_scale_points_get(points, it);
        if (lilv_node_as_float(lilv_scale_point_get_value(p)) == v)
          text = lilv_node_as_string(lilv_scale_point_get_label(p));
      }
      s.texts.push_back(text);
    }
    lilv_scale_points_free(points);
    return s;
  }

 private:
  lv2test::Host host_;
  LilvNode *unit_ = nullptr, *symbol_ = nullptr;
};

std::string utf8(const int16_t* text) {
  std::string out;
  for (int k = 0; k < 128 && text[k]; ++k) out += static_cast<char>(text[k]);
  return out;
}

Seen vst3Seen(vst3test::Instance& plugin, int index) {
  Seen s;
  v3_edit_controller** c = plugin.controller;
  const v3_param_id id = vst3test::idOf(index);
  v3_param_info info{};
  if (v3_cpp_obj(c)->get_parameter_info(c, static_cast<int32_t>(id), &info) != V3_OK) return s;
  s.minimum = v3_cpp_obj(c)->normalised_parameter_to_plain(c, id, 0);
  s.maximum = v3_cpp_obj(c)->normalised_parameter_to_plain(c, id, 1);
  s.start = v3_cpp_obj(c)->normalised_parameter_to_plain(c, id, info.default_normalised_value);
  s.unit = utf8(info.units);
  for (int32_t v : threeValues(index)) {
    v3_str_128 text{};
    v3_cpp_obj(c)->get_parameter_string_for_value(
        c, id, v3_cpp_obj(c)->plain_parameter_to_normalised(c, id, v), text);
    s.texts.push_back(utf8(text));
  }
  return s;
}

// CLAP has no unit of its own: its value texts carry what the plugin gives.
Seen clapSeen(claptest::Instance& plugin, int index) {
  Seen s;
  clap_param_info_t info{};
  if (!plugin.params->get_info(plugin.plugin(), static_cast<uint32_t>(index), &info)) return s;
  s = {info.min_value, info.max_value, info.default_value, unitSymbol(index), {}};
  for (int32_t v : threeValues(index)) {
    char text[64] = {};
    plugin.params->value_to_text(plugin.plugin(), info.id, v, text, sizeof text);
    s.texts.push_back(text);
  }
  return s;
}

TEST(ParameterTable, EveryHostShowsEachParameterAsItsRowSays) {
  Lv2 lv2;
  ASSERT_TRUE(lv2.ok());
  vst3test::Module vst3Module(ONDELITH_VST3_BUNDLE);
  claptest::Module clapModule(ONDELITH_CLAP_PATH);
  ASSERT_TRUE(vst3Module.ok());
  ASSERT_TRUE(clapModule.ok());
  vst3test::Instance vst3(vst3Module, 48000);
  claptest::Instance clap(clapModule, 48000);
  ControlModel window;
  initControls(window);

  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    const std::array<int32_t, 3> values = threeValues(i);
    std::vector<std::string> texts;
    std::vector<std::string> vst3Texts;
    for (int32_t v : values) {
      texts.push_back(pluginText(i, v));
      vst3Texts.push_back(vst3Text(i, v));
    }

    // The window: a control with the row's range, the row's label beside
    // it, and the row's tooltip. The player's settings live in Settings, a
    // sound's settings on their own page.
    const ControlParam* control = nullptr;
    for (const ControlParam& c : kControlParams)
      if (c.index == i) control = &c;
    EXPECT_EQ(control == nullptr, p.owner == Owner::Player || isSoundSetting(i));
    if (control) {
      const ControlRange& r = window.range[static_cast<size_t>(control->id)];
      EXPECT_EQ(r.minimum, startBounds(i).minimum);
      EXPECT_EQ(r.maximum, startBounds(i).maximum);
      EXPECT_EQ(controlValue(window, control->id), p.start);
      if (control->label != 0) {
        EXPECT_EQ(findControl(control->label)->text, p.label);
      }
      for (int32_t v : values)
        EXPECT_EQ(controlToolTip(control->id, v),
                  std::string(p.name) + ": " + parameterDisplay(i, v));
    }

    // The plugin, in each format.
    const std::pair<const char*, Seen> formats[] = {
        {"LV2", lv2.seen(i)}, {"VST3", vst3Seen(vst3, i)}, {"CLAP", clapSeen(clap, i)}};
    for (const auto& [format, seen] : formats) {
      SCOPED_TRACE(format);
      EXPECT_EQ(seen.minimum, p.minimum);
      EXPECT_EQ(seen.maximum, p.maximum);
      EXPECT_EQ(seen.start, p.start);
      EXPECT_EQ(seen.unit, unitSymbol(i));
      EXPECT_EQ(seen.texts, std::string_view(format) == "VST3" ? vst3Texts : texts);
    }

    // The patch: a sound's value on its line, a player's in no patch.
    for (int32_t v : values) {
      Instrument instrument;
      const PatchValues before = instrument.capturePatch();
      instrument.setValue(i, v);
      const PatchValues after = instrument.capturePatch();
      if (p.patchLine > 0) {
        EXPECT_EQ(after[static_cast<size_t>(p.patchLine - 1)], v);
      } else if (p.owner == Owner::Player) {
        EXPECT_EQ(after, before);
      }
    }
  }
}

// What the table's rules give, checked against the texts people are shown
// today, so a wrong rule cannot pass by being the same everywhere.
TEST(ParameterTable, TheTextsPeopleSee) {
  ControlModel window;
  initControls(window);
  EXPECT_EQ(controlToolTip(kSliderF, 1500), "Filter cutoff: 1500 Hz");
  EXPECT_EQ(controlToolTip(spinFineId(kRowY1), 5), "Y1 wobble rate, fine: 0.05 x pitch");
  EXPECT_EQ(controlToolTip(kSpinDurationRange, kDurationRangeX1),
            "Wobble duration range: x1 (100 to 1000 ms)");
  EXPECT_EQ(window.text[static_cast<size_t>(spinFineId(kRowX1))], ".00");
  EXPECT_EQ(window.text[static_cast<size_t>(kSpinDurationRange)], "x10");
  EXPECT_EQ(findControl(labelCoarseId(kRowY2))->text, "CoarseY2ModF");
  EXPECT_EQ(findControl(kLabelRes)->text, "Res");
  EXPECT_EQ(window.range[static_cast<size_t>(kSliderDuration)].minimum, 1000);
  EXPECT_EQ(window.range[static_cast<size_t>(kSliderY2)].minimum, 50);
}

}  // namespace
}  // namespace ondelith
