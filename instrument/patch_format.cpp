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
