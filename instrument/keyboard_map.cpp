#include "instrument/keyboard_map.h"

#include <charconv>
#include <cmath>
#include <string>

namespace ondelith {

namespace {

// Reference frequencies the voice can sound, with room to spare.
constexpr double kLowestReferenceHz = 1.0;
constexpr double kHighestReferenceHz = 100000.0;

struct Field {
  const char* what;
  long maximum;
  int KeyboardMap::*into;
};

// The header's whole numbers, in the file's order; the frequency comes
// between the reference key and the octave degree.
constexpr Field kKeysBefore[] = {
    {"the map's size", kMaxMapSize, &KeyboardMap::size},
    {"the first key", kKeyCount - 1, &KeyboardMap::firstKey},
    {"the last key", kKeyCount - 1, &KeyboardMap::lastKey},
    {"the middle key", kKeyCount - 1, &KeyboardMap::middleKey},
    {"the reference key", kKeyCount - 1, &KeyboardMap::referenceKey},
};

bool readHz(std::string_view word, double& hz) {
  if (word.empty() || word.front() == '-' || word.front() == '+') return false;
  for (char c : word)
    if ((c < '0' || c > '9') && c != '.') return false;
  const auto [end, error] =
      std::from_chars(word.data(), word.data() + word.size(), hz, std::chars_format::fixed);
  return error == std::errc() && end == word.data() + word.size() && hz >= kLowestReferenceHz &&
         hz <= kHighestReferenceHz;
}

class Reader {
 public:
  Reader(const std::vector<ScalaLine>& lines, ScalaFault& fault) : lines_(lines), fault_(fault) {}

  bool whole(const char* what, long maximum, int& out) {
    long v = 0;
    if (!next()) return ended(what);
    const std::string_view word = firstWord(line().text);
    if (readCount(word, v) && v <= maximum) {
      out = static_cast<int>(v);
      return true;
    }
    return refuse(line().number, joined({"\"", word, "\" is no value for ", what, " (0 to ",
                                         std::to_string(maximum), ")"}));
  }

  bool hz(double& out) {
    if (!next()) return ended("the reference frequency");
    const std::string_view word = firstWord(line().text);
    if (readHz(word, out)) return true;
    return refuse(line().number,
                  joined({"\"", word, "\" is no reference frequency (1 to 100000 Hz)"}));
  }

  // The mapping's entries; fewer than the size leave the keys after them unmapped.
  bool mapping(KeyboardMap& map) {
    map.degrees.assign(static_cast<size_t>(map.size), kUnmapped);
    for (size_t k = 0; next(); ++k) {
      const std::string_view word = firstWord(line().text);
      if (word.empty()) continue;
      if (k >= map.degrees.size())
        return refuse(line().number, joined({"more entries than the ", std::to_string(map.size),
                                             " keys the map names"}));
      lineOf_.resize(map.degrees.size(), 0);
      lineOf_[k] = line().number;
      long degree = 0;
      if (word == "x" || word == "X") continue;
      if (!readCount(word, degree) || degree > kMaxMapDegree)
        return refuse(line().number, joined({"\"", word, "\" is no degree (0 to ",
                                             std::to_string(kMaxMapDegree), ") and no \"x\""}));
      map.degrees[k] = static_cast<int>(degree);
    }
    return true;
  }

  // The map's entries' lines, for a fault found after reading them.
  int lineOf(size_t entry) const { return entry < lineOf_.size() ? lineOf_[entry] : 0; }
  bool refuse(int number, std::string reason) {
    fault_ = {number, std::move(reason)};
    return false;
  }

  static constexpr long kMaxMapDegree = 100000;

 private:
  bool next() { return ++at_ < lines_.size(); }
  const ScalaLine& line() const { return lines_[at_]; }
  bool ended(const char* what) {
    return refuse(0, joined({"the file ends before ", what, ": it is no keyboard map"}));
  }

  const std::vector<ScalaLine>& lines_;
  ScalaFault& fault_;
  size_t at_ = static_cast<size_t>(-1);
  std::vector<int> lineOf_;
};

// The reference key must sound: the tuning is given by its frequency.
bool referencePlays(const KeyboardMap& map, Reader& reader) {
  if (map.referenceKey < map.firstKey || map.referenceKey > map.lastKey)
    return reader.refuse(0, joined({"the reference key ", std::to_string(map.referenceKey),
                                    " lies outside the keys the map tunes"}));
  if (map.size == 0) return true;
  const int offset = map.referenceKey - map.middleKey;
  const int entry = ((offset % map.size) + map.size) % map.size;
  if (map.degrees[static_cast<size_t>(entry)] != kUnmapped) return true;
  return reader.refuse(reader.lineOf(static_cast<size_t>(entry)),
                       joined({"the reference key ", std::to_string(map.referenceKey),
                               " is unmapped, so nothing gives the tuning its pitch"}));
}

}  // namespace

KeyboardMap standardKeyboardMap() { return {}; }

bool readKeyboardMap(std::string_view text, KeyboardMap& out, ScalaFault& fault) {
  std::vector<ScalaLine> lines;
  if (!scalaLines(text, lines, fault)) return false;
  // Blank lines carry nothing in a map's header.
  std::erase_if(lines, [](const ScalaLine& l) { return firstWord(l.text).empty(); });
  Reader reader(lines, fault);
  KeyboardMap map;
  for (const Field& f : kKeysBefore)
    if (!reader.whole(f.what, f.maximum, map.*f.into)) return false;
  if (!reader.hz(map.referenceHz) ||
      !reader.whole("the octave degree", Reader::kMaxMapDegree, map.octaveDegree) ||
      !reader.mapping(map))
    return false;
  if (map.firstKey > map.lastKey)
    return reader.refuse(0, joined({"the first key ", std::to_string(map.firstKey),
                                    " comes after the last key ", std::to_string(map.lastKey)}));
  if (!referencePlays(map, reader)) return false;
  out = std::move(map);
  return true;
}

}  // namespace ondelith
