#pragma once
// Values kept between runs, by key ("section/name"), in the user's
// configuration folder ($XDG_CONFIG_HOME or ~/.config, then
// Ondelith/Ondelith.conf), or in a file of the caller's choosing. The file is
// INI text as Qt's settings write it, so files of earlier versions read
// alike. No toolkit type appears here.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ondelith {

// The settings file's name in the user's configuration folder.
inline constexpr const char* kSettingsFileName = "Ondelith.conf";
// Of a settings file larger than this, the whole lines within it are read.
// Room for two of the largest Scala files the tuning keeps.
constexpr uint64_t kMaxSettingsBytes = 1024 * 1024;

class SettingsStore {
 public:
  // `path` empty: the user's own settings. Only a regular file is read, and
  // opening it never waits. A damaged file (bytes that are not text, a line
  // that is no setting, over kMaxSettingsBytes) is renamed to the same name
  // with ".bad" added, and a new file is written at once with the values that
  // could still be read.
  explicit SettingsStore(const std::string& path = {});
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // What the player should know about the file found, in a few words; empty
  // when it read cleanly or was not there.
  const std::string& notice() const { return notice_; }
  // False when something that is not a regular file, or a file that cannot
  // be read, is at the path: nothing is read, and saving leaves it alone.
  bool readable() const { return writable_; }

  std::optional<std::string> text(const std::string& key) const;
  // Only a value that is a whole number, written as one.
  std::optional<int64_t> integer(const std::string& key) const;
  void set(const std::string& key, const std::string& value);
  void set(const std::string& key, int64_t value);
  // Writes every value, those of other versions included, whole or not at
  // all; false, with why in `error`, when it could not be written (the file
  // there stays as it was). A file found unusable is left alone: false, and
  // `error` is empty, as the notice told it already.
  bool save(std::string* error = nullptr);
  const std::string& path() const { return path_; }

 private:
  // Section -> name -> the value as the file spells it (quoted, escaped).
  using Entries = std::map<std::string, std::map<std::string, std::string>>;
  Entries entries_;
  std::string path_, notice_;
  bool writable_ = true;
};

// The INI text of one value as Qt's settings write it, and back; nullopt for
// a value that is not one text (a list, another type) or is spelt wrongly.
std::string iniValueText(const std::string& value);
std::optional<std::string> iniValueFromText(const std::string& text);

}  // namespace ondelith
