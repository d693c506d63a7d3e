#include "instrument/sound_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "instrument/shown_name.h"

namespace ondelith {

namespace {

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool patchExtension(const std::filesystem::path& p) { return lowered(p.extension()) == ".vx"; }

}  // namespace

std::string folderSoundName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  if (name.size() > 3 && lowered(name.substr(name.size() - 3)) == ".vx")
    name.resize(name.size() - 3);
  return shownName(name);
}

std::vector<FolderSound> folderSounds(const std::string& folder) {
  std::vector<FolderSound> sounds;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path& p = it->path();
    std::error_code typeError;
    if (patchExtension(p) && it->is_regular_file(typeError))
      sounds.push_back({folderSoundName(p.string()), p.string()});
  }
  std::sort(sounds.begin(), sounds.end(), [](const FolderSound& a, const FolderSound& b) {
    const std::string x = lowered(a.name), y = lowered(b.name);
    return x != y ? x < y : a.path < b.path;
  });
  return sounds;
}

size_t folderPageCount(size_t sounds) { return (sounds + kFolderPageSize - 1) / kFolderPageSize; }

std::span<const FolderSound> folderPage(std::span<const FolderSound> sounds, size_t page) {
  const size_t first = std::min(sounds.size(), page * kFolderPageSize);
  return sounds.subspan(first, std::min(kFolderPageSize, sounds.size() - first));
}

}  // namespace ondelith
