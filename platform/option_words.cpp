#include "platform/option_words.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <vector>

namespace ondelith {

namespace {

// Any number the words can spell, NaN and infinities included.
std::optional<double> spelt(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<double> number(std::string_view text) {
  const std::optional<double> v = spelt(text);
  return v && std::isfinite(*v) ? v : std::nullopt;
}

// As the library reads words: "-1" and "-.5" are values, not options.
bool looksLikeOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !spelt(word);
}

std::string inQuotes(const std::string& word) { return "\"" + word + "\""; }

}  // namespace

std::string firstWordMistake(const CLI::App& app, const OptionTakes& takes, int argc,
                             const char* const* argv) {
  std::string unknown, malformed;
  const auto note = [](std::string& first, const std::string& line) {
    if (first.empty()) first = line;
  };
  const auto takesOf = [&takes](const std::string& name) {
    const auto it = takes.find(name);
    return it == takes.end() ? std::string("a value") : it->second;
  };
  const CLI::Option* positional = nullptr;
  for (const CLI::Option* o : app.get_options())
    if (o->get_positional() && !o->nonpositional()) positional = o;
  std::map<const CLI::Option*, std::vector<std::string>> given;
  bool onlyWords = false;  // after "--"
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (!onlyWords && word == "--") {
      onlyWords = true;
      continue;
    }
    if (onlyWords || !looksLikeOption(word)) {
      if (positional && given[positional].empty()) {
        given[positional].push_back(word);
      } else if (positional) {
        note(unknown, inQuotes(word) + ": one word too many, only one " +
                          positional->get_type_name() + " is taken (see --help)");
      } else {
        note(unknown, inQuotes(word) + " is not an option (see --help)");
      }
      continue;
    }
    const bool isLong = word.starts_with("--");
    const size_t equals = isLong ? word.find('=') : std::string::npos;
    const std::string name = word.substr(0, equals);
    const CLI::Option* option = nullptr;
    for (const CLI::Option* o : app.get_options()) {
      const auto& names = isLong ? o->get_lnames() : o->get_snames();
      for (const std::string& n : names)
        if (name == (isLong ? "--" : "-") + n) option = o;
    }
    if (!option) {
      note(unknown, name + " is not an option (see --help)");
      continue;
    }
    std::string value;
    if (option->get_expected_max() == 0) {
      if (equals != std::string::npos) note(malformed, name + " takes no value");
    } else if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < argc && !looksLikeOption(argv[i + 1])) {
      value = argv[++i];
    } else {
      note(malformed, name + " needs a value: it takes " + takesOf(name));
      continue;
    }
    std::vector<std::string>& values = given[option];
    values.push_back(value);
    if (values.size() == 2 && option->get_expected_max() != 0 &&
        option->get_multi_option_policy() != CLI::MultiOptionPolicy::TakeAll)
      note(malformed, name + " is given twice (" + inQuotes(values[0]) + ", " +
                          inQuotes(values[1]) + "): give it once");
  }
  return unknown.empty() ? malformed : unknown;
}

std::string badValue(const std::string& option, const std::string& value,
                     const std::string& takes) {
  return option + " " + inQuotes(value) + ": takes " + takes;
}

std::optional<int64_t> wholeNumber(std::string_view text, int64_t minimum, int64_t maximum) {
  const std::optional<double> v = number(text);
  if (!v || *v != std::trunc(*v) || *v < static_cast<double>(minimum) ||
      *v > static_cast<double>(maximum))
    return std::nullopt;
  return static_cast<int64_t>(*v);
}

std::optional<double> realNumber(std::string_view text, double minimum, double maximum) {
  const std::optional<double> v = number(text);
  if (!v || *v < minimum || *v > maximum) return std::nullopt;
  return v;
}

}  // namespace ondelith
