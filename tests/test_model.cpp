// The storm model: initial vortex, the two halves of the time step and the
// step control.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "helpers.hpp"
#include "model/kernels.hpp"
#include "model/ocean_column.hpp"
#include "output/progress.hpp"

namespace tarvo {
namespace {

const OceanGrids& ocean() {
  static const OceanGrids g = test::uniform_grids(-4000.0f, 50.0f, 20.0f);
  return g;
}
const OceanGrids& land() {
  static const OceanGrids g = test::uniform_grids(300.0f, 50.0f, 20.0f);
  return g;
}

float swirl(const tarvo::Run& r, int j) {
  return 0.5f * (r.ring_R2[j] - r.rsq_lower[j]) / r.r_lower[j];
}

// ---------------------------------------------------------------- initial vortex

TEST(InitRun, InitialVortex) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  EXPECT_EQ(run.s_sat_old[50], 0.0f);
  for (int j = 2; j <= 50; ++j) {
    EXPECT_EQ(run.s_b[j], run.s_sat_old[j] - 0.05f) << j;
    EXPECT_EQ(run.s_b_old[j], run.s_b[j]) << j;
    if (run.ring_R[j] > run.r_outer) {
      EXPECT_EQ(run.rsq_lower[j], run.ring_R2[j]) << j;
    }
    EXPECT_EQ(run.rsq_upper[j], run.ring_R2[j]) << j;
  }
  // The swirl peaks near the initial radius of maximum wind with about v0_init.
  int jmax = 2;
  for (int j = 2; j <= 49; ++j)
    if (swirl(run, j) > swirl(run, jmax)) jmax = j;
  EXPECT_NEAR(swirl(run, jmax), run.v0_init, 0.05f * run.v0_init);
  EXPECT_NEAR(run.r_lower[jmax], run.r0_init, 0.5f * run.r0_init);
  EXPECT_EQ(run.model_time, run.dt);
  EXPECT_EQ(run.i_rmw, 2);
}

TEST(InitRun, WithoutACoreEveryInnerRingUsesTheOuterProfile) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  run.r0_init = 0.001f;  // R0 / dR < 1
  run.v0_init = 5.0f / run.velocity_scale;
  run.init_run();
  const float v0 = run.v0_init, r_core = 0.0f, ro = run.r_outer;
  for (int j = 2; j <= 50; ++j) {
    const float R = run.ring_R[j];
    if (R > ro) continue;
    const float A = v0 * r_core / (1.0f - (r_core / ro) * (r_core / ro));
    EXPECT_EQ(run.rsq_lower[j], (0.5f * (R * R) - A) / (0.5f - v0 * r_core / (ro * ro - r_core * r_core)));
  }
}

TEST(InitRun, RingsBeyondTheTrackTakeTheLastSample) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-6, 6));
  for (int k = 1; k <= run.n_samp; ++k) run.samp_mld[k] = 0.1f * k;
  run.init_run();
  EXPECT_GT(run.r_lower[50], run.samp_dist[run.n_samp]);
  EXPECT_EQ(run.mixed_layer_depth[50], run.samp_mld[run.n_samp]);
  EXPECT_EQ(run.mixed_layer_depth[1], run.mixed_layer_depth[2]);
}

TEST(OceanColumn, InterpolatesAndHoldsTheLastSample) {
  float dist[] = {0, 0.0f, 1.0f, 2.0f, 3.0f}, mld[] = {0, 10, 20, 30, 40}, strat[] = {0, 1, 2, 3, 4},
        elev[] = {0, -1, -2, -3, -4};
  for (bool sorted : {true, false}) {
    const SampleColumns s{4, dist, mld, strat, elev, sorted};
    EXPECT_EQ(ocean_column_at(s, 0.5f).mld, 15.0f);
    EXPECT_EQ(ocean_column_at(s, 1.0f).mld, 20.0f);
    EXPECT_EQ(ocean_column_at(s, -1.0f).mld, 0.0f);   // extrapolated from samples 1 and 2
    EXPECT_EQ(ocean_column_at(s, 2.5f).mld, 40.0f);   // beyond the second-to-last sample
    EXPECT_EQ(ocean_column_at(s, 99.0f).strat, 4.0f);
    EXPECT_EQ(first_sample_beyond(s, 1.5f), 3);
  }
  const SampleColumns one{1, dist, mld, strat, elev, true};
  EXPECT_EQ(ocean_column_at(one, 0.5f).mld, 10.0f);
}

