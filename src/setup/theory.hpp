#pragma once

namespace tarvo {

// Thermodynamic potential intensity: the greatest sustained surface wind
// (m/s) and its central surface pressure (hPa) that an environment supports.
//   ckcd  ratio of the enthalpy exchange to the drag coefficient
//   rh    boundary-layer relative humidity (fraction)
//   sst   sea surface temperature (deg C)
//   t_out outflow temperature (deg C)
//   p_amb ambient surface pressure (hPa)
// The pressure at the radius of maximum wind is found by a relaxed fixed-point
// iteration of at most 1000 steps; on failure ifail = 1, vmax = 0, pmin = p_amb.
void theory(const float& ckcd, const float& rh, const float& sst, const float& t_out,
            const float& p_amb, float& vmax, float& pmin, int& ifail);

}  // namespace tarvo
