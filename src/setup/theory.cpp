#include "setup/theory.hpp"

#include <cmath>

#include "setup/exp.hpp"

namespace tarvo {

namespace {
constexpr float celsius_to_kelvin = 273.15f;
constexpr float latent_heat = 2500000.0f;           // J/kg
constexpr float r_vapour = 461.0f;                  // J/(kg K)
constexpr float latent_heat_eps = 1555000.0f;       // latent heat x 0.622, J/kg
constexpr float three_r_dry = 861.0f;               // 3 x 287 J/(kg K)
constexpr float tolerance = 0.1f;                   // hPa
constexpr int max_steps = 1000;
constexpr float lowest_pressure = 1.0f;             // hPa
}  // namespace

void theory(const float& ckcd, const float& rh, const float& sst, const float& t_out,
            const float& p_amb, float& vmax, float& pmin, int& ifail) {
  ifail = 0;
  const float es = 6.112f * exp_float(17.67f * sst / (sst + 243.5f));  // hPa
  const float eff = (sst - t_out) / (t_out + celsius_to_kelvin);
  const float tsk = sst + celsius_to_kelvin;
  const float a = eff * latent_heat * es / (tsk * r_vapour);
  const float b = (eff + 1.0f) * (1.0f - rh) * (0.5f * ckcd);
  auto pressure_equation = [&](float p) {
    return p_amb * exp_float(-(a * (b / p + rh * (1.0f / p - 1.0f / p_amb))));
  };

  float p = p_amb;
  float pnew = pressure_equation(p);
  int n = 1;
  while (!(std::fabs(pnew - p) < tolerance)) {
    if (n > max_steps || pnew <= lowest_pressure) {
      ifail = 1;
      vmax = 0.0f;
      pmin = p_amb;
      return;
    }
    p = 0.5f * (pnew + p);
    ++n;
    pnew = pressure_equation(p);
  }
  const float pm = 0.5f * (pnew + p);
  vmax = std::sqrt(es * latent_heat_eps * (1.0f - rh) / pm * (eff * ckcd));
  pmin = pm * exp_float(-(vmax * vmax) / (tsk * three_r_dry));
}

}  // namespace tarvo
