// Model scales, coefficients and the samples in model units.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "helpers.hpp"
#include "setup/model_units.hpp"

namespace tarvo {
namespace {

const OceanGrids& grids() {
  static const OceanGrids g = test::uniform_grids(-4000.0f, 50.0f, 20.0f);
  return g;
}

// Samples every 2 h straight along the track at `speed` m/s, with an observed
// wind from `v_first` to `v_48h` m/s over the first 48 h.
void set_up_with(tarvo::Run& run, int n, float speed, float v_first, float v_48h, const char* basin = "al") {
  run.basin[0] = basin[0];
  run.basin[1] = basin[1];
  run.n_samp = n;
  run.i_start = 1;
  for (int k = 1; k <= n; ++k) {
    const float t = static_cast<float>(k - 1) * 7200.0f;
    run.samp_time[k] = t;
    run.samp_dist[k] = speed * t;
    run.samp_vobs[k] = k >= 25 ? v_48h : v_first + (v_48h - v_first) * static_cast<float>(k - 1) / 24.0f;
    run.samp_vpot[k] = 75.0f;
    run.samp_mld[k] = 50.0f;
    run.samp_elev[k] = -4000.0f;
    run.samp_strat[k] = 20.0f;
    run.samp_f6[k] = 5.0f;
  }
  run.set_up();
}

// The value as printed with as many significant digits as `expected` shows.
std::string printed(double value, const char* expected) {
  int digits = 0;
  for (const char* p = expected; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9' && (digits > 0 || *p != '0')) ++digits;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, value);
  return buf;
}

#define EXPECT_PRINTED(value, text) EXPECT_EQ(printed(value, text), text) << #value

TEST(SetUp, ReferenceStateAndScales) {
  tarvo::Run run(grids(), ".");
  set_up_with(run, 30, 5.0f, 20.0f, 20.0f);
  EXPECT_PRINTED(run.qsat_sea, "0.0220692");
  EXPECT_PRINTED(run.velocity_scale, "59.7167");
  EXPECT_PRINTED(run.s_ref_bl, "5853.15");
  EXPECT_PRINTED(run.p_top, "153.567");
  EXPECT_PRINTED(run.half_depth, "425.716");
  EXPECT_PRINTED(run.bl_depth, "0.117449");
  EXPECT_PRINTED(run.qsat_env, "0.0113358");
  // 0.468121499: the six printed digits of the check value round it up.
  EXPECT_NEAR(run.lapse_factor, 0.468122f, 1e-6f);
  EXPECT_PRINTED(run.lapse_factor, "0.4681215");
  EXPECT_PRINTED(run.length_scale, "1194333");
  EXPECT_PRINTED(run.time_scale, "77940.5");
  EXPECT_PRINTED(run.kappa, "0.0413972");
  EXPECT_PRINTED(run.inv_3h, "7.21671");
  EXPECT_PRINTED(run.inv_8h, "2.70627");
  EXPECT_PRINTED(run.cooling_coef, "0.327606");
  EXPECT_PRINTED(run.r0_init, "0.0502372");
  EXPECT_PRINTED(run.r_outer, "0.334915");
  EXPECT_PRINTED(run.r_far, "0.837287");
  EXPECT_PRINTED(run.dR, "0.0174435");
  EXPECT_PRINTED(run.dR_coef, "2.21772e-07");
  EXPECT_PRINTED(run.dt, "0.000128303");
  EXPECT_PRINTED(run.sample_interval, "0.0923782");
  EXPECT_PRINTED(run.s_env, "-1.07963");
  EXPECT_PRINTED(run.wind_coef, "2.23937");
  EXPECT_PRINTED(run.depth_factor, "0.00980876");
  EXPECT_PRINTED(run.ocean_coef_a, "0.147131");
  EXPECT_PRINTED(run.ocean_coef_b, "0.108776");
  EXPECT_NEAR(run.vpot, 75.0f, 0.05f);
  // The two constants named like the pressure constant keep their own digits.
  EXPECT_EQ(run.kappa, run.velocity_scale_sq * 1.16086e-05f);
  EXPECT_NE(1.16086e-05f, 1.1608598e-05f);
}

TEST(SetUp, ExactBitsOfTheReferenceState) {
  tarvo::Run run(grids(), ".");
  set_up_with(run, 30, 5.0f, 20.0f, 20.0f);
  auto bits = [](float f) {
    unsigned u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  EXPECT_EQ(bits(run.velocity_scale), 0x426EDDDBu);
  EXPECT_EQ(bits(run.cooling_coef), 0x3EA7BBEEu);
  EXPECT_EQ(bits(run.ocean_coef_b), 0x3DDEC60Eu);
  EXPECT_EQ(bits(run.vpot), 0x4295EE75u);
  EXPECT_EQ(run.time_scale, 77940.453125);
}

TEST(SetUp, EasternPacificChangesOnlyTheOceanCoefficients) {
  tarvo::Run al(grids(), "."), ep(grids(), "."), upper(grids(), ".");
  set_up_with(al, 30, 5.0f, 20.0f, 20.0f, "al");
  set_up_with(ep, 30, 5.0f, 20.0f, 20.0f, "ep");
  set_up_with(upper, 30, 5.0f, 20.0f, 20.0f, "EP");
  EXPECT_PRINTED(ep.ocean_coef_a, "0.0245219");
  EXPECT_PRINTED(ep.ocean_coef_b, "0.0687961");
  EXPECT_EQ(ep.basin_coef_1, 0.1f);
  EXPECT_EQ(ep.basin_coef_2, 0.4f);
  EXPECT_EQ(ep.depth_factor, al.depth_factor);
  EXPECT_EQ(ep.kappa, al.kappa);
  EXPECT_EQ(upper.ocean_coef_a, al.ocean_coef_a);  // case-sensitive
  EXPECT_EQ(upper.ocean_coef_b, al.ocean_coef_b);
}

TEST(SetUp, InitialVortexStrengthAndMoisture) {
  tarvo::Run run(grids(), ".");
  set_up_with(run, 30, 5.0f, 20.0f, 20.0f);
  EXPECT_FLOAT_EQ(run.speed0, 5.0f);
  EXPECT_PRINTED(run.v0_init, "0.276305");
  EXPECT_EQ(run.k48, 25);
  EXPECT_EQ(run.vobs_trend, 0.0f);
  EXPECT_EQ(run.init_moist_weight, 0.19999999f);  // 1 - 0.8 in single precision

  tarvo::Run weak(grids(), ".");
  set_up_with(weak, 30, 5.0f, 6.0f, 6.0f);
  EXPECT_EQ(weak.v0_init, 5.0f / weak.velocity_scale);

  tarvo::Run rapid(grids(), ".");
  set_up_with(rapid, 30, 5.0f, 20.0f, 60.0f);
  EXPECT_EQ(rapid.init_moist_weight, 0.0f);

  tarvo::Run weakening(grids(), ".");
  set_up_with(weakening, 30, 5.0f, 40.0f, 30.0f);
  EXPECT_GT(weakening.init_moist_weight, 0.2f);

  tarvo::Run short_track(grids(), ".");
  set_up_with(short_track, 10, 5.0f, 20.0f, 20.0f);
  EXPECT_EQ(short_track.k48, 10);
}

TEST(SetUp, SamplesInModelUnits) {
  tarvo::Run run(grids(), ".");
  set_up_with(run, 30, 5.0f, 20.0f, 20.0f);
  EXPECT_EQ(run.samp_time[2], static_cast<float>(7200.0 / run.time_scale));
  EXPECT_EQ(run.samp_mld[3], 50.0f * run.depth_factor);
  EXPECT_EQ(run.samp_strat[3], 12.5f * (0.01f * 20.0f));
  EXPECT_EQ(run.samp_vobs[3], 20.0f);  // stays in m/s
  EXPECT_TRUE(run.samp_dist_sorted);
}

TEST(SetUp, SerialAndParallelConversionsAgreeBitForBit) {
  constexpr int n = 120;
  float a[6][n + 1], b[6][n + 1];
  for (int k = 0; k <= n; ++k)
    for (int f = 0; f < 6; ++f) a[f][k] = b[f][k] = 1.37f * k + 0.11f * f - 40.0f;
  samples_to_model_units(a[0], a[1], a[2], a[3], a[4], a[5], n, 1194333.1f, 77940.453125, 0.0098f, false);
  samples_to_model_units(b[0], b[1], b[2], b[3], b[4], b[5], n, 1194333.1f, 77940.453125, 0.0098f, true);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

}  // namespace
}  // namespace tarvo
