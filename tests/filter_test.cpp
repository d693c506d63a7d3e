#include "engine/filter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ondelith {
namespace {

TEST(Filter, CoefficientsAtTheStartSettings) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  EXPECT_NEAR(lf.f, 0.0680272, 1e-7);
  EXPECT_NEAR(lf.p, 0.1187468, 1e-7);
  EXPECT_NEAR(lf.k, -0.7625064, 1e-7);
  EXPECT_NEAR(lf.t, 1.2216363, 1e-7);
  EXPECT_NEAR(lf.t2, 13.4923954, 1e-7);
  EXPECT_NEAR(lf.r, 1.6894079, 1e-7);
  EXPECT_EQ(lf.cachedCutoff, 1500);
  EXPECT_EQ(lf.cachedResonance, 50);
}

TEST(Filter, StepResponseAtTheStartSettings) {
  LadderFilter lf;
  EXPECT_NEAR(ladderFilterStep(lf, 1.0f, 1500.0, 50), 0.0001988, 1e-7);
  EXPECT_NEAR(ladderFilterStep(lf, 1.0f, 1500.0, 50), 0.0016005, 1e-7);
  EXPECT_NEAR(ladderFilterStep(lf, 1.0f, 1500.0, 50), 0.0063744, 1e-7);
  double y = 0;
  for (int i = 0; i < 44100; ++i) y = ladderFilterStep(lf, 1.0f, 1500.0, 50);
  EXPECT_NEAR(y, 0.3589, 1e-4);
}

TEST(Filter, SilenceStaysSilent) {
  LadderFilter lf;
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(ladderFilterStep(lf, 0.0f, 5000.0, 100), 0.0);
}

TEST(Filter, ResonanceZeroHasNoFeedback) {
  LadderFilter lf;
  ladderFilterStep(lf, 1.0f, 800.0, 0);
  EXPECT_EQ(lf.r, 0.0);
  EXPECT_EQ(lf.x, 1.0);
}

TEST(Filter, ResonanceScaleFollowsTheCutoff) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 20.0, 100);
  EXPECT_NEAR(lf.r, 3.96, 0.01);
  ladderFilterStep(lf, 0.0f, 5000.0, 100);
  EXPECT_NEAR(lf.r, 2.40, 0.01);
}

TEST(Filter, SubHertzCutoffChangesWaitForTheRoundedValue) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  const double f = lf.f;
  ladderFilterStep(lf, 0.0f, 1500.4, 50);
  EXPECT_EQ(lf.f, f);
  ladderFilterStep(lf, 0.0f, 1500.6, 50);
  EXPECT_DOUBLE_EQ(lf.f, 1500.6 * 2.0 / 44100.0);
  EXPECT_EQ(lf.cachedCutoff, 1501);
}

TEST(Filter, ResonanceAloneRecomputesOnlyR) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  const double p = lf.p;
  ladderFilterStep(lf, 0.0f, 1500.0, 100);
  EXPECT_EQ(lf.p, p);
  EXPECT_NEAR(lf.r, 2 * 1.6894079, 1e-6);
}

}  // namespace
}  // namespace ondelith
