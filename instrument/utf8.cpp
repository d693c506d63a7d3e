#include "instrument/utf8.h"

#include <cstddef>

namespace ondelith {

bool validUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int more = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (more < 0 || (more == 1 && c < 0xC2) || i + static_cast<size_t>(more) >= s.size())
      return false;
    for (int k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0xC0) != 0x80) return false;
    i += static_cast<size_t>(more) + 1;
  }
  return true;
}

}  // namespace ondelith
