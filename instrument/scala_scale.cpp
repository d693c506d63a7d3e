#include "instrument/scala_scale.h"

#include <charconv>
#include <cmath>

namespace ondelith {

namespace {

bool digitsOnly(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Cents: a sign, digits, one point, digits; no exponent, nothing else.
bool readCents(std::string_view word, double& cents, std::string& reason) {
  const std::string_view unsigned_ =
      word.starts_with('-') || word.starts_with('+') ? word.substr(1) : word;
  const size_t point = unsigned_.find('.');
  const std::string_view whole = unsigned_.substr(0, point), part = unsigned_.substr(point + 1);
  if ((!whole.empty() && !digitsOnly(whole)) || (!part.empty() && !digitsOnly(part)) ||
      whole.size() + part.size() == 0) {
    reason = joined({"\"", word, "\" is no number of cents"});
    return false;
  }
  const char* first = word.data() + (word.starts_with('+') ? 1 : 0);
  double v = 0;
  const auto [end, error] =
      std::from_chars(first, word.data() + word.size(), v, std::chars_format::fixed);
  if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(v) ||
      std::abs(v) > kMaxScaleCents) {
    reason = joined({"\"", word, "\" cents is no pitch a key can play"});
    return false;
  }
  cents = v;
  return true;
}

// A ratio: "n/d" or "n", both whole numbers above zero.
bool readRatio(std::string_view word, double& cents, std::string& reason) {
  const size_t slash = word.find('/');
  const std::string_view top = word.substr(0, slash);
  const std::string_view bottom = slash == std::string_view::npos ? "1" : word.substr(slash + 1);
  if (word.starts_with('-')) {
    reason = joined({"the ratio ", word, " is negative: a ratio must be above zero"});
    return false;
  }
  if (!digitsOnly(top) || !digitsOnly(bottom)) {
    reason = joined({"\"", word, "\" is neither cents (with a point) nor a ratio"});
    return false;
  }
  double n = 0, d = 0;
  std::from_chars(top.data(), top.data() + top.size(), n);
  std::from_chars(bottom.data(), bottom.data() + bottom.size(), d);
  if (!(n > 0) || !(d > 0)) {
    reason = joined({"the ratio ", word, " is ", d > 0 ? "zero" : "divided by zero",
                     ": a ratio must be above zero"});
    return false;
  }
  const double c = 1200.0 * (std::log2(n) - std::log2(d));
  if (!std::isfinite(c) || std::abs(c) > kMaxScaleCents) {
    reason = joined({"the ratio ", word, " is no pitch a key can play"});
    return false;
  }
  cents = c;
  return true;
}

}  // namespace

bool readScalaPitch(std::string_view word, double& cents, std::string& reason) {
  if (word.empty()) {
    reason = "a degree's pitch is missing";
    return false;
  }
  return word.find('.') != std::string_view::npos ? readCents(word, cents, reason)
                                                  : readRatio(word, cents, reason);
}

bool readScalaScale(std::string_view text, ScalaScale& out, ScalaFault& fault) {
  std::vector<ScalaLine> lines;
  if (!scalaLines(text, lines, fault)) return false;
  if (lines.size() < 2) {
    fault = {0, "the file ends before the number of degrees: it is no Scala scale"};
    return false;
  }
  ScalaScale scale;
  scale.description = std::string(trimmedStart(lines[0].text));
  long count = 0;
  const ScalaLine& countLine = lines[1];
  if (!readCount(firstWord(countLine.text), count)) {
    fault = {countLine.number,
             joined({"\"", firstWord(countLine.text), "\" is no number of degrees"})};
    return false;
  }
  if (count > kMaxScaleDegrees) {
    fault = {countLine.number, joined({"a scale of ", std::to_string(count), " degrees; at most ",
                                       std::to_string(kMaxScaleDegrees), " are played"})};
    return false;
  }
  size_t k = 2;
  for (; k < lines.size() && scale.cents.size() < static_cast<size_t>(count); ++k) {
    const std::string_view word = firstWord(lines[k].text);
    if (word.empty()) continue;  // a blank line between degrees
    double cents = 0;
    std::string reason;
    if (!readScalaPitch(word, cents, reason)) {
      fault = {lines[k].number, reason};
      return false;
    }
    scale.cents.push_back(cents);
  }
  if (scale.cents.size() < static_cast<size_t>(count)) {
    fault = {lines.back().number,
             joined({"the scale names ", std::to_string(count), " degrees but gives ",
                     std::to_string(scale.cents.size())})};
    return false;
  }
  for (; k < lines.size(); ++k)
    if (!firstWord(lines[k].text).empty()) {
      fault = {lines[k].number,
               joined({"more degrees than the ", std::to_string(count), " the scale names"})};
      return false;
    }
  out = std::move(scale);
  return true;
}

}  // namespace ondelith
