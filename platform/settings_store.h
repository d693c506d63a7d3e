#pragma once
// Values kept between runs, by key, in the user's configuration folder
// (Qt's settings: ~/.config/Ondelith/Ondelith.conf), or in a file of the
// caller's choosing. No toolkit type appears here.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ondelith {

class SettingsStore {
 public:
  // `path` empty: the user's own settings.
  explicit SettingsStore(const std::string& path = {});
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // False when the file is there but cannot be read as settings: every
  // value then reads as absent, and the next save writes a whole new file.
  bool readable() const;
  std::optional<std::string> text(const std::string& key) const;
  // Only a value that is a whole number, written as one.
  std::optional<int64_t> integer(const std::string& key) const;
  void set(const std::string& key, const std::string& value);
  void set(const std::string& key, int64_t value);
  // Writes what was set; false when it could not be written.
  bool save();
  std::string path() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ondelith
