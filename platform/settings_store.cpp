#include "platform/settings_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "instrument/utf8.h"
#include "platform/files.h"

namespace ondelith {

namespace {

// "$XDG_CONFIG_HOME/Ondelith/Ondelith.conf", or under ~/.config.
std::string userSettingsPath(const char* name) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = getpwuid(getuid());
      home = pw && pw->pw_dir ? pw->pw_dir : "/";
    }
    base = std::string(home) + "/.config";
  }
  return base + "/Ondelith/" + name;
}

std::string trimmed(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

bool hexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Parses the file's text; false when any line is damaged. The lines that
// are good are kept either way.
bool parseIni(std::string_view text,
              std::map<std::string, std::map<std::string, std::string>>& out) {
  bool clean = validUtf8(text);
  std::string section = "General";
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    bool control = false;
    for (char c : line) control |= static_cast<unsigned char>(c) < 0x20 && c != '\t';
    const std::string t = trimmed(line);
    if (control) {
      clean = false;
      continue;
    }
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      if (t.back() != ']' || t.size() < 3) {
        clean = false;
        continue;
      }
      section = trimmed(std::string_view(t).substr(1, t.size() - 2));
      continue;
    }
    const size_t equals = t.find('=');
    const std::string key = equals == std::string::npos ? "" : trimmed(t.substr(0, equals));
    if (key.empty()) {
      clean = false;
      continue;
    }
    out[section][key] = trimmed(t.substr(equals + 1));
  }
  return clean;
}

std::pair<std::string, std::string> splitKey(const std::string& key) {
  const size_t slash = key.find('/');
  if (slash == std::string::npos) return {"General", key};
  return {key.substr(0, slash), key.substr(slash + 1)};
}

}  // namespace

std::string iniValueText(const std::string& value) {
  const std::string v = value.starts_with('@') ? "@" + value : value;
  std::string out;
  bool quote = false, escapeNextHex = false;
  for (char c : v) {
    const auto u = static_cast<unsigned char>(c);
    quote |= c == ';' || c == ',' || c == '=';
    if (escapeNextHex && hexDigit(c)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%x", u);
      out += hex;
      continue;
    }
    escapeNextHex = false;
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\v': out += "\\v"; break;
      case '"':
      case '\\':
        out += '\\';
        out += c;
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%x", u);
          out += hex;
          escapeNextHex = true;
        } else {
          out += c;
        }
    }
  }
  if (quote || (!out.empty() && (out.front() == ' ' || out.back() == ' '))) out = '"' + out + '"';
  return out;
}

std::optional<std::string> iniValueFromText(const std::string& text) {
  std::string out;
  bool quoted = false, anyQuote = false;
  size_t keep = 0;  // spaces after this (outside quotes) are not the value's
  for (size_t i = 0; i < text.size();) {
    const char c = text[i++];
    if (c == '"') {
      quoted = !quoted;
      anyQuote = true;
      keep = out.size();
      continue;
    }
    if (c == ',' && !quoted) return std::nullopt;  // a list of texts
    if (c != '\\') {
      out += c;
      if (quoted || (c != ' ' && c != '\t')) keep = out.size();
      continue;
    }
    if (i >= text.size()) break;
    const char e = text[i++];
    static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    bool known = false;
    for (const auto& [name, value] : kEscapes)
      if (e == name) {
        out += value;
        known = true;
      }
    if (!known && (e == 'x' || (e >= '0' && e <= '7'))) {
      uint32_t code = e == 'x' ? 0 : static_cast<uint32_t>(e - '0');
      const bool hex = e == 'x';
      while (i < text.size() && (hex ? hexDigit(text[i]) : (text[i] >= '0' && text[i] <= '7'))) {
        const char d = text[i++];
        const uint32_t digit = d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10;
        code = (code * (hex ? 16 : 8) + digit) & 0xFFFF;
      }
      appendUtf8(out, code);
    }
    keep = out.size();
  }
  if (!anyQuote) out.resize(keep);
  // Values of other types are written with an "@" in front; a text that
  // begins with one has it doubled.
  if (out.starts_with("@@")) return out.substr(1);
  if (out.starts_with('@') && out.ends_with(')') && out.find('(') != std::string::npos)
    return std::nullopt;
  return out;
}

