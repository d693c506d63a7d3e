#pragma once
// The File and "?" menus' commands: Save and Open with their dialogs, the
// About box and the Help window.

#include <functional>
#include <string>

#include "app/synth.h"
#include "platform/toolkit.h"

namespace ondelith {

constexpr const char* kPatchFilter = "Ondelith (*.vx)";
constexpr const char* kNotSavedTitle = "Informer";
constexpr const char* kNotSavedText = "Your Ondelith patch is not saved!";
constexpr int kHelpTextBox = 1;  // the Help window's one control

// The folder the patch dialogs start in, ending with a separator: the
// program's own folder, or the working folder when the program runs from
// the temporary folder; where that folder is not writable (an installed
// program), the user's data folder, created when missing.
std::string patchDirectory();

// $XDG_DATA_HOME/Ondelith/, else ~/.local/share/Ondelith/; "" with neither.
std::string userDataDirectory();

// ".vx" appended unless the name already ends in it, in any case.
std::string withPatchExtension(const std::string& path);

// Save: asks for a name, writes the patch; "Informer" when nothing was kept.
void savePatchCommand(Toolkit& tk, int window, Synth& synth);

// Open: asks for a file and applies it; `shown` then brings the window's
// controls and display up to date with the records.
void openPatchCommand(Toolkit& tk, int window, Synth& synth, const std::function<void()>& shown);

void showAbout(Toolkit& tk, int window);

// The help text: sixteen paragraphs, each line led by a carriage return, an
// empty line after each paragraph.
std::string helpText();

// Opens the Help window and stays in it, dropping every other event, until
// it is closed.
void showHelpWindow(Toolkit& tk);

}  // namespace ondelith
