#include "engine/filter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ondelith {
namespace {

double ladderFilterStep(LadderFilter& lf, float in, double cutoff, int32_t resonance) {
  lf.setCutoff(cutoff);
  lf.setResonance(resonance);
  return lf.process(in);
}

TEST(Filter, CoefficientsAtTheStartSettings) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  EXPECT_NEAR(lf.coefficients().f, 0.0680272, 1e-7);
  EXPECT_NEAR(lf.coefficients().p, 0.1187468, 1e-7);
  EXPECT_NEAR(lf.coefficients().k, -0.7625064, 1e-7);
  EXPECT_NEAR(lf.coefficients().t, 1.2216363, 1e-7);
  EXPECT_NEAR(lf.coefficients().t2, 13.4923954, 1e-7);
  EXPECT_NEAR(lf.coefficients().r, 1.6894079, 1e-7);
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
  EXPECT_EQ(lf.coefficients().r, 0.0);
}

TEST(Filter, ResonanceScaleFollowsTheCutoff) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 20.0, 100);
  EXPECT_NEAR(lf.coefficients().r, 3.96, 0.01);
  ladderFilterStep(lf, 0.0f, 5000.0, 100);
  EXPECT_NEAR(lf.coefficients().r, 2.40, 0.01);
}

TEST(Filter, SubHertzCutoffChangesWaitForTheRoundedValue) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  const double f = lf.coefficients().f;
  ladderFilterStep(lf, 0.0f, 1500.4, 50);
  EXPECT_EQ(lf.coefficients().f, f);
  ladderFilterStep(lf, 0.0f, 1500.6, 50);
  EXPECT_DOUBLE_EQ(lf.coefficients().f, 1500.6 * 2.0 / 44100.0);
}

TEST(Filter, ResonanceAloneRecomputesOnlyR) {
  LadderFilter lf;
  ladderFilterStep(lf, 0.0f, 1500.0, 50);
  const double p = lf.coefficients().p;
  ladderFilterStep(lf, 0.0f, 1500.0, 100);
  EXPECT_EQ(lf.coefficients().p, p);
  EXPECT_NEAR(lf.coefficients().r, 2 * 1.6894079, 1e-6);
}

}  // namespace
}  // namespace ondelith
