#include "app/file_menu.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/patch_commands.h"
#include "app/sound_commands.h"
#include "ondelith_version.h"

namespace ondelith {

namespace {

std::string withSeparator(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::string patchDirectory() {
  std::error_code error;
  const std::string sounds = userSoundsDirectory();
  if (!sounds.empty()) {
    std::filesystem::create_directories(sounds, error);
    if (!error) return sounds;
  }
  return withSeparator(std::filesystem::current_path(error).string());
}

std::string keptSoundPath() {
  const std::string data = userDataDirectory();
  return data.empty() ? std::string() : data + "kept-sound.txt";
}

void showNotAPatch(Toolkit& tk, int window, const std::string& path, const std::string& reason) {
  tk.messageBox(
      window, "Not a patch",
      "\"" + path + "\" is " + reason + ".\rIt was not opened; the sound stays as it was.");
}

std::string withPatchExtension(const std::string& path) {
  std::string tail = path.size() < 3 ? path : path.substr(path.size() - 3);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return tail == ".VX" ? path : path + ".vx";
}

void savePatchCommand(Toolkit& tk, int window, Synth& synth) {
  const std::string chosen = tk.saveFileDialog(window, "Please choose file to save",
                                               patchDirectory(), "Ondel1.vx", kPatchFilter);
  // A patch that was not kept, whether cancelled or not writable, is said so.
  if (chosen.empty() || !savePatchFile(synth, withPatchExtension(chosen)))
    tk.messageBox(window, kNotSavedTitle, kNotSavedText);
}

void openPatchCommand(Toolkit& tk, int window, Synth& synth,
                      const std::function<void(const std::string&)>& shown) {
  const std::string chosen =
      tk.openFileDialog(window, "Please choose file to open", patchDirectory(), kPatchFilter);
  if (chosen.empty()) return;
  Patch patch;
  std::string reason;
  switch (readPatch(chosen, patch, reason)) {
    case PatchFileRead::Unreadable: return;
    case PatchFileRead::NotAPatch: showNotAPatch(tk, window, chosen, reason); return;
    case PatchFileRead::Read: break;
  }
  const std::string report = openPatchValues(synth, patch, chosen);
  if (shown) shown(report);
}

void showAbout(Toolkit& tk, int window) {
  tk.messageBox(window, "About",
                "Ondelith v" + std::string(kVersion) + "\rBezier Sound Synthesizer");
}

namespace {

// A line of Help for each row of a kind: its name, range and Help sentence.
std::vector<std::string> rowLines(bool (*kind)(int)) {
  std::vector<std::string> lines;
  for (int i = 0; i < kParameterCount; ++i)
    if (kind(i))
      lines.push_back(std::string(parameter(i).name) + " (" + rangeText(i) +
                      "): " + std::string(parameter(i).help));
  return lines;
}

bool isPlayerSetting(int index) { return parameter(index).owner == Owner::Player; }

}  // namespace

std::string helpText() {
  std::vector<std::string> settings = {
      "File>Settings... sets the latency of the audio output and how notes are played:"};
  for (std::string& line : rowLines(isPlayerSetting)) settings.push_back(std::move(line));
  settings.push_back("These choices and the devices chosen are kept for the next start.");
  std::vector<std::string> soundSettings = rowLines(isSoundSetting);
  if (!soundSettings.empty())
    soundSettings.insert(soundSettings.begin(),
                         "Edit>Sound settings... sets what a sound keeps beside its controls:");
  const std::vector<std::vector<std::string>> paragraphs = {
      {"The main window shows one cycle of the basic waveform."},
      {"The X1 and X2 sliders pull the waveform along the X axis,",
       "the Y1 and Y2 sliders along the Y axis."},
      {"Each of the points X1, X2, Y1 and Y2 can wobble while a note plays, each on its own,",
       "which gives a wide range of sounds rich in harmonics."},
      {"Point X1 serves as the example for all four."},
      {"The point moves back and forth between where its slider is set and a level",
       "given by X1Mod%: +80 means 80% of the way up to the top of the slider,",
       "-30 means 30% of the way down to its bottom.",
       "How fast it moves is a multiple of the played note's frequency,",
       "set with CoarseX1ModF and FineX1ModF:",
       "Coarse 2 with Fine .25 gives 2.25 times the note's frequency,",
       "Coarse 10 with Fine 0 gives 10 times,", "Coarse 0 with Fine .05 gives 0.05 times.",
       "Whole multiples add harmonic overtones,", "a fractional part adds inharmonic ones."},
      {"The wobble can grow or shrink while the note plays:",
       "shape the 7 segments of the point's wobble amplitude curve.",
       "The Duration slider sets the time over which the curve applies:",
       "in the x1 range up to a second or so,", "in the x10 range up to many seconds."},
      {"Example: draw a straight line from the lower left to the top right of the curve",
       "and leave the Duration slider where it starts.",
       "The wobble then grows evenly over a couple of seconds,",
       "from the slider's position out to the X1Mod% level,",
       "and the harmonics change as the note plays, much like a filter sweep."},
      {"Every note begins with a fade of about 23 ms in which the wobble already runs.",
       "With Wobble phase at Free, the instrument's own, that run depends on when the",
       "note before began, so the same notes can start differently after other playing.",
       "At Repeatable the wobble counts the fade from the note's own start: a note struck",
       "on a silent voice sounds the same wherever it falls, and a song bounced twice, or",
       "from another place, gives the same samples. The filter still keeps a trace of the",
       "last note's pitch, which at high resonance can colour the next note's first moments."},
      {"The sound then passes through a master low-pass filter",
       "(its frequency set with the F slider, its resonance with the Res slider)",
       "and then through the level envelope set with the Amplitude EG sliders."},
      {"The Vol slider sets the overall level."},
      {"The MIDI drop-down lists the MIDI devices through which notes can arrive",
       "from a virtual or a hardware keyboard.",
       "Choose one, and make sure the keyboard sends through that device."},
      {"The Audio drop-down lists the audio devices the sound can play through.",
       "You can change the device at any time,", "and the sound moves over to it."},
      {"To keep a sound, choose File>Save and enter a file name:",
       "the settings are saved as a .vx patch of Ondelith.",
       "To load one, choose File>Open and pick the file."},
      {"Without a MIDI keyboard, the computer keyboard plays while this window has the focus.",
       "Keys are known by where they sit, so every keyboard layout plays alike:",
       "the home row, from the key under the left little finger (A on QWERTY),",
       "plays the white keys from C4, and the row above it the black keys, up to F#5."},
      {"The two keys left of the bottom row (Z and X on QWERTY) shift the octave down and up,",
       "from C-1 to C8; the third field of the status bar shows the octave."},
      settings,
      {"The A4 pitch in File>Settings... is the concert pitch: at 440 Hz, A above middle C",
       "sounds at 440 Hz as ever; at 432 every note, in any tuning, sounds 432/440 as high."},
      {"The Tuning menu chooses the pitch of every key. 12-TET plays twelve equal steps an octave,",
       "as ever. A Scala scale (.scl) gives its own steps, in cents or as ratios such as 3/2;",
       "a Scala keyboard map (.kbm) says which key plays which step (a key mapped x plays nothing)",
       "and which key sounds at which frequency. Without a map, middle C plays the scale's",
       "first step and A4 sounds at the A4 pitch. The menu lists the .scl and .kbm files in",
       "the tunings folder of your data folder (~/.local/share/Ondelith/tunings);",
       "Tuning>Open... reads one from anywhere. A file that breaks the format is refused",
       "with its line and the reason, and the tuning stays as it was.",
       "The tuning is yours, not a sound's: it stays when the sound changes, no patch carries it,",
       "and its text is kept for the next start, even when the file goes."},
      soundSettings,
      {"Ondelith also has a MIDI input port of its own, \"MIDI In\",",
       "on the ALSA sequencer and on JACK when a server runs.",
       "Connect a sequencer, a patchbay or a virtual keyboard to it:",
       "it plays beside the device chosen in the MIDI drop-down.",
       "With no device chosen, the first field of the status bar shows \"MIDI In (JACK)\"",
       "or \"MIDI In (ALSA)\" while that port is in use.",
       "Ondelith remembers what you connect to its JACK ports, also when the other program",
       "quits first, and connects it again when that program comes back. If the JACK server",
       "goes away, the status bar says so, and Ondelith reconnects by itself once it is back."},
      {"The Sounds menu holds the factory bank by category and, under My sounds,",
       "the sounds you saved in your sounds folder, where Open and Save start.",
       "Ctrl+Page Down and Ctrl+Page Up step to the next and the previous sound;",
       "a MIDI Program Change chooses a bank sound by its number.",
       "The title names the sound, with a * while it differs from what it came as."},
      {"Edit>Undo (Ctrl+Z) and Edit>Redo (Ctrl+Shift+Z) step back and forth through your changes.",
       "The sound in the window is kept when Ondelith ends, and is there again at the next start;",
       "Sounds>Start-up sound brings back the plain sound."},
  };
  std::string text;
  for (const auto& paragraph : paragraphs) {
    if (paragraph.empty()) continue;
    for (const std::string& line : paragraph) text += "\r" + line;
    text += "\r";
  }
  return text;
}

void showHelpWindow(Toolkit& tk) {
  const int help = tk.openWindow("Ondelith Help", 620, 373);
  if (help == 0) return;
  tk.addTextBox(help, kHelpTextBox, {5, 5, 610, 328}, helpText());
  tk.addButton(help, kHelpCloseButton, {525, 339, 90, 28}, "Close");
  // Escape raises the button's own event: one way out, however it is asked.
  tk.bindEscape(help, kHelpCloseButton);
  tk.setApplicationModal(help);
  tk.showWindow(help);
  for (;;) {
    const UiEvent e = tk.waitEvent();
    if (e.window != help) continue;
    if (e.kind == UiEvent::Kind::Close || e.id == kHelpCloseButton) break;
  }
  tk.destroyWindow(help);
}

}  // namespace ondelith
