// tarvo-trace: runs one case and prints its set-up values and the model state
// at selected steps, with the IEEE bits of every value, for locating the first
// difference from another run of the same case.
//   tarvo-trace CASE_DIR DATA_DIR [setup|trace]
//   tarvo-trace paths        the step's instruction-set paths this CPU runs (TARVO_SIMD values)
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/case_run.hpp"
#include "input/input_error.hpp"
#include "model/run.hpp"

using tarvo::Run;

namespace {

unsigned bits(float f) {
  unsigned u;
  std::memcpy(&u, &f, 4);
  return u;
}
unsigned long long bits(double d) {
  unsigned long long u;
  std::memcpy(&u, &d, 8);
  return u;
}

void scalar(const char* name, float v) {
  std::printf("%20s %16.8E %08X\n", name, static_cast<double>(v), bits(v));
}
void scalar(const char* name, double v) {
  std::printf("%20s %24.16E %016llX\n", name, v, bits(v));
}

void print_setup(const Run& r) {
  std::printf("# set-up scalars\n");
#define S(x) scalar(#x, r.x)
  S(qsat_sea); S(velocity_scale_sq); S(velocity_scale); S(s_ref_bl); S(p_top); S(half_depth);
  S(bl_depth); S(inv_bl_depth); S(qsat_env); S(lapse_factor); S(length_scale); S(time_scale);
  S(kappa); S(inv_3h); S(inv_8h); S(cooling_coef); S(r0_init); S(r_outer); S(r_far); S(dR);
  S(dR_coef); S(dt); S(sample_interval); S(s_env); S(wind_coef); S(depth_factor);
  S(ocean_coef_a); S(ocean_coef_b); S(vpot); S(pmin_ref); S(rad_share);
#undef S
  std::printf("# n_samp %5d  n_track %4d  i_start %4d  basin \"%c%c\"\n", r.n_samp, r.n_track,
              r.i_start, r.basin[0], r.basin[1]);
  std::printf("# t_last %16.8E  end_time %16.8E  speed0 %16.8E\n", static_cast<double>(r.t_last),
              r.end_time, static_cast<double>(r.speed0));
  std::printf("# v0_init %16.8E  vobs_trend %16.8E  init_moist_weight %16.8E  k48 %4d\n",
              static_cast<double>(r.v0_init), static_cast<double>(r.vobs_trend),
              static_cast<double>(r.init_moist_weight), r.k48);
  std::printf("# k  time  dist  lat  lon  vobs  vpot  f6  t600  rh600  elev  mld  strat (model units)\n");
  for (int k = 1; k <= r.n_samp; ++k) {
    std::printf("%4d", k);
    for (const auto* a : {&r.samp_time, &r.samp_dist, &r.samp_lat, &r.samp_lon, &r.samp_vobs,
                          &r.samp_vpot, &r.samp_f6, &r.samp_t600, &r.samp_rh600, &r.samp_elev,
                          &r.samp_mld, &r.samp_strat})
      std::printf(" %13.6E", static_cast<double>((*a)[k]));
    std::printf("\n");
  }
}

void print_state(const Run& r) {
  std::printf("step %ld model_time %016llX dt %016llX\n", r.n_steps, bits(r.model_time), bits(r.dt));
#define F(x) std::printf("%s %08X\n", #x, bits(r.x))
  F(vmax_model); F(nudge_target); F(nudge_state); F(s_env); F(t_env); F(qsat_env);
  F(track_position); F(translation_speed); F(floor_elev); F(time_since_sample);
#undef F
  std::printf("i_rmw %d\n", r.i_rmw);
#define A(x)                                                            \
  do {                                                                  \
    std::printf("%s", #x);                                              \
    for (int j = 1; j <= tarvo::n_rings; ++j) std::printf(" %08X", bits(r.x[j])); \
    std::printf("\n");                                                  \
  } while (0)
  A(rsq_lower); A(rsq_lower_old); A(rsq_upper); A(rsq_upper_old); A(s_b); A(s_b_old); A(s_sat);
  A(s_sat_old); A(s_m); A(s_m_old); A(m_up); A(m_up_old); A(ml_momentum); A(ml_momentum_old);
  A(mixed_layer_depth); A(circ_solution); A(pressure_var); A(sst_change); A(s_sea_sat);
  A(surface_stress); A(eps_ring); A(downdraft_integral);
#undef A
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "paths") == 0) {
    for (const tarvo::StepPath* p : tarvo::supported_step_paths()) std::printf("%s\n", p->name);
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: tarvo-trace CASE_DIR DATA_DIR [setup|trace]  or  tarvo-trace paths\n");
    return 2;
  }
  const std::string what = argc > 3 ? argv[3] : "both";
  try {
    const tarvo::OceanGrids grids = tarvo::read_climatology(argv[2]);
    auto owned = std::make_unique<Run>(grids, argv[1]);
    Run& run = *owned;
    run.progress = nullptr;
    tarvo::prepare_case(run);
    if (what != "trace") print_setup(run);
    bool going = run.model_time <= run.end_time;
    while (going) {
      going = run.step();
      const long n = run.n_steps;
      if (what != "setup" && (n == 1 || n == 2 || n == 3 || n == 10 || n == 100 || n == 1000 || n == 10000))
        print_state(run);
    }
    if (what != "trace")
      std::printf("# steps %10ld  GS sweeps %12ld  samples %5d\n", run.n_steps, run.total_sweeps,
                  run.n_samples);
  } catch (const tarvo::InputError& e) {
    std::fprintf(stderr, "tarvo-trace: %s\n", e.what());
    return 2;
  }
  return 0;
}
