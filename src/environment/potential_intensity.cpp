#include "environment/potential_intensity.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvo {

namespace {

// Thermodynamic constants of the algorithm.
constexpr double cp_dry = 1005.7;             // J/(kg K), specific heat of dry air at constant pressure
constexpr double cp_vapour = 1870.0;          // J/(kg K), of water vapour
constexpr double c_liquid = 2500.0;           // J/(kg K), the algorithm's modified specific heat of liquid water
constexpr double r_vapour = 461.5;            // J/(kg K), gas constant of water vapour
constexpr double r_dry = 287.04;              // J/(kg K), of dry air
constexpr double epsilon = r_dry / r_vapour;  // ratio of the gas constants
constexpr double latent_0c = 2.501e6;         // J/kg, latent heat of vaporisation at 0 C
constexpr double kelvin = 273.15;             // K at 0 C
// The lifted condensation level's empirical fit (pressure from relative humidity).
constexpr double lcl_a = 1669.0, lcl_b = 122.0;
// The eye: azimuthal wind V = Vm (r / rm)^b.
constexpr double eye_exponent = 2.0;

// Iterations: the lifted parcel's temperature (K) and the pressure at the
// radius of maximum winds (hPa).
constexpr double parcel_tolerance_k = 0.001;
constexpr int parcel_max_iterations = 500;
constexpr double pressure_tolerance_hpa = 0.5;
constexpr int pressure_max_iterations = 200;
constexpr double pressure_floor_hpa = 400.0;
constexpr double first_guess_hpa = 970.0;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Saturation vapour pressure over water (hPa) at t_c degrees Celsius (Bolton 1980).
double saturation_vapour_pressure(double t_c) { return 6.112 * std::exp(17.67 * t_c / (243.5 + t_c)); }
// Latent heat of vaporisation (J/kg) at t_c degrees Celsius.
double latent_heat(double t_c) { return latent_0c + (cp_vapour - c_liquid) * t_c; }
// Vapour pressure (hPa) of mixing ratio r (g/g) at pressure p (hPa).
double vapour_pressure(double r, double p) { return r * p / (epsilon + r); }
// Mixing ratio (g/g) of vapour pressure e at pressure p (hPa).
double mixing_ratio(double e, double p) { return epsilon * e / (p - e); }
// Density temperature (K) of air at t_k with total water r_total and vapour r_vapour_gg (g/g).
double density_temperature(double t_k, double r_total, double r_vap) {
  return t_k * (1.0 + r_vap / epsilon) / (1.0 + r_total);
}

struct Cape {
  double cape = 0;    // J/kg
  double t_lnb = 0;   // K, at the level of neutral buoyancy
  double p_lnb = 0;   // hPa
  int flag = pi_ok;
};

// The column the CAPE of a parcel is taken over: its levels below ptop, from
// the lowest valid one.
struct Column {
  const double* p;
  const double* t;  // K
  const double* r;  // g/g
  int n = 0;
  int flag = pi_ok;
};

Column usable_column(const double* p, const double* t, const double* r, int levels,
                     const PotentialIntensityOptions& options) {
  int first_valid = 0;
  while (first_valid < levels && std::isnan(t[first_valid])) ++first_valid;
  bool gaps = false;
  for (int j = 0; j < levels; ++j) gaps = gaps || std::isnan(t[j]);
  Column c{p, t, r, 0, pi_ok};
  if (first_valid == levels || (gaps && options.missing_fails)) {
    c.flag = pi_missing_values;
    return c;
  }
  for (int j = first_valid; j < levels; ++j)
    if (std::isnan(t[j])) {
      c.flag = pi_missing_values;
      return c;
    }
  // The top: the level nearest ptop (the first of two as near), itself left out.
  int top = 0;
  for (int j = 1; j < levels; ++j)
    if (std::fabs(p[j] - options.ptop_hpa) < std::fabs(p[top] - options.ptop_hpa)) top = j;
  c.p = p + first_valid;
  c.t = t + first_valid;
  c.r = r + first_valid;
  c.n = std::max(0, top - first_valid);
  return c;
}

// The CAPE of a parcel (temperature tp K, mixing ratio rp g/g, pressure pp
// hPa) lifted through the column: reversible (ascent 0) or
// pseudo-adiabatic (1) ascent, Emanuel (1994) eq. 6.3.6; with the
// temperature and pressure of its level of neutral buoyancy. `guess`, when
// given, holds a first guess of the saturated parcel's temperature at each
// level (0: none; a parcel lifted from nearly the same state before), and
// takes its temperatures for the next parcel.
Cape parcel_cape(double tp, double rp, double pp, const Column& col, double ascent, bool published,
                 bool from_first_level, double* guess = nullptr) {
  Cape out;
  if (col.flag != pi_ok) {
    out = {nan, nan, nan, col.flag};
    return out;
  }
  if (rp < 1e-6 || tp < 200.0) return {0.0, nan, nan, pi_no_result};
  const int n = col.n;
  if (n == 0) return {0.0, nan, nan, pi_no_result};
  const double* p = col.p;
  const double* t = col.t;
  const double* r = col.r;
  // The parcel's reversible entropy (Emanuel 1994, eq. 4.5.9) and lifted
  // condensation level.
  const double tp_c = tp - kelvin;
  const double e_parcel = vapour_pressure(rp, pp);
  const double rh = std::min(e_parcel / saturation_vapour_pressure(tp_c), 1.0);
  const double entropy = (cp_dry + rp * c_liquid) * std::log(tp) - r_dry * std::log(pp - e_parcel) +
                         latent_heat(tp_c) * rp / tp - rp * r_vapour * std::log(rh);
  const double p_lcl = pp * std::pow(rh, tp / (lcl_a - lcl_b * rh - tp));

  // The levels it rises through: from the column's first level (the
  // published code's behaviour: a parcel at the radius of maximum winds,
  // above the lowest levels, still counts their buoyancy, and the layer
  // from its pressure to the first level enters with a negative depth), or
  // from the lowest level at or above the parcel.
  int jmin = 0;
  if (!from_first_level) {
    while (jmin < n && p[jmin] > pp) ++jmin;
    if (jmin == n) return {0.0, t[0], p[0], pi_ok};
  }

  // Buoyancy (density temperature excess, K) of the parcel at each level.
  double buoyancy[pi_max_levels];
  double t_above = 0.0;  // the saturated parcel's temperature at the level below (0: none yet)
  for (int j = jmin; j < n; ++j) {
    if (p[j] >= p_lcl) {
      const double tg = tp * std::pow(p[j] / pp, r_dry / cp_dry);  // dry adiabat
      buoyancy[j] = density_temperature(tg, rp, rp) - density_temperature(t[j], r[j], r[j]);
      continue;
    }
    // Saturated: the temperature at which the parcel's entropy is conserved,
    // by Newton's method on the saturated entropy. At the first saturated
    // level it starts from the environment's temperature with damped steps;
    // above, from the parcel's temperature a level lower (or the guess), with
    // full steps (the saturated entropy rises and curves upward with
    // temperature: from above the root they approach it without overshooting,
    // from just below they overshoot a little, once). Either way it stops
    // within the same tolerance of the same root.
    const double near = published ? 0.0 : guess && guess[j] > 0.0 ? guess[j] : t_above;
    const bool from_below_level = near > 0.0;
    double tg = 0.0, rg = 0.0, t_next = from_below_level ? near : t[j];
    for (int iteration = 1; std::fabs(t_next - tg) > parcel_tolerance_k; ++iteration) {
      tg = t_next;
      const double tc = tg - kelvin;
      const double es = saturation_vapour_pressure(tc);
      rg = mixing_ratio(es, p[j]);
      const double lv = latent_heat(tc);
      // d(entropy)/dT at constant pressure, and the saturated entropy at tg.
      const double slope = (cp_dry + rp * c_liquid + lv * lv * rg / (r_vapour * tg * tg)) / tg;
      const double e_g = vapour_pressure(rg, p[j]);
      const double s_g = (cp_dry + rp * c_liquid) * std::log(tg) - r_dry * std::log(p[j] - e_g) + lv * rg / tg;
      const double step = iteration < 3 && !from_below_level ? 0.3 : 1.0;  // slowly at first, then full steps
      t_next = tg + step * (entropy - s_g) / slope;
      if (iteration > parcel_max_iterations || es > p[j] - 1.0) return {0.0, t[0], p[0], pi_cape_not_converged};
    }
    t_above = tg;
    if (guess) guess[j] = tg;
    const double r_mean = ascent * rg + (1.0 - ascent) * rp;
    buoyancy[j] = density_temperature(tg, r_mean, rg) - density_temperature(t[j], r[j], r[j]);
  }

  // The highest level of positive buoyancy (none when it is the column's
  // first level).
  int inb = 0;
  for (int j = n - 1; j >= jmin && j > 0; --j)
    if (buoyancy[j] > 0.0) {
      inb = j;
      break;
    }
  if (inb == 0) return {0.0, t[0], 0.0, pi_ok};
  double positive = 0.0, negative = 0.0;
  for (int j = jmin + 1; j <= inb; ++j) {
    const double area = r_dry * (buoyancy[j] + buoyancy[j - 1]) * (p[j - 1] - p[j]) / (p[j] + p[j - 1]);
    positive += std::max(area, 0.0);
    negative -= std::min(area, 0.0);
  }
  // From the parcel's pressure up to the first level it rises through.
  const double below = r_dry * (pp - p[jmin]) / (pp + p[jmin]);
  positive += below * std::max(buoyancy[jmin], 0.0);
  negative -= below * std::min(buoyancy[jmin], 0.0);
  // Above the last positive level, up to where the buoyancy crosses zero.
  double above = 0.0;
  out.t_lnb = t[inb];
  out.p_lnb = p[inb];
  if (inb < n - 1) {
    const double p_zero =
        (p[inb + 1] * buoyancy[inb] - p[inb] * buoyancy[inb + 1]) / (buoyancy[inb] - buoyancy[inb + 1]);
    out.p_lnb = p_zero;
    above = r_dry * buoyancy[inb] * (p[inb] - p_zero) / (p[inb] + p_zero);
    out.t_lnb = (t[inb] * (p_zero - p[inb + 1]) + t[inb + 1] * (p[inb] - p_zero)) / (p[inb] - p[inb + 1]);
  }
  out.cape = std::max(positive + above - negative, 0.0);
  out.flag = pi_ok;
  return out;
}

PotentialIntensity failed(int flag) { return {nan, nan, nan, nan, flag}; }

}  // namespace

