// The rows' texts: what people read and type, both ways.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "instrument/registry.h"

namespace ondelith {

namespace {

std::string hundredths(int32_t n) {
  char text[24];
  std::snprintf(text, sizeof text, "%s%d.%02d", n < 0 ? "-" : "", std::abs(n) / 100,
                std::abs(n) % 100);
  return text;
}

bool readsAsHundredths(const Parameter& p) {
  return p.text == TextRule::Hundredths || unitInfo(p.unit).hundredths;
}

bool sameWord(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

// A whole decimal number, all of the text: "-35".
bool readWhole(std::string_view text, int32_t& out) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, out);
  return error == std::errc() && at == end && !text.empty();
}

// Hundredths written with a point: ".05", "0.5", "-1.25".
bool readPointed(std::string_view text, int32_t& out) {
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view whole = text.substr(0, dot), fraction = text.substr(dot + 1);
  int32_t units = 0, parts = 0;
  const auto digits = [](std::string_view t) { return !t.empty() && t.front() != '-'; };
  if (!whole.empty() && (!digits(whole) || !readWhole(whole, units) || units > 1000000))
    return false;
  if (fraction.size() > 2 || !digits(fraction) || !readWhole(fraction, parts)) return false;
  if (fraction.size() == 1) parts *= 10;
  out = (negative ? -1 : 1) * (units * 100 + parts);
  return true;
}

bool readNumber(const Parameter& p, std::string_view text, int32_t& out) {
  if (readWhole(text, out)) return true;
  return readsAsHundredths(p) && readPointed(text, out);
}

bool readChoice(const Parameter& p, std::string_view text, int32_t& out) {
  for (const Choice& c : p.choices)
    if (sameWord(text, c.token) || sameWord(text, c.text)) {
      out = c.value;
      return true;
    }
  return false;
}

bool readChannel(const Parameter& p, std::string_view text, int32_t& out) {
  if (sameWord(text, "all")) {
    out = kEveryChannel;
    return true;
  }
  return readNumber(p, text, out);
}

// The rows a range switch sets the range of: the first one, or -1.
int switchedRow(int index) {
  for (int i = 0; i < kParameterCount; ++i)
    if (rangeSwitchOf(i) == index) return i;
  return -1;
}

std::string withUnit(const Parameter& p, int32_t value) {
  const UnitInfo& u = unitInfo(p.unit);
  return (u.hundredths ? hundredths(value) : std::to_string(value)) + std::string(u.suffix);
}

// "20 to 5000 Hz"; hundredths as typed and as read: "1 to 99 (0.01 to 0.99)".
std::string boundsText(int index, Bounds b) {
  const Parameter& p = parameter(index);
  const UnitInfo& u = unitInfo(p.unit);
  const std::string whole = std::to_string(b.minimum) + " to " + std::to_string(b.maximum);
  if (!u.hundredths) return whole + std::string(u.suffix);
  return whole + " (" + hundredths(b.minimum) + " to " + hundredths(b.maximum) +
         std::string(u.suffix) + ")";
}

}  // namespace

std::string parameterText(int index, int32_t value) {
  switch (parameter(index).text) {
    case TextRule::Hundredths:
      return (value >= 0 && value < 10 ? ".0" : ".") + std::to_string(value);
    case TextRule::Choice:
      if (const Choice* c = choiceOf(index, value)) return std::string(c->text);
      break;
    case TextRule::Channel: return value == kEveryChannel ? "All" : std::to_string(value);
    case TextRule::Decimal: break;
  }
  return std::to_string(value);
}

std::string parameterToken(int index, int32_t value) {
  switch (parameter(index).text) {
    case TextRule::Choice:
      if (const Choice* c = choiceOf(index, value)) return std::string(c->token);
      break;
    case TextRule::Channel:
      if (value == kEveryChannel) return "all";
      break;
    case TextRule::Hundredths:
    case TextRule::Decimal: break;
  }
  return std::to_string(value);
}

bool parseParameterText(int index, std::string_view text, int32_t& value) {
  if (index < 0 || index >= kParameterCount) return false;
  const Parameter& p = parameter(index);
  int32_t v = 0;
  bool read = false;
  switch (p.text) {
    case TextRule::Choice: read = readChoice(p, text, v); break;
    case TextRule::Channel: read = readChannel(p, text, v); break;
    case TextRule::Hundredths:
    case TextRule::Decimal: read = readNumber(p, text, v); break;
  }
  if (!read || v < p.minimum || v > p.maximum) return false;
  value = v;
  return true;
}

std::string parameterDisplay(int index, int32_t value) {
  const Parameter& p = parameter(index);
  if (p.text == TextRule::Channel) return parameterText(index, value);
  if (p.text != TextRule::Choice) return withUnit(p, value);
  const int switched = switchedRow(index);
  const Choice* c = choiceOf(index, value);
  if (switched < 0 || !c) return parameterText(index, value);
  return std::string(c->text) + " (" + boundsText(switched, c->switched) + ")";
}

std::string parameterToolTip(int index, int32_t value) {
  return std::string(parameter(index).name) + ": " + parameterDisplay(index, value);
}

std::string wholeRangeText(int index) {
  const Parameter& p = parameter(index);
  return boundsText(index, {p.minimum, p.maximum});
}

std::string rangeText(int index, int32_t switchValue) {
  const Parameter& p = parameter(index);
  switch (p.text) {
    case TextRule::Choice: {
      std::string text;
      for (size_t i = 0; i < p.choices.size(); ++i)
        text += (i == 0                      ? ""
                 : i + 1 == p.choices.size() ? " or "
                                             : ", ") +
                std::string(p.choices[i].token);
      return text;
    }
    case TextRule::Channel:
      return "all or " + std::to_string(kEveryChannel + 1) + " to " + std::to_string(p.maximum);
    case TextRule::Hundredths:
    case TextRule::Decimal: break;
  }
  return boundsText(index, boundsOf(index, switchValue));
}

bool readParameterValue(std::string_view word, ParameterValue& out, std::string& mistake) {
  const size_t equals = word.find('=');
  const std::string_view symbol = word.substr(0, equals);
  if (equals == std::string_view::npos || symbol.empty()) {
    mistake = "takes SYMBOL=VALUE, as \"cutoff=800\"";
    return false;
  }
  const int index = parameterIndex(symbol);
  if (index < 0) {
    mistake = "there is no parameter \"" + std::string(symbol) + "\" (see --list-parameters)";
    return false;
  }
  int32_t value = 0;
  if (!parseParameterText(index, word.substr(equals + 1), value)) {
    mistake = std::string(symbol) + " takes " +
              (rangeSwitchOf(index) >= 0 ? wholeRangeText(index) : rangeText(index));
    return false;
  }
  out = {index, value};
  return true;
}

std::string parameterList() {
  std::string list;
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    const int by = rangeSwitchOf(i);
    const std::string range =
        by < 0 ? rangeText(i)
               : wholeRangeText(i) + ", as " + std::string(parameter(by).symbol) + " allows";
    list += std::string(p.symbol) + "\t" + range + "\t" + parameterToken(i, p.start) + "\t" +
            std::string(p.name) + "\n";
  }
  return list;
}

std::string rangeMistake(int index, int32_t value, int32_t switchValue) {
  if (limitValue(index, value, switchValue) == value) return {};
  const int by = rangeSwitchOf(index);
  return std::string(parameter(index).symbol) + " takes " + rangeText(index, switchValue) +
         " while " + std::string(parameter(by).symbol) + " is " + parameterToken(by, switchValue);
}

}  // namespace ondelith