// A hint only shortens the search: from any hint, on sorted samples with
// repeated distances (a storm standing still), the answer is the one found
// without it, NaN and distances off both ends included.
TEST(OceanColumn, AnyHintGivesTheAnswerWithoutOne) {
  float dist[] = {0, 0.0f, 1.0f, 1.0f, 1.0f, 2.0f, 3.0f, 3.0f, 7.0f, 8.0f, 9.0f, 10.0f, 10.0f};
  float zero[13] = {};
  const int n = 12;
  const SampleColumns s{n, dist, zero, zero, zero, true};
  std::vector<float> xs = {-5.0f, 0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 5.0f, 7.0f, 9.99f, 10.0f, 11.0f, NAN, INFINITY, -INFINITY};
  for (float x = -1.0f; x < 12.0f; x += 0.25f) xs.push_back(x);
  for (const float x : xs) {
    const int plain = sample_beyond(s, x);
    for (int hint = 0; hint <= n + 2; ++hint) EXPECT_EQ(sample_beyond(s, x, hint), plain) << x << " " << hint;
  }
}

// Vectors of look-ups interpolate as one look-up at a time does, lane by lane.
TEST(OceanColumn, LanesInterpolateAsSingleLookUps) {
  float dist[] = {0, 0.0f, 1.0f, 2.0f, 3.5f, 5.0f}, mld[] = {0, 10, 21, 29, 44, 47},
        strat[] = {0, 1, 2.5f, 3, 4, 3}, elev[] = {0, -1, -2, -3.5f, -4, -5};
  const SampleColumns s{5, dist, mld, strat, elev, true};
  typedef float Four __attribute__((vector_size(16)));
  typedef int FourInts __attribute__((vector_size(16)));
  const Four x = {-0.3f, 1.7f, 3.6f, 9.0f};
  FourInts k;
  for (int l = 0; l < 4; ++l) k[l] = sample_beyond(s, x[l]);
  const OceanColumnsOf<Four> c = ocean_columns_at<Four>(s, x, k);
  for (int l = 0; l < 4; ++l) {
    const OceanColumn one = ocean_column_at(s, x[l]);
    EXPECT_EQ(c.mld[l], one.mld) << l;
    EXPECT_EQ(c.strat[l], one.strat) << l;
    EXPECT_EQ(c.elev[l], one.elev) << l;
  }
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A vector's look-ups read from a window of samples in registers when every
// hint still holds; from any hints, the columns and the intervals left in
// the hints are those of one plain look-up at a time, NaN included.
template <class V>
void check_windowed_look_ups() {
  constexpr int w = sizeof(V) / sizeof(float);
  constexpr int n = 40, last = n + 20;
  float dist[last + 1] = {}, mld[last + 1] = {}, strat[last + 1] = {}, elev[last + 1] = {};
  for (int k = 1; k <= n; ++k) {
    dist[k] = static_cast<float>(k / 3) * 0.7f + static_cast<float>(k) * 0.11f;  // repeats too
    mld[k] = 20.0f + 3.0f * std::sin(0.3f * k);
    strat[k] = 1.0f + 0.01f * k;
    elev[k] = -4000.0f + 37.0f * k;
  }
  dist[7] = dist[6];  // a storm standing still
  const SampleColumns s{n, dist, mld, strat, elev, true, last};
  std::uint32_t seed = 12345;
  auto uniform = [&] { return static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f; };
  int windowed = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    V x;
    const float start = -1.0f + uniform() * (dist[n] + 2.0f);
    const float spacing = trial % 3 == 0 ? 0.5f * uniform() : 0.02f * uniform();
    for (int l = 0; l < w; ++l) x[l] = start + spacing * static_cast<float>(l);
    if (trial % 97 == 0) x[w / 2] = NAN;
    int hint[w], plain[w];
    for (int l = 0; l < w; ++l) {
      plain[l] = sample_beyond(s, x[l]);
      // Mostly the right interval or one off, sometimes none or out of range.
      const int off = trial % 5 == 0 ? static_cast<int>(uniform() * 5.0f) - 2 : 0;
      hint[l] = trial % 41 == 0 ? 0 : plain[l] + off;
    }
    bool all_right = true;
    for (int l = 0; l < w; ++l) all_right &= hint[l] == plain[l];
    windowed += all_right;
    const OceanColumnsOf<V> c = ocean_columns_near<V>(s, x, hint);
    for (int l = 0; l < w; ++l) {
      const OceanColumn one = ocean_column_at(s, x[l]);
      ASSERT_EQ(hint[l], plain[l]) << trial << " lane " << l;
      ASSERT_TRUE(same_bits(c.mld[l], one.mld) && same_bits(c.strat[l], one.strat) &&
                  same_bits(c.elev[l], one.elev))
          << trial << " lane " << l << " x " << x[l];
    }
  }
  EXPECT_GT(windowed, 1000);  // the window was taken often
}

