#include "instrument/patch_format.h"

#include <limits>

namespace ondelith {

std::string formatPatch(const PatchValues& values) {
  std::string out;
  out.reserve(kPatchLines * 8);
  for (int32_t v : values) {
    out += std::to_string(v);
    out += "\r\n";
  }
  return out;
}

void PatchReader::endLine() {
  int64_t v = negative_ ? -magnitude_ : magnitude_;
  if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) v = std::numeric_limits<int32_t>::min();
  if (line_ < kPatchLines) values_[static_cast<size_t>(line_)] = static_cast<int32_t>(v);
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

bool acceptPatchBytes(std::string_view bytes, PatchValues& values, std::string& reason) {
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
  values = parsePatch(text);
  return true;
}

int32_t lineValue(std::string_view line) {
  PatchReader reader;
  reader.feed(line.data(), line.size());
  return reader.finish()[0];
}

bool isPatchText(std::string_view text) {
  if (text.size() > kMaxPatchTextBytes) return false;
  int lines = 0;
  size_t i = 0;
  const auto blank = [&] { return i < text.size() && (text[i] == ' ' || text[i] == '\t'); };
  const auto digit = [&] { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  // One line's end: CR LF, LF or CR; the end of the text ends the last line.
  const auto lineEnd = [&] {
    if (i == text.size()) return true;
    if (text[i] == '\r') {
      ++i;
      if (i < text.size() && text[i] == '\n') ++i;
      return true;
    }
    if (text[i] == '\n') {
      ++i;
      return true;
    }
    return false;
  };
  while (lines < kPatchLines) {
    if (i == text.size()) return false;  // fewer lines than a patch has
    while (blank()) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digit()) return false;
    while (digit()) ++i;
    while (blank()) ++i;
    if (!lineEnd()) return false;
    ++lines;
  }
  for (; i < text.size(); ++i)
    if (text[i] != '\r' && text[i] != '\n' && text[i] != ' ' && text[i] != '\t') return false;
  return true;
}

}  // namespace ondelith
