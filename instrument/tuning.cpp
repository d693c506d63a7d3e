#include "instrument/tuning.h"

#include <cmath>

namespace ondelith {

namespace {

int floorDiv(int a, int b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Cents of a degree above degree 0, past the period as whole periods.
double degreeCents(const ScalaScale& scale, int degree) {
  const int n = static_cast<int>(scale.cents.size());
  if (n == 0) return 0;
  const int periods = floorDiv(degree, n);
  const int within = degree - periods * n;
  const double base = within == 0 ? 0.0 : scale.cents[static_cast<size_t>(within - 1)];
  return base + periods * scale.cents.back();
}

// Cents of a key above the middle key's degree 0; false for a key that
// plays nothing.
bool keyCents(const ScalaScale& scale, const KeyboardMap& map, int key, double& cents) {
  if (key < map.firstKey || key > map.lastKey) return false;
  const int offset = key - map.middleKey;
  if (map.size == 0) {
    cents = degreeCents(scale, offset);
    return true;
  }
  const int repeats = floorDiv(offset, map.size);
  const int degree = map.degrees[static_cast<size_t>(offset - repeats * map.size)];
  if (degree == kUnmapped) return false;
  cents = degreeCents(scale, degree) + repeats * degreeCents(scale, map.octaveDegree);
  return true;
}

}  // namespace

ScalaScale equalTemperamentScale() {
  ScalaScale s{"12-TET", {}};
  for (int k = 1; k <= 12; ++k) s.cents.push_back(100.0 * k);
  return s;
}

KeyFrequencies keyFrequencies(const ScalaScale& scale, const KeyboardMap& map) {
  KeyFrequencies keys{};
  double reference = 0;
  if (!keyCents(scale, map, map.referenceKey, reference)) return keys;
  for (int key = 0; key < kKeyCount; ++key) {
    double cents = 0;
    if (!keyCents(scale, map, key, cents)) continue;
    const double hz = map.referenceHz * std::pow(2.0, (cents - reference) / 1200.0);
    if (hz >= kLowestKeyHz && hz <= kHighestKeyHz) keys[static_cast<size_t>(key)] = hz;
  }
  return keys;
}

bool tuningKeys(const Tuning& tuning, KeyFrequencies& keys, std::string& reason) {
  ScalaScale scale = equalTemperamentScale();
  KeyboardMap map = standardKeyboardMap();
  ScalaFault fault;
  if (!tuning.scale.empty() && !readScalaScale(tuning.scale, scale, fault)) {
    reason = "the scale: " + fault.text();
    return false;
  }
  if (!tuning.map.empty() && !readKeyboardMap(tuning.map, map, fault)) {
    reason = "the keyboard map: " + fault.text();
    return false;
  }
  keys = keyFrequencies(scale, map);
  return true;
}

std::string tuningName(const Tuning& tuning) {
  ScalaScale scale = equalTemperamentScale();
  ScalaFault fault;
  if (!tuning.scale.empty() && !readScalaScale(tuning.scale, scale, fault)) return "?";
  std::string name = scale.description.empty() ? "Scala scale" : scale.description;
  if (name.size() > 60) {
    size_t cut = 57;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name = name.substr(0, cut) + "...";
  }
  return tuning.map.empty() ? name : name + " (mapped)";
}

}  // namespace ondelith