TEST(OceanColumn, WindowedLookUpsOfEightAndSixteenLanesGiveThePlainAnswer) {
  typedef float Eight __attribute__((vector_size(32)));
  typedef float Sixteen __attribute__((vector_size(64)));
  check_windowed_look_ups<Eight>();
  check_windowed_look_ups<Sixteen>();
}

// ---------------------------------------------------------------- forcing

TEST(StepForcing, EnvironmentOnlyAfterTheStartRecordTime) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  run.start_record_time = 7200.0f;
  run.model_time = 7200.0 / run.time_scale;
  while (run.model_time * run.time_scale > 7200.0) run.model_time = std::nextafter(run.model_time, 0.0);
  while (run.model_time * run.time_scale < 7200.0) run.model_time = std::nextafter(run.model_time, 1.0);
  ASSERT_EQ(run.model_time * run.time_scale, 7200.0);
  run.t_env = 999.0f;
  run.step_forcing();
  EXPECT_EQ(run.t_env, 999.0f);  // equality counts as before
  run.model_time = std::nextafter(run.model_time, 1.0);
  run.step_forcing();
  EXPECT_EQ(run.t_env, 271.0f);
  EXPECT_EQ(run.s_m[49], run.s_env);
  EXPECT_EQ(run.s_m_old[50], run.s_env);
}

TEST(StepForcing, HumidityIsClampedBeforeTheFactor) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(0, 48));
  run.model_time = 0.5;
  for (int k = 1; k <= run.n_samp; ++k) run.samp_rh600[k] = 150.0f;
  run.step_forcing();
  EXPECT_EQ(run.rh_env, 80.0f);
  for (int k = 1; k <= run.n_samp; ++k) run.samp_rh600[k] = 2.0f;
  run.step_forcing();
  EXPECT_EQ(run.rh_env, 10.0f * 0.8f);
}

