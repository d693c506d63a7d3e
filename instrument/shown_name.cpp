#include "instrument/shown_name.h"

#include <cstdint>

namespace ondelith {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at `at`, or 0. Overlong forms,
// surrogates and values past U+10FFFF are not valid.
size_t sequenceAt(std::string_view s, size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  if (c < 0x80) return 1;
  const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (n == 0 || c > 0xF4 || at + n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if (!continuation(static_cast<unsigned char>(s[at + i]))) return 0;
  const auto second = static_cast<unsigned char>(s[at + 1]);
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0)) return 0;
  if ((c == 0xF0 && second < 0x90) || (c == 0xF4 && second >= 0x90)) return 0;
  return n;
}

void appendCodePoint(std::string& out, uint32_t cp) {
  out += static_cast<char>(0xE0 | (cp >> 12));
  out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

}  // namespace

std::string shownName(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t n = sequenceAt(bytes, at);
    const auto c = static_cast<unsigned char>(bytes[at]);
    // The C1 controls (U+0080..U+009F) are as invisible as the C0 ones.
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0;
    if (n == 0 || c1)
      out += kReplacement;
    else if (c < 0x20 || c == 0x7F)
      appendCodePoint(out, c == 0x7F ? 0x2421 : 0x2400 + c);
    else
      out.append(bytes.substr(at, n));
    at += n == 0 ? 1 : n;
  }
  return out;
}

}  // namespace ondelith
