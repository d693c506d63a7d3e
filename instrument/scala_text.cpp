#include "instrument/scala_text.h"

#include <charconv>

#include "instrument/utf8.h"

namespace ondelith {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

// Control bytes other than blanks and line ends, or DOS's end of file.
bool binaryByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && !isBlank(c) && c != '\r' && c != '\n' && u != 0x1A) || u == 0x7F;
}

}  // namespace

std::string ScalaFault::text() const {
  return line > 0 ? "line " + std::to_string(line) + ": " + reason : reason;
}

bool scalaLines(std::string_view text, std::vector<ScalaLine>& out, ScalaFault& fault) {
  out.clear();
  if (text.size() > kMaxScalaBytes) {
    fault = {0, joined({"the file is larger than ", std::to_string(kMaxScalaBytes / 1024),
                        " KiB: no Scala file is that long"})};
    return false;
  }
  int number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    ++number;
    for (char c : line)
      if (binaryByte(c)) {
        fault = {number, "the file holds bytes that are not text"};
        return false;
      }
    if (!trimmedStart(line).starts_with('!')) out.push_back({number, line});
    // CR LF, LF or a lone CR each end a line.
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  return true;
}

std::string_view trimmedStart(std::string_view line) {
  size_t b = 0;
  while (b < line.size() && isBlank(line[b])) ++b;
  return line.substr(b);
}

std::string_view firstWord(std::string_view line) {
  line = trimmedStart(line);
  size_t e = 0;
  while (e < line.size() && !isBlank(line[e])) ++e;
  return line.substr(0, e);
}

bool readCount(std::string_view word, long& out) {
  long v = 0;
  if (word.empty() || word.front() == '-') return false;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), v);
  if (error != std::errc() || end != word.data() + word.size()) return false;
  out = v;
  return true;
}

std::string joined(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view p : pieces) out += p;
  return out;
}

std::string scalaTextAsUtf8(std::string_view bytes) {
  if (validUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

}  // namespace ondelith