TEST(StepForcing, FeedbackIsZeroOverLandBeforeTheStartRecord) {
  tarvo::Run run(land(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  run.nudge_state = 0.3f;
  run.step_forcing();
  EXPECT_GE(run.floor_elev, 0.0f);
  EXPECT_EQ(run.nudge_target, 0.0f);
  EXPECT_EQ(run.nudge_state, 0.0f);
  EXPECT_EQ(run.nudge_rate, 0.0f);

  tarvo::Run sea(ocean(), ".");
  test::prepare_run(sea, test::simple_track(-24, 48, 90.0f));
  sea.nudge_state = 0.3f;
  sea.step_forcing();
  const float x = sea.v_eff - sea.v_obs;
  EXPECT_EQ(sea.nudge_rate, 90.0f * x - 150.0f * 0.3f);
  EXPECT_EQ(sea.nudge_target, std::fabs(x) * std::fabs(x) * x * sea.nudge_gain * 1000.0f);
  EXPECT_EQ(sea.nudge_state, sea.nudge_target);
  EXPECT_LT(sea.nudge_target, 0.0f);  // the model storm is weaker than observed
}

TEST(StepForcing, BeyondTheLastSampleTheTrackIsExtrapolated) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  const int n = run.n_samp;
  run.model_time = static_cast<double>(run.samp_time[n]) + 0.5 * (run.samp_time[n] - run.samp_time[n - 1]);
  run.step_forcing();
  EXPECT_EQ(run.k_now, n);
  EXPECT_NEAR(run.track_position, run.samp_dist[n] + 0.5f * (run.samp_dist[n] - run.samp_dist[n - 1]), 1e-6f);
  EXPECT_GT(run.track_position, run.samp_dist[n]);
}

// ---------------------------------------------------------------- friction and mixing

struct FirstHalf : ::testing::Test {
  tarvo::Run run{ocean(), "."};
  void SetUp() override {
    test::prepare_run(run, test::simple_track(-24, 48, 80.0f));
    for (int s = 0; s < 20; ++s) ASSERT_TRUE(run.step());
    run.step_forcing();
  }
};

TEST_F(FirstHalf, NoSwirlNoSurfaceStress) {
  for (int j = 1; j <= 50; ++j) run.rsq_lower_old[j] = run.ring_R2[j];
  for (int j = 1; j <= 50; ++j) run.r_lower_old[j] = std::sqrt(run.rsq_lower_old[j]);
  run.friction_and_mixing();
  for (int j = 2; j <= 50; ++j) EXPECT_EQ(run.surface_stress[j], 0.0f) << j;
}

TEST_F(FirstHalf, DragFactorIsCappedAndLandHasNoStabilityReduction) {
  const int j = 10;
  run.s_sea_sat[j] = run.s_sat_old[j] - 0.01f;
  run.floor_elev = 1.0f;  // land
  run.friction_and_mixing();
  const float* rl2 = run.rsq_lower_old.data();
  const float* rl = run.r_lower_old.data();
  const float X = run.ring_R2[j] - rl2[j];
  const float u = 0.5f * std::fabs(X) / rl[j];
  const float f_d = 1.0f + std::fmin(std::fmax(u, 1e-09f) * run.wind_coef, 1.8f);
  EXPECT_LE(f_d, 2.8f);
  const float plain = f_d * (std::fabs(X) * X * (rl[j + 1] - rl[j - 1]) * 0.25f) / (run.dR * run.ring_R[j]);
  EXPECT_EQ(run.surface_stress[j], plain);
  run.floor_elev = -1.0f;  // sea: reduced
  run.friction_and_mixing();
  const float t = 1.0f + (run.s_sat_old[j] - run.s_sea_sat[j]) * 2000.0f;
  EXPECT_EQ(run.surface_stress[j], plain / (t * t));
}

TEST_F(FirstHalf, NetUpdraftFractionAndDowndraftIntegral) {
  run.s_m_old[5] = run.s_env - 0.1f;
  run.s_b_old[6] = run.s_env + 0.2f;
  run.s_m_old[6] = run.s_env + 0.3f;
  for (int j = 2; j <= 49; ++j) run.m_up[j] = 0.01f * j;
  run.friction_and_mixing();
  EXPECT_EQ(run.eps_ring[5], 0.0f);
  EXPECT_EQ(run.eps_ring[6], 1.0f);
  for (int j = 2; j <= 49; ++j) {
    EXPECT_GE(run.eps_ring[j], 0.0f);
    EXPECT_LE(run.eps_ring[j], 1.0f);
    EXPECT_LE(run.downdraft_integral[j], run.downdraft_integral[j - 1]) << j;
  }
}

// ---------------------------------------------------------------- circulation solve

TEST(GaussSeidel, ZeroForcingStopsAfterOneSweep) {
  float sol[52] = {}, sweep[52] = {}, cin[52], cout[52], rhs[52] = {}, dinv[52];
  for (int j = 0; j < 52; ++j) cin[j] = cout[j] = 1.0f, dinv[j] = 1.0f / 3.0f;
  EXPECT_EQ(gauss_seidel_inward(sol, sweep, cin, cout, rhs, dinv, 49, 0.5f, 0.0f), 1);
  for (int j = 1; j <= 50; ++j) EXPECT_EQ(sol[j], 0.0f);
}

TEST(GaussSeidel, SolvesAManufacturedSystem) {
  float P[52], sol[52] = {}, sweep[52] = {}, cin[52], cout[52], rhs[52] = {}, dinv[52];
  const float bc = 0.9f, add = 0.01f;
  for (int j = 0; j < 52; ++j) P[j] = std::sin(0.1f * j);
  P[1] = 0.0f;
  P[50] = bc * P[49] + add;
  for (int j = 2; j <= 49; ++j) {
    cin[j] = 1.0f + 0.01f * j;
    cout[j] = 1.2f;
    const float diag = 0.5f + cin[j] + cout[j];
    dinv[j] = 1.0f / diag;
    rhs[j] = diag * P[j] - cout[j] * P[j + 1] - cin[j] * P[j - 1];
  }
  const int n = gauss_seidel_inward(sol, sweep, cin, cout, rhs, dinv, 49, bc, add);
  EXPECT_LT(n, 1000);
  for (int j = 2; j <= 49; ++j) EXPECT_NEAR(sol[j], P[j], 2e-3f) << j;
}

TEST(GaussSeidel, StopsAtTheSweepCapWithoutError) {
  float sol[52] = {}, sweep[52] = {}, cin[52], cout[52], rhs[52], dinv[52];
  for (int j = 0; j < 52; ++j) cin[j] = cout[j] = 1.0f, rhs[j] = 1.0f, dinv[j] = 1.0f / 2.000001f;
  EXPECT_EQ(gauss_seidel_inward(sol, sweep, cin, cout, rhs, dinv, 49, 1.0f, 0.0f), max_sweeps);
}

// Systems swept together get, each, the very sweeps it gets alone: the same
// count, solution and sweep bits, also when one stops at the sweep cap and
// the others long before it.
TEST(GaussSeidel, SystemsSweptTogetherAsEachAlone) {
  constexpr int K = 4;
  float cin[K][52], cout[K][52], rhs[K][52], dinv[K][52];
  float sol[K][52], sweep[K][52], sol1[K][52], sweep1[K][52];
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < 52; ++j) {
      cin[k][j] = 1.0f + 0.01f * j * k;
      cout[k][j] = 1.2f - 0.1f * k;
      rhs[k][j] = std::sin(0.1f * j + k) * (k == 2 ? 0.0f : 1e-3f * (k + 1));
      dinv[k][j] = 1.0f / (0.5f + cin[k][j] + cout[k][j]);
      sol[k][j] = sol1[k][j] = 0.01f * std::cos(0.3f * j * (k + 1));
      sweep[k][j] = sweep1[k][j] = 0.02f * k;
    }
  }
  for (int j = 0; j < 52; ++j) {  // system 3 never settles: the cap stops it
    cin[3][j] = cout[3][j] = rhs[3][j] = 1.0f;
    dinv[3][j] = 1.0f / 2.000001f;
  }
  auto bc_weight = [](int k) { return k == 3 ? 1.0f : 0.8f + 0.05f * k; };
  auto bc_add = [](int k) { return k == 3 ? 0.0f : 1e-3f * k; };
  SweepSystem systems[K];
  int together[K];
  for (int k = 0; k < K; ++k)
    systems[k] = {sol[k], sweep[k], cin[k], cout[k], rhs[k], dinv[k], bc_weight(k), bc_add(k)};
  // Work alongside the first sweep runs its steps once each, in order, also
  // when it has more steps than the sweep has rings.
  std::vector<int> steps_run;
  gauss_seidel_inward<float, K>(systems, 49, together, [&](int t) { steps_run.push_back(t); }, 60);
  ASSERT_EQ(steps_run.size(), 60u);
  for (int t = 0; t < 60; ++t) EXPECT_EQ(steps_run[t], t);
  std::set<int> counts;
  for (int k = 0; k < K; ++k) {
    const int alone =
        gauss_seidel_inward(sol1[k], sweep1[k], cin[k], cout[k], rhs[k], dinv[k], 49, bc_weight(k), bc_add(k));
    EXPECT_EQ(together[k], alone) << k;
    counts.insert(alone);
    EXPECT_EQ(std::memcmp(sol[k], sol1[k], sizeof sol[k]), 0) << k;
    EXPECT_EQ(std::memcmp(sweep[k], sweep1[k], sizeof sweep[k]), 0) << k;
  }
  EXPECT_GE(counts.size(), 3u);  // they stopped after different numbers of sweeps
  EXPECT_EQ(counts.count(max_sweeps), 1u);
}

