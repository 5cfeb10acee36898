// The initial vortex on the rings, the ocean under them, the clock and the counters.
#include <cmath>

#include "model/run.hpp"

namespace tarvo {

void Run::init_run() {
  for (int j = 1; j <= n_rings; ++j) {
    ring_R[j] = static_cast<float>(j - 1) * dR;
    ring_R2[j] = ring_R[j] * ring_R[j];
  }
  ring50_step = dR * (dR + 2.0f * r_far);  // R_50^2 - R_49^2

  // 1. Core: the ring at the initial radius of maximum wind, snapped to the grid.
  const float v0 = v0_init;
  const float R0 = std::sqrt(r0_init * r0_init + 2.0f * r0_init * v0);
  // (Any ring count beyond the grid puts every ring in the core; the bound
  // keeps the conversion defined for absurd intensities.)
  const float core_rings = R0 / dR;
  const int j_core = core_rings < 1000.0f ? static_cast<int>(core_rings) : 1000;
  const float R_core = static_cast<float>(j_core) * dR;
  const float r_core = std::sqrt(v0 * v0 + R_core * R_core) - v0;

  // 2. and 3. Lower-level rings and the ocean column a ring's radius ahead.
  const SampleColumns cols = columns();
  for (int i = 1; i <= n_rings - 1; ++i) {
    const int j = i + 1;
    const float R = static_cast<float>(i) * dR;
    float rsq;
    if (R > r_outer) {
      rsq = R * R;  // no swirl
    } else if (j > j_core) {
      // Outside the core: v = v0 r_core (1/r - r/r_outer^2) / (1 - r_core^2/r_outer^2).
      const float A = v0 * r_core / (1.0f - (r_core / r_outer) * (r_core / r_outer));
      rsq = (0.5f * (R * R) - A) / (0.5f - v0 * r_core / (r_outer * r_outer - r_core * r_core));
    } else {
      rsq = R * R / (1.0f + 2.0f * v0 / r_core);  // solid-body rotation
    }
    rsq_lower_old[j] = rsq_lower[j] = rsq_lower_new[j] = rsq;
    rsq_upper_old[j] = rsq_upper[j] = rsq_upper_new[j] = R * R;
    circ_solution[j] = circ_sweep[j] = pressure_var[j] = 0.0f;

    const float h = ocean_column_at(cols, std::sqrt(rsq)).mld;
    mixed_layer_depth[j] = h;
    ml_momentum_old[j] = ml_momentum[j] = std::sqrt(ocean_coef_a * h * h * h) / ocean_coef_b;
  }
  mixed_layer_depth[1] = mixed_layer_depth[2];

  // 4. Saturation entropy in balance with the vortex.
  s_sat_old[2] = 0.0f;
  for (int j = 2; j <= n_rings - 1; ++j) {
    const float Rj = ring_R[j];
    s_sat_old[j + 1] = s_sat_old[j] + 0.5f * dR * Rj * (1.0f - Rj * Rj / rsq_lower_old[j]);
  }

  // 5. Remaining fields; the profile is shifted to vanish at the outer ring.
  const float w = init_moist_weight;
  const float s_outer = s_sat_old[n_rings];
  for (int j = 2; j <= n_rings - 1; ++j) {
    r_lower_old[j] = r_lower[j] = std::sqrt(rsq_lower_old[j]);
    r_upper_old[j] = std::sqrt(rsq_upper_old[j]);
    s_sat_old[j] = s_sat_old[j] - s_outer;
    s_sat[j] = s_sea_sat[j] = s_sat_old[j];
    s_b_old[j] = s_b[j] = s_sat_old[j] - 0.05f;
    s_m_old[j] = s_m[j] =
        1.3f * r_core > r_lower_old[j] ? w * s_env + (1.0f - w) * s_sat_old[j] : s_env;
    m_up_old[j] = m_up[j] = 0.0f;
    diff_s_sat[j] = diff_s_m[j] = 0.0f;
  }

  // 6. Outer ring and centre.
  const int o = n_rings;
  r_lower_old[o] = r_lower[o] = std::sqrt(rsq_lower_old[o]);
  r_upper_old[o] = std::sqrt(rsq_upper_old[o]);
  s_sat_old[o] = s_sat[o] = s_sea_sat[o] = 0.0f;
  s_b_old[o] = s_b[o] = -0.05f;
  s_m_old[o] = s_m[o] = 1.3f * r_core > r_lower_old[o] ? w * s_env : s_env;
  m_up_old[o] = m_up[o] = 0.0f;
  diff_s_sat[o] = diff_s_m[o] = 0.0f;
  circ_solution[1] = circ_sweep[1] = 0.0f;
  m_up[1] = 0.0f;
  surface_stress[1] = mix_lower[1] = downdraft_integral[1] = r_mid[1] = 0.0f;
  s_sea_sat[1] = 0.0f;

  // 7. Clock and counters.
  start_time = 0.0;
  time_since_sample = 0.0f;
  nudge_target = nudge_state = 0.0f;
  n_samples = 0;
  n_steps = 0;
  vmax_offset_set = false;
  dt_single = static_cast<float>(dt);
  next_report_hours = 12.0f;
  model_time = start_time + dt;
  i_rmw = 2;
}

}  // namespace tarvo
