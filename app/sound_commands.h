#pragma once
// Sounds as the player goes through them, without a window: the bank and
// the player's own files to choose from, each choice and change a step to
// undo, the name the window's title gives the sound, and the sound kept
// from one run to the next.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/synth.h"
#include "instrument/kept_sound.h"
#include "instrument/sound_history.h"

namespace ondelith {

// One sound to choose: a bank sound, or a file of the player's folder.
struct SoundChoice {
  std::string name;
  std::string category;  // a bank sound's; "" for the player's own
  int bankNumber = 0;    // 0 for a file
  std::string path;      // a file's
};

// The .vx files of `folder`, by name (ignoring case).
std::vector<SoundChoice> playerSounds(const std::string& folder);
// The bank in its order, then the player's own sounds.
std::vector<SoundChoice> soundChoices(const std::string& folder);

// The name a file's sound goes by: the file's name without its folder and ".vx".
std::string soundNameOf(const std::string& path);

// The sound now, with where it came from.
SoundState currentState(const Synth& synth);

// A state made the sound of the instrument and the controls; no step.
void showState(Synth& synth, const SoundState& state);

// Choices: each a step to undo. False (nothing changed) when there is no
// such sound.
bool chooseBankSound(Synth& synth, int number);
bool chooseStartUpSound(Synth& synth);
// The position of the choice before (-1) or after (+1) the one `origin`
// names in `choices`, round at the ends; from a sound that is not among
// them, the first or the last. -1 for no choices.
int stepChoice(const std::vector<SoundChoice>& choices, const SoundOrigin& origin, int direction);
// A Program Change the voice heard since the last look: the bank's sound
// for it chosen. True when the sound changed.
bool takeProgramChange(Synth& synth);

// A patch opened from `path` as a step: Open's rules, the file's name.
// Returns what of its keyed lines was not read, or how few of its lines held
// numbers, for the player; "" when all was read.
std::string openPatchValues(Synth& synth, const Patch& patch, const std::string& path);

// A change of the controls or curves made: a step, or part of the last one
// when `mergeKey` (nonzero: the control's id) is the last change's and
// `atMs` close after it.
void recordChange(Synth& synth, int mergeKey = 0, int64_t atMs = 0);
bool undoSound(Synth& synth);
bool redoSound(Synth& synth);

// "Ondelith" for the start-up sound as it came; else "Ondelith — " and the
// sound's name, and " *" while it differs from the sound as it came (or came
// from a file that was no whole patch).
std::string windowTitle(const SoundState& state);
inline constexpr std::string_view kStartUpSoundName = "Start-up sound";

}  // namespace ondelith