TEST(SurfacePressure, StormsIntegratedTogetherAsEachAlone) {
  constexpr int K = 3;
  float pv[K][52] = {}, pv1[K][52] = {}, R[K][52], rl2[K][52], ru2[K][52], s[K][52];
  PressureColumn columns[K];
  for (int k = 0; k < K; ++k) {
    const float dR = 0.0174f + 0.001f * k;
    for (int j = 1; j <= 50; ++j) {
      R[k][j] = dR * (j - 1);
      rl2[k][j] = (0.9f - 0.05f * k) * R[k][j] * R[k][j];
      ru2[k][j] = R[k][j] * R[k][j] + 1e-3f;
      s[k][j] = 0.01f * std::cos(0.2f * j + k);
    }
    columns[k] = {pv[k], R[k], rl2[k], ru2[k], s[k], dR};
  }
  surface_pressure<float, K>(columns, 50);
  for (int k = 0; k < K; ++k) {
    surface_pressure(pv1[k], R[k], rl2[k], ru2[k], s[k], 0.0174f + 0.001f * k, 50);
    EXPECT_EQ(std::memcmp(pv[k], pv1[k], sizeof pv[k]), 0) << k;
  }
}

TEST(SurfacePressure, AreaMeanRemovedAndEdgesRepeated) {
  float pv[52] = {}, R[52], rl2[52], ru2[52], s[52];
  for (int j = 1; j <= 50; ++j) {
    R[j] = 0.0174f * (j - 1);
    rl2[j] = 0.9f * R[j] * R[j];
    ru2[j] = R[j] * R[j] + 1e-3f;
    s[j] = 0.01f * std::cos(0.2f * j);
  }
  surface_pressure(pv, R, rl2, ru2, s, 0.0174f, 50);
  EXPECT_EQ(pv[1], pv[2]);
  EXPECT_EQ(pv[50], pv[49]);
  EXPECT_NE(pv[2], 0.0f);  // -S / rsq_lower(49) after the mean removal
}

