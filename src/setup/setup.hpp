#pragma once
// The model set-up: the fixed reference state, the nondimensional scales and
// coefficients, the samples in model units and the reference potential
// intensity, from the inputs.
#include "input/cases/case_inputs.hpp"

namespace tarvo {

struct ReferenceValues {
  float ckcd = 1.0f;          // ratio of exchange coefficients
  float p_ambient = 1005.0f;  // hPa
  float t_outflow = -70.0f;   // deg C
  float sst_ref = 27.0f;      // deg C
  float rh_ref = 0.8f;        // boundary-layer relative humidity of the reference state
  float basin_coef_1 = 0.6f;
  float basin_coef_2 = 1.0f;
};

struct SetUpScalars {
  float qsat_sea = 0, velocity_scale_sq = 0, velocity_scale = 0, s_ref_bl = 0, p_top = 0,
        half_depth = 0, bl_depth = 0, inv_bl_depth = 0, qsat_env = 0, t_env = 0, lapse_factor = 0,
        length_scale = 0;
  double time_scale = 0;
  float kappa = 0, inv_3h = 0, inv_8h = 0, cooling_coef = 0, r0_init = 0, r_outer = 0, r_far = 0,
        dR = 0, dR_coef = 0;
  double dt = 0, sample_interval = 0, end_time = 0;
  float t_last = 0;
  float s_env = 0, wind_coef = 0, depth_factor = 0, ocean_coef_a = 0, ocean_coef_b = 0;
  float vobs_trend = 0, speed0 = 0, v0_init = 0, init_moist_weight = 0;
  int k48 = 0;
  float vpot = 0, pmin_ref = 0;
  int theory_fail = 0;
  float rad_share = 0;
  float start_record_time = 0;  // s, track_time(i_start)
};

struct SetUp : CaseInputs, ReferenceValues, SetUpScalars {
  // Steps 1 to 8 of the set-up on the smoothed, sampled inputs; the samples
  // are converted to model units in place.
  void set_up();
};

}  // namespace tarvo
