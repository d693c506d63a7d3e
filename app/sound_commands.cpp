#include "app/sound_commands.h"

#include <algorithm>
#include <filesystem>

#include "app/patch_commands.h"
#include "engine/program_change.h"
#include "instrument/sound_folder.h"

namespace ondelith {

namespace {

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
  for (FolderSound& f : folderSounds(folder))
    sounds.push_back({std::move(f.name), "", 0, std::move(f.path)});
  return sounds;
}

std::vector<SoundChoice> soundChoices(const std::string& folder) {
  std::vector<SoundChoice> choices;
  for (const BankSound& b : factoryBank())
    choices.push_back({std::string(b.name), std::string(b.category), b.number, ""});
  for (SoundChoice& c : playerSounds(folder)) choices.push_back(std::move(c));
  return choices;
}

std::string soundNameOf(const std::string& path) { return folderSoundName(path); }

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
  // Read as the format reads any text, which may well be silence: said,
  // with the way back.
  origin.partial = patch.numberedLines < kPatchLines;
  if (origin.partial)
    report = std::to_string(patch.numberedLines) + " of " + std::to_string(kPatchLines) +
             " lines were numbers: Undo restores";
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
  return "Ondelith \u2014 " + name + (state.changed() || state.origin.partial ? " *" : "");
}

}  // namespace ondelith