TEST_F(FirstHalf, RingOfMaximumWindKeptWithoutPositiveSwirl) {
  run.friction_and_mixing();
  run.solve_circulation();
  EXPECT_GT(run.i_rmw, 2);
  for (int j = 2; j <= 49; ++j) EXPECT_LE(swirl(run, j), swirl(run, run.i_rmw) + 1e-7f);
  for (int j = 1; j <= 50; ++j) run.rsq_lower[j] = run.ring_R2[j];
  for (int j = 1; j <= 50; ++j) run.r_lower[j] = std::sqrt(run.rsq_lower[j]);
  run.i_rmw = 7;
  run.solve_circulation();
  EXPECT_EQ(run.i_rmw, 7);
}

// ---------------------------------------------------------------- update, filter, step control

TEST(UpdateRings, BoundaryLayerEntropyBounds) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48, 100.0f));
  for (int s = 0; s < 300; ++s) {
    run.step_forcing();
    run.friction_and_mixing();
    run.solve_circulation();
    ASSERT_TRUE(run.update_rings());
    for (int j = 2; j <= 49; ++j) {
      ASSERT_LE(run.s_b_new[j], run.s_sat_new[j]);
      ASSERT_LE(run.s_b_new[j], run.s_sea_sat[j]);
      ASSERT_LE(run.s_m_new[j], run.s_sat_new[j]);
      ASSERT_GE(run.m_up_new[j], 0.0f);
      ASSERT_GE(run.ml_momentum_new[j], 0.0f);
    }
    ASSERT_TRUE(run.finish_step());
  }
}

TEST(UpdateRings, NegativeSquaredRadiusStopsTheRun) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  run.rsq_lower_old[5] = -1.0f;
  EXPECT_EQ(run.run_model(), RunEnd::negative_radius);
  EXPECT_GE(run.stop_ring, 2);
  EXPECT_EQ(run.n_steps, 0);
}

