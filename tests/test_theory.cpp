// The potential-intensity routine.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "setup/theory.hpp"

namespace tarvo {
namespace {

struct Result {
  float vmax = -1, pmin = -1;
  int ifail = -1;
};

Result pi(float ckcd, float rh, float sst, float t_out, float p_amb) {
  Result r;
  theory(ckcd, rh, sst, t_out, p_amb, r.vmax, r.pmin, r.ifail);
  return r;
}

TEST(Theory, ReferenceEnvironment) {
  const Result r = pi(1.0f, 0.8f, 27.0f, -70.0f, 1005.0f);
  EXPECT_EQ(r.ifail, 0);
  EXPECT_NEAR(r.vmax, 75.0f, 0.05f);
  EXPECT_NEAR(r.pmin, 922.0f, 0.5f);
}

TEST(Theory, WarmerSeaGivesAStrongerStorm) {
  const Result r = pi(1.0f, 0.8f, 30.0f, -70.0f, 1005.0f);
  EXPECT_EQ(r.ifail, 0);
  EXPECT_NEAR(r.vmax, 84.0f, 0.1f);
  EXPECT_NEAR(r.pmin, 896.0f, 0.5f);
}

TEST(Theory, NoEfficiencyOrSaturatedAirGivesNoStorm) {
  const Result same = pi(1.0f, 0.8f, -70.0f, -70.0f, 1005.0f);
  EXPECT_EQ(same.ifail, 0);
  EXPECT_EQ(same.vmax, 0.0f);
  EXPECT_EQ(same.pmin, 1005.0f);
  const Result saturated = pi(1.0f, 1.0f, 27.0f, -70.0f, 1005.0f);
  EXPECT_EQ(saturated.ifail, 0);
  EXPECT_EQ(saturated.vmax, 0.0f);
  EXPECT_EQ(saturated.pmin, 1005.0f);
}

TEST(Theory, FailureSetsTheFlag) {
  // A very dry, very warm environment drives the pressure iterate down to 1 hPa.
  const Result dry = pi(1.0f, 0.0f, 60.0f, -90.0f, 1005.0f);
  EXPECT_EQ(dry.ifail, 1);
  EXPECT_EQ(dry.vmax, 0.0f);
  EXPECT_EQ(dry.pmin, 1005.0f);
  // A non-number never converges and runs to the step limit.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Result bad = pi(1.0f, nan, 27.0f, -70.0f, 1005.0f);
  EXPECT_EQ(bad.ifail, 1);
  EXPECT_EQ(bad.vmax, 0.0f);
  EXPECT_EQ(bad.pmin, 1005.0f);
}

}  // namespace
}  // namespace tarvo
