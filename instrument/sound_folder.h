#pragma once
// The player's sounds folder as every host lists it: the patch files in it,
// all of them sorted before any host shows a part of them.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace ondelith {

struct FolderSound {
  std::string name;  // the file's name without ".vx", as shownName gives it
  std::string path;  // the file itself, as the folder holds it
};

// The regular files ending in ".vx" (any case) in `folder`, sorted by name
// regardless of case, then by path. Empty when the folder cannot be read.
std::vector<FolderSound> folderSounds(const std::string& folder);

// A file's name as hosts show it: without its ".vx", safe to show.
std::string folderSoundName(const std::string& path);

// Long listings are shown a page at a time.
inline constexpr size_t kFolderPageSize = 500;
size_t folderPageCount(size_t sounds);
// Page `page` (from 0) of `sounds`; empty past the last.
std::span<const FolderSound> folderPage(std::span<const FolderSound> sounds, size_t page);

}  // namespace ondelith
