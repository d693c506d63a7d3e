#include "instrument/patch_format.h"

#include <algorithm>
#include <limits>

namespace ondelith {

namespace {

bool writable(const KeyedLine& line) {
  return isPatchKey(line.key) && isPatchValue(line.value) && line.key != kSettingsVersionKey;
}

}  // namespace

std::string formatPatch(const Patch& patch) {
  std::string out;
  out.reserve(kPatchLines * 8);
  for (int32_t v : patch.values) {
    out += std::to_string(v);
    out += "\r\n";
  }
  if (std::none_of(patch.keyed.begin(), patch.keyed.end(), writable)) return out;
  out += std::string(kSettingsVersionKey) + "=" + std::to_string(kSettingsVersion) + "\r\n";
  for (const KeyedLine& line : patch.keyed)
    if (writable(line)) out += line.key + "=" + line.value + "\r\n";
  return out;
}

bool isPatchKey(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
  });
}

bool isPatchValue(std::string_view value) {
  // No space at either end: the reader would not keep it.
  if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) return false;
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

void PatchReader::endLine() {
  int64_t v = negative_ ? -magnitude_ : magnitude_;
  if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) v = std::numeric_limits<int32_t>::min();
  if (line_ < kPatchLines) values_[static_cast<size_t>(line_)] = static_cast<int32_t>(v);
  if (line_ < kPatchLines && sawDigit_) ++numbered_;
  ++line_;
  stage_ = Stage::Blank;
  negative_ = false;
  sawDigit_ = false;
  magnitude_ = 0;
}

bool PatchReader::feed(const char* data, size_t size) {
  // Once past 2^31 a value cannot grow further into range: stop counting there.
  constexpr int64_t kCeiling = int64_t{1} << 32;
  for (size_t i = 0; i < size && line_ < kPatchLines; ++i) {
    const char c = data[i];
    if (afterCarriageReturn_) {
      afterCarriageReturn_ = false;
      if (c == '\n') continue;  // the LF of a CR LF
    }
    if (c == '\r' || c == '\n' || c == '\0') {
      afterCarriageReturn_ = c == '\r';
      endLine();
      continue;
    }
    switch (stage_) {
      case Stage::Blank:
        if (c == ' ' || c == '\t') break;
        stage_ = Stage::Digits;
        if (c == '+' || c == '-') {
          negative_ = c == '-';
          break;
        }
        [[fallthrough]];
      case Stage::Digits:
        if (c >= '0' && c <= '9') {
          sawDigit_ = true;
          if (magnitude_ < kCeiling) magnitude_ = magnitude_ * 10 + (c - '0');
        } else {
          stage_ = Stage::Skip;
        }
        break;
      case Stage::Skip: break;
    }
  }
  return line_ < kPatchLines;
}

PatchValues PatchReader::finish() {
  if (line_ < kPatchLines) endLine();  // the end of the file ends the line under way
  return values_;
}

PatchValues parsePatch(std::string_view bytes) {
  PatchReader reader;
  reader.feed(bytes.data(), bytes.size());
  return reader.finish();
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool patchByte(unsigned char c) {
  return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t' || c == '\0';
}

std::string hexByte(unsigned char c) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[c >> 4], kDigits[c & 0xF]};
}

}  // namespace

bool acceptPatchBytes(std::string_view bytes, Patch& patch, std::string& reason) {
  if (bytes.size() > kMaxPatchFileBytes) {
    reason = "not a patch: larger than 64 kB (a patch is about 400 bytes)";
    return false;
  }
  const std::string_view text =
      bytes.starts_with(kByteOrderMark) ? bytes.substr(kByteOrderMark.size()) : bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (patchByte(c)) continue;
    const size_t at = i + 1 + (bytes.size() - text.size());
    reason = "not a patch: byte " + std::to_string(at) + " is " + hexByte(c) +
             ", and a patch is plain text";
    return false;
  }
  patch = readPatchText(text);
  return true;
}

int32_t lineValue(std::string_view line) {
  PatchReader reader;
  reader.feed(line.data(), line.size());
  return reader.finish()[0];
}

namespace {

// One line as the format cuts them, and where the next one starts.
struct LineCut {
  std::string_view text;
  size_t next;
};

LineCut lineAt(std::string_view bytes, size_t at) {
  const size_t end = std::min(bytes.find_first_of(std::string_view("\r\n\0", 3), at), bytes.size());
  size_t next = std::min(end + 1, bytes.size());
  if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n') ++next;
  return {bytes.substr(at, end - at), next};
}

// Where line n + 1 starts (the end of the bytes when there is none).
size_t afterLines(std::string_view bytes, int n) {
  size_t at = 0;
  for (int i = 0; i < n && at < bytes.size(); ++i) at = lineAt(bytes, at).next;
  return at;
}

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isVersionLine(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || trimmed(line.substr(0, eq)) != kSettingsVersionKey)
    return false;
  const std::string_view version = trimmed(line.substr(eq + 1));
  return digits(version) && version.find_first_not_of('0') != std::string_view::npos;
}

// A line that is not key=value, as the player is shown it: short, printable.
std::string shownLine(std::string_view line) {
  constexpr size_t kShown = 40;
  std::string shown(line.substr(0, kShown));
  for (char& c : shown)
    if (c < 0x20 || c >= 0x7F) c = '?';
  return line.size() > kShown ? shown + "..." : shown;
}

// The lines after the version line.
void readKeyedLines(std::string_view bytes, size_t at, Patch& patch) {
  while (at < bytes.size()) {
    const LineCut cut = lineAt(bytes, at);
    at = cut.next;
    const std::string_view line = trimmed(cut.text);
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    const std::string_view key = trimmed(line.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : trimmed(line.substr(eq + 1));
    if (eq == std::string_view::npos || !isPatchKey(key) || !isPatchValue(value) ||
        key == kSettingsVersionKey) {
      patch.unread.push_back(shownLine(line));
      continue;
    }
    patch.keyed.push_back({std::string(key), std::string(value)});
  }
}

bool isNumberLine(std::string_view line) {
  line = trimmed(line);
  if (!line.empty() && (line.front() == '+' || line.front() == '-')) line.remove_prefix(1);
  return digits(line);
}

}  // namespace

Patch readPatchText(std::string_view bytes) {
  PatchReader reader;
  reader.feed(bytes.data(), bytes.size());
  Patch patch(reader.finish());
  patch.numberedLines = reader.numberedLines();
  const size_t at = afterLines(bytes, kPatchLines);
  const LineCut version = lineAt(bytes, at);
  if (at < bytes.size() && isVersionLine(version.text)) readKeyedLines(bytes, version.next, patch);
  return patch;
}

bool isPatchText(std::string_view text) {
  if (text.size() > kMaxPatchFileBytes || text.find('\0') != std::string_view::npos) return false;
  size_t at = 0;
  for (int n = 0; n < kPatchLines; ++n) {
    if (at == text.size()) return false;  // fewer lines than a patch has
    const LineCut line = lineAt(text, at);
    if (!isNumberLine(line.text)) return false;
    at = line.next;
  }
  if (text.find_first_not_of(" \t\r\n", at) == std::string_view::npos) return true;
  const LineCut version = lineAt(text, at);
  if (!isVersionLine(version.text)) return false;
  Patch keyed;
  readKeyedLines(text, version.next, keyed);
  return keyed.unread.empty();
}

}  // namespace ondelith
