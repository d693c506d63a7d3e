#pragma once
// The File and "?" menus' commands: Save and Open with their dialogs, the
// About box and the Help window.

#include <functional>
#include <string>

#include "app/synth.h"
#include "platform/files.h"
#include "platform/toolkit.h"

namespace ondelith {

constexpr const char* kPatchFilter = "Ondelith (*.vx)";
constexpr const char* kNotSavedTitle = "Informer";
constexpr const char* kNotSavedText = "Your Ondelith patch is not saved!";
constexpr int kHelpTextBox = 1;         // the Help window's controls
constexpr int kHelpCloseButton = 9001;  // clear of the main window's ids

// The player's own sounds, where the patch dialogs start, ending with a
// separator: "sounds" in the user's data folder, made on first use; the
// working folder when there is no such folder or it cannot be made.
std::string patchDirectory();

// The sound kept from one run to the next, beside the player's sounds; ""
// with no data folder.
std::string keptSoundPath();

// The box that tells why a file was not opened: "Not a patch".
void showNotAPatch(Toolkit& tk, int window, const std::string& path, const std::string& reason);

// ".vx" appended unless the name already ends in it, in any case.
std::string withPatchExtension(const std::string& path);

// Save: asks for a name, writes the patch; "Informer" when nothing was kept.
void savePatchCommand(Toolkit& tk, int window, Synth& synth);

// Open: asks for a file and applies it; `shown` then brings the window's
// controls and display up to date with the records, and tells the player
// what of the file's keyed lines was not read. A file that is not a
// patch is refused with a box that says why, and nothing changes.
void openPatchCommand(Toolkit& tk, int window, Synth& synth,
                      const std::function<void(const std::string& report)>& shown);

void showAbout(Toolkit& tk, int window);

// The help text: eighteen paragraphs, each line led by a carriage return, an
// empty line after each paragraph.
std::string helpText();

// Opens the Help window and stays in it, dropping every other event, until
// it is closed: its close box, its Close button or Escape.
void showHelpWindow(Toolkit& tk);

}  // namespace ondelith
