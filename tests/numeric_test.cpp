#include "engine/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "editors/curve_editor.h"
#include "engine/bezier.h"
#include "engine/bezier_run.h"
#include "engine/oscillator.h"

namespace ondelith {
namespace {

TEST(Rounding, HalvesToEvenAndAwayFromZero) {
  const double halves[] = {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 104.5, 17640.5};
  const int even[] = {0, 2, 2, 0, -2, -2, 104, 17640};
  const int away[] = {1, 2, 3, -1, -2, -3, 105, 17641};
  for (size_t i = 0; i < std::size(halves); ++i) {
    EXPECT_EQ(roundEven(halves[i]), even[i]) << halves[i];
    EXPECT_EQ(roundAway(halves[i]), away[i]) << halves[i];
  }
  EXPECT_EQ(roundEven(0.49999999999999994), 0);
  EXPECT_EQ(roundAway(0.49999999999999994), 0);
  EXPECT_EQ(roundAway(-0.49999999999999994), 0);
}

TEST(Rounding, SaturatesAndMapsNaNToZero) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  for (auto round : {roundEven, roundAway}) {
    EXPECT_EQ(round(1e300), kMax);
    EXPECT_EQ(round(-1e300), kMin);
    EXPECT_EQ(round(std::numeric_limits<double>::infinity()), kMax);
    EXPECT_EQ(round(-std::numeric_limits<double>::infinity()), kMin);
    EXPECT_EQ(round(std::nan("")), 0);
    EXPECT_EQ(round(2147483646.4), 2147483646);
  }
  EXPECT_EQ(subtractSat(kMin, 1), kMin);
  EXPECT_EQ(subtractSat(kMax, -1), kMax);
}

TEST(Rounding, AgreesWithTheLibraryEverywhereInRange) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> wide(-2.1e9, 2.1e9);
  for (int i = 0; i < 200000; ++i) {
    double v = wide(rng);
    if (i % 3 == 0) v = std::floor(v) + 0.5;
    if (i % 7 == 0) v /= 1e7;
    ASSERT_EQ(roundEven(v), static_cast<int32_t>(std::nearbyint(v))) << v;
    ASSERT_EQ(roundAway(v), static_cast<int32_t>(std::round(v))) << v;
  }
}

// The phase by a multiply gives the division's bits: every place in short
// periods, and places spread over the longest allowed.
TEST(Phase, MultiplyGivesTheQuotientsBits) {
  const auto check = [](int32_t period, int32_t counter) {
    const float quotient = static_cast<float>(counter) / static_cast<float>(period);
    ASSERT_EQ(std::bit_cast<uint32_t>(phaseOf(counter, 1.0 / period)),
              std::bit_cast<uint32_t>(quotient))
        << counter << " / " << period;
  };
  for (int32_t period = 1; period <= 3000; ++period)
    for (int32_t counter = 0; counter < period; ++counter) check(period, counter);
  std::mt19937 rng(11);
  for (int i = 0; i < 2000000; ++i) {
    const int32_t period = 3001 + static_cast<int32_t>(rng() % (kExactPhasePeriods - 3001));
    check(period, static_cast<int32_t>(rng() % static_cast<uint32_t>(period)));
  }
}

// The vectorised evaluation must give the scalar's bits, lane by lane.
TEST(BezierRun, SameBitsAsOneAtATime) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::uniform_real_distribution<float> wild(-3.0f, 3.0f);
  constexpr int n = 203;  // whole groups and a remainder
  std::vector<float> phase(n), volume(n), raw(n);
  std::vector<Float4> position(n);  // slider units, Y2 from the middle line
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < n; ++i) {
      phase[i] = unit(rng);
      position[i] = Float4{round % 2 ? wild(rng) : unit(rng), unit(rng),
                           round % 2 ? wild(rng) : unit(rng), unit(rng) - 0.5f} *
                    100.0f;
      volume[i] = 1500.0f * unit(rng);
    }
    phase[3] = std::numeric_limits<float>::quiet_NaN();
    phase[4] = std::numeric_limits<float>::infinity();
    position[5] = Float4{99, position[5][1], 1, position[5][3]};
    phase[6] = 0.0f;
    evaluateBezierRun(n, phase.data(), position.data(), volume.data(), raw.data());
    for (int i = 0; i < n; ++i) {
      const Float4 c = coordinatesOf(position[i]);
      const float one = oscillatorOutput({phase[i], c[0], c[1], c[2], c[3], volume[i]});
      if (std::isnan(one))
        ASSERT_TRUE(std::isnan(raw[i])) << i;
      else
        ASSERT_EQ(std::bit_cast<uint32_t>(raw[i]), std::bit_cast<uint32_t>(one)) << i;
    }
  }
}

// Lookups from a cursor and over runs agree with the plain walk.
TEST(CurveLookup, CursorAndRunsAgreeWithTheWalk) {
  std::mt19937 rng(11);
  CurvePoints snap;
  CurveLookup table;
  for (int round = 0; round < 60; ++round) {
    snap.count = 2 + static_cast<int>(rng() % (kCurvePointCount - 1));
    const bool sorted = round % 3 != 0;
    for (int i = 0; i < snap.count; ++i)
      snap.points[static_cast<size_t>(i)] = {static_cast<int32_t>(rng() % 160),
                                             static_cast<int32_t>(rng() % 70)};
    if (sorted) {
      std::sort(snap.points.begin(), snap.points.begin() + snap.count,
                [](CurvePoint a, CurvePoint b) { return a.x < b.x; });
      snap.points[0].x = 0;
    }
    const float rangeX = static_cast<float>(1000 + rng() % 90000);
    buildCurveLookup(table, snap.points.data(), snap.count, 160, 70, rangeX, 100.0f, LookupScaled);
    if (sorted) {
      EXPECT_TRUE(table.sorted);
    }
    int32_t cursor = 1;
    const int32_t limit = table.limit;
    for (int32_t pos = -2; pos <= limit + 2; pos += 1 + static_cast<int32_t>(rng() % 3)) {
      const int32_t expected = lookupCurve(table, pos);
      ASSERT_EQ(lookupCurveFrom(table, pos, cursor), expected) << pos;
      const int32_t end = curveRunEnd(table, pos, expected);
      ASSERT_GE(end, pos);
      if (end > pos) {
        ASSERT_EQ(lookupCurve(table, end), expected);
        ASSERT_EQ(lookupCurve(table, pos + (end - pos) / 2), expected);
        if (end + 1 < limit) {
          // The run ends where the value or the segment changes.
          const bool valueChanges = lookupCurve(table, end + 1) != expected;
          bool segmentChanges = false;
          for (int i = 0; i < table.count; ++i)
            segmentChanges = segmentChanges ||
                             (table.X[static_cast<size_t>(i)] > static_cast<float>(end) &&
                              !(table.X[static_cast<size_t>(i)] > static_cast<float>(end + 1)));
          ASSERT_TRUE(valueChanges || segmentChanges) << pos << " " << end;
        }
      }
    }
    // Jumping back (a new note restarts the count) still agrees.
    for (int32_t pos : {limit / 2, 1, limit - 1, 3})
      ASSERT_EQ(lookupCurveFrom(table, pos, cursor), lookupCurve(table, pos));
  }
}

}  // namespace
}  // namespace ondelith
