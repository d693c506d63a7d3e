#pragma once
// The player's tunings on disk: Scala scales (.scl) and keyboard maps
// (.kbm), read whole, checked, and kept as their text.

#include <string>
#include <vector>

#include "instrument/tuning.h"

namespace ondelith {

// "tunings/" in the player's data folder; "" with no data folder.
std::string userTuningsDirectory();

struct TuningFile {
  std::string name;  // the file's name, as a menu lists it
  std::string path;
  bool map;  // a keyboard map (.kbm), else a scale (.scl)
};

// The .scl and .kbm files in a folder, scales first, each by name.
std::vector<TuningFile> tuningFiles(const std::string& directory);

// Whether a file's name says it is a keyboard map.
bool isKeyboardMapName(const std::string& path);

// A file read as a scale or as a keyboard map into `tuning`, its text as
// UTF-8; false, `tuning` untouched, with the reason ("line 4: ...") for a
// file that cannot be read or does not read as one.
bool readTuningFile(const std::string& path, bool map, Tuning& tuning, std::string& reason);

}  // namespace ondelith
