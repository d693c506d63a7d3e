#pragma once
// Names from outside (file names, stored origins) as text a person can be
// shown: drawing code and toolkits either refuse bytes that are not UTF-8 or
// stop drawing altogether, and a tab or newline would split a menu entry.

#include <string>
#include <string_view>

namespace ondelith {

// `bytes` as valid UTF-8 on one line: each byte that starts no valid
// sequence becomes U+FFFD, each control character its visible picture
// (a tab U+2409, a newline U+240A), so no two different names look empty
// or alike for those reasons.
std::string shownName(std::string_view bytes);

}  // namespace ondelith
