// Model set-up: the fixed reference state, the nondimensional scales, the
// model coefficients, the samples in model units and the reference potential
// intensity. Constants are given as stored, already combined from the
// reference state (SST 27 C, outflow -70 C, 1005 hPa, 80 % humidity,
// middle-level temperature 285.6 K).
#include <cmath>

#include "setup/setup.hpp"
#include "setup/model_units.hpp"
#include "setup/theory.hpp"

namespace tarvo {

namespace {
constexpr float trend_window = 172801.0f;  // s: 48 h plus the 1 s tolerance
constexpr int parallel_min_samples = 100;
}  // namespace

void samples_to_model_units(float* dist, float* time, float* mld, float* elev, float* strat,
                            float* f6, int n, float length_scale, double time_scale,
                            float depth_factor, bool parallel) {
  const double ls = static_cast<double>(length_scale);
#pragma omp parallel for schedule(static) if (parallel)
  for (int i = 1; i <= n; ++i) {
    dist[i] /= length_scale;
    time[i] = static_cast<float>(static_cast<double>(time[i]) / time_scale);
    mld[i] *= depth_factor;
    elev[i] *= depth_factor;
    strat[i] = 12.5f * (0.01f * strat[i]);
    f6[i] = static_cast<float>(time_scale * static_cast<double>(f6[i]) / ls);
  }
}

void SetUp::set_up() {
  // 1. Four more in-place passes over the sampled distance.
  for (int pass = 0; pass < 4; ++pass)
    for (int i = 2; i <= n_samp - 1; ++i)
      samp_dist[i] = 0.5f * samp_dist[i] + 0.25f * (samp_dist[i - 1] + samp_dist[i + 1]);

  // 2. Observed intensity trend over the first 48 hours (m/s per s).
  k48 = 0;
  for (int i = 1; i <= n_samp && samp_time[i] <= trend_window; ++i) k48 = i;
  vobs_trend = (samp_vobs[k48] - samp_vobs[1]) / (samp_time[k48] - samp_time[1]);

  // 3. Basin coefficients: exact, case-sensitive comparison with "ep".
  if (basin[0] == 'e' && basin[1] == 'p') {
    basin_coef_1 = 0.1f;
    basin_coef_2 = 0.4f;
  } else {
    basin_coef_1 = 0.6f;
    basin_coef_2 = 1.0f;
  }

  // 4. Reference thermodynamics and scales.
  // Saturation mixing ratio at the sea surface (1.7637339 = 17.67*27/(27+243.5), 1/1005 hPa).
  qsat_sea = 6.112f * std::exp(1.7637339f) * 0.622f * 0.00099502492f;
  // Squared velocity scale, m^2/s^2 (807929.4375 = 2.5e6 * 97/300.15; 1 - 0.8).
  velocity_scale_sq = qsat_sea * 807929.4375f * 0.19999999f;
  velocity_scale = std::sqrt(velocity_scale_sq);
  // Moist entropy of boundary-layer air, J/(kg K) (0.0033316675 = 1/300.15 K).
  s_ref_bl = qsat_sea * 2500000.0f * 0.8f * 0.0033316675f + 1000.0f * std::log(300.15f) -
             qsat_sea * 0.8f * 461.0f * std::log(0.8f);
  // Pressure (hPa) at which the outflow temperature 203.15 K is reached.
  p_top = 1000.0f *
          std::pow(203.15f / std::exp(0.001f * (s_ref_bl - 287.0f * std::log(1.005f))), 3.484f);
  half_depth = (1005.0f - p_top) * 0.5f;  // hPa
  bl_depth = 50.0f / half_depth;          // 50 hPa boundary layer in units of half_depth
  // Saturation mixing ratio at 285.6 K and the middle level (0.8595098 = 17.67*12.45/(12.45+243.5)).
  qsat_env = 6.112f * std::exp(0.8595098f) * 0.622f / (1005.0f - 0.5f * half_depth);
  t_env = 285.6f;  // K
  // 1.22e-05 = 1/(287*285.6); 2.646163e-11 = 1/(1005*461*285.6^2).
  lapse_factor = (1.0f + qsat_env * 2500000.0f * 1.22e-05f) /
                 (1.0f + qsat_env * 6.25e12f * 2.646163e-11f);
  // Seconds per unit of model time (86143.046875 = 287 * 300.15); single, then widened.
  time_scale = static_cast<double>(half_depth * 86143.046875f / (velocity_scale * 7.8792f));
  length_scale = velocity_scale * 20000.0f;  // m; 1/f with f = 5e-5 per s
  kappa = velocity_scale_sq * 1.16086e-05f;  // velocity_scale_sq / (287 * 300.15)
  inv_3h = 1.0f / static_cast<float>(10800.0 / time_scale);
  inv_8h = 1.0f / static_cast<float>(28800.0 / time_scale);
  {
    // 2.3148148e-05 = 1/43200 s.
    const double d = static_cast<double>(velocity_scale_sq * lapse_factor * 320.0f);
    cooling_coef = static_cast<float>(time_scale * 2.3148148e-05 * 1000.0 * 97.0 / d);
  }
  r_outer = 400000.0f / length_scale;   // 400 km: no swirl beyond
  r0_init = 60000.0f / length_scale;    // 60 km: initial radius of maximum wind
  r_far = 1000000.0f / length_scale;    // 1000 km
  t_last = static_cast<float>(static_cast<double>(samp_time[n_samp]) / time_scale);
  dt = static_cast<double>(static_cast<float>(10.0 / time_scale));  // 10 s
  sample_interval = 7200.0 / time_scale;                             // 2 h

  // Initial translation speed (m/s), vortex strength and moisture weight.
  speed0 = (samp_dist[2] - samp_dist[1]) / (samp_time[2] - samp_time[1]);
  {
    const float weak = 5.0f / velocity_scale;
    const float observed = (samp_vobs[1] - 0.7f * speed0) / velocity_scale;
    v0_init = observed > weak ? observed : weak;
  }
  {
    const float le = samp_vpot[k48] + samp_vpot[1];
    const float lf =
        velocity_scale * 2.0f * static_cast<float>(2.0f * vobs_trend * time_scale / le);
    const float w = 1.0f - (0.8f + 1.5f * lf / le);
    init_moist_weight = w > 0.0f ? w : 0.0f;
  }
  // Ambient middle-level entropy deficit (242500000 = 2.5e6*97; 0.0035014006 = 1/285.6).
  s_env = qsat_env * 242500000.0f * (-0.39999998f) * 0.0035014006f / velocity_scale_sq;
  wind_coef = velocity_scale * 3e-05f * 1250.0f;
  // Ocean depths in metres to model units (2.4078111e-11 = 1/(1000*461*300.15^2)).
  depth_factor = (1.0f + qsat_env * 6.25e12f * 2.4078111e-11f) * 12.926869f / velocity_scale_sq;

  // 5. Samples to model units.
  samples_to_model_units(samp_dist.data(), samp_time.data(), samp_mld.data(), samp_elev.data(),
                         samp_strat.data(), samp_f6.data(), n_samp, length_scale, time_scale,
                         depth_factor, n_samp >= parallel_min_samples);
  samp_dist_sorted = samp_time_sorted = true;
  for (int i = 2; i <= n_samp; ++i) {
    if (!(samp_dist[i] >= samp_dist[i - 1])) samp_dist_sorted = false;
    if (!(samp_time[i] >= samp_time[i - 1])) samp_time_sorted = false;
  }

  // 6. Ocean mixed-layer coefficients.
  ocean_coef_a = depth_factor * (2.0f * basin_coef_1) * 12.5f;
  {
    const float h = half_depth * 0.00099502492f;
    const float d = depth_factor;
    ocean_coef_b = std::sqrt(2.0f * basin_coef_2 * velocity_scale_sq * 12.926869f * 1e-06f *
                             77265968.0f * (h * h) * ((d * d) * (d * d)));
  }

  // 7. Reference potential intensity.
  theory(ckcd, rh_ref, sst_ref, t_outflow, p_ambient, vpot, pmin_ref, theory_fail);

  // 8. Ring grid, end time and the remaining coefficients.
  dR = r_far * 0.020833334f;  // 1000 km / 48
  end_time = static_cast<double>(
      static_cast<float>(static_cast<double>(t_last) + 0.5 * sample_interval));
  inv_bl_depth = 1.0f / bl_depth;
  dR_coef = dR * 0.000729f * 0.01744f;
  rad_share = 0.25f + 0.75f * lapse_factor;
  start_record_time = track_time[i_start];
}

}  // namespace tarvo
