// One time step of the storm model, top to bottom:
//   step_forcing         centre and edge rings, the track at the model time, the
//                        environment and the intensity feedback
//   friction_and_mixing  surface stress, radial mixing, downdraft integral
//   solve_circulation    the balanced secondary circulation and surface pressure
//   update_rings         the leapfrog step of the seven prognostic ring fields
//   finish_step          progress line, output sample, step control, then
//   filter_and_rotate    the time filter, level rotation and mixed-layer depth
// Everything is nondimensional (velocity_scale, length_scale, time_scale;
// the Coriolis parameter is 1). Ring j sits at potential radius R_j = (j-1) dR.
#include <cmath>
#include <cstdio>

#include "model/kernels.hpp"
#include "model/run.hpp"
#include "output/progress.hpp"

namespace tarvo {

namespace {

constexpr float filter_gamma = 0.1f;  // Robert-Asselin filter coefficient
constexpr float drag_cap = 1.8f;      // drag factor is at most 1 + 1.8
constexpr float exchange_cap = 2.0f;  // enthalpy exchange factor is at most 1 + 2
// Saturation entropy change per unit of the surface-pressure variable.
constexpr float entropy_per_pressure = 0.32317176f;

// max and min: the first operand only when strictly greater (smaller), so
// ties and NaN give the second.
inline float max_of(float a, float b) { return a > b ? a : b; }
inline float min_of(float a, float b) { return a < b ? a : b; }

// Robert-Asselin filter of the current level u with the old o and the new n.
inline float filtered(float o, float u, float n) {
  return u + filter_gamma * (o + n - 2.0f * u);
}

}  // namespace

bool Run::step() {
  step_forcing();
  friction_and_mixing();
  solve_circulation();
  if (!update_rings()) return false;
  return finish_step();
}

RunEnd Run::run_model() {
  if (!(model_time <= end_time)) return RunEnd::finished;
  while (step()) {
  }
  return stop_ring > 0 ? RunEnd::negative_radius : RunEnd::finished;
}

void Run::step_forcing() {
  constexpr int o = n_rings, in = n_rings - 1;
  // 1. Centre and edge rings.
  s_b_old[1] = s_b_old[2];
  s_b[1] = s_b[2];
  s_sat_old[1] = s_sat_old[2];
  s_sat[1] = s_sat[2];
  s_m_old[1] = s_m_old[2];
  s_m[1] = s_m[2];
  m_up[1] = m_up[2];
  ml_momentum_old[1] = ml_momentum_old[2];
  ml_momentum[1] = ml_momentum[2];

  s_b_old[o] = s_b_old[in];
  s_b[o] = s_b[in];
  s_sat_old[o] = s_sat_old[in];
  s_sat[o] = s_sat[in];
  s_m_old[o] = s_m_old[in];
  s_m[o] = s_m[in];
  diff_s_sat[o] = diff_s_sat[in];  // the previous step's ring-49 values
  diff_s_m[o] = diff_s_m[in];

  rsq_lower_old[o] = rsq_lower_old[in] + ring50_step;
  rsq_lower[o] = rsq_lower[in] + ring50_step;
  rsq_upper_old[o] = rsq_upper_old[in] + ring50_step;
  rsq_upper[o] = rsq_upper[in] + ring50_step;

  rsq_lower_old[1] = rsq_lower[1] = rsq_lower_new[1] = 0.0f;
  rsq_upper[1] = rsq_upper_new[1] = rsq_mid[1] = 0.0f;
  r_lower_old[1] = r_lower[1] = r_upper_old[1] = 0.0f;
  m_up_old[in] = m_up[in] = 0.0f;

  r_lower_old[o] = std::sqrt(rsq_lower_old[o]);
  r_upper_old[o] = std::sqrt(rsq_upper_old[o]);
  r_lower[o] = std::sqrt(rsq_lower[o]);

  // 2. The track at the model time (extrapolated beyond the last sample).
  k_now = n_samp;
  for (int k = 2; k <= n_samp; ++k) {
    if (static_cast<double>(samp_time[k]) > model_time) {
      k_now = k;
      break;
    }
  }
  const int k = k_now;
  const float span = samp_time[k] - samp_time[k - 1];
  const float w = 1.0f / span;
  const double a = samp_time[k] - model_time;
  const double b = model_time - samp_time[k - 1];
  auto at_time = [&](const SampleArray& x) {
    return static_cast<float>(w * (a * x[k - 1] + b * x[k]));
  };
  track_position = at_time(samp_dist);
  vpot_local = at_time(samp_vpot);
  v_obs = at_time(samp_vobs) / velocity_scale;
  f6_now = max_of(at_time(samp_f6), 0.0f);
  const float t_candidate = at_time(samp_t600);
  const float rh_candidate = at_time(samp_rh600);
  floor_elev = static_cast<float>((a * samp_elev[k - 1] + b * samp_elev[k]) / span);

  // 3. Environment, from the start record's time on.
  const bool after_start = model_time * time_scale > static_cast<double>(start_record_time);
  if (after_start) {
    rh_env = max_of(min_of(rh_candidate, 100.0f), 10.0f) * 0.8f;  // percent
    t_env = t_candidate;
    const float tc = t_env - 273.15f;
    // Saturation mixing ratio over 600 hPa.
    qsat_env = 6.112f * std::exp(17.67f * tc / (tc + 243.5f)) * 0.622f * 0.0016666667f;
    rh_frac = rh_env * 0.01f;
    s_env = (qsat_env * 2500000.0f * (rh_frac - 1.0f) -
             std::log(rh_frac) * t_env * 461.0f * qsat_env * 0.01f * rh_env) *
            (sst_ref - t_outflow) / (t_env * velocity_scale_sq);
    s_m[in] = s_m[o] = s_m_old[in] = s_m_old[o] = s_env;
  }

  // 4. Moist stability of the environment and the outer boundary weight.
  moist_stab = qsat_env * 5000000.0f * entropy_per_pressure /
               ((qsat_env * 2500000.0f / (t_env * 287.0f) + 1.0f) /
                (qsat_env * 6.25e12f / (t_env * t_env * 463305.0f) + 1.0f) * velocity_scale_sq);
  bc_weight = 1.0f - dR * std::sqrt(2.0f / moist_stab);

  // 5. Translation speed.
  translation_speed = (samp_dist[k] - samp_dist[k - 1]) * w;

  // 6. Intensity and convection maxima.
  vmax_model = 0.0f;
  mup_max = 0.0f;
  for (int j = 2; j <= in; ++j) {
    const float v = 0.5f * (ring_R2[j] - rsq_lower[j]) / r_lower[j];
    if (v > vmax_model) vmax_model = v;
    if (m_up[j] > mup_max) mup_max = m_up[j];
  }

  // 7. Intensity feedback: diagnosed from the intensity error up to the start
  // record, prognostic after it.
  v_eff = static_cast<float>(vmax_model + translation_speed * 0.7f * length_scale /
                                              (velocity_scale * time_scale));
  if (after_start) {
    nudge_rate = (vmax_model * vmax_model * 8.9999994e-05f * (f6_now * f6_now) * mup_max -
                  nudge_state) *
                 200.0f;
  } else if (floor_elev >= 0.0f) {
    nudge_target = nudge_rate = nudge_state = 0.0f;
  } else {
    const float x = v_eff - v_obs;
    nudge_rate = 90.0f * x - 150.0f * nudge_state;
    nudge_target = std::fabs(x) * std::fabs(x) * x * nudge_gain * 1000.0f;
    nudge_state = nudge_target;
  }

  // 8. Potential intensity relative to the reference.
  const float ratio = vpot_local / vpot;
  vpot_ratio_sq = ratio * ratio;

  // 9. Ocean under the outer ring.
  const float h = ocean_column_at(columns(), track_position + r_outer).mld;
  ml_momentum_old[o] = ml_momentum[o] = std::sqrt(h * h * h * ocean_coef_a) / ocean_coef_b;

  // 10.
  s_m_old[o] = s_m_old[in];
  s_m[o] = s_m[in];
}

void Run::friction_and_mixing() {
  constexpr int o = n_rings, in = n_rings - 1;
  const bool over_land = floor_elev >= 0.0f;
  const float* R = ring_R.data();
  const float* R2 = ring_R2.data();
  const float* rl2 = rsq_lower_old.data();
  const float* rl = r_lower_old.data();
  const float* ru2 = rsq_upper_old.data();
  const float* ru = r_upper_old.data();

  downdraft_integral[1] = 0.0f;
  float c_prev = 0.0f;  // diffusion coefficient C(j-1); C(1) = 0
  for (int j = 2; j <= in; ++j) {
    // 1. Fraction of the updraft that does not return as downdraft.
    eps_ring[j] = min_of(max_of((s_m_old[j] - s_env) / max_of(s_b_old[j] - s_env, 0.001f), 0.0f), 1.0f);
    // 2. Radial integral of the net convective mass flux.
    downdraft_integral[j] = downdraft_integral[j - 1] -
                            eps_ring[j] * m_up[j] * (rsq_lower[j] - rsq_lower[j - 1]);
    // 3. Surface stress with a drag factor growing with the wind.
    const float X = R2[j] - rl2[j];
    const float u = max_of(0.5f * std::fabs(X) / rl[j], 1e-09f);
    const float f_d = 1.0f + min_of(u * wind_coef, drag_cap);
    float stress = f_d * (std::fabs(X) * X * (rl[j + 1] - rl[j - 1]) * 0.25f) / (dR * R[j]);
    if (!over_land && s_sea_sat[j] < s_sat_old[j]) {
      // A free troposphere warmer than the sea surface stabilises the surface layer.
      const float t = 1.0f + (s_sat_old[j] - s_sea_sat[j]) * 2000.0f;
      stress = stress / (t * t);
    }
    surface_stress[j] = stress;
    // 4. and 5. Momentum mixing at the lower and the upper level.
    mix_lower[j] = momentum_mixing(j, R, R2, rl2, rl, dR, dR_coef);
    mix_upper[j] = momentum_mixing(j, R, R2, ru2, ru, dR, dR_coef);
    // 6. Diffusion of the saturation entropy.
    float c;
    if (j == 2) {
      c = std::fabs(R2[3] / rl2[3] - R2[2] / rl2[2]) * 2.0f * rl2[2] / rl2[3];
    } else {
      const float d = rl[j + 1] - rl[j - 1];
      c = std::fabs(R2[j + 1] / rl2[j + 1] - R2[j - 1] / rl2[j - 1]) * rl2[j] / (d * d);
    }
    diff_s_sat[j] = ((s_sat_old[j + 1] - s_sat_old[j]) * c - (s_sat_old[j] - s_sat_old[j - 1]) * c_prev) *
                    4.0f * dR_coef / (rl2[j] - rl2[j - 1]);
    c_prev = c;
    // 7. The middle level: 1/r^2 is 0.7 of the lower level's plus 0.3 of the upper's.
    rsq_mid[j] = rl2[j] / (rl2[j] * 0.3f / ru2[j] + 0.7f);
    r_mid[j] = std::sqrt(rsq_mid[j]);
  }
  // 8.
  downdraft_integral[o] = downdraft_integral[in];
  eps_ring[1] = eps_ring[2];
  eps_ring[o] = eps_ring[in];
  rsq_mid[o] = rsq_mid[in] + ring50_step;
  r_mid[o] = std::sqrt(rsq_mid[o]);
  surface_stress[o] = bc_weight * surface_stress[in];

  // 9. Diffusion of the middle-level entropy (r_mid(1) = 0).
  const float k_m = 3000.0f * dR_coef;
  for (int j = 2; j <= in; ++j) {
    const float rm_in = j == 2 ? 0.0f : r_mid[j - 1];
    diff_s_m[j] = k_m * (r_mid[j] * (s_m_old[j + 1] - s_m_old[j]) - rm_in * (s_m_old[j] - s_m_old[j - 1])) /
                  (rsq_mid[j] - rsq_mid[j - 1]);
  }
}

void Run::solve_circulation() {
  constexpr int in = n_rings - 1;
  // 1. Coefficients and forcing of the tridiagonal system.
  for (int j = 2; j <= in; ++j) {
    coef_out[j] = moist_stab / (rsq_mid[j + 1] - rsq_mid[j]);
    coef_in[j] = moist_stab / (rsq_mid[j] - rsq_mid[j - 1]);
    const float ql = ring_R2[j] / rsq_lower[j];
    const float qu = ring_R2[j] / rsq_upper[j];
    const float Q = 0.5f * dR * (ql * ql + qu * qu) / ring_R[j];
    const float rr = rsq_lower[j] / rsq_upper[j];
    const float rho = rr * rr;
    const float F = (surface_stress[j] + mix_lower[j]) / (1.0f + rho) + downdraft_integral[j] -
                    rho * mix_upper[j] / (1.0f + rho);
    circ_rhs[j] = min_of(inv_8h * s_sat_old[j + 1], cooling_coef) + F * Q -
                  min_of(inv_8h * s_sat_old[j], cooling_coef) - diff_s_sat[j + 1] + diff_s_sat[j];
    circ_diag_inv[j] = 1.0f / (Q + coef_in[j] + coef_out[j]);
  }

  // 2. Gauss-Seidel sweeps from the outer boundary inward.
  last_sweeps = gauss_seidel_inward(circ_solution.data(), circ_sweep.data(), coef_in.data(),
                                    coef_out.data(), circ_rhs.data(), circ_diag_inv.data(), in,
                                    bc_weight, (1.0f - bc_weight) * downdraft_integral[in]);
  total_sweeps += last_sweeps;

  // 3. Surface pressure variable, integrated outward, area mean removed.
  surface_pressure(pressure_var.data(), ring_R.data(), rsq_lower.data(), rsq_upper.data(),
                   s_sat.data(), dR, n_rings);

  // 4. Ring of maximum wind (innermost on ties; unchanged without positive swirl).
  float best = 0.0f;
  for (int j = 2; j <= in; ++j) {
    const float v = (ring_R2[j] - rsq_lower[j]) / r_lower[j];
    if (v > 0.0f && v > best) {
      best = v;
      i_rmw = j;
    }
  }
}

bool Run::update_rings() {
  constexpr int in = n_rings - 1;
  const SampleColumns cols = columns();
  // Once per step.
  {
    const OceanColumn c = ocean_column_at(cols, track_position);
    const float h = max_of(c.mld, max_of(mixed_layer_depth[2], 0.0001f));
    const float d = h - c.mld;
    sst_change_centre = (c.mld - h) * ocean_coef_a / h - c.strat * (d * d) / h;
  }
  s_m_floor = min_of(s_env, -1.0f);
  env_relax = max_of(nudge_target, 0.0f) * 500.0f;
  vpot_nd = vpot_local / velocity_scale;
  two_dt = 2.0 * dt;
  time_seconds = model_time * time_scale;
  ck_eff = ckcd;
  if (floor_elev > 0.0f && time_seconds >= static_cast<double>(start_record_time)) {
    // Over land the enthalpy supply fades with the height of the ground.
    ck_eff = max_of(0.0f, ckcd * (1.0f - floor_elev / (8.0f * depth_factor)));
    nudge_rate = 0.0f;
  }
  const float r_rmw2 = 2.0f * r_lower[i_rmw];
  const bool over_sea = floor_elev < 0.0f;
  const bool moisten_core = nudge_target < 0.0f;

  // Swirl of the current level at each ring, and the boundary-layer transport
  // through each ring's outer edge (the inner edge of the next ring).
  ring_swirl[1] = 0.0f;
  for (int i = 2; i <= in; ++i) {
    ring_swirl[i] = 0.5f * (ring_R2[i] - rsq_lower[i]) / r_lower[i];
    flux_out[i] = (surface_stress[i] + bl_depth * mix_lower[i]) / (r_lower[i + 1] - r_lower[i - 1]);
    flux_in[i + 1] = flux_out[i];
  }
  flux_in[2] = 0.0f;  // no inner transport at the first ring
  flux_out[2] = max_of(flux_out[2], 0.0f);

  // The ocean a ring's radius ahead of the storm, and the pressure factor of
  // the sea-surface saturation entropy.
  int hint = 0;
  for (int i = 2; i <= in; ++i) {
    const OceanColumn c = ocean_column_at(cols, track_position + r_lower[i], hint);
    ahead_mld[i] = c.mld;
    ahead_strat[i] = c.strat;
    pressure_factor[i] = std::exp(-kappa * pressure_var[i]);
  }

  for (int i = 2; i <= in; ++i) {
    const float r_i = r_lower[i], r_im = r_lower[i - 1], r_ip = r_lower[i + 1];
    // 1. Squared-radius tendencies.
    const float T_low = surface_stress[i] + mix_lower[i] - circ_solution[i] + downdraft_integral[i];
    const float T_up = circ_solution[i] - downdraft_integral[i] + mix_upper[i];
    // 2. Advection of saturation entropy by the overturning.
    const float A_sat = -(circ_solution[i] - circ_solution[i - 1]) * coef_in[i];
    // 3.-5. Swirl at the ring and its inner neighbour; edge transports, upwind-biased.
    const float v_i = ring_swirl[i], v_im = ring_swirl[i - 1];
    const float F_in = flux_in[i], F_out = flux_out[i];
    const float W_in = 0.8f * F_in + 0.4f * min_of(F_in, 0.0f);
    const float W_out = 0.8f * F_out + 0.4f * max_of(F_out, 0.0f);
    // 6. Advection of boundary-layer entropy and updraft.
    const float A_b = (W_in * (s_b[i] - s_b[i - 1]) + W_out * (s_b[i + 1] - s_b[i])) / (r_i + r_im);
    const float A_u = (W_in * (m_up[i] - m_up[i - 1]) + W_out * (m_up[i + 1] - m_up[i])) / (r_i + r_im);
    // 7. Boundary-layer mass budget.
    const float Conv = ((mix_lower[i] - mix_lower[i - 1]) * bl_depth + (surface_stress[i] - surface_stress[i - 1])) /
                       (rsq_lower[i] - rsq_lower[i - 1]);
    const float D_dn = -m_up[i] * (1.0f - eps_ring[i]);
    const float W_top = Conv - m_up[i] - D_dn;
    // 8. Wind speed at the ring.
    const float V = max_of(0.5f * std::fabs(v_im + v_i), 1e-9f);
    // 9. Stability factor (s_sea_sat still holds the previous step's value).
    const float phi = over_sea && s_sea_sat[i] < s_sat_old[i]
                          ? 1.0f / (1.0f + 2000.0f * (s_sat_old[i] - s_sea_sat[i]))
                          : 1.0f;
    // 10. Drag.
    const float D = V * (1.0f + min_of(V * wind_coef, drag_cap));
    // 11. Mixed-layer momentum tendency.
    const float T_ml = phi * phi * V * D +
                       (0.2f * (ml_momentum[i] - ml_momentum[i - 1]) / (r_i - r_im) +
                        0.8f * (ml_momentum[i + 1] - ml_momentum[i]) / (r_ip - r_i)) *
                           (0.5f * T_low / r_i + translation_speed);
    // 12. Sea-surface cooling under the ring.
    {
      const float h0 = ahead_mld[i];
      const float h = max_of(h0, max_of(mixed_layer_depth[i], 0.0001f));
      const float w = min_of(r_rmw2 / r_i, 1.0f);
      const float d = h - h0;
      sst_change[i] = w * sst_change_centre +
                      (1.0f - w) * ((h0 - h) * ocean_coef_a / h - ahead_strat[i] * (d * d) / h);
    }
    // 13. Saturation entropy of the sea surface.
    const float x = pressure_var[i];
    s_sea_sat[i] = vpot_ratio_sq * (1.0f + sst_change[i] + 5.0000005f * (pressure_factor[i] - 1.0f)) -
                   entropy_per_pressure * x;
    // 14. Surface enthalpy exchange plus dissipative heating.
    const float S = V * (1.0f + min_of(V * wind_coef, exchange_cap)) * (s_sea_sat[i] - s_b_old[i]) * phi * ck_eff +
                    entropy_per_pressure * (phi * phi * phi) * (V * V) * D;
    // 15. Free-tropospheric cooling, capped.
    const float k_q = inv_8h * s_sat_old[i] > cooling_coef ? cooling_coef / s_sat_old[i] : inv_8h;
    const float Q = k_q * s_sat_old[i];
    // 16.
    const float T_sat = A_sat + diff_s_sat[i] - Q;
    // 17. Updraft from boundary-layer quasi-equilibrium.
    const float dS = s_b_old[i] - s_m_old[i];
    const float M_up_top = (A_b + S - T_sat * bl_depth) / max_of(dS * (1.0f - eps_ring[i]), 0.001f);
    const float M_down_top = (A_b + S - T_sat * bl_depth) / max_of(dS, 0.001f) + Conv;
    float M = min_of(W_top > 0.0f ? M_up_top : M_down_top, 600.0f);
    if (s_b[i] < s_sat[i] - 0.0001f || vmax_model > vpot_nd) M = 0.0f;
    // 18. Middle-level entropy tendency; a negative feedback moistens the core.
    const float T_m0 = (max_of(W_top, 0.0f) + m_up[i]) * 0.45f * dS + diff_s_m[i] - Q * rad_share -
                       (s_m_old[i] - s_env) * env_relax;
    const float T_m = i <= i_rmw && moisten_core ? T_m0 - nudge_target * 75.0f * (s_sat_old[i] - s_m_old[i]) : T_m0;
    // 19. Updraft tendency.
    const float T_u = (M - m_up_old[i]) * inv_3h + 0.1f * A_u;
    // 20. New level: each old + 2 dt tendency in double, rounded before any bound.
    rsq_lower_new[i] = static_cast<float>(rsq_lower_old[i] + two_dt * T_low);
    rsq_upper_new[i] = static_cast<float>(rsq_upper_old[i] + two_dt * T_up);
    s_sat_new[i] = static_cast<float>(s_sat_old[i] + two_dt * T_sat);
    const float s_b_step = static_cast<float>(
        s_b_old[i] + two_dt * (A_b + S + dS * (min_of(W_top, 0.0f) + D_dn)) * inv_bl_depth);
    s_b_new[i] = min_of(min_of(s_sat_new[i], s_b_step), s_sea_sat[i]);
    s_m_new[i] = min_of(s_sat_new[i], max_of(static_cast<float>(s_m_old[i] + two_dt * T_m), s_m_floor));
    m_up_new[i] = max_of(static_cast<float>(m_up_old[i] + two_dt * T_u), 0.0f);
    ml_momentum_new[i] = max_of(static_cast<float>(ml_momentum_old[i] + two_dt * T_ml), 0.0f);
  }
  // 21. A ring pushed through the centre ends the model.
  for (int i = 2; i <= in; ++i) {
    if (rsq_lower_new[i] < 0.0f) {
      stop_ring = i;
      stop_hours = static_cast<float>(time_seconds / 3600.0) + static_cast<float>(t_first_hours);
      return false;
    }
  }
  sst_change[n_rings] = sst_change[in];
  sst_change[1] = sst_change[2];
  nudge_new = static_cast<float>(nudge_state + two_dt * nudge_rate);
  return true;
}

bool Run::finish_step() {
  constexpr int in = n_rings - 1;
  // Progress line each time another 12 simulated hours have passed.
  const float hours = static_cast<float>(time_seconds * 0.0002777777777777778);
  if (hours > next_report_hours) {
    if (progress) write_progress_line(progress, next_report_hours);
    next_report_hours = next_report_hours + 12.0f;
  }
  // Output sample every two hours of simulated time, and on the first step.
  time_since_sample = static_cast<float>(time_since_sample + dt);
  if (sample_interval <= time_since_sample || model_time <= 1.5 * dt) {
    const int n = ++n_samples;
    time_since_sample = 0.0f;
    // Maximum wind of the current level; ties go to the outer ring.
    float vmax = 0.0f;
    for (int i = 2; i <= in; ++i) {
      const float v = 0.5f * (ring_R2[i] - rsq_lower[i]) / r_lower[i];
      if (v >= vmax) {
        vmax = v;
        r_m = r_lower[i];
        x_m = pressure_var[i];
      }
    }
    const float vmax_ms = vmax * velocity_scale;
    // Knots, with 70 % of the translation speed (3600 s/h, 1/1852 nautical miles per m).
    vmax_series[n] = static_cast<float>(
        (0.7f * translation_speed * length_scale / time_scale + vmax_ms) * 3600.0f * 0.00053995679f);
    if ((model_time + two_dt) * time_scale >= static_cast<double>(start_record_time)) {
      if (!vmax_offset_set) {
        vmax_offset_set = true;
        vmax_offset = vmax_series[n] - track_vobs[i_start] * 3600.0f * 0.00053995679f;
      }
      // The offset towards the observed start intensity halves every six hours.
      vmax_series[n] = static_cast<float>(
          vmax_series[n] - vmax_offset / ((time_seconds - static_cast<double>(start_record_time)) *
                                               4.6296296296296294e-05 + 1.0));
    }
    rmw_series[n] = r_m * velocity_scale * 0.001f * 20000.0f;  // km
    pmin_series[n] = p_ambient * std::exp(kappa * x_m - vmax_ms * vmax_ms * 1.1608598e-05f);  // hPa
    // Shorter steps for strong storms.
    if (vmax > 1.5f) dt = 0.5f * dt_single;
    if (vmax > 2.0f) dt = 0.2f * dt_single;
  }
  filter_and_rotate();
  model_time = model_time + dt;
  ++n_steps;
  return model_time <= end_time;
}

void Run::filter_and_rotate() {
  constexpr int in = n_rings - 1;
  // The time filter and the rotation of the levels, ring by ring.
  for (int i = 2; i <= in; ++i) {
    rsq_lower_old[i] = filtered(rsq_lower_old[i], rsq_lower[i], rsq_lower_new[i]);
    rsq_lower[i] = rsq_lower_new[i];
    r_lower[i] = std::sqrt(rsq_lower[i]);
    r_lower_old[i] = std::sqrt(rsq_lower_old[i]);
    rsq_upper_old[i] = filtered(rsq_upper_old[i], rsq_upper[i], rsq_upper_new[i]);
    r_upper_old[i] = std::sqrt(rsq_upper_old[i]);
    rsq_upper[i] = rsq_upper_new[i];
    s_b_old[i] = filtered(s_b_old[i], s_b[i], s_b_new[i]);
    s_b[i] = s_b_new[i];
    s_sat_old[i] = filtered(s_sat_old[i], s_sat[i], s_sat_new[i]);
    s_sat[i] = s_sat_new[i];
    s_m_old[i] = filtered(s_m_old[i], s_m[i], s_m_new[i]);
    s_m[i] = s_m_new[i];
    m_up_old[i] = max_of(filtered(m_up_old[i], m_up[i], m_up_new[i]), 0.0f);  // the only clamp
    m_up[i] = m_up_new[i];
    ml_momentum_old[i] = filtered(ml_momentum_old[i], ml_momentum[i], ml_momentum_new[i]);
    ml_momentum[i] = ml_momentum_new[i];
  }
  // Mixed layer under each ring, deepened by entrainment from the new
  // momentum and capped by the water depth, at the storm's next position.
  const SampleColumns cols = columns();
  const float x_next = static_cast<float>(track_position + translation_speed * dt);
  const float b2 = ocean_coef_b * ocean_coef_b;
  int hint = 0;
  for (int i = 2; i <= in; ++i) {
    const OceanColumn c = ocean_column_at(cols, x_next + r_lower[i], hint);
    const float g = max_of(c.strat, 0.1f);
    const float N = c.mld * (c.mld - ocean_coef_a / g);
    const float m = ml_momentum[i];
    const float H = std::sqrt(std::fabs(std::sqrt(std::fabs(0.25f * (N * N) + b2 * (m * m) / g)) + 0.5f * N));
    mixed_layer_depth[i] = max_of(c.mld, min_of(H, -c.elev));
  }
  const float u = nudge_target, old = nudge_state;
  nudge_target = nudge_new;
  nudge_state = u + filter_gamma * (nudge_new + old - 2.0f * u);
}

}  // namespace tarvo
