#include "app/sound_commands.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "app/patch_commands.h"
#include "engine/program_change.h"

namespace ondelith {

namespace {

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool samePlace(const SoundOrigin& origin, const SoundChoice& choice) {
  if (origin.kind == SoundOrigin::Kind::Bank) return choice.bankNumber == origin.bankNumber;
  if (origin.kind == SoundOrigin::Kind::File)
    return choice.bankNumber == 0 && choice.path == origin.path;
  return false;
}

// The sound just applied to the instrument, as a step from `origin`.
void chosen(Synth& s, SoundOrigin origin) {
  showSound(s);
  SoundState state;
  state.sound = s.instrument.sound();
  origin.sound = state.sound;
  state.origin = std::move(origin);
  s.history.record(state);
}

}  // namespace

std::vector<SoundChoice> playerSounds(const std::string& folder) {
  std::vector<SoundChoice> sounds;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::filesystem::path& p = entry.path();
    if (lowered(p.extension().string()) != ".vx" || !entry.is_regular_file(error)) continue;
    sounds.push_back({soundNameOf(p.string()), "", 0, p.string()});
  }
  std::sort(sounds.begin(), sounds.end(), [](const SoundChoice& a, const SoundChoice& b) {
    const std::string x = lowered(a.name), y = lowered(b.name);
    return x != y ? x < y : a.path < b.path;
  });
  return sounds;
}

std::vector<SoundChoice> soundChoices(const std::string& folder) {
  std::vector<SoundChoice> choices;
  for (const BankSound& b : factoryBank())
    choices.push_back({std::string(b.name), std::string(b.category), b.number, ""});
  for (SoundChoice& c : playerSounds(folder)) choices.push_back(std::move(c));
  return choices;
}

std::string soundNameOf(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.size() > 3 && lowered(name.substr(name.size() - 3)) == ".vx")
    name.resize(name.size() - 3);
  return name;
}

SoundState currentState(const Synth& s) {
  SoundState state;
  state.sound = s.instrument.sound();
  state.origin = s.history.present().origin;
  return state;
}

void showState(Synth& s, const SoundState& state) {
  s.instrument.setSound(state.sound);
  showSound(s);
}

bool chooseBankSound(Synth& s, int number) {
  const BankSound* entry = bankSoundNumbered(number);
  if (!entry) return false;
  recordChange(s);  // a change not yet a step stays one to go back to
  s.instrument.applyPatch(readPatchText(entry->patch));
  SoundOrigin origin;
  origin.kind = SoundOrigin::Kind::Bank;
  origin.bankNumber = entry->number;
  origin.name = std::string(entry->name);
  chosen(s, std::move(origin));
  return true;
}

bool chooseStartUpSound(Synth& s) {
  recordChange(s);
  s.instrument.setSound(startSound());
  chosen(s, SoundOrigin{});
  return true;
}

std::string openPatchValues(Synth& s, const Patch& patch, const std::string& path) {
  recordChange(s);
  std::string report;
  s.instrument.applyPatch(patch, &report);
  SoundOrigin origin;
  origin.kind = SoundOrigin::Kind::File;
  origin.name = soundNameOf(path);
  origin.path = path;
  chosen(s, std::move(origin));
  return report;
}

int stepChoice(const std::vector<SoundChoice>& choices, const SoundOrigin& origin, int direction) {
  if (choices.empty()) return -1;
  const auto n = static_cast<int>(choices.size());
  const auto it = std::find_if(choices.begin(), choices.end(),
                               [&](const SoundChoice& c) { return samePlace(origin, c); });
  if (it == choices.end()) return direction > 0 ? 0 : n - 1;
  return (static_cast<int>(it - choices.begin()) + (direction > 0 ? 1 : -1) + n) % n;
}

bool takeProgramChange(Synth& s) {
  const uint32_t request = s.engine.programRequest.load(std::memory_order_relaxed);
  if (request == s.programSeen) return false;
  s.programSeen = request;
  const BankSound* entry =
      request ? bankSoundForProgram(static_cast<int>(request & 0xFF)) : nullptr;
  return entry && chooseBankSound(s, entry->number);
}

void recordChange(Synth& s, int mergeKey, int64_t atMs) {
  s.history.record(currentState(s), mergeKey, atMs);
}

bool undoSound(Synth& s) {
  recordChange(s);
  const SoundState* state = s.history.undo();
  if (!state) return false;
  showState(s, *state);
  return true;
}

bool redoSound(Synth& s) {
  recordChange(s);  // a change made since undoing goes first, and leaves nothing to redo
  const SoundState* state = s.history.redo();
  if (!state) return false;
  showState(s, *state);
  return true;
}

std::string windowTitle(const SoundState& state) {
  const bool startUp = state.origin.kind == SoundOrigin::Kind::StartUp;
  if (startUp && !state.changed()) return "Ondelith";
  const std::string name = startUp ? std::string(kStartUpSoundName) : state.origin.name;
  return "Ondelith \u2014 " + name + (state.changed() ? " *" : "");
}

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
    if (key == "name") origin.name = std::string(value);
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
