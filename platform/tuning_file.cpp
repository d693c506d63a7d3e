#include "platform/tuning_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/files.h"

namespace ondelith {

namespace {

bool endsWith(const std::string& name, const char* ending) {
  const std::string e = ending;
  return name.size() > e.size() &&
         std::equal(e.rbegin(), e.rend(), name.rbegin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

std::string userTuningsDirectory() {
  const std::string data = userDataDirectory();
  return data.empty() ? std::string() : data + "tunings/";
}

bool isKeyboardMapName(const std::string& path) { return endsWith(path, ".kbm"); }

std::vector<TuningFile> tuningFiles(const std::string& directory) {
  std::vector<TuningFile> out;
  if (directory.empty()) return out;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if ((endsWith(name, ".scl") || endsWith(name, ".kbm")) && entry.is_regular_file(error))
      out.push_back({name, entry.path().string(), isKeyboardMapName(name)});
  }
  std::sort(out.begin(), out.end(), [](const TuningFile& a, const TuningFile& b) {
    return a.map != b.map ? b.map : a.name < b.name;
  });
  return out;
}

bool readTuningFile(const std::string& path, bool map, Tuning& tuning, std::string& reason) {
  std::string bytes;
  const auto consume = [&bytes](const char* data, size_t size) {
    bytes.append(data, size);
    return bytes.size() <= kMaxScalaBytes;
  };
  if (!readFileInPieces(path, consume, &reason)) return false;
  // As UTF-8 before it is checked: that is the text kept, and it must read again.
  const std::string text = scalaTextAsUtf8(bytes);
  ScalaFault fault;
  ScalaScale scale;
  KeyboardMap keys;
  if (map ? !readKeyboardMap(text, keys, fault) : !readScalaScale(text, scale, fault)) {
    reason = fault.text();
    return false;
  }
  (map ? tuning.map : tuning.scale) = text;
  return true;
}

}  // namespace ondelith