PotentialIntensity potential_intensity(double sst_c, double msl_hpa, const double* p_hpa, const double* t_c,
                                       const double* r_gkg, int levels, const PotentialIntensityOptions& options) {
  if (!(sst_c > 5.0) || sst_c > 100.0 || levels < 1 || levels > pi_max_levels) return failed(pi_no_result);
  double t_k[pi_max_levels], r[pi_max_levels];
  bool celsius = true, missing = false;
  double coldest = std::numeric_limits<double>::infinity();
  for (int j = 0; j < levels; ++j) {
    t_k[j] = t_c[j] + kelvin;
    r[j] = std::isnan(r_gkg[j]) ? 0.0 : r_gkg[j] * 0.001;  // a missing mixing ratio is taken as none
    celsius = celsius && !(t_c[j] > 100.0);
    coldest = std::min(coldest, t_k[j]);
    missing = missing || std::isnan(t_c[j]);
  }
  // A profile in kelvin, not Celsius (a missing value leaves this to the
  // check of missing values, as the algorithm does).
  if (!missing && (!celsius || coldest <= 100.0)) return failed(pi_no_result);
  const double sst_k = sst_c + kelvin;
  const double es_sea = saturation_vapour_pressure(sst_c);
  const Column col = usable_column(p_hpa, t_k, r, levels, options);
  if (col.flag != pi_ok) return failed(col.flag);
  // The lowest level of the column (its lowest valid one).
  const double t_low = col.t[0], r_low = col.r[0], p_low = col.p[0];

  // The environment's CAPE, of a parcel of the lowest level.
  const bool published = options.published_iterations;
  const bool first = options.parcel_from_first_level;
  const Cape environment = parcel_cape(t_low, r_low, p_low, col, options.ascent, published, first);
  const double cape_env = environment.cape;

  // The pressure at the radius of maximum winds, by iteration.
  int flag = environment.flag;
  double pm = first_guess_hpa, pm_old = pm, p_new = 0.0;
  // Each iteration's two parcels differ little from the last one's: their
  // temperatures are the next ones' first guesses.
  double guess_m[pi_max_levels] = {}, guess_s[pi_max_levels] = {};
  double cape_m = 0.0, cape_star = 0.0, ratio = 1.0, tv_mean = 0.0, t0 = nan, otl = nan;
  for (int iteration = 1; std::fabs(p_new - pm_old) > pressure_tolerance_hpa; ++iteration) {
    const double pp = std::min(pm, 1000.0);
    // The boundary-layer parcel at pp, its vapour a constant fraction of the pressure.
    const double rp = epsilon * r_low * msl_hpa / (pp * (epsilon + r_low) - r_low * msl_hpa);
    const Cape m = parcel_cape(t_low, rp, pp, col, options.ascent, published, first, guess_m);
    if (m.flag != pi_ok) flag = m.flag;
    cape_m = m.cape;
    // The parcel saturated at the sea surface's temperature: the outflow temperature and level come from it.
    const double rs = mixing_ratio(es_sea, pp);
    const Cape s = parcel_cape(sst_k, rs, pp, col, options.ascent, published, first, guess_s);
    if (s.flag != pi_ok) flag = s.flag;
    cape_star = s.cape;
    t0 = s.t_lnb;
    otl = s.p_lnb;
    ratio = options.dissipative_heating ? sst_k / t0 : 1.0;  // the efficiency's proxy (BE02 eq. 1-3)
    const double tv_low = density_temperature(t_low, r_low, r_low);
    const double tv_sea = density_temperature(sst_k, rs, rs);
    tv_mean = 0.5 * (tv_low + tv_sea);
    const double cat = std::max((cape_m - cape_env) + 0.5 * options.ckcd * ratio * (cape_star - cape_m), 0.0);
    p_new = msl_hpa * std::exp(-cat / (r_dry * tv_mean));
    pm_old = pm;
    pm = p_new;
    if (std::isnan(p_new)) break;  // missing values: the flag says so
    if (iteration > pressure_max_iterations || pm < pressure_floor_hpa) return failed(pi_no_result);
  }
  if (flag != pi_ok) return failed(flag);
  // The eye's pressure (BE02 eq. 4), and the wind at the radius of maximum winds (BE02 eq. 3).
  const double eye = 0.5 * (1.0 + 1.0 / eye_exponent);
  const double cat = std::max((cape_m - cape_env) + options.ckcd * ratio * eye * (cape_star - cape_m), 0.0);
  PotentialIntensity out;
  out.pmin_hpa = msl_hpa * std::exp(-cat / (r_dry * tv_mean));
  out.vmax_ms = options.wind_reduction * std::sqrt(options.ckcd * ratio * std::max(0.0, cape_star - cape_m));
  out.t0_k = t0;
  out.otl_hpa = otl;
  out.flag = pi_ok;
  if (!std::isfinite(out.vmax_ms) || !std::isfinite(out.pmin_hpa)) return failed(pi_no_result);
  return out;
}

void potential_intensity_columns(std::size_t columns, const double* sst_c, const double* msl_hpa, const double* p_hpa,
                                 const double* t_c, const double* r_gkg, int levels,
                                 const PotentialIntensityOptions& options, PotentialIntensity* out) {
  for (std::size_t k = 0; k < columns; ++k)
    out[k] = potential_intensity(sst_c[k], msl_hpa[k], p_hpa, t_c + k * static_cast<std::size_t>(levels),
                                 r_gkg + k * static_cast<std::size_t>(levels), levels, options);
}

}  // namespace tarvo
