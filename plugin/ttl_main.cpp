// Writes the bundle's data files (manifest.ttl, ondelith.ttl) into the folder
// given, from the port table the plugin itself is built with.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin/ports.h"

namespace {

using namespace ondelith::lv2;

std::string uri(std::string_view u) {
  std::string out(1, '<');
  out.append(u);
  out += '>';
  return out;
}

const char* unitTerm(PortUnit unit) {
  switch (unit) {
    case PortUnit::Coefficient: return "units:coef";
    case PortUnit::Percent: return "units:pc";
    case PortUnit::Milliseconds: return "units:ms";
    case PortUnit::Hertz: return "units:hz";
    default: return nullptr;
  }
}

std::string manifest() {
  std::ostringstream t;
  t << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
    << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
    << uri(kPluginUri) << "\n"
    << "\ta lv2:Plugin ;\n"
    << "\tlv2:binary <" << kBinaryName << "> ;\n"
    << "\trdfs:seeAlso <ondelith.ttl> .\n";
  return t.str();
}

void controlPortText(std::ostringstream& t, const ControlPort& p, uint32_t index) {
  t << "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
    << "\t\tlv2:index " << index << " ;\n"
    << "\t\tlv2:symbol \"" << p.symbol << "\" ;\n"
    << "\t\tlv2:name \"" << p.name << "\" ;\n"
    << "\t\tlv2:default " << p.start << " ;\n"
    << "\t\tlv2:minimum " << p.minimum << " ;\n"
    << "\t\tlv2:maximum " << p.maximum << " ;\n"
    << "\t\tlv2:portProperty lv2:integer" << (p.enumeration() ? " , lv2:enumeration" : "");
  if (p.enumeration()) {
    t << " ;\n\t\tlv2:scalePoint";
    for (size_t k = 0; k < p.choices.size(); ++k)
      t << (k ? " , " : " ") << "[\n\t\t\trdfs:label \"" << p.choices[k].label
        << "\" ;\n\t\t\trdf:value " << p.choices[k].value << "\n\t\t]";
  }
  if (p.unit == PortUnit::Hundredths) t << " ;\n\t\tunits:unit " << uri(kHundredthsUri);
  if (const char* unit = unitTerm(p.unit)) t << " ;\n\t\tunits:unit " << unit;
  t << "\n";
}

std::string plugin() {
  std::ostringstream t;
  t << "@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .\n"
    << "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    << "@prefix log:   <http://lv2plug.in/ns/ext/log#> .\n"
    << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    << "@prefix midi:  <http://lv2plug.in/ns/ext/midi#> .\n"
    << "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
    << "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    << "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    << "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    << "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    << "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n"
    << "@prefix work:  <http://lv2plug.in/ns/ext/worker#> .\n\n";

  t << uri(kHundredthsUri) << "\n"
    << "\ta units:Unit ;\n"
    << "\trdfs:label \"hundredths\" ;\n"
    << "\tunits:symbol \"/100\" .\n\n";

  t << uri(kPatchFileUri) << "\n"
    << "\ta lv2:Parameter ;\n"
    << "\trdfs:label \"Patch file\" ;\n"
    << "\trdfs:comment \"An Ondelith patch (.vx): its curves and controls replace the sound.\" ;\n"
    << "\trdfs:range atom:Path .\n\n";

  t << uri(kPluginUri) << "\n"
    << "\ta lv2:Plugin , lv2:InstrumentPlugin ;\n"
    << "\tdoap:name \"Ondelith\" ;\n"
    << "\trdfs:comment \"A monophonic synthesizer whose waveform is a Bezier curve with "
       "wobbling control points.\" ;\n"
    << "\tlv2:requiredFeature urid:map ;\n"
    << "\tlv2:optionalFeature lv2:hardRTCapable , log:log , work:schedule ;\n"
    << "\tlv2:extensionData state:interface , work:interface ;\n"
    << "\tpatch:writable " << uri(kPatchFileUri) << " ;\n"
    << "\tlv2:port [\n"
    << "\t\ta lv2:InputPort , atom:AtomPort ;\n"
    << "\t\tatom:bufferType atom:Sequence ;\n"
    << "\t\tatom:supports midi:MidiEvent , patch:Message ;\n"
    << "\t\tlv2:designation lv2:control ;\n"
    << "\t\tlv2:index " << kMidiInPort << " ;\n"
    << "\t\tlv2:symbol \"midi_in\" ;\n"
    << "\t\tlv2:name \"MIDI in\"\n"
    << "\t] , [\n"
    << "\t\ta lv2:OutputPort , lv2:AudioPort ;\n"
    << "\t\tlv2:index " << kAudioOutPort << " ;\n"
    << "\t\tlv2:symbol \"out\" ;\n"
    << "\t\tlv2:name \"Out\"\n";
  for (uint32_t i = 0; i < kControlPortCount; ++i) {
    t << "\t] , [\n";
    controlPortText(t, kControlPorts[i], kFirstControlPort + i);
  }
  t << "\t] .\n";
  return t.str();
}

bool write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (out) return true;
  std::fprintf(stderr, "ondelith-lv2-ttl: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ondelith-lv2-ttl BUNDLE_FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  return write(dir + "/manifest.ttl", manifest()) && write(dir + "/ondelith.ttl", plugin()) ? 0 : 1;
}
