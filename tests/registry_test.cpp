// The parameter table's own rules: each row whole, texts both ways.
#include "instrument/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace ondelith {
namespace {

TEST(Registry, EveryRowIsWholeAndFoundByItsSymbol) {
  std::set<std::string_view> symbols;
  std::set<int> lines;
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    EXPECT_TRUE(symbols.insert(p.symbol).second);
    EXPECT_EQ(parameterIndex(p.symbol), i);
    EXPECT_FALSE(p.name.empty());
    EXPECT_FALSE(p.label.empty());
    EXPECT_FALSE(p.help.empty());
    EXPECT_LE(p.minimum, p.start);
    EXPECT_LE(p.start, p.maximum);
    const Bounds b = startBounds(i);
    EXPECT_TRUE(b.minimum <= p.start && p.start <= b.maximum);
    if (p.patchLine != 0) {
      EXPECT_TRUE(lines.insert(p.patchLine).second);
      EXPECT_EQ(p.owner, Owner::Sound);
    }
    EXPECT_EQ(isSoundSetting(i), p.owner == Owner::Sound && p.patchLine == 0);
    for (const Choice& c : p.choices) EXPECT_EQ(choiceOf(i, c.value), &c);
  }
  EXPECT_EQ(parameterIndex("no_such_thing"), -1);
  // The 25 values follow the 56 curve lines, one line each, 57 to 81.
  EXPECT_EQ(lines.size(), 25u);
  EXPECT_EQ(*lines.begin(), 57);
  EXPECT_EQ(*lines.rbegin(), 81);
}

TEST(Registry, EveryValueReadsBackFromItsTokenAndItsText) {
  for (int i = 0; i < kParameterCount; ++i) {
    const Parameter& p = parameter(i);
    SCOPED_TRACE(p.symbol);
    for (int32_t v = p.minimum; v <= p.maximum; ++v) {
      if (p.text == TextRule::Choice && !choiceOf(i, v)) continue;
      int32_t token = p.minimum - 1, text = p.minimum - 1;
      ASSERT_TRUE(parseParameterText(i, parameterToken(i, v), token)) << parameterToken(i, v);
      ASSERT_TRUE(parseParameterText(i, parameterText(i, v), text)) << parameterText(i, v);
      EXPECT_EQ(token, v);
      EXPECT_EQ(text, v);
    }
    // A number past the range is refused, unless a choice has it for its
    // token (the oversampling factors), which reads as that choice.
    for (const int32_t outside : {p.minimum - 1, p.maximum + 1}) {
      const std::string word = std::to_string(outside);
      const bool token = std::any_of(p.choices.begin(), p.choices.end(),
                                     [&](const Choice& c) { return c.token == word; });
      int32_t kept = 12345;
      EXPECT_EQ(parseParameterText(i, word, kept), token) << outside;
      if (!token) {
        EXPECT_EQ(kept, 12345);
      }
    }
  }
}

TEST(Registry, TextsAsTheWindowAndTheCommandLineWriteThem) {
  struct Case {
    std::string_view symbol;
    int32_t value;
    std::string_view text, token, display;
  };
  const Case cases[] = {
      {"x1_fine", 5, ".05", "5", "0.05 x pitch"},
      {"y2_fine", 10, ".10", "10", "0.10 x pitch"},
      {"x1_mod", -100, "-100", "-100", "-100 %"},
      {"x1", 50, "50", "50", "0.50"},
      {"cutoff", 1500, "1500", "1500", "1500 Hz"},
      {"attack", 10, "10", "10", "10 ms"},
      {"duration_range", kDurationRangeX1, "x1", "x1", "x1 (100 to 1000 ms)"},
      {"duration_range", kDurationRangeX10, "x10", "x10", "x10 (1000 to 10000 ms)"},
      {"midi_channel", kEveryChannel, "All", "all", "All"},
      {"midi_channel", 16, "16", "16", "16"},
      {"bend_range", 2, "2", "2", "2 semitones"},
  };
  for (const Case& c : cases) {
    const int i = parameterIndex(c.symbol);
    SCOPED_TRACE(c.symbol);
    EXPECT_EQ(parameterText(i, c.value), c.text);
    EXPECT_EQ(parameterToken(i, c.value), c.token);
    EXPECT_EQ(parameterDisplay(i, c.value), c.display);
    EXPECT_EQ(parameterToolTip(i, c.value),
              std::string(parameter(i).name) + ": " + std::string(c.display));
  }
}

TEST(Registry, ReadsWhatPeopleTypeAndRefusesTheRest) {
  struct Case {
    std::string_view symbol, text;
    bool read;
    int32_t value;
  };
  const Case cases[] = {
      {"x1_fine", "0.25", true, 25},     {"x1_fine", ".5", true, 50},
      {"x1", "0.5", true, 50},           {"duration_range", "X10", true, kDurationRangeX10},
      {"midi_channel", "ALL", true, 0},  {"midi_channel", "0", true, 0},
      {"cutoff", "", false, 0},          {"cutoff", "1500 Hz", false, 0},
      {"cutoff", "+1500", false, 0},     {"cutoff", "1500.5", false, 0},
      {"x1_fine", "1.25", false, 0},     {"x1_mod", "-.5", false, 0},
      {"duration_range", "2", false, 0}, {"duration_range", "x100", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = -7;
    EXPECT_EQ(parseParameterText(parameterIndex(c.symbol), c.text, v), c.read)
        << c.symbol << " " << c.text;
    EXPECT_EQ(v, c.read ? c.value : -7) << c.symbol << " " << c.text;
  }
  int32_t v = 0;
  EXPECT_FALSE(parseParameterText(-1, "1", v));
  EXPECT_FALSE(parseParameterText(kParameterCount, "1", v));
}

TEST(Registry, ARangeSwitchGivesItsRowsTheirRange) {
  EXPECT_EQ(rangeSwitchOf(kDurationIndex), kDurationRangeIndex);
  EXPECT_EQ(rangeSwitchOf(kCutoffIndex), -1);
  EXPECT_EQ(boundsOf(kDurationIndex, kDurationRangeX1), (Bounds{100, 1000}));
  EXPECT_EQ(boundsOf(kDurationIndex, kDurationRangeX10), (Bounds{1000, 10000}));
  EXPECT_EQ(limitValue(kDurationIndex, 5000, kDurationRangeX1), 1000);
  EXPECT_EQ(limitValue(kDurationIndex, 50, kDurationRangeX10), 1000);
  EXPECT_EQ(rangeText(kDurationIndex, kDurationRangeX1), "100 to 1000 ms");
  EXPECT_EQ(rangeText(kDurationRangeIndex), "x1 or x10");
  EXPECT_EQ(rangeText(kChannelIndex), "all or 1 to 16");
  EXPECT_EQ(rangeText(fineIndex(0)), "0 to 99 (0.00 to 0.99 x pitch)");
  EXPECT_EQ(rangeText(pointIndex(kRowY2)), "50 to 99 (0.50 to 0.99)");
}

}  // namespace
}  // namespace ondelith