SettingsStore::SettingsStore(const std::string& path) {
  path_ = path.empty() ? userSettingsPath(kSettingsFileName) : path;
  std::string from = path_;
  struct stat st {};
  // The name earlier versions used, read until the first save writes ours.
  if (path.empty() && stat(path_.c_str(), &st) != 0 && errno == ENOENT) {
    const std::string old = userSettingsPath("Ondelith.ini");
    if (stat(old.c_str(), &st) == 0) from = old;
  }
  // A first run; a link to a file yet to be made is followed by the save.
  if (stat(from.c_str(), &st) != 0 && errno == ENOENT) return;

  const std::string name = path_.substr(path_.rfind('/') + 1);
  InputFile file;
  std::string reason;
  // Short enough for a field of the status bar.
  const auto unused = [&](const std::string& why) {
    // Not a file to read, nor one to replace with what could not be read.
    writable_ = false;
    notice_ = name + why;
  };
  if (!file.open(from, &reason)) {
    if (reason.starts_with("is "))  // "is a FIFO, not a regular file"
      unused(" " + reason.substr(0, reason.find(',')) + ": settings not kept");
    else if (errno == ELOOP)
      unused(": a loop of links, not kept");
    else
      unused(" unreadable: " + reason.substr(reason.rfind(": ") + 2));
    return;
  }
  std::string bytes;
  // Read to one byte past the limit at most, which tells a file too large
  // (or one that grew since it was opened).
  while (bytes.size() <= kMaxSettingsBytes) {
    char buffer[4096];
    size_t got = 0;
    if (!file.read(buffer, sizeof buffer, got, &reason)) {
      unused(" unreadable: " + reason.substr(reason.rfind(": ") + 2));
      return;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  bool clean = bytes.size() <= kMaxSettingsBytes;
  // Too large: the whole lines of its first part are still the player's values.
  if (!clean) bytes.resize(bytes.rfind('\n', kMaxSettingsBytes - 1) + 1);
  clean = parseIni(bytes, entries_) && clean;
  if (clean) return;
  // Kept for the player to look at; the values that could be read live on.
  const std::string bad = path_ + ".bad";
  if (std::rename(from.c_str(), bad.c_str()) != 0) {
    notice_ = name + " is damaged";
    return;
  }
  save();
  notice_ = "Damaged settings kept as " + name + ".bad";
}

std::optional<std::string> SettingsStore::text(const std::string& key) const {
  const auto [section, name] = splitKey(key);
  const auto s = entries_.find(section);
  if (s == entries_.end()) return std::nullopt;
  const auto v = s->second.find(name);
  if (v == s->second.end()) return std::nullopt;
  return iniValueFromText(v->second);
}

std::optional<int64_t> SettingsStore::integer(const std::string& key) const {
  const std::optional<std::string> t = text(key);
  if (!t) return std::nullopt;
  const std::string s = trimmed(*t);
  const char* begin = s.data() + (s.starts_with('+') ? 1 : 0);
  int64_t n = 0;
  const auto [end, error] = std::from_chars(begin, s.data() + s.size(), n);
  if (error != std::errc() || end != s.data() + s.size() || begin == end) return std::nullopt;
  return n;
}

void SettingsStore::set(const std::string& key, const std::string& value) {
  const auto [section, name] = splitKey(key);
  entries_[section][name] = iniValueText(value);
}

void SettingsStore::set(const std::string& key, int64_t value) { set(key, std::to_string(value)); }

bool SettingsStore::save(std::string* error) {
  if (error) error->clear();
  if (!writable_) return false;
  std::string text;
  // Qt's settings put the keys of no section first, under [General].
  const auto write = [&text](const std::string& section, const auto& names) {
    if (names.empty()) return;
    if (!text.empty()) text += '\n';
    text += "[" + section + "]\n";
    for (const auto& [name, value] : names) text += name + "=" + value + "\n";
  };
  if (const auto general = entries_.find("General"); general != entries_.end())
    write(general->first, general->second);
  for (const auto& [section, names] : entries_)
    if (section != "General") write(section, names);
  const size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    // The folder, and the one above it (~/.config on a fresh account).
    const std::string dir = path_.substr(0, slash);
    if (mkdir(dir.c_str(), 0777) != 0 && errno == ENOENT) {
      const size_t up = dir.rfind('/');
      if (up != std::string::npos && up > 0) mkdir(dir.substr(0, up).c_str(), 0777);
      mkdir(dir.c_str(), 0777);
    }
  }
  return writeFileAtomically(path_, text, error);
}

}  // namespace ondelith
