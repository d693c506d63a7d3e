// Finishes the LV2 bundle's data after the framework's generator: unit
// renders that format a host's float, and the factory presets written from
// the bank (numbered labels, the bank's categories as preset banks, the
// sound's ports only, never the player's). Run in the bundle's folder.
#include "plugin/lv2_data.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "DistrhoPluginInfo.h"
#include "instrument/patch_format.h"
#include "instrument/registry.h"
#include "instrument/sound_bank.h"
#include "plugin/plugin_core.h"

namespace {

using namespace ondelith;
using ondelith::plugin::programs;

const std::string kUri = DISTRHO_PLUGIN_URI;

std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool save(const char* path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// A Turtle long string's body: the patch text holds no quotes today, but a
// name may one day.
std::string turtleString(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// The framework's data with each render taken from its port's row.
std::string withRenders(const std::string& ttl) {
  std::istringstream in(ttl);
  std::string out, line, symbol;
  while (std::getline(in, line)) {
    const size_t s = line.find("lv2:symbol \"");
    if (s != std::string::npos) {
      const size_t from = s + 12;
      symbol = line.substr(from, line.find('"', from) - from);
    }
    const size_t r = line.find("unit:render \"");
    const int index = parameterIndex(symbol);
    if (r != std::string::npos && index >= 0)
      line = line.substr(0, r) + "unit:render \"" + plugin::lv2UnitRender(index) + "\" ;";
    out += line + '\n';
  }
  return out;
}

std::string presetUri(size_t program) {
  char number[8];
  std::snprintf(number, sizeof number, "%03zu", program + 1);  // the framework's, kept for sessions
  return kUri + "#preset" + number;
}

std::string bankUri(std::string_view category) { return kUri + "#bank-" + std::string(category); }

// The manifest's presets, each in its category's bank.
std::string manifestPresets() {
  std::string out;
  for (const std::string_view category : bankCategories())
    out += std::string("<") + bankUri(category) + ">\n    a pset:Bank ;\n    rdfs:label \"" +
           categoryTitle(category) + "\" .\n\n";
  const auto& list = programs();
  for (size_t i = 0; i < list.size(); ++i) {
    out += std::string("<") + presetUri(i) + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + kUri +
           "> ;\n";
    out +=
        std::string("    rdfs:label \"") + turtleString(plugin::lv2PresetLabel(list[i])) + "\" ;\n";
    if (const BankSound* entry = bankSoundNumbered(list[i].number))
      out += std::string("    pset:bank <") + bankUri(entry->category) + "> ;\n";
    out += "    rdfs:seeAlso <presets.ttl> .\n\n";
  }
  return out;
}

// Each preset: the sound's patch, and the ports the sound owns at its
// values. The player's ports are left out, so a preset never moves them.
std::string presets() {
  std::string out =
      "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
      "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
      "@prefix owl:   <http://www.w3.org/2002/07/owl#> .\n"
      "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
      "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
      "@prefix xsd:   <http://www.w3.org/2001/XMLSchema#> .\n\n";
  const std::string patchKey = DISTRHO_PLUGIN_LV2_STATE_PREFIX "patch";
  out += std::string("<") + patchKey +
         ">\n    a owl:DatatypeProperty ;\n    rdfs:label \"Plugin state key-value string pair\" "
         ";\n    rdfs:domain state:State ;\n    rdfs:range xsd:string .\n\n";
  const auto& list = programs();
  for (size_t i = 0; i < list.size(); ++i) {
    plugin::SharedSound shared;
    shared.setSound(list[i].sound);
    out += std::string("<") + presetUri(i) + ">\n    state:state [\n        <" + patchKey +
           ">\n\"\"\"" + turtleString(formatPatch(savedPatch(list[i].sound))) +
           "\"\"\" ;\n    ] ;\n\n";
    std::string ports;
    for (int k = 0; k < kParameterCount; ++k) {
      if (parameter(k).owner != Owner::Sound) continue;
      ports += std::string(ports.empty() ? "    lv2:port [\n" : "    ] , [\n") +
               "        lv2:symbol \"" + std::string(parameter(k).symbol) +
               "\" ;\n        pset:value " + std::to_string(shared.value(k)) + " ;\n";
    }
    out += ports + "    ] .\n\n";
  }
  return out;
}

}  // namespace

int main() {
  const std::string ttl = slurp("ondelith.ttl");
  const std::string manifest = slurp("manifest.ttl");
  const size_t firstPreset = manifest.find("<" + kUri + "#preset");
  if (ttl.empty() || manifest.empty() || firstPreset == std::string::npos) {
    std::cerr << "ondelith_lv2_data: no ondelith.ttl or manifest.ttl with presets here\n";
    return 1;
  }
  if (!save("ondelith.ttl", withRenders(ttl)) ||
      !save("manifest.ttl", manifest.substr(0, firstPreset) + manifestPresets()) ||
      !save("presets.ttl", presets())) {
    std::cerr << "ondelith_lv2_data: the bundle's data cannot be written\n";
    return 1;
  }
  return 0;
}
