#include "instrument/kept_sound.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "instrument/shown_name.h"

namespace ondelith {

// The kept sound: a header line, then one "key value" a line. The sounds are
// the patch's 81 values after the wobble's length, which Open may have taken
// beyond the Duration slider's range; each keyed line of their patches
// follows on a line of its own.
namespace {

constexpr std::string_view kKeptHeader = "Ondelith kept sound";

std::string soundLines(std::string_view key, const Sound& sound) {
  const Patch patch = savedPatch(sound);
  std::string text(key);
  text.append(" ").append(std::to_string(sound.wobbleDurationMs));
  for (int32_t v : patch.values) text.append(" ").append(std::to_string(v));
  text += '\n';
  for (const KeyedLine& line : patch.keyed)
    text.append(key).append("-keyed ").append(line.key).append("=").append(line.value) += '\n';
  return text;
}

// A sound as the kept text gives it: the wobble's length, the 81 values and
// the keyed lines read so far.
struct KeptSound {
  bool read = false;
  int32_t wobbleMs = 0;
  Patch patch;
};

bool readNumbers(std::string_view text, KeptSound& kept) {
  std::array<int32_t, kPatchLines + 1> numbers{};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (at == end || *at != ' ') return false;
      ++at;
    }
    const auto [next, error] = std::from_chars(at, end, numbers[i]);
    if (error != std::errc()) return false;
    at = next;
  }
  if (at != end) return false;
  std::copy(numbers.begin() + 1, numbers.end(), kept.patch.values.begin());
  kept.wobbleMs = numbers[0];
  kept.read = true;
  return true;
}

bool readKeyed(std::string_view text, KeptSound& kept) {
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) return false;
  KeyedLine line{std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))};
  if (!isPatchKey(line.key) || !isPatchValue(line.value)) return false;
  kept.patch.keyed.push_back(std::move(line));
  return true;
}

Sound keptSound(const KeptSound& kept) {
  Sound sound = startSound();
  applyPatch(sound, kept.patch);
  sound.wobbleDurationMs =
      static_cast<int32_t>(limitParam(Param::WobbleDuration, static_cast<double>(kept.wobbleMs)));
  return sound;
}

bool readOrigin(std::string_view value, SoundOrigin& origin) {
  if (value == "start-up" || value == "file") {
    origin.kind = value == "file" ? SoundOrigin::Kind::File : SoundOrigin::Kind::StartUp;
    return true;
  }
  if (!value.starts_with("bank ")) return false;
  int number = 0;
  const std::string_view digits = value.substr(5);
  const auto [next, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  const BankSound* entry = bankSoundNumbered(number);
  if (error != std::errc() || next != digits.data() + digits.size() || !entry) return false;
  origin.kind = SoundOrigin::Kind::Bank;
  origin.bankNumber = number;
  origin.name = std::string(entry->name);
  return true;
}

// Everything a kept text says, line by line.
struct KeptText {
  SoundOrigin origin;
  bool from = false;
  KeptSound sound, cameAs;

  bool take(std::string_view key, std::string_view value) {
    if (key == "from") return from = readOrigin(value, origin);
    if (key == "name") origin.name = shownName(value);
    if (key == "path") origin.path = std::string(value);
    if (key == "sound") return readNumbers(value, sound);
    if (key == "as-it-came") return readNumbers(value, cameAs);
    if (key == "sound-keyed") return readKeyed(value, sound);
    if (key == "as-it-came-keyed") return readKeyed(value, cameAs);
    return true;  // a line of a later version
  }
};

bool oneLine(const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; }

}  // namespace

std::string formatKeptSound(const SoundState& state) {
  std::string text = std::string(kKeptHeader) + "\n";
  const SoundOrigin& o = state.origin;
  switch (o.kind) {
    case SoundOrigin::Kind::StartUp: text += "from start-up\n"; break;
    case SoundOrigin::Kind::Bank: text += "from bank " + std::to_string(o.bankNumber) + "\n"; break;
    case SoundOrigin::Kind::File:
      text += "from file\n";
      if (oneLine(o.name)) text += "name " + o.name + "\n";
      if (oneLine(o.path)) text += "path " + o.path + "\n";
      break;
  }
  text += soundLines("sound", state.sound);
  text += soundLines("as-it-came", o.sound);
  return text;
}

bool parseKeptSound(std::string_view text, SoundState& state) {
  if (!text.starts_with(kKeptHeader) || text.size() > 64 * 1024) return false;
  KeptText kept;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    const size_t space = line.find(' ');
    const std::string_view value = space == std::string_view::npos ? "" : line.substr(space + 1);
    if (!kept.take(line.substr(0, space), value)) return false;
  }
  if (!kept.sound.read || !kept.cameAs.read || !kept.from) return false;
  SoundState read;
  read.origin = kept.origin;
  if (read.origin.kind != SoundOrigin::Kind::File) read.origin.path.clear();
  if (read.origin.kind == SoundOrigin::Kind::StartUp) read.origin.name.clear();
  read.sound = keptSound(kept.sound);
  read.origin.sound = keptSound(kept.cameAs);
  state = read;
  return true;
}

}  // namespace ondelith
