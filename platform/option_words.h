#pragma once
// Command-line mistakes in the programs' own words: the option, the value
// given and what the option takes. The words of argv are looked at before
// the command-line library reads them, so that an unknown option is told
// first, whatever else is wrong, and the library meets only well-formed
// words.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace CLI {
class App;
}

namespace ondelith {

// What each option takes, in a few words that follow "takes": "milliseconds
// from 3 to 75".
using OptionTakes = std::map<std::string, std::string>;

// The first mistake in argv's words as `app` would read them, as one line
// without the program's name: an unknown option or a word that is no option
// first; then an option without its value, a value given to a flag, or an
// option given twice. Empty when the words are well formed.
std::string firstWordMistake(const CLI::App& app, const OptionTakes& takes, int argc,
                             const char* const* argv);

// `--bend-range "25": takes a whole number of semitones from 0 to 24`
std::string badValue(const std::string& option, const std::string& value, const std::string& takes);

// A whole number from `minimum` to `maximum`, written as one or with nothing
// but zeros after a decimal point ("24.0").
std::optional<int64_t> wholeNumber(std::string_view text, int64_t minimum, int64_t maximum);
// A number from `minimum` to `maximum`; never NaN or an infinity.
std::optional<double> realNumber(std::string_view text, double minimum, double maximum);

// The licence, as the second line of --version.
inline constexpr const char* kLicenseLine = "License GPL-3.0-or-later";

}  // namespace ondelith
