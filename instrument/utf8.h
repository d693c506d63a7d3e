#pragma once
// Whether bytes are UTF-8 text: files that the program keeps or reads back
// as text must be.

#include <string_view>

namespace ondelith {

bool validUtf8(std::string_view s);

}  // namespace ondelith