TEST_F(FirstHalf, FilterKeepsEqualLevelsAndClampsOnlyTheOldUpdraft) {
  run.friction_and_mixing();
  run.solve_circulation();
  ASSERT_TRUE(run.update_rings());
  run.s_b_old[8] = run.s_b[8] = run.s_b_new[8] = -0.25f;
  run.m_up_old[9] = -5.0f;
  run.m_up[9] = 0.0f;
  run.m_up_new[9] = -1.0f;
  run.ml_momentum_new[10] = 0.0f;
  run.ml_momentum[10] = 0.0f;
  run.ml_momentum_old[10] = 0.0f;
  run.filter_and_rotate();
  EXPECT_EQ(run.s_b_old[8], -0.25f);
  EXPECT_EQ(run.s_b[8], -0.25f);
  EXPECT_EQ(run.m_up_old[9], 0.0f);
  EXPECT_EQ(run.m_up[9], -1.0f);
  // Zero mixed-layer momentum: the undisturbed depth.
  EXPECT_NEAR(run.mixed_layer_depth[10], 50.0f * run.depth_factor, 1e-6f);
}

// Puts one ring at swirl v (nondimensional) and calls finish_step with a sample due.
void sample_with_vmax(tarvo::Run& run, float v) {
  for (int j = 2; j <= 49; ++j) {
    run.rsq_lower[j] = run.ring_R2[j];
    run.r_lower[j] = run.ring_R[j];
  }
  const float R = run.ring_R[10];
  const float r = -v + std::sqrt(v * v + R * R);
  run.rsq_lower[10] = r * r;
  run.r_lower[10] = r;
  run.time_since_sample = 10.0f;
  run.finish_step();
}

TEST(FinishStep, TimeStepReductions) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  const double full = run.dt;
  run.step_forcing();
  run.friction_and_mixing();
  run.solve_circulation();
  ASSERT_TRUE(run.update_rings());
  sample_with_vmax(run, 1.4f);
  EXPECT_EQ(run.dt, full);
  sample_with_vmax(run, 1.6f);
  EXPECT_EQ(run.dt, static_cast<double>(0.5f * run.dt_single));
  sample_with_vmax(run, 2.1f);
  EXPECT_EQ(run.dt, static_cast<double>(0.2f * run.dt_single));
  sample_with_vmax(run, 1.7f);  // back to half the step, never to the full step
  EXPECT_EQ(run.dt, static_cast<double>(0.5f * run.dt_single));
  sample_with_vmax(run, 0.5f);
  EXPECT_EQ(run.dt, static_cast<double>(0.5f * run.dt_single));
}

TEST(FinishStep, FirstStepSampledAndProgressThresholds) {
  test::TempDir dir;
  std::FILE* out = std::fopen((dir / "out").c_str(), "w+");
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48));
  run.progress = progress_lines(out);
  ASSERT_TRUE(run.step());
  EXPECT_EQ(run.n_samples, 1);
  run.time_seconds = 43200.0;  // exactly 12 h: nothing yet
  run.finish_step();
  run.time_seconds = 43210.0;
  run.finish_step();
  run.time_seconds = 200000.0;  // far past 24 and 36 h: one line a step
  run.finish_step();
  std::fclose(out);
  EXPECT_EQ(test::read_text(dir / "out"),
            "  Finished     12.0000000       hours\n  Finished     24.0000000       hours\n");
  EXPECT_EQ(run.next_report_hours, 36.0f);
}

TEST(FinishStep, OffsetTowardsTheObservedStartIntensity) {
  tarvo::Run run(ocean(), ".");
  test::prepare_run(run, test::simple_track(-24, 48, 70.0f));
  run.step_forcing();
  run.friction_and_mixing();
  run.solve_circulation();
  ASSERT_TRUE(run.update_rings());
  run.time_since_sample = 10.0f;
  run.finish_step();  // before the start record: uncorrected
  EXPECT_FALSE(run.vmax_offset_set);
  run.time_seconds = static_cast<double>(run.start_record_time);
  run.model_time = run.time_seconds / run.time_scale;
  run.time_since_sample = 10.0f;
  run.finish_step();
  EXPECT_TRUE(run.vmax_offset_set);
  EXPECT_FLOAT_EQ(run.vmax_series[run.n_samples], run.track_vobs[run.i_start] * 3600.0f * 0.00053995679f);
}

}  // namespace
}  // namespace tarvo
